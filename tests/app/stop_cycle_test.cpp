// A stop while a programmer runs a cycle by itself (after a download): the
// cycle is left alone, and the log says so only while one is under way.
#include <gtest/gtest.h>

#include "programmer_fixture.hpp"

namespace velkor {
namespace {

class StopCycleTest : public test::ProgrammerFixture {
 protected:
  // A progress report as the programmer sends it, with its check byte.
  void Report(int channel, uint8_t stage, uint8_t result) {
    uint8_t bytes[8] = {0xFD, stage, result, 0, 0, 0, 0, 0};
    uint8_t sum = 0;
    for (int i = 0; i < 7; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    bytes[7] = static_cast<uint8_t>(0x100 - sum);
    std::copy(bytes, bytes + 8, programmer->Channels.Channel(channel).PacketBuffer.begin());
    programmer->ShowProgressReport(channel);
  }
  std::size_t StopAndCountLines() {
    const std::size_t before = view.lines.size();
    programmer->SpdBtnStopClick();
    return view.lines.size() - before;
  }
};

TEST_F(StopCycleTest, AStopNamesOnlyTheCyclesUnderWayAndLeavesThemToEnd) {
  const std::string line = std::string("> ") + test::kTime +
                           " C2: Stop: the stand-alone cycle runs on the programmer itself and cannot be stopped from "
                           "here; it ends on its own.";
  EXPECT_EQ(StopAndCountLines(), 0u);
  Report(2, 0x10, 0);  // the cycle starts
  Report(2, 0x40, 0);
  EXPECT_EQ(StopAndCountLines(), 1u);
  EXPECT_EQ(view.lines.back(), line);
  EXPECT_FALSE(programmer->StopAsked(2));
  Report(2, 0xF0, 0x06);  // and ends as it would have
  EXPECT_EQ(programmer->ChannelOk[1], 1u);
  EXPECT_EQ(StopAndCountLines(), 0u);
}

}  // namespace
}  // namespace velkor
