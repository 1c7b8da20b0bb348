// What the operator sees when programmers fail, fall silent or go away, end
// to end on two simulated programmers.
#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "simulated_programmers.hpp"
#include "support/files.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

class FailuresTest : public test::SimulatedProgrammersTest {
 protected:
  // Replaces the simulator by a new one and finds its programmers again.
  void Reconnect(int count, std::vector<std::string> args) {
    sim.reset();
    ASSERT_TRUE(loop.runUntil([&] { return !programmer->Channels.Port(1).IsOpen(); }, 10s));
    sim = StartSimulator(count, std::move(args));
    ASSERT_TRUE(sim);
    programmer->ExplicitPorts = sim->Ports();
    programmer->BitBtnFindCOMClick();
    ASSERT_TRUE(loop.runUntil([&] { return programmer->DevicesFound == count; }, 10s));
  }
  void Run(void (TQNProgrammer::*command)()) {
    programmer->RunCommand([&] { (programmer.get()->*command)(); });
  }
};

struct Operation {
  const char* name;
  void (TQNProgrammer::*start)();
  bool bothChannels;  // reads start on programmer 1 only
};
const Operation kErase{"erase", &TQNProgrammer::SpdBtnEraseClick, true};
const Operation kBlankCheck{"blank check", &TQNProgrammer::BlankCheck1Click, true};
const Operation kProgram{"program", &TQNProgrammer::SpdBtnProgClick, true};
const Operation kVerify{"verify", &TQNProgrammer::SpdBtnVerifyClick, true};
const Operation kRead{"read", &TQNProgrammer::SpeedButtonRDClick, false};
const Operation kReadId{"read ID", &TQNProgrammer::ReadChipIDandStatus1Click, false};
const Operation kDownload{"download", &TQNProgrammer::SpdBtnDownLoadClick, true};

TEST_F(FailuresTest, EveryErrorStatusShowsItsMessageForEachProgrammer) {
  struct Case {
    const Operation& operation;
    std::vector<std::string> simulator;
    const char* message;
  };
  const Case cases[] = {
      {kErase, {"--fail", "0x93/0x03=0x20"}, "数据包错误！"},
      {kVerify, {"--fail", "0x93/0x33=0x23"}, "数据包校验错误！"},
      {kProgram, {"--fail", "0x95=0x25"}, "不认识的命令！"},
      {kProgram, {"--fail", "0x95@4=0x2C"}, "Flash Memory错误！"},
      {kDownload, {"--fail", "0x53=0x2D"}, "写Flash Memory错误！"},
      {kDownload, {"--fail", "0x55@8=0x31"}, "数据校验错误！"},
      {kVerify, {"--fail", "0x93/0x33=0x34"}, "芯片校验和不正确！"},
      {kBlankCheck, {"--fail", "0x93/0x35=0x36"}, "芯片类型不正确！"},
      {kErase, {"--fail", "0x93/0x03=0x38"}, "芯片厂家型号不正确！"},
      {kRead, {"--fail", "0x96=0x40"}, "命令执行超时!"},
      {kRead, {"--fail", "0x96@12=0x45"}, "命令执行错误"},
      {kReadId, {"--fail", "0x93/0x60=0x60"}, "接口错误或芯片未连接！"},
      {kErase, {"--fail", "0x93/0x03=0x77"}, "操作失败！错误代码: 0119"},
      {kErase, {"--corrupt-reply", "1"}, "数据包校验错误！"},
  };
  Connect(2);
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.operation.name) + " " + k.simulator.back());
    Reconnect(2, k.simulator);
    Choose("W25x10xx");
    LoadRandom(64 * 1024);
    view.messages.clear();
    view.lines.clear();
    Run(k.operation.start);
    ASSERT_TRUE(RunToIdle());
    loop.runFor(20ms);  // the boxes come after the receive event
    const int channels = k.operation.bothChannels ? 2 : 1;
    ASSERT_EQ(view.messages.size(), static_cast<std::size_t>(channels));
    for (int n = 1; n <= channels; ++n) {
      EXPECT_EQ(view.messages[n - 1].kind, MessageKind::Error);
      EXPECT_EQ(view.messages[n - 1].text, k.message);
      EXPECT_TRUE(LoggedLine(ChannelLine(n, k.message)));
      EXPECT_TRUE(LoggedLine(ChannelLine(n, "操作失败！")));
      EXPECT_EQ(programmer->Gauge(n).Colour, GaugeColour::Red);
    }
  }
}

