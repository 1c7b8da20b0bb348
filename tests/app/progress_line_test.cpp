// Each programmer's progress line, result panel, counters and end sound,
// under a clock the test moves: for an operation the host runs, and for the
// cycles a programmer runs by itself.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/operation_codes.hpp"
#include "programmer_fixture.hpp"

namespace velkor {
namespace {

using std::chrono::milliseconds;
using test::ProgrammerFixture;

class ProgressLineTest : public ProgrammerFixture {
 protected:
  ProgressLineTest() {
    programmer->SteadyNow = [this] { return SteadyTime{} + now; };
  }
  // A progress report of the programmer's own cycle, with its check byte.
  void Report(int channel, uint8_t stage, uint8_t result = 0, int done = 0, int total = 0) {
    auto& p = programmer->Channels.Channel(channel).PacketBuffer;
    const uint8_t bytes[7] = {0xFD,
                              stage,
                              result,
                              static_cast<uint8_t>(done),
                              static_cast<uint8_t>(done >> 8),
                              static_cast<uint8_t>(total),
                              static_cast<uint8_t>(total >> 8)};
    uint8_t sum = 0;
    for (int i = 0; i < 7; ++i) sum = static_cast<uint8_t>(sum + (p[i] = bytes[i]));
    p[7] = static_cast<uint8_t>(0x100 - sum);
    programmer->ShowProgressReport(channel);
  }
  std::string Line(int channel) { return programmer->ProgressLine(channel).Caption; }
  const ResultControl& Panel(int channel) { return programmer->ResultPanel(channel); }

