// Choosing chips: the catalogue's assignments, the window's set-up per
// family, the log lines, and the chip options.
#include <gtest/gtest.h>

#include <algorithm>

#include "programmer_fixture.hpp"

namespace velkor {
namespace {

using test::ProgrammerFixture;

class ChipSetupTest : public ProgrammerFixture {
 protected:
  ChipSetupTest() { programmer->FormShow(); }

  // The lines logged since the mark.
  std::vector<std::string> LinesSince(std::size_t mark) const {
    return {view.lines.begin() + static_cast<std::ptrdiff_t>(mark), view.lines.end()};
  }
  MainControls& c() { return programmer->Controls; }
};

TEST_F(ChipSetupTest, I2cEepromLogsItsLinesAndOffersAddressAndPageSize) {
  const std::size_t mark = view.lines.size();
  Choose("24xx02");
  EXPECT_EQ(LinesSince(mark), (std::vector<std::string>{Line("Chip \"24xx02\" is selectd."),
                                                        Line("Chip Main Flash is 256B/0KB."),
                                                        ".............................................."}));
  EXPECT_EQ(c().MCUNameEdit.Text, "24xx02");
  EXPECT_EQ(c().RadioGroupSpd.ItemIndex, 2);
  EXPECT_TRUE(c().RadioGroupSpd.Visible);
  EXPECT_FALSE(c().GroupBoxCtrl.Visible);
  EXPECT_TRUE(c().EditDevAdrX.Visible);
  EXPECT_TRUE(c().SpinEditPGSZ.Visible);
  EXPECT_EQ(c().SpinEditPGSZ.Value, 8);
  EXPECT_TRUE(c().TabChipSet.Visible);
  EXPECT_FALSE(c().SpdBtnErase.Visible);
  EXPECT_FALSE(c().SpdBtnBlkChk.Visible);
  EXPECT_TRUE(c().SpdBtnAutoP.Visible);
  EXPECT_TRUE(c().ChkBoxNotBLK.Visible);
  EXPECT_FALSE(c().ReadChipIDandStatus1.Visible);
  EXPECT_EQ(programmer->Chip.EraseTime, 100);
  EXPECT_EQ(programmer->Chip.DeviceAddress, 0xA0);
  EXPECT_EQ(programmer->Image.ChipEnd, 255u);
  EXPECT_TRUE(programmer->ChipConfirmed);
  EXPECT_FALSE(programmer->FileLoaded);
}

TEST_F(ChipSetupTest, LargeFlashOffersSixteenProtectionLevels) {
  const std::size_t mark = view.lines.size();
  Choose("W25x128xx");
  const auto lines = LinesSince(mark);
  EXPECT_NE(std::find(lines.begin(), lines.end(), Line("Chip Main Flash is 16384KB/16MB.")), lines.end());
  EXPECT_TRUE(c().ComBoxWPF.Visible);
  EXPECT_FALSE(c().ComBoxWP8.Visible);
  EXPECT_TRUE(c().ChkBoxSRWD.Visible);
  EXPECT_TRUE(c().LabelWP.Visible);
  EXPECT_TRUE(c().CheckBoxQE.Visible);
  EXPECT_TRUE(c().TabChipSet.Visible);
  EXPECT_FALSE(c().TabSheetFlash.Visible);
  EXPECT_TRUE(c().GroupBoxCtrl.Visible);
  EXPECT_FALSE(c().RadioGroupSpd.Visible);
  EXPECT_TRUE(c().ReadChipIDandStatus1.Visible);
  EXPECT_EQ(c().lbFlashSize.Caption, "16384 KByte");
  EXPECT_EQ(programmer->Chip.SizeKB, 16384u);
  EXPECT_EQ(programmer->Channels.Channel(1).BlockEnd, 16384u);
  EXPECT_EQ(programmer->Channels.Channel(2).BlockEnd, 16384u);
}

TEST_F(ChipSetupTest, FlashFamilyExceptionsByName) {
  struct Case {
    const char* chip;
    bool srwd, labelWp, qe, chipPage, wp8;
  };
  const Case cases[] = {
      {"MX25L3233", false, true, true, true, false},
      {"ESP8285", false, false, false, false, false},
      {"W25x40xx", true, true, true, true, true},  // under 1 MiB: eight levels
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.chip);
    Choose(k.chip);
    EXPECT_EQ(c().ChkBoxSRWD.Visible, k.srwd);
    EXPECT_EQ(c().LabelWP.Visible, k.labelWp);
    EXPECT_EQ(c().CheckBoxQE.Visible, k.qe);
    EXPECT_EQ(c().TabChipSet.Visible, k.chipPage);
    EXPECT_EQ(c().ComBoxWP8.Visible, k.wp8);
  }
}

TEST_F(ChipSetupTest, LowVoltageChipSelects18VoltsAfterTheDottedLine) {
  const std::size_t mark = view.lines.size();
  Choose("GD25LQ256D");
  const auto lines = LinesSince(mark);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "..............................................");
  EXPECT_EQ(lines.back(), Line("1.8V Interface is selected!"));
  EXPECT_EQ(c().RadioGpVolt.ItemIndex, 2);
  EXPECT_EQ(programmer->Job.OptionBits & (kOption5V | kOption1V8), kOption1V8);

