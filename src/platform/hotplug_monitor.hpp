// USB serial adapters plugged in and pulled out, as the kernel announces
// them on its device-event socket (NETLINK_KOBJECT_UEVENT). No library: the
// kernel's messages are "ACTION@DEVPATH" followed by KEY=VALUE texts, each
// ended by a zero byte. A thread waits on the socket and hands each event
// of a USB tty to the main loop.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/main_loop.hpp"

namespace velkor {

struct HotplugEvent {
  enum class Kind { Added, Removed } kind = Kind::Added;
  std::string deviceName;  // the tty's name below /dev: "ttyUSB0"
};

// The event one kernel message announces, when it is a USB tty added or
// removed; nothing for every other message (other subsystems, other
// actions, malformed ones).
std::optional<HotplugEvent> ParseUevent(const uint8_t* data, std::size_t size);

class HotplugMonitor {
 public:
  using Handler = std::function<void(const HotplugEvent&)>;

  // Listens to the kernel's device events. Nothing, with error set, where
  // the socket cannot be had (some containers).
  static std::unique_ptr<HotplugMonitor> Start(MainLoop& loop, Handler onEvent, std::string& error);
  // The same on a datagram socket the caller owns the other end of, which
  // carries messages in the kernel's format; takes over the descriptor.
  static std::unique_ptr<HotplugMonitor> StartOn(int socket, MainLoop& loop, Handler onEvent, std::string& error);

  // Stops the thread; no handler runs after this returns.
  ~HotplugMonitor();
  HotplugMonitor(const HotplugMonitor&) = delete;
  HotplugMonitor& operator=(const HotplugMonitor&) = delete;

 private:
  struct Shared;
  HotplugMonitor(int socket, bool kernelOnly, MainLoop& loop, Handler onEvent);
  bool Launch(std::string& error);

  std::shared_ptr<Shared> shared_;
};

// A single-shot timer of the main loop that starts again when started while
// pending, and is cancelled when its owner goes: the search that waits for
// a burst of events to end.
class SettleTimer {
 public:
  SettleTimer() = default;
  ~SettleTimer() { Cancel(); }
  SettleTimer(const SettleTimer&) = delete;
  SettleTimer& operator=(const SettleTimer&) = delete;

  void Start(MainLoop& loop, std::chrono::milliseconds delay, MainLoop::Task task);
  void Cancel();
  bool Pending() const { return id_ != 0; }

 private:
  MainLoop* loop_ = nullptr;
  MainLoop::TimerId id_ = 0;
};

}  // namespace velkor
