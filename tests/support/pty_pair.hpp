// A pseudo-terminal pair for tests of the serial layer: the test holds the
// master and plays the programmer; the code under test opens the slave path.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace velkor::test {

class PtyPair {
 public:
  PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) throw std::runtime_error("no pty");
    slavePath_ = ptsname(master_);
    // Raw from the start, so that the line discipline never echoes.
    const int slave = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    close(slave);
  }
  ~PtyPair() { CloseMaster(); }

  const std::string& SlavePath() const { return slavePath_; }
  int Master() const { return master_; }
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  void Write(const std::vector<uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      pollfd pfd{master_, POLLOUT, 0};
      if (poll(&pfd, 1, 5000) <= 0) throw std::runtime_error("pty master write stalled");
    }
  }

  // Reads what arrives until the line has been quiet for the given time.
  std::vector<uint8_t> ReadUntilQuiet(std::chrono::milliseconds quiet) {
    std::vector<uint8_t> got;
    uint8_t buffer[4096];
    pollfd pfd{master_, POLLIN, 0};
    while (poll(&pfd, 1, static_cast<int>(quiet.count())) > 0) {
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

  // Reads until count bytes have arrived or the deadline passes.
  std::vector<uint8_t> Read(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::vector<uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    uint8_t buffer[4096];
    while (got.size() < count) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      pollfd pfd{master_, POLLIN, 0};
      if (poll(&pfd, 1, static_cast<int>(left)) <= 0) break;
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) continue;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

 private:
  int master_ = -1;
  std::string slavePath_;
};

}  // namespace velkor::test
