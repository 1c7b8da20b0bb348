#include "sim/command_line.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "firmware_helpers.hpp"
#include "support/files.hpp"

namespace velkor::sim {
namespace {

struct Parsed {
  CommandLineResult result;
  std::string out;
  std::string err;
};

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "velkor-sim");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream out;
  std::ostringstream err;
  CommandLineResult result = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
  return {std::move(result), out.str(), err.str()};
}

TEST(CommandLine, DefaultsDescribeOneCurrentProgrammer) {
  const Parsed p = Parse({});
  ASSERT_TRUE(p.result.settings);
  const SimulatorSettings& s = *p.result.settings;
  EXPECT_EQ(s.count, 1);
  EXPECT_FALSE(s.verbose);
  EXPECT_EQ(FullName(s.programmer), "Velkor350QN V3.10");
  EXPECT_EQ(s.programmer.capability, 0x33);
  EXPECT_FALSE(s.programmer.serialNumbers.enabled);
  EXPECT_EQ(s.programmer.serialNumbers.increment, 1);
  EXPECT_EQ(s.programmer.serialNumbers.startAddress, 0u);
  EXPECT_EQ(s.programmer.serialNumbers.initial, 0u);
  EXPECT_EQ(s.programmer.serialNumbers.current, 0u);
  EXPECT_FALSE(s.programmer.chipId.has_value()) << "by default the chip answers the ID the host expects";
  const FaultOptions& f = s.programmer.faults;
  EXPECT_TRUE(f.failures.empty() && f.dropReplyTo.empty() && f.corruptReply.empty() && f.noise.empty());
  EXPECT_FALSE(f.stallAfterRequests || f.hangUpAfterBlocks);
  EXPECT_EQ(s.line.splitBytes, 0u);
  EXPECT_FALSE(s.line.paced);
  EXPECT_EQ(s.line.blockTime.count(), 0);
  EXPECT_EQ(s.programmer.autoCycles, 0u);
  EXPECT_EQ(s.cycleInterval.count(), 100);
  EXPECT_TRUE(s.dumpDirectory.empty());
  EXPECT_TRUE(f.cycleFailures.empty());
  EXPECT_TRUE(p.out.empty());
}

TEST(CommandLine, StandAloneOptionsAreTakenAsWritten) {
  const std::string directory = std::filesystem::temp_directory_path().string();
  const Parsed p = Parse({"--auto-cycles", "5", "--cycle-interval-ms", "0x10", "--fail-cycle", "3=0x2C",
                          "--fail-cycle", "1=0", "--dump-chips", directory});
  ASSERT_TRUE(p.result.settings) << p.err;
  const SimulatorSettings& s = *p.result.settings;
  EXPECT_EQ(s.programmer.autoCycles, 5u);
  EXPECT_EQ(s.cycleInterval.count(), 16);
  EXPECT_EQ(s.dumpDirectory, directory);
  const auto& rules = s.programmer.faults.cycleFailures;
  ASSERT_EQ(rules.size(), 2u);
  EXPECT_EQ(rules[0].cycle, 3u);
  EXPECT_EQ(rules[0].result, 0x2C);
  EXPECT_EQ(rules[1].cycle, 1u);
  EXPECT_EQ(rules[1].result, 0x00);
}

