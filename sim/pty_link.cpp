#include "sim/pty_link.hpp"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace velkor::sim {

namespace {

std::string Failure(const char* call, const std::string& path = {}) {
  const int err = errno;
  return std::string(call) + (path.empty() ? "" : " " + path) + ": " + std::strerror(err);
}

}  // namespace

std::optional<PtyLink> PtyLink::Open(std::string& error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0) {
    error = Failure("posix_openpt");
    return std::nullopt;
  }
  const char* path = nullptr;
  if (grantpt(master) != 0) {
    error = Failure("grantpt");
  } else if (unlockpt(master) != 0) {
    error = Failure("unlockpt");
  } else if ((path = ptsname(master)) == nullptr) {
    error = Failure("ptsname");
  }
  if (path == nullptr) {
    close(master);
    return std::nullopt;
  }

  std::string slavePath(path);
  const int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    error = Failure("open", slavePath);
    close(master);
    return std::nullopt;
  }
  // Raw, so that the line discipline neither echoes nor translates a byte
  // before the host has set up the port itself.
  termios settings{};
  if (tcgetattr(slave, &settings) != 0) {
    error = Failure("tcgetattr", slavePath);
  } else {
    cfmakeraw(&settings);
    if (tcsetattr(slave, TCSANOW, &settings) == 0) return PtyLink(master, slave, std::move(slavePath));
    error = Failure("tcsetattr", slavePath);
  }
  close(slave);
  close(master);
  return std::nullopt;
}

PtyLink::PtyLink(int master, int slave, std::string slavePath)
    : master_(master), slave_(slave), slavePath_(std::move(slavePath)) {}

PtyLink::PtyLink(PtyLink&& other) noexcept
    : master_(std::exchange(other.master_, -1)),
      slave_(std::exchange(other.slave_, -1)),
      slavePath_(std::move(other.slavePath_)) {}

PtyLink::~PtyLink() { HangUp(); }

std::size_t PtyLink::UnreadByHost() const {
  int queued = 0;
  if (slave_ < 0 || ioctl(slave_, FIONREAD, &queued) != 0 || queued < 0) return 0;
  return static_cast<std::size_t>(queued);
}

void PtyLink::HangUp() {
  if (slave_ >= 0) close(std::exchange(slave_, -1));
  if (master_ >= 0) close(std::exchange(master_, -1));
}

}  // namespace velkor::sim
