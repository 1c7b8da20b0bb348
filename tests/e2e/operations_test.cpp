// Operations end to end against the simulated programmer: what is programmed
// reads back equal, block by block and streamed, and error statuses reach
// the operator.
#include <gtest/gtest.h>

#include <algorithm>

#include "simulated_programmers.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using OperationsEndToEndTest = test::SimulatedProgrammersTest;

TEST_F(OperationsEndToEndTest, ProgrammedDataReadsBackBlockByBlockAndStreamed) {
  Connect(1);
  struct Case {
    const char* chip;
    uint32_t size;
    bool streamed;
  };
  for (const Case& k : {Case{"24xx512", 64 * 1024, false}, Case{"W25x10xx", 128 * 1024, true}}) {
    SCOPED_TRACE(k.chip);
    Choose(k.chip);
    programmer->Controls.ChkBoxCPES.Checked = true;  // the whole chip, untrimmed
    const std::vector<uint8_t> data = LoadRandom(k.size);
    programmer->RunCommand([&] { programmer->SpdBtnProgClick(); });
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(programmer->Gauge(1).Colour, GaugeColour::Blue);

    programmer->Image.Erase();
    programmer->RunCommand([&] { programmer->SpeedButtonRDClick(); });
    EXPECT_EQ(programmer->Channels.Channel(1).Operation, k.streamed ? 0x20 : 0x00);
    ASSERT_TRUE(RunToIdle());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), programmer->Image.Data.get()));
    EXPECT_TRUE(Logged("Chip Data has been read out."));
  }
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(OperationsEndToEndTest, NoiseBetweenFramesAndSplitWritesChangeNothing) {
  // Stray delimiters and bytes in front of every reply, and replies written
  // a few bytes at a time.
  Connect(1, {"--noise", "C0125AC0FF", "--split", "97", "--split-delay-us", "0"});
  Choose("W25x10xx");
  programmer->Controls.ChkBoxCPES.Checked = true;
  const std::vector<uint8_t> data = LoadRandom(128 * 1024, 7);
  programmer->RunCommand([&] { programmer->SpdBtnAutoPClick(); });
  ASSERT_TRUE(RunToIdle());
  EXPECT_EQ(programmer->BurnCount, 1u);
  for (bool streamed : {true, false}) {
    programmer->Image.Erase();
    programmer->FastReadCapable = streamed;
    programmer->RunCommand([&] { programmer->SpeedButtonRDClick(); });
    ASSERT_TRUE(RunToIdle());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), programmer->Image.Data.get())) << streamed;
  }
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(OperationsEndToEndTest, NotBlankAndErrorStatusesReachTheOperator) {
  Connect(1, {"--fail", "0x93/0x03=0x60"});
  Choose("W25x10xx");
  LoadRandom(4096);
  programmer->RunCommand([&] { programmer->SpdBtnProgClick(); });
  ASSERT_TRUE(RunToIdle());
  programmer->RunCommand([&] { programmer->BlankCheck1Click(); });
  ASSERT_TRUE(RunToIdle());
  EXPECT_TRUE(Logged("Chip is Not Blank!"));
  programmer->RunCommand([&] { programmer->SpdBtnEraseClick(); });
  ASSERT_TRUE(RunToIdle());
  loop.runFor(20ms);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "接口错误或芯片未连接！");
}

}  // namespace
}  // namespace velkor
