#include "chips/catalogue.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "chips/catalogue_listing.hpp"

namespace velkor {
namespace {

constexpr uint32_t KiB = 1024;
constexpr uint32_t MiB = 1024 * 1024;
using F = ChipField;
using Path = std::vector<std::string>;

const char* const kSpiFlash = "SPI  Flash";
const char* const kEspressif = "ESPRESSIF(\xE4\xB9\x90\xE9\x91\xAB\xE4\xBF\xA1\xE6\x81\xAF\xEF\xBC\x89";

constexpr ChipField kAllFields[] = {F::Family,    F::SubType,     F::Size,      F::PageSize,  F::AddrStyle,
                                    F::ModeFlags, F::IdByte1,     F::IdByte2,   F::EraseTime, F::LowVoltChip,
                                    F::ForceQe,   F::PageFlash,   F::HideProtect, F::OptionBits};

std::map<ChipField, uint32_t> FieldMap(const CatalogueEntry& entry) {
  std::map<ChipField, uint32_t> fields;
  for (const FieldAssignment& a : entry.fields) fields[a.field] = a.value;
  return fields;
}

// Walks the menu in order, calling visit(node, path of submenus, hidden by an enclosing submenu).
template <typename Visit>
void WalkMenu(const std::vector<ChipMenuNode>& level, Path& path, bool underHidden, Visit&& visit) {
  for (const ChipMenuNode& node : level) {
    visit(node, path, underHidden);
    if (node.kind == ChipMenuNode::Kind::Submenu) {
      path.push_back(node.caption);
      WalkMenu(node.children, path, underHidden || node.hidden, visit);
      path.pop_back();
    }
  }
}

// A level of the menu as captions, "-" for a separator and "submenu:" before a submenu's caption.
std::vector<std::string> Render(const std::vector<ChipMenuNode>& level) {
  std::vector<std::string> out;
  for (const ChipMenuNode& node : level) {
    switch (node.kind) {
      case ChipMenuNode::Kind::Separator: out.push_back("-"); break;
      case ChipMenuNode::Kind::Submenu: out.push_back("submenu:" + node.caption); break;
      case ChipMenuNode::Kind::Entry: out.push_back(node.caption); break;
    }
  }
  return out;
}

const ChipMenuNode* Submenu(const std::vector<ChipMenuNode>& level, const std::string& caption) {
  for (const ChipMenuNode& node : level) {
    if (node.kind == ChipMenuNode::Kind::Submenu && node.caption == caption) return &node;
  }
  return nullptr;
}

TEST(ChipCatalogueTest, HoldsEveryChipOnceWithOrderedDistinctFields) {
  const auto& entries = ChipCatalogue();
  EXPECT_EQ(entries.size(), 188u);

  std::set<std::string> captions;
  int offered = 0;
  for (const CatalogueEntry& entry : entries) {
    EXPECT_TRUE(captions.insert(entry.caption).second) << "duplicate caption " << entry.caption;
    EXPECT_EQ(FindChip(entry.caption), &entry);
    if (!entry.hidden) ++offered;
    for (std::size_t i = 1; i < entry.fields.size(); ++i) {
      EXPECT_LT(entry.fields[i - 1].field, entry.fields[i].field) << entry.caption << " lists a field twice or out of order";
    }
  }
  EXPECT_EQ(offered, 182);

  EXPECT_EQ(FindChip("w25x64xx"), nullptr);
  EXPECT_EQ(FindChip("W25x64xx "), nullptr);
  EXPECT_EQ(FindChip(kSpiFlash), nullptr);
  EXPECT_EQ(FindChip(""), nullptr);
}

TEST(ChipCatalogueTest, FieldNames) {
  const std::vector<std::string> expected = {"Family",    "SubType",     "Size",      "PageSize",  "AddrStyle",
                                             "ModeFlags", "IdByte1",     "IdByte2",   "EraseTime", "LowVoltChip",
                                             "ForceQe",   "PageFlash",   "HideProtect", "OptionBits"};
  std::vector<std::string> names;
  for (ChipField f : kAllFields) names.push_back(ChipFieldName(f));
  EXPECT_EQ(names, expected);
}

// Rules that hold across the whole catalogue; a slip in one row breaks them.
TEST(ChipCatalogueTest, RulesAcrossTheCatalogue) {
  for (const CatalogueEntry& entry : ChipCatalogue()) {
    const auto fields = FieldMap(entry);
    ASSERT_TRUE(fields.count(F::Family)) << entry.caption;
    ASSERT_TRUE(fields.count(F::Size)) << entry.caption;
    const uint32_t size = fields.at(F::Size);
    const bool bigFlash = size >= 32 * MiB;
    EXPECT_EQ(fields.count(F::ModeFlags) && fields.at(F::ModeFlags) == 0x10, bigFlash) << entry.caption;
    if (size >= MiB && entry.caption != "AT45DB16E") {
      EXPECT_EQ(size % MiB, 0u) << entry.caption;
    }

    const bool pageFlash = entry.caption.starts_with("M45EP") || entry.caption == "AT45DB16E";
    EXPECT_EQ(fields.count(F::PageFlash) && fields.at(F::PageFlash) == 1, pageFlash) << entry.caption;
    EXPECT_EQ(fields.count(F::HideProtect) != 0, entry.caption == "ESP8285") << entry.caption;
    EXPECT_EQ(fields.count(F::ForceQe) != 0, (entry.menu == Path{kSpiFlash, "Adesto"})) << entry.caption;
    EXPECT_EQ(fields.count(F::OptionBits) != 0, entry.caption == "AT45DB16E") << entry.caption;
    EXPECT_EQ(fields.count(F::ModeFlags) && fields.at(F::ModeFlags) == 0x03, entry.caption.starts_with("SST26"))
        << entry.caption;
    for (const auto& [field, value] : fields) {
      if (field == F::LowVoltChip || field == F::ForceQe || field == F::PageFlash || field == F::HideProtect) {
        EXPECT_LE(value, 1u) << entry.caption << " " << ChipFieldName(field);
      }
    }
    const bool hiddenByName = entry.caption.starts_with("NPC79") || entry.menu == Path{"AG9xxx"};
    EXPECT_EQ(entry.hidden, hiddenByName) << entry.caption;
  }
}

// A flag of 0 is an assignment like any other value; a row that loses one
// changes these counts.
TEST(ChipCatalogueTest, HowOftenEachFlagValueIsAssigned) {
  struct Count {
    ChipField field;
    uint32_t value;
    int entries;
  };
  const Count counts[] = {
      {F::LowVoltChip, 0, 19}, {F::LowVoltChip, 1, 27}, {F::PageFlash, 0, 137}, {F::PageFlash, 1, 4},
      {F::ForceQe, 1, 12},     {F::HideProtect, 1, 1},  {F::ModeFlags, 0x00, 1}, {F::ModeFlags, 0x03, 6},
      {F::ModeFlags, 0x08, 2}, {F::ModeFlags, 0x10, 22},
  };
  int withoutSubType = 0;
  for (const CatalogueEntry& entry : ChipCatalogue()) withoutSubType += FieldMap(entry).count(F::SubType) ? 0 : 1;
  EXPECT_EQ(withoutSubType, 86);
  for (const Count& c : counts) {
    int n = 0;
    for (const CatalogueEntry& entry : ChipCatalogue()) {
      const auto fields = FieldMap(entry);
      if (fields.count(c.field) && fields.at(c.field) == c.value) ++n;
    }
    EXPECT_EQ(n, c.entries) << ChipFieldName(c.field) << " = " << c.value;
  }
}

struct SpotCase {
  const char* caption;
  Path menu;
  bool hidden;
  std::map<ChipField, uint32_t> fields;  // exactly the assigned fields
};

class ChipSpotCheckTest : public ::testing::TestWithParam<SpotCase> {};

TEST_P(ChipSpotCheckTest, AssignsExactlyTheseFields) {
  const SpotCase& c = GetParam();
  const CatalogueEntry* entry = FindChip(c.caption);
  ASSERT_NE(entry, nullptr) << c.caption;
  EXPECT_EQ(entry->menu, c.menu);
  EXPECT_EQ(entry->hidden, c.hidden);
  EXPECT_EQ(FieldMap(*entry), c.fields);
}

INSTANTIATE_TEST_SUITE_P(
    EveryGroup, ChipSpotCheckTest,
    ::testing::Values(
        SpotCase{"SST25VF064x", {kSpiFlash, "SST/Microchip"}, false,
                 {{F::Family, 0x10}, {F::SubType, 0x05}, {F::Size, 8 * MiB}, {F::IdByte1, 0xBF}, {F::IdByte2, 0x25},
                  {F::EraseTime, 300}, {F::PageFlash, 0}}},
        SpotCase{"SST26VF080x", {kSpiFlash, "SST/Microchip"}, false,
                 {{F::Family, 0x00}, {F::Size, 1 * MiB}, {F::ModeFlags, 0x03}, {F::IdByte1, 0xBF}, {F::IdByte2, 0x4B},
                  {F::EraseTime, 100}, {F::PageFlash, 0}}},
        SpotCase{"KH25U1639F", {kSpiFlash, "KH25Uxx"}, false,
                 {{F::Family, 0x00}, {F::SubType, 0x03}, {F::Size, 2 * MiB}, {F::EraseTime, 4500}, {F::PageFlash, 0}}},
        SpotCase{"W25x256xx", {kSpiFlash, "Winbond"}, false,
                 {{F::Family, 0x07}, {F::SubType, 0x07}, {F::Size, 32 * MiB}, {F::ModeFlags, 0x10},
                  {F::EraseTime, 5000}, {F::PageFlash, 0}}},
        SpotCase{"GD25Q512x", {kSpiFlash, "GigaDevice"}, false,
                 {{F::Family, 0x03}, {F::SubType, 0x00}, {F::Size, 64 * KiB}, {F::IdByte1, 0xC8}, {F::IdByte2, 0x40},
                  {F::EraseTime, 400}, {F::PageFlash, 0}}},
        SpotCase{"GD25LQ256D", {kSpiFlash, "GigaDevice"}, false,
                 {{F::Family, 0x03}, {F::Size, 32 * MiB}, {F::ModeFlags, 0x10}, {F::IdByte1, 0x10}, {F::IdByte2, 0x10},
                  {F::EraseTime, 5000}, {F::LowVoltChip, 1}, {F::PageFlash, 0}}},
        SpotCase{"GD55B01GE", {kSpiFlash, "GigaDevice"}, false,
                 {{F::Family, 0x03}, {F::Size, 128 * MiB}, {F::ModeFlags, 0x10}, {F::IdByte1, 0x10},
                  {F::IdByte2, 0x10}, {F::EraseTime, 10000}, {F::LowVoltChip, 0}, {F::PageFlash, 0}}},
        SpotCase{"MX25U203xExx", {kSpiFlash, "Macronix International"}, false,
                 {{F::Family, 0x05}, {F::Size, 256 * KiB}, {F::IdByte1, 0xC2}, {F::IdByte2, 0x25}, {F::EraseTime, 150},
                  {F::LowVoltChip, 1}, {F::PageFlash, 0}}},
        SpotCase{"MX25L3233", {kSpiFlash, "Macronix International"}, false,
                 {{F::Family, 0x05}, {F::Size, 4 * MiB}, {F::IdByte1, 0xC2}, {F::IdByte2, 0x15}, {F::EraseTime, 2200},
                  {F::PageFlash, 0}}},
        SpotCase{"M25P64x", {kSpiFlash, "M25Pxx"}, false,
                 {{F::Family, 0x12}, {F::Size, 8 * MiB}, {F::IdByte1, 0x10}, {F::IdByte2, 0x10}, {F::EraseTime, 4300},
                  {F::PageFlash, 0}}},
        SpotCase{"MD25Q128x", {kSpiFlash, "MD25xxx"}, false,
                 {{F::Family, 0x07}, {F::SubType, 0x07}, {F::Size, 16 * MiB}, {F::EraseTime, 3000}, {F::PageFlash, 0}}},
        SpotCase{"P25Q06L", {kSpiFlash, "Puya Semiconductor"}, false,
                 {{F::Family, 0x05}, {F::Size, 64 * KiB}, {F::IdByte1, 0x85}, {F::IdByte2, 0x12}, {F::EraseTime, 2000},
                  {F::LowVoltChip, 1}, {F::PageFlash, 0}}},
        SpotCase{"S25FL256xx", {kSpiFlash, "\xE5\x85\xB6\xE4\xBB\x96\xE5\x8E\x82\xE5\xAE\xB6"}, false,
                 {{F::Family, 0x09}, {F::Size, 16 * MiB}, {F::IdByte1, 0x01}, {F::IdByte2, 0x02}, {F::EraseTime, 7000},
                  {F::PageFlash, 0}}},
        SpotCase{"MK25D80", {kSpiFlash, "\xE5\x85\xB6\xE4\xBB\x96\xE5\x8E\x82\xE5\xAE\xB6"}, false,
                 {{F::Family, 0x07}, {F::SubType, 0x00}, {F::Size, 1 * MiB}, {F::EraseTime, 800}, {F::PageFlash, 0}}},
        SpotCase{"1024M Bits(1024M\xE4\xBD\x8D)", {kSpiFlash, "\xE9\x80\x9A\xE7\x94\xA8\xE5\x9E\x8B\xE5\x8F\xB7"}, false,
                 {{F::Family, 0x00}, {F::Size, 128 * MiB}, {F::ModeFlags, 0x10}, {F::IdByte1, 0x10},
                  {F::IdByte2, 0x10}, {F::EraseTime, 10000}, {F::PageFlash, 0}}},
        SpotCase{"M45EP80xx", {kSpiFlash, "M45xxx Chips"}, false,
                 {{F::Family, 0x00}, {F::Size, 1 * MiB}, {F::IdByte1, 0x20}, {F::IdByte2, 0x40}, {F::EraseTime, 1500},
                  {F::PageFlash, 1}}},
        SpotCase{"BY25D80", {kSpiFlash, "Boya Microelectronice"}, false,
                 {{F::Family, 0x03}, {F::Size, 1 * MiB}, {F::IdByte1, 0x15}, {F::IdByte2, 0x40}, {F::EraseTime, 1000},
                  {F::PageFlash, 0}}},
        SpotCase{"AT25QL128", {kSpiFlash, "Adesto"}, false,
                 {{F::Family, 0x14}, {F::SubType, 0x03}, {F::Size, 16 * MiB}, {F::IdByte1, 0xC8}, {F::IdByte2, 0x40},
                  {F::EraseTime, 3000}, {F::LowVoltChip, 1}, {F::ForceQe, 1}, {F::PageFlash, 0}}},
        SpotCase{"AT24C01", {"I2C EEPROM"}, false,
                 {{F::Family, 0xA0}, {F::SubType, 0x00}, {F::Size, 16}, {F::PageSize, 4}, {F::AddrStyle, 0x01}}},
        SpotCase{"GT34C04-xxx", {"I2C EEPROM"}, false,
                 {{F::Family, 0xD0}, {F::SubType, 0x00}, {F::Size, 512}, {F::PageSize, 8}, {F::AddrStyle, 0x00}}},
        SpotCase{"M24M01x", {"I2C EEPROM"}, false,
                 {{F::Family, 0xA0}, {F::SubType, 0x00}, {F::Size, 128 * KiB}, {F::PageSize, 256},
                  {F::AddrStyle, 0x18}}},
        SpotCase{"25xx1024", {"SPI EEPROM"}, false,
                 {{F::Family, 0xB0}, {F::SubType, 0x00}, {F::Size, 128 * KiB}, {F::PageSize, 256}}},
        SpotCase{"93xx66B", {"Microwire EEPROM"}, false,
                 {{F::Family, 0xC0}, {F::SubType, 0x02}, {F::Size, 512}, {F::ModeFlags, 0x08}}},
        SpotCase{"93xx46", {"Microwire EEPROM"}, false, {{F::Family, 0xC0}, {F::SubType, 0x00}, {F::Size, 128}}},
        SpotCase{"MCP98244T-BE/MNY", {"Temp. Sensor"}, false,
                 {{F::Family, 0xD0}, {F::SubType, 0x00}, {F::Size, 512}, {F::PageSize, 8}, {F::AddrStyle, 0x00}}},
        SpotCase{"ESP8285", {kEspressif}, false,
                 {{F::Family, 0x03}, {F::SubType, 0x04}, {F::Size, 1 * MiB}, {F::IdByte1, 0xC8}, {F::IdByte2, 0x40},
                  {F::EraseTime, 400}, {F::PageFlash, 0}, {F::HideProtect, 1}}},
        SpotCase{"FM24C32D", {}, false,
                 {{F::Family, 0xA0}, {F::SubType, 0x80}, {F::Size, 4 * KiB}, {F::PageSize, 32}, {F::AddrStyle, 0x04}}},
        SpotCase{"NPC79nXCxx (4M)", {}, true,
                 {{F::Family, 0x03}, {F::SubType, 0x04}, {F::Size, 512 * KiB}, {F::IdByte1, 0xC8}, {F::IdByte2, 0x40},
                  {F::EraseTime, 400}, {F::PageFlash, 0}}},
        SpotCase{"AG9421xxx", {"AG9xxx"}, true,
                 {{F::Family, 0x80}, {F::SubType, 0x18}, {F::Size, 128 * KiB}, {F::IdByte1, 0x10}, {F::IdByte2, 0xA1},
                  {F::EraseTime, 200}, {F::PageFlash, 0}}},
        SpotCase{"AT45DB16E", {}, false,
                 {{F::Family, 0x40}, {F::Size, 0x210000}, {F::ModeFlags, 0x00}, {F::IdByte1, 0x10}, {F::IdByte2, 0x10},
                  {F::EraseTime, 500}, {F::PageFlash, 1}, {F::OptionBits, 0x20}}}),
    [](const auto& tc) {
      std::string name = "n" + std::to_string(tc.index) + "_";
      for (const char* p = tc.param.caption; *p; ++p) {
        const auto ch = static_cast<unsigned char>(*p);
        if (std::isalnum(ch)) name += static_cast<char>(ch);
      }
      return name;
    });

TEST(ChipMenuTest, TopLevelAndSpiFlashOrder) {
  const auto& menu = ChipMenu();
  const std::vector<std::string> top = {
      std::string("submenu:") + kSpiFlash, "submenu:I2C EEPROM", "submenu:SPI EEPROM", "submenu:Microwire EEPROM",
      "submenu:Temp. Sensor", std::string("submenu:") + kEspressif, "-", "FM24C32D", "NPC79nXBxx(8M)",
      "NPC79nXCxx (4M)", "submenu:AG9xxx", "-", "AT45DB16E"};
  EXPECT_EQ(Render(menu), top);

  const ChipMenuNode* spi = Submenu(menu, kSpiFlash);
  ASSERT_NE(spi, nullptr);
  const std::vector<std::string> makers = {
      "submenu:SST/Microchip", "submenu:KH25Uxx", "submenu:Winbond", "submenu:GigaDevice",
      "submenu:Macronix International", "submenu:M25Pxx", "submenu:MD25xxx", "submenu:Puya Semiconductor",
      "submenu:\xE5\x85\xB6\xE4\xBB\x96\xE5\x8E\x82\xE5\xAE\xB6", "submenu:\xE9\x80\x9A\xE7\x94\xA8\xE5\x9E\x8B\xE5\x8F\xB7",
      "submenu:M45xxx Chips", "submenu:Boya Microelectronice", "submenu:Adesto"};
  EXPECT_EQ(Render(spi->children), makers);

  const ChipMenuNode* ag = Submenu(menu, "AG9xxx");
  ASSERT_NE(ag, nullptr);
  EXPECT_TRUE(ag->hidden);
  EXPECT_EQ(Render(ag->children), (std::vector<std::string>{"AG9311-MAQ", "AG9311-MCQ", "AG9411xxx", "AG9421xxx"}));
  for (const ChipMenuNode& node : menu) {
    const bool shouldHide = node.caption == "AG9xxx" || node.caption.starts_with("NPC79");
    EXPECT_EQ(node.hidden, shouldHide) << node.caption;
  }
}

struct SeparatorCase {
  std::string maker;
  std::vector<std::string> before;  // the entries each separator follows, in order
};

TEST(ChipMenuTest, SeparatorsInsideTheMakers) {
  const std::vector<SeparatorCase> cases = {
      {"SST/Microchip", {"SST25VF064x"}},
      {"KH25Uxx", {}},
      {"Winbond", {}},
      {"GigaDevice", {"GD25LH80CUIGR"}},
      {"Macronix International", {"MX25L128xxx", "MX25U128xxx"}},
      {"M25Pxx", {}},
      {"MD25xxx", {}},
      {"Puya Semiconductor", {"P25D40H"}},
      {"\xE5\x85\xB6\xE4\xBB\x96\xE5\x8E\x82\xE5\xAE\xB6", {"TS25L16BP", "EN25T16", "S25FL256xx"}},
      {"\xE9\x80\x9A\xE7\x94\xA8\xE5\x9E\x8B\xE5\x8F\xB7", {}},
      {"M45xxx Chips", {}},
      {"Boya Microelectronice", {}},
      {"Adesto", {"AT25SF128", "AT25SL641"}},
  };
  const ChipMenuNode* spi = Submenu(ChipMenu(), kSpiFlash);
  ASSERT_NE(spi, nullptr);
  for (const SeparatorCase& c : cases) {
    const ChipMenuNode* maker = Submenu(spi->children, c.maker);
    ASSERT_NE(maker, nullptr) << c.maker;
    const auto items = Render(maker->children);
    std::vector<std::string> before;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i] != "-") continue;
      ASSERT_GT(i, 0u) << c.maker;
      before.push_back(items[i - 1]);
    }
    EXPECT_EQ(before, c.before) << c.maker;
  }
  for (const char* plain : {"I2C EEPROM", "SPI EEPROM", "Microwire EEPROM", "Temp. Sensor", kEspressif}) {
    const ChipMenuNode* group = Submenu(ChipMenu(), plain);
    ASSERT_NE(group, nullptr) << plain;
    for (const ChipMenuNode& node : group->children) EXPECT_EQ(node.kind, ChipMenuNode::Kind::Entry) << plain;
  }
}

