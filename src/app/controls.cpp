#include "app/controls.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr const char* kStopHint =
    "Stops downloads, programming and block reads after the block in flight (Esc). What a programmer runs by "
    "itself (erase, blank check, its verify, stand-alone cycles) runs to its end.";

ButtonControl Button(std::string caption, std::string shortcut = {}, std::string hint = {}) {
  ButtonControl b;
  b.Caption = std::move(caption);
  b.Shortcut = std::move(shortcut);
  b.Hint = std::move(hint);
  return b;
}

CheckControl Check(std::string caption, bool checked = false) {
  CheckControl c;
  c.Caption = std::move(caption);
  c.Checked = checked;
  return c;
}

LabelControl Label(std::string caption) {
  LabelControl l;
  l.Caption = std::move(caption);
  return l;
}

EditControl Edit(std::string label, std::string text, int maxLength = 0, bool readOnly = false) {
  EditControl e;
  e.Label = std::move(label);
  e.Text = std::move(text);
  e.MaxLength = maxLength;
  e.ReadOnly = readOnly;
  return e;
}

RadioGroupControl Radio(std::string caption, std::vector<std::string> items, int itemIndex, int columns) {
  RadioGroupControl r;
  r.Caption = std::move(caption);
  r.Items = std::move(items);
  r.ItemIndex = itemIndex;
  r.Columns = columns;
  return r;
}

SpinControl Spin(std::string label, int minValue, int maxValue, int increment, int value) {
  SpinControl s;
  s.Label = std::move(label);
  s.MinValue = minValue;
  s.MaxValue = maxValue;
  s.Increment = increment;
  s.Value = value;
  return s;
}

PageControl Page(std::string caption) {
  PageControl p;
  p.Caption = std::move(caption);
  return p;
}

std::string Binary(int value, int digits) {
  std::string s;
  for (int bit = digits - 1; bit >= 0; --bit) s += ((value >> bit) & 1) ? '1' : '0';
  return s;
}

// "000: No Protection", "001: Protected Level 1", ... and the last level
// named as a whole ("111: Protected All" / "1111: Protected ALL").
ComboControl ProtectionLevels(int digits, const std::string& lastName) {
  ComboControl c;
  const int levels = 1 << digits;
  c.Items.push_back(Binary(0, digits) + ": No Protection");
  for (int level = 1; level < levels - 1; ++level)
    c.Items.push_back(Binary(level, digits) + ": Protected Level " + std::to_string(level));
  c.Items.push_back(Binary(levels - 1, digits) + ": " + lastName);
  return c;
}

template <typename T>
T Disabled(T control) {
  control.Enabled = false;
  return control;
}

template <typename T>
T Hidden(T control) {
  control.Visible = false;
  return control;
}

}  // namespace

void ResultControl::Show(ResultState state) {
  struct Shown {
    ResultState state;
    const char* caption;
  };
  static constexpr Shown kCaptions[] = {
      {ResultState::Neutral, ""},
      {ResultState::Pass, TextKey("PASS")},
      {ResultState::Fail, TextKey("FAIL")},
      {ResultState::Stopped, TextKey("STOPPED")},
  };
  State = state;
  for (const Shown& shown : kCaptions)
    if (shown.state == state) Caption = shown.caption;
}

