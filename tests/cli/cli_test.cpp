// velkor-cli as a script or a production fixture runs it: a separate
// process with simulated programmers, its JSON events parsed and its exit
// status checked.
#include "cli_run.hpp"
#include "window_project.hpp"

#include "link/commands.hpp"

namespace velkor::test {
namespace {

constexpr std::size_t kSmallFlash = 128 * 1024;  // W25x10xx

TEST_F(CliTest, DetectReportsBothProgrammersWithTheirSerialNumberSettings) {
  const CliRun run = Cli("--simulate --json" + Sim({"--sn-enabled", "--sn-initial", "0x100", "--sn-increment", "2"}) +
                      " detect");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const auto detected = run.Events("detected");
  ASSERT_EQ(detected.size(), 2u) << run.out;
  for (int n = 1; n <= 2; ++n) {
    const Json& d = detected[static_cast<std::size_t>(n - 1)];
    EXPECT_EQ(d["programmer"], n);
    EXPECT_EQ(d["name"], "Velkor350QN");
    EXPECT_EQ(d["version"], "V3.10");
    EXPECT_EQ(d["streamed_read"], true);
    EXPECT_EQ(d["serial_numbers"]["enabled"], true);
    EXPECT_EQ(d["serial_numbers"]["initial"], 0x100);
    EXPECT_EQ(d["serial_numbers"]["increment"], 2);
  }
  EXPECT_EQ(run.Events("end").at(0)["exit_status"], 0);
}

TEST_F(CliTest, ProgramWritesTheFileIntoBothChipsAndVerifyChecksAChip) {
  const auto data = WriteRandom("data.bin", 40000);
  fs::create_directories(directory / "chips");
  const CliRun programmed = Cli("--simulate --json" + Sim({"--dump-chips", Path("chips")}) +
                          " program --chip W25x10xx --file data.bin");
  ASSERT_EQ(programmed.status, 0) << programmed.out << programmed.err;
  const auto results = programmed.Events("result");
  ASSERT_EQ(results.size(), 2u);
  for (const Json& r : results) {
    EXPECT_EQ(r["operation"], "program");
    EXPECT_EQ(r["result"], "ok");
    EXPECT_EQ(r["text"], "操作成功！");
  }
  for (int n = 1; n <= 2; ++n) {
    const auto chip = ReadBytes(directory / "chips" / ("programmer-" + std::to_string(n) + ".bin"));
    ASSERT_EQ(chip.size(), kSmallFlash);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), chip.begin())) << "programmer " << n;
  }

  // Verify against chips that hold the data, then against one that differs.
  const CliRun good = Cli("--simulate --sim-count 1 --json" + Sim({"--chip-content", Path("data.bin")}) +
                       " verify --chip W25x10xx --file data.bin");
  EXPECT_EQ(good.status, 0) << good.out << good.err;
  auto changed = data;
  changed[1234] ^= 0x40;
  std::ofstream(directory / "changed.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(changed.data()), static_cast<std::streamsize>(changed.size()));
  const CliRun bad = Cli("--simulate --sim-count 1 --json" + Sim({"--chip-content", Path("changed.bin")}) +
                      " verify --chip W25x10xx --file data.bin");
  EXPECT_EQ(bad.status, 1) << bad.out << bad.err;
  ASSERT_EQ(bad.Events("result").size(), 1u);
  EXPECT_EQ(bad.Events("result")[0]["text"], "数据校验错误！");
  EXPECT_EQ(bad.Events("result")[0]["code"], 0x31);
}

TEST_F(CliTest, AutoOnTwoProgrammersWritesOneRecordPerChip) {
  WriteRandom("data.bin", 512);
  const CliRun run = Cli("--simulate --json --record trace.jsonl auto --chip 24xx04 --file data.bin");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const auto results = run.Events("result");
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0]["operation"], "auto");
  EXPECT_EQ(results[1]["operation"], "auto");
  EXPECT_FALSE(run.Events("progress").empty()) << "no progress events";

  std::ifstream record(directory / "trace.jsonl");
  std::vector<Json> lines;
  for (std::string line; std::getline(record, line);) lines.push_back(Json::parse(line));
  ASSERT_EQ(lines.size(), 2u);
  std::vector<int> programmers;
  for (const Json& l : lines) {
    programmers.push_back(l["programmer"]);
    EXPECT_EQ(l["chip"], "24xx04");
    EXPECT_EQ(l["programmer_id"], "Velkor350QN V3.10");
    EXPECT_EQ(l["operation"], "auto");
    EXPECT_EQ(l["result"], "ok");
    EXPECT_EQ(l["text"], "操作成功！");
    EXPECT_TRUE(l["serial_number"].is_null());
    EXPECT_EQ(std::string(l["acc"]).substr(0, 2), "0x");
    EXPECT_GE(l["duration_ms"], 0);
    EXPECT_EQ(std::string(l["time"]).size(), std::string("2026-12-10T14:35:02.123+01:00").size());
  }
  std::sort(programmers.begin(), programmers.end());
  EXPECT_EQ(programmers, (std::vector<int>{1, 2}));
}

TEST_F(CliTest, HostSerialNumbersAreRecordedAndReachTheChip) {
  WriteRandom("data.bin", 512);
  fs::create_directories(directory / "chips");
  const CliRun run = Cli("--simulate --sim-count 1 --json --record trace.jsonl" + Sim({"--dump-chips", Path("chips")}) +
                      " auto --chip 24xx04 --file data.bin --sn 0x12345678 --sn-address 0x10 --sn-host");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  ASSERT_EQ(run.Events("result").size(), 1u);
  EXPECT_EQ(run.Events("result")[0]["serial_number"], 0x12345678);
  std::ifstream record(directory / "trace.jsonl");
  std::string line;
  ASSERT_TRUE(std::getline(record, line));
  EXPECT_EQ(Json::parse(line)["serial_number"], 0x12345678);
  const auto chip = ReadBytes(directory / "chips" / "programmer-1.bin");
  ASSERT_GE(chip.size(), 0x14u);
  EXPECT_EQ(chip[0x10], 0x78);  // little-endian by default
  EXPECT_EQ(chip[0x13], 0x12);
}

