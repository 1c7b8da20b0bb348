// The programming operations end to end on simulated programmers: what the
// operator sees of each (log lines, gauges, counters, status bar), what the
// chips hold afterwards, and serial numbers from chip to chip.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "simulated_programmers.hpp"
#include "data/text_format.hpp"
#include "support/files.hpp"
#include "support/wire_decoder.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

class ProgrammingTest : public test::SimulatedProgrammersTest {
 protected:
  MainControls& c() { return programmer->Controls; }
  void Run(void (TQNProgrammer::*command)()) {
    view.lines.clear();
    programmer->RunCommand([&] { (programmer.get()->*command)(); });
  }
  void RunToEnd(void (TQNProgrammer::*command)()) {
    Run(command);
    ASSERT_TRUE(RunToIdle());
    loop.runFor(20ms);  // a failure's box comes after the receive event
  }
  // Both programmers ended their operation this way; a chip read back
  // after its failure has a full bar.
  void ExpectEnded(bool failed, bool readBack = false) {
    for (int n = 1; n <= 2; ++n) {
      SCOPED_TRACE(n);
      EXPECT_TRUE(LoggedLine(ChannelLine(n, failed ? "操作失败！" : "操作成功！")));
      const GaugeControl& gauge = programmer->Gauge(n);
      EXPECT_EQ(gauge.Colour, failed ? GaugeColour::Red : GaugeColour::Blue);
      if (failed && !readBack)
        EXPECT_LT(gauge.Progress, gauge.MaxValue) << "a failed operation's bar stays where it stood";
      else if (failed)
        EXPECT_EQ(gauge.Progress, gauge.MaxValue) << "the read-back went through the whole chip";
      else
        EXPECT_EQ(gauge.Progress, gauge.MaxValue);
      EXPECT_EQ(programmer->Channels.Channel(n).Operation, 0xF0);
    }
  }
  // The chip in programmer 1's socket, read back through the window.
  std::vector<uint8_t> ReadChip(std::size_t size) {
    programmer->Image.Erase();
    Run(&TQNProgrammer::SpeedButtonRDClick);
    EXPECT_TRUE(RunToIdle());
    EXPECT_TRUE(LoggedLine(ChannelLine(1, "Chip Data has been read out.")));
    return std::vector<uint8_t>(programmer->Image.Data.get(), programmer->Image.Data.get() + size);
  }
};

