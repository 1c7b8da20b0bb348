#include "platform/signal_pipe.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace velkor {

namespace {

volatile std::sig_atomic_t gWriteFd = -1;

void OnSignal(int signal) {
  const int saved = errno;
  const auto byte = static_cast<uint8_t>(signal);
  // A full pipe drops the byte: the signals before it are still there.
  [[maybe_unused]] const ssize_t written = write(gWriteFd, &byte, 1);
  errno = saved;
}

}  // namespace

SignalPipe::SignalPipe(std::initializer_list<int> signals) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  readFd_ = fds[0];
  writeFd_ = fds[1];
  gWriteFd = writeFd_;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : signals) {
    // Fails only for a number that is no signal, or one that cannot be caught.
    struct sigaction before {};
    if (sigaction(signal, &action, &before) == 0) previous_.emplace_back(signal, before);
  }
}

SignalPipe::~SignalPipe() {
  for (const auto& [signal, before] : previous_) sigaction(signal, &before, nullptr);
  gWriteFd = -1;
  if (readFd_ >= 0) close(readFd_);
  if (writeFd_ >= 0) close(writeFd_);
}

std::vector<int> SignalPipe::Take() {
  std::vector<int> taken;
  if (readFd_ < 0) return taken;
  uint8_t bytes[64];
  for (ssize_t got; (got = read(readFd_, bytes, sizeof bytes)) > 0;)
    for (ssize_t i = 0; i < got; ++i) taken.push_back(bytes[i]);
  return taken;
}

}  // namespace velkor
