// How an operation on a programmer ended, told to whoever watches the
// window's logic from outside: the command line's result lines and exit
// status, and the traceability record.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace velkor {

struct OperationOutcome {
  int channel = 0;
  // What the operator started: "download", "auto", "program", "verify",
  // "erase", "blank", "read", "id", "firmware", or "stand-alone" for a chip
  // a programmer programmed by itself after a download.
  std::string operation;
  bool failed = false;
  bool timedOut = false;
  // The status the programmer answered (0 when none decided the end).
  uint8_t status = 0;
  // The message the operator sees for this end ("操作成功！", the failure
  // message of the status, the time-out line, ...).
  std::string text;
  std::chrono::milliseconds duration{0};
  // The host-side serial number written into this chip's image, if any.
  std::optional<uint32_t> serialNumber;
};

// What decided an operation's end, when it was not plain success.
struct EndCause {
  uint8_t status = 0;
  bool timedOut = false;
  std::string text;  // empty: "操作成功！" or "操作失败！"
};

// The name of an operation code (link/operation_codes.hpp), "auto" for a
// program or verify that is part of the automatic sequence.
std::string OperationName(uint8_t operation, bool autoRun);

}  // namespace velkor