MainControls::MainControls()
    : SpdBtnDownLoad(Button("下载")),
      SpeedButtonRD(Button("读取目标芯片")),
      SpdBtnBlkChk(Button("查空")),
      SpdBtnErase(Button("擦除")),
      SpdBtnProg(Button("编程")),
      SpdBtnVerify(Button("校验")),
      SpdBtnAutoP(Button("自动")),
      SpdBtnOpen(Button("&加载", {}, "Load Object File")),
      SpdBtnSave(Button("保存", {}, "Save as Binary File")),
      SpdBtnExit(Button("退出")),
      SpdBtnStop(Disabled(Button("Stop", {}, kStopHint))),
      DownloadToProgrammer1(Button("&Download ToProgrammer", "Ctrl+D")),
      ReadTargetChipMemory1(Button("Read Target Chip Memory", "Ctrl+R")),
      BlankCheck1(Button("Blank Check")),
      EraseChip1(Button("&Erase Chip", "F6")),
      Programming1(Button("&Programming", "F7")),
      Verification1(Button("&Verification", "F8")),
      AutoProgramming1(Button("&Auto Programming", "F5")),
      ReadChipIDandStatus1(Button("Read Chip ID and Status")),
      DoFirmwareUpgrade1(Button("Do Firmware Upgrade")),
      ReadbackVerify1(Button("Verify by Read-back")),
      Stop1(Disabled(Button("&Stop", {}, kStopHint))),
      LoadDataFile1(Button("&Load Data File", "Ctrl+L")),
      SaveBufferToFile1(Button("&Save Buffer To File", "Ctrl+S")),
      N5(Button("Config Log File")),
      SaveInfotoFile1(Button("Save Info to File")),
      ViewDataBuffer1(Button("View Data Buffer")),
      Exit1(Button("E&xit", "Ctrl+X")),
      GoToDifference1(Button("Go to First Difference")),
      Undo1(Button("&Undo", "Ctrl+Z")),
      Redo1(Button("&Redo", "Ctrl+Y")),
      CopyBytes1(Button("&Copy Bytes", "Ctrl+Shift+C")),
      PasteBytes1(Button("&Paste Bytes", "Ctrl+Shift+V")),
      SelectAllBytes1(Button("Select &All Bytes")),
      FillSelection1(Button("&Fill Selection...", "Ctrl+Shift+F")),
      GoToAddress1(Button("&Go to Address...", "Ctrl+G")),
      Find1(Button("F&ind...", "Ctrl+F")),
      FindNext1(Button("Find &Next", "F3")),
      FindPrevious1(Button("Find Pre&vious", "Shift+F3")),
      CompareWithFile1(Button("Compare with &File...")),
      CompareWithChipRead1(Button("Compare with Last &Chip Read")),
      NextDifference1(Button("Next &Difference", "F8")),
      PreviousDifference1(Button("Previous Diff&erence", "Shift+F8")),
      CloseComparison1(Button("Close Co&mparison")),
      LoadFromOrvaneProject(Button("打开Orvane工程文件")),
      SaveToOrvAneProject(Button("保存为Orvane工程文件")),
      SaveLockedJob1(Button("Save as &Locked Job...")),
      OpenLockedJob1(Button("&Open Locked Job...")),
      OperatorMode1(Button("Run Locked Job in &Operator Mode...")),
      LeaveOperatorMode1(Hidden(Button("L&eave Operator Mode..."))),
      About1(Button("About")),
      ClearInformation1(Button("Clear Information")),
      CopyInformation1(Button("Copy Information")),
      SaveInformationtoFile1(Button("Save Information to File")),
      GroupBox2(Page("芯片选择")),
      MCUNameEdit(Edit("芯片型号：", "请选择芯片的型号...", 16, true)),
      DevButton(Button("...", {}, "Select the chip")),
      lbFlashSize(Label("")),
      ProductEditX(Edit("目标文件：", "", 0, true)),
      RadioGpVolt(Radio(" 接口电平 ", {"3.3V", "5.0V", "1.8V"}, 0, 2)),
      RadioGroupSpd(Radio("时钟速率选择", {"CLK=100KHz", "CLK=200KHz", "CLK=400KHz", "CLK=1MHz"}, 3, 2)),
      GroupBoxCtrl(Page("烧写控制")),
      EnEraseChk(Check("擦除")),
      EnProgChk(Check("编程", true)),
      EnVerifyChk(Check("校验", true)),
      EnBlankChk(Check("查空")),
      ChkBoxNotBLK(Check("非空报错")),
      ChkBoxCPES(Check("按芯片大小处理")),
      LabelOperatorJob(Hidden(Label(""))),
      InfoPanel(Label("")),
      BitBtnFindCOM(Button("查找设备")),
      BitBtnFresh(Button("刷新列表")),
      TabSheetChip(Page(" 芯片配置  ")),
      TabChipSet(Page("芯片配置")),
      TabSheetCtrl(Page("烧写器控制")),
      TabSheetFlash(Page("  数据显示  ")),
      TabSheetRdData(Page("Read Data")),
      TabSheetCompare(Hidden(Page("Differences"))),
      LabelWP(Label("Protected Setting:  0x00 ")),
      ComBoxWP8(ProtectionLevels(3, "Protected All")),
      ComBoxWPF(ProtectionLevels(4, "Protected ALL")),
      ChkBoxSRWD(Check("SRWD Disabled")),
      CheckBoxQE(Check("Set QE=1")),
      CheckBoxWRP(Hidden(Check("Write Protection "))),
      EditDevAdrX(Edit("", "0xA0", 4)),
      LabelDevAdr(Label("Device Address:  ")),
      LabelPBS(Label("Page Size(B): ")),
      SpinEditPGSZ(Spin("", kPageSizeBoxMin, 256, 8, 16)),
      SpinEditPTM(Spin("上电稳定时间(ms):  ", 10, 2000, 10, 100)),
      SpinPowDown(Spin("掉电时间(ms):     ", 10, 2000, 10, 100)),
      SpinEditIn(Spin("稳定时间(ms)： ", 300, 1500, 10, 500)),
      SpinEditOut(Spin("拿开时间(ms)：  ", 300, 2000, 10, 500)),
      CheckBoxAut(Check("自动检测芯片")),
      CheckBoxSN(Check("添加序列号功能")),
      SNEdit(Disabled(Edit("序列号初值：", "0x00000000", 10))),
      GainEdit(Disabled(Edit("序列号增量：", "0x01", 4))),
      AddrEdit(Disabled(Edit("序列号地址：", "0x0000FFF0", 10))),
      SNOrderChk(Disabled(Check("大端存储模式"))),
      ChkBoxPCSN(Disabled(Check("允许联机序列号"))),
      ChkBoxStrSN(Hidden(Disabled(Check("使用字符序列号")))),
      BitBtnFixSN(Button("设置固定序列号数据")),
      ChkBoxNumb(Check("限制烧写数量")),
      SpinEditNumb(Spin("", 0, 1000000, 10, 0)),
      ChkBoxRecord(Check("Traceability record")),
      EditRecordFile(Edit("Record file:", "trace-records.jsonl", 0)),
      EditLineDb(Edit("Line database:", "", 0)),
      EditStation(Edit("Station:", "", 0)),
      EditLinePool(Edit("Serial-number pool:", "", 0)),
      EditSNList(Disabled(Edit("Serial-number list:", "", 0))),
      EditSNGenerator(Disabled(Edit("Serial-number generator:", "", 0))),
      SpinSNGenTime(Disabled(Spin("Generator time limit (ms):", 100, 600000, 100, 5000))),
      RadioSNFailed(Disabled(Radio("A failed chip's serial number", {"Void it", "Reuse it for the next chip"}, 0, 1))),
      ChkBoxExtAddr(Check("Addressing beyond 64 MiB (programmer firmware must support it)")),
      ChkBoxLocate(Check("Find where a failed verify or blank check differs", true)),
      ChkBoxCheckId(Check("Check the chip's ID before programming")),
      ChkBoxSound(Check("Sound at the end of each operation")),
      StatusPanel0(Label("ACC CheckSum : ")),
      StatusPanel1(Label("CRC CheckSum : ")),
      StatusPanel2(Label("烧写OK总数: 0")),
      StatusPanel3(Label("烧写NG总数: 0")),
      StatusPanel4(Label("")) {
  CheckBoxSN.Hint = "序列号只存储于Flash区域！";
  EditLineDb.Hint = "The production line's database: an SQLite file, or postgresql://user@host/line. Empty: none "
                    "(the default file when a pool is named).";
  EditStation.Hint = "This station's name in the line's database. Empty: the host name.";
  EditLinePool.Hint = "Host-side serial numbers from this pool of the line's database. Empty: none.";
  EditSNList.Hint = "Host-side serial numbers from this file: one per line, decimal, 0x hexadecimal or a MAC address. "
                    "Empty: none.";
  EditSNGenerator.Hint = "Host-side serial numbers from this program, run for each chip with the chip's index; it "
                         "prints the bytes as hexadecimal. Empty: none.";
  ChkBoxLocate.Hint = "Reads the chip back (up to 16 MiB) and names the first differing addresses with both bytes.";
  ChkBoxCheckId.Hint = "Reads the chip's ID first and refuses a chip whose ID is not the catalogue's. Leave it off for "
                       "generic catalogue entries.";
  ReadbackVerify1.Hint = "Each programmer reads its chip back, and the host compares it with the image.";
  ChkBoxSound.Hint = "One short beep when an operation on a programmer passes, three when it fails.";
}

