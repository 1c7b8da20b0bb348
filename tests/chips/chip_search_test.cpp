// The search of the chip menu, checked against the menu itself: the test
// walks the menu tree on its own and picks what a person can reach there.
#include "chips/chip_search.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "chips/catalogue_loading.hpp"
#include "support/files.hpp"

namespace velkor {
namespace {

namespace fs = std::filesystem;
using Path = std::vector<std::string>;

struct Reachable {
  Path path;
  const CatalogueEntry* entry;
};

// Every entry a person can open the menu to, with the submenus on the way.
void WalkOffered(const std::vector<ChipMenuNode>& level, Path& path, std::vector<Reachable>& out) {
  for (const ChipMenuNode& node : level) {
    if (node.hidden) continue;
    if (node.kind == ChipMenuNode::Kind::Submenu) {
      path.push_back(node.caption);
      WalkOffered(node.children, path, out);
      path.pop_back();
    } else if (node.kind == ChipMenuNode::Kind::Entry && !node.entry->hidden) {
      out.push_back({path, node.entry});
    }
  }
}

std::vector<Reachable> Offered(const std::vector<ChipMenuNode>& menu) {
  std::vector<Reachable> out;
  Path path;
  WalkOffered(menu, path, out);
  return out;
}

std::string Small(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The offered entries whose caption holds part, letter case aside.
std::vector<Reachable> OfferedHolding(const std::vector<ChipMenuNode>& menu, const std::string& part) {
  std::vector<Reachable> out;
  for (const Reachable& r : Offered(menu))
    if (Small(r.entry->caption).find(Small(part)) != std::string::npos) out.push_back(r);
  return out;
}

void ExpectSame(const std::vector<ChipSearchMatch>& found, const std::vector<Reachable>& expected) {
  ASSERT_EQ(found.size(), expected.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(found[i].entry, expected[i].entry) << i;
    EXPECT_EQ(found[i].path, expected[i].path) << i;
  }
}

struct SearchCase {
  const char* query;
  const char* part;  // what the menu's captions are searched for
  std::size_t count;
  const char* firstPathText;  // of the first match; "" when none
};

TEST(ChipSearchTest, FindsTheOfferedCaptionsHoldingTheQueryInMenuOrder) {
  ASSERT_EQ(Offered(ChipMenu()).size(), 182u);
  const SearchCase cases[] = {
      {"W25x64xx", "W25x64xx", 1, "SPI  Flash › Winbond › W25x64xx"},
      {"gd25lq256", "gd25lq256", 2, "SPI  Flash › GigaDevice › GD25LQ256D"},
      // Across four makers' submenus, in the order the menu shows them.
      {"25q", "25q", 16, "SPI  Flash › GigaDevice › GD25Q512x"},
      // From a submenu to the top level.
      {"24c", "24c", 2, "I2C EEPROM › AT24C01"},
      {"  at24c01 \t", "at24c01", 1, "I2C EEPROM › AT24C01"},
      {"fm24c32d", "fm24c32d", 1, "FM24C32D"},
      // Letters beyond ASCII are matched as they are.
      {"1m位", "1m位", 1, "SPI  Flash › 通用型号 › 1M Bits(1M位)"},
      {"zzz", "zzz", 0, ""},
      // Submenu names are the way to a chip, not a chip.
      {"winbond", "winbond", 0, ""},
      // Never offered: the NPC79 entries and the AG9xxx submenu.
      {"npc79", "npc79", 0, ""},
      {"AG9", "AG9", 0, ""},
      {"", "", 0, ""},
      {" \t ", "", 0, ""},
  };
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(std::string("query \"") + c.query + "\"");
    const std::vector<ChipSearchMatch> found = SearchChipMenu(c.query);
    ASSERT_EQ(found.size(), c.count);
    if (c.count > 0) {
      ExpectSame(found, OfferedHolding(ChipMenu(), c.part));
      EXPECT_EQ(ChipMenuPathText(found.front()), c.firstPathText);
    }
  }
}

TEST(ChipSearchTest, EveryOfferedChipIsFoundByItsOwnCaption) {
  for (const Reachable& r : Offered(ChipMenu())) {
    SCOPED_TRACE(r.entry->caption);
    const std::vector<ChipSearchMatch> found = SearchChipMenu(r.entry->caption);
    int self = 0;
    for (const ChipSearchMatch& match : found)
      if (match.entry == r.entry) {
        ++self;
        EXPECT_EQ(match.path, r.path);
      }
    EXPECT_EQ(self, 1);
  }
}

TEST(ChipSearchTest, AHiddenSubmenuHidesEveryEntryInIt) {
  Catalogue catalogue;
  catalogue.entries = {{{"Spare", "Deeper"}, "XA-1", false, {}, ""},
                       {{"Spare"}, "XA-2", false, {}, ""},
                       {{"Kept"}, "XA-3", false, {}, ""},
                       {{}, "XA-4", true, {}, ""}};
  catalogue.hiddenSubmenus = {{"Spare"}};
  const std::vector<ChipMenuNode> menu = BuildChipMenu(catalogue);
  const std::vector<ChipSearchMatch> found = SearchChipMenu(menu, "xa-");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].entry, &catalogue.entries[2]);
  EXPECT_EQ(ChipMenuPathText(found[0]), "Kept › XA-3");
}

TEST(ChipSearchTest, UserChipsAreFoundWhereTheirFilePutsThem) {
  const fs::path folder = fs::temp_directory_path() / ("velkor-chip-search-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  test::WriteFile(folder / "mine.json", R"({"chips": [
    {"caption": "W25Q512JV", "menu": ["SPI  Flash", "Winbond"],
     "fields": {"Family": 7, "SubType": 7, "Size": 67108864, "EraseTime": 8000}},
    {"caption": "M24C64-R", "fields": {"Family": "0xA0", "SubType": 0, "Size": 8192, "PageSize": 32, "AddrStyle": "0x04"}},
    {"caption": "AG9411xxx", "fields": {"Family": "0x80", "SubType": "0x10", "Size": 131072, "EraseTime": 300}}
  ]})");
  struct BackToTheTable {
    ~BackToTheTable() { UseCatalogue(CompiledCatalogue()); }
  } restore;
  LoadAndUseCatalogue({{}, folder});
  fs::remove_all(folder);
  ASSERT_EQ(ChipCatalogue().size(), CompiledCatalogue().entries.size() + 2) << "two added, one replaced";
  ASSERT_FALSE(FindChip("AG9411xxx")->origin.empty());

  const std::vector<ChipSearchMatch> w25q512 = SearchChipMenu("w25q512");
  ASSERT_EQ(w25q512.size(), 1u);
  EXPECT_EQ(ChipMenuPathText(w25q512[0]), "SPI  Flash › Winbond › W25Q512JV");
  EXPECT_EQ(w25q512[0].entry, FindChip("W25Q512JV"));

  // The catalogue's own chips first, the user's chip in its submenu at the
  // end of the menu.
  const std::vector<ChipSearchMatch> m24 = SearchChipMenu("M24");
  ExpectSame(m24, OfferedHolding(ChipMenu(), "m24"));
  ASSERT_EQ(m24.size(), 3u);
  EXPECT_EQ(ChipMenuPathText(m24[0]), "I2C EEPROM › M24M01x");
  EXPECT_EQ(ChipMenuPathText(m24[1]), "FM24C32D");
  EXPECT_EQ(ChipMenuPathText(m24[2]), "User › M24C64-R");

  // A user's chip in place of a never offered one is never offered either.
  EXPECT_TRUE(SearchChipMenu("AG9411").empty());
}

}  // namespace
}  // namespace velkor
