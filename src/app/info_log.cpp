#include "app/info_log.hpp"

#include <algorithm>
#include <ctime>

namespace velkor {

namespace {

class SystemClock final : public LogClock {
 public:
  std::string LongTime() const override { return Format("%X"); }
  std::string ShortDate() const override { return Format("%x"); }

 private:
  static std::string Format(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, format, &local);
    return std::string(text, n);
  }
};

std::string Joined(std::span<const std::string> lines) {
  std::string text;
  for (const auto& line : lines) {
    text += line;
    text += '\n';
  }
  return text;
}

}  // namespace

std::unique_ptr<LogClock> MakeSystemClock() { return std::make_unique<SystemClock>(); }

std::string InfoLog::Text() const { return Joined(Lines()); }

std::string InfoLog::SessionText() const { return Joined(session_); }

std::string TimeStampedLine(const LogClock& clock, const std::string& text) {
  return "> " + clock.LongTime() + " " + text;
}

std::string ChannelLine(const LogClock& clock, int channel, const std::string& text) {
  return "> " + clock.LongTime() + " C" + std::to_string(channel) + ": " + text;
}

std::string AutomaticLogFileName(const LogClock& clock) {
  std::string stamp = clock.ShortDate() + "_" + clock.LongTime();
  std::replace_if(
      stamp.begin(), stamp.end(), [](char c) { return c == '-' || c == '/' || c == ':' || c == ' '; }, '_');
  return "QN_" + stamp + ".log";
}

}  // namespace velkor