TEST_F(FailuresTest, SilentProgrammersTimeOutAfterTheirOperationsTicks) {
  // The programmers answer the identification query and nothing after it.
  Connect(2, {"--stall-after", "1"});
  Choose("W25x10xx");
  programmer->Controls.ChkBoxCPES.Checked = true;
  LoadRandom(128 * 1024);
  const uint32_t sizeKB = programmer->Chip.SizeKB;
  ASSERT_EQ(sizeKB, 128u);
  const int erase = 5 * programmer->Chip.EraseTime;
  ASSERT_GT(erase, 0);

  struct Case {
    const Operation& operation;
    std::array<int, 2> ticks;  // 0: the operation does not run there
    const char* line;          // %d: the programmer's number
  };
  const Case cases[] = {
      {kDownload, {300, 300}, "编程器%d ：操作超时！"},
      {kErase, {erase, erase}, "芯片%d ：操作超时！"},
      {kBlankCheck, {int(sizeKB) + 200, int(sizeKB) + 200}, "芯片%d ：操作超时！"},
      {kProgram, {1000, 1000}, "芯片%d ：操作超时！"},
      {kVerify, {int(sizeKB) / 2 + 500, int(sizeKB) + 500}, "芯片%d ：操作超时！"},
      {kRead, {1000, 0}, "芯片%d ：操作超时！"},
      {kReadId, {1000, 0}, "芯片%d ：操作超时！"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.operation.name);
    view.lines.clear();
    Run(k.operation.start);
    // The time-out timer's ticks, counted here rather than waited for.
    std::array<int, 2> expired{0, 0};
    for (int tick = 1; tick <= 70000 && !(Idle(1) && Idle(2)); ++tick) {
      const std::array<bool, 2> busy{!Idle(1), !Idle(2)};
      programmer->Timer1Timer();
      for (int n = 1; n <= 2; ++n)
        if (busy[n - 1] && Idle(n)) expired[n - 1] = tick;
    }
    EXPECT_EQ(expired, k.ticks);
    for (int n = 1; n <= 2; ++n) {
      char line[64];
      std::snprintf(line, sizeof line, k.line, n);
      EXPECT_EQ(LoggedLine(line), k.ticks[n - 1] != 0) << line;
      if (k.ticks[n - 1] != 0) {
        EXPECT_EQ(programmer->Gauge(n).Colour, GaugeColour::Red);
      }
    }
  }
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(FailuresTest, AProgramBlockReplyLostMidwayTimesOutAfterTheBlocksTicks) {
  // Requests: the identification, then the program blocks; the reply to
  // the fourth block is lost.
  Connect(1, {"--drop-reply", "5"});
  Choose("W25x10xx");
  programmer->Controls.ChkBoxCPES.Checked = true;
  LoadRandom(128 * 1024);
  Run(&TQNProgrammer::SpdBtnProgClick);
  ASSERT_TRUE(loop.runUntil([&] { return programmer->Channels.Channel(1).BlockPos == 12; }, 10s));
  loop.runFor(50ms);  // the lost reply would have come by now
  ASSERT_EQ(programmer->Channels.Channel(1).BlockPos, 12u);
  int ticks = 0;
  while (!Idle(1) && ticks < 70000) {
    programmer->Timer1Timer();
    ++ticks;
  }
  // The window's own 10 ms timer ticked a few times while waiting above.
  EXPECT_LE(ticks, 1000);
  EXPECT_GT(ticks, 900) << "each acknowledged block re-arms the time-out";
  EXPECT_TRUE(LoggedLine("芯片1 ：操作超时！"));
}

TEST_F(FailuresTest, TheTimerEndsASilentOperationByItself) {
  Connect(1, {"--stall-after", "1"});
  Choose("24xx02");
  Run(&TQNProgrammer::BlankCheck1Click);  // 200 ticks of 10 ms
  EXPECT_FALSE(Idle(1));
  ASSERT_TRUE(RunToIdle(10s));
  EXPECT_TRUE(LoggedLine("芯片1 ：操作超时！"));
}

TEST_F(FailuresTest, AProgrammerGoingAwayMidTransferLeavesTheOtherWorking) {
  auto first = StartSimulator(1, {"--hang-up-after", "3"});
  auto second = StartSimulator(1);
  ASSERT_TRUE(first && second);
  ShowOn({first->Ports()[0], second->Ports()[0]}, 2);
  Choose("W25x10xx");
  programmer->Controls.ChkBoxCPES.Checked = true;
  programmer->Controls.ChkBoxRecord.Checked = true;
  programmer->Controls.EditRecordFile.Text = "records.jsonl";
  LoadRandom(128 * 1024);

  Run(&TQNProgrammer::SpdBtnProgClick);
  ASSERT_TRUE(RunToIdle());
  // The record of the abandoned chip still names its programmer, and its
  // bar stays where the transfer stopped.
  // Programmer 2 may finish its chip before programmer 1's port is found
  // gone: the abandoned chip's line is programmer 1's, wherever it stands.
  const std::string records = test::ReadFile(directory / "records.jsonl");
  const std::size_t at = records.find("\"programmer\":1,\"programmer_id\":\"Velkor350QN V3.10\"");
  ASSERT_NE(at, std::string::npos) << records;
  const std::size_t lineStart = records.rfind('\n', at) == std::string::npos ? 0 : records.rfind('\n', at) + 1;
  const std::string abandoned = records.substr(lineStart, records.find('\n', at) - lineStart);
  EXPECT_NE(abandoned.find("\"result\":\"failed\""), std::string::npos) << records;
  EXPECT_LT(programmer->Gauge(1).Progress, programmer->Gauge(1).MaxValue);
  EXPECT_EQ(programmer->Gauge(1).Colour, GaugeColour::Red);
  EXPECT_FALSE(programmer->Channels.Port(1).IsOpen());
  EXPECT_EQ(programmer->Channels.Channel(1).Identified, 0);
  EXPECT_FALSE(programmer->Gauge(1).Enabled);
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "The programmer's port went away and was closed.")));
  EXPECT_TRUE(LoggedLine(ChannelLine(2, "操作成功！")));
  EXPECT_EQ(programmer->Gauge(2).Colour, GaugeColour::Blue);
  EXPECT_EQ(programmer->Controls.ComboBoxCOM.Items.size(), 1u);

  // Programmer 2 goes on: what it programmed verifies.
  view.lines.clear();
  Run(&TQNProgrammer::SpdBtnVerifyClick);
  EXPECT_TRUE(LoggedLine(Line("芯片2 ：执行数据校验......")));
  EXPECT_FALSE(LoggedLine(Line("芯片1 ：执行数据校验......")));
  ASSERT_TRUE(RunToIdle());
  EXPECT_TRUE(LoggedLine(ChannelLine(2, "操作成功！")));
  EXPECT_TRUE(view.messages.empty());
}

}  // namespace
}  // namespace velkor