TEST_F(ProgrammingTest, EveryOperationRunsOnBothProgrammersAsTheOperatorSeesIt) {
  const std::filesystem::path chips = directory / "chips";
  std::filesystem::create_directory(chips);
  Connect(2, {"--chip-id", "0xEF,0x40", "--chip-status", "0x02,0x00", "--dump-chips", chips.string()});
  Choose("W25x10xx");
  const std::vector<uint8_t> data = LoadRandom(64 * 1024);
  const uint32_t sizeKB = programmer->Chip.SizeKB;
  ASSERT_EQ(sizeKB, 64u) << "the used range ends with the data";

  RunToEnd(&TQNProgrammer::SpdBtnDownLoadClick);
  EXPECT_TRUE(LoggedLine(Line("编程器 1 ：下载数据......")));
  EXPECT_TRUE(LoggedLine(Line("编程器 2 ：下载数据......")));
  ExpectEnded(false);
  EXPECT_EQ(programmer->Gauge(2).MaxValue, static_cast<int>(sizeKB + 2));

  c().EnEraseChk.Checked = true;
  RunToEnd(&TQNProgrammer::SpdBtnAutoPClick);
  EXPECT_EQ(view.lines.front(), ">---------------------------------------------------------------");
  for (int n = 1; n <= 2; ++n) {
    const std::string k = std::to_string(n);
    EXPECT_TRUE(LoggedLine(Line("芯片" + k + " : 启动自动编程，擦除芯片......")));
    EXPECT_TRUE(LoggedLine(ChannelLine(n, "Chip has been Erased, Do Programming......")));
    EXPECT_TRUE(LoggedLine(ChannelLine(n, "Programming Success, do verification......")));
  }
  ExpectEnded(false);
  EXPECT_EQ(programmer->BurnCount, 2u);
  EXPECT_EQ(c().StatusPanel2.Caption, "烧写OK总数: 2");
  EXPECT_EQ(ReadChip(data.size()), data);

  // Both chips hold the data now: not blank, and they verify.
  programmer->Image.Erase();
  LoadRandom(64 * 1024);
  RunToEnd(&TQNProgrammer::BlankCheck1Click);
  EXPECT_TRUE(LoggedLine(Line("芯片1 ：开始芯片查空......")));
  for (int n = 1; n <= 2; ++n) EXPECT_TRUE(LoggedLine(ChannelLine(n, "Chip is Not Blank!")));
  // Each chip was read back whole (128 KB) and its programmed bytes counted.
  const auto programmed = std::count_if(data.begin(), data.end(), [](uint8_t b) { return b != 0xFF; });
  const auto firstProgrammed = std::find_if(data.begin(), data.end(), [](uint8_t b) { return b != 0xFF; }) - data.begin();
  for (int n = 1; n <= 2; ++n)
    EXPECT_TRUE(LoggedLine(ChannelLine(
        n, FormatText("Read back 0x00000000-0x0001FFFF: %lld bytes differ, the first at 0x%08llX.",
                      static_cast<long long>(programmed), static_cast<long long>(firstProgrammed)))));
  ExpectEnded(true, true);
  RunToEnd(&TQNProgrammer::SpdBtnVerifyClick);
  EXPECT_TRUE(LoggedLine(Line("芯片2 ：执行数据校验......")));
  ExpectEnded(false);

  RunToEnd(&TQNProgrammer::SpdBtnEraseClick);
  EXPECT_TRUE(LoggedLine(Line("芯片 1 ：芯片擦除......")));
  EXPECT_TRUE(LoggedLine(Line("芯片 2 ：芯片擦除......")));
  ExpectEnded(false);
  RunToEnd(&TQNProgrammer::BlankCheck1Click);
  for (int n = 1; n <= 2; ++n) EXPECT_TRUE(LoggedLine(ChannelLine(n, "Chip is Blank!")));
  ExpectEnded(false);

  RunToEnd(&TQNProgrammer::SpdBtnProgClick);
  EXPECT_TRUE(LoggedLine(Line("芯片1 ：开始芯片编程......")));
  EXPECT_TRUE(LoggedLine(Line("芯片2 ：开始芯片编程......")));
  ExpectEnded(false);
  EXPECT_EQ(ReadChip(data.size()), data);
  EXPECT_TRUE(LoggedLine(Line("芯片 1：读取芯片数据......")));

  RunToEnd(&TQNProgrammer::ReadChipIDandStatus1Click);
  EXPECT_TRUE(LoggedLine(Line("芯片 1：读取芯片信息数据......")));
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "Read Chip Information success: ID=0x40,0xEF, Statu Reg=0x02,0x00")));

  EXPECT_EQ(programmer->BurnCount, 2u) << "only automatic runs count burns";
  EXPECT_EQ(c().StatusPanel3.Caption, "烧写NG总数: 0");
  EXPECT_TRUE(view.messages.empty());

  // What each simulated chip holds when the simulator ends.
  sim.reset();
  for (int n = 1; n <= 2; ++n) {
    const std::string chip = test::ReadFile(chips / ("programmer-" + std::to_string(n) + ".bin"));
    ASSERT_EQ(chip.size(), 128u * 1024);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), reinterpret_cast<const uint8_t*>(chip.data()))) << n;
    EXPECT_TRUE(std::all_of(chip.begin() + data.size(), chip.end(), [](char b) { return uint8_t(b) == 0xFF; }));
  }
}

TEST_F(ProgrammingTest, WhatIsProgrammedReadsBackOnEveryFamily) {
  Connect(1);
  struct Case {
    const char* chip;
    uint32_t size;  // bytes of the image programmed
  };
  const Case cases[] = {
      {"W25x10xx", 128 * 1024},  // NOR flash, streamed read
      {"24xx512", 64 * 1024},    // I2C EEPROM
      {"25xx040", 512},          // SPI EEPROM
      {"93xx66", 512},           // Microwire EEPROM
      {"GT34C04-xxx", 512},      // SPD / temperature-sensor EEPROM
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.chip);
    Choose(k.chip);
    c().ChkBoxCPES.Checked = true;
    const std::vector<uint8_t> data = LoadRandom(k.size);
    RunToEnd(&TQNProgrammer::SpdBtnAutoPClick);
    EXPECT_TRUE(LoggedLine(ChannelLine(1, "操作成功！")));
    EXPECT_EQ(ReadChip(k.size), data);
  }
  EXPECT_TRUE(view.messages.empty());
  // The page flash, with its spare bytes, has a test of its own.
}

