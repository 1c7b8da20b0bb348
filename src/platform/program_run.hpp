// Runs a helper program to its end and collects what it prints, within a
// time limit and an output limit: the program is started directly (no
// shell), its standard input is /dev/null, its standard error is ours.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace velkor {

struct ProgramRun {
  enum class End {
    Exited,         // it ended by itself; exitStatus says how
    Signalled,      // a signal ended it; signal says which
    TimedOut,       // still running at the time limit: killed
    TooMuchOutput,  // printed more than the output limit: killed
    NotStarted,     // reason says why
  };
  End end = End::NotStarted;
  int exitStatus = 0;
  int signal = 0;
  std::string output;
  std::string reason;
};

// Runs program (looked up on the PATH when it has no '/') with args, and
// with environment added to ours ("NAME=value" entries). A program killed
// for its time or its output is waited for, so no child is left behind.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& environment, std::chrono::milliseconds limit,
                      std::size_t outputLimit);

}  // namespace velkor
