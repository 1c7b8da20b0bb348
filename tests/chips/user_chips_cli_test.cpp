// User chips as velkor-cli sees them: listed with their origin, a refused
// file named on standard error while the rest loads, and a user's chip
// programmed into simulated chips like a table entry of its family.
#include <algorithm>
#include <string>

#include "cli/cli_run.hpp"

namespace velkor::test {
namespace {

class UserChipsCliTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    fs::create_directories(directory / "xdg" / "velkor350qn" / "chips");
  }
  void WriteUserFile(const std::string& name, const std::string& text) const {
    std::ofstream(directory / "xdg" / "velkor350qn" / "chips" / name) << text;
  }
  std::string UserFile(const std::string& name) const {
    return (directory / "xdg" / "velkor350qn" / "chips" / name).string();
  }
  // velkor-cli with the scratch folder as the user's data folder.
  CliRun UserCli(const std::string& words) const {
    return RunCli(program, directory, words, "export XDG_DATA_HOME='" + (directory / "xdg").string() + "'");
  }
};

// 192 KiB: a size no entry of the table has, so that the chip's size in the
// simulator can only have come from the user's file.
constexpr const char* kUserFlash = R"({"chips": [
  {"caption": "USR25L1536", "menu": ["SPI  Flash", "Macronix International"],
   "fields": {"Family": 5, "Size": 196608, "IdByte1": "0xC2", "IdByte2": "0x15", "EraseTime": 2200}},
  {"caption": "USR24C32", "fields": {"Family": 160, "SubType": 0, "Size": 4096, "PageSize": 32, "AddrStyle": 4}}
]})";
constexpr std::size_t kUserFlashSize = 196608;

TEST_F(UserChipsCliTest, ChipsListsUserChipsWithTheirOriginAndNamesARefusedFileOnStandardError) {
  WriteUserFile("mine.json", kUserFlash);
  WriteUserFile("typo.json", "{\"chips\": [\n  {\"caption\": \"TYPO\",\n   \"fields\": {\"Family\": 7, \"Sise\": 4096}}\n]}");
  const CliRun run = UserCli("--json chips USR");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const auto chips = run.Events("chip");
  ASSERT_EQ(chips.size(), 2u) << run.out;
  EXPECT_EQ(chips[0]["caption"], "USR25L1536");
  EXPECT_EQ(chips[0]["menu"], Json::array({"SPI  Flash", "Macronix International"}));
  EXPECT_EQ(chips[0]["size"], kUserFlashSize);
  EXPECT_EQ(chips[0]["family"], 5);
  EXPECT_EQ(chips[0]["origin"], "user: " + UserFile("mine.json"));
  EXPECT_EQ(chips[1]["caption"], "USR24C32");
  EXPECT_EQ(chips[1]["menu"], Json::array({"User"}));
  EXPECT_EQ(run.err, "velkor-cli: User chips: " + UserFile("typo.json") + ":3: unknown field \"Sise\".\n" +
                         "velkor-cli: User chips: " + UserFile("typo.json") + " is not used.\n");

  const CliRun builtIn = UserCli("--json chips W25x64xx");
  ASSERT_EQ(builtIn.status, 0) << builtIn.out << builtIn.err;
  ASSERT_EQ(builtIn.Events("chip").size(), 1u);
  EXPECT_EQ(builtIn.Events("chip")[0]["origin"], "built-in");
  const CliRun refused = UserCli("--json chips TYPO");
  EXPECT_NE(refused.status, 0);
  EXPECT_TRUE(refused.Events("chip").empty()) << refused.out;
}

TEST_F(UserChipsCliTest, AUserChipProgramsIntoTheSimulatedChipLikeATableEntry) {
  WriteUserFile("mine.json", kUserFlash);
  const auto data = WriteRandom("data.bin", kUserFlashSize);
  fs::create_directories(directory / "chips");
  const CliRun run = UserCli("--simulate --sim-count 1 --json" + Sim({"--dump-chips", Path("chips")}) +
                             " auto --chip USR25L1536 --file data.bin");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  ASSERT_EQ(run.Events("result").size(), 1u) << run.out;
  EXPECT_EQ(run.Events("result")[0]["result"], "ok");
  // The simulated chip has the user's size and holds the file.
  EXPECT_EQ(ReadBytes(directory / "chips" / "programmer-1.bin"), data);

  // An EEPROM of the user's file in the "User" submenu, against the same
  // chip from the table (24xx32): the same bytes land in the chip.
  const auto small = WriteRandom("small.bin", 4096, 11);
  for (const char* chip : {"USR24C32", "24xx32"}) {
    SCOPED_TRACE(chip);
    fs::remove_all(directory / "chips");
    fs::create_directories(directory / "chips");
    const CliRun eeprom = UserCli("--simulate --sim-count 1 --json" + Sim({"--dump-chips", Path("chips")}) +
                                  " program --chip " + chip + " --file small.bin");
    ASSERT_EQ(eeprom.status, 0) << eeprom.out << eeprom.err;
    EXPECT_EQ(ReadBytes(directory / "chips" / "programmer-1.bin"), small);
  }
}

}  // namespace
}  // namespace velkor::test