TEST_F(ProgrammingTest, AnErrorOnOneProgrammerLeavesTheOtherRunningToSuccess) {
  auto failing = StartSimulator(1, {"--fail", "0x95@8=0x2D"});
  auto good = StartSimulator(1);
  ASSERT_TRUE(failing && good);
  ShowOn({failing->Ports()[0], good->Ports()[0]}, 2);
  Choose("24xx512");
  LoadRandom(64 * 1024);
  RunToEnd(&TQNProgrammer::SpdBtnAutoPClick);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "写Flash Memory错误！");
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "写Flash Memory错误！")));
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "操作失败！")));
  EXPECT_EQ(programmer->Gauge(1).Colour, GaugeColour::Red);
  EXPECT_TRUE(LoggedLine(ChannelLine(2, "Programming Success, do verification......")));
  EXPECT_TRUE(LoggedLine(ChannelLine(2, "操作成功！")));
  EXPECT_EQ(programmer->Gauge(2).Colour, GaugeColour::Blue);
  EXPECT_EQ(programmer->BurnCount, 1u);
  EXPECT_EQ(c().StatusPanel2.Caption, "烧写OK总数: 1");
  // The chip the automatic run could not finish is a failed burn.
  EXPECT_EQ(programmer->FailCount, 1u);
  EXPECT_EQ(c().StatusPanel3.Caption, "烧写NG总数: 1");

  // Failures of other operations are not burns.
  RunToEnd(&TQNProgrammer::SpdBtnProgClick);
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "操作失败！")));
  EXPECT_EQ(programmer->FailCount, 1u);
}

// Two programmers and host-side numbers: every press programs a chip on
// each, one after the other, and no number is given twice, whether the
// press programs only or runs the automatic sequence.
TEST_F(ProgrammingTest, HostSideSerialNumbersGiveEachChipOfTwoProgrammersItsOwnNumber) {
  std::filesystem::create_directories(directory / "chips");
  Connect(2, {"--capture", (directory / "wire").string(), "--dump-chips", (directory / "chips").string()});
  Choose("24xx512");
  LoadRandom(8 * 1024);
  c().CheckBoxSN.Checked = true;
  programmer->CheckBoxSNClick();
  c().ChkBoxPCSN.Checked = true;
  c().SNEdit.Text = "0x00000100";
  c().AddrEdit.Text = "0x1000";
  const auto press = [&](void (TQNProgrammer::*command)()) {
    Run(command);
    ASSERT_TRUE(loop.runUntil([&] { return Idle(1) && Idle(2) && !programmer->NumberedRunPending(); }, 30s));
    loop.runFor(20ms);
  };
  press(&TQNProgrammer::SpdBtnAutoPClick);
  press(&TQNProgrammer::SpdBtnProgClick);
  press(&TQNProgrammer::SpdBtnAutoPClick);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(c().SNEdit.Text, "0x00000106");

  // On the wire: the block holding the number, as each programmer got it.
  std::vector<uint32_t> numbers[2];
  for (int n = 1; n <= 2; ++n) {
    const auto packets = test::wire::Packets(test::wire::ReadCapture(directory / ("wire." + std::to_string(n))));
    for (const test::wire::Packet& block : test::wire::PacketsWithCode(packets, test::wire::kProgramBlock)) {
      if (block.Parameter() != 4) continue;  // the block at 4 KB holds 0x1000
      const auto bytes = block.Payload(48, 4);
      numbers[n - 1].push_back(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24);
    }
  }
  EXPECT_EQ(numbers[0], (std::vector<uint32_t>{0x100, 0x102, 0x104}));
  EXPECT_EQ(numbers[1], (std::vector<uint32_t>{0x101, 0x103, 0x105}));

  // In the chips: the last press's numbers.
  sim.reset();
  for (int n = 1; n <= 2; ++n) {
    const std::string chip = test::ReadFile(directory / "chips" / ("programmer-" + std::to_string(n) + ".bin"));
    ASSERT_GE(chip.size(), 0x1004u);
    EXPECT_EQ(static_cast<uint8_t>(chip[0x1000]), 0x04 + n - 1);
    EXPECT_EQ(static_cast<uint8_t>(chip[0x1001]), 0x01);
  }
}

