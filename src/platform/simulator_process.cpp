#include "platform/simulator_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "data/text_format.hpp"
#include "text/text_table.hpp"

extern char** environ;

namespace velkor {

namespace {

using Clock = std::chrono::steady_clock;

// Reads lines from fd until count have arrived or the deadline passes.
bool ReadLines(int fd, int count, Clock::time_point deadline, std::vector<std::string>& lines) {
  std::string pending;
  char buffer[512];
  while (static_cast<int>(lines.size()) < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd pfd{fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    pending.append(buffer, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty()) lines.push_back(std::move(line));
    }
  }
  return true;
}

// Waits for the child to end, on a pidfd so that the wait sleeps.
bool WaitForExit(pid_t pid, std::chrono::milliseconds bound) {
  const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidFd >= 0) {
    pollfd pfd{pidFd, POLLIN, 0};
    while (poll(&pfd, 1, static_cast<int>(bound.count())) < 0 && errno == EINTR) {
    }
    close(pidFd);
  }
  int status = 0;
  const pid_t done = waitpid(pid, &status, WNOHANG);
  return done == pid || (done < 0 && errno == ECHILD);
}

}  // namespace

std::unique_ptr<SimulatorProcess> SimulatorProcess::Start(const std::string& program,
                                                          const std::vector<std::string>& args, int count,
                                                          std::chrono::milliseconds timeout, std::string& error,
                                                          const std::string& errorLog) {
  int toChild[2];
  int fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0) {
    error = FormatText(Tx("cannot create a pipe: %s"), std::strerror(errno));
    return nullptr;
  }
  if (pipe2(fromChild, O_CLOEXEC) != 0) {
    error = FormatText(Tx("cannot create a pipe: %s"), std::strerror(errno));
    close(toChild[0]);
    close(toChild[1]);
    return nullptr;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
  if (!errorLog.empty())
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);

  std::vector<std::string> argvText{program};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  // A process group of its own: the terminal's Ctrl+C is meant for the
  // program that started it, which may stop its operations cleanly and
  // needs its programmers for that. It still ends with its standard input.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(toChild[0]);
  close(fromChild[1]);
  if (spawned != 0) {
    error = FormatText(Tx("cannot start %s: %s"), program.c_str(), std::strerror(spawned));
    close(toChild[1]);
    close(fromChild[0]);
    return nullptr;
  }

  std::unique_ptr<SimulatorProcess> process(new SimulatorProcess(pid, toChild[1], fromChild[0]));
  if (!ReadLines(fromChild[0], count, Clock::now() + timeout, process->ports_)) {
    error = FormatText(Tx("%s did not report its ports"), program.c_str());
    return nullptr;
  }
  return process;
}

SimulatorProcess::~SimulatorProcess() {
  close(stdinFd_);
  if (!WaitForExit(pid_, std::chrono::milliseconds(2000))) {
    kill(pid_, SIGTERM);
    if (!WaitForExit(pid_, std::chrono::milliseconds(1000))) {
      kill(pid_, SIGKILL);
      WaitForExit(pid_, std::chrono::milliseconds(1000));
    }
  }
  close(stdoutFd_);
}

std::string FindSimulatorProgram() {
  if (const char* fromEnv = std::getenv("VELKOR_SIM"); fromEnv && *fromEnv) return fromEnv;
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    for (const auto& dir : {self.parent_path(), self.parent_path().parent_path() / "sim"}) {
      const auto candidate = dir / "velkor-sim";
      if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
  }
  if (const char* path = std::getenv("PATH")) {
    std::string_view rest(path);
    while (!rest.empty()) {
      const auto colon = rest.find(':');
      const auto dir = rest.substr(0, colon);
      const auto candidate = std::filesystem::path(dir) / "velkor-sim";
      if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) return candidate.string();
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  return "velkor-sim";
}

}  // namespace velkor
