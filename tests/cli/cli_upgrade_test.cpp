// The programmers' firmware on the command line: `velkor-cli upgrade`
// replaces it, every other subcommand leaves it as it is and says so. The
// simulated programmers' boot loaders expect the firmware file and check
// every chunk; their frame trace (--verbose, in the simulator's log) shows
// every firmware chunk that reached them.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "cli_run.hpp"
#include "support/firmware.hpp"

namespace velkor::test {
namespace {

class CliUpgradeTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    // Nothing of the machine's: the user's data folder lies in the test's
    // directory, and is empty.
    if (const char* dataHome = std::getenv("XDG_DATA_HOME")) previousDataHome = dataHome;
    setenv("XDG_DATA_HOME", Path("data-home").c_str(), 1);
  }
  void TearDown() override {
    if (previousDataHome)
      setenv("XDG_DATA_HOME", previousDataHome->c_str(), 1);
    else
      unsetenv("XDG_DATA_HOME");
    CliTest::TearDown();
  }

  // velkor-cli with count simulated programmers whose boot loaders expect
  // the firmware file firmware; the simulator's log goes to log.
  CliRun WithSimulators(int count, const std::string& firmware, const std::string& simWords, const std::string& command,
                        const std::string& log) const {
    return Cli("--simulate --json --sim-count " + std::to_string(count) + " --sim-log " + log +
               Sim({"--verbose", "--firmware-file", firmware}) + simWords + " " + command);
  }
  std::string Text(const std::string& name) const {
    std::ifstream file(directory / name);
    return {std::istreambuf_iterator<char>(file), {}};
  }
  // Firmware chunk frames (0xB7) the simulated programmers received.
  int ChunkFrames(const std::string& log) const {
    std::istringstream lines(Text(log));
    int chunks = 0;
    for (std::string line; std::getline(lines, line);)
      chunks += line.find("received frame") != std::string::npos && line.find("): C0 B7") != std::string::npos;
    return chunks;
  }
  static std::vector<std::string> Texts(const std::vector<Json>& events, const char* field) {
    std::vector<std::string> texts;
    for (const Json& e : events) texts.push_back(e.value(field, ""));
    return texts;
  }

  std::optional<std::string> previousDataHome;
};

TEST_F(CliUpgradeTest, OtherSubcommandsLeaveTheFirmwareAsItIsAndSaySo) {
  WriteFirmwareFile(directory, "V3.10");
  const std::string firmware = Path(kFirmwareFileName);
  struct Case {
    const char* what;
    int count;
    std::string simWords;
    std::string command;
    int status;
    std::vector<std::string> warnings;
    std::vector<std::string> identified;  // the programmers found
  };
  const Case cases[] = {
      {"detect, old firmware", 2, Sim({"--version-text", "V3.00"}), "detect", 0,
       {"programmer 1: firmware V3.00, file V3.10: run velkor-cli upgrade",
        "programmer 2: firmware V3.00, file V3.10: run velkor-cli upgrade"},
       {"Velkor350QN V3.00", "Velkor350QN V3.00"}},
      {"blank check, old firmware", 1, Sim({"--version-text", "V3.00"}), "blank --chip 24xx02 --record trace.jsonl", 0,
       {"programmer 1: firmware V3.00, file V3.10: run velkor-cli upgrade"},
       {"Velkor350QN V3.00"}},
      {"detect, boot loader only", 1, Sim({"--name", "VelkorQN"}), "detect", 3,
       {"programmer 1 has no firmware: run velkor-cli upgrade"},
       {}},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string log = "sim-" + std::to_string(++index) + ".log";
    const CliRun run = WithSimulators(c.count, firmware, c.simWords, c.command, log);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    std::vector<std::string> warnings;
    for (const Json& m : run.Events("message"))
      if (m["kind"] == "warning") warnings.push_back(m["text"]);
    EXPECT_EQ(warnings, c.warnings) << run.out;
    EXPECT_EQ(Texts(run.Events("programmer"), "id"), c.identified);
    // Identification queries reached the programmers, firmware chunks did not.
    ASSERT_NE(Text(log).find("boot loader expects firmware V3.10"), std::string::npos) << Text(log);
    EXPECT_NE(Text(log).find("received frame"), std::string::npos) << Text(log);
    EXPECT_EQ(ChunkFrames(log), 0) << Text(log);
    EXPECT_EQ(Text(log).find("firmware chunk"), std::string::npos) << Text(log);
  }

  // The operation ran on the programmer as it identified itself.
  const CliRun blank = WithSimulators(1, firmware, Sim({"--version-text", "V3.00"}), "blank --chip 24xx02", "sim-blank.log");
  ASSERT_EQ(blank.Events("result").size(), 1u) << blank.out;
  EXPECT_EQ(blank.Events("result")[0]["id"], "Velkor350QN V3.00");
  EXPECT_EQ(blank.Events("result")[0]["result"], "ok");
  const Json record = Json::parse(Text("trace.jsonl"));
  EXPECT_EQ(record["programmer_id"], "Velkor350QN V3.00");
}