TEST(CommandLine, FaultAndLineOptionsAreTakenAsWritten) {
  const Parsed p = Parse({"--fail", "0x95@16=0x2D", "--fail", "0x93/0x35=0x15", "--fail", "0x9B=69", "--fail",
                          "0x96@0x10000=0x2C", "--drop-reply", "3", "--drop-reply", "7", "--corrupt-reply", "2",
                          "--noise", "C0125a", "--stall-after", "10", "--hang-up-after", "0", "--split", "7",
                          "--split-delay-us", "250", "--pace", "--block-time-us", "3000", "--chip-id", "0xEF,0x17",
                          "--chip-status", "2,0x80"});
  ASSERT_TRUE(p.result.settings) << p.err;
  const SimulatorSettings& s = *p.result.settings;
  const FaultOptions& f = s.programmer.faults;
  ASSERT_EQ(f.failures.size(), 4u);
  EXPECT_EQ(f.failures[0].code, 0x95);
  EXPECT_FALSE(f.failures[0].subOperation);
  EXPECT_EQ(f.failures[0].position, 16u);
  EXPECT_EQ(f.failures[0].status, 0x2D);
  EXPECT_EQ(f.failures[1].code, 0x93);
  EXPECT_EQ(f.failures[1].subOperation, 0x35);
  EXPECT_FALSE(f.failures[1].position);
  EXPECT_EQ(f.failures[1].status, 0x15);
  EXPECT_EQ(f.failures[2].code, 0x9B);
  EXPECT_FALSE(f.failures[2].position);
  EXPECT_EQ(f.failures[2].status, 69);
  EXPECT_EQ(f.failures[3].position, 0x10000u);
  EXPECT_EQ(f.dropReplyTo, (std::vector<uint32_t>{3, 7}));
  EXPECT_EQ(f.corruptReply, (std::vector<uint32_t>{2}));
  EXPECT_EQ(f.noise, (std::vector<uint8_t>{0xC0, 0x12, 0x5A}));
  EXPECT_EQ(f.stallAfterRequests, 10u);
  EXPECT_EQ(f.hangUpAfterBlocks, 0u);
  EXPECT_EQ(s.line.splitBytes, 7u);
  EXPECT_EQ(s.line.splitDelay.count(), 250);
  EXPECT_TRUE(s.line.paced);
  EXPECT_EQ(s.line.blockTime.count(), 3000);
  EXPECT_EQ(s.programmer.chipId, (std::array<uint8_t, 2>{0xEF, 0x17}));
  EXPECT_EQ(s.programmer.chipStatus, (std::array<uint8_t, 2>{0x02, 0x80}));
}

TEST(CommandLine, AcceptsDecimalAndHexadecimalNumbers) {
  const Parsed p =
      Parse({"--count", "8", "--capability", "0x32", "--sn-enabled", "--sn-increment", "65535", "--sn-address",
             "0xFFFFFFFF", "--sn-initial", "4096", "--verbose", "--name", "VelkorQN", "--version-text", "V1.2"});
  ASSERT_TRUE(p.result.settings) << p.err;
  const SimulatorSettings& s = *p.result.settings;
  EXPECT_EQ(s.count, 8);
  EXPECT_TRUE(s.verbose);
  EXPECT_EQ(FullName(s.programmer), "VelkorQN V1.2");
  EXPECT_EQ(s.programmer.capability, 0x32);
  EXPECT_TRUE(s.programmer.serialNumbers.enabled);
  EXPECT_EQ(s.programmer.serialNumbers.increment, 0xFFFF);
  EXPECT_EQ(s.programmer.serialNumbers.startAddress, 0xFFFFFFFFu);
  EXPECT_EQ(s.programmer.serialNumbers.initial, 4096u);
  EXPECT_EQ(s.programmer.serialNumbers.current, 4096u) << "the current serial number starts at the initial one";
}

TEST(CommandLine, CurrentSerialNumberCanDifferFromTheInitialOne) {
  const Parsed p = Parse({"--sn-current", "0x0A", "--sn-initial", "5"});
  ASSERT_TRUE(p.result.settings) << p.err;
  EXPECT_EQ(p.result.settings->programmer.serialNumbers.initial, 5u);
  EXPECT_EQ(p.result.settings->programmer.serialNumbers.current, 10u);
}

