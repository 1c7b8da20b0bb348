// The speed and time left of a transfer under a clock the test moves, and
// the progress line made of them.
#include "app/progress_estimate.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace velkor {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const SteadyTime kStart{};

SteadyTime At(int ms) { return kStart + milliseconds(ms); }

struct Report {
  int atMs;
  uint64_t done;
  uint64_t total;
};

struct EstimateCase {
  const char* name;
  std::vector<Report> reports;
  int askedAtMs;
  std::optional<int> percent;
  std::optional<double> speed;       // units per second
  std::optional<int> timeLeftMs;     // within a millisecond (rounded up)
};

TEST(TransferEstimateTest, SpeedAndTimeLeftFromTheReports) {
  const EstimateCase cases[] = {
      {"a steady transfer: its own speed, the rest at that speed",
       {{100, 1024, 10240}, {200, 2048, 10240}, {300, 3072, 10240}, {400, 4096, 10240}, {500, 5120, 10240}},
       500, 50, 10240.0, 500},
      {"reports in the same instant add no time and divide by none",
       {{0, 4096, 8192}, {0, 6144, 8192}}, 0, 75, std::nullopt, std::nullopt},
      {"time passes but nothing moves: nothing to estimate", {{1000, 0, 8192}, {2000, 0, 8192}}, 2000, 0,
       std::nullopt, std::nullopt},
      {"more done than the total counts as the total", {{1000, 9000, 8192}}, 1000, 100, 8192.0, 0},
      {"a total not known: a speed, but no percent and no time left", {{1000, 4096, 0}}, 1000, std::nullopt, 4096.0,
       std::nullopt},
      {"a clock told an earlier moment adds no time", {{1000, 1000, 4000}, {900, 2000, 4000}}, 1000, 50, 2000.0,
       1000},
      {"the start alone: nothing known", {}, 0, std::nullopt, std::nullopt, std::nullopt},
  };
  for (const EstimateCase& k : cases) {
    SCOPED_TRACE(k.name);
    TransferEstimate estimate;
    estimate.Start(kStart);
    for (const Report& r : k.reports) estimate.Moved(At(r.atMs), r.done, r.total);
    EXPECT_EQ(estimate.Percent(), k.percent);
    const std::optional<double> speed = estimate.Speed(At(k.askedAtMs));
    ASSERT_EQ(speed.has_value(), k.speed.has_value());
    if (speed) {
      EXPECT_NEAR(*speed, *k.speed, *k.speed * 1e-9);
    }
    const std::optional<milliseconds> left = estimate.TimeLeft(At(k.askedAtMs));
    ASSERT_EQ(left.has_value(), k.timeLeftMs.has_value());
    if (left) {
      EXPECT_NEAR(left->count(), *k.timeLeftMs, 1);
    }
  }
}

// Blocks of 4 KiB every 50 ms (80 KiB/s) for ten seconds.
TransferEstimate SteadyBlocks(uint64_t total) {
  TransferEstimate estimate;
  estimate.Start(kStart);
  for (int i = 1; i <= 200; ++i) estimate.Moved(At(i * 50), uint64_t{4096} * static_cast<uint64_t>(i), total);
  return estimate;
}

TEST(TransferEstimateTest, OneSlowBlockDoesNotMakeTheSpeedJump) {
  TransferEstimate estimate = SteadyBlocks(0);
  const double before = *estimate.Speed(At(10'000));
  EXPECT_NEAR(before, 81920.0, 1e-6);
  // The next block takes half a second: that block alone went at 8 KiB/s.
  estimate.Moved(At(10'500), 4096 * 201, 0);
  const double after = *estimate.Speed(At(10'500));
  EXPECT_LT(after, before);
  EXPECT_GT(after, before * 0.8);
}

TEST(TransferEstimateTest, TheSpeedFollowsALastingChangeWithinSeconds) {
  TransferEstimate estimate = SteadyBlocks(0);
  // From now on a block every 100 ms (40 KiB/s), for twenty seconds.
  uint64_t done = 4096 * 200;
  for (int t = 10'100; t <= 30'000; t += 100) estimate.Moved(At(t), done += 4096, 0);
  EXPECT_NEAR(*estimate.Speed(At(30'000)), 40960.0, 40960.0 * 0.02);
}

TEST(TransferEstimateTest, AStalledTransferSlowsAndItsTimeLeftGrows) {
  TransferEstimate estimate = SteadyBlocks(uint64_t{4096} * 400);
  const milliseconds leftAtOnce = *estimate.TimeLeft(At(10'000));
  EXPECT_NEAR(leftAtOnce.count(), 10'000, 1);
  const std::optional<milliseconds> leftLater = estimate.TimeLeft(At(13'000));
  ASSERT_TRUE(leftLater);
  EXPECT_GT(*leftLater, leftAtOnce);
  EXPECT_LT(*estimate.Speed(At(13'000)), *estimate.Speed(At(10'000)));
  // Stalled for days: no time left is worth showing.
  EXPECT_FALSE(estimate.TimeLeft(At(10'000 + 3 * 24 * 3600 * 1000)));
}

TEST(TransferEstimateTest, StartingAgainForgetsTheTransferBefore) {
  TransferEstimate estimate = SteadyBlocks(uint64_t{4096} * 400);
  estimate.Start(At(20'000));
  EXPECT_EQ(estimate.Done(), 0u);
  EXPECT_FALSE(estimate.Percent());
  EXPECT_FALSE(estimate.Speed(At(21'000)));
}

TEST(ProgressTextTest, ShowsWhatIsKnownInOneLine) {
  struct Case {
    ProgressFigures figures;
    const char* text;
  };
  const Case cases[] = {
      {{"Program", milliseconds(12'400), 42, 85.3 * 1024, milliseconds(16'000)},
       "Program 42% · 0:12 · 85.3 KiB/s · 0:16 left"},
      {{"Program", milliseconds(12'000), 42, 85.3 * 1024, milliseconds(15'200)},
       "Program 42% · 0:12 · 85.3 KiB/s · 0:16 left"},
      {{"Program", milliseconds(28'000), 100, 85.3 * 1024, std::nullopt}, "Program 100% · 0:28 · 85.3 KiB/s"},
      {{"Program", milliseconds(3'000), 50, std::nullopt, milliseconds(4'000)}, "Program 50% · 0:03 · 0:04 left"},
      {{"Read", milliseconds(0), 0, std::nullopt, std::nullopt}, "Read 0% · 0:00"},
      {{"Erase", milliseconds(7'900), std::nullopt, std::nullopt, std::nullopt}, "Erase · 0:07"},
      {{"Verify", milliseconds(3'723'000), std::nullopt, std::nullopt, std::nullopt}, "Verify · 1:02:03"},
      {{"", milliseconds(5'000), 10, 1024.0, milliseconds(1'000)}, ""},
  };
  for (const Case& k : cases) EXPECT_EQ(ProgressText(k.figures), k.text);
}

TEST(ProgressTextTest, DurationsAsAClockShowsThem) {
  const std::pair<long long, const char*> cases[] = {
      {0, "0:00"},         {999, "0:00"},         {7'000, "0:07"}, {754'000, "12:34"},
      {3'600'000, "1:00:00"}, {3'723'999, "1:02:03"}, {-5'000, "0:00"},
  };
  for (const auto& [ms, text] : cases) EXPECT_EQ(DurationText(milliseconds(ms)), text) << ms;
}

}  // namespace
}  // namespace velkor
