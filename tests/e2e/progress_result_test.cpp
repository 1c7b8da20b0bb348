// What the operator reads of each programmer while it works and when it has
// ended, against simulated programmers: the progress line with its stage and
// time left during a program at the line's pace, then PASS or FAIL by what
// each chip really holds, its counters, and the end sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "simulated_programmers.hpp"
#include "support/files.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

class ProgressResultTest : public test::SimulatedProgrammersTest {
 protected:
  const std::string& Line(int n) { return programmer->ProgressLine(n).Caption; }
  const ResultControl& Panel(int n) { return programmer->ResultPanel(n); }
  const std::string& Counts(int n) { return programmer->CountsLine(n).Caption; }
  bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
  }
  // The first size bytes of the chip a simulator left in a file as it ended.
  std::vector<uint8_t> ChipFile(const std::filesystem::path& path, std::size_t size) {
    const std::string chip = test::ReadFile(path);
    EXPECT_GE(chip.size(), size) << path;
    return std::vector<uint8_t>(chip.begin(), chip.begin() + static_cast<std::ptrdiff_t>(std::min(size, chip.size())));
  }
  std::unique_ptr<SimulatorProcess> others;
};

TEST_F(ProgressResultTest, APacedProgramShowsItsStageAndTimeLeftThenPassesWhereTheChipsHoldTheData) {
  const std::filesystem::path chips = directory / "chips";
  std::filesystem::create_directory(chips);
  Connect(2, {"--pace", "--block-time-us", "20000", "--dump-chips", chips.string()});
  Choose("W25x10xx");
  const std::vector<uint8_t> data = LoadRandom(128 * 1024);

  programmer->RunCommand([&] { programmer->SpdBtnProgClick(); });
  for (int n = 1; n <= 2; ++n) EXPECT_EQ(Panel(n).State, ResultState::Neutral) << n;
  // Once a few blocks have gone, each line knows its speed and time left.
  ASSERT_TRUE(loop.runUntil(
      [&] { return programmer->ProgressOf(1).timeLeft && programmer->ProgressOf(2).timeLeft; }, 30s));
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(programmer->ProgressOf(n).stage, "Program");
    EXPECT_EQ(Line(n).rfind("Program ", 0), 0u) << Line(n);
    EXPECT_NE(Line(n).find(" KiB/s · "), std::string::npos) << Line(n);
    EXPECT_TRUE(EndsWith(Line(n), " left")) << Line(n);
    EXPECT_EQ(Panel(n).State, ResultState::Neutral);
  }

  ASSERT_TRUE(RunToIdle());
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(Panel(n).State, ResultState::Pass);
    EXPECT_EQ(Panel(n).Caption, "PASS");
    const ProgressFigures figures = programmer->ProgressOf(n);
    EXPECT_EQ(figures.percent, 100);
    EXPECT_FALSE(figures.timeLeft) << "nothing is left to wait for";
    EXPECT_FALSE(EndsWith(Line(n), " left")) << Line(n);
  }
  // PASS where the chips hold what was programmed.
  sim.reset();
  for (int n = 1; n <= 2; ++n)
    EXPECT_EQ(ChipFile(chips / ("programmer-" + std::to_string(n) + ".bin"), data.size()), data) << "programmer " << n;
}

TEST_F(ProgressResultTest, EachProgrammerShowsHowItsOwnChipEndedAndCountsIt) {
  // One simulator whose chip has a cell stuck at 0x00, one whose chip is
  // sound; the defective chip sits on programmer 1, then on programmer 2.
  for (const int defective : {1, 2}) {
    SCOPED_TRACE(defective);
    // A fresh window's logic for each arrangement.
    programmer.reset();
    view.sounds.clear();
    programmer = MakeProgrammer();
    const std::filesystem::path goodChips = directory / ("good-" + std::to_string(defective));
    const std::filesystem::path badChips = directory / ("bad-" + std::to_string(defective));
    std::filesystem::create_directories(goodChips);
    std::filesystem::create_directories(badChips);
    sim = StartSimulator(1, {"--dump-chips", goodChips.string()});
    others = StartSimulator(1, {"--stuck-byte", "0x1234=0x00", "--dump-chips", badChips.string()});
    ASSERT_TRUE(sim && others);
    const int good = 3 - defective;
    std::vector<std::string> ports(2);
    ports[good - 1] = sim->Ports().front();
    ports[defective - 1] = others->Ports().front();
    ShowOn(ports, 2);
    Choose("W25x10xx");
    const std::vector<uint8_t> data = LoadRandom(64 * 1024);
    ASSERT_NE(data[0x1234], 0x00);
    programmer->Controls.ChkBoxSound.Checked = true;

    programmer->RunCommand([&] { programmer->SpdBtnAutoPClick(); });
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(Panel(good).State, ResultState::Pass);
    EXPECT_EQ(Panel(good).Caption, "PASS");
    EXPECT_EQ(Panel(defective).State, ResultState::Fail);
    EXPECT_EQ(Panel(defective).Caption, "FAIL");
    EXPECT_EQ(Counts(good), "OK 1 · NG 0");
    EXPECT_EQ(Counts(defective), "OK 0 · NG 1");
    // One sound per end: a pass and a failure, in whichever order they ended.
    std::vector<bool> sounds = view.sounds;
    std::sort(sounds.begin(), sounds.end());
    EXPECT_EQ(sounds, (std::vector<bool>{false, true}));

    // Without the sound, a second chip each: the panels clear as it starts.
    programmer->Controls.ChkBoxSound.Checked = false;
    programmer->RunCommand([&] { programmer->SpdBtnAutoPClick(); });
    EXPECT_EQ(Panel(good).State, ResultState::Neutral);
    EXPECT_EQ(Panel(defective).State, ResultState::Neutral);
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(Panel(good).State, ResultState::Pass);
    EXPECT_EQ(Panel(defective).State, ResultState::Fail);
    EXPECT_EQ(Counts(good), "OK 2 · NG 0");
    EXPECT_EQ(Counts(defective), "OK 0 · NG 2");
    EXPECT_EQ(view.sounds.size(), 2u);

    // The failure's box follows the receive event that brought it.
    loop.runFor(50ms);

    // The results are the chips': the good one holds the data, the other
    // differs at its stuck cell.
    sim.reset();
    others.reset();
    EXPECT_EQ(ChipFile(goodChips / "programmer-1.bin", data.size()), data);
    const std::vector<uint8_t> badChip = ChipFile(badChips / "programmer-1.bin", data.size());
    ASSERT_EQ(badChip.size(), data.size());
    EXPECT_EQ(badChip[0x1234], 0x00);
  }
}

}  // namespace
}  // namespace velkor