  milliseconds now{0};
};

TEST_F(ProgressLineTest, AnAutomaticRunShowsEachStepAndItsTimeFromTheStart) {
  programmer->Chip.SizeKB = 128;
  programmer->Controls.ChkBoxSound.Checked = true;
  LinkChannel& ch = programmer->Channels.Channel(1);
  ch.AutoRun = 1;
  ch.Operation = kOpProgram;
  programmer->BeginOperation(1, 128);
  EXPECT_EQ(Line(1), "Program 0% · 0:00");
  EXPECT_EQ(Panel(1).State, ResultState::Neutral);

  // 32 KB in the first second: 32 KiB/s, 96 KB left.
  now = milliseconds(1'000);
  ch.BlockPos = 32;
  programmer->ShowControls();
  ProgressFigures figures = programmer->ProgressOf(1);
  EXPECT_EQ(figures.stage, "Program");
  EXPECT_EQ(figures.percent, 25);
  ASSERT_TRUE(figures.bytesPerSecond);
  EXPECT_NEAR(*figures.bytesPerSecond, 32 * 1024.0, 1e-6);
  ASSERT_TRUE(figures.timeLeft);
  EXPECT_NEAR(figures.timeLeft->count(), 3'000, 1);
  EXPECT_EQ(Line(1), "Program 25% · 0:01 · 32.0 KiB/s · 0:03 left");

  // The verify the programmer runs by itself: the time goes on from the
  // run's start, and nothing is counted.
  now = milliseconds(4'000);
  ch.BlockPos = 128;
  programmer->ShowControls();
  ch.Operation = kOpVerify;
  programmer->BeginOperation(1, 532);
  EXPECT_EQ(Line(1), "Verify · 0:04");
  now = milliseconds(6'500);
  programmer->RefreshProgress();
  EXPECT_EQ(Line(1), "Verify · 0:06");
  EXPECT_TRUE(view.sounds.empty()) << "no sound before the end";

  now = milliseconds(7'000);
  programmer->EndOperation(1, false);
  EXPECT_EQ(Panel(1).State, ResultState::Pass);
  EXPECT_EQ(Panel(1).Caption, "PASS");
  EXPECT_EQ(Line(1), "Verify · 0:07");
  EXPECT_EQ(view.sounds, std::vector<bool>{true});
  // Ended: the line keeps its figures.
  now = milliseconds(60'000);
  programmer->RefreshProgress();
  EXPECT_EQ(Line(1), "Verify · 0:07");
  EXPECT_EQ(programmer->ProgressOf(1).elapsed, milliseconds(7'000));

  // The next operation clears the panel until it ends too.
  ch.AutoRun = 0;
  ch.Operation = kOpErase;
  programmer->BeginOperation(1, 100);
  EXPECT_EQ(Panel(1).State, ResultState::Neutral);
  EXPECT_EQ(Panel(1).Caption, "");
  EXPECT_EQ(Line(1), "Erase · 0:00");
  programmer->EndOperation(1, true);
  EXPECT_EQ(Panel(1).State, ResultState::Fail);
  EXPECT_EQ(Panel(1).Caption, "FAIL");
  EXPECT_EQ(view.sounds, (std::vector<bool>{true, false}));
}

TEST_F(ProgressLineTest, AStoppedOperationShowsNeitherPassNorFailAndMakesNoSound) {
  programmer->Controls.ChkBoxSound.Checked = true;
  programmer->Chip.SizeKB = 64;
  LinkChannel& ch = programmer->Channels.Channel(2);
  ch.Operation = kOpProgram;
  programmer->BeginOperation(2, 64);
  ch.BlockPos = 16;
  programmer->EndOperation(2, true, EndCause::Stopped("Stopped after block 4 of 16."));
  EXPECT_EQ(Panel(2).State, ResultState::Stopped);
  EXPECT_EQ(Panel(2).Caption, "STOPPED");
  EXPECT_EQ(programmer->ProgressOf(2).percent, 25);
  EXPECT_TRUE(view.sounds.empty());
}

TEST_F(ProgressLineTest, AnErrorReplyOnAnIdleProgrammerShowsNoResult) {
  programmer->Controls.ChkBoxSound.Checked = true;
  programmer->EndOperation(1, true);
  EXPECT_EQ(Panel(1).State, ResultState::Neutral);
  EXPECT_TRUE(view.sounds.empty());
}

TEST_F(ProgressLineTest, TheProgrammersOwnCyclesShowTheirStagesAndCountPerProgrammer) {
  programmer->StartupReset();
  EXPECT_EQ(programmer->Controls.LabelCounts1.Caption, "OK 0 · NG 0");
  programmer->Controls.ChkBoxSound.Checked = true;
  Report(1, 0x10);
  EXPECT_EQ(Line(1), "Start · 0:00");
  now = milliseconds(1'000);
  Report(1, 0x40, 0, 0, 16);
  // Its blocks are of the programmer's own size: a time left, no speed.
  now = milliseconds(3'000);
  Report(1, 0x40, 0, 8, 16);
  const ProgressFigures figures = programmer->ProgressOf(1);
  EXPECT_EQ(figures.percent, 50);
  EXPECT_FALSE(figures.bytesPerSecond);
  ASSERT_TRUE(figures.timeLeft);
  EXPECT_EQ(figures.timeLeft->count(), 2'000);
  EXPECT_EQ(Line(1), "Program 50% · 0:03 · 0:02 left");
  now = milliseconds(4'000);
  Report(1, 0x70);
  EXPECT_EQ(Line(1), "Verify · 0:04");
  now = milliseconds(5'000);
  Report(1, 0xF0, 0x06);
  EXPECT_EQ(Panel(1).State, ResultState::Pass);
  EXPECT_EQ(Line(1), "Verify · 0:05") << "the cycle's end keeps the stage it ended in";
  EXPECT_EQ(programmer->Controls.LabelCounts1.Caption, "OK 1 · NG 0");

  Report(2, 0x10);
  Report(2, 0xF0, 0x2C);
  EXPECT_EQ(Panel(2).State, ResultState::Fail);
  EXPECT_EQ(programmer->Controls.LabelCounts2.Caption, "OK 0 · NG 1");
  EXPECT_EQ(programmer->Controls.LabelCounts1.Caption, "OK 1 · NG 0");
  EXPECT_EQ(view.sounds, (std::vector<bool>{true, false}));

  // A new cycle clears the panel; with the box cleared its end is silent.
  Report(1, 0x10);
  EXPECT_EQ(Panel(1).State, ResultState::Neutral);
  programmer->Controls.ChkBoxSound.Checked = false;
  Report(1, 0xF0, 0x06);
  EXPECT_EQ(Panel(1).State, ResultState::Pass);
  EXPECT_EQ(view.sounds.size(), 2u);
  EXPECT_EQ(programmer->Controls.LabelCounts1.Caption, "OK 2 · NG 0");
  EXPECT_EQ(programmer->BurnCount, 2u);
  EXPECT_EQ(programmer->FailCount, 1u);
}

}  // namespace
}  // namespace velkor
