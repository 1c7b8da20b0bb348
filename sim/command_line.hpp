// The options of velkor-sim.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "sim/programmer_options.hpp"
#include "sim/adapter_latency.hpp"
#include "sim/wire_schedule.hpp"

namespace velkor::sim {

inline constexpr int kMostProgrammers = 8;

struct SimulatorSettings {
  int count = 1;  // programmers, one pseudo-terminal each
  ProgrammerOptions programmer;  // every programmer alike
  LineOptions line;
  AdapterOptions adapter;  // the USB serial adapter's latency timer
  bool verbose = false;  // log every frame
  // Bytes each programmer received and sent, on standard error at the end
  // and on SIGUSR2.
  bool wireSummary = false;
  // The pause before each automatic stand-alone cycle (--auto-cycles): the
  // first follows the completed download by this much.
  std::chrono::milliseconds cycleInterval{100};
  // When not empty, an existing directory that receives the chips: each one
  // a stand-alone cycle leaves, and every socket's chip at the end.
  std::string dumpDirectory;
  // When not empty, programmer N appends every byte it reads from the host,
  // raw as it came off the line, to the file capturePrefix + "." + N.
  std::string capturePrefix;
};

struct CommandLineResult {
  // Empty when the program is to end at once with exitCode: after --help,
  // or after an error that has been written to err.
  std::optional<SimulatorSettings> settings;
  int exitCode = 0;
};

CommandLineResult ParseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace velkor::sim
