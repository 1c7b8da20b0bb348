#include "platform/hotplug_monitor.hpp"

#include <linux/netlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <thread>

#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

// The kernel's messages stay well below this; a longer one is cut short by
// the socket and dropped here.
constexpr std::size_t kMessageLimit = 8192;
// The multicast group of the kernel's own messages (udev re-sends them
// on group 2 after its rules ran; that format is udev's private one).
constexpr uint32_t kKernelGroup = 1;

}  // namespace

std::optional<HotplugEvent> ParseUevent(const uint8_t* data, std::size_t size) {
  const std::string_view message(reinterpret_cast<const char*>(data), size);
  std::string_view action, subsystem, devpath, devname;
  bool header = true;
  std::size_t at = 0;
  while (at < message.size()) {
    std::size_t end = message.find('\0', at);
    if (end == std::string_view::npos) end = message.size();
    const std::string_view field = message.substr(at, end - at);
    at = end + 1;
    if (header) {
      header = false;
      if (field.find('@') == std::string_view::npos) return std::nullopt;
      continue;
    }
    const std::size_t equals = field.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = field.substr(0, equals);
    const std::string_view value = field.substr(equals + 1);
    if (key == "ACTION") action = value;
    else if (key == "SUBSYSTEM") subsystem = value;
    else if (key == "DEVPATH") devpath = value;
    else if (key == "DEVNAME") devname = value;
  }
  if (subsystem != "tty" || devpath.find("/usb") == std::string_view::npos) return std::nullopt;
  if (devname.empty() || devname.find('/') != std::string_view::npos || devname.front() == '.') return std::nullopt;
  HotplugEvent event;
  if (action == "add")
    event.kind = HotplugEvent::Kind::Added;
  else if (action == "remove")
    event.kind = HotplugEvent::Kind::Removed;
  else
    return std::nullopt;
  event.deviceName = std::string(devname);
  return event;
}

struct HotplugMonitor::Shared {
  Shared(int s, bool kernel, MainLoop& l, Handler h) : socket(s), kernelOnly(kernel), loop(l), onEvent(std::move(h)) {}
  int socket;
  int stopEvent = -1;
  bool kernelOnly;
  MainLoop& loop;
  Handler onEvent;
  bool alive = true;  // main thread only: cleared when the monitor is destroyed
  std::thread thread;

  void Listen(const std::shared_ptr<Shared>& self) {
    std::array<uint8_t, kMessageLimit> buffer{};
    for (;;) {
      pollfd fds[2] = {{socket, POLLIN, 0}, {stopEvent, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents) return;
      if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
        if (!(fds[0].revents & POLLIN)) return;
      }
      sockaddr_nl sender{};
      socklen_t senderSize = sizeof sender;
      const ssize_t n = recvfrom(socket, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&sender), &senderSize);
      if (n < 0) {
        // ENOBUFS: the kernel dropped messages while this one was slow;
        // what follows is still good.
        if (errno == EAGAIN || errno == EINTR || errno == ENOBUFS) continue;
        return;
      }
      if (n == 0 && !kernelOnly) return;  // the other end of a test socket closed
      if (static_cast<std::size_t>(n) > buffer.size()) continue;
      // Only the kernel itself speaks on its group; anything else is not
      // believed.
      if (kernelOnly && (senderSize < sizeof sender || sender.nl_family != AF_NETLINK || sender.nl_pid != 0)) continue;
      const auto event = ParseUevent(buffer.data(), static_cast<std::size_t>(n));
      if (!event) continue;
      loop.post([self, e = *event] {
        if (self->alive) self->onEvent(e);
      });
    }
  }
};

HotplugMonitor::HotplugMonitor(int socket, bool kernelOnly, MainLoop& loop, Handler onEvent)
    : shared_(std::make_shared<Shared>(socket, kernelOnly, loop, std::move(onEvent))) {}

bool HotplugMonitor::Launch(std::string& error) {
  shared_->stopEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (shared_->stopEvent < 0) {
    error = FormatText(Tx("no event descriptor: %s"), std::strerror(errno));
    return false;
  }
  try {
    shared_->thread = std::thread([self = shared_] { self->Listen(self); });
  } catch (const std::system_error& e) {
    error = FormatText(Tx("no thread: %s"), e.what());
    return false;
  }
  return true;
}

std::unique_ptr<HotplugMonitor> HotplugMonitor::Start(MainLoop& loop, Handler onEvent, std::string& error) {
  const int s = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
  if (s < 0) {
    error = FormatText(Tx("the kernel's device events cannot be had: %s"), std::strerror(errno));
    return nullptr;
  }
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = kKernelGroup;
  if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = FormatText(Tx("the kernel's device events cannot be had: %s"), std::strerror(errno));
    close(s);
    return nullptr;
  }
  std::unique_ptr<HotplugMonitor> monitor(new HotplugMonitor(s, true, loop, std::move(onEvent)));
  if (!monitor->Launch(error)) return nullptr;
  return monitor;
}

std::unique_ptr<HotplugMonitor> HotplugMonitor::StartOn(int socket, MainLoop& loop, Handler onEvent,
                                                        std::string& error) {
  std::unique_ptr<HotplugMonitor> monitor(new HotplugMonitor(socket, false, loop, std::move(onEvent)));
  if (!monitor->Launch(error)) return nullptr;
  return monitor;
}

HotplugMonitor::~HotplugMonitor() {
  if (shared_->thread.joinable()) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(shared_->stopEvent, &one, sizeof one);
    shared_->thread.join();
  }
  shared_->alive = false;
  if (shared_->stopEvent >= 0) close(shared_->stopEvent);
  close(shared_->socket);
}

void SettleTimer::Start(MainLoop& loop, std::chrono::milliseconds delay, MainLoop::Task task) {
  Cancel();
  loop_ = &loop;
  id_ = loop.singleShot(delay, [this, task = std::move(task)] {
    id_ = 0;
    // The task may start this timer again: it runs from its own copy.
    const MainLoop::Task run = task;
    run();
  });
}

void SettleTimer::Cancel() {
  if (id_ != 0 && loop_) loop_->cancelTimer(id_);
  id_ = 0;
}

}  // namespace velkor
