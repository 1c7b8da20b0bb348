#include "platform/hotplug_monitor.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/event_loop.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

// A message as the kernel sends it: "ACTION@DEVPATH" and KEY=VALUE fields,
// each ended by a zero byte.
std::string Uevent(const std::string& action, const std::string& devpath, const std::string& subsystem,
                   const std::string& devname) {
  std::string m = action + "@" + devpath;
  m.push_back('\0');
  for (const std::string& field : {"ACTION=" + action, "DEVPATH=" + devpath, "SUBSYSTEM=" + subsystem,
                                   "DEVNAME=" + devname, std::string("SEQNUM=4711")}) {
    m += field;
    m.push_back('\0');
  }
  return m;
}

// A literal with the zero bytes inside it.
template <std::size_t N>
std::string Raw(const char (&text)[N]) {
  return std::string(text, N - 1);
}

const std::string kUsbTty = "/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0";

TEST(HotplugEventTest, OnlyUsbTtysAddedOrRemovedAreEvents) {
  struct Case {
    const char* what;
    std::string message;
    bool event;
    HotplugEvent::Kind kind;
  };
  std::string unterminated = Uevent("add", kUsbTty, "tty", "ttyUSB0");
  unterminated.pop_back();
  const Case cases[] = {
      {"plugged in", Uevent("add", kUsbTty, "tty", "ttyUSB0"), true, HotplugEvent::Kind::Added},
      {"pulled out", Uevent("remove", kUsbTty, "tty", "ttyUSB0"), true, HotplugEvent::Kind::Removed},
      {"last field without its zero", unterminated, true, HotplugEvent::Kind::Added},
      {"the USB device itself", Uevent("add", "/devices/pci0000:00/usb1/1-1", "usb", "bus/usb/001/004"), false, {}},
      {"the usb-serial port", Uevent("add", "/devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0", "usb-serial", ""), false,
       {}},
      {"a built-in port", Uevent("add", "/devices/platform/serial8250/tty/ttyS4", "tty", "ttyS4"), false, {}},
      {"another action", Uevent("change", kUsbTty, "tty", "ttyUSB0"), false, {}},
      {"a name with a folder", Uevent("add", kUsbTty, "tty", "../etc/passwd"), false, {}},
      {"a hidden name", Uevent("add", kUsbTty, "tty", ".ttyUSB0"), false, {}},
      {"no name", Uevent("add", kUsbTty, "tty", ""), false, {}},
      {"no header", Raw("ACTION=add\0SUBSYSTEM=tty\0DEVPATH=/usb1\0DEVNAME=ttyUSB0\0"), false, {}},
      {"udev's own format", Raw("libudev\0\xfe\xed\xca\xfe"), false, {}},
      {"empty", std::string(), false, {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const auto got = ParseUevent(reinterpret_cast<const uint8_t*>(k.message.data()), k.message.size());
    ASSERT_EQ(got.has_value(), k.event);
    if (!k.event) continue;
    EXPECT_EQ(got->kind, k.kind);
    EXPECT_EQ(got->deviceName, "ttyUSB0");
  }
}

TEST(HotplugMonitorTest, EventsReachTheMainLoopAndStopWithTheMonitor) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
  EventLoop loop;
  std::vector<std::string> seen;
  std::string error;
  auto monitor = HotplugMonitor::StartOn(
      pair[0], loop,
      [&seen](const HotplugEvent& e) {
        seen.push_back((e.kind == HotplugEvent::Kind::Added ? "+" : "-") + e.deviceName);
      },
      error);
  ASSERT_TRUE(monitor) << error;
  const auto deliver = [&](const std::string& m) {
    ASSERT_EQ(::send(pair[1], m.data(), m.size(), 0), static_cast<ssize_t>(m.size()));
  };
  deliver(Uevent("add", "/devices/usb1/1-2/1-2:1.0/ttyUSB1/tty/ttyUSB1", "usb-serial", ""));  // not one
  deliver(Uevent("add", "/devices/usb1/1-2/1-2:1.0/ttyUSB1/tty/ttyUSB1", "tty", "ttyUSB1"));
  deliver(Uevent("remove", "/devices/usb1/1-2/1-2:1.0/ttyUSB1/tty/ttyUSB1", "tty", "ttyUSB1"));
  ASSERT_TRUE(loop.runUntil([&] { return seen.size() >= 2; }, 2s));
  EXPECT_EQ(seen, (std::vector<std::string>{"+ttyUSB1", "-ttyUSB1"}));

  // An event already on its way when the monitor goes is not delivered.
  deliver(Uevent("add", "/devices/usb1/1-3/1-3:1.0/ttyUSB2/tty/ttyUSB2", "tty", "ttyUSB2"));
  std::this_thread::sleep_for(100ms);
  monitor.reset();
  loop.runFor(50ms);
  EXPECT_EQ(seen.size(), 2u);
  close(pair[1]);
}

}  // namespace
}  // namespace velkor