std::vector<NamedControl> MainControls::All() {
  return {
      {"SpdBtnDownLoad", &SpdBtnDownLoad},
      {"SpeedButtonRD", &SpeedButtonRD},
      {"SpdBtnBlkChk", &SpdBtnBlkChk},
      {"SpdBtnErase", &SpdBtnErase},
      {"SpdBtnProg", &SpdBtnProg},
      {"SpdBtnVerify", &SpdBtnVerify},
      {"SpdBtnAutoP", &SpdBtnAutoP},
      {"SpdBtnOpen", &SpdBtnOpen},
      {"SpdBtnSave", &SpdBtnSave},
      {"SpdBtnExit", &SpdBtnExit},
      {"SpdBtnStop", &SpdBtnStop},
      {"DownloadToProgrammer1", &DownloadToProgrammer1},
      {"ReadTargetChipMemory1", &ReadTargetChipMemory1},
      {"BlankCheck1", &BlankCheck1},
      {"EraseChip1", &EraseChip1},
      {"Programming1", &Programming1},
      {"Verification1", &Verification1},
      {"AutoProgramming1", &AutoProgramming1},
      {"ReadChipIDandStatus1", &ReadChipIDandStatus1},
      {"DoFirmwareUpgrade1", &DoFirmwareUpgrade1},
      {"ReadbackVerify1", &ReadbackVerify1},
      {"Stop1", &Stop1},
      {"LoadDataFile1", &LoadDataFile1},
      {"SaveBufferToFile1", &SaveBufferToFile1},
      {"N5", &N5},
      {"SaveInfotoFile1", &SaveInfotoFile1},
      {"ViewDataBuffer1", &ViewDataBuffer1},
      {"GoToDifference1", &GoToDifference1},
      {"Undo1", &Undo1},
      {"Redo1", &Redo1},
      {"CopyBytes1", &CopyBytes1},
      {"PasteBytes1", &PasteBytes1},
      {"SelectAllBytes1", &SelectAllBytes1},
      {"FillSelection1", &FillSelection1},
      {"GoToAddress1", &GoToAddress1},
      {"Find1", &Find1},
      {"FindNext1", &FindNext1},
      {"FindPrevious1", &FindPrevious1},
      {"CompareWithFile1", &CompareWithFile1},
      {"CompareWithChipRead1", &CompareWithChipRead1},
      {"NextDifference1", &NextDifference1},
      {"PreviousDifference1", &PreviousDifference1},
      {"CloseComparison1", &CloseComparison1},
      {"Exit1", &Exit1},
      {"LoadFromOrvaneProject", &LoadFromOrvaneProject},
      {"SaveToOrvAneProject", &SaveToOrvAneProject},
      {"SaveLockedJob1", &SaveLockedJob1},
      {"OpenLockedJob1", &OpenLockedJob1},
      {"OperatorMode1", &OperatorMode1},
      {"LeaveOperatorMode1", &LeaveOperatorMode1},
      {"About1", &About1},
      {"ClearInformation1", &ClearInformation1},
      {"CopyInformation1", &CopyInformation1},
      {"SaveInformationtoFile1", &SaveInformationtoFile1},
      {"GroupBox2", &GroupBox2},
      {"MCUNameEdit", &MCUNameEdit},
      {"DevButton", &DevButton},
      {"lbFlashSize", &lbFlashSize},
      {"ProductEditX", &ProductEditX},
      {"RadioGpVolt", &RadioGpVolt},
      {"RadioGroupSpd", &RadioGroupSpd},
      {"GroupBoxCtrl", &GroupBoxCtrl},
      {"EnEraseChk", &EnEraseChk},
      {"EnProgChk", &EnProgChk},
      {"EnVerifyChk", &EnVerifyChk},
      {"EnBlankChk", &EnBlankChk},
      {"ChkBoxNotBLK", &ChkBoxNotBLK},
      {"ChkBoxCPES", &ChkBoxCPES},
      {"LabelOperatorJob", &LabelOperatorJob},
      {"InfoPanel", &InfoPanel},
      {"ComboBoxCOM", &ComboBoxCOM},
      {"BitBtnFindCOM", &BitBtnFindCOM},
      {"BitBtnFresh", &BitBtnFresh},
      {"GaugeBar1", &GaugeBar1},
      {"GaugeBar2", &GaugeBar2},
      {"LabelProgress1", &LabelProgress1},
      {"LabelProgress2", &LabelProgress2},
      {"PanelResult1", &PanelResult1},
      {"PanelResult2", &PanelResult2},
      {"LabelCounts1", &LabelCounts1},
      {"LabelCounts2", &LabelCounts2},
      {"TabSheetChip", &TabSheetChip},
      {"TabChipSet", &TabChipSet},
      {"TabSheetCtrl", &TabSheetCtrl},
      {"TabSheetFlash", &TabSheetFlash},
      {"TabSheetRdData", &TabSheetRdData},
      {"TabSheetCompare", &TabSheetCompare},
      {"LabelWP", &LabelWP},
      {"ComBoxWP8", &ComBoxWP8},
      {"ComBoxWPF", &ComBoxWPF},
      {"ChkBoxSRWD", &ChkBoxSRWD},
      {"CheckBoxQE", &CheckBoxQE},
      {"CheckBoxWRP", &CheckBoxWRP},
      {"EditDevAdrX", &EditDevAdrX},
      {"LabelDevAdr", &LabelDevAdr},
      {"LabelPBS", &LabelPBS},
      {"SpinEditPGSZ", &SpinEditPGSZ},
      {"SpinEditPTM", &SpinEditPTM},
      {"SpinPowDown", &SpinPowDown},
      {"SpinEditIn", &SpinEditIn},
      {"SpinEditOut", &SpinEditOut},
      {"CheckBoxAut", &CheckBoxAut},
      {"CheckBoxSN", &CheckBoxSN},
      {"SNEdit", &SNEdit},
      {"GainEdit", &GainEdit},
      {"AddrEdit", &AddrEdit},
      {"SNOrderChk", &SNOrderChk},
      {"ChkBoxPCSN", &ChkBoxPCSN},
      {"ChkBoxStrSN", &ChkBoxStrSN},
      {"BitBtnFixSN", &BitBtnFixSN},
      {"ChkBoxNumb", &ChkBoxNumb},
      {"SpinEditNumb", &SpinEditNumb},
      {"ChkBoxRecord", &ChkBoxRecord},
      {"EditRecordFile", &EditRecordFile},
      {"EditLineDb", &EditLineDb},
      {"EditStation", &EditStation},
      {"EditLinePool", &EditLinePool},
      {"EditSNList", &EditSNList},
      {"EditSNGenerator", &EditSNGenerator},
      {"SpinSNGenTime", &SpinSNGenTime},
      {"RadioSNFailed", &RadioSNFailed},
      {"ChkBoxExtAddr", &ChkBoxExtAddr},
      {"ChkBoxLocate", &ChkBoxLocate},
      {"ChkBoxCheckId", &ChkBoxCheckId},
      {"ChkBoxSound", &ChkBoxSound},
      {"StatusPanel0", &StatusPanel0},
      {"StatusPanel1", &StatusPanel1},
      {"StatusPanel2", &StatusPanel2},
      {"StatusPanel3", &StatusPanel3},
      {"StatusPanel4", &StatusPanel4},
  };
}

