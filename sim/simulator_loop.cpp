#include "sim/simulator_loop.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/programmer_model.hpp"
#include "sim/pty_link.hpp"
#include "sim/reply_packets.hpp"

namespace velkor::sim {

namespace {

constexpr std::size_t kReadBlock = 4096;
// A host that sends without reading would make the output grow for ever:
// beyond this much unsent output its input is not read until it catches up.
constexpr std::size_t kMostPendingOutput = std::size_t{1} << 20;

void WriteDiagnostic(int number, std::string_view text) {
  std::string line = "velkor-sim: ";
  if (number > 0) line += "programmer " + std::to_string(number) + ": ";
  line.append(text);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void WriteFailure(int number, const std::string& what) {
  const int err = errno;
  WriteDiagnostic(number, what + ": " + std::strerror(err));
}

struct Programmer {
  Programmer(int n, PtyLink pty, const SimulatorSettings& settings)
      : number(n),
        link(std::move(pty)),
        model(settings.programmer, [n](std::string_view text) { WriteDiagnostic(n, text); }) {
    model.SetFrameTrace(settings.verbose);
  }

  int number;
  PtyLink link;
  ProgrammerModel model;
  std::vector<uint8_t> pending;  // output the master did not take yet
  std::size_t pendingSent = 0;
};

// Writes as much pending output as the master takes. False on a failure of
// the pseudo-terminal.
bool Flush(Programmer& p) {
  const std::vector<uint8_t> output = p.model.TakeOutput();
  p.pending.insert(p.pending.end(), output.begin(), output.end());
  while (p.pendingSent < p.pending.size()) {
    const ssize_t n = write(p.link.MasterFd(), p.pending.data() + p.pendingSent, p.pending.size() - p.pendingSent);
    if (n > 0) {
      p.pendingSent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;  // poll reports when it may go on
    if (n == 0) errno = EIO;
    WriteFailure(p.number, "write to " + p.link.SlavePath());
    return false;
  }
  p.pending.clear();
  p.pendingSent = 0;
  return true;
}

bool ReadFromHost(Programmer& p) {
  std::array<uint8_t, kReadBlock> block;
  const ssize_t n = read(p.link.MasterFd(), block.data(), block.size());
  if (n > 0) {
    p.model.Receive(std::span<const uint8_t>(block.data(), static_cast<std::size_t>(n)));
    return Flush(p);
  }
  if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return true;
  if (n == 0) errno = EIO;
  WriteFailure(p.number, "read from " + p.link.SlavePath());
  return false;
}

bool SendDemonstrationCycle(Programmer& p) {
  for (const ProgressStep& step : kDemonstrationCycle)
    p.model.QueueProgressReport(step.stage, step.result, step.done, step.total);
  WriteDiagnostic(p.number, "demonstration programming cycle sent");
  return Flush(p);
}

// Standard input only tells the simulator when to end: its data is dropped.
// Returns false at its end or on an error.
bool DrainStandardInput() {
  std::array<char, 256> ignored;
  const ssize_t n = read(STDIN_FILENO, ignored.data(), ignored.size());
  return n > 0 || (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK));
}

class SignalChannel {
 public:
  // Blocks the signals and receives them on a descriptor instead, so that
  // they arrive through the poll loop.
  SignalChannel() {
    sigemptyset(&signals_);
    for (int s : {SIGINT, SIGTERM, SIGUSR1}) sigaddset(&signals_, s);
    sigprocmask(SIG_BLOCK, &signals_, nullptr);
    fd_ = signalfd(-1, &signals_, SFD_NONBLOCK | SFD_CLOEXEC);
  }
  ~SignalChannel() {
    if (fd_ >= 0) close(fd_);
  }
  SignalChannel(const SignalChannel&) = delete;
  SignalChannel& operator=(const SignalChannel&) = delete;

  int Fd() const { return fd_; }

  // The next pending signal, or 0 when there is none.
  int Take() const {
    signalfd_siginfo info{};
    return read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
  }

 private:
  sigset_t signals_{};
  int fd_ = -1;
};

int Serve(std::vector<std::unique_ptr<Programmer>>& programmers, const SignalChannel& signals) {
  constexpr std::size_t kFixedFds = 2;
  std::vector<pollfd> fds(kFixedFds + programmers.size());
  for (;;) {
    fds[0] = {signals.Fd(), POLLIN, 0};
    fds[1] = {STDIN_FILENO, POLLIN, 0};
    for (std::size_t i = 0; i < programmers.size(); ++i) {
      const Programmer& p = *programmers[i];
      const std::size_t unsent = p.pending.size() - p.pendingSent;
      short events = 0;
      if (unsent < kMostPendingOutput) events |= POLLIN;
      if (unsent > 0) events |= POLLOUT;
      fds[kFixedFds + i] = {p.link.MasterFd(), events, 0};
    }

    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      WriteFailure(0, "poll");
      return 1;
    }

    if (fds[0].revents & POLLIN) {
      for (int signo = signals.Take(); signo != 0; signo = signals.Take()) {
        if (signo != SIGUSR1) return 0;
        for (auto& p : programmers)
          if (!SendDemonstrationCycle(*p)) return 1;
      }
    }
    if (fds[1].revents != 0 && !DrainStandardInput()) return 0;

    for (std::size_t i = 0; i < programmers.size(); ++i) {
      Programmer& p = *programmers[i];
      const short revents = fds[kFixedFds + i].revents;
      if ((revents & POLLOUT) && !Flush(p)) return 1;
      if (revents & POLLIN) {
        if (!ReadFromHost(p)) return 1;
      } else if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
        WriteDiagnostic(p.number, "pseudo-terminal " + p.link.SlavePath() + " failed");
        return 1;
      }
    }
  }
}

}  // namespace

int RunSimulator(const SimulatorSettings& settings) {
  SignalChannel signals;
  if (signals.Fd() < 0) {
    WriteFailure(0, "signalfd");
    return 1;
  }
  // A host that stops reading the port list must not end the simulator by
  // SIGPIPE; the failed write is reported instead.
  signal(SIGPIPE, SIG_IGN);

  std::vector<std::unique_ptr<Programmer>> programmers;
  for (int n = 1; n <= settings.count; ++n) {
    std::string error;
    std::optional<PtyLink> pty = PtyLink::Open(error);
    if (!pty) {
      WriteDiagnostic(n, "cannot open a pseudo-terminal: " + error);
      return 1;
    }
    programmers.push_back(std::make_unique<Programmer>(n, std::move(*pty), settings));
  }

  for (const auto& p : programmers) std::printf("%s\n", p->link.SlavePath().c_str());
  if (std::fflush(stdout) != 0) {
    WriteFailure(0, "cannot write the port paths to standard output");
    return 1;
  }
  for (const auto& p : programmers) WriteDiagnostic(p->number, "serving " + p->link.SlavePath());

  return Serve(programmers, signals);
}

}  // namespace velkor::sim