TEST_F(ProgrammingTest, HostSideSerialNumbersStepFromRunToRunAndLandInEachChip) {
  Connect(1);
  struct Case {
    const char* chip;
    bool bigEndian;
  };
  for (const Case& k : {Case{"24xx512", false}, Case{"W25x10xx", true}}) {
    SCOPED_TRACE(k.chip);
    Choose(k.chip);
    LoadRandom(32 * 1024);
    c().EnEraseChk.Checked = true;  // the flash chip is programmed again and again
    c().CheckBoxSN.Checked = true;
    programmer->CheckBoxSNClick();
    c().ChkBoxPCSN.Checked = true;
    c().SNOrderChk.Checked = k.bigEndian;
    c().SNEdit.Text = "0x000000FF";
    c().GainEdit.Text = "0x10";
    c().AddrEdit.Text = "0x7FF0";
    for (uint32_t number : {0x000000FFu, 0x0000010Fu, 0x0000011Fu}) {
      SCOPED_TRACE(number);
      RunToEnd(&TQNProgrammer::SpdBtnAutoPClick);
      EXPECT_TRUE(LoggedLine(ChannelLine(1, "操作成功！")));
      const std::vector<uint8_t> chip = ReadChip(32 * 1024);
      const uint32_t stored = k.bigEndian ? uint32_t{chip[0x7FF0]} << 24 | chip[0x7FF1] << 16 | chip[0x7FF2] << 8 | chip[0x7FF3]
                                          : uint32_t{chip[0x7FF3]} << 24 | chip[0x7FF2] << 16 | chip[0x7FF1] << 8 | chip[0x7FF0];
      EXPECT_EQ(stored, number);
      char next[16];
      std::snprintf(next, sizeof next, "0x%08X", number + 0x10);
      EXPECT_EQ(c().SNEdit.Text, next);
    }
  }
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(ProgrammingTest, DownloadedProgrammersProgramChipsByThemselvesAndTheWindowCountsThem) {
  // Each programmer runs four cycles after the download: the second fails
  // its verification, the fourth finds the burn limit of 2 reached.
  const std::filesystem::path chips = directory / "chips";
  std::filesystem::create_directory(chips);
  // The first cycle waits long enough for the download's end to be checked
  // before the cycles' reports move the gauges.
  Connect(2, {"--auto-cycles", "4", "--cycle-interval-ms", "200", "--fail-cycle", "2=0x31", "--dump-chips",
              chips.string()});
  Choose("W25x10xx");
  const std::vector<uint8_t> data = LoadRandom(16 * 1024);
  c().CheckBoxSN.Checked = true;
  programmer->CheckBoxSNClick();
  c().SNEdit.Text = "0x00001000";
  c().GainEdit.Text = "1";
  c().AddrEdit.Text = "0x3FF0";
  c().SpinEditNumb.Value = 2;
  programmer->SpinEditNumbChange();
  ASSERT_TRUE(c().ChkBoxNumb.Checked);

  RunToEnd(&TQNProgrammer::SpdBtnDownLoadClick);
  ExpectEnded(false);
  ASSERT_TRUE(loop.runUntil([&] { return programmer->ChannelNg[0] == 2 && programmer->ChannelNg[1] == 2; }, 20s));
  loop.runFor(50ms);  // nothing more comes

  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(programmer->ChannelOk[n - 1], 2u);
    EXPECT_TRUE(LoggedLine(ChannelLine(n, n == 1 ? " Initial Programming Interface ...." : " Start Auto-Programming....")));
    EXPECT_TRUE(LoggedLine(ChannelLine(n, " Do Main Flash Programming....")));
    EXPECT_TRUE(LoggedLine(ChannelLine(n, " Do Main Flash Verification....")));
    const std::string completed = " Progrmming Completed : ";
    EXPECT_TRUE(LoggedLine(ChannelLine(n, completed + (n == 1 ? "Successed !" : "Successed!"))));
    EXPECT_TRUE(LoggedLine(ChannelLine(n, completed + "Failed : Error=0x31!")));
    EXPECT_TRUE(LoggedLine(ChannelLine(n, completed + "Failed : Error=0x4C!")));
    EXPECT_TRUE(LoggedLine(ChannelLine(n, std::string(n == 1 ? "" : " ") + "---------------- OK=2, NG=2. ----------------")));
    EXPECT_EQ(programmer->Gauge(n).Colour, GaugeColour::Red) << "the last cycle failed";
  }
  EXPECT_EQ(programmer->BurnCount, 4u);
  EXPECT_EQ(programmer->FailCount, 4u);
  EXPECT_EQ(c().StatusPanel2.Caption, "烧写OK总数: 4");
  EXPECT_EQ(c().StatusPanel3.Caption, "烧写NG总数: 4");

  // The programmers numbered their chips themselves: programmer 2 one above
  // programmer 1, each stepping by two. The failed cycle kept its number.
  const auto number = [](const std::string& chip) {
    return uint32_t{uint8_t(chip[0x3FF0])} | uint32_t{uint8_t(chip[0x3FF1])} << 8 |
           uint32_t{uint8_t(chip[0x3FF2])} << 16 | uint32_t{uint8_t(chip[0x3FF3])} << 24;
  };
  for (int n = 1; n <= 2; ++n) {
    for (int cycle : {1, 3}) {
      SCOPED_TRACE("programmer " + std::to_string(n) + " cycle " + std::to_string(cycle));
      const std::string chip =
          test::ReadFile(chips / ("programmer-" + std::to_string(n) + "-cycle-" + std::to_string(cycle) + ".bin"));
      ASSERT_EQ(chip.size(), 128u * 1024);
      EXPECT_EQ(number(chip), 0x1000u + (n - 1) + (cycle == 1 ? 0 : 2));
      EXPECT_TRUE(std::equal(data.begin(), data.begin() + 0x3FF0, reinterpret_cast<const uint8_t*>(chip.data())));
      EXPECT_TRUE(std::all_of(chip.begin() + 16 * 1024, chip.end(), [](char b) { return uint8_t(b) == 0xFF; }));
    }
    EXPECT_FALSE(std::filesystem::exists(chips / ("programmer-" + std::to_string(n) + "-cycle-4.bin")))
        << "the refused cycle put no chip in";
  }

  // Found again, each programmer reports its next number.
  view.lines.clear();
  programmer->BitBtnFindCOMClick();
  ASSERT_TRUE(loop.runUntil([&] { return programmer->DevicesFound == 2; }, 10s));
  loop.runFor(50ms);
  EXPECT_TRUE(LoggedLine("编程器1 ：有设定序列号烧写功能!"));
  EXPECT_TRUE(LoggedLine(" 当前序列号为：      0x00001004"));
  EXPECT_TRUE(LoggedLine(" 当前序列号为：      0x00001005"));
}

