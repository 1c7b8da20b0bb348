// The operations' start: job settings from the controls, preconditions, the
// programmers that take part, host-side serial numbers.
#include <gtest/gtest.h>

#include <algorithm>

#include "programmer_fixture.hpp"
#include "support/pty_pair.hpp"

namespace velkor {
namespace {

class OperationsTest : public test::ProgrammerFixture {
 protected:
  OperationsTest() {
    for (int n : {1, 2}) {
      programmer->Channels.Port(n).CommName = ptys[n - 1].SlavePath();
      programmer->Channels.Port(n).OpenPort();
      programmer->Channels.Channel(n).Identified = 1;
    }
  }
  MainControls& c() { return programmer->Controls; }
  LinkChannel& ch(int n) { return programmer->Channels.Channel(n); }
  bool Logged(const std::string& text) const {
    return std::find(view.lines.begin(), view.lines.end(), Line(text)) != view.lines.end();
  }
  void LoadData() { programmer->FileLoaded = true; }

  test::PtyPair ptys[2];
};

TEST_F(OperationsTest, JobSettingsComeFromTheControls) {
  Choose("24xx02");
  c().SpinEditIn.Value = 500;
  c().SpinEditOut.Value = 1234;
  c().SpinEditPTM.Value = 100;
  c().CheckBoxAut.Checked = true;
  c().EditDevAdrX.Text = "0xA2";
  c().SpinEditPGSZ.Value = 32;
  c().RadioGroupSpd.ItemIndex = 3;
  c().RadioGpVolt.ItemIndex = 1;
  c().ChkBoxNotBLK.Checked = true;
  c().CheckBoxSN.Checked = true;
  c().SNEdit.Text = "0x12345678";
  c().GainEdit.Text = "$10";
  c().AddrEdit.Text = "0xFFF0";
  c().SNOrderChk.Checked = true;
  c().ChkBoxNumb.Checked = true;
  c().SpinEditNumb.Value = 1000;
  programmer->PrepareJob();
  const JobSettings& job = programmer->Job;
  EXPECT_EQ(job.SettleTime, 100);
  EXPECT_EQ(job.RemoveTime, 246);
  EXPECT_EQ(job.PowerUpTime, 10);
  EXPECT_EQ(job.AutoDetect, 0x0F);
  EXPECT_EQ(programmer->Chip.DeviceAddress, 0xA2);
  EXPECT_EQ(programmer->Chip.PageSize, 32u);
  EXPECT_EQ(job.ClockCode, 5);
  EXPECT_EQ(job.OptionBits, 0x01 | 0x30 | 0x40);
  EXPECT_EQ(job.SnEnable, 0x0F);
  EXPECT_EQ(job.SnValue, 0x12345678u);
  EXPECT_EQ(job.SnStep, 0x10);
  EXPECT_EQ(job.SnAddress, 0xFFF0u);
  EXPECT_EQ(job.SnWidth, 4);
  EXPECT_EQ(job.LimitOn, 0x0F);
  EXPECT_EQ(job.LimitCount, 1000u);

  // Other families ignore the address box; sensors always clock at 200.
  Choose("W25x64xx");
  c().EditDevAdrX.Text = "0xA4";
  c().CheckBoxSN.Checked = false;
  programmer->PrepareJob();
  EXPECT_EQ(programmer->Chip.DeviceAddress, 0xA2) << "kept from the last I2C job";
  EXPECT_EQ(programmer->Job.SnAddress, 0xFFFFFFFFu);
  EXPECT_EQ(programmer->Job.SnValue, 0u);
  Choose("ATA30TSE004A");
  c().RadioGroupSpd.ItemIndex = 0;
  programmer->PrepareJob();
  EXPECT_EQ(programmer->Job.ClockCode, 200);
}

TEST_F(OperationsTest, FlashOptionsBecomeOperationFlagsAndStatusBytes) {
  struct Case {
    const char* chip;
    bool qe, erase, blank, program, verify;
    uint8_t opFlags;
    uint8_t status0;
    uint8_t status1;
  };
  const Case cases[] = {
      {"W25x64xx", true, true, true, true, true, 0x13, 0x0C, 2},
      {"W25x64xx", false, false, false, false, false, 0x8C, 0x0C, 0},
      {"AT25SF041", true, false, false, true, true, 0x10, 0x0C, 2},  // QE asked twice is still one bit
      {"MX25L3233", false, false, false, true, true, 0x00, 0x8C, 0},
      {"MX25L64xxx", false, false, false, true, true, 0x00, 0x0C, 2},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.chip);
    Choose(k.chip);
    programmer->Chip.ProtectSetting = 0x0C;
    programmer->Chip.StatusBytes[1] = 0;
    c().CheckBoxQE.Checked = k.qe;
    c().EnEraseChk.Checked = k.erase;
    c().EnBlankChk.Checked = k.blank;
    c().EnProgChk.Checked = k.program;
    c().EnVerifyChk.Checked = k.verify;
    programmer->PrepareJob();
    EXPECT_EQ(programmer->Job.OpFlags, k.opFlags);
    EXPECT_EQ(programmer->Chip.StatusBytes[0], k.status0);
    EXPECT_EQ(programmer->Chip.StatusBytes[1], k.status1);
  }
}

TEST_F(OperationsTest, ANonIntegerStopsTheOperationBeforeAnythingStarts) {
  Choose("24xx02");
  LoadData();
  c().EditDevAdrX.Text = "A0h";
  programmer->RunCommand([&] { programmer->SpdBtnProgClick(); });
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "'A0h' is not a valid integer value");
  EXPECT_EQ(ch(1).Busy, 0);
  EXPECT_EQ(ch(2).Busy, 0);
  EXPECT_TRUE(ptys[0].ReadUntilQuiet(std::chrono::milliseconds(30)).empty());
}

