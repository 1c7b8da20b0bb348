#include "platform/usb_identity.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>
#include <vector>

#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace fs = std::filesystem;

namespace {

// How far above the tty's device the USB device may sit: the usb-serial
// port, then its interface, then the device (cdc-acm ttys sit one lower).
constexpr int kLevelsToUsbDevice = 4;

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

bool IsUsbSerialTty(const fs::path& ttyEntry) {
  std::error_code ec;
  const auto subsystem = fs::read_symlink(ttyEntry / "device" / "subsystem", ec);
  return !ec && subsystem.filename() == "usb-serial";
}

std::string KernelNameOf(const fs::path& devicePath) {
  const std::string folder = devicePath.parent_path().filename().string();
  std::error_code ec;
  if ((folder == "by-id" || folder == "by-path") && fs::is_symlink(devicePath, ec)) {
    const fs::path target = fs::read_symlink(devicePath, ec);
    if (!ec) return target.filename().string();
  }
  return devicePath.filename().string();
}

UsbIdentity ReadUsbIdentity(const std::string& kernelName, const DeviceRoots& roots) {
  UsbIdentity usb;
  if (kernelName.empty() || kernelName.find('/') != std::string::npos) return usb;
  std::error_code ec;
  const fs::path device = fs::canonical(roots.ClassTty() / kernelName / "device", ec);
  if (ec) return usb;
  const fs::path driver = fs::read_symlink(device / "driver", ec);
  if (!ec) usb.driver = driver.filename().string();
  fs::path dir = device;
  for (int level = 0; level < kLevelsToUsbDevice && dir.has_relative_path(); ++level, dir = dir.parent_path()) {
    if (!fs::exists(dir / "idVendor", ec)) continue;
    usb.vendorId = FirstLine(dir / "idVendor");
    usb.productId = FirstLine(dir / "idProduct");
    usb.manufacturer = FirstLine(dir / "manufacturer");
    usb.product = FirstLine(dir / "product");
    usb.serial = FirstLine(dir / "serial");
    break;
  }
  std::vector<fs::path> links;
  for (const auto& entry : fs::directory_iterator(roots.ById(), ec))
    if (KernelNameOf(entry.path()) == kernelName) links.push_back(entry.path());
  std::sort(links.begin(), links.end());
  if (!links.empty()) usb.byId = links.front().string();
  return usb;
}

std::string DescribeUsbIdentity(const UsbIdentity& usb) {
  if (!usb.Known()) return {};
  std::string text = usb.vendorId + ":" + usb.productId;
  if (!usb.manufacturer.empty()) text += " " + usb.manufacturer;
  if (!usb.product.empty()) text += " " + usb.product;
  text += usb.serial.empty() ? std::string(Tx(", no USB serial number"))
                             : FormatText(Tx(", USB serial %s"), usb.serial.c_str());
  return text;
}

ResolvedPort ResolvePortName(const std::string& name, const DeviceRoots& roots) {
  if (name.empty()) return {{}, Tx("no port is named")};
  if (name.front() == '/') return {name, {}};
  const std::string prefix = kUsbSerialPrefix;
  if (name.compare(0, prefix.size(), prefix) == 0) {
    const std::string serial = name.substr(prefix.size());
    std::vector<std::string> matches;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(roots.ClassTty(), ec)) {
      if (!IsUsbSerialTty(entry.path())) continue;
      const std::string kernelName = entry.path().filename().string();
      if (!serial.empty() && SameText(ReadUsbIdentity(kernelName, roots).serial, serial)) matches.push_back(kernelName);
    }
    if (matches.size() == 1) return {(roots.dev / matches.front()).string(), {}};
    if (matches.empty())
      return {{}, FormatText(Tx("no USB serial adapter with the serial number \"%s\" is plugged in"), serial.c_str())};
    return {{},
            FormatText(Tx("%zu ports carry the USB serial number \"%s\" (an adapter with several ports): name one "
                          "by its link in %s"),
                       matches.size(), serial.c_str(), roots.ById().string().c_str())};
  }
  std::error_code ec;
  const fs::path direct = roots.dev / name;
  if (name.find('/') == std::string::npos && !fs::exists(direct, ec) && fs::exists(roots.ById() / name, ec))
    return {(roots.ById() / name).string(), {}};
  return {direct.string(), {}};
}

LatencyTimer LowerLatencyTimer(const std::string& kernelName, const DeviceRoots& roots) {
  LatencyTimer timer;
  if (kernelName.empty() || kernelName.find('/') != std::string::npos) return timer;
  const fs::path file = roots.ClassTty() / kernelName / "device" / "latency_timer";
  const std::string found = FirstLine(file);
  if (found.empty() || found.find_first_not_of("0123456789") != std::string::npos || found.size() > 3) return timer;
  timer.before = timer.now = std::stoi(found);
  if (timer.before <= 1) {
    timer.state = LatencyTimer::State::Low;
    return timer;
  }
  timer.state = LatencyTimer::State::Refused;
  const int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return timer;
  const bool written = ::write(fd, "1", 1) == 1;
  ::close(fd);
  const std::string after = FirstLine(file);
  if (written && after == "1") {
    timer.state = LatencyTimer::State::Lowered;
    timer.now = 1;
  }
  return timer;
}

}  // namespace velkor
