// The traceability record: one line of JSON per chip, appended to a file
// and flushed to the disk as each chip finishes, so that a production line
// can show what every unit received.
#pragma once

#include <array>
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
  // A serial number of other bytes than a four-byte number (a MAC address,
  // a generator's output), as its source names it.
  std::string serialText;
  std::string operation;
  std::string result;  // OutcomeResult: "ok", "failed", "timeout" or "stopped"
  uint8_t code = 0;    // the programmer's status, 0 when none
  std::string text;
  std::chrono::milliseconds duration{0};
  // The production line's pool the serial number came from, if any.
  std::optional<std::string> pool;
  // This station's name (TQNProgrammer::Station) and the job the chip
  // belongs to (TQNProgrammer::JobId).
  std::string station;
  std::string jobId;
  // The file the image came from, for the operations that wrote or
  // compared the image; empty when there is none (a chip read's image).
  std::string imageFile;
  // The locked job the chip's job was loaded from and its lock ("sha256
  // <hex>"); empty when the job is not a locked one.
  std::string lockedJob;
  std::string jobLock;
  // The chip's two ID bytes, when they were read.
  std::optional<std::array<uint8_t, 2>> chipId;
  // The USB serial number of the programmer's adapter, where it has one.
  std::string adapterSerial;
  // When the chip was read back to be compared: how many bytes differ, and
  // the first differing address (none when no byte differs).
  std::optional<uint64_t> differences;
  std::optional<uint32_t> firstDifference;
};

// Where records go besides the record file: a production line's database.
class TraceRecordSink {
 public:
  virtual ~TraceRecordSink() = default;
  virtual void Add(const TraceRecord& record) = 0;
};

// The record as one JSON object on one line (no line end). Times are local
// with their offset, to the millisecond: "2026-12-10T14:35:02.123+01:00".
// The chip's ID is an array of its two bytes, [239, 64], in the order the
// chip gives them; the fields that do not apply are left out.
std::string TraceRecordLine(const TraceRecord& record);

// A job's id: the UTC time to the second and 32 random bits, in hex:
// "20261211T034512-7f3a9c21".
std::string MakeJobId(std::chrono::system_clock::time_point time, uint32_t random);
// A new job's id, now, with bits from the system's random source.
std::string NewJobId();

// The machine's host name ("station" when it has none): a station's name
// when none is set.
std::string HostName();

// The chip's ID as text, "0xEF 0x40", and back (nothing for a text that is
// not one ChipIdText makes).
std::string ChipIdText(const std::array<uint8_t, 2>& id);
std::optional<std::array<uint8_t, 2>> ParseChipIdText(const std::string& text);

// Appends line and a line end to the file at path in one write, creating
// the file when missing, and waits until it is on the disk. Returns an
// error text, empty on success.
std::string AppendTraceLine(const std::filesystem::path& path, const std::string& line);

}  // namespace velkor