TEST_F(OperationsTest, ParallelOperationsStartOnEveryFreeProgrammer) {
  Choose("24xx02");
  LoadData();
  programmer->SpdBtnProgClick();
  EXPECT_TRUE(Logged("芯片1 ：开始芯片编程......"));
  EXPECT_TRUE(Logged("芯片2 ：开始芯片编程......"));
  EXPECT_EQ(ch(1).Operation, 0x07);
  EXPECT_EQ(ch(2).Busy, 1);
  EXPECT_FALSE(ptys[1].ReadUntilQuiet(std::chrono::milliseconds(50)).empty()) << "programmer 2 got its block";
}

TEST_F(OperationsTest, ABusyProgrammerKeepsItsTransferWhileTheOtherStarts) {
  Choose("24xx512");
  LoadData();
  ch(1).Operation = 0x07;
  ch(1).Busy = 1;
  ch(1).BlockPos = 40;
  programmer->SpdBtnEraseClick();
  EXPECT_EQ(ch(1).BlockPos, 40u) << "the running transfer does not restart at block 0";
  EXPECT_EQ(ch(1).Operation, 0x07);
  EXPECT_FALSE(Logged("芯片 1 ：芯片擦除......"));
  EXPECT_TRUE(Logged("芯片 2 ：芯片擦除......"));
}

TEST_F(OperationsTest, NoFreeProgrammerIsSaidInTheLogOrInABox) {
  Choose("W25x64xx");
  LoadData();
  ch(1).Identified = 0;
  ch(2).Identified = 0;
  programmer->SpdBtnAutoPClick();
  ASSERT_GE(view.lines.size(), 2u);
  EXPECT_EQ(view.lines[view.lines.size() - 2], ">---------------------------------------------------------------");
  EXPECT_EQ(view.lines.back(), Line("请连接好设备!"));
  const std::size_t lines = view.lines.size();
  programmer->SpdBtnDownLoadClick();
  EXPECT_EQ(view.lines.size(), lines) << "download says nothing";
  programmer->SpeedButtonRDClick();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "请连接好设备！");
}