  // Opening the selection again and closing it clears the flag but keeps the
  // voltage.
  OpenAndCancel();
  EXPECT_EQ(programmer->Chip.LowVoltChip, 0);
  EXPECT_EQ(c().RadioGpVolt.ItemIndex, 2);
  EXPECT_EQ(c().MCUNameEdit.Text, "GD25LQ256D");
}

TEST_F(ChipSetupTest, MicrowireReportsItsOrganisation) {
  struct Case {
    const char* chip;
    const char* line;
  };
  for (const Case& k : {Case{"93xx66B", "93Cxx 16Bit Mode is Used!"}, Case{"93xx66A", "93Cxx 8Bit Mode is Used!"}}) {
    const std::size_t mark = view.lines.size();
    Choose(k.chip);
    const auto lines = LinesSince(mark);
    EXPECT_NE(std::find(lines.begin(), lines.end(), Line(k.line)), lines.end()) << k.chip;
    EXPECT_EQ(c().RadioGroupSpd.ItemIndex, 0);
    EXPECT_FALSE(c().TabChipSet.Visible);
  }
}

TEST_F(ChipSetupTest, OpeningTheSelectionResetsModeFlagsButKeepsTheChipName) {
  Choose("93xx56B");
  EXPECT_EQ(programmer->Chip.ModeFlags, 0x08);
  OpenAndCancel();
  EXPECT_EQ(programmer->Chip.ModeFlags, 0);
  EXPECT_EQ(c().MCUNameEdit.Text, "93xx56B");
}

TEST_F(ChipSetupTest, ChoosingTheSameChipTwiceLogsItOnce) {
  Choose("W25x64xx");
  const std::size_t mark = view.lines.size();
  Choose("W25x64xx");
  EXPECT_EQ(view.lines.size(), mark);
  EXPECT_EQ(programmer->Chip.Family, 0x07);
}

TEST_F(ChipSetupTest, FieldsAnEntryDoesNotAssignKeepTheirValues) {
  Choose("24xx02");
  Choose("W25x64xx");
  EXPECT_EQ(programmer->Chip.PageSize, 8u);
  EXPECT_EQ(programmer->Chip.AddrStyle, 0x02);

  Choose("24xx02");
  EXPECT_EQ(programmer->Chip.EraseTime, 100) << "set by the I2C set-up";

  Choose("W25x64xx");
  Choose("25xx640");
  EXPECT_EQ(programmer->Chip.EraseTime, 1500) << "neither the entry nor the SPI EEPROM set-up assigns it";
  EXPECT_EQ(programmer->Chip.StatusBytes, (std::array<uint8_t, 8>{0x01, 0x05, 0x04, 0x06, 0xC7, 0x83, 0x02, 0x03}));
}

TEST_F(ChipSetupTest, SensorChipsLogNoSizeAndShowWriteProtectionWhichStaysForI2c) {
  const std::size_t mark = view.lines.size();
  Choose("ATA30TSE004A");
  for (const auto& line : LinesSince(mark)) EXPECT_EQ(line.find("Chip Main Flash"), std::string::npos) << line;
  EXPECT_TRUE(c().CheckBoxWRP.Visible);
  EXPECT_FALSE(c().BitBtnFixSN.Enabled);
  Choose("24xx04");
  EXPECT_TRUE(c().CheckBoxWRP.Visible);
  EXPECT_TRUE(c().BitBtnFixSN.Enabled);
}

TEST_F(ChipSetupTest, ProtectionSettingSurvivesAChipChangeWhileTheBoxesReset) {
  Choose("W25x128xx");
  c().ChkBoxSRWD.Checked = true;
  programmer->ChkBoxSRWDClick();
  c().ComBoxWPF.ItemIndex = 3;
  programmer->ComBoxWPFChange();
  EXPECT_EQ(c().LabelWP.Caption, "Protected Setting: 0x8C.");
  EXPECT_EQ(programmer->Chip.ProtectSetting, 0x8C);

  Choose("W25x64xx");
  EXPECT_EQ(c().ComBoxWPF.ItemIndex, 0);
  EXPECT_EQ(c().LabelWP.Caption, "Protected Setting: 0x8C.");
  EXPECT_EQ(programmer->Chip.ProtectSetting, 0x8C);

  c().ChkBoxSRWD.Checked = false;
  programmer->ChkBoxSRWDClick();
  EXPECT_EQ(programmer->Chip.ProtectSetting, 0x0C);
  c().ComBoxWP8.ItemIndex = 7;
  programmer->ComBoxWP8Change();
  EXPECT_EQ(c().LabelWP.Caption, "Protected Setting: 0x1C.");
}

