// The catalogue as data: the catalogue file written from the compiled table
// when the program is built, and the user's chip files beside it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "chips/catalogue.hpp"
#include "chips/catalogue_file.hpp"
#include "chips/catalogue_loading.hpp"
#include "chips/chip_lookup.hpp"

namespace velkor {
namespace {

namespace fs = std::filesystem;
using F = ChipField;

// The menu as text lines: submenus with their path, separators, entries
// with their visibility; the same for two catalogues means the same menu.
void RenderMenu(const std::vector<ChipMenuNode>& level, const std::string& path, std::vector<std::string>& out) {
  for (const ChipMenuNode& node : level) {
    switch (node.kind) {
      case ChipMenuNode::Kind::Separator: out.push_back(path + " ---"); break;
      case ChipMenuNode::Kind::Entry:
        out.push_back(path + " " + node.caption + (node.hidden ? " (hidden)" : "") +
                      (node.entry && node.entry->caption == node.caption ? "" : " (wrong entry)"));
        break;
      case ChipMenuNode::Kind::Submenu:
        out.push_back(path + " [" + node.caption + "]" + (node.hidden ? " (hidden)" : ""));
        RenderMenu(node.children, path + "/" + node.caption, out);
        break;
    }
  }
}

std::vector<std::string> MenuLines(const Catalogue& catalogue) {
  std::vector<std::string> lines;
  RenderMenu(BuildChipMenu(catalogue), "", lines);
  return lines;
}

std::map<F, uint32_t> FieldMap(const CatalogueEntry& entry) {
  std::map<F, uint32_t> fields;
  for (const FieldAssignment& a : entry.fields) fields[a.field] = a.value;
  return fields;
}

const CatalogueEntry* Named(const Catalogue& catalogue, const std::string& caption) {
  for (const CatalogueEntry& entry : catalogue.entries)
    if (entry.caption == caption) return &entry;
  return nullptr;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// A scratch folder with a data folder and a user chip folder.
class CatalogueFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("velkor-chips-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "data");
    fs::create_directories(root / "user" / "chips");
    folders.dataFolders = {root / "data"};
    folders.userChips = root / "user" / "chips";
    const char* installed = std::getenv("VELKOR_CHIPS_JSON");
    ASSERT_NE(installed, nullptr) << "VELKOR_CHIPS_JSON names the catalogue file the build writes";
    installedFile = installed;
    fs::copy_file(installedFile, root / "data" / "chips.json");
  }
  void TearDown() override { fs::remove_all(root); }

  void Write(const fs::path& path, const std::string& text) const { std::ofstream(path, std::ios::binary) << text; }
  fs::path UserFile(const std::string& name) const { return root / "user" / "chips" / name; }

  fs::path root;
  fs::path installedFile;
  CatalogueFolders folders;
};

// ---------------------------------------------------------------- the installed file

TEST_F(CatalogueFilesTest, TheBuiltFileLoadsAsTheCompiledTableEntryByEntryInMenuOrder) {
  const Catalogue& compiled = CompiledCatalogue();
  const CatalogueLoad load = LoadCatalogue(folders);
  EXPECT_TRUE(load.problems.empty()) << Joined(load.problems);
  EXPECT_EQ(Joined(load.notes), "Chip catalogue: " + (root / "data" / "chips.json").string() + ", " +
                                    std::to_string(compiled.entries.size()) + " chips.\n");

  // Counted from the file's own text, not from our reading of it.
  std::ifstream in(installedFile);
  const nlohmann::json raw = nlohmann::json::parse(in);
  std::size_t rows = 0;
  for (const auto& item : raw["chips"]) rows += item.contains("caption") ? 1 : 0;
  EXPECT_EQ(rows, compiled.entries.size());

  ASSERT_EQ(load.catalogue.entries.size(), compiled.entries.size());
  for (std::size_t i = 0; i < compiled.entries.size(); ++i) {
    const CatalogueEntry& want = compiled.entries[i];
    const CatalogueEntry& got = load.catalogue.entries[i];
    SCOPED_TRACE(want.caption);
    EXPECT_EQ(got.caption, want.caption);
    EXPECT_EQ(got.menu, want.menu);
    EXPECT_EQ(got.hidden, want.hidden);
    EXPECT_EQ(got.origin, "");
    ASSERT_EQ(got.fields.size(), want.fields.size());
    for (std::size_t f = 0; f < want.fields.size(); ++f) {
      EXPECT_EQ(got.fields[f].field, want.fields[f].field) << ChipFieldName(want.fields[f].field);
      EXPECT_EQ(got.fields[f].value, want.fields[f].value) << ChipFieldName(want.fields[f].field);
    }
    // What choosing it sets, from a chip that had everything set.
    ChipParams fromFile, fromTable;
    fromFile.SubType = fromTable.SubType = 0x5A;
    fromFile.IdByte1 = fromTable.IdByte1 = 0x77;
    uint8_t bitsFromFile = 0x01, bitsFromTable = 0x01;
    ApplyCatalogueEntry(got, fromFile, bitsFromFile);
    ApplyCatalogueEntry(want, fromTable, bitsFromTable);
    EXPECT_EQ(fromFile, fromTable);
    EXPECT_EQ(bitsFromFile, bitsFromTable);
  }
  EXPECT_EQ(load.catalogue.separators, compiled.separators);
  EXPECT_EQ(load.catalogue.hiddenSubmenus, compiled.hiddenSubmenus);
  EXPECT_EQ(MenuLines(load.catalogue), MenuLines(compiled));
}

TEST_F(CatalogueFilesTest, InUseTheLoadedCatalogueAnswersLookUpsAndGivesItsNotes) {
  const std::vector<std::string> compiledMenu = MenuLines(CompiledCatalogue());
  Write(UserFile("extra.json"), R"({"chips": [{"caption": "ZZ-EXTRA", "fields": {"Family": 176, "Size": 1024, "PageSize": 32}}]})");
  const CatalogueLoad load = LoadAndUseCatalogue(folders);
  ASSERT_TRUE(load.problems.empty()) << Joined(load.problems);
  EXPECT_EQ(CatalogueNotes(), load.notes);
  ASSERT_EQ(ChipCatalogue().size(), CompiledCatalogue().entries.size() + 1);
  const ChipLookup found = LookUpChip("zz-extra");
  ASSERT_NE(found.entry, nullptr);
  EXPECT_EQ(found.entry, FindChip("ZZ-EXTRA"));
  std::vector<std::string> menu;
  RenderMenu(ChipMenu(), "", menu);
  std::vector<std::string> expected = compiledMenu;
  expected.push_back(" [User]");
  expected.push_back("/User ZZ-EXTRA");
  EXPECT_EQ(menu, expected);
  // Back to the table alone for the suites that follow in this process.
  UseCatalogue(CompiledCatalogue());
}

TEST_F(CatalogueFilesTest, WithoutAFileTheCompiledTableIsUsedAndTheLogSaysWhereItLooked) {
  fs::remove(root / "data" / "chips.json");
  folders.dataFolders.push_back(root / "elsewhere");
  const CatalogueLoad load = LoadCatalogue(folders);
  EXPECT_EQ(load.catalogue.entries, CompiledCatalogue().entries);
  EXPECT_EQ(Joined(load.problems), "Chip catalogue: no chips.json in " + (root / "data").string() + ", " +
                                       (root / "elsewhere").string() + "; the built-in table is used.\n");
}

TEST_F(CatalogueFilesTest, TheFirstFolderHoldingAFileWins) {
  fs::create_directories(root / "first");
  Write(root / "first" / "chips.json",
        R"({"format": 1, "chips": [{"menu": ["Only"], "caption": "ONE", "fields": {"Family": 7, "Size": 65536}}]})");
  folders.dataFolders.insert(folders.dataFolders.begin(), root / "first");
  const CatalogueLoad load = LoadCatalogue(folders);
  ASSERT_EQ(load.catalogue.entries.size(), 1u);
  EXPECT_EQ(load.catalogue.entries[0].caption, "ONE");
}

TEST_F(CatalogueFilesTest, ABrokenCatalogueFileIsNamedWithItsLineAndTheCompiledTableIsUsed) {
  // The file as built, with one field misspelt on the line of W25x64xx.
  std::ifstream in(installedFile);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const std::size_t at = text.find("\"caption\":\"W25x64xx\"");
  ASSERT_NE(at, std::string::npos);
  const std::size_t line = static_cast<std::size_t>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n')) + 1;
  const std::size_t field = text.find("\"EraseTime\"", at);
  text.replace(field, 11, "\"EraseTim\"");
  Write(root / "data" / "chips.json", text);
  const CatalogueLoad load = LoadCatalogue(folders);
  EXPECT_EQ(load.catalogue.entries, CompiledCatalogue().entries);
  const std::string file = (root / "data" / "chips.json").string();
  EXPECT_EQ(Joined(load.problems), "Chip catalogue: " + file + ":" + std::to_string(line) +
                                       ": unknown field \"EraseTim\".\nChip catalogue: " + file +
                                       " is not used; the built-in table is.\n");

  Write(root / "data" / "chips.json", "{\"format\": 1,\n \"chips\": [\n");
  const CatalogueLoad cut = LoadCatalogue(folders);
  EXPECT_EQ(cut.catalogue.entries, CompiledCatalogue().entries);
  ASSERT_EQ(cut.problems.size(), 2u);
  EXPECT_EQ(cut.problems[0].rfind("Chip catalogue: " + file + ":3: not valid JSON: ", 0), 0u) << cut.problems[0];
}

// ---------------------------------------------------------------- user chips

TEST_F(CatalogueFilesTest, AUserChipIsAddedWithItsFamilysDefaults) {
  Write(UserFile("mine.json"), R"({
  "chips": [
    {"caption": "XM25QH16C", "fields": {"Family": 7, "SubType": 5, "Size": 2097152, "EraseTime": 500}},
    {"caption": "AT25SF321B", "menu": ["SPI  Flash", "Adesto"],
     "fields": {"Family": "0x14", "Size": 4194304, "EraseTime": 1000, "LowVoltChip": 0}},
    {"caption": "W25Q512JV", "menu": ["SPI  Flash", "Winbond"],
     "fields": {"Family": 7, "SubType": 7, "Size": 67108864, "EraseTime": 8000}},
    {"caption": "M24C64-X", "menu": ["My parts", "I2C"],
     "fields": {"Family": 160, "SubType": 0, "Size": 8192, "PageSize": 32, "AddrStyle": 4}}
  ]
})");
  const CatalogueLoad load = LoadCatalogue(folders);
  ASSERT_TRUE(load.problems.empty()) << Joined(load.problems);
  const std::string origin = UserFile("mine.json").string();
  EXPECT_EQ(load.notes.back(), "User chips: " + origin + ": 4 chips added, 0 replaced.");
  const auto& entries = load.catalogue.entries;
  ASSERT_EQ(entries.size(), CompiledCatalogue().entries.size() + 4);

