// The programmers' firmware on the command line: `velkor-cli upgrade`
// replaces it from a firmware file, and nothing else does. Every other
// subcommand takes the programmers as it finds them and says which ones
// are behind the file.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "app/qn_programmer.hpp"
#include "cli/event_output.hpp"
#include "cli/session.hpp"

namespace velkor::cli {

struct UpgradeOptions {
  std::string firmware;  // the firmware file; empty: the one the window would read
  bool force = false;    // programmers whose firmware is not older are upgraded too
};

// Adds the upgrade subcommand and its options to app.
CLI::App* AddUpgradeCommand(CLI::App& app, UpgradeOptions& options);

// Checks the firmware file before anything is sent, finds the programmers,
// upgrades those whose firmware is older than the file's or that hold their
// boot loader only (with force: every one found), then searches again and
// checks that each upgraded programmer reports the file's version. Returns
// the exit status.
int RunUpgrade(EventOutput& output, ConnectOptions connection, const RecordOptions& records,
               const UpgradeOptions& options);

// After a search of any other subcommand: a warning for each programmer
// whose firmware is older than the file's or that holds its boot loader only.
// base is added to the programmers' numbers (a group's first is base + 1).
void AdviseUpgrades(const TQNProgrammer& programmer, EventOutput& output, int base = 0);

// How many programmers answered with their boot loader only (they are not
// counted as found).
int ProgrammersWithoutFirmware(const TQNProgrammer& programmer);

}  // namespace velkor::cli
