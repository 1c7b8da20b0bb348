#include "cli/event_output.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kBarWidth = 20;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kPlainStepPercent = 10;
// Up to this many programmers get a bar line each; more share one line of
// percentages.
constexpr std::size_t kMostBarLines = 4;
constexpr int kAssumedColumns = 80;

int Percent(int progress, int maximum) { return maximum > 0 ? progress * 100 / maximum : 0; }

// The terminal's width, for lines that must not wrap (the bars are redrawn
// in place).
int TerminalColumns(std::FILE* out) {
  winsize size{};
  if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kAssumedColumns;
}

// The first columns characters of a UTF-8 line.
std::string FitColumns(const std::string& line, int columns) {
  int characters = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const bool startsCharacter = (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
    if (startsCharacter && ++characters > columns) return line.substr(0, i);
  }
  return line;
}

// A figure not known yet is null.
Json BytesPerSecond(const ProgressFigures& figures) {
  if (!figures.bytesPerSecond) return nullptr;
  return static_cast<long long>(std::llround(*figures.bytesPerSecond));
}

Json TimeLeftMs(const ProgressFigures& figures) {
  if (!figures.timeLeft) return nullptr;
  return static_cast<long long>(figures.timeLeft->count());
}

const char* KindName(MessageKind kind) {
  switch (kind) {
    case MessageKind::Warning: return "warning";
    case MessageKind::Error: return "error";
    case MessageKind::Information: break;
  }
  return "information";
}


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
    Emit(FormatText(Tx("programmer %d: %s on %s"), channel, identification.c_str(), port.c_str()));
}

void EventOutput::Started(int channel, const std::string& operation) {
  Bar& bar = BarOf(channel);
  bar = Bar{};
  bar.active = true;
  bar.operation = operation;
  if (style_ == OutputStyle::Json)
    EmitJson(Dump(Json{{"event", "start"}, {"programmer", channel}, {"operation", operation}}));
  else if (style_ == OutputStyle::Plain)
    Emit(FormatText(Tx("programmer %d: %s started"), channel, operation.c_str()));
  else
    DrawBars(true);
}