  struct Expected {
    const char* caption;
    std::vector<std::string> menu;
    std::map<F, uint32_t> fields;
  };
  const Expected cases[] = {
      // Every Winbond entry assigns PageFlash 0.
      {"XM25QH16C",
       {"User"},
       {{F::Family, 7}, {F::SubType, 5}, {F::Size, 2 << 20}, {F::EraseTime, 500}, {F::PageFlash, 0}}},
      // The Adesto entries' SubType, identification, quad enable and PageFlash.
      {"AT25SF321B",
       {"SPI  Flash", "Adesto"},
       {{F::Family, 0x14}, {F::SubType, 3}, {F::Size, 4 << 20}, {F::IdByte1, 0xC8}, {F::IdByte2, 0x40},
        {F::EraseTime, 1000}, {F::LowVoltChip, 0}, {F::ForceQe, 1}, {F::PageFlash, 0}}},
      // Above 16 MiB: 4-byte addresses, as every such entry of the table.
      {"W25Q512JV",
       {"SPI  Flash", "Winbond"},
       {{F::Family, 7}, {F::SubType, 7}, {F::Size, 64 << 20}, {F::ModeFlags, 0x10}, {F::EraseTime, 8000},
        {F::PageFlash, 0}}},
      {"M24C64-X",
       {"My parts", "I2C"},
       {{F::Family, 0xA0}, {F::SubType, 0}, {F::Size, 8192}, {F::PageSize, 32}, {F::AddrStyle, 4}}},
  };
  for (const Expected& c : cases) {
    SCOPED_TRACE(c.caption);
    const CatalogueEntry* entry = Named(load.catalogue, c.caption);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->menu, c.menu);
    EXPECT_FALSE(entry->hidden);
    EXPECT_EQ(entry->origin, origin);
    EXPECT_EQ(FieldMap(*entry), c.fields);
  }
  // Added at the end of its submenu: the new Adesto chip after AT25QF128A.
  std::vector<std::string> menu = MenuLines(load.catalogue);
  const auto adesto = std::find(menu.begin(), menu.end(), "/SPI  Flash/Adesto AT25QF128A");
  ASSERT_NE(adesto, menu.end());
  EXPECT_EQ(*(adesto + 1), "/SPI  Flash/Adesto AT25SF321B");
  // New submenus at the end of the top level, after the table's last entry.
  const auto last = std::find(menu.begin(), menu.end(), " AT45DB16E");
  ASSERT_NE(last, menu.end());
  EXPECT_EQ(std::vector<std::string>(last + 1, menu.end()),
            (std::vector<std::string>{" [User]", "/User XM25QH16C", " [My parts]", "/My parts [I2C]",
                                      "/My parts/I2C M24C64-X"}));
}

