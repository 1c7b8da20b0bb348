// Signals delivered as bytes on a pipe, for an event loop to watch: the
// handler only writes the signal's number, and what the signal means is
// decided on the main thread. One in a process at a time.
#pragma once

#include <csignal>
#include <initializer_list>
#include <utility>
#include <vector>

namespace velkor {

class SignalPipe {
 public:
  // Catches these signals from now on. When the pipe cannot be made (no
  // file descriptor left), the signals keep the handlers they have, and
  // ReadFd is -1, which poll() passes over.
  explicit SignalPipe(std::initializer_list<int> signals);
  // Gives the signals back to the handlers they had before.
  ~SignalPipe();
  SignalPipe(const SignalPipe&) = delete;
  SignalPipe& operator=(const SignalPipe&) = delete;

  // Readable while signals wait to be taken.
  int ReadFd() const { return readFd_; }
  // The signals that arrived since the last call, in the order they came.
  std::vector<int> Take();

 private:
  int readFd_ = -1;
  int writeFd_ = -1;
  std::vector<std::pair<int, struct sigaction>> previous_;
};

}  // namespace velkor
