// The job settings of the window as command-line options. An option not
// given leaves its control as the chip's selection (or the project file)
// set it, so the defaults are the window's.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "app/qn_programmer.hpp"

namespace velkor::cli {

struct JobOptions {
  std::optional<std::string> voltage;  // "3.3", "5", "1.8"
  std::optional<std::string> clock;    // "100k", "200k", "400k", "1M"
  std::optional<int> protect;
  bool srwdDisabled = false;
  bool quadEnable = false;
  bool writeProtect = false;
  std::optional<std::string> deviceAddress;
  std::optional<int> pageSize;
  std::optional<bool> autoErase, autoBlankCheck, autoProgram, autoVerify;
  bool errorIfNotBlank = false;
  bool wholeChip = false;
  bool extendedAddressing = false;
  bool detectChip = false;
  std::optional<int> powerUpMs, powerDownMs, settleMs, removeMs;
  std::optional<std::string> serialStart, serialStep, serialAddress;
  bool serialBigEndian = false;
  bool serialHost = false;
  // Host-side numbers from a list file or a generator program.
  std::optional<std::string> serialList, serialGenerator, serialFailed;
  std::optional<int> serialGeneratorMs;
  std::optional<int> burnLimit;
  // Verification: read a failing chip back to find where it differs, check
  // the chip's ID before programming, verify by read-back on the host.
  std::optional<bool> locate;
  bool checkId = false;
  bool readback = false;
};

// Registers the options on a subcommand, in an option group of their own.
void AddJobOptions(CLI::App& command, JobOptions& options);

// The form and range of every value that needs no chip, checked before any
// port is opened: an error text naming the option, or empty.
std::string CheckJobValues(const JobOptions& options);

// Sets the controls as the operator would, running each control's handler.
// Returns an error text when an option does not fit the chosen chip or its
// control's range; nothing is started then.
std::string ApplyJobOptions(const JobOptions& options, TQNProgrammer& programmer);

}  // namespace velkor::cli