TEST_F(CatalogueFilesTest, AUserChipReplacesTheEntryOfItsNameInPlaceOrWhereItsFileSays) {
  Write(UserFile("override.json"), R"({"chips": [
    {"caption": "W25x64xx", "fields": {"Family": 7, "SubType": 7, "Size": 8388608, "EraseTime": 1800}},
    {"caption": "AG9311-MAQ", "fields": {"Family": 128, "SubType": 1, "Size": 131072, "EraseTime": 250}},
    {"caption": "24xx02", "menu": ["Fixed"], "fields": {"Family": 160, "SubType": 0, "Size": 256, "PageSize": 16, "AddrStyle": 2}}
  ]})");
  const CatalogueLoad load = LoadCatalogue(folders);
  ASSERT_TRUE(load.problems.empty()) << Joined(load.problems);
  EXPECT_EQ(load.notes.back(), "User chips: " + UserFile("override.json").string() + ": 0 chips added, 3 replaced.");
  const Catalogue& compiled = CompiledCatalogue();
  ASSERT_EQ(load.catalogue.entries.size(), compiled.entries.size());

  // In place: same index, menu and visibility; the user's fields only.
  for (const char* caption : {"W25x64xx", "AG9311-MAQ"}) {
    SCOPED_TRACE(caption);
    const CatalogueEntry* was = Named(compiled, caption);
    const CatalogueEntry* now = Named(load.catalogue, caption);
    ASSERT_NE(now, nullptr);
    // 24xx02, before it in the table, has moved to the end.
    const long moved = was > Named(compiled, "24xx02") ? 1 : 0;
    EXPECT_EQ(now - load.catalogue.entries.data(), was - compiled.entries.data() - moved);
    EXPECT_EQ(now->menu, was->menu);
    EXPECT_EQ(now->hidden, was->hidden);
    EXPECT_EQ(now->origin, UserFile("override.json").string());
  }
  EXPECT_EQ(FieldMap(*Named(load.catalogue, "W25x64xx")),
            (std::map<F, uint32_t>{{F::Family, 7}, {F::SubType, 7}, {F::Size, 8 << 20}, {F::EraseTime, 1800},
                                   {F::PageFlash, 0}}));
  EXPECT_TRUE(Named(load.catalogue, "AG9311-MAQ")->hidden);
  // Moved: out of the I2C EEPROM submenu, into its own one; the I2C
  // submenu keeps every other entry in order.
  EXPECT_EQ(Named(load.catalogue, "24xx02")->menu, std::vector<std::string>{"Fixed"});
  std::vector<std::string> expected = MenuLines(compiled);
  expected.erase(std::find(expected.begin(), expected.end(), "/I2C EEPROM 24xx02"));
  expected.push_back(" [Fixed]");
  expected.push_back("/Fixed 24xx02");
  EXPECT_EQ(MenuLines(load.catalogue), expected);
}

