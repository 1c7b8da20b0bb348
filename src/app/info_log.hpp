// The information log: the running record of everything the program does,
// shown in the window's information panel and written to a log file when
// the program closes.
#pragma once

#include <memory>
#include <span>
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
  // What the panel shows: the session's lines since the panel was cleared.
  std::span<const std::string> Lines() const { return std::span<const std::string>(session_).subspan(panelStart_); }
  void Append(std::string line) { session_.push_back(std::move(line)); }
  // Clears the panel; the session keeps every line.
  void Clear() { panelStart_ = session_.size(); }
  // The panel's lines, each followed by a line end.
  std::string Text() const;
  // Every line of the session, whatever the panel shows: the log file's.
  std::span<const std::string> SessionLines() const { return session_; }
  std::string SessionText() const;

 private:
  std::vector<std::string> session_;
  std::size_t panelStart_ = 0;
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