TEST(CommandLine, ChipContentIsReadWithItsOffset) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "velkor-sim-content@1.bin";
  test::WriteFile(file, std::string("\x01\x02\xC0", 3));
  struct Case {
    std::string text;
    uint64_t offset;
  };
  for (const Case& c : {Case{file.string(), 0}, Case{file.string() + "@0x7FFFFFD", 0x7FFFFFD}}) {
    SCOPED_TRACE(c.text);
    const Parsed p = Parse({"--chip-content", c.text});
    ASSERT_TRUE(p.result.settings) << p.err;
    const auto& contents = p.result.settings->programmer.chipContents;
    ASSERT_EQ(contents.size(), 1u);
    EXPECT_EQ(contents[0].offset, c.offset);
    EXPECT_EQ(contents[0].bytes, (std::vector<uint8_t>{0x01, 0x02, 0xC0}));
  }
  const Parsed two = Parse({"--chip-content", file.string() + "@16", "--chip-content", file.string()});
  ASSERT_TRUE(two.result.settings) << two.err;
  EXPECT_EQ(two.result.settings->programmer.chipContents.size(), 2u);
  const Parsed pastTheEnd = Parse({"--chip-content", file.string() + "@0x7FFFFFE"});
  EXPECT_FALSE(pastTheEnd.result.settings);
  EXPECT_NE(pastTheEnd.err.find("reaches past the largest chip"), std::string::npos) << pastTheEnd.err;
  const Parsed missing = Parse({"--chip-content", "/nonexistent/velkor-content.bin@16"});
  EXPECT_FALSE(missing.result.settings);
  EXPECT_NE(missing.err.find("cannot read '/nonexistent/velkor-content.bin'"), std::string::npos) << missing.err;
  // A directory is refused with the others, not thrown out of the reader.
  const Parsed directory = Parse({"--chip-content", file.parent_path().string()});
  EXPECT_FALSE(directory.result.settings);
  EXPECT_NE(directory.err.find("it is a directory"), std::string::npos) << directory.err;
  std::filesystem::remove(file);
}

TEST(CommandLine, NamesUpToTheReplysRoomAreAccepted) {
  // 43 characters in all: the longest the identification reply holds.
  const Parsed p = Parse({"--name", "Velkor350QN", "--version-text", std::string(31, 'V')});
  ASSERT_TRUE(p.result.settings) << p.err;
  EXPECT_EQ(FullName(p.result.settings->programmer).size(), 43u);
}

