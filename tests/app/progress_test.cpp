// Operation start and end on a channel, and the programmer's progress
// reports with the counters.
#include <gtest/gtest.h>

#include <algorithm>

#include "programmer_fixture.hpp"

namespace velkor {
namespace {

using test::ProgrammerFixture;

class ProgressTest : public ProgrammerFixture {
 protected:
  void Report(int channel, std::vector<uint8_t> bytes) {
    uint8_t sum = 0;
    for (std::size_t i = 0; i < 7; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    if (bytes.size() == 7) bytes.push_back(static_cast<uint8_t>(0x100 - sum));
    std::copy(bytes.begin(), bytes.end(), programmer->Channels.Channel(channel).PacketBuffer.begin());
    programmer->ShowProgressReport(channel);
  }
  std::string ChannelLine(int channel, const std::string& text) const {
    return std::string("> ") + test::kTime + " C" + std::to_string(channel) + ": " + text;
  }
  GaugeControl& gauge(int channel) { return programmer->Gauge(channel); }
};

TEST_F(ProgressTest, BlockStageLogsOnceAndMovesTheGaugeOverTheBlocks) {
  Report(1, {0xFD, 0x40, 0x00, 0x00, 0x00, 0x10, 0x00, 0xB3});
  EXPECT_EQ(view.lines.back(), ChannelLine(1, " Do Main Flash Programming...."));
  EXPECT_EQ(gauge(1).Progress, 2);
  EXPECT_EQ(gauge(1).MaxValue, 16);
  const std::size_t lines = view.lines.size();
  Report(1, {0xFD, 0x40, 0x00, 0x04, 0x00, 0x10, 0x00});
  EXPECT_EQ(gauge(1).Progress, 6);
  EXPECT_EQ(view.lines.size(), lines);
}

TEST_F(ProgressTest, TotalZeroCountsAsFourAndABadSumChangesNothing) {
  Report(2, {0xFD, 0x50, 0x00, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(gauge(2).MaxValue, 4);
  const GaugeControl before = gauge(2);
  const std::size_t lines = view.lines.size();
  Report(2, {0xFD, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01});
  EXPECT_EQ(gauge(2), before);
  EXPECT_EQ(view.lines.size(), lines);
  Report(2, {0xFD, 0x99, 0x00, 0x00, 0x00, 0x00, 0x00});  // a stage it does not know
  EXPECT_EQ(view.lines.size(), lines);
}

TEST_F(ProgressTest, CompletedCyclesCountPerChannelAndInTotal) {
  Report(2, {0xFD, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(view.lines.back(), ChannelLine(2, " Start Auto-Programming...."));
  Report(2, {0xFD, 0xF0, 0x06, 0x00, 0x00, 0x00, 0x00});
  ASSERT_GE(view.lines.size(), 2u);
  EXPECT_EQ(view.lines[view.lines.size() - 2], ChannelLine(2, " Progrmming Completed : Successed!"));
  EXPECT_EQ(view.lines.back(), ChannelLine(2, " ---------------- OK=1, NG=0. ----------------"));
  EXPECT_EQ(programmer->Controls.StatusPanel2.Caption, "烧写OK总数: 1");
  EXPECT_EQ(gauge(2).Progress, gauge(2).MaxValue);

  Report(1, {0xFD, 0xF0, 0x2C, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(view.lines[view.lines.size() - 2], ChannelLine(1, " Progrmming Completed : Failed : Error=0x2C!"));
  EXPECT_EQ(view.lines.back(), ChannelLine(1, "---------------- OK=0, NG=1. ----------------"));
  EXPECT_EQ(gauge(1).Colour, GaugeColour::Red);
  EXPECT_EQ(programmer->Controls.StatusPanel3.Caption, "烧写NG总数: 1");

  Report(1, {0xFD, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(view.lines.back(), ChannelLine(1, " Initial Programming Interface ...."));
  EXPECT_EQ(gauge(1).Colour, GaugeColour::Blue);
  Report(1, {0xFD, 0xF0, 0x06, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(view.lines[view.lines.size() - 2], ChannelLine(1, " Progrmming Completed : Successed !"));
  EXPECT_EQ(programmer->BurnCount, 2u);
  EXPECT_EQ(programmer->FailCount, 1u);
  EXPECT_EQ(programmer->ChannelOk[0], 1u);
  EXPECT_EQ(programmer->ChannelNg[0], 1u);
  EXPECT_EQ(programmer->Controls.StatusPanel2.Caption, "烧写OK总数: 2");
}

TEST_F(ProgressTest, BeginOperationArmsTimeoutRangeAndGaugeByOperation) {
  struct Case {
    int channel;
    uint8_t operation;
    uint32_t sizeKB;
    uint32_t range;
    int16_t ticks;
    uint32_t blockEnd;
    int progress;
    int max;
  };
  const Case cases[] = {
      {1, 0x05, 2048, 7500, 7500, 2048, 3, 7500},  // erase: the time-out is the range
      {1, 0x0E, 1, 201, 201, 2, 1, 201},           // blank check of a 1 KB chip
      {1, 0x09, 2048, 1524, 1524, 2048, 3, 1524},  // verify: size / 2 + 500 on channel 1
      {2, 0x09, 2048, 1524, 2548, 2048, 1, 1524},  // and size + 500 on channel 2
      {1, 0x07, 0, 0, 1000, 2, 1, 5},              // range 0 counts as 5
      {2, 0x03, 64, 66, 1000, 64, 1, 66},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(::testing::Message() << "channel " << k.channel << " operation " << int{k.operation});
    LinkChannel& ch = programmer->Channels.Channel(k.channel);
    ch.Operation = k.operation;
    ch.BlockPos = 40;
    programmer->Chip.SizeKB = k.sizeKB;
    gauge(k.channel) = GaugeControl{};
    programmer->BeginOperation(k.channel, k.range);
    EXPECT_EQ(ch.TimeoutTicks, k.ticks);
    EXPECT_EQ(ch.BlockEnd, k.blockEnd);
    EXPECT_EQ(ch.BlockPos, 0u);
    EXPECT_EQ(ch.Busy, 1);
    EXPECT_EQ(gauge(k.channel).Progress, k.progress);
    EXPECT_EQ(gauge(k.channel).MaxValue, k.max);
  }
}

TEST_F(ProgressTest, PageFlashBlocksEndWithItsPageData) {
  programmer->Chip.Family = kFamilyDataFlash528;
  programmer->Chip.SizeKB = 2162688 / 1024;
  programmer->Channels.Channel(1).Operation = 0x07;
  programmer->BeginOperation(1, programmer->Chip.SizeKB);
  EXPECT_EQ(programmer->Channels.Channel(1).BlockEnd, 2048u);
}

TEST_F(ProgressTest, EndOperationReturnsToIdleWithTheOutcome) {
  LinkChannel& ch = programmer->Channels.Channel(1);
  ch.Operation = 0x07;
  ch.GaugeCreep = 1;
  programmer->BeginOperation(1, 64);
  gauge(1).SetProgress(20);
  programmer->EndOperation(1, true);
  EXPECT_EQ(ch.Busy, 0);
  EXPECT_EQ(ch.GaugeCreep, 0);
  EXPECT_EQ(ch.Operation, 0xF0);
  EXPECT_EQ(gauge(1).Colour, GaugeColour::Red);
  EXPECT_EQ(gauge(1).Progress, 20) << "a failure stays where it stood, not a full bar";
  EXPECT_EQ(view.lines.back(), ChannelLine(1, "操作失败！"));
  programmer->EndOperation(2, false);
  EXPECT_EQ(view.lines.back(), ChannelLine(2, "操作成功！"));
  EXPECT_EQ(gauge(2).Colour, GaugeColour::Blue);
  EXPECT_EQ(gauge(2).Progress, gauge(2).MaxValue);
}

}  // namespace
}  // namespace velkor
