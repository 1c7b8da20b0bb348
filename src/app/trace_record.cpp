#include "app/trace_record.hpp"

#include <ctime>
#include <nlohmann/json.hpp>

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
  line["operation"] = r.operation;
  line["result"] = r.result;
  line["code"] = r.code;
  line["text"] = r.text;
  line["duration_ms"] = r.duration.count();
  if (r.pool) line["pool"] = *r.pool;
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

}  // namespace velkor
