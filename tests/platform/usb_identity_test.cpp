#include "platform/usb_identity.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "platform/fake_usb_tree.hpp"
#include "platform/serial_ports.hpp"
#include "support/pty_pair.hpp"

namespace velkor {
namespace {

namespace fs = std::filesystem;

const test::FakeAdapter kFtdi{"ttyUSB0", "1-1", "0403", "6001", "FTDI", "FT232R USB UART", "A10KZP3X", "ftdi_sio",
                              "16"};
const test::FakeAdapter kCp2102{"ttyUSB1", "1-2", "10c4", "ea60", "Silicon Labs", "CP2102 USB to UART Bridge",
                                "0001", "cp210x", ""};
// The two ports of one FT2232H share its serial number.
const test::FakeAdapter kDualA{"ttyUSB2", "1-3", "0403", "6010", "FTDI", "Dual RS232-HS", "FT2DUAL", "ftdi_sio",
                               "16", 0};
const test::FakeAdapter kDualB{"ttyUSB3", "1-3", "0403", "6010", "FTDI", "Dual RS232-HS", "FT2DUAL", "ftdi_sio",
                               "16", 1};
// No serial number, no maker text.
const test::FakeAdapter kBare{"ttyUSB4", "1-4", "1a86", "7523", "", "USB Serial", "", "ch341-uart", ""};

class UsbIdentityTest : public ::testing::Test {
 protected:
  UsbIdentityTest() {
    for (const auto* a : {&kFtdi, &kCp2102, &kDualA, &kDualB, &kBare}) tree.Plug(*a);
  }
  test::FakeUsbTree tree;
};

TEST_F(UsbIdentityTest, AdaptersAreReadFromSysfs) {
  struct Case {
    const char* tty;
    UsbIdentity expected;
    bool byId;
  };
  const Case cases[] = {
      {"ttyUSB0", {"0403", "6001", "FTDI", "FT232R USB UART", "A10KZP3X", "ftdi_sio", ""}, true},
      {"ttyUSB1", {"10c4", "ea60", "Silicon Labs", "CP2102 USB to UART Bridge", "0001", "cp210x", ""}, true},
      {"ttyUSB3", {"0403", "6010", "FTDI", "Dual RS232-HS", "FT2DUAL", "ftdi_sio", ""}, true},
      {"ttyUSB4", {"1a86", "7523", "", "USB Serial", "", "ch341-uart", ""}, true},
      {"ttyS0", {}, false},     // no such tty
      {"../tty", {}, false},    // not a name
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.tty);
    const UsbIdentity got = ReadUsbIdentity(k.tty, tree.roots);
    EXPECT_EQ(got.vendorId, k.expected.vendorId);
    EXPECT_EQ(got.productId, k.expected.productId);
    EXPECT_EQ(got.manufacturer, k.expected.manufacturer);
    EXPECT_EQ(got.product, k.expected.product);
    EXPECT_EQ(got.serial, k.expected.serial);
    EXPECT_EQ(got.driver, k.expected.driver);
    EXPECT_EQ(!got.byId.empty(), k.byId);
    if (k.byId) {
      EXPECT_EQ(KernelNameOf(got.byId), k.tty) << got.byId;
    }
  }
  EXPECT_EQ(DescribeUsbIdentity(ReadUsbIdentity("ttyUSB0", tree.roots)),
            "0403:6001 FTDI FT232R USB UART, USB serial A10KZP3X");
  EXPECT_EQ(DescribeUsbIdentity(ReadUsbIdentity("ttyUSB4", tree.roots)), "1a86:7523 USB Serial, no USB serial number");
}

TEST_F(UsbIdentityTest, PortNamesResolveToTheirDevice) {
  const std::string dev = tree.roots.dev.string();
  const std::string byId = (tree.roots.ById() / test::FakeUsbTree::ById(kFtdi)).string();
  struct Case {
    std::string name;
    std::string path;     // empty: not resolved
    std::string problem;  // part of the reason
  };
  const Case cases[] = {
      {"usb-serial:A10KZP3X", dev + "/ttyUSB0", ""},
      {"usb-serial:a10kzp3x", dev + "/ttyUSB0", ""},  // as typed in lower case
      {"usb-serial:0001", dev + "/ttyUSB1", ""},
      {"usb-serial:NOSUCH", "", "no USB serial adapter with the serial number \"NOSUCH\""},
      {"usb-serial:FT2DUAL", "", "2 ports carry the USB serial number \"FT2DUAL\""},
      {"usb-serial:", "", "no USB serial adapter"},  // the adapter without a serial number is not matched
      {test::FakeUsbTree::ById(kFtdi), byId, ""},
      {test::FakeUsbTree::ById(kDualB), (tree.roots.ById() / test::FakeUsbTree::ById(kDualB)).string(), ""},
      {"ttyUSB1", dev + "/ttyUSB1", ""},
      {"ttyUSB9", dev + "/ttyUSB9", ""},  // absent, found so by the trial open
      {"/dev/pts/7", "/dev/pts/7", ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const ResolvedPort got = ResolvePortName(k.name, tree.roots);
    EXPECT_EQ(got.path, k.path);
    if (k.problem.empty())
      EXPECT_TRUE(got.problem.empty()) << got.problem;
    else
      EXPECT_NE(got.problem.find(k.problem), std::string::npos) << got.problem;
  }
}

TEST(UsbIdentityNames, KernelNameOfAPortPath) {
  struct Case {
    const char* path;
    const char* name;
  };
  for (const Case& k : {Case{"/dev/ttyUSB0", "ttyUSB0"}, Case{"/dev/pts/7", "7"}, Case{"ttyACM1", "ttyACM1"},
                        Case{"/dev/serial/by-id/not-a-link", "not-a-link"}})
    EXPECT_EQ(KernelNameOf(k.path), k.name) << k.path;
}

TEST_F(UsbIdentityTest, NamedPortsAreCheckedWithTheirAdapter) {
  // The adapters' nodes lead to pseudo-terminals, so the trial open works.
  test::FakeUsbTree live;
  test::PtyPair first, second;
  live.Plug(kFtdi, first.SlavePath());
  live.Plug(kCp2102, second.SlavePath());

  const auto ports = CheckPorts({"usb-serial:A10KZP3X", test::FakeUsbTree::ById(kCp2102), "usb-serial:GONE"}, live.roots);
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].name, "usb-serial:A10KZP3X");  // as named, for the log and the missing-programmer report
  EXPECT_EQ(ports[0].path, (live.roots.dev / "ttyUSB0").string());
  EXPECT_EQ(ports[0].access, PortCandidate::Access::Usable);
  EXPECT_EQ(ports[0].usb.serial, "A10KZP3X");
  EXPECT_EQ(ports[1].access, PortCandidate::Access::Usable);
  EXPECT_EQ(ports[1].usb.vendorId, "10c4");
  EXPECT_EQ(ports[2].access, PortCandidate::Access::Absent);
  EXPECT_TRUE(ports[2].path.empty());
  EXPECT_NE(WhyUnusable(ports[2]).find("no USB serial adapter with the serial number \"GONE\""), std::string::npos);

