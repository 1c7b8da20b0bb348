#include "platform/program_run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace velkor {
namespace {

using Clock = std::chrono::steady_clock;

void CloseBoth(int fds[2]) {
  ::close(fds[0]);
  ::close(fds[1]);
}

// Waits for pid, retrying only when a signal interrupted the wait.
int WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Whether pid has ended by deadline. The output closed, so the program
// normally ends at once; one that closed its output and keeps running is
// held to the same time limit.
bool WaitUntil(pid_t pid, Clock::time_point deadline) {
  const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidFd < 0) return true;  // no process descriptors here: wait for it plainly
  bool ended = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd wait{pidFd, POLLIN, 0};
    const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    ended = ready > 0;
    if (ready != 0) break;
  }
  ::close(pidFd);
  return ended;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& environment, std::chrono::milliseconds limit,
                      std::size_t outputLimit) {
  ProgramRun run;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    run.reason = std::strerror(errno);
    return run;
  }
  std::vector<std::string> argTexts{program};
  argTexts.insert(argTexts.end(), args.begin(), args.end());
  std::vector<std::string> envTexts;
  for (char** e = environ; *e != nullptr; ++e) envTexts.emplace_back(*e);
  envTexts.insert(envTexts.end(), environment.begin(), environment.end());
  std::vector<char*> argv = Pointers(argTexts);
  std::vector<char*> envp = Pointers(envTexts);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  // Its own process group, so that a kill reaches what it started too (a
  // script's commands).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    CloseBoth(out);
    run.reason = std::strerror(spawned);
    return run;
  }
  ::close(out[1]);

  const Clock::time_point deadline = Clock::now() + limit;
  bool killed = false;
  char block[512];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      run.end = ProgramRun::End::TimedOut;
      killed = true;
      break;
    }
    pollfd wait{out[0], POLLIN, 0};
    const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) continue;  // the deadline is checked at the top
    const ssize_t got = ready < 0 ? -1 : ::read(out[0], block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // end of its output (or a broken pipe): it is ending
    run.output.append(block, static_cast<std::size_t>(got));
    if (run.output.size() > outputLimit) {
      run.end = ProgramRun::End::TooMuchOutput;
      killed = true;
      break;
    }
  }
  ::close(out[0]);
  if (killed) ::kill(-pid, SIGKILL);
  if (!killed && !WaitUntil(pid, deadline)) {
    ::kill(-pid, SIGKILL);
    killed = true;
    run.end = ProgramRun::End::TimedOut;
  }
  const int status = WaitFor(pid);
  if (killed) return run;
  if (WIFSIGNALED(status)) {
    run.end = ProgramRun::End::Signalled;
    run.signal = WTERMSIG(status);
  } else {
    run.end = ProgramRun::End::Exited;
    run.exitStatus = WEXITSTATUS(status);
  }
  return run;
}

}  // namespace velkor
