// TComm: one serial port of the programmer link. It moves raw byte blocks
// in both directions and reports line events; it knows nothing of packets.
//
// An open port is served by two worker threads. The receive thread waits
// for bytes and posts each block (at most 2048 bytes) to the main loop; the
// transmit thread writes the blocks that SendData queued, each in full and
// in order. Handlers always run on the main loop's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/line_settings.hpp"
#include "platform/main_loop.hpp"
#include "platform/serial_device.hpp"

namespace velkor {

class ECommsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Line-error flags reported by OnReceiveError.
inline constexpr uint32_t kLineErrorRxOver = 0x01;
inline constexpr uint32_t kLineErrorOverrun = 0x02;
inline constexpr uint32_t kLineErrorParity = 0x04;
inline constexpr uint32_t kLineErrorFrame = 0x08;
inline constexpr uint32_t kLineErrorBreak = 0x10;
// Modem events reported by OnModemStateChange.
inline constexpr uint32_t kModemRing = 4;
inline constexpr uint32_t kModemCarrierDetect = 8;

class TComm {
 public:
  static constexpr std::size_t kReadBlockSize = 2048;
  static constexpr std::chrono::milliseconds kThreadStopWait{10000};
  // How long closing waits for the bytes handed over to go out.
  static constexpr std::chrono::milliseconds kCloseDrainTime{250};

  using ReceiveDataEvent = std::function<void(TComm& sender, const uint8_t* buffer, uint16_t bufferLength)>;
  using ReceiveErrorEvent = std::function<void(TComm& sender, uint32_t eventMask)>;
  using ModemStateChangeEvent = std::function<void(TComm& sender, uint32_t modemEvent)>;
  using NotifyEvent = std::function<void(TComm& sender)>;

  explicit TComm(MainLoop& loop);
  // Closes the port if its owner has not: worker threads must not outlive
  // the component they report to.
  ~TComm();
  TComm(const TComm&) = delete;
  TComm& operator=(const TComm&) = delete;

  // The port name; the device path is "/dev/" + the name, or the name itself
  // when it is a full path. Takes effect at the next open.
  std::string CommName = "COM2";

  const CommLineSettings& LineSettings() const { return line_; }
  // Stores the settings and, when the port is open and a property other
  // than Parity changed, applies the whole line configuration again at once.
  // A change of Parity alone takes effect at the next application.
  void SetLineSettings(const CommLineSettings& settings);

  const CommTimeouts& Timeouts() const { return timeouts_; }
  void SetTimeouts(const CommTimeouts& timeouts) { timeouts_ = timeouts; }

  ReceiveDataEvent OnReceiveData;
  ReceiveErrorEvent OnReceiveError;
  NotifyEvent OnRequestHangup;
  ModemStateChangeEvent OnModemStateChange;
  NotifyEvent OnSendDataEmpty;

  // Opens CommName with the current settings and starts both threads;
  // throws ECommsError, leaving the component closed, on any failure.
  void OpenPort();
  // Stops both threads (each waited for at most kThreadStopWait) and closes
  // the port; nothing when closed.
  void ClosePort();
  bool IsOpen() const { return session_ != nullptr; }

  // Queues a copy of data for the transmit thread and returns at once; the
  // caller's buffer may be reused. False when closed or count is 0.
  bool SendData(const uint8_t* data, uint16_t count);

  // True while nothing is queued for sending. Advisory only.
  bool SendIdle() const;

  // The line settings in force on the open device (for diagnostics).
  struct AppliedLineInfo {
    uint32_t baudRate;
    int dataBits;
    int stopBits;
    TParity parity;
  };
  AppliedLineInfo AppliedLine() const;

  struct Session;

 private:
  void Deliver(const std::function<void(TComm&)>& raise, const std::shared_ptr<Session>& from);
  friend struct Session;

  MainLoop& loop_;
  CommLineSettings line_;
  CommTimeouts timeouts_;
  std::shared_ptr<Session> session_;
  std::thread reader_;
  std::thread writer_;
};

}  // namespace velkor
