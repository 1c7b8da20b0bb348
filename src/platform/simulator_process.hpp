// Runs the simulated programmer (velkor-sim) as a child process and reads
// the ports it prints, one path per line. The simulator ends when its
// standard input closes, so it never outlives this program.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace velkor {

class SimulatorProcess {
 public:
  // Starts program with args and waits up to timeout for count port lines.
  // Returns null and fills error when the program cannot be started or does
  // not print its ports in time.
  // The simulator's standard error is this program's, or the file at
  // errorLog ("/dev/null" to drop what it says) when one is named.
  static std::unique_ptr<SimulatorProcess> Start(const std::string& program, const std::vector<std::string>& args,
                                                 int count, std::chrono::milliseconds timeout, std::string& error,
                                                 const std::string& errorLog = {});

  // Closes the simulator's standard input and waits for it to end; one that
  // does not end within two seconds is terminated.
  ~SimulatorProcess();
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  const std::vector<std::string>& Ports() const { return ports_; }
  pid_t Pid() const { return pid_; }

 private:
  SimulatorProcess(pid_t pid, int stdinFd, int stdoutFd) : pid_(pid), stdinFd_(stdinFd), stdoutFd_(stdoutFd) {}

  pid_t pid_;
  int stdinFd_;
  int stdoutFd_;
  std::vector<std::string> ports_;
};

// Where the simulator program is: $VELKOR_SIM, then beside the running
// program, then "velkor-sim" on the PATH.
std::string FindSimulatorProgram();

}  // namespace velkor