TEST_F(ChipSetupTest, VoltageItemsSetTheirOptionBitsAndLogTheirLines) {
  struct Case {
    int item;
    uint8_t bits;
    const char* line;
  };
  programmer->Job.OptionBits = 0x20;  // bits outside the voltage pair stay
  for (const Case& k : {Case{2, 0x24, "1.8V Interface is selected!"}, Case{1, 0x21, "5.0V Interface is selected!"},
                        Case{0, 0x20, "3.3V Interface is selected!"}}) {
    c().RadioGpVolt.ItemIndex = k.item;
    programmer->RadioGpVoltClick();
    EXPECT_EQ(programmer->Job.OptionBits, k.bits) << k.line;
    EXPECT_EQ(view.lines.back(), Line(k.line));
  }
}

TEST_F(ChipSetupTest, ControllerChipForcesEraseAndHidesWritingCommandsUntilTheNextChip) {
  const CatalogueEntry* controller = FindChip("AG9311-MAQ");
  ASSERT_NE(controller, nullptr);
  programmer->ChooseChip(*controller);
  EXPECT_TRUE(c().EnEraseChk.Checked);
  for (const Control* hidden : {static_cast<Control*>(&c().SpdBtnProg), static_cast<Control*>(&c().SpdBtnErase),
                                static_cast<Control*>(&c().SpdBtnAutoP), static_cast<Control*>(&c().Programming1)})
    EXPECT_FALSE(hidden->Visible);
  Choose("W25x64xx");
  EXPECT_TRUE(c().SpdBtnProg.Visible);
  EXPECT_TRUE(c().Programming1.Visible);
}

TEST_F(ChipSetupTest, OptionCheckBoxesEnableWhatFollowsThem) {
  c().CheckBoxAut.Checked = true;
  programmer->CheckBoxAutClick();
  EXPECT_TRUE(c().SpinEditIn.Enabled);
  c().CheckBoxAut.Checked = false;
  programmer->CheckBoxAutClick();
  EXPECT_FALSE(c().SpinEditIn.Enabled);
  EXPECT_FALSE(c().SpinEditOut.Enabled);

  EXPECT_FALSE(c().SNEdit.Enabled);
  c().CheckBoxSN.Checked = true;
  programmer->CheckBoxSNClick();
  EXPECT_TRUE(c().SNEdit.Enabled && c().GainEdit.Enabled && c().AddrEdit.Enabled && c().SNOrderChk.Enabled &&
              c().ChkBoxPCSN.Enabled && c().BitBtnFixSN.Enabled);

  c().SpinEditNumb.Value = 10;
  programmer->SpinEditNumbChange();
  EXPECT_TRUE(c().ChkBoxNumb.Checked);
  c().SpinEditNumb.Value = 0;
  programmer->SpinEditNumbChange();
  EXPECT_FALSE(c().ChkBoxNumb.Checked);
}

TEST_F(ChipSetupTest, OperationsAskForAChipAndForDataFirst) {
  programmer->SpdBtnProgClick();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages.back().text, "请选择并确认芯片型号！");
  EXPECT_EQ(view.messages.back().kind, MessageKind::Warning);
  Choose("W25x64xx");
  programmer->SpdBtnProgClick();
  EXPECT_EQ(view.messages.back().text, "请加载目标文件！");
  const std::size_t before = view.messages.size();
  programmer->BlankCheck1Click();
  EXPECT_EQ(view.messages.size(), before) << "blank check needs no data";
}

TEST_F(ChipSetupTest, SpaceOrEnterRunsAutoProgrammingOnlyWhileItsButtonIsEnabled) {
  programmer->FormKeyPress(' ');
  ASSERT_EQ(view.messages.size(), 1u) << "auto programming ran and asked for a chip";
  programmer->FormKeyPress('a');
  EXPECT_EQ(view.messages.size(), 1u);
  c().SpdBtnAutoP.Enabled = false;
  programmer->FormKeyPress('\r');
  EXPECT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.focus.back(), "Panel1");
}

TEST_F(ChipSetupTest, DataViewerOpensOnlyOnceAChipIsChosen) {
  programmer->ViewDataBuffer1Click();
  EXPECT_TRUE(view.shown.empty());
  Choose("24xx02");
  programmer->ViewDataBuffer1Click();
  EXPECT_EQ(view.shown.back(), DialogId::DataView);
}

}  // namespace
}  // namespace velkor