TEST_F(OperationsTest, RangesOf64MiBAndMoreStartOnlyWithExtendedAddressing) {
  using Handler = void (TQNProgrammer::*)();
  struct Case {
    const char* name;
    Handler handler;
    bool limited;  // the operation's packets carry positions or the used size
  };
  const Case cases[] = {
      {"download", &TQNProgrammer::SpdBtnDownLoadClick, true}, {"program", &TQNProgrammer::SpdBtnProgClick, true},
      {"auto", &TQNProgrammer::SpdBtnAutoPClick, true},        {"verify", &TQNProgrammer::SpdBtnVerifyClick, true},
      {"read", &TQNProgrammer::SpeedButtonRDClick, true},      {"erase", &TQNProgrammer::SpdBtnEraseClick, false},
      {"blank check", &TQNProgrammer::BlankCheck1Click, false},
  };
  Choose("GD55B01GE");  // 128 MiB
  LoadData();
  for (const bool extended : {false, true}) {
    for (const Case& k : cases) {
      SCOPED_TRACE(::testing::Message() << k.name << (extended ? " extended" : ""));
      c().ChkBoxExtAddr.Checked = extended;
      programmer->Chip.SizeKB = 65536;  // exactly 64 MiB used
      view.messages.clear();
      (programmer.get()->*k.handler)();
      const bool refused = std::any_of(view.messages.begin(), view.messages.end(), [](const auto& m) {
        return m.kind == MessageKind::Warning && m.text.find("64 MiB or more") != std::string::npos;
      });
      EXPECT_EQ(refused, k.limited && !extended);
      EXPECT_EQ(ch(1).Busy != 0, !refused);
      for (int n : {1, 2}) {
        ch(n).Busy = 0;
        ch(n).Operation = 0xF0;
      }
    }
  }
  c().ChkBoxExtAddr.Checked = false;
  programmer->Chip.SizeKB = 65532;  // just below: no refusal
  view.messages.clear();
  programmer->SpdBtnProgClick();
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(ch(1).Busy, 1);
}

TEST_F(OperationsTest, ExitWhileProgrammersWorkAsksAndRecordsWhatWasInterrupted) {
  Choose("W25x10xx");
  LoadData();
  programmer->SpdBtnProgClick();
  ASSERT_TRUE(ch(1).Busy && ch(2).Busy);

  view.questionAnswers = {false};
  programmer->SpdBtnExitClick();
  ASSERT_EQ(view.questions.size(), 1u);
  EXPECT_NE(view.questions[0].find("programmer 1 is busy (program) and programmer 2 is busy (program)"),
            std::string::npos)
      << view.questions[0];
  EXPECT_TRUE(ch(1).Busy && ch(2).Busy) << "No keeps the program and its operations running";
  EXPECT_TRUE(programmer->Channels.Port(1).IsOpen());
  EXPECT_FALSE(view.mainWindowClosed);

  view.questionAnswers = {true};
  programmer->SpdBtnExitClick();
  EXPECT_FALSE(ch(1).Busy || ch(2).Busy);
  EXPECT_FALSE(programmer->Channels.Port(1).IsOpen());
  EXPECT_TRUE(view.mainWindowClosed);
  for (int n : {1, 2}) {
    const std::string line = "> " + std::string(test::kTime) + " C" + std::to_string(n) +
                             ": Interrupted by the exit of the program: program stopped at 0 KB.";
    EXPECT_NE(std::find(view.lines.begin(), view.lines.end(), line), view.lines.end()) << line;
  }
  EXPECT_NE(programmer->Info.Text().find("Interrupted by the exit"), std::string::npos);

  // Nothing busy: no question.
  view.questions.clear();
  programmer->SpdBtnExitClick();
  EXPECT_TRUE(view.questions.empty());
}

TEST_F(OperationsTest, AutomaticProgrammingErasesOnlyFlashWithEraseChosen) {
  struct Case {
    const char* chip;
    bool erase;
    uint8_t firstOperation;
  };
  for (const Case& k : {Case{"W25x64xx", true, 0x05}, Case{"W25x64xx", false, 0x07}, Case{"24xx02", true, 0x07}}) {
    SCOPED_TRACE(k.chip);
    for (int n : {1, 2}) ch(n).Busy = 0;  // the last case's run is over
    Choose(k.chip);
    LoadData();
    c().EnEraseChk.Checked = k.erase;
    programmer->SpdBtnAutoPClick();
    EXPECT_EQ(ch(1).Operation, k.firstOperation);
    EXPECT_EQ(ch(1).AutoRun, 1);
  }
}

