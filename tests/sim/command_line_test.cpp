#include "sim/command_line.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

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
  EXPECT_TRUE(p.out.empty());
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

TEST(CommandLine, NamesUpToTheReplysRoomAreAccepted) {
  // 43 characters in all: the longest the identification reply holds.
  const Parsed p = Parse({"--name", "Velkor350QN", "--version-text", std::string(31, 'V')});
  ASSERT_TRUE(p.result.settings) << p.err;
  EXPECT_EQ(FullName(p.result.settings->programmer).size(), 43u);
}

TEST(CommandLine, RefusesWhatTheProgrammerCannotSend) {
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const Parsed p = Parse(c.args);
    EXPECT_FALSE(p.result.settings);
    EXPECT_NE(p.result.exitCode, 0);
    EXPECT_NE(p.err.find(c.mentioned), std::string::npos) << p.err;
    EXPECT_TRUE(p.out.empty());
  }
}

}  // namespace
}  // namespace velkor::sim
