#include "cli/event_output.hpp"

#include <unistd.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "data/text_format.hpp"

namespace velkor::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kBarWidth = 24;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kPlainStepPercent = 10;

int Percent(int progress, int maximum) { return maximum > 0 ? progress * 100 / maximum : 0; }

const char* KindName(MessageKind kind) {
  switch (kind) {
    case MessageKind::Warning: return "warning";
    case MessageKind::Error: return "error";
    case MessageKind::Information: break;
  }
  return "information";
}

const char* ResultName(const OperationOutcome& o) { return o.timedOut ? "timeout" : o.failed ? "failed" : "ok"; }

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace

OutputStyle DefaultOutputStyle() { return ::isatty(STDOUT_FILENO) ? OutputStyle::Terminal : OutputStyle::Plain; }

EventOutput::EventOutput(OutputStyle style, bool logLines, std::FILE* out, std::FILE* errors)
    : style_(style), logLines_(logLines), out_(out), errors_(errors) {}

void EventOutput::Emit(const std::string& text) {
  ClearBars();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
  DrawBars(true);
}

void EventOutput::EmitJson(const std::string& json) {
  std::fprintf(out_, "%s\n", json.c_str());
  std::fflush(out_);
}

void EventOutput::LogLine(const std::string& line) {
  if (!logLines_) return;
  if (style_ == OutputStyle::Json)
    EmitJson(Dump(Json{{"event", "log"}, {"line", line}}));
  else
    Emit(line);
}

void EventOutput::Message(MessageKind kind, const std::string& text) {
  if (style_ == OutputStyle::Json) {
    EmitJson(Dump(Json{{"event", "message"}, {"kind", KindName(kind)}, {"text", text}}));
    return;
  }
  if (kind == MessageKind::Information) {
    Emit(text);
    return;
  }
  ClearBars();
  std::fflush(out_);
  std::fprintf(errors_, "velkor-cli: %s: %s\n", KindName(kind), text.c_str());
  std::fflush(errors_);
  DrawBars(true);
}

void EventOutput::ProgrammerFound(int channel, const std::string& port, const std::string& identification) {
  if (style_ == OutputStyle::Json)
    EmitJson(Dump(Json{{"event", "programmer"}, {"programmer", channel}, {"port", port}, {"id", identification}}));
  else
    Emit(FormatText("programmer %d: %s on %s", channel, identification.c_str(), port.c_str()));
}

void EventOutput::Started(int channel, const std::string& operation) {
  Bar& bar = BarOf(channel);
  bar = Bar{};
  bar.active = true;
  bar.operation = operation;
  if (style_ == OutputStyle::Json)
    EmitJson(Dump(Json{{"event", "start"}, {"programmer", channel}, {"operation", operation}}));
  else if (style_ == OutputStyle::Plain)
    Emit(FormatText("programmer %d: %s started", channel, operation.c_str()));
  else
    DrawBars(true);
}

void EventOutput::Progress(int channel, int progress, int maximum) {
  Bar& bar = BarOf(channel);
  if (!bar.active) return;
  bar.progress = progress;
  bar.maximum = maximum;
  const int percent = Percent(progress, maximum);
  switch (style_) {
    case OutputStyle::Json:
      if (percent == bar.lastReported) return;
      bar.lastReported = percent;
      EmitJson(Dump(Json{{"event", "progress"},
                         {"programmer", channel},
                         {"operation", bar.operation},
                         {"percent", percent},
                         {"progress", progress},
                         {"maximum", maximum}}));
      break;
    case OutputStyle::Plain: {
      const int step = percent / kPlainStepPercent * kPlainStepPercent;
      if (step <= bar.lastReported || step == 0 || step == 100) return;
      bar.lastReported = step;
      Emit(FormatText("programmer %d: %s %d%%", channel, bar.operation.c_str(), step));
      break;
    }
    case OutputStyle::Terminal:
      DrawBars(false);
      break;
  }
}

