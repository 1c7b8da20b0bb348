#include "platform/serial_ports.hpp"

#include <gtest/gtest.h>
#include <sys/file.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "platform/serial_device.hpp"
#include "support/pty_pair.hpp"

namespace velkor {
namespace {

namespace fs = std::filesystem;

TEST(SerialPortsTest, NaturalOrderComparesDigitRunsAsNumbers) {
  struct Case {
    const char* a;
    const char* b;
    bool less;
  };
  for (const Case& k : {Case{"ttyUSB2", "ttyUSB10", true}, Case{"ttyUSB10", "ttyUSB2", false},
                        Case{"ttyUSB1", "ttyUSB1", false}, Case{"ttyACM0", "ttyUSB0", true},
                        Case{"ttyUSB01", "ttyUSB2", true}, Case{"ttyUSB", "ttyUSB0", true}})
    EXPECT_EQ(NaturalLess(k.a, k.b), k.less) << k.a << " < " << k.b;
}

TEST(SerialPortsTest, PortListsSplitOnCommas) {
  EXPECT_EQ(SplitPortList("ttyUSB0, /dev/pts/3 ,,ttyUSB1"),
            (std::vector<std::string>{"ttyUSB0", "/dev/pts/3", "ttyUSB1"}));
  EXPECT_TRUE(SplitPortList("").empty());
  EXPECT_TRUE(SplitPortList(" , ").empty());
}

TEST(SerialPortsTest, OpenErrorsSayWhyAPortIsNotOffered) {
  EXPECT_EQ(PortFailureForErrno(EACCES), PortFailure::NoPermission);
  EXPECT_EQ(PortFailureForErrno(EPERM), PortFailure::NoPermission);
  EXPECT_EQ(PortFailureForErrno(EBUSY), PortFailure::Busy);
  EXPECT_EQ(PortFailureForErrno(ENOENT), PortFailure::Absent);
}

class SysfsTree : public ::testing::Test {
 protected:
  SysfsTree() {
    char pattern[] = "/tmp/velkor-sysfs-XXXXXX";
    root = mkdtemp(pattern);
    fs::create_directories(root / "bus" / "usb-serial");
    fs::create_directories(root / "bus" / "usb");
    fs::create_directories(root / "bus" / "serial-base");
    fs::create_directories(root / "dev");
  }
  ~SysfsTree() override { fs::remove_all(root); }

  // A tty whose device belongs to the given bus.
  void AddTty(const std::string& name, const std::string& bus) {
    const fs::path device = root / "devices" / name;
    fs::create_directories(device);
    fs::create_directory_symlink(root / "bus" / bus, device / "subsystem");
    fs::create_directories(root / "class" / "tty" / name);
    fs::create_directory_symlink(device, root / "class" / "tty" / name / "device");
  }

  fs::path root;
};

TEST_F(SysfsTree, OnlyUsbSerialAdaptersInNaturalOrderWithTheirAccess) {
  test::PtyPair pty;
  AddTty("ttyUSB10", "usb-serial");
  AddTty("ttyUSB2", "usb-serial");
  AddTty("ttyS0", "serial-base");
  AddTty("ttyACM0", "usb");
  fs::create_directories(root / "class" / "tty" / "tty1");  // no device at all
  fs::create_symlink(pty.SlavePath(), root / "dev" / "ttyUSB2");

  const auto ports = ScanUsbSerialPorts(root / "class" / "tty", root / "dev");
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].name, "ttyUSB2");
  EXPECT_EQ(ports[0].access, PortCandidate::Access::Usable);
  EXPECT_EQ(ports[1].name, "ttyUSB10");
  EXPECT_EQ(ports[1].access, PortCandidate::Access::Absent);

  // A port another program holds is busy.
  const int holder = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  EXPECT_EQ(CheckPorts({pty.SlavePath()})[0].access, PortCandidate::Access::InUse);
  close(holder);
  EXPECT_EQ(CheckPorts({pty.SlavePath()})[0].access, PortCandidate::Access::Usable);
}

}  // namespace
}  // namespace velkor