TEST(ChipMenuTest, HoldsEveryEntryOnceInCatalogueOrder) {
  std::vector<const CatalogueEntry*> seen;
  int offered = 0;
  Path path;
  WalkMenu(ChipMenu(), path, false, [&](const ChipMenuNode& node, const Path& at, bool underHidden) {
    if (node.kind == ChipMenuNode::Kind::Separator) {
      EXPECT_TRUE(node.caption.empty());
      EXPECT_TRUE(node.children.empty());
    }
    if (node.kind != ChipMenuNode::Kind::Entry) return;
    ASSERT_NE(node.entry, nullptr) << node.caption;
    EXPECT_EQ(node.caption, node.entry->caption);
    EXPECT_EQ(at, node.entry->menu) << node.caption;
    EXPECT_EQ(node.hidden, node.entry->hidden) << node.caption;
    EXPECT_EQ(node.entry->hidden, node.hidden || underHidden) << node.caption;
    if (!node.hidden && !underHidden) ++offered;
    seen.push_back(node.entry);
  });
  const auto& entries = ChipCatalogue();
  ASSERT_EQ(seen.size(), entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(seen[i], &entries[i]) << i;
  EXPECT_EQ(offered, 182);
}

// Values no catalogue entry assigns, so that every untouched field shows.
ChipParams Sentinel() {
  ChipParams chip;
  chip.Family = 0xEE;
  chip.SubType = 0xED;
  chip.Size = 0x5A5A5A5A;
  chip.SizeKB = 0x1234;
  chip.PageSize = 0xDEAD;
  chip.AddrStyle = 0xEC;
  chip.ModeFlags = 0xEB;
  chip.IdByte1 = 0xEA;
  chip.IdByte2 = 0xE9;
  chip.EraseTime = 0xBEEF;
  chip.LowVoltChip = 0x77;
  chip.ForceQe = 0x76;
  chip.PageFlash = 0x75;
  chip.HideProtect = 0x74;
  chip.StatusBytes = {1, 2, 3, 4, 5, 6, 7, 8};
  chip.DeviceAddress = 0xA6;
  chip.EepromProtect = 0x3C;
  chip.ProtectSetting = 0x0C;
  chip.ReservedWord1 = 0x1111;
  chip.ReservedWord2 = 0x2222;
  chip.ReservedByte1 = 0x31;
  chip.ReservedByte2 = 0x32;
  chip.ReservedByte3 = 0x33;
  return chip;
}

uint32_t Get(const ChipParams& chip, ChipField field) {
  switch (field) {
    case F::Family: return chip.Family;
    case F::SubType: return chip.SubType;
    case F::Size: return chip.Size;
    case F::PageSize: return chip.PageSize;
    case F::AddrStyle: return chip.AddrStyle;
    case F::ModeFlags: return chip.ModeFlags;
    case F::IdByte1: return chip.IdByte1;
    case F::IdByte2: return chip.IdByte2;
    case F::EraseTime: return chip.EraseTime;
    case F::LowVoltChip: return chip.LowVoltChip;
    case F::ForceQe: return chip.ForceQe;
    case F::PageFlash: return chip.PageFlash;
    case F::HideProtect: return chip.HideProtect;
    case F::OptionBits: break;
  }
  ADD_FAILURE() << "not a chip field";
  return 0;
}

TEST(ApplyCatalogueEntryTest, AssignsTheListedFieldsAndTouchesNothingElse) {
  const ChipParams sentinel = Sentinel();
  for (const CatalogueEntry& entry : ChipCatalogue()) {
    ChipParams chip = sentinel;
    uint8_t optionBits = 0x41;
    ApplyCatalogueEntry(entry, chip, optionBits);
    const auto listed = FieldMap(entry);
    for (ChipField field : kAllFields) {
      if (field == F::OptionBits) continue;
      const auto it = listed.find(field);
      EXPECT_EQ(Get(chip, field), it != listed.end() ? it->second : Get(sentinel, field))
          << entry.caption << " " << ChipFieldName(field);
    }
    const auto bits = listed.find(F::OptionBits);
    EXPECT_EQ(optionBits, bits != listed.end() ? (0x41 | bits->second) : 0x41u) << entry.caption;

    EXPECT_EQ(chip.SizeKB, sentinel.SizeKB) << entry.caption;
    EXPECT_EQ(chip.StatusBytes, sentinel.StatusBytes) << entry.caption;
    EXPECT_EQ(chip.DeviceAddress, sentinel.DeviceAddress) << entry.caption;
    EXPECT_EQ(chip.EepromProtect, sentinel.EepromProtect) << entry.caption;
    EXPECT_EQ(chip.ProtectSetting, sentinel.ProtectSetting) << entry.caption;
    EXPECT_EQ(chip.ReservedWord1, sentinel.ReservedWord1) << entry.caption;
    EXPECT_EQ(chip.ReservedWord2, sentinel.ReservedWord2) << entry.caption;
    EXPECT_EQ(chip.ReservedByte1, sentinel.ReservedByte1) << entry.caption;
    EXPECT_EQ(chip.ReservedByte2, sentinel.ReservedByte2) << entry.caption;
    EXPECT_EQ(chip.ReservedByte3, sentinel.ReservedByte3) << entry.caption;
  }
}

TEST(ApplyCatalogueEntryTest, LaterChoiceKeepsWhatItDoesNotAssign) {
  ChipParams chip = Sentinel();
  uint8_t optionBits = 0;
  ApplyCatalogueEntry(*FindChip("24xx02"), chip, optionBits);
  ApplyCatalogueEntry(*FindChip("W25x64xx"), chip, optionBits);

  ChipParams expected = Sentinel();
  expected.Family = 0x07;
  expected.SubType = 0x07;
  expected.Size = 8 * MiB;
  expected.PageSize = 8;      // from 24xx02
  expected.AddrStyle = 0x02;  // from 24xx02
  expected.EraseTime = 1500;
  expected.PageFlash = 0;
  EXPECT_EQ(chip, expected);
  EXPECT_EQ(optionBits, 0);
}

TEST(ApplyCatalogueEntryTest, Page528FlashWritesItsFieldsAndOrsItsOptionBit) {
  ChipParams chip = Sentinel();
  uint8_t optionBits = 0x85;
  ApplyCatalogueEntry(*FindChip("AT45DB16E"), chip, optionBits);

  ChipParams expected = Sentinel();
  expected.Family = kFamilyDataFlash528;
  expected.Size = 2162688;
  expected.ModeFlags = 0;
  expected.IdByte1 = 0x10;
  expected.IdByte2 = 0x10;
  expected.EraseTime = 500;
  expected.PageFlash = 1;
  EXPECT_EQ(chip, expected);
  EXPECT_EQ(optionBits, 0xA5);

  ApplyCatalogueEntry(*FindChip("AT45DB16E"), chip, optionBits);
  EXPECT_EQ(optionBits, 0xA5);
}

std::vector<std::string> ListingLines(std::string* whole = nullptr) {
  std::ostringstream out;
  WriteCatalogueListing(out);
  const std::string text = out.str();
  if (whole) *whole = text;
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_TRUE(!text.empty() && text.back() == '\n');
  return lines;
}

TEST(CatalogueListingTest, EveryLineParsesBackToItsEntry) {
  const auto lines = ListingLines();
  const auto& entries = ChipCatalogue();
  ASSERT_EQ(lines.size(), entries.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const CatalogueEntry& entry = entries[i];
    nlohmann::ordered_json line;
    ASSERT_NO_THROW(line = nlohmann::ordered_json::parse(lines[i])) << lines[i];
    ASSERT_TRUE(line.is_object()) << lines[i];

    std::vector<std::string> keys;
    for (const auto& item : line.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"menu", "caption", "hidden", "fields", "origin"})) << lines[i];
    EXPECT_EQ(line["origin"], "built-in") << lines[i];

    EXPECT_EQ(line["menu"].get<std::vector<std::string>>(), entry.menu) << lines[i];
    EXPECT_EQ(line["caption"].get<std::string>(), entry.caption) << lines[i];
    ASSERT_TRUE(line["hidden"].is_boolean()) << lines[i];
    EXPECT_EQ(line["hidden"].get<bool>(), entry.hidden) << lines[i];

    std::vector<std::pair<std::string, uint32_t>> fields;
    for (const auto& item : line["fields"].items()) {
      EXPECT_TRUE(item.value().is_number_unsigned()) << lines[i];
      fields.emplace_back(item.key(), item.value().get<uint32_t>());
    }
    std::vector<std::pair<std::string, uint32_t>> expected;
    for (ChipField f : kAllFields) {
      const auto listed = FieldMap(entry);
      if (listed.count(f)) expected.emplace_back(ChipFieldName(f), listed.at(f));
    }
    EXPECT_EQ(fields, expected) << lines[i];
  }
}

