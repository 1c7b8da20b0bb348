// The information log: the running record of everything the program does,
// shown in the window's information panel and written to a log file when
// the program closes.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace velkor {

// Local date and time as the log writes them.
class LogClock {
 public:
  virtual ~LogClock() = default;
  virtual std::string LongTime() const = 0;   // the locale's time, e.g. "14:03:27"
  virtual std::string ShortDate() const = 0;  // the locale's date, e.g. "12/10/26"
};

std::unique_ptr<LogClock> MakeSystemClock();

class InfoLog {
 public:
  const std::vector<std::string>& Lines() const { return lines_; }
  void Append(std::string line) { lines_.push_back(std::move(line)); }
  void Clear() { lines_.clear(); }
  // All lines, each followed by a line end.
  std::string Text() const;

 private:
  std::vector<std::string> lines_;
};

// "> " + time + " " + text.
std::string TimeStampedLine(const LogClock& clock, const std::string& text);
// "> " + time + " C1: " + text (" C2: " for programmer 2).
std::string ChannelLine(const LogClock& clock, int channel, const std::string& text);

// The name of an automatic log file: "QN_" + date + "_" + time + ".log",
// with every '-', '/' and ':' of the date and time turned into '_' (and
// blanks too, which some locales put into the time).
std::string AutomaticLogFileName(const LogClock& clock);

// How many lines the panel must hold before an automatic log file is
// written: a log of the start-up greeting alone is not worth keeping.
inline constexpr std::size_t kAutomaticLogMinimumLines = 7;

// The first line of a log file that the append mode creates.
inline constexpr const char* kAppendLogHeader = "Orvane Log File!";

}  // namespace velkor
