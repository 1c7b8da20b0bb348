#include "sim/simulator_loop.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/chip_dump.hpp"
#include "sim/programmer_model.hpp"
#include "sim/pty_link.hpp"
#include "sim/reply_packets.hpp"
#include "sim/wire_schedule.hpp"

namespace velkor::sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadBlock = 4096;
// A host that sends without reading would make the output grow for ever:
// beyond this much unsent output its input is not read until it catches up.
constexpr std::size_t kMostPendingOutput = std::size_t{1} << 20;
// A streamed read is taken from the model one block at a time while less
// than this is waiting, so that it never holds up the other programmers.
constexpr std::size_t kRefillBelow = 16 * 1024;
// Sent bytes are dropped from the front of the pending output in pieces of
// at least this much.
constexpr std::size_t kCompactAfter = 64 * 1024;
// Before it hangs up, a programmer waits this long at most for the host to
// read what was sent before, checking this often.
constexpr auto kHangUpGrace = std::chrono::seconds(2);
constexpr auto kHangUpCheck = std::chrono::milliseconds(10);

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
        model(settings.programmer, [n](std::string_view text) { WriteDiagnostic(n, text); }),
        wire(settings.line),
        adapter(settings.adapter) {
    model.SetFrameTrace(settings.verbose);
  }
  ~Programmer() {
    if (captureFd >= 0) close(captureFd);
  }
  Programmer(const Programmer&) = delete;
  Programmer& operator=(const Programmer&) = delete;

  std::size_t Unsent() const { return pending.size() - pendingSent; }
  // Output the line has yet to carry (what the adapter holds is past it).
  std::size_t OnLine() const { return Unsent() - adapter.Held(); }
  // When the next output may move: over the line, or out of the adapter.
  Clock::time_point NextOutput() const {
    Clock::time_point next = adapter.NextRelease();
    if (OnLine() > 0) next = std::min(next, wire.NextWrite());
    return next;
  }

  int number;
  PtyLink link;
  ProgrammerModel model;
  WireSchedule wire;
  AdapterBuffer adapter;
  std::vector<uint8_t> pending;  // output the master did not take yet
  std::size_t pendingSent = 0;
  uint32_t blocksSeen = 0;  // blocks the wire schedule has been told about
  uint32_t downloadsSeen = 0;  // completed downloads the automatic cycles have been timed from
  std::optional<Clock::time_point> nextAutoCycle;
  std::optional<Clock::time_point> hangUpDeadline;
  bool gone = false;  // hung up
  int captureFd = -1;  // --capture: what the host sent, raw
  // Bytes on the line so far: taken from the host, and written to it.
  uint64_t bytesReceived = 0;
  uint64_t bytesSent = 0;
};

// Takes what the model has to send, a block of a streamed read at a time,
// each ready for the line when the chip's time for its block has passed.
void Refill(Programmer& p, Clock::time_point now) {
  for (;;) {
    const std::vector<uint8_t> output = p.model.TakeOutput();
    const uint32_t blocks = p.model.Counters().blocksTransferred;
    p.wire.Queued(output.size(), blocks - p.blocksSeen, now);
    p.blocksSeen = blocks;
    if (output.empty()) return;
    if (p.pendingSent == p.pending.size()) {
      p.pending.clear();
      p.pendingSent = 0;
    } else if (p.pendingSent >= kCompactAfter) {
      p.pending.erase(p.pending.begin(), p.pending.begin() + static_cast<std::ptrdiff_t>(p.pendingSent));
      p.pendingSent = 0;
    }
    p.pending.insert(p.pending.end(), output.begin(), output.end());
    if (p.Unsent() >= kRefillBelow) return;
  }
}

