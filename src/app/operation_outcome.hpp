// How an operation on a programmer ended, told to whoever watches the
// window's logic from outside: the command line's result lines and exit
// status, and the traceability record.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/image_difference.hpp"

namespace velkor {

struct OperationOutcome {
  int channel = 0;
  // What the operator started: "download", "auto", "program", "verify",
  // "erase", "blank", "read", "id", "firmware", or "stand-alone" for a chip
  // a programmer programmed by itself after a download.
  std::string operation;
  bool failed = false;
  bool timedOut = false;
  // The operator stopped it before its chip was finished: neither good nor
  // failed. failed is set too, so that whatever asks only whether the chip
  // is good never takes a stopped one for good.
  bool stopped = false;
  // The status the programmer answered (0 when none decided the end).
  uint8_t status = 0;
  // The message the operator sees for this end ("操作成功！", the failure
  // message of the status, the time-out line, ...).
  std::string text;
  std::chrono::milliseconds duration{0};
  // The host-side serial number written into this chip's image, if any.
  std::optional<uint32_t> serialNumber;
  // A serial number that is not a four-byte number (a MAC address from a
  // list, a generator's bytes), as its source names it.
  std::string serialText;
  // Where the chip differs from what it should hold, when it was read back
  // (a failed verify or blank check, a verify by read-back).
  std::optional<DifferenceReport> differences;
  // The chip's two ID bytes and its status bytes, when they were read (the
  // ID check before programming, the read of ID and status).
  std::optional<std::array<uint8_t, 2>> chipId;
  std::vector<uint8_t> chipStatus;
};

// What decided an operation's end, when it was not plain success.
struct EndCause {
  EndCause() = default;
  EndCause(uint8_t statusCode, bool timeOut, std::string message, std::optional<DifferenceReport> found = std::nullopt)
      : status(statusCode), timedOut(timeOut), text(std::move(message)), differences(std::move(found)) {}
  // The operator's stop took effect; message says where the operation stood.
  static EndCause Stopped(std::string message) {
    EndCause cause(0, false, std::move(message));
    cause.stopped = true;
    return cause;
  }
  uint8_t status = 0;
  bool timedOut = false;
  bool stopped = false;
  std::string text;  // empty: "操作成功！" or "操作失败！"
  std::optional<DifferenceReport> differences;
};

// The result of an outcome as records and the command line name it: "ok",
// "failed", "timeout" or "stopped".
inline const char* OutcomeResult(const OperationOutcome& outcome) {
  if (outcome.stopped) return "stopped";
  if (outcome.timedOut) return "timeout";
  return outcome.failed ? "failed" : "ok";
}

// The name of an operation code (link/operation_codes.hpp), "auto" for a
// program or verify that is part of the automatic sequence.
std::string OperationName(uint8_t operation, bool autoRun);

}  // namespace velkor
