#include "platform/serial_ports.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

#include "data/text_format.hpp"
#include "platform/serial_device.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

PortCandidate::Access TryOpen(const std::string& path) {
  const PortFailure failure = SerialDevice::Probe(path);
  switch (failure) {
    case PortFailure::None: return PortCandidate::Access::Usable;
    case PortFailure::Busy: return PortCandidate::Access::InUse;
    case PortFailure::NoPermission: return PortCandidate::Access::NoPermission;
    case PortFailure::Absent: return PortCandidate::Access::Absent;
  }
  return PortCandidate::Access::Absent;
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
      std::size_t ei = i;
      std::size_t ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      // Compare the runs as numbers: without leading zeros, a longer run is larger.
      std::string_view na(a.data() + i, ei - i);
      std::string_view nb(b.data() + j, ej - j);
      while (na.size() > 1 && na.front() == '0') na.remove_prefix(1);
      while (nb.size() > 1 && nb.front() == '0') nb.remove_prefix(1);
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

std::vector<PortCandidate> ScanUsbSerialPorts(const std::filesystem::path& sysClassTty,
                                              const std::filesystem::path& devDirectory) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(sysClassTty, ec))
    if (IsUsbSerialTty(entry.path())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end(), NaturalLess);
  const DeviceRoots roots{sysClassTty.parent_path().parent_path(), devDirectory};
  std::vector<PortCandidate> ports;
  for (const auto& name : names) {
    const std::string path = (devDirectory / name).string();
    ports.push_back({name, TryOpen(path), path, {}, ReadUsbIdentity(name, roots)});
  }
  return ports;
}

std::vector<PortCandidate> ScanUsbSerialPorts(const DeviceRoots& roots) {
  return ScanUsbSerialPorts(roots.ClassTty(), roots.dev);
}

std::vector<PortCandidate> CheckPorts(const std::vector<std::string>& names, const DeviceRoots& roots) {
  std::vector<PortCandidate> ports;
  for (const auto& name : names) {
    const ResolvedPort resolved = ResolvePortName(name, roots);
    PortCandidate port{name, PortCandidate::Access::Absent, resolved.path, resolved.problem, {}};
    if (!resolved.path.empty()) {
      port.access = TryOpen(resolved.path);
      port.usb = ReadUsbIdentity(KernelNameOf(resolved.path), roots);
    }
    ports.push_back(std::move(port));
  }
  return ports;
}

std::string DescribePort(const PortCandidate& port) {
  if (!port.usb.Known()) return port.name;
  std::string text = port.name;
  if (!port.usb.byId.empty()) text += "  " + port.usb.byId;
  return text + "  " + DescribeUsbIdentity(port.usb);
}

std::string PortHolders(const std::string& devicePath, const std::filesystem::path& proc) {
  struct stat device {};
  if (stat(devicePath.c_str(), &device) != 0) return {};
  // The same file: the same device number for a device node, else the
  // same inode.
  const auto same = [&device](const struct stat& other) {
    if (S_ISCHR(device.st_mode)) return S_ISCHR(other.st_mode) && other.st_rdev == device.st_rdev;
    return other.st_dev == device.st_dev && other.st_ino == device.st_ino;
  };
  std::string holders;
  std::error_code ec;
  for (const auto& process : std::filesystem::directory_iterator(proc, ec)) {
    const std::string pid = process.path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code fdError;
    bool holds = false;
    for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", fdError)) {
      struct stat opened {};
      if (stat(fd.path().c_str(), &opened) == 0 && same(opened)) {
        holds = true;
        break;
      }
    }
    if (!holds) continue;
    std::string program;
    std::getline(std::ifstream(process.path() / "comm"), program);
    if (!holders.empty()) holders += Tx(", ");
    holders += program.empty() ? FormatText(Tx("PID %s"), pid.c_str())
                               : FormatText(Tx("PID %s (%s)"), pid.c_str(), program.c_str());
  }
  return holders;
}

std::string WhyUnusable(const PortCandidate& port) {
  if (port.access != PortCandidate::Access::Usable && !port.problem.empty()) return port.problem;
  const std::string path = port.path.empty() ? DevicePathOf(port.name) : port.path;
  switch (port.access) {
    case PortCandidate::Access::Usable:
      return {};
    case PortCandidate::Access::InUse: {
      const std::string holders = PortHolders(path);
      return holders.empty() ? std::string(Tx("another program holds it"))
                             : FormatText(Tx("it is in use by %s"), holders.c_str());
    }
    case PortCandidate::Access::NoPermission:
      return Tx("no permission to open it");
    case PortCandidate::Access::Absent: {
      std::error_code ec;
      return std::filesystem::exists(path, ec) ? Tx("it is not a serial device") : Tx("it does not exist");
    }
  }
  return {};
}

std::vector<std::string> SplitPortList(const std::string& list) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    std::string name = list.substr(start, comma - start);
    const auto first = name.find_first_not_of(" \t");
    const auto last = name.find_last_not_of(" \t");
    if (first != std::string::npos) names.push_back(name.substr(first, last - first + 1));
    start = comma + 1;
  }
  return names;
}

}  // namespace velkor
