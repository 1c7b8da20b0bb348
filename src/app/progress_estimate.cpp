#include "app/progress_estimate.hpp"

#include <algorithm>
#include <cmath>

#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

// An amount moved this long ago weighs half as much as one moved now.
constexpr double kHalfLifeSeconds = 3.0;
// A time left beyond this is no estimate worth showing (a stalled transfer).
constexpr double kLongestEstimateSeconds = 100.0 * 3600.0;

// The texts of the progress line, one for each set of figures known.
constexpr const char* kStageOnly = TextKey("%s · %s");
constexpr const char* kStagePercent = TextKey("%s %d%% · %s");
constexpr const char* kStagePercentLeft = TextKey("%s %d%% · %s · %s left");
constexpr const char* kStagePercentSpeed = TextKey("%s %d%% · %s · %.1f KiB/s");
constexpr const char* kStagePercentSpeedLeft = TextKey("%s %d%% · %s · %.1f KiB/s · %s left");

double Seconds(SteadyTime::duration span) { return std::chrono::duration<double>(span).count(); }

// How much what happened this many seconds ago still weighs.
double Weight(double seconds) { return std::exp2(-seconds / kHalfLifeSeconds); }

}  // namespace

void TransferEstimate::Start(SteadyTime now) {
  *this = TransferEstimate{};
  last_ = now;
}

void TransferEstimate::Moved(SteadyTime now, uint64_t done, uint64_t total) {
  total_ = total;
  if (total != 0) done = std::min(done, total);
  // A clock read twice in the same instant, or told a moment already
  // passed, adds no time: nothing is divided by it.
  const double seconds = now > last_ ? Seconds(now - last_) : 0.0;
  const double weight = Weight(seconds);
  const uint64_t moved = done > done_ ? done - done_ : 0;
  weighedUnits_ = weighedUnits_ * weight + static_cast<double>(moved);
  weighedSeconds_ = weighedSeconds_ * weight + seconds;
  if (now > last_) last_ = now;
  done_ = done;
}

std::optional<int> TransferEstimate::Percent() const {
  if (total_ == 0) return std::nullopt;
  return static_cast<int>(done_ * 100 / total_);
}

std::optional<double> TransferEstimate::Speed(SteadyTime now) const {
  const double gap = now > last_ ? Seconds(now - last_) : 0.0;
  const double weight = Weight(gap);
  const double seconds = weighedSeconds_ * weight + gap;
  if (weighedUnits_ <= 0 || seconds <= 0) return std::nullopt;
  return weighedUnits_ * weight / seconds;
}

std::optional<std::chrono::milliseconds> TransferEstimate::TimeLeft(SteadyTime now) const {
  if (total_ == 0) return std::nullopt;
  const uint64_t left = total_ - done_;
  if (left == 0) return std::chrono::milliseconds(0);
  const std::optional<double> speed = Speed(now);
  if (!speed || *speed <= 0) return std::nullopt;
  const double seconds = static_cast<double>(left) / *speed;
  if (!(seconds <= kLongestEstimateSeconds)) return std::nullopt;
  return std::chrono::milliseconds(static_cast<int64_t>(std::ceil(seconds * 1000.0)));
}

std::string DurationText(std::chrono::milliseconds duration) {
  const long long total = std::max<long long>(0, duration.count() / 1000);
  const long long hours = total / 3600;
  const int minutes = static_cast<int>(total / 60 % 60);
  const int seconds = static_cast<int>(total % 60);
  if (hours > 0) return FormatText("%lld:%02d:%02d", hours, minutes, seconds);
  return FormatText("%d:%02d", minutes, seconds);
}

std::string ProgressText(const ProgressFigures& f) {
  if (f.stage.empty()) return {};
  // The stage is named in the language of the run here; the figures keep
  // the name the command line's events carry.
  const std::string stageName(Tx(std::string_view(f.stage)));
  const char* stage = stageName.c_str();
  const std::string elapsed = DurationText(f.elapsed);
  if (!f.percent) return FormatText(Tx(kStageOnly), stage, elapsed.c_str());
  // A time left shows whole seconds, rounded up: "0:00 left" only at the end.
  const std::string left =
      f.timeLeft ? DurationText(std::chrono::ceil<std::chrono::seconds>(*f.timeLeft)) : std::string();
  if (f.bytesPerSecond) {
    const double kib = *f.bytesPerSecond / 1024.0;
    if (f.timeLeft)
      return FormatText(Tx(kStagePercentSpeedLeft), stage, *f.percent, elapsed.c_str(), kib, left.c_str());
    return FormatText(Tx(kStagePercentSpeed), stage, *f.percent, elapsed.c_str(), kib);
  }
  if (f.timeLeft) return FormatText(Tx(kStagePercentLeft), stage, *f.percent, elapsed.c_str(), left.c_str());
  return FormatText(Tx(kStagePercent), stage, *f.percent, elapsed.c_str());
}

}  // namespace velkor
