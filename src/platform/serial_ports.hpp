// The machine's programmer ports: the serial ports of USB serial adapters,
// found in sysfs, in natural name order (ttyUSB2 before ttyUSB10).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/usb_identity.hpp"

namespace velkor {

// A port found on the machine, and whether this program may use it.
struct PortCandidate {
  std::string name;  // "ttyUSB0", or the name given in an explicit list
  enum class Access { Usable, InUse, NoPermission, Absent } access = Access::Usable;
  std::string path;  // the device it opens; empty when the name leads to none
  std::string problem;  // why the name leads to no device
  UsbIdentity usb;      // the adapter, for a USB serial port
};

// The tty devices below sysClassTty whose device belongs to the USB serial
// bus (FTDI, CP210x, CH34x, PL2303 and the other USB serial converters), in
// natural order, each with the result of a trial open and its adapter's
// identity (sysfs taken as sysClassTty's grandparent).
std::vector<PortCandidate> ScanUsbSerialPorts(const std::filesystem::path& sysClassTty = "/sys/class/tty",
                                              const std::filesystem::path& devDirectory = "/dev");

// The same trial open for ports named explicitly (names below /dev or paths).
// The names may be below /dev, paths, below /dev/serial/by-id, or
// "usb-serial:SERIAL" (ResolvePortName).
std::vector<PortCandidate> CheckPorts(const std::vector<std::string>& names, const DeviceRoots& roots = {});

// The ports of the machine's USB serial adapters (ScanUsbSerialPorts below
// the roots' /sys/class/tty and /dev), with their adapters' identities.
std::vector<PortCandidate> ScanUsbSerialPorts(const DeviceRoots& roots);

// The port's line in a list: "ttyUSB0  /dev/serial/by-id/usb-FTDI_…
// 0403:6001 FTDI FT232R USB UART, USB serial A10KZP3X"; the name alone for
// a port without a USB adapter.
std::string DescribePort(const PortCandidate& port);

// The processes that hold a device open, as "PID 1234 (minicom)", comma
// separated; empty when none is found. Processes of other users whose file
// descriptors cannot be read are not seen.
std::string PortHolders(const std::string& devicePath, const std::filesystem::path& proc = "/proc");

// Why a port that is not usable cannot be used, as the end of a sentence:
// "it does not exist", "it is not a serial device", "it is in use by PID 1234
// (minicom)", "no permission to open it"; empty for a usable port.
std::string WhyUnusable(const PortCandidate& port);

// Splits "A,B,C" into names, dropping empty ones and blanks around them.
std::vector<std::string> SplitPortList(const std::string& list);

// Natural order of names: digit runs compare as numbers.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace velkor