  // The machine's scan carries the identity too, and the list line names it.
  const auto scanned = ScanUsbSerialPorts(live.roots);
  ASSERT_EQ(scanned.size(), 2u);
  EXPECT_EQ(DescribePort(scanned[0]), "ttyUSB0  " + (live.roots.ById() / test::FakeUsbTree::ById(kFtdi)).string() +
                                          "  0403:6001 FTDI FT232R USB UART, USB serial A10KZP3X");
}

TEST_F(UsbIdentityTest, LatencyTimerIsLoweredWhereItMayBe) {
  // A timer this user may not write: a read-only file would not stop root,
  // whom the tests may run as, but a link is not followed for writing.
  const fs::path refusedTimer = tree.roots.ClassTty() / "ttyUSB3" / "device" / "latency_timer";
  fs::remove(refusedTimer);
  test::FakeUsbTree::Write(tree.root_ / "timer-16", "16");
  fs::create_symlink(tree.root_ / "timer-16", refusedTimer);
  test::FakeUsbTree::Write(tree.ClassTtyFile("ttyUSB2", "latency_timer"), "1");

  struct Case {
    const char* tty;
    LatencyTimer::State state;
    int before, now;
  };
  const Case cases[] = {
      {"ttyUSB0", LatencyTimer::State::Lowered, 16, 1},
      {"ttyUSB2", LatencyTimer::State::Low, 1, 1},
      {"ttyUSB3", LatencyTimer::State::Refused, 16, 16},
      {"ttyUSB1", LatencyTimer::State::NotOffered, 0, 0},  // cp210x keeps no timer
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.tty);
    const LatencyTimer got = LowerLatencyTimer(k.tty, tree.roots);
    EXPECT_EQ(got.state, k.state);
    EXPECT_EQ(got.before, k.before);
    EXPECT_EQ(got.now, k.now);
  }
  std::string written;
  std::getline(std::ifstream(tree.ClassTtyFile("ttyUSB0", "latency_timer")), written);
  EXPECT_EQ(written, "1");
}

