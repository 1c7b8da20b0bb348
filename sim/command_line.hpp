// The options of velkor-sim.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>

#include "sim/programmer_options.hpp"
#include "sim/wire_schedule.hpp"

namespace velkor::sim {

inline constexpr int kMostProgrammers = 8;

struct SimulatorSettings {
  int count = 1;  // programmers, one pseudo-terminal each
  ProgrammerOptions programmer;  // every programmer alike
  LineOptions line;
  bool verbose = false;  // log every frame
};

struct CommandLineResult {
  // Empty when the program is to end at once with exitCode: after --help,
  // or after an error that has been written to err.
  std::optional<SimulatorSettings> settings;
  int exitCode = 0;
};

CommandLineResult ParseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace velkor::sim