TEST(CatalogueListingTest, ExactLinesAndRawUtf8) {
  std::string text;
  const auto lines = ListingLines(&text);
  auto lineOf = [&](const std::string& caption) -> std::string {
    const std::string key = "\"caption\":\"" + caption + "\"";
    for (const auto& line : lines) {
      if (line.find(key) != std::string::npos) return line;
    }
    return {};
  };
  EXPECT_EQ(lineOf("W25x64xx"),
            R"({"menu":["SPI  Flash","Winbond"],"caption":"W25x64xx","hidden":false,)"
            R"("fields":{"Family":7,"SubType":7,"Size":8388608,"EraseTime":1500,"PageFlash":0},"origin":"built-in"})");
  EXPECT_EQ(lineOf("AG9311-MAQ"),
            R"({"menu":["AG9xxx"],"caption":"AG9311-MAQ","hidden":true,)"
            R"("fields":{"Family":128,"SubType":0,"Size":131072,"IdByte1":16,"IdByte2":161,"EraseTime":200,)"
            R"("PageFlash":0},"origin":"built-in"})");
  EXPECT_EQ(lineOf("ESP8285"), std::string("{\"menu\":[\"") + kEspressif +
                                   "\"],\"caption\":\"ESP8285\",\"hidden\":false,\"fields\":{\"Family\":3,"
                                   "\"SubType\":4,\"Size\":1048576,\"IdByte1\":200,\"IdByte2\":64,\"EraseTime\":400,"
                                   "\"PageFlash\":0,\"HideProtect\":1},\"origin\":\"built-in\"}");
  EXPECT_NE(lineOf("1M Bits(1M\xE4\xBD\x8D)"), "");
  EXPECT_EQ(text.find("\\u"), std::string::npos);
}

}  // namespace
}  // namespace velkor
