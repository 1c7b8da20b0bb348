// A serial device opened for the programmer link: non-blocking, raw,
// exclusive. Every errno the layers above care about is mapped here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/line_settings.hpp"

namespace velkor {

// What became of a read or write.
enum class IoStatus {
  Ok,
  WouldBlock,  // nothing could be moved now; wait for readiness
  Gone,        // the device went away (adapter pulled, other end closed)
  Closed,      // the descriptor was closed underneath the caller
  Failed,      // any other error
};

IoStatus ClassifyIoError(int error);

enum class OpenFailure {
  None,
  CannotOpen,    // absent, no permission, or in use by any program
  NotATerminal,  // opened, but not a serial device
  CannotPrepare, // exclusive mode or the initial purge failed
};

// Why a port could not be taken, for the port listing.
enum class PortFailure { None, Busy, NoPermission, Absent };
PortFailure PortFailureForErrno(int error);

// Line-error and modem-signal counts of the driver, where it keeps them.
struct LineCounters {
  uint32_t frame = 0, overrun = 0, parity = 0, brk = 0, bufferOverrun = 0;
  uint32_t ring = 0, carrierDetect = 0;
};

// The line settings actually in force, read back from the driver.
struct AppliedLine {
  uint32_t baudRate = 0;
  int dataBits = 0;
  int stopBits = 0;
  TParity parity = TParity::None;
  bool rtsCtsFlow = false;
  bool xonXoffOut = false;
  bool xonXoffIn = false;
};

class SerialDevice {
 public:
  // Opens path read-write, without becoming its controlling terminal,
  // non-blocking, and takes it exclusively (TIOCEXCL and flock), so that a
  // port in use by any program, this one included, cannot be opened twice.
  // Asks the driver for low latency (ASYNC_LOW_LATENCY) where it offers it.
  static OpenFailure Open(const std::string& path, std::unique_ptr<SerialDevice>& device);

  // Opens and closes path at once, as the port listing tests a port: a port
  // that another program (or this one) holds is busy.
  static PortFailure Probe(const std::string& path);

  // Restores the line settings found at open, then closes.
  ~SerialDevice();
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;

  int fd() const { return fd_; }

  // Best effort: a setting the driver refuses is left as the driver has it.
  void ApplyLine(const CommLineSettings& settings);
  AppliedLine ReadAppliedLine() const;

  void PurgeInput();
  void PurgeOutput();
  // Whether the driver still holds bytes to send (false when it cannot tell).
  bool OutputPending() const;

  IoStatus Read(uint8_t* buffer, std::size_t capacity, std::size_t& got);
  IoStatus Write(const uint8_t* data, std::size_t count, std::size_t& written);

  // False when the driver keeps no counters (pseudo-terminals, most USB
  // adapters without line-status reports).
  bool ReadCounters(LineCounters& counters) const;

 private:
  struct SavedSettings;
  SerialDevice(int fd, std::unique_ptr<SavedSettings> saved);

  int fd_;
  std::unique_ptr<SavedSettings> saved_;
};

// Port names are device names below /dev ("ttyUSB0"), full paths for
// pseudo-terminals and unusual adapters, names below /dev/serial/by-id, or
// "usb-serial:SERIAL" for the adapter with that USB serial number
// (ResolvePortName); empty when the name leads to no device.
std::string DevicePathOf(const std::string& portName);

}  // namespace velkor
