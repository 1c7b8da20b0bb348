#include "app/trace_record.hpp"

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <random>

#include "data/text_format.hpp"
#include "platform/text_file.hpp"

namespace velkor {

namespace {

std::string LocalTime(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
  const long offsetMinutes = local.tm_gmtoff / 60;
  const long magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  return FormatText("%s.%03d%c%02ld:%02ld", stamp, static_cast<int>(millis < 0 ? millis + 1000 : millis),
                    offsetMinutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
}

}  // namespace

std::string TraceRecordLine(const TraceRecord& r) {
  nlohmann::ordered_json line;
  line["time"] = LocalTime(r.time);
  line["programmer"] = r.programmer;
  line["programmer_id"] = r.programmerId;
  line["chip"] = r.chip;
  line["acc"] = FormatText("0x%04X", unsigned{r.acc});
  line["crc"] = FormatText("0x%04X", unsigned{r.crc});
  if (!r.sha256.empty()) {
    line["sha256"] = r.sha256;
    line["crc32"] = FormatText("0x%08X", r.crc32);
  }
  line["serial_number"] = r.serialNumber ? nlohmann::ordered_json(*r.serialNumber) : nlohmann::ordered_json(nullptr);
  if (!r.serialText.empty()) line["serial_text"] = r.serialText;
  line["operation"] = r.operation;
  line["result"] = r.result;
  line["code"] = r.code;
  line["text"] = r.text;
  line["duration_ms"] = r.duration.count();
  if (r.pool) line["pool"] = *r.pool;
  if (!r.station.empty()) line["station"] = r.station;
  if (!r.jobId.empty()) line["job_id"] = r.jobId;
  if (!r.imageFile.empty()) line["image_file"] = r.imageFile;
  if (!r.lockedJob.empty()) {
    line["locked_job"] = r.lockedJob;
    line["job_lock"] = r.jobLock;
  }
  if (!r.adapterSerial.empty()) line["adapter_serial"] = r.adapterSerial;
  if (r.chipId) line["chip_id"] = {(*r.chipId)[0], (*r.chipId)[1]};
  if (r.differences) {
    line["differences"] = *r.differences;
    if (r.firstDifference) line["first_difference"] = *r.firstDifference;
  }
  // Texts that are not valid UTF-8 (a programmer's name is the
  // programmer's own bytes) are written with replacement characters rather
  // than dropping the record.
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string AppendTraceLine(const std::filesystem::path& path, const std::string& line) {
  // One write per line, so that lines of two programmers (or two programs)
  // never interleave.
  return AppendToFile(path, line + '\n');
}

std::string MakeJobId(std::chrono::system_clock::time_point time, uint32_t random) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%S", &utc);
  return FormatText("%s-%08x", stamp, random);
}

std::string NewJobId() {
  uint32_t bits = 0;
  ssize_t got = -1;
  do {
    got = getrandom(&bits, sizeof bits, 0);
  } while (got < 0 && errno == EINTR);
  // The kernel's source is the one meant; a system without the call still
  // has its random device.
  if (got != static_cast<ssize_t>(sizeof bits)) bits = std::random_device{}();
  return MakeJobId(std::chrono::system_clock::now(), bits);
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "station";
  return name;
}

std::string ChipIdText(const std::array<uint8_t, 2>& id) {
  return FormatText("0x%02X 0x%02X", unsigned{id[0]}, unsigned{id[1]});
}

std::optional<std::array<uint8_t, 2>> ParseChipIdText(const std::string& text) {
  unsigned first = 0;
  unsigned second = 0;
  if (std::sscanf(text.c_str(), "0x%2X 0x%2X", &first, &second) != 2) return std::nullopt;
  const std::array<uint8_t, 2> id{static_cast<uint8_t>(first), static_cast<uint8_t>(second)};
  // Only the exact form: nothing before, between or after.
  if (ChipIdText(id) != text) return std::nullopt;
  return id;
}

}  // namespace velkor