TEST_F(CliUpgradeTest, UpgradeSendsTheNamedFileAndFindsTheProgrammersWithItsVersion) {
  // The start directory's file is not the one named: the named one is sent.
  WriteFirmwareFile(directory, "V3.10");
  fs::create_directories(directory / "issued");
  WriteFirmwareFile(directory / "issued", "V3.20", 12);
  const std::string named = Path("issued/" + std::string(kFirmwareFileName));
  const CliRun run = WithSimulators(2, named, "", "upgrade --firmware " + named, "sim.log");
  ASSERT_EQ(run.status, 0) << run.out << run.err;

  EXPECT_EQ(Texts(run.Events("start"), "operation"), (std::vector<std::string>{"firmware", "firmware"}));
  const auto results = run.Events("result");
  ASSERT_EQ(results.size(), 2u) << run.out;
  for (const Json& r : results) {
    EXPECT_EQ(r["result"], "ok");
    EXPECT_EQ(r["id"], "Velkor350QN V3.10");
  }
  EXPECT_FALSE(run.Events("progress").empty());
  // Found before the upgrade with the old version, after it with the file's.
  EXPECT_EQ(Texts(run.Events("programmer"), "id"),
            (std::vector<std::string>{"Velkor350QN V3.10", "Velkor350QN V3.10", "Velkor350QN V3.20",
                                      "Velkor350QN V3.20"}));
  const auto messages = Texts(run.Events("message"), "text");
  EXPECT_NE(std::find(messages.begin(), messages.end(), "programmer 2: firmware V3.20 now"), messages.end()) << run.out;

  // Each boot loader took all twelve chunks, as the file has them.
  const std::string log = Text("sim.log");
  EXPECT_EQ(ChunkFrames("sim.log"), 24);
  for (int n = 1; n <= 2; ++n)
    EXPECT_NE(log.find("programmer " + std::to_string(n) +
                       ": firmware upgrade complete, 12 chunks: the programmer now reports \"Velkor350QN V3.20\""),
              std::string::npos)
        << log;
}

TEST_F(CliUpgradeTest, UpgradeTakesTheProgrammersThatNeedItAndEndsAsTheyEnd) {
  // The start directory's file, found as the window finds it.
  WriteFirmwareFile(directory, "V3.10");
  const std::string firmware = Path(kFirmwareFileName);
  struct Case {
    const char* what;
    std::string simWords;
    std::string command;
    int status;
    int chunkFrames;                      // received by the simulated programmer
    std::vector<std::string> identified;  // the programmers found, before and after
    const char* text;                     // in the events
  };
  const Case cases[] = {
      {"current firmware", "", "upgrade", 0, 0, {"Velkor350QN V3.10"}, "not older, left as it is"},
      {"current firmware, forced", "", "upgrade --force", 0, 8, {"Velkor350QN V3.10", "Velkor350QN V3.10"},
       "upgrading (--force)"},
      {"boot loader only", Sim({"--name", "VelkorQN", "--version-text", "V1.0"}), "upgrade", 0, 8,
       {"Velkor350QN V3.10"}, "programmer 1 has no firmware: upgrading to V3.10"},
      {"a chunk fails", Sim({"--version-text", "V3.00", "--fail=0xB7=0x2D"}), "upgrade", 1, 1,
       {"Velkor350QN V3.00"}, "写Flash Memory错误！"},
      {"a chunk is not answered", Sim({"--version-text", "V3.00", "--stall-after", "1"}), "upgrade", 5, 1,
       {"Velkor350QN V3.00"}, "操作超时！"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string log = "sim-" + std::to_string(++index) + ".log";
    const CliRun run = WithSimulators(1, firmware, c.simWords, c.command, log);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_EQ(ChunkFrames(log), c.chunkFrames) << Text(log);
    EXPECT_EQ(Texts(run.Events("programmer"), "id"), c.identified) << run.out;
    EXPECT_NE(run.out.find(c.text), std::string::npos) << run.out;
    EXPECT_EQ(run.Events("end").at(0)["exit_status"], c.status);
  }
}

TEST_F(CliUpgradeTest, UpgradeWithoutAUsableFileIsRefusedBeforeAnythingIsSent) {
  WriteRandom("damaged.VFR", 5000);
  struct Case {
    const char* what;
    std::string command;
    const char* text;
  };
  const Case cases[] = {
      {"named file missing", "upgrade --firmware missing.VFR", "missing.VFR\" cannot be used"},
      {"named file damaged", "upgrade --firmware damaged.VFR", "damaged.VFR\" cannot be used"},
      {"no file in the folders", "upgrade", "No firmware file \"VelkorQN_EDF.VFR\" in "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CliRun run = Cli("--simulate --json --sim-log sim.log" + Sim({"--verbose"}) + " " + c.command);
    EXPECT_EQ(run.status, 4) << run.out << run.err;
    ASSERT_EQ(run.Events("message").size(), 1u) << run.out;
    EXPECT_EQ(run.Events("message")[0]["kind"], "error");
    EXPECT_NE(std::string(run.Events("message")[0]["text"]).find(c.text), std::string::npos) << run.out;
    EXPECT_TRUE(run.Events("programmer").empty()) << run.out;
    EXPECT_TRUE(run.Events("start").empty()) << run.out;
    EXPECT_EQ(Text("sim.log").find("received frame"), std::string::npos) << Text("sim.log");
  }
}

}  // namespace
}  // namespace velkor::test
