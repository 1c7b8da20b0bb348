// The exit statuses of velkor-cli, one per kind of end, so that a script or
// a production fixture can tell them apart.
#pragma once

#include "data/job_lock_block.hpp"

namespace velkor::cli {

enum ExitStatus : int {
  kExitOk = 0,             // every programmer that started succeeded
  kExitFailed = 1,         // an operation failed on a programmer
  kExitUsage = 2,          // the command line is wrong
  kExitNoProgrammer = 3,   // no programmer was found
  kExitRefused = 4,        // a precondition refused the operation (chip, file, serial number, ...)
  kExitTimeout = 5,        // a programmer did not answer in time
  kExitStopped = 6,        // Ctrl+C stopped an operation before its chip was finished
  kExitJobRefused = kLockedJobRefusedStatus,  // a locked job differs from its lock (or its key is wrong)
};

}  // namespace velkor::cli
