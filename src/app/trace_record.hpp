// The traceability record: one line of JSON per chip, appended to a file
// and flushed to the disk as each chip finishes, so that a production line
// can show what every unit received.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace velkor {

struct TraceRecord {
  std::chrono::system_clock::time_point time;
  int programmer = 0;
  std::string programmerId;  // the programmer's identification text
  std::string chip;          // the chip's caption
  uint16_t acc = 0;          // the image's ACC and CRC checksums
  uint16_t crc = 0;
  // The digests of the data the chip was given (the used range).
  std::string sha256;
  uint32_t crc32 = 0;
  std::optional<uint32_t> serialNumber;
  std::string operation;
  std::string result;  // "ok", "failed" or "timeout"
  uint8_t code = 0;    // the programmer's status, 0 when none
  std::string text;
  std::chrono::milliseconds duration{0};
  // The production line's pool the serial number came from, if any.
  std::optional<std::string> pool;
};

// Where records go besides the record file: a production line's database.
class TraceRecordSink {
 public:
  virtual ~TraceRecordSink() = default;
  virtual void Add(const TraceRecord& record) = 0;
};

// The record as one JSON object on one line (no line end). Times are local
// with their offset, to the millisecond: "2026-12-10T14:35:02.123+01:00".
std::string TraceRecordLine(const TraceRecord& record);

// Appends line and a line end to the file at path in one write, creating
// the file when missing, and waits until it is on the disk. Returns an
// error text, empty on success.
std::string AppendTraceLine(const std::filesystem::path& path, const std::string& line);

}  // namespace velkor