void EventOutput::Result(const OperationOutcome& o, const std::string& identification) {
  BarOf(o.channel).active = false;
  const double seconds = static_cast<double>(o.duration.count()) / 1000.0;
  if (style_ == OutputStyle::Json) {
    Json line{{"event", "result"},
              {"programmer", o.channel},
              {"id", identification},
              {"operation", o.operation},
              {"result", ResultName(o)},
              {"code", o.status},
              {"text", o.text},
              {"duration_ms", o.duration.count()}};
    line["serial_number"] = o.serialNumber ? Json(*o.serialNumber) : Json(nullptr);
    if (o.chipId) line["chip_id"] = Json::array({(*o.chipId)[0], (*o.chipId)[1]});
    if (!o.chipStatus.empty()) line["chip_status"] = o.chipStatus;
    if (o.differences) {
      const DifferenceReport& d = *o.differences;
      line["compared"] = d.compared;
      line["differences"] = d.count;
      line["first_difference"] = d.FirstAddress() ? Json(*d.FirstAddress()) : Json(nullptr);
      Json listed = Json::array();
      for (const ByteDifference& b : d.listed)
        listed.push_back(Json{{"address", b.address}, {"expected", b.expected}, {"found", b.found}});
      line["first_differences"] = listed;
    }
    EmitJson(Dump(line));
    return;
  }
  std::string text = FormatText("programmer %d (%s): %s ", o.channel, identification.c_str(), o.operation.c_str());
  if (!o.failed)
    text += "OK";
  else if (o.timedOut)
    text += "TIMED OUT: " + o.text;
  else
    text += "FAILED: " + o.text + (o.status ? FormatText(" (status 0x%02X)", unsigned{o.status}) : "");
  text += FormatText(" in %.2f s", seconds);
  if (o.serialNumber) text += FormatText(", serial number 0x%08X", *o.serialNumber);
  Emit(text);
  if (!o.differences) return;
  const DifferenceReport& d = *o.differences;
  Emit(FormatText("programmer %d: read back %llu bytes: ", o.channel, static_cast<unsigned long long>(d.compared)) +
       DifferenceSummary(d));
  for (const ByteDifference& b : d.listed) Emit("  " + DifferenceLine(b));
  if (d.count > d.listed.size())
    Emit(FormatText("  ... and %llu more", static_cast<unsigned long long>(d.count - d.listed.size())));
}

void EventOutput::FileWritten(const std::string& what, const std::string& path, std::size_t bytes,
                              const std::optional<ImageDigest>& digest) {
  if (style_ == OutputStyle::Json) {
    Json event{{"event", "file"}, {"what", what}, {"path", path}, {"bytes", bytes}};
    if (digest) {
      event["sha256"] = digest->sha256;
      event["crc32"] = FormatText("0x%08X", digest->crc32);
    }
    EmitJson(Dump(event));
  } else {
    Emit(FormatText("%s written to %s (%zu bytes)%s", what.c_str(), path.c_str(), bytes,
                    digest ? (": " + DigestText(*digest)).c_str() : ""));
  }
}

void EventOutput::ImageLoaded(const std::string& path, uint32_t first, uint32_t last, const ImageDigest& digest) {
  if (style_ == OutputStyle::Json) {
    EmitJson(Dump(Json{{"event", "loaded"},
                       {"path", path},
                       {"start", first},
                       {"end", last},
                       {"sha256", digest.sha256},
                       {"crc32", FormatText("0x%08X", digest.crc32)}}));
  } else {
    Emit(FormatText("%s loaded: 0x%06X-0x%06X, ", path.c_str(), first, last) + DigestText(digest));
  }
}

void EventOutput::Finished(int status) {
  ClearBars();
  if (style_ == OutputStyle::Json) EmitJson(Dump(Json{{"event", "end"}, {"exit_status", status}}));
}

void EventOutput::Listing(const std::string& humanLine, const std::string& jsonLine) {
  if (style_ == OutputStyle::Json)
    EmitJson(jsonLine);
  else
    Emit(humanLine);
}

EventOutput::Bar& EventOutput::BarOf(int programmer) {
  const auto index = static_cast<std::size_t>(std::max(programmer, 1) - 1);
  if (index >= bars_.size()) bars_.resize(index + 1);
  return bars_[index];
}

void EventOutput::DrawBars(bool force) {
  if (style_ != OutputStyle::Terminal) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - lastDraw_ < kRedrawInterval) return;
  // Two bars fit a terminal line; more programmers show their percentages.
  const auto active = std::count_if(bars_.begin(), bars_.end(), [](const Bar& bar) { return bar.active; });
  std::string line;
  for (std::size_t i = 0; i < bars_.size(); ++i) {
    const Bar& bar = bars_[i];
    if (!bar.active) continue;
    const int n = static_cast<int>(i) + 1;
    const int percent = Percent(bar.progress, bar.maximum);
    if (active > 2) {
      line += FormatText("P%d %3d%%  ", n, percent);
      continue;
    }
    const int filled = percent * kBarWidth / 100;
    line += FormatText("P%d %-8s [", n, bar.operation.c_str()) + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + FormatText("] %3d%%   ", percent);
  }
  if (line.empty()) {
    ClearBars();
    return;
  }
  std::fprintf(out_, "\r\033[K%s", line.c_str());
  std::fflush(out_);
  barsShown_ = true;
  lastDraw_ = now;
}

void EventOutput::ClearBars() {
  if (!barsShown_) return;
  std::fprintf(out_, "\r\033[K");
  barsShown_ = false;
}

}  // namespace velkor::cli