// Writes as much pending output as the schedule allows and the master
// takes. False on a failure of the pseudo-terminal.
bool Flush(Programmer& p) {
  for (;;) {
    const Clock::time_point now = Clock::now();
    Refill(p, now);
    std::size_t allowed = p.wire.Allowance(now, p.OnLine());
    if (p.adapter.Active()) {
      // The line hands its bytes to the adapter, which passes them on by
      // whole packets or when its timer runs out.
      if (allowed > 0) {
        p.wire.Wrote(allowed, now);
        p.adapter.Arrived(allowed, now);
        continue;
      }
      allowed = p.adapter.Releasable(now);
    }
    if (allowed == 0) return true;  // nothing to send, or not yet
    const ssize_t n = write(p.link.MasterFd(), p.pending.data() + p.pendingSent, allowed);
    if (n > 0) {
      p.pendingSent += static_cast<std::size_t>(n);
      p.bytesSent += static_cast<uint64_t>(n);
      if (p.adapter.Active())
        p.adapter.Released(static_cast<std::size_t>(n), now);
      else
        p.wire.Wrote(static_cast<std::size_t>(n), now);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;  // poll reports when it may go on
    if (n == 0) errno = EIO;
    WriteFailure(p.number, "write to " + p.link.SlavePath());
    return false;
  }
}

// A regular file takes the whole block unless it fails.
bool WriteWhole(int fd, const uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadFromHost(Programmer& p) {
  std::array<uint8_t, kReadBlock> block;
  const ssize_t n = read(p.link.MasterFd(), block.data(), block.size());
  if (n > 0) {
    p.bytesReceived += static_cast<uint64_t>(n);
    if (p.captureFd >= 0 && !WriteWhole(p.captureFd, block.data(), static_cast<std::size_t>(n))) {
      WriteFailure(p.number, "write to the capture file");
      return false;
    }
    p.wire.Received(static_cast<std::size_t>(n), Clock::now());
    p.model.Receive(std::span<const uint8_t>(block.data(), static_cast<std::size_t>(n)));
    return Flush(p);
  }
  if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return true;
  if (n == 0) errno = EIO;
  WriteFailure(p.number, "read from " + p.link.SlavePath());
  return false;
}

// A programmer that hangs up first lets the host read what it sent before,
// as a device does whose last bytes are on the wire when it goes away.
void HangUpWhenDrained(Programmer& p, Clock::time_point now) {
  if (!p.hangUpDeadline) p.hangUpDeadline = now + kHangUpGrace;
  const bool drained = p.Unsent() == 0 && p.link.UnreadByHost() == 0;
  if (!drained && now < *p.hangUpDeadline) return;
  WriteDiagnostic(p.number, "hung up: " + p.link.SlavePath() + " closed");
  p.link.HangUp();
  p.gone = true;
  p.pending.clear();
  p.pendingSent = 0;
}

void DumpChip(const Programmer& p, const std::string& directory, const std::string& name) {
  const std::string error = WriteChipFile(directory + "/" + name, p.model.Chip().Memory());
  if (!error.empty()) WriteDiagnostic(p.number, error);
}

// One stand-alone cycle (or the next automatic one); the chip it leaves
// goes to the dump directory.
bool RunCycle(Programmer& p, const SimulatorSettings& settings, bool automatic) {
  if (p.gone) return true;
  const CycleOutcome outcome = automatic ? p.model.RunAutoCycle() : p.model.RunStandAloneCycle();
  if (outcome.chipInserted && !settings.dumpDirectory.empty())
    DumpChip(p, settings.dumpDirectory,
             "programmer-" + std::to_string(p.number) + "-cycle-" + std::to_string(outcome.number) + ".bin");
  return Flush(p);
}

// The automatic cycles after a download: the first one interval after the
// download completed, each next one an interval after the one before, as
// long as the model has cycles left (a new download takes them away).
bool RunDueAutoCycle(Programmer& p, const SimulatorSettings& settings) {
  const uint32_t completed = p.model.Counters().downloadsCompleted;
  if (completed != p.downloadsSeen) {
    p.downloadsSeen = completed;
    p.nextAutoCycle = Clock::now() + settings.cycleInterval;
  }
  if (p.model.AutoCyclesLeft() == 0) p.nextAutoCycle.reset();
  if (!p.nextAutoCycle || Clock::now() < *p.nextAutoCycle) return true;
  if (!RunCycle(p, settings, true)) return false;
  p.nextAutoCycle.reset();
  if (p.model.AutoCyclesLeft() > 0) p.nextAutoCycle = Clock::now() + settings.cycleInterval;
  return true;
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
  // SIGUSR2 only with the wire summary; otherwise it keeps its default.
  explicit SignalChannel(bool summaryOnSignal) {
    sigemptyset(&signals_);
    for (int s : {SIGINT, SIGTERM, SIGUSR1}) sigaddset(&signals_, s);
    if (summaryOnSignal) sigaddset(&signals_, SIGUSR2);
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

// One line per programmer: "velkor-sim: programmer N: wire: received R
// bytes, sent S bytes, Q requests", counted from the start.
void WriteWireSummary(const std::vector<std::unique_ptr<Programmer>>& programmers) {
  for (const auto& p : programmers)
    WriteDiagnostic(p->number, "wire: received " + std::to_string(p->bytesReceived) + " bytes, sent " +
                                   std::to_string(p->bytesSent) + " bytes, " +
                                   std::to_string(p->model.Counters().requests) + " requests");
  std::fflush(stderr);
}

timespec ToTimespec(Clock::duration wait) {
  const auto us = std::chrono::ceil<std::chrono::microseconds>(std::max(wait, Clock::duration::zero())).count();
  return {static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
}

int Serve(std::vector<std::unique_ptr<Programmer>>& programmers, const SignalChannel& signals,
          const SimulatorSettings& settings) {
  constexpr std::size_t kFixedFds = 2;
  std::vector<pollfd> fds(kFixedFds + programmers.size());
  for (;;) {
    fds[0] = {signals.Fd(), POLLIN, 0};
    fds[1] = {STDIN_FILENO, POLLIN, 0};
    const Clock::time_point now = Clock::now();
    std::optional<Clock::duration> wait;
    const auto waitAtMost = [&wait](Clock::duration d) { wait = wait ? std::min(*wait, d) : d; };
    for (std::size_t i = 0; i < programmers.size(); ++i) {
      const Programmer& p = *programmers[i];
      if (p.gone) {
        fds[kFixedFds + i] = {-1, 0, 0};
        continue;
      }
      const std::size_t unsent = p.Unsent();
      short events = 0;
      if (unsent < kMostPendingOutput && !p.model.HungUp()) events |= POLLIN;
      if (unsent > 0) {
        const Clock::time_point next = p.NextOutput();
        if (next <= now)
          events |= POLLOUT;
        else if (next != Clock::time_point::max())
          waitAtMost(next - now);
      }
      if (p.model.HungUp()) waitAtMost(kHangUpCheck);
      if (p.nextAutoCycle) waitAtMost(std::max(*p.nextAutoCycle - now, Clock::duration::zero()));
      fds[kFixedFds + i] = {p.link.MasterFd(), events, 0};
    }

    const timespec timeout = ToTimespec(wait.value_or(Clock::duration::zero()));
    if (ppoll(fds.data(), fds.size(), wait ? &timeout : nullptr, nullptr) < 0) {
      if (errno == EINTR) continue;
      WriteFailure(0, "poll");
      return 1;
    }

    if (fds[0].revents & POLLIN) {
      for (int signo = signals.Take(); signo != 0; signo = signals.Take()) {
        if (signo == SIGUSR2) {
          WriteWireSummary(programmers);
          continue;
        }
        if (signo != SIGUSR1) return 0;
        for (auto& p : programmers)
          if (!RunCycle(*p, settings, false)) return 1;
      }
    }
    if (fds[1].revents != 0 && !DrainStandardInput()) return 0;

    for (std::size_t i = 0; i < programmers.size(); ++i) {
      Programmer& p = *programmers[i];
      if (p.gone) continue;
      const short revents = fds[kFixedFds + i].revents;
      if (revents & POLLIN) {
        if (!ReadFromHost(p)) return 1;
      } else if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
        WriteDiagnostic(p.number, "pseudo-terminal " + p.link.SlavePath() + " failed");
        return 1;
      }
      // Output whose time has come goes out whether or not poll saw it.
      if (!Flush(p)) return 1;
      if (!RunDueAutoCycle(p, settings)) return 1;
      if (p.model.HungUp()) HangUpWhenDrained(p, Clock::now());
    }
  }
}

}  // namespace

int RunSimulator(const SimulatorSettings& settings) {
  SignalChannel signals(settings.wireSummary);
  if (signals.Fd() < 0) {
    WriteFailure(0, "signalfd");
    return 1;
  }
  // A host that stops reading the port list must not end the simulator by
  // SIGPIPE; the failed write is reported instead.
  signal(SIGPIPE, SIG_IGN);
  // A paced line's bytes are due to the microsecond; the timer slack the
  // system grants by default (50 us) would add to every exchange.
  if (settings.line.paced) prctl(PR_SET_TIMERSLACK, 1UL);

  std::vector<std::unique_ptr<Programmer>> programmers;
  for (int n = 1; n <= settings.count; ++n) {
    std::string error;
    std::optional<PtyLink> pty = PtyLink::Open(error);
    if (!pty) {
      WriteDiagnostic(n, "cannot open a pseudo-terminal: " + error);
      return 1;
    }
    programmers.push_back(std::make_unique<Programmer>(n, std::move(*pty), settings));
    if (!settings.capturePrefix.empty()) {
      const std::string path = settings.capturePrefix + "." + std::to_string(n);
      programmers.back()->captureFd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (programmers.back()->captureFd < 0) {
        WriteFailure(n, "cannot open the capture file " + path);
        return 1;
      }
    }
  }

  for (const auto& p : programmers) std::printf("%s\n", p->link.SlavePath().c_str());
  if (std::fflush(stdout) != 0) {
    WriteFailure(0, "cannot write the port paths to standard output");
    return 1;
  }
  for (const auto& p : programmers) WriteDiagnostic(p->number, "serving " + p->link.SlavePath());

  const int status = Serve(programmers, signals, settings);
  if (settings.wireSummary) WriteWireSummary(programmers);
  // An orderly end leaves every socket's chip behind; a programmer that never
  // had a chip leaves an empty file.
  if (status == 0 && !settings.dumpDirectory.empty())
    for (const auto& p : programmers)
      DumpChip(*p, settings.dumpDirectory, "programmer-" + std::to_string(p->number) + ".bin");
  return status;
}

}  // namespace velkor::sim