// Each refusal names the file, the line and the reason; the file is not
// used, and the table and the other user files still are.
TEST_F(CatalogueFilesTest, FilesWithAProblemAreRefusedWithFileLineAndReason) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> problems;  // "line: reason"
  };
  const Case cases[] = {
      {"unknown field",
       "{\"chips\": [\n  {\"caption\": \"A1\",\n   \"fields\": {\"Family\": 7, \"SubType\": 1, \"Sise\": 131072, "
       "\"EraseTime\": 200}}\n]}",
       {"3: unknown field \"Sise\""}},
      {"unknown member of a chip",
       "{\"chips\": [\n  {\"caption\": \"A1\", \"colour\": 3,\n   \"fields\": {\"Family\": 7, \"SubType\": 1, \"Size\": "
       "131072, \"EraseTime\": 200}}\n]}",
       {"2: unknown member \"colour\" (known: \"caption\", \"menu\", \"fields\")"}},
      {"missing field",
       "{\"chips\": [\n  {\"caption\": \"A1\", \"fields\": {\"Family\": 160, \"SubType\": 0, \"Size\": 1024, "
       "\"PageSize\": 32}}\n]}",
       {"2: missing field \"AddrStyle\" (family 0xA0 (I2C EEPROM) needs SubType, Size, PageSize, AddrStyle)"}},
      {"missing family",
       "{\"chips\": [\n  {\"caption\": \"A1\", \"fields\": {\"Size\": 1024}}\n]}",
       {"2: missing field \"Family\" (a family code: 0x00, 0x03, 0x05, 0x07, 0x09, 0x0B, 0x10, 0x12, 0x14, 0x40, "
        "0x80, 0xA0, 0xB0, 0xC0, 0xD0)"}},
      {"missing caption", "{\"chips\": [\n\n  {\"fields\": {\"Family\": 176, \"Size\": 1024, \"PageSize\": 32}}\n]}",
       {"3: missing member \"caption\""}},
      {"family not known",
       "{\"chips\": [\n  {\"caption\": \"A1\",\n   \"fields\": {\"Family\": \"0x42\", \"Size\": 65536}}\n]}",
       {"3: family code 0x42 is not known (known: 0x00, 0x03, 0x05, 0x07, 0x09, 0x0B, 0x10, 0x12, 0x14, 0x40, 0x80, "
        "0xA0, 0xB0, 0xC0, 0xD0)"}},
      {"field of another family",
       "{\"chips\": [\n  {\"caption\": \"A1\", \"fields\": {\"Family\": 7, \"SubType\": 1, \"Size\": 131072, "
       "\"EraseTime\": 200, \"PageSize\": 256}}\n]}",
       {"2: field \"PageSize\" is not one of family 0x07 (SPI NOR flash)"}},
      {"size above the family's range",
       "{\"chips\": [\n  {\"caption\": \"A1\", \"fields\": {\"Family\": 192, \"SubType\": 4, \"Size\": 4096}}\n]}",
       {"2: Size 4096 is out of range for family 0xC0 (Microwire EEPROM): 16 bytes to 2 KiB"}},
      {"flash size not in 4 KiB blocks",
       "{\"chips\": [\n  {\"caption\": \"A1\", \"fields\": {\"Family\": 7, \"SubType\": 1, \"Size\": 100000, "
       "\"EraseTime\": 200}}\n]}",
       {"2: Size 100000 is out of range for family 0x07 (SPI NOR flash): 4 KiB to 128 MiB, a multiple of 4 KiB"}},
      {"large flash in a family without 4-byte addresses",
       "{\"chips\": [\n  {\"caption\": \"A1\", \"fields\": {\"Family\": 5, \"Size\": 33554432, \"IdByte1\": 194, "
       "\"IdByte2\": 21, \"EraseTime\": 9000}}\n]}",
       {"2: Size 33554432 is out of range for family 0x05 (SPI NOR flash): 4 KiB to 16 MiB, a multiple of 4 KiB"}},
      {"page flash of another size",
       "{\"chips\": [\n  {\"caption\": \"A1\", \"fields\": {\"Family\": 64, \"Size\": 4325376, \"EraseTime\": 900}}\n]}",
       {"2: Size 4325376 is out of range for family 0x40 (flash with 528-byte pages): exactly 2162688 bytes"}},
      {"size beyond any chip",
       "{\"chips\": [\n  {\"caption\": \"A1\", \"fields\": {\"Family\": 7, \"SubType\": 1, \"Size\": 4294967295, "
       "\"EraseTime\": 200}}\n]}",
       {"2: the value of \"Size\" (4294967295) is out of range (1 to 134217728)"}},
      {"large flash without 4-byte addresses",
       "{\"chips\": [\n  {\"caption\": \"A1\", \"fields\": {\"Family\": 7, \"SubType\": 7, \"Size\": 33554432, "
       "\"ModeFlags\": 0, \"EraseTime\": 5000}}\n]}",
       {"2: a chip above 16 MiB needs ModeFlags bit 0x10 (4-byte addresses)"}},
      {"page size that does not divide the size",
       "{\"chips\": [\n  {\"caption\": \"A1\", \"fields\": {\"Family\": 176, \"Size\": 1024, \"PageSize\": 48}}\n]}",
       {"2: PageSize 48 does not fit: a power of two up to 256 that divides Size"}},
      {"value that is no number",
       "{\"chips\": [\n  {\"caption\": \"A1\", \"fields\": {\"Family\": 7, \"SubType\": \"one\", \"Size\": 131072, "
       "\"EraseTime\": 200}}\n]}",
       {"2: the value of \"SubType\" is not a whole number (write it as 123 or \"0x7B\")"}},
      {"flag out of range",
       "{\"chips\": [\n  {\"caption\": \"A1\", \"fields\": {\"Family\": 3, \"Size\": 131072, \"IdByte1\": 200, "
       "\"IdByte2\": 64, \"EraseTime\": 400, \"LowVoltChip\": 2}}\n]}",
       {"2: the value of \"LowVoltChip\" (2) is out of range (0 to 1)"}},
      {"duplicate name in one file",
       "{\"chips\": [\n  {\"caption\": \"A1\", \"fields\": {\"Family\": 176, \"Size\": 1024, \"PageSize\": 32}},\n"
       "  {\"caption\": \"A1\", \"fields\": {\"Family\": 176, \"Size\": 2048, \"PageSize\": 32}}\n]}",
       {"3: chip \"A1\" is named twice in this file (first on line 2)"}},
      {"field given twice",
       "{\"chips\": [\n  {\"caption\": \"A1\", \"fields\": {\"Family\": 176, \"Size\": 1024,\n   \"Size\": 2048, "
       "\"PageSize\": 32}}\n]}",
       {"3: \"Size\" is given twice in the same object"}},
      {"caption with a line break",
       "{\"chips\": [\n  {\"caption\": \"A\\n1\", \"fields\": {\"Family\": 176, \"Size\": 1024, \"PageSize\": 32}}\n]}",
       {"2: the caption holds a control character"}},
      {"not JSON", "{\"chips\": [\n  {\"caption\": \"A1\",, }\n]}",
       {"2: not valid JSON: syntax error while parsing object key - unexpected ','; expected string literal"}},
      {"no chips list", "{\"chip\": []}",
       {"1: unknown member \"chip\" (known: \"format\", \"chips\")", "1: missing member \"chips\""}},
  };
  const std::string good = UserFile("zz-good.json").string();
  Write(good, R"({"chips": [{"caption": "GOOD-1", "fields": {"Family": 176, "Size": 512, "PageSize": 16}}]})");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path bad = UserFile("bad.json");
    Write(bad, c.text);
    const CatalogueLoad load = LoadCatalogue(folders);
    std::vector<std::string> expected;
    for (const std::string& p : c.problems) expected.push_back("User chips: " + bad.string() + ":" + p + ".");
    expected.push_back("User chips: " + bad.string() + " is not used.");
    EXPECT_EQ(load.problems, expected);
    EXPECT_EQ(Named(load.catalogue, "A1"), nullptr);
    // The table and the other user file load as ever.
    ASSERT_EQ(load.catalogue.entries.size(), CompiledCatalogue().entries.size() + 1);
    EXPECT_NE(Named(load.catalogue, "GOOD-1"), nullptr);
  }
}

