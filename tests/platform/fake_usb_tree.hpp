// A fake sysfs and /dev in a temporary folder, laid out as the kernel and
// udev lay out USB serial adapters: /sys/devices/…/usb1/1-N with the
// device's attributes, its interface, the usb-serial port with its driver
// and latency timer, /sys/class/tty/ttyUSBn/device leading there, the
// device node below /dev and its link below /dev/serial/by-id.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/usb_identity.hpp"

namespace velkor::test {

struct FakeAdapter {
  std::string tty;  // "ttyUSB0"
  std::string usbPort;  // "1-1": where on the bus
  std::string vendorId, productId, manufacturer, product, serial;
  std::string driver = "ftdi_sio";
  std::string latencyTimer;  // empty: the driver has none
  int interfaceNumber = 0;
};

class FakeUsbTree {
 public:
  FakeUsbTree() {
    namespace fs = std::filesystem;
    fs::create_directories(roots.sys / "bus" / "usb-serial" / "drivers");
    fs::create_directories(roots.sys / "class" / "tty");
    fs::create_directories(roots.dev / "serial" / "by-id");
  }
  ~FakeUsbTree() { std::filesystem::remove_all(root_); }
  FakeUsbTree(const FakeUsbTree&) = delete;
  FakeUsbTree& operator=(const FakeUsbTree&) = delete;

  // Plugs the adapter in; node, when given, is what its device node leads
  // to (a pseudo-terminal of a simulated programmer); otherwise the node is
  // a plain file.
  void Plug(const FakeAdapter& a, const std::string& node = {}) {
    namespace fs = std::filesystem;
    const fs::path device = roots.sys / "devices" / "pci0000:00" / "usb1" / a.usbPort;
    const fs::path interface = device / (a.usbPort + ":1." + std::to_string(a.interfaceNumber));
    const fs::path port = interface / a.tty;
    fs::create_directories(port);
    Write(device / "idVendor", a.vendorId);
    Write(device / "idProduct", a.productId);
    if (!a.manufacturer.empty()) Write(device / "manufacturer", a.manufacturer);
    if (!a.product.empty()) Write(device / "product", a.product);
    if (!a.serial.empty()) Write(device / "serial", a.serial);
    fs::create_directories(roots.sys / "bus" / "usb-serial" / "drivers" / a.driver);
    fs::create_directory_symlink(roots.sys / "bus" / "usb-serial", port / "subsystem");
    fs::create_directory_symlink(roots.sys / "bus" / "usb-serial" / "drivers" / a.driver, port / "driver");
    if (!a.latencyTimer.empty()) Write(port / "latency_timer", a.latencyTimer);
    fs::create_directories(roots.sys / "class" / "tty" / a.tty);
    fs::create_directory_symlink(port, roots.sys / "class" / "tty" / a.tty / "device");
    if (node.empty())
      Write(roots.dev / a.tty, "");
    else
      fs::create_symlink(node, roots.dev / a.tty);
    fs::create_symlink("../../" + a.tty, roots.dev / "serial" / "by-id" / ById(a));
  }

  // Pulls it out: everything Plug made goes.
  void Unplug(const FakeAdapter& a) {
    namespace fs = std::filesystem;
    fs::remove(roots.dev / "serial" / "by-id" / ById(a));
    fs::remove(roots.dev / a.tty);
    fs::remove_all(roots.sys / "class" / "tty" / a.tty);
    fs::remove_all(roots.sys / "devices" / "pci0000:00" / "usb1" / a.usbPort);
  }

  // The name udev's rules give the link: usb-<maker>_<product>_<serial>-if<NN>-port0.
  static std::string ById(const FakeAdapter& a) {
    std::string name = "usb-" + a.manufacturer + "_" + a.product + "_" + a.serial;
    for (char& c : name)
      if (c == ' ') c = '_';
    return name + "-if0" + std::to_string(a.interfaceNumber) + "-port0";
  }

  // A file of the tty's usb-serial port in sysfs.
  std::filesystem::path ClassTtyFile(const std::string& tty, const std::string& name) const {
    return roots.ClassTty() / tty / "device" / name;
  }

  static void Write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text << (text.empty() ? "" : "\n");
  }

  static std::filesystem::path MakeRoot() {
    char pattern[] = "/tmp/velkor-usb-tree-XXXXXX";
    const char* made = mkdtemp(pattern);
    return made ? made : "/nonexistent-velkor-usb-tree";
  }

  std::filesystem::path root_ = MakeRoot();
  DeviceRoots roots{root_ / "sys", root_ / "dev"};
};

}  // namespace velkor::test
