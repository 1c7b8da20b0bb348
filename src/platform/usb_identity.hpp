// Who a USB serial port is: the adapter behind it as sysfs describes it
// (vendor and product IDs, maker and product text, USB serial number), its
// stable name below /dev/serial/by-id, and the adapter's latency timer.
// Every routine takes the sysfs and /dev roots, so tests give a fake tree.
#pragma once

#include <filesystem>
#include <string>

namespace velkor {

struct DeviceRoots {
  std::filesystem::path sys = "/sys";
  std::filesystem::path dev = "/dev";

  std::filesystem::path ClassTty() const { return sys / "class" / "tty"; }
  std::filesystem::path ById() const { return dev / "serial" / "by-id"; }
  bool IsSystem() const { return sys == "/sys" && dev == "/dev"; }
};

struct UsbIdentity {
  std::string vendorId;      // "0403"
  std::string productId;     // "6001"
  std::string manufacturer;  // "FTDI"
  std::string product;       // "FT232R USB UART"
  std::string serial;        // "A10KZP3X"; empty when the adapter has none
  std::string driver;        // "ftdi_sio"
  std::string byId;          // "/dev/serial/by-id/usb-FTDI_…-if00-port0", or empty

  bool Known() const { return !vendorId.empty(); }
};

// Whether the tty entry below /sys/class/tty belongs to a USB serial
// converter's driver (FTDI, CP210x, CH34x, PL2303 and the others).
bool IsUsbSerialTty(const std::filesystem::path& ttyEntry);

// The adapter of the tty named kernelName ("ttyUSB0"); empty when the tty
// has no USB device above it (pseudo-terminals, built-in ports).
UsbIdentity ReadUsbIdentity(const std::string& kernelName, const DeviceRoots& roots = {});

// "0403:6001 FTDI FT232R USB UART, USB serial A10KZP3X"; empty when unknown.
std::string DescribeUsbIdentity(const UsbIdentity& usb);

// The kernel's name of the tty a port path leads to: "ttyUSB0" for
// "/dev/ttyUSB0" and for a /dev/serial/by-id or by-path link to it.
std::string KernelNameOf(const std::filesystem::path& devicePath);

// Port names the operator may give, besides "ttyUSB0" and full paths.
inline constexpr const char* kUsbSerialPrefix = "usb-serial:";

// The device path a port name stands for:
//  - a full path as it is;
//  - "usb-serial:SERIAL": the one USB serial port whose adapter carries
//    that USB serial number;
//  - a name below /dev/serial/by-id ("usb-FTDI_…-port0") that is not a
//    device below /dev itself: that link;
//  - any other name: the device below /dev.
// An empty path when the name cannot be resolved; problem then says why,
// as the end of a sentence.
struct ResolvedPort {
  std::string path;
  std::string problem;
};
ResolvedPort ResolvePortName(const std::string& name, const DeviceRoots& roots = {});

// The adapter's latency timer (FTDI adapters keep a short reply for up to
// this many milliseconds before they pass it on), lowered to 1 ms where
// this user may write it.
struct LatencyTimer {
  enum class State {
    NotOffered,  // the driver exposes no latency_timer
    Low,         // already 1 ms
    Lowered,     // was higher, now 1 ms
    Refused,     // higher, and this user may not change it
  } state = State::NotOffered;
  int before = 0;  // milliseconds as found
  int now = 0;     // milliseconds as left
};
LatencyTimer LowerLatencyTimer(const std::string& kernelName, const DeviceRoots& roots = {});

// The udev rule that sets the latency timer to 1 ms as an adapter is
// plugged in, as one line of a rules file.
inline constexpr const char* kLatencyRule =
    "ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"";

}  // namespace velkor
