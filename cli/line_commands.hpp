// The production line's database on the command line: `velkor-cli pool`
// makes, lists, shows and releases serial-number pools, `velkor-cli
// records` lists the chips' records and `velkor-cli sessions` the runs of
// jobs at the stations; --db and --station say where the database is and
// who this station is.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

#include "cli/event_output.hpp"

namespace velkor::cli {

struct LineCommandOptions {
  std::string db;
  std::string poolName;
  uint64_t first = 0;
  uint64_t step = 1;
  uint64_t last = 0;
  std::string onFailure = "void";
  std::string address = "0";
  bool bigEndian = false;
  bool numbers = false;
  int64_t reservation = 0;
  std::string since;
  std::size_t limit = 0;
};

// Adds `pool` (with create, list, show, release), `records` and `sessions` to app.
void AddLineCommands(CLI::App& app, LineCommandOptions& options);
// Runs the one of them that was parsed; false when none was.
bool RunLineCommand(CLI::App& app, const LineCommandOptions& options, EventOutput& output, int& status);

}  // namespace velkor::cli