LogCfgControls::LogCfgControls()
    : CheckBoxLog(Check("生成Logog文件", true)),
      RadioGrpCreat(Radio("", {"系统自动生成Logo文件", "客户指定Log文件"}, 0, 1)),
      EditLogName(Disabled(Edit("指定Log文件名：       ", "QN_2016xx.log"))),
      SpeedButtonOP(Disabled(Button("浏览"))),
      RadioGrpMod(Disabled(Radio("", {"生成新的文件", "覆盖原文件", "追加到原文件尾部"}, 0, 1))),
      OK(Button("OK")) {}

std::vector<NamedControl> LogCfgControls::All() {
  return {{"CheckBoxLog", &CheckBoxLog},     {"RadioGrpCreat", &RadioGrpCreat}, {"EditLogName", &EditLogName},
          {"SpeedButtonOP", &SpeedButtonOP}, {"RadioGrpMod", &RadioGrpMod},     {"OK", &OK}};
}

namespace {

constexpr const char* kRememberedJobControls[] = {
    // Chip group.
    "RadioGpVolt", "RadioGroupSpd", "EnEraseChk", "EnProgChk", "EnVerifyChk", "EnBlankChk", "ChkBoxNotBLK",
    "ChkBoxCPES",
    // Chip configuration page.
    "ChkBoxSRWD", "ComBoxWP8", "ComBoxWPF", "CheckBoxQE", "EditDevAdrX", "SpinEditPGSZ",
    // Programmer control page. SpinEditNumb ticks or clears ChkBoxNumb.
    "SpinEditPTM", "SpinPowDown", "CheckBoxAut", "SpinEditIn", "SpinEditOut", "CheckBoxSN", "SNEdit", "GainEdit",
    "AddrEdit", "SNOrderChk", "ChkBoxPCSN", "SpinEditNumb", "ChkBoxNumb", "ChkBoxRecord", "EditRecordFile",
    "EditLineDb", "EditStation", "EditLinePool", "ChkBoxExtAddr", "ChkBoxLocate", "ChkBoxCheckId", "EditSNList",
    "EditSNGenerator", "SpinSNGenTime", "RadioSNFailed",
};

// RadioGrpCreat empties EditLogName and resets RadioGrpMod; CheckBoxLog
// enables or disables all the others.
constexpr const char* kRememberedLogControls[] = {"RadioGrpCreat", "EditLogName", "RadioGrpMod", "CheckBoxLog"};

}  // namespace

std::span<const char* const> RememberedJobControls() { return kRememberedJobControls; }

std::span<const char* const> RememberedLogControls() { return kRememberedLogControls; }

ConfigSNControls::ConfigSNControls()
    : AddrEditSN(Edit("数据存储首地址：   ", "0x00000000", 10)),
      EditDataSN(Edit("数据内容：   ", "", 255)),
      BitBtnCancel(Button("Cancel")),
      BitBtnOK(Button("OK")) {}

std::vector<NamedControl> ConfigSNControls::All() {
  return {{"AddrEditSN", &AddrEditSN}, {"EditDataSN", &EditDataSN}, {"BitBtnCancel", &BitBtnCancel},
          {"BitBtnOK", &BitBtnOK}};
}

}  // namespace velkor