TEST_F(CliTest, AProjectFileBringsChipSettingsAndData) {
  // A project saved by the window's logic: a 24xx04 with 300 bytes of data
  // and serial numbers that the programmer numbers itself.
  const auto data = WriteRandom("data.bin", 300);
  ASSERT_TRUE(test::SaveProjectFromWindow("24xx04", Path("data.bin"), Path("job.OVP")));
  fs::create_directories(directory / "chips");
  const CliRun run = Cli("--simulate --sim-count 1 --json" + Sim({"--dump-chips", Path("chips")}) +
                         " auto --project job.OVP");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const auto chip = ReadBytes(directory / "chips" / "programmer-1.bin");
  ASSERT_EQ(chip.size(), 512u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), chip.begin()));

  const CliRun missing = Cli("--simulate --sim-count 1 --json auto --project none.OVP");
  EXPECT_EQ(missing.status, 4) << missing.out << missing.err;
}

TEST_F(CliTest, ReadSavesTheWholeChipAsTheProgrammerHoldsIt) {
  const auto content = WriteRandom("content.bin", 70000);
  const CliRun run = Cli("--simulate --sim-count 1 --json" + Sim({"--chip-content", Path("content.bin")}) +
                      " read --chip W25x10xx --output chip.bin");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const auto chip = ReadBytes(directory / "chip.bin");
  ASSERT_EQ(chip.size(), kSmallFlash);
  EXPECT_TRUE(std::equal(content.begin(), content.end(), chip.begin()));
  EXPECT_TRUE(std::all_of(chip.begin() + static_cast<long>(content.size()), chip.end(), [](uint8_t b) { return b == 0xFF; }));
  ASSERT_EQ(run.Events("file").size(), 1u);
  EXPECT_EQ(run.Events("file")[0]["bytes"], kSmallFlash);
}

// Every kind of end has its own exit status.
TEST_F(CliTest, ExitStatusTellsTheKindOfFailure) {
  WriteRandom("data.bin", 1024);
  const std::string failVerify = "--fail=" + std::to_string(kCmdChipOperation) + "/" + std::to_string(kSubOpVerify) + "=0x31";
  struct Case {
    const char* what;
    std::string words;
    int status;
    const char* text;  // in the output or the errors; empty: none checked
  };
  const Case cases[] = {
      {"unknown option", "--json detect --no-such-option", 2, ""},
      {"no subcommand", "--json", 2, ""},
      {"unknown chip", "--simulate --json erase --chip NoSuchChip99", 2, "NoSuchChip99"},
      {"ambiguous chip", "--simulate --json erase --chip w25x", 2, "more than one"},
      {"file missing for auto", "--simulate --json auto --chip W25x10xx", 2, "--file"},
      {"option not for the chip", "--simulate --json erase --chip W25x10xx --device-address 0xA2", 2, "does not apply"},
      {"no programmer on the port", "--ports /dev/null/none --json detect", 3, ""},
      {"file cannot be loaded", "--simulate --json program --chip W25x10xx --file missing.hex", 4, ""},
      {"serial number outside the data", "--simulate --json auto --chip W25x10xx --file data.bin --sn 1 --sn-host --sn-address 0x7000", 4,
       "outside the range"},
      {"verify fails on both", "--simulate --json" + Sim({failVerify}) + " verify --chip W25x10xx --file data.bin", 1,
       "数据校验错误！"},
      {"blank check unanswered", "--simulate --sim-count 1 --json" + Sim({"--stall-after", "1"}) + " blank --chip 24xx02", 5,
       "操作超时！"},
  };
  for (const Case& c : cases) {
    const CliRun run = Cli(c.words);
    EXPECT_EQ(run.status, c.status) << c.what << "\n" << run.out << run.err;
    if (*c.text) {
      EXPECT_NE((run.out + run.err).find(c.text), std::string::npos) << c.what << "\n" << run.out << run.err;
    }
  }
}

TEST_F(CliTest, HelpVersionChipsAndConvert) {
  const CliRun help = Cli("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* word : {"detect", "auto", "read", "convert", "--simulate", "Exit status"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  const CliRun version = Cli("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("velkor-cli ", 0), 0u) << version.out;

  const CliRun ports = Cli("--simulate --json ports");
  ASSERT_EQ(ports.status, 0) << ports.out << ports.err;
  ASSERT_EQ(ports.Events("port").size(), 2u);
  for (const Json& port : ports.Events("port")) EXPECT_EQ(port["access"], "usable");
  EXPECT_EQ(Cli("--ports /dev/null/none --json ports").Events("port").at(0)["access"], "absent");

  const CliRun chips = Cli("--json chips 24xx51");
  ASSERT_EQ(chips.status, 0);
  ASSERT_FALSE(chips.Events("chip").empty());
  for (const Json& chip : chips.Events("chip")) EXPECT_NE(std::string(chip["caption"]).find("24xx51"), std::string::npos);

  const auto data = WriteRandom("data.bin", 3000);
  const CliRun convert = Cli("convert data.bin out.bin --chip w25x10XX");
  ASSERT_EQ(convert.status, 0) << convert.out << convert.err;
  EXPECT_EQ(ReadBytes(directory / "out.bin").size(), 4096u) << "the used range of a flash is whole 4 KB blocks";
}

}  // namespace
}  // namespace velkor::test