TEST_F(OperationsTest, HostSideSerialNumbersGoIntoTheImageInEitherOrder) {
  Choose("24xx512");
  struct Case {
    bool bigEndian;
    std::array<uint8_t, 4> bytes;
  };
  for (const Case& k : {Case{false, {0x78, 0x56, 0x34, 0x12}}, Case{true, {0x12, 0x34, 0x56, 0x78}}}) {
    c().SNOrderChk.Checked = k.bigEndian;
    programmer->Job.SnValue = 0x12345678;
    programmer->Job.SnAddress = 0xFFF0;
    programmer->WriteSerialNumber();
    EXPECT_TRUE(std::equal(k.bytes.begin(), k.bytes.end(), programmer->Image.Data.get() + 0xFFF0));
    EXPECT_EQ(view.hexBytesChanged.back(), (std::pair<uint32_t, uint32_t>{0xFFF0, 0xFFF3}));
  }
}

TEST_F(OperationsTest, HostSideSerialNumberOutsideTheProgrammedRangeStartsNothing) {
  Choose("24xx512");  // 64 KB: the whole chip is programmed
  LoadData();
  c().CheckBoxSN.Checked = true;
  c().ChkBoxPCSN.Checked = true;
  struct Case {
    const char* address;
    const char* reason;
  };
  const Case cases[] = {
      {"0x0000FFFD", "lie outside the range that is programmed, 0x00000000-0x0000FFFF"},
      {"0x081FFFF0", "lie outside the range that is programmed"},
      {"0xFFFFFFF0", "lies beyond the image buffer, which ends at 0x08200000"},
  };
  for (void (TQNProgrammer::*command)() : {&TQNProgrammer::SpdBtnProgClick, &TQNProgrammer::SpdBtnAutoPClick}) {
    for (const Case& k : cases) {
      SCOPED_TRACE(k.address);
      view.messages.clear();
      view.lines.clear();
      c().AddrEdit.Text = k.address;
      programmer->RunCommand([&] { (programmer.get()->*command)(); });
      ASSERT_EQ(view.messages.size(), 1u);
      EXPECT_EQ(view.messages[0].kind, MessageKind::Warning);
      EXPECT_NE(view.messages[0].text.find(k.reason), std::string::npos) << view.messages[0].text;
      EXPECT_FALSE(ch(1).Busy || ch(2).Busy);
      EXPECT_TRUE(view.lines.empty()) << "nothing is started, not even the automatic run's rule";
    }
  }
  // Serial numbers switched off: the host-side box, still ticked but
  // disabled, writes nothing and stops nothing.
  c().CheckBoxSN.Checked = false;
  view.messages.clear();
  programmer->RunCommand([&] { programmer->SpdBtnProgClick(); });
  EXPECT_TRUE(view.messages.empty());
  EXPECT_TRUE(ch(1).Busy && ch(2).Busy);
}

TEST_F(OperationsTest, HostSideNumberedChipsAreProgrammedOneAtATime) {
  Choose("24xx512");
  LoadData();
  c().CheckBoxSN.Checked = true;
  c().ChkBoxPCSN.Checked = true;
  c().AddrEdit.Text = "0x100";
  for (void (TQNProgrammer::*command)() : {&TQNProgrammer::SpdBtnProgClick, &TQNProgrammer::SpdBtnAutoPClick}) {
    ch(1).Busy = ch(2).Busy = 0;
    view.lines.clear();
    programmer->RunCommand([&] { (programmer.get()->*command)(); });
    EXPECT_TRUE(ch(1).Busy);
    EXPECT_FALSE(ch(2).Busy) << "both chips would get the same number";
    EXPECT_TRUE(programmer->NumberedRunPending());
    EXPECT_TRUE(Logged("Host-side serial numbers: one chip at a time, so that each gets its own number; "
                       "programmer 2 follows."));

    // While programmer 1 runs, a second press starts nothing.
    view.lines.clear();
    programmer->RunCommand([&] { (programmer.get()->*command)(); });
    EXPECT_FALSE(ch(2).Busy);
    EXPECT_EQ(view.lines, std::vector<std::string>{Line("Host-side serial numbers: programmer 1 is still busy; start "
                                                        "the next chip when it has finished.")});
    // Programmer 1 ends (here: fails); programmer 2 follows with the next number.
    programmer->EndOperation(1, true);
    loop.runFor(std::chrono::milliseconds(20));
    EXPECT_TRUE(ch(2).Busy);
    EXPECT_FALSE(programmer->NumberedRunPending());
    programmer->EndOperation(2, true);
    c().SNEdit.Text = "0x00000000";
  }
}

