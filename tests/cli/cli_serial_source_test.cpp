// Host-side serial numbers from a list file and from a generator program,
// checked in what the simulated programmers' chips hold.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "cli/cli_run.hpp"

namespace velkor::test {
namespace {

constexpr uint32_t kAddress = 0x10;

class CliSerialSourceTest : public CliTest {
 protected:
  void WriteText(const std::string& name, const std::string& text, bool program = false) const {
    std::ofstream(directory / name) << text;
    if (program) ::chmod(Path(name).c_str(), 0700);
  }
  // The bytes a list line stands for, read here on the test's own terms: a
  // MAC address as written, a 0x number little-endian in four bytes.
  static std::vector<uint8_t> BytesOf(const std::string& line) {
    std::vector<uint8_t> bytes;
    if (line.rfind("0x", 0) == 0) {
      const uint32_t number = static_cast<uint32_t>(std::stoul(line.substr(2), nullptr, 16));
      for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(number >> 8 * i));
      return bytes;
    }
    for (std::size_t i = 0; i < line.size(); i += 3)
      bytes.push_back(static_cast<uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
    return bytes;
  }
  static std::string HexText(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (const uint8_t b : bytes) {
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02X", b);
      text += pair;
    }
    return text;
  }
  // What programmer n's chip holds at the serial-number address.
  std::vector<uint8_t> ChipValue(const std::string& chips, int n, std::size_t size) const {
    const auto chip = ReadBytes(directory / chips / ("programmer-" + std::to_string(n) + ".bin"));
    if (chip.size() < kAddress + size) return {};
    return {chip.begin() + kAddress, chip.begin() + kAddress + size};
  }
  // The list's values in order, comments and blank lines left out.
  std::vector<std::string> ListLines(const std::string& name) const {
    std::ifstream in(directory / name);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
      if (!line.empty() && line[0] != '#') lines.push_back(line);
    return lines;
  }
};

TEST_F(CliSerialSourceTest, ChipsHoldTheListsValuesEachOnceAcrossRunsUntilTheListIsUsedUp) {
  const auto data = WriteRandom("data.bin", 512);
  WriteText("macs.txt", "# the boards of batch 7\n00:1A:2B:3C:4D:01\n\n00-1A-2B-3C-4D-02\n0x12345678\n");
  const std::vector<std::string> list = ListLines("macs.txt");
  ASSERT_EQ(list.size(), 3u);
  const std::string job = " auto --chip 24xx04 --file data.bin --sn-list macs.txt --sn-address 0x10";

  fs::create_directories(directory / "chips-1");
  const CliRun first =
      Cli("--simulate --json --record rec.jsonl --db line.db" + Sim({"--dump-chips", Path("chips-1")}) + job);
  ASSERT_EQ(first.status, 0) << first.out << first.err;
  const auto results = first.Events("result");
  ASSERT_EQ(results.size(), 2u) << first.out;
  std::map<std::string, int> programmerOf;
  for (const Json& r : results) {
    EXPECT_EQ(r["result"], "ok");
    programmerOf[r["serial_text"].get<std::string>()] = r["programmer"].get<int>();
  }
  // The first two values, one to each chip, and in each chip's memory.
  ASSERT_EQ(programmerOf.size(), 2u) << first.out;
  for (const std::string& value : {list[0], list[1]}) {
    SCOPED_TRACE(value);
    ASSERT_TRUE(programmerOf.count(value)) << first.out;
    EXPECT_EQ(ChipValue("chips-1", programmerOf[value], 6), BytesOf(value));
  }
  // The rest of the chip is the file's.
  const auto chip = ReadBytes(directory / "chips-1" / "programmer-1.bin");
  ASSERT_GE(chip.size(), data.size());
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + kAddress, chip.begin()));
  EXPECT_TRUE(std::equal(data.begin() + kAddress + 6, data.end(), chip.begin() + kAddress + 6));
  std::ifstream record(directory / "rec.jsonl");
  std::map<std::string, int> recorded;
  for (std::string line; std::getline(record, line);) {
    const Json parsed = Json::parse(line);
    recorded[parsed["serial_text"].get<std::string>()] = parsed["programmer"].get<int>();
  }
  EXPECT_EQ(recorded, programmerOf);
  // The line's database keeps the same values.
  const CliRun stored = Cli("--db line.db --json records");
  ASSERT_EQ(stored.status, 0) << stored.err;
  std::map<std::string, int> inDatabase;
  for (const Json& r : stored.Events("record")) inDatabase[r["serial_text"].get<std::string>()] = r["programmer"].get<int>();
  EXPECT_EQ(inDatabase, programmerOf);