TEST(CommandLine, RefusesWhatTheProgrammerCannotSend) {
  const std::filesystem::path plainFile = std::filesystem::temp_directory_path() / "velkor-sim-not-a-directory";
  test::WriteFile(plainFile, "x");
  struct Case {
    std::vector<std::string> args;
    const char* mentioned;  // in the error message
  };
  const Case cases[] = {
      {{"--count", "0"}, "--count"},
      {{"--count", "9"}, "--count"},
      {{"--capability", "256"}, "--capability"},
      {{"--capability", "-1"}, "--capability"},
      {{"--capability", "0x"}, "--capability"},
      {{"--capability", "12abc"}, "--capability"},
      {{"--capability", "010x"}, "--capability"},
      {{"--sn-increment", "65536"}, "--sn-increment"},
      {{"--sn-initial", "0x100000000"}, "--sn-initial"},
      {{"--sn-current", "x"}, "--sn-current"},
      {{"--version-text", std::string(32, 'V')}, "at most 43"},
      {{"--name", "Velk\xC3\xB6r"}, "ASCII"},
      {{"--name", "Velkor\t350QN"}, "ASCII"},
      {{"--no-such-option"}, "no-such-option"},
      {{"--fail", "0x95@16"}, "CODE[/SUB][@POSITION]=STATUS"},
      {{"--fail", "0x95=0x100"}, "--fail"},
      {{"--fail", "0x8A=0x20"}, "answers no command"},
      {{"--fail", "0x95/3=1"}, "sub-operations"},
      {{"--fail", "0x93@4=1"}, "block positions"},
      {{"--fail", "0x9B@x=1"}, "--fail"},
      {{"--noise", "C0F"}, "hexadecimal"},
      {{"--noise", "XY"}, "hexadecimal"},
      {{"--drop-reply", "0"}, "--drop-reply"},
      {{"--corrupt-reply", "-2"}, "--corrupt-reply"},
      {{"--chip-id", "0xEF"}, "FIRST,SECOND"},
      {{"--chip-status", "1,256"}, "--chip-status"},
      {{"--split", "0"}, "--split"},
      {{"--auto-cycles", "-1"}, "--auto-cycles"},
      {{"--auto-cycles", "1000001"}, "--auto-cycles"},
      {{"--cycle-interval-ms", "x"}, "--cycle-interval-ms"},
      {{"--fail-cycle", "3"}, "N=STATUS"},
      {{"--fail-cycle", "0=0x2C"}, "--fail-cycle"},
      {{"--fail-cycle", "2=0x100"}, "--fail-cycle"},
      {{"--fail-cycle", "2=0x06"}, "successful cycle"},
      {{"--dump-chips", "/nonexistent/velkor-sim-dumps"}, "not an existing directory"},
      {{"--dump-chips", plainFile.string()}, "not an existing directory"},
      {{"--dump-chips", ""}, "not an existing directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const Parsed p = Parse(c.args);
    EXPECT_FALSE(p.result.settings);
    EXPECT_NE(p.result.exitCode, 0);
    EXPECT_NE(p.err.find(c.mentioned), std::string::npos) << p.err;
    EXPECT_TRUE(p.out.empty());
  }
  std::filesystem::remove(plainFile);
}

TEST(CommandLine, FirmwareFileIsReadAtTheStartAndRefusedWhenNotUsable) {
  const std::filesystem::path directory = std::filesystem::temp_directory_path();
  const std::string stem = "velkor-sim-firmware-" + std::to_string(getpid());
  const auto write = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::filesystem::path path = directory / (stem + name);
    test::WriteFile(path, std::string(bytes.begin(), bytes.end()));
    return path.string();
  };
  const std::vector<uint8_t> packed = testing::PackedFirmware(4, "V3.20");
  const std::string good = write("-good.vfr", packed);

  const Parsed withFile = Parse({"--firmware-file", good});
  ASSERT_TRUE(withFile.result.settings) << withFile.err;
  const std::optional<FirmwareFile>& firmware = withFile.result.settings->programmer.expectedFirmware;
  ASSERT_TRUE(firmware);
  EXPECT_TRUE(firmware->ready);
  EXPECT_EQ(firmware->version, "V3.20");
  EXPECT_EQ(firmware->end, 0x2000 + 4 * 1024 - 1);
  const Parsed without = Parse({});
  ASSERT_TRUE(without.result.settings);
  EXPECT_FALSE(without.result.settings->programmer.expectedFirmware);

  std::vector<uint8_t> wrongSum = packed;
  wrongSum[kFirmwareHeaderBytes + 10] ^= 0x01;
  // The version text "V 20": the sum is made right again, so only the blank is wrong.
  std::vector<uint8_t> blank = packed;
  blank[11] = ' ';
  uint32_t sum = 0;
  for (int i = 0; i < 4; ++i) sum |= static_cast<uint32_t>(blank[blank.size() - 4 + i]) << (8 * i);
  sum -= '3' - ' ';
  for (int i = 0; i < 4; ++i) blank[blank.size() - 4 + i] = static_cast<uint8_t>(sum >> (8 * i));
  ASSERT_TRUE(ReadFirmwareFile(blank).ready);

  struct Case {
    const char* name;
    std::string path;
    const char* mentioned;
  };
  const Case cases[] = {
      {"missing", (directory / (stem + "-missing.vfr")).string(), "cannot read"},
      {"wrong checksum", write("-sum.vfr", wrongSum), "checksum"},
      {"not a firmware file", write("-text.vfr", std::vector<uint8_t>(5000, 'x')), "marker"},
      {"empty", write("-empty.vfr", {}), "not a usable firmware file"},
      {"a blank in the version", write("-blank.vfr", blank), "version text"},
      {"a directory", directory.string(), "it is a directory"},
      {"a device without end", "/dev/zero", "it is not a regular file"},
      {"a FIFO (refused, not waited on)", test::MakeFifo(directory / (stem + "-fifo.vfr")), "it is not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Parsed p = Parse({"--firmware-file", c.path});
    EXPECT_FALSE(p.result.settings);
    EXPECT_NE(p.result.exitCode, 0);
    EXPECT_NE(p.err.find(c.mentioned), std::string::npos) << p.err;
  }
  for (const char* name : {"-good.vfr", "-sum.vfr", "-text.vfr", "-empty.vfr", "-blank.vfr", "-fifo.vfr"})
    std::filesystem::remove(directory / (stem + name));
}

}  // namespace
}  // namespace velkor::sim
