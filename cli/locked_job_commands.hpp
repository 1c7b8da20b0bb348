// Locked jobs on the command line: `velkor-cli lock` is the engineer's
// step (a project file made into a locked job), `velkor-cli run` the
// operator's (the locked job verified, then programmed automatically with
// its own settings; nothing of the job can be changed from the command
// line).
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "cli/event_output.hpp"
#include "cli/session.hpp"

namespace velkor::cli {

struct LockedJobOptions {
  std::string project;         // lock: the project file to lock
  std::string job;             // the locked job's file
  std::string passphraseFile;  // the lock's passphrase, the first line of this file
  std::string keyFile;         // or the bytes of this key file
};

CLI::App* AddLockCommand(CLI::App& app, LockedJobOptions& options);
CLI::App* AddRunCommand(CLI::App& app, LockedJobOptions& options);

// Each returns the exit status.
int RunLock(EventOutput& output, const LockedJobOptions& options);
int RunLockedJob(EventOutput& output, const LockedJobOptions& options, const ConnectOptions& connection,
                 const RecordOptions& records, const LineSettings& line);

}  // namespace velkor::cli