// The rules file shipped as an example: every line is one udev rule of
// known keys and operators, its jumps land, and it holds the rule the log
// hint quotes.
TEST(UdevRuleFile, IsWellFormedAndSetsTheLatencyTimer) {
  std::ifstream in(VELKOR_UDEV_RULES);
  ASSERT_TRUE(in) << VELKOR_UDEV_RULES;
  const std::set<std::string> matchKeys = {"ACTION", "SUBSYSTEM", "SUBSYSTEMS", "DRIVER", "DRIVERS", "KERNEL",
                                           "ATTR", "ATTRS", "ENV", "TAG"};
  const std::set<std::string> assignKeys = {"ATTR", "ENV", "TAG", "GROUP", "MODE", "SYMLINK", "GOTO", "RUN"};
  const std::regex pair(R"re(^\s*([A-Z_]+)(\{[A-Za-z0-9_]+\})?\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*(,|$))re");
  std::set<std::string> gotos, labels;
  bool latencyRule = false;
  int rules = 0;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    SCOPED_TRACE("line " + std::to_string(number) + ": " + line);
    if (line.empty() || line[0] == '#') continue;
    ++rules;
    if (line == kLatencyRule) latencyRule = true;
    std::string rest = line;
    bool assigns = false;
    std::smatch m;
    while (!rest.empty() && std::regex_search(rest, m, pair)) {
      const std::string key = m[1], op = m[3], value = m[4];
      const bool isMatch = op == "==" || op == "!=";
      if (key == "LABEL") {
        EXPECT_EQ(op, "=");
        labels.insert(value);
      } else if (isMatch) {
        EXPECT_TRUE(matchKeys.count(key)) << key;
      } else {
        EXPECT_TRUE(assignKeys.count(key)) << key;
        assigns = true;
        if (key == "GOTO") gotos.insert(value);
      }
      if (key == "ATTRS" && (m[2] == "{idVendor}" || m[2] == "{idProduct}")) {
        EXPECT_TRUE(std::regex_match(value, std::regex("[0-9a-f]{4}"))) << value;
      }
      rest = m.suffix();
    }
    EXPECT_TRUE(rest.empty()) << "not understood: " << rest;
    EXPECT_TRUE(assigns || line.rfind("LABEL=", 0) == 0) << "a rule that does nothing";
  }
  EXPECT_GT(rules, 0);
  EXPECT_TRUE(latencyRule) << "the file lacks: " << kLatencyRule;
  for (const std::string& target : gotos) EXPECT_TRUE(labels.count(target)) << "GOTO without LABEL: " << target;

  // Where the machine's udev can check a rules file, it must pass too.
  if (std::system("udevadm verify --help >/dev/null 2>&1") == 0) {
    EXPECT_EQ(std::system((std::string("udevadm verify --no-summary ") + VELKOR_UDEV_RULES).c_str()), 0);
  }
}

}  // namespace
}  // namespace velkor