void EventOutput::Progress(int channel, int progress, int maximum, const ProgressFigures& figures) {
  Bar& bar = BarOf(channel);
  if (!bar.active) return;
  bar.progress = progress;
  bar.maximum = maximum;
  bar.figures = figures;
  const int percent = Percent(progress, maximum);
  switch (style_) {
    case OutputStyle::Json: {
      if (percent == bar.lastReported && figures.stage == bar.lastStage) return;
      bar.lastReported = percent;
      bar.lastStage = figures.stage;
      EmitJson(Dump(Json{{"event", "progress"},
                         {"programmer", channel},
                         {"operation", bar.operation},
                         {"percent", percent},
                         {"progress", progress},
                         {"maximum", maximum},
                         {"stage", figures.stage},
                         {"elapsed_ms", figures.elapsed.count()},
                         {"bytes_per_second", BytesPerSecond(figures)},
                         {"eta_ms", TimeLeftMs(figures)}}));
      break;
    }
    case OutputStyle::Plain: {
      const int step = percent / kPlainStepPercent * kPlainStepPercent;
      if (step <= bar.lastReported || step == 0 || step == 100) return;
      bar.lastReported = step;
      const std::string line = ProgressText(figures);
      if (line.empty())
        Emit(FormatText(Tx("programmer %d: %s %d%%"), channel, bar.operation.c_str(), step));
      else
        Emit(FormatText(Tx("programmer %d: %s"), channel, line.c_str()));
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
              {"result", OutcomeResult(o)},
              {"code", o.status},
              {"text", o.text},
              {"duration_ms", o.duration.count()}};
    line["serial_number"] = o.serialNumber ? Json(*o.serialNumber) : Json(nullptr);
    if (!o.serialText.empty()) line["serial_text"] = o.serialText;
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
  std::string text = FormatText(Tx("programmer %d (%s): %s "), o.channel, identification.c_str(), o.operation.c_str());
  if (!o.failed)
    text += Tx("OK");
  else if (o.stopped)
    text += Tx("STOPPED: ") + o.text;
  else if (o.timedOut)
    text += Tx("TIMED OUT: ") + o.text;
  else
    text += Tx("FAILED: ") + o.text + (o.status ? FormatText(Tx(" (status 0x%02X)"), unsigned{o.status}) : "");
  text += FormatText(Tx(" in %.2f s"), seconds);
  if (o.serialNumber) text += FormatText(Tx(", serial number 0x%08X"), *o.serialNumber);
  if (!o.serialText.empty()) text += FormatText(Tx(", serial number %s"), o.serialText.c_str());
  Emit(text);
  if (!o.differences) return;
  const DifferenceReport& d = *o.differences;
  Emit(FormatText(Tx("programmer %d: read back %llu bytes: "), o.channel, static_cast<unsigned long long>(d.compared)) +
       DifferenceSummary(d));
  for (const ByteDifference& b : d.listed) Emit("  " + DifferenceLine(b));
  if (d.count > d.listed.size())
    Emit(FormatText(Tx("  ... and %llu more"), static_cast<unsigned long long>(d.count - d.listed.size())));
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
    Emit(FormatText(Tx("%s written to %s (%zu bytes)%s"), what.c_str(), path.c_str(), bytes,
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

std::string EventOutput::BarLine(int programmer, const Bar& bar) const {
  const int percent = std::clamp(Percent(bar.progress, bar.maximum), 0, 100);
  const int filled = percent * kBarWidth / 100;
  const std::string figures = ProgressText(bar.figures);
  return FormatText("P%d %-8s [", programmer, bar.operation.c_str()) +
         std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(kBarWidth - filled), '.') +
         (figures.empty() ? FormatText("] %3d%%", percent) : FormatText("] %s", figures.c_str()));
}

void EventOutput::DrawBars(bool force) {
  if (style_ != OutputStyle::Terminal) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - lastDraw_ < kRedrawInterval) return;
  const auto active =
      static_cast<std::size_t>(std::count_if(bars_.begin(), bars_.end(), [](const Bar& bar) { return bar.active; }));
  std::vector<std::string> lines;
  std::string shared;
  for (std::size_t i = 0; i < bars_.size(); ++i) {
    const Bar& bar = bars_[i];
    if (!bar.active) continue;
    const int n = static_cast<int>(i) + 1;
    if (active > kMostBarLines)
      shared += FormatText("P%d %3d%%  ", n, Percent(bar.progress, bar.maximum));
    else
      lines.push_back(BarLine(n, bar));
  }
  if (!shared.empty()) lines.push_back(shared);
  if (lines.empty()) {
    ClearBars();
    return;
  }
  // Redrawn in place: back to the first bar's line, each line written over,
  // and the lines of bars that have gone cleared. A line must not wrap, or
  // the way back would miss the first.
  const int columns = TerminalColumns(out_) - 1;
  const int count = static_cast<int>(lines.size());
  std::string text = "\r";
  if (barLines_ > 1) text += FormatText("\033[%dA", barLines_ - 1);
  for (int i = 0; i < count; ++i)
    text += (i > 0 ? "\n\033[K" : "\033[K") + FitColumns(lines[static_cast<std::size_t>(i)], columns);
  for (int i = count; i < barLines_; ++i) text += "\n\033[K";
  if (barLines_ > count) text += FormatText("\033[%dA", barLines_ - count);
  std::fputs(text.c_str(), out_);
  std::fflush(out_);
  barLines_ = count;
  lastDraw_ = now;
}

void EventOutput::ClearBars() {
  if (barLines_ == 0) return;
  std::string text = "\r\033[K";
  for (int i = 1; i < barLines_; ++i) text += "\033[A\033[K";
  std::fputs(text.c_str(), out_);
  barLines_ = 0;
}

}  // namespace velkor::cli
