// Every operation ends: a programmer that stays silent fails the operation
// after the time the operation was given, however large the chip, and a
// line error on the way does not stop the count.
#include <gtest/gtest.h>

#include <optional>

#include "link/comm.hpp"
#include "simulated_programmers.hpp"

namespace velkor::test {
namespace {

class TimeOutsTest : public SimulatedProgrammersTest {
 protected:
  // The programmer drops its answer to the first request after the search.
  void SetUp() override {
    Connect(1, {"--drop-reply", "2"});
    programmer->OperationEnded = [this](const OperationOutcome& o) { outcome = o; };
  }
  // Timer ticks, one by one, until the channel is idle.
  int TickUntilIdle() {
    int ticks = 0;
    while (!Idle(1) && ticks < 200000) {
      programmer->Timer1Timer();
      ++ticks;
    }
    return ticks;
  }
  // After the request has gone out and nothing came back: the time-out
  // left must be the operation's own, less the few ticks that passed.
  void ExpectTimeOutAfter(int armed) {
    loop.runFor(300ms);
    ASSERT_FALSE(Idle(1)) << "the operation ended before its time-out";
    const int left = programmer->Channels.Channel(1).TimeoutTicks;
    EXPECT_LE(left, armed);
    EXPECT_GT(left, armed - 100) << "another time-out is in force";
    EXPECT_EQ(TickUntilIdle(), left);
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->timedOut);
    EXPECT_TRUE(LoggedLine("芯片1 ：操作超时！"));
  }

  std::optional<OperationOutcome> outcome;
};

TEST_F(TimeOutsTest, ABlankCheckOfA64MiBChipGetsItsWholeTime) {
  Choose("GD25B512ME");  // 64 MiB: 65,536 KB + 200 ticks
  programmer->BlankCheck1Click();
  ExpectTimeOutAfter(65536 + 200);
}

TEST_F(TimeOutsTest, AVerifyOfAWhole128MiBChipGetsItsWholeTime) {
  Choose("GD55B01GE");
  programmer->Controls.ChkBoxCPES.Checked = true;
  programmer->Controls.ChkBoxExtAddr.Checked = true;
  LoadRandom(4096);
  programmer->SpdBtnVerifyClick();
  ExpectTimeOutAfter(131072 / 2 + 500);
}

TEST_F(TimeOutsTest, ALineErrorLeavesTheOperationToItsTimeOut) {
  Choose("W25x10xx");
  programmer->BlankCheck1Click();
  loop.runFor(100ms);
  TComm& port = programmer->Channels.Port(1);
  ASSERT_TRUE(port.OnReceiveError);
  port.OnReceiveError(port, kLineErrorFrame);
  EXPECT_FALSE(Idle(1)) << "the line error ended the operation without a result";
  const int ticks = TickUntilIdle();
  EXPECT_GT(ticks, 0);
  EXPECT_LE(ticks, 128 + 200);
  ASSERT_TRUE(outcome) << "the operation never ended";
  EXPECT_TRUE(outcome->failed);
  EXPECT_TRUE(outcome->timedOut);
}

}  // namespace
}  // namespace velkor::test