TEST_F(ProgrammingTest, TheStartKeyWithoutADownloadedJobFails) {
  Connect(2);
  ASSERT_EQ(kill(sim->Pid(), SIGUSR1), 0);
  ASSERT_TRUE(loop.runUntil([&] { return programmer->FailCount == 2; }, 10s));
  for (int n = 1; n <= 2; ++n)
    EXPECT_TRUE(LoggedLine(ChannelLine(n, " Progrmming Completed : Failed : Error=0x45!")));
  EXPECT_EQ(c().StatusPanel3.Caption, "烧写NG总数: 2");
  EXPECT_EQ(programmer->BurnCount, 0u);
}

TEST_F(ProgrammingTest, PreconditionsAreRefusedWithTheirBoxes) {
  Connect(2);
  struct Case {
    void (TQNProgrammer::*command)();
    const char* box;
  };
  // No chip yet.
  for (const Case& k : {Case{&TQNProgrammer::SpdBtnAutoPClick, "请选择并确认芯片型号！"},
                        Case{&TQNProgrammer::SpeedButtonRDClick, "请选择并确认芯片型号！"},
                        Case{&TQNProgrammer::BlankCheck1Click, "请选择并确认芯片型号！"}}) {
    view.messages.clear();
    Run(k.command);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].kind, MessageKind::Warning);
    EXPECT_EQ(view.messages[0].text, k.box);
  }
  // A chip, no file: the commands that send data refuse, the others run.
  Choose("24xx02");
  for (auto command : {&TQNProgrammer::SpdBtnDownLoadClick, &TQNProgrammer::SpdBtnProgClick,
                       &TQNProgrammer::SpdBtnVerifyClick, &TQNProgrammer::SpdBtnAutoPClick}) {
    view.messages.clear();
    Run(command);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "请加载目标文件！");
    EXPECT_TRUE(Idle(1) && Idle(2));
  }
  view.messages.clear();
  RunToEnd(&TQNProgrammer::SpdBtnEraseClick);
  EXPECT_TRUE(view.messages.empty());
  ExpectEnded(false);
}

}  // namespace
}  // namespace velkor