TEST_F(OperationsTest, SerialNumberByteOrderFollowsTheBoxFromJobToJob) {
  Choose("GD25LB512ME");  // a low-voltage chip: its option bit 0x20 is half of the big-endian pair
  ASSERT_TRUE(programmer->Chip.LowVoltChip);
  for (bool bigEndian : {true, false, true, false}) {
    c().SNOrderChk.Checked = bigEndian;
    programmer->PrepareJob();
    EXPECT_EQ((programmer->Job.OptionBits & 0x30) == 0x30, bigEndian) << int(programmer->Job.OptionBits);
    EXPECT_TRUE(programmer->Job.OptionBits & 0x20);
  }
}

TEST_F(OperationsTest, SerialNumberStepsByItsIncrementAndWrapsAround) {
  struct Case {
    uint32_t value;
    uint16_t step;
    bool serialNumbersOn;
    const char* shown;
  };
  const Case cases[] = {
      {0x000000FF, 0x10, true, "0x0000010F"},
      {0xFFFFFFFF, 1, true, "0x00000000"},
      {0x12345678, 2, false, "unchanged"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.shown);
    c().CheckBoxSN.Checked = k.serialNumbersOn;
    c().SNEdit.Text = "unchanged";
    programmer->Job.SnValue = k.value;
    programmer->Job.SnStep = k.step;
    programmer->StepSerialNumber();
    EXPECT_EQ(c().SNEdit.Text, k.shown);
  }
}

TEST_F(OperationsTest, FixedDataGoesIntoTheImageOrIsRefusedWithAReason) {
  Choose("24xx512");
  struct Case {
    const char* address;
    const char* data;
    std::vector<uint8_t> written;  // empty: refused
    const char* message;           // of the box, or nothing
    const char* focus;
  };
  const Case cases[] = {
      {"0x100", "AB", {0x41, 0x42}, nullptr, nullptr},
      {"$8200000", "Z", {'Z'}, nullptr, nullptr},  // the image's very last byte
      {"0x100", "序列", {0xD0, 0xF2, 0xC1, 0xD0}, nullptr, nullptr},
      {"0x100", "", {}, "请输入有效的序列号数据!", "EditDataSN"},
      {"$8200000", "AB", {}, "would reach beyond the image buffer", "AddrEditSN"},
      {"-1", "A", {}, "would reach beyond the image buffer", "AddrEditSN"},
      {"0x10G", "A", {}, "'0x10G' is not a valid integer value", nullptr},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.address) + " " + k.data);
    programmer->Image.Erase();
    view.messages.clear();
    view.closed.clear();
    view.focus.clear();
    programmer->ConfigSN.AddrEditSN.Text = k.address;
    programmer->ConfigSN.EditDataSN.Text = k.data;
    const std::string accBefore = c().StatusPanel0.Caption;
    programmer->RunCommand([&] { programmer->BitBtnOKClick(); });
    if (!k.written.empty()) {
      const uint32_t at = static_cast<uint32_t>(std::stoul(std::string(k.address).substr(k.address[0] == '$' ? 1 : 2),
                                                           nullptr, 16));
      EXPECT_TRUE(std::equal(k.written.begin(), k.written.end(), programmer->Image.Data.get() + at));
      EXPECT_EQ(view.closed, std::vector<DialogId>{DialogId::ConfigSN});
      EXPECT_TRUE(view.messages.empty());
      if (at < 0x10000) {
        EXPECT_NE(c().StatusPanel0.Caption, accBefore) << "the checksums include the data";
      }
    } else {
      ASSERT_EQ(view.messages.size(), 1u);
      EXPECT_NE(view.messages[0].text.find(k.message), std::string::npos) << view.messages[0].text;
      EXPECT_TRUE(view.closed.empty()) << "the dialog stays open";
      EXPECT_EQ(view.focus, k.focus ? std::vector<std::string>{k.focus} : std::vector<std::string>{});
      EXPECT_TRUE(std::all_of(programmer->Image.Data.get() + 0x100, programmer->Image.Data.get() + 0x104,
                              [](uint8_t b) { return b == 0xFF; }));
      EXPECT_EQ(programmer->Image.Data[kImageCapacity - 1], 0xFF);
    }
  }
}

}  // namespace
}  // namespace velkor