  // A second run goes on with the third value (a number, little-endian), and
  // stops when the list has nothing for the next chip.
  fs::create_directories(directory / "chips-2");
  const CliRun second = Cli("--simulate --json" + Sim({"--dump-chips", Path("chips-2")}) + job);
  EXPECT_NE(second.status, 0) << second.out << second.err;
  const auto again = second.Events("result");
  ASSERT_EQ(again.size(), 1u) << second.out;
  EXPECT_EQ(again[0]["serial_number"], 0x12345678);
  EXPECT_EQ(ChipValue("chips-2", again[0]["programmer"].get<int>(), 4), BytesOf(list[2]));
  EXPECT_NE(second.MessageTexts().find("is used up: all its 3 values have been taken"), std::string::npos)
      << second.out << second.err;
}

TEST_F(CliSerialSourceTest, AGeneratorsBytesGoIntoTheChipsAndItsFailureStopsTheJobWithAMessage) {
  WriteRandom("data.bin", 512);
  WriteText("gen.sh", "#!/bin/sh\nprintf 'AB:%02X\\n' \"$1\"\n", true);
  WriteText("fails.sh", "#!/bin/sh\necho 'no more numbers' >&2\nexit 3\n", true);
  WriteText("hangs.sh", "#!/bin/sh\nexec sleep 30\n", true);
  fs::create_directories(directory / "chips");
  const CliRun good = Cli("--simulate --json" + Sim({"--dump-chips", Path("chips")}) +
                          " program --chip 24xx04 --file data.bin --sn-generator ./gen.sh --sn-address 0x10");
  ASSERT_EQ(good.status, 0) << good.out << good.err;
  const auto results = good.Events("result");
  ASSERT_EQ(results.size(), 2u) << good.out;
  std::vector<std::vector<uint8_t>> held;
  for (const Json& r : results) {
    const std::vector<uint8_t> chip = ChipValue("chips", r["programmer"].get<int>(), 2);
    EXPECT_EQ(r["serial_text"], chip.size() == 2 ? HexText(chip) : "") << good.out;
    held.push_back(chip);
  }
  std::sort(held.begin(), held.end());
  EXPECT_EQ(held, (std::vector<std::vector<uint8_t>>{{0xAB, 0x01}, {0xAB, 0x02}}));

  struct Case {
    const char* program;
    const char* message;
  };
  for (const Case& c : {Case{"./fails.sh", "it ended with exit status 3"},
                        Case{"./hangs.sh", "it did not answer within 200 ms and was stopped"}}) {
    SCOPED_TRACE(c.program);
    const CliRun failed = Cli(std::string("--simulate --json program --chip 24xx04 --file data.bin --sn-address 0x10 ") +
                              "--sn-generator " + c.program + " --sn-generator-timeout-ms 200");
    EXPECT_NE(failed.status, 0) << failed.out << failed.err;
    EXPECT_TRUE(failed.Events("result").empty()) << failed.out;
    const std::string said = failed.MessageTexts();
    EXPECT_NE(said.find(std::string("The serial-number generator ") + c.program + " gave no number for chip 1"),
              std::string::npos)
        << said << failed.err;
    EXPECT_NE(said.find(c.message), std::string::npos) << said;
  }
}

TEST_F(CliSerialSourceTest, RefusesAMalformedListAndOptionsThatDoNotGoTogether) {
  WriteRandom("data.bin", 512);
  WriteText("bad.txt", "1\n2\nthree\n");
  WriteText("good.txt", "1\n");
  struct Case {
    std::string words;
    const char* message;
  };
  const Case cases[] = {
      {"--sn-list bad.txt", "bad.txt, line 3: \"three\" is not a serial number"},
      {"--sn-list good.txt --sn-generator ./gen.sh", "--sn-list and --sn-generator exclude each other."},
      {"--sn-list good.txt --sn 5", "--sn and --sn-step do not apply with --sn-list or --sn-generator"},
      {"--sn 5 --sn-host --sn-failed reuse", "--sn-failed needs --sn-list or --sn-generator."},
      {"--sn-list good.txt --sn-generator-timeout-ms 300", "--sn-generator-timeout-ms needs --sn-generator."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    const CliRun run = Cli("--simulate --json program --chip 24xx04 --file data.bin " + c.words);
    EXPECT_NE(run.status, 0);
    EXPECT_NE((run.MessageTexts() + run.err).find(c.message), std::string::npos) << run.out << run.err;
    EXPECT_TRUE(run.Events("result").empty()) << run.out;
  }
}

}  // namespace
}  // namespace velkor::test
