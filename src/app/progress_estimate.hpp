// How far an operation on a programmer has come, as the operator is told:
// its stage, the time since it started, the speed of its transfer and the
// time the transfer still needs. The arithmetic is told the moments it
// works with, so that it gives the same answers under any clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace velkor {

using SteadyTime = std::chrono::steady_clock::time_point;

// The speed of one transfer and the time it still needs, from how much of it
// had been moved at the moments it was told. Amounts are in any one unit
// (bytes, blocks); the speed is in units per second. Earlier seconds weigh
// less than the last few, so that the speed follows a change within seconds
// but one slow or quick block does not make it jump.
class TransferEstimate {
 public:
  // The transfer starts at now, with nothing moved yet.
  void Start(SteadyTime now);
  // By now, done of total units have been moved. More than the total counts
  // as the total; a total of 0 is a size not known.
  void Moved(SteadyTime now, uint64_t done, uint64_t total);

  uint64_t Done() const { return done_; }
  // Whole percent of the total done; nothing while the total is unknown.
  std::optional<int> Percent() const;
  // Units per second up to now, the time since the last report counting as
  // time in which nothing moved; nothing before something has moved.
  std::optional<double> Speed(SteadyTime now) const;
  // The rest of the total at that speed; nothing while either is unknown.
  std::optional<std::chrono::milliseconds> TimeLeft(SteadyTime now) const;

 private:
  uint64_t done_ = 0;
  uint64_t total_ = 0;
  SteadyTime last_{};
  // The units moved and the seconds spent since the start, both weighed
  // down together as they age.
  double weighedUnits_ = 0;
  double weighedSeconds_ = 0;
};

// What the operator is told of one programmer's operation.
struct ProgressFigures {
  std::string stage;  // "Program", "Erase", ...; empty before the first operation
  std::chrono::milliseconds elapsed{0};
  std::optional<int> percent;  // of what the stage moves; nothing when it moves nothing the host counts
  std::optional<double> bytesPerSecond;
  std::optional<std::chrono::milliseconds> timeLeft;  // of the stage under way
  bool operator==(const ProgressFigures&) const = default;
};

// "Program 42% · 0:12 · 85.3 KiB/s · 0:16 left", with only what is known
// ("Erase · 0:07" while the programmer erases by itself); empty without a
// stage.
std::string ProgressText(const ProgressFigures& figures);

// A span of time as a clock shows it: "0:07", "12:34", "1:02:03" (whole
// seconds, cut off).
std::string DurationText(std::chrono::milliseconds duration);

}  // namespace velkor