TEST_F(CatalogueFilesTest, ANameAnEarlierUserFileGaveRefusesTheLaterFile) {
  Write(UserFile("a.json"), "{\"chips\": [\n  {\"caption\": \"TWICE\", \"fields\": {\"Family\": 176, \"Size\": 1024, "
                            "\"PageSize\": 32}}\n]}");
  Write(UserFile("b.json"), "{\"chips\": [\n  {\"caption\": \"OTHER\", \"fields\": {\"Family\": 176, \"Size\": 1024, "
                            "\"PageSize\": 32}},\n  {\"caption\": \"TWICE\", \"fields\": {\"Family\": 176, \"Size\": "
                            "2048, \"PageSize\": 32}}\n]}");
  const CatalogueLoad load = LoadCatalogue(folders);
  EXPECT_EQ(load.problems, (std::vector<std::string>{
                               "User chips: " + UserFile("b.json").string() + ":3: chip \"TWICE\" is already defined in " +
                                   UserFile("a.json").string() + ":2.",
                               "User chips: " + UserFile("b.json").string() + " is not used."}));
  ASSERT_NE(Named(load.catalogue, "TWICE"), nullptr);
  EXPECT_EQ(FieldMap(*Named(load.catalogue, "TWICE")).at(F::Size), 1024u);
  EXPECT_EQ(Named(load.catalogue, "OTHER"), nullptr);
}

// The rules come from the table: spot checks against rows everyone knows.
TEST(FamilyRulesTest, EachFamilyNeedsWhatItsTableEntriesVaryAndDefaultsWhatTheyShare) {
  const FamilyRules* winbond = FamilyRulesFor(0x07);
  ASSERT_NE(winbond, nullptr);
  EXPECT_EQ(winbond->required, (std::vector<F>{F::SubType, F::Size, F::EraseTime}));
  EXPECT_EQ(winbond->defaults, (std::vector<FieldAssignment>{{F::PageFlash, 0}}));
  EXPECT_EQ(winbond->optional, std::vector<F>{F::ModeFlags});
  const FamilyRules* spiEeprom = FamilyRulesFor(0xB0);
  ASSERT_NE(spiEeprom, nullptr);
  EXPECT_EQ(spiEeprom->required, (std::vector<F>{F::Size, F::PageSize}));
  EXPECT_EQ(spiEeprom->defaults, (std::vector<FieldAssignment>{{F::SubType, 0}}));
  EXPECT_EQ(FamilyRulesFor(0x42), nullptr);
  // Every entry of the table passes its own family's rules as a user chip.
  for (const CatalogueEntry& entry : CompiledCatalogue().entries) {
    nlohmann::json fields = nlohmann::json::object();
    for (const FieldAssignment& a : entry.fields) fields[ChipFieldName(a.field)] = a.value;
    const nlohmann::json file = {{"chips", {{{"caption", entry.caption}, {"fields", fields}}}}};
    const UserChipFileReading reading = ReadUserChipFile(file.dump(), "t");
    EXPECT_TRUE(reading.problems.empty()) << entry.caption << ": " << (reading.problems.empty() ? "" : reading.problems[0].reason);
    if (reading.chips.size() == 1) {
      EXPECT_EQ(reading.chips[0].entry.fields, entry.fields) << entry.caption;
    }
  }
}

}  // namespace
}  // namespace velkor
