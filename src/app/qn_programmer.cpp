#include "app/qn_programmer.hpp"
#include "data/text_format.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "app/integer_text.hpp"
#include "data/object_writer.hpp"
#include "platform/text_encoding.hpp"
#include "platform/text_file.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr const char* kLogFolder = "Log";
constexpr const char* kChipSeparatorLine = "..............................................";
constexpr const char* kGreeting = TextKey("Hello Velkor350QN-ED User! ----- ");
constexpr uint8_t kIdleBeforeStart = 0x30;
// How often the progress lines are brought up to date: often enough that
// their seconds count evenly.
constexpr std::chrono::milliseconds kProgressInterval{200};
constexpr uint32_t kMiB = 1024 * 1024;
constexpr uint32_t kLargeChipSize = 4 * kMiB;

// The voltage items of RadioGpVolt: the option bits each sets, and its line.
struct VoltageItem {
  uint8_t optionBits;
  const char* logLine;
};
constexpr VoltageItem kVoltageItems[] = {
    {0, TextKey("3.3V Interface is selected!")},
    {kOption5V, TextKey("5.0V Interface is selected!")},
    {kOption1V8, TextKey("1.8V Interface is selected!")},
};

constexpr std::array<uint8_t, 8> kSpiEepromInstructions = {0x01, 0x05, 0x04, 0x06, 0xC7, 0x83, 0x02, 0x03};

void Show(Control& c, bool visible) { c.Visible = visible; }

// The name of the program's folder in the data folders.
constexpr const char* kDataFolderName = "velkor350qn";

// Where the installed data folder lies, seen from the folder of the
// installed programs; the build passes in the layout it installs. Builds
// that install nothing (the fuzz targets) get the usual layout.
#ifndef VELKOR_INSTALLED_DATA_DIR
#define VELKOR_INSTALLED_DATA_DIR "../share/velkor350qn"
#endif

// A folder that is there (made if need be) and can be written.
bool WritableFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return std::filesystem::is_directory(folder, ec) && access(folder.c_str(), W_OK) == 0;
}

}  // namespace

std::filesystem::path UserDataFolder() {
  // A relative XDG_DATA_HOME is invalid and ignored, as the base-directory
  // rules ask.
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome && std::filesystem::path(dataHome).is_absolute())
    return std::filesystem::path(dataHome) / kDataFolderName;
  const char* home = std::getenv("HOME");
  if (home && std::filesystem::path(home).is_absolute())
    return std::filesystem::path(home) / ".local" / "share" / kDataFolderName;
  return {};
}

std::filesystem::path InstalledDataFolder() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return (self.parent_path() / VELKOR_INSTALLED_DATA_DIR).lexically_normal();
}

TQNProgrammer::TQNProgrammer(MainLoop& loop, ProgrammerView& view, std::unique_ptr<LogClock> clock)
    : Channels(loop, *this, [this](int channel) { RequestHangup(channel); }),
      loop_(loop),
      view_(view),
      clock_(std::move(clock)) {}

// ---------------------------------------------------------------- start-up

void TQNProgrammer::FormShow() {
  if (shown_) return;
  shown_ = true;
  std::error_code ec;
  startDirectory_ = std::filesystem::current_path(ec);

  Show(Controls.TabChipSet, false);
  Show(Controls.TabSheetFlash, false);
  Show(Controls.TabSheetRdData, false);
  Show(Controls.TabSheetChip, true);

  logFolder_ = PrepareLogFolder();

  StartupReset();
  CheckFirmwareFile();

  AppendInfo(Tx(kGreeting) + clock_->ShortDate());
  AppendInfo(Tx(kVoltageItems[0].logLine));

  tickTimer_ = loop_.startTimer(kTickInterval, [this] { Timer1Timer(); });
  progressTimer_ = loop_.startTimer(kProgressInterval, [this] { RefreshProgress(); });
  BitBtnFreshClick();
  BitBtnFindCOMClick();
  ShowControls();
  if (firmwareBoxDue_) {
    firmwareBoxDue_ = false;
    view_.ShowMessage(MessageKind::Warning, Tx(kFirmwareNotFoundBox));
  }
}

TQNProgrammer::~TQNProgrammer() {
  loop_.cancelTimer(tickTimer_);
  loop_.cancelTimer(progressTimer_);
  for (const MainLoop::TimerId id : identifyTimers_) loop_.cancelTimer(id);
}

std::filesystem::path TQNProgrammer::PrepareLogFolder() {
  // The Log folder stays beside the program's files in the start directory,
  // as on a bench PC. An installed program started where it cannot write
  // (the root folder, a read-only share) keeps its logs with the user.
  const std::filesystem::path local = startDirectory_ / kLogFolder;
  if (WritableFolder(local)) return local;
  const std::filesystem::path user = UserDataFolder();
  if (!user.empty() && WritableFolder(user / kLogFolder)) {
    AppendInfo(FormatText(Tx("No Log folder can be made in the start directory; log files go to %s."),
                          (user / kLogFolder).string().c_str()));
    return user / kLogFolder;
  }
  AppendInfo(
      Tx("No Log folder can be made in the start directory or the user's data folder; the automatic log file "
         "cannot be written."));
  return local;
}

void TQNProgrammer::StartupReset() {
  ChipConfirmed = false;
  FileLoaded = false;
  Chip = ChipParams{};
  Image.ChipStart = 0;
  Image.ChipEnd = 0;
  Image.Erase();
  HexViewShown = false;
  Job.OptionBits = 0;
  BurnCount = 0;
  FailCount = 0;
  ChannelOk[0] = ChannelOk[1] = 0;
  ChannelNg[0] = ChannelNg[1] = 0;
  ShowCounters();
  FastReadCapable = false;
  for (int number = 1; number <= ProgrammerChannels::kChannelCount; ++number) {
    LinkChannel& channel = Channels.Channel(number);
    channel.Identified = 0;
    channel.AutoRun = 0;
    channel.Busy = 0;
    channel.GaugeCreep = 0;
    channel.Operation = kIdleBeforeStart;
    channel.BlockEnd = 0;
    channel.BlockPos = 0;
  }
}

void TQNProgrammer::FormKeyPress(char key) {
  view_.FocusControl("Panel1");
  if (key == kEscapeKey) {
    if (Controls.SpdBtnStop.Usable()) SpdBtnStopClick();
    return;
  }
  if ((key == ' ' || key == '\r' || key == '\n') && Controls.SpdBtnAutoP.Enabled) SpdBtnAutoPClick();
}

void TQNProgrammer::SpdBtnExitClick() {
  if (!ConfirmExit()) return;
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) Channels.Port(n).ClosePort();
  view_.CloseMainWindow();
}

void TQNProgrammer::FormClose() {
  EndSession();
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) Channels.Port(n).ClosePort();
  WriteLogFile();
}

// ---------------------------------------------------------------- log

void TQNProgrammer::AppendInfo(const std::string& text) { AppendPlain(TimeStampedLine(*clock_, text)); }

void TQNProgrammer::ChannelLog(int channel, const std::string& text) {
  AppendPlain(ChannelLine(*clock_, channel, text));
}

void TQNProgrammer::AppendPlain(const std::string& text) {
  Info.Append(text);
  view_.LogLineAppended(text);
}

void TQNProgrammer::ClearInformation1Click() {
  Info.Clear();
  view_.LogCleared();
}

void TQNProgrammer::CopyInformation1Click() { view_.CopyToClipboard(Info.Text()); }

void TQNProgrammer::SaveInfotoFile1Click() {
  const auto path = view_.AskSaveFile({Tx("All Log Files(*.Log)|*.log"), 1, "*.log", FileDialogPurpose::LogSave});
  if (!path) return;
  const std::string error = WriteFileAtomically(*path, Info.Text());
  if (!error.empty())
    view_.ShowMessage(MessageKind::Error,
                      FormatText(Tx("Cannot create file \"%s\". %s"), path->c_str(), error.c_str()));
}

void TQNProgrammer::N5Click() { view_.ShowModal(DialogId::LogConfig); }

void TQNProgrammer::CheckBoxLogClick() {
  const bool on = LogCfg.CheckBoxLog.Checked;
  LogCfg.RadioGrpCreat.Enabled = on;
  LogCfg.RadioGrpMod.Enabled = on;
  LogCfg.SpeedButtonOP.Enabled = on;
  LogCfg.EditLogName.Enabled = on;
}

void TQNProgrammer::RadioGrpCreatClick() {
  const bool operatorsFile = LogCfg.RadioGrpCreat.ItemIndex == 1;
  LogCfg.RadioGrpMod.Enabled = operatorsFile;
  LogCfg.SpeedButtonOP.Enabled = operatorsFile;
  LogCfg.EditLogName.Enabled = operatorsFile;
  LogCfg.RadioGrpMod.ItemIndex = 0;
  if (!operatorsFile) LogCfg.EditLogName.Text.clear();
}

void TQNProgrammer::SpeedButtonOPClick() {
  const auto path =
      view_.AskOpenFile({Tx("All Log Files(*.Log,*.Txt)|*.log;*.Txt"), 1, "*.log", FileDialogPurpose::LogFile});
  if (path) LogCfg.EditLogName.Text = *path;
}

void TQNProgrammer::OKClick() {
  if (LogCfg.RadioGrpCreat.ItemIndex == 1 && LogCfg.EditLogName.Text.empty()) {
    view_.ShowMessage(MessageKind::Warning, Tx("请输入有效的Log文件名称！"));
    view_.FocusControl("EditLogName");
    return;
  }
  view_.CloseDialog(DialogId::LogConfig);
}

void TQNProgrammer::WriteLogFile() {
  if (!LogCfg.CheckBoxLog.Checked) return;
  std::string error;
  if (LogCfg.RadioGrpCreat.ItemIndex == 0) {
    if (Info.SessionLines().size() < kAutomaticLogMinimumLines) return;
    error = WriteFileAtomically(logFolder_ / AutomaticLogFileName(*clock_), Info.SessionText());
  } else {
    const std::string& name = LogCfg.EditLogName.Text;
    if (name.empty()) return;
    const std::filesystem::path path = startDirectory_ / name;  // an absolute name stays as it is
    if (LogCfg.RadioGrpMod.ItemIndex == 2)
      error = AppendToFile(path, Info.SessionText(), std::string(kAppendLogHeader) + "\n");
    else
      error = WriteFileAtomically(path, Info.SessionText());
  }
  if (!error.empty()) {
    // The box keeps its words; where and why go to the log (which the
    // command line shows) and to the failures a caller checks.
    AppendInfo(FormatText(Tx("Write Log File error! %s"), error.c_str()));
    WriteFailures.push_back(FormatText(Tx("The log file could not be written: %s"), error.c_str()));
    view_.ShowMessage(MessageKind::Error, Tx("Write Log File error!"));
  }
}

// ---------------------------------------------------------------- chip selection

void TQNProgrammer::DevButtonClick() {
  if (RefusedJobChange(Tx("choosing a chip"))) return;
  Chip.LowVoltChip = 0;
  view_.FocusControl("Panel1");
  view_.ShowModal(DialogId::ChipSelection);
  ShowControls();
}

void TQNProgrammer::ChipSelectionFormShow() {
  Chip.ModeFlags = 0;
  Job.OptionBits = 0;
  Chip.ForceQe = 0;
  Chip.HideProtect = 0;
}

void TQNProgrammer::ChooseChip(const CatalogueEntry& entry) {
  if (RefusedJobChange(Tx("choosing a chip"))) return;
  ApplyCatalogueEntry(entry, Chip, Job.OptionBits);
  SetChipName(entry.caption);
  view_.CloseDialog(DialogId::ChipSelection);
  ShowControls();
}

void TQNProgrammer::SetChipName(const std::string& caption) {
  if (Controls.MCUNameEdit.Text == caption) return;
  Controls.MCUNameEdit.Text = caption;
  ApplyChipSelection();
}

void TQNProgrammer::ApplyChipSelection() {
  auto& c = Controls;
  const uint8_t family = Chip.Family;
  const bool flash = family < kFirstEepromFamily;

  Show(c.ReadChipIDandStatus1, flash);
  AppendInfo(FormatText(Tx("Chip \"%s\" is selectd."), c.MCUNameEdit.Text.c_str()));
  if (family < kFirstSensorFamily) {
    if (Chip.Size >= kLargeChipSize)
      AppendInfo(FormatText(Tx("Chip Main Flash is %uKB/%uMB."), Chip.Size >> 10, Chip.Size >> 20));
    else
      AppendInfo(FormatText(Tx("Chip Main Flash is %uB/%uKB."), Chip.Size, Chip.Size >> 10));
  }
  ChipConfirmed = true;
  FileLoaded = false;

  SelectVoltage(0);

  Show(c.ChkBoxNotBLK, false);
  // The program button too: a controller chip hides it, and the next chip
  // must bring it back.
  for (Control* shown : std::initializer_list<Control*>{&c.SpdBtnErase, &c.SpdBtnBlkChk, &c.SpdBtnAutoP, &c.SpdBtnProg,
                                                         &c.Programming1, &c.EraseChip1, &c.AutoProgramming1,
                                                         &c.TabSheetFlash})
    Show(*shown, true);

  // The box shows the page size that is sent: the smallest chips have pages
  // below the box's usual minimum.
  c.SpinEditPGSZ.MinValue =
      Chip.PageSize > 0 ? std::min(kPageSizeBoxMin, static_cast<int>(Chip.PageSize)) : kPageSizeBoxMin;
  c.SpinEditPGSZ.Value = static_cast<int>(Chip.PageSize);

  const bool i2c = family == kFamilyI2cEeprom;
  Show(c.ChkBoxCPES, flash);
  for (Control* i2cOnly : std::initializer_list<Control*>{&c.EditDevAdrX, &c.LabelDevAdr, &c.LabelPBS, &c.SpinEditPGSZ})
    Show(*i2cOnly, i2c);
  c.BitBtnFixSN.Enabled = family < kFirstSensorFamily;
  Show(c.GroupBoxCtrl, flash);
  Show(c.RadioGroupSpd, !flash);

  if (flash)
    SetupFlashFamily();
  else if (family == kFamilyMicrowire)
    SetupMicrowire();
  else if (family == kFamilySpiEeprom)
    SetupSpiEeprom();
  else
    SetupI2cFamily();

  if (family == kFamilyController) {
    c.EnEraseChk.Checked = true;
    for (Control* hidden : std::initializer_list<Control*>{&c.EraseChip1, &c.Programming1, &c.AutoProgramming1,
                                                           &c.SpdBtnErase, &c.SpdBtnProg, &c.SpdBtnAutoP})
      Show(*hidden, false);
  }

  // The data is forgotten with the chip: nothing may still name the old
  // file or show its checksums.
  c.ProductEditX.Text.clear();
  ImageFile.clear();
  RenewJobId();
  MainControls fresh;
  c.StatusPanel0.Caption = fresh.StatusPanel0.Caption;
  c.StatusPanel1.Caption = fresh.StatusPanel1.Caption;
  ResetChipRange(Image, Chip);  // SizeKB, and the used range: the whole chip
  for (int number = 1; number <= ProgrammerChannels::kChannelCount; ++number)
    Channels.Channel(number).BlockEnd = Chip.SizeKB;

  c.lbFlashSize.Caption =
      Chip.Size >= 1024 ? FormatText(Tx("%u KByte"), Chip.SizeKB) : FormatText(Tx("%u Byte"), Chip.Size);
  AppendPlain(kChipSeparatorLine);

  if (Chip.LowVoltChip) SelectVoltage(2);
}

void TQNProgrammer::SetupFlashFamily() {
  auto& c = Controls;
  Chip.StatusBytes[0] = 0;
  c.ComBoxWP8.ItemIndex = 0;
  c.ComBoxWPF.ItemIndex = 0;
  for (Control* hidden : std::initializer_list<Control*>{&c.ChkBoxSRWD, &c.LabelWP, &c.ComBoxWP8, &c.ComBoxWPF,
                                                         &c.CheckBoxWRP})
    Show(*hidden, false);
  Show(c.TabChipSet, true);
  Show(c.TabSheetFlash, false);

  const std::string& name = c.MCUNameEdit.Text;
  if (!Chip.HideProtect) {
    Show(c.LabelWP, true);
    Show(Chip.Size < kMiB ? static_cast<Control&>(c.ComBoxWP8) : c.ComBoxWPF, true);
    Show(c.ChkBoxSRWD, name != "MX25L3233");
  }
  const bool esp = name == "ESP8285";
  Show(c.CheckBoxQE, !esp);
  c.CheckBoxQE.Checked = false;
  Show(c.TabChipSet, !esp);
  Show(c.EnBlankChk, true);
  Show(c.EnEraseChk, true);
}

namespace {
// What the EEPROM set-ups share: no protection or QE controls.
void HideFlashOptions(MainControls& c) {
  c.ComBoxWP8.ItemIndex = 0;
  c.ComBoxWPF.ItemIndex = 0;
  c.CheckBoxQE.Visible = false;
  c.CheckBoxQE.Checked = false;
  for (Control* hidden : std::initializer_list<Control*>{&c.ChkBoxSRWD, &c.LabelWP, &c.ComBoxWP8, &c.ComBoxWPF})
    hidden->Visible = false;
}
}  // namespace

void TQNProgrammer::SetupMicrowire() {
  auto& c = Controls;
  Chip.EraseTime = 100;
  HideFlashOptions(c);
  Show(c.CheckBoxWRP, false);
  c.RadioGroupSpd.ItemIndex = 0;
  Show(c.TabChipSet, false);
  AppendInfo((Chip.ModeFlags & 0x08) ? Tx("93Cxx 16Bit Mode is Used!") : Tx("93Cxx 8Bit Mode is Used!"));
}

void TQNProgrammer::SetupSpiEeprom() {
  auto& c = Controls;
  Chip.StatusBytes = kSpiEepromInstructions;
  HideFlashOptions(c);
  c.RadioGroupSpd.ItemIndex = 3;
  Show(c.CheckBoxWRP, false);
  Show(c.ChkBoxNotBLK, true);
  Show(c.TabChipSet, false);
  Chip.DeviceAddress = 0xA0;
  c.EditDevAdrX.Text = "0xA0";
}

void TQNProgrammer::SetupI2cFamily() {
  auto& c = Controls;
  Chip.EraseTime = 100;
  HideFlashOptions(c);
  c.RadioGroupSpd.ItemIndex = 2;
  Show(c.ChkBoxNotBLK, true);
  Show(c.SpdBtnErase, false);
  Show(c.SpdBtnBlkChk, false);
  Show(c.TabChipSet, true);
  if (Chip.Family == kFamilySensor) Show(c.CheckBoxWRP, true);
  Chip.DeviceAddress = 0xA0;
  c.EditDevAdrX.Text = "0xA0";
}

// ---------------------------------------------------------------- options

void TQNProgrammer::SelectVoltage(int itemIndex) {
  if (Controls.RadioGpVolt.ItemIndex == itemIndex) return;
  Controls.RadioGpVolt.ItemIndex = itemIndex;
  RadioGpVoltClick();
}

void TQNProgrammer::RadioGpVoltClick() {
  const int index = Controls.RadioGpVolt.ItemIndex;
  if (index < 0 || index >= static_cast<int>(std::size(kVoltageItems))) return;
  const VoltageItem& item = kVoltageItems[index];
  Job.OptionBits = static_cast<uint8_t>((Job.OptionBits & ~(kOption5V | kOption1V8)) | item.optionBits);
  AppendInfo(Tx(item.logLine));
}

void TQNProgrammer::ShowProtectSetting() {
  Controls.LabelWP.Caption = FormatText(Tx("Protected Setting: 0x%02X."), Chip.ProtectSetting);
}

void TQNProgrammer::ComBoxWP8Change() {
  Chip.ProtectSetting = static_cast<uint8_t>((Controls.ChkBoxSRWD.Checked ? 0x80 : 0) + 4 * Controls.ComBoxWP8.ItemIndex);
  ShowProtectSetting();
}

void TQNProgrammer::ComBoxWPFChange() {
  Chip.ProtectSetting = static_cast<uint8_t>((Controls.ChkBoxSRWD.Checked ? 0x80 : 0) + 4 * Controls.ComBoxWPF.ItemIndex);
  ShowProtectSetting();
}

void TQNProgrammer::ChkBoxSRWDClick() {
  if (Controls.ChkBoxSRWD.Checked)
    Chip.ProtectSetting |= 0x80;
  else
    Chip.ProtectSetting &= 0x7F;
  ShowProtectSetting();
}

void TQNProgrammer::CheckBoxAutClick() {
  Controls.SpinEditIn.Enabled = Controls.CheckBoxAut.Checked;
  Controls.SpinEditOut.Enabled = Controls.CheckBoxAut.Checked;
}

void TQNProgrammer::CheckBoxSNClick() {
  auto& c = Controls;
  const bool on = c.CheckBoxSN.Checked;
  for (Control* follows : std::initializer_list<Control*>{&c.SNEdit, &c.GainEdit, &c.AddrEdit, &c.ChkBoxPCSN,
                                                          &c.SNOrderChk, &c.ChkBoxStrSN, &c.BitBtnFixSN, &c.EditSNList,
                                                          &c.EditSNGenerator, &c.SpinSNGenTime, &c.RadioSNFailed})
    follows->Enabled = on;
}

void TQNProgrammer::SpinEditNumbChange() { Controls.ChkBoxNumb.Checked = Controls.SpinEditNumb.Value > 0; }

// ---------------------------------------------------------------- commands

void TQNProgrammer::FileOpenBtnClick() {
  if (RefusedJobChange(Tx("loading a file"))) return;
  const auto path = view_.AskOpenFile(
      {Tx(kOpenDialogFilter), kOpenDialogFilterIndex, kOpenDialogDefaultExtension, FileDialogPurpose::ObjectLoad});
  if (path) LoadFile(*path);
}

void TQNProgrammer::LoadFile(const std::string& path) {
  if (RefusedJobChange(Tx("loading a file"))) return;
  Image.Erase();
  FileLoaded = true;  // before parsing: a load that stops early keeps what it took
  Controls.ProductEditX.Text = path;
  {
    // The records name the file wherever the program was started.
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    ImageFile = ec ? path : full.string();
  }
  RenewJobId();
  AppendInfo(LoadObjectFileLine(path));
  LastLoad = LoadOutcome{kRecordReadError, 0};  // until the parser says otherwise
  LastLoadFormat = ChooseObjectFormat(path, LoadFormat, *this);
  LastLoad = LoadObjectFileAs(path, LastLoadFormat, Image, Chip, *this);
  // The digest shown below is computed beside the checksums; whichever way
  // this load ends, its thread has ended before the image can change.
  shaAhead_ = true;
  struct EndShaAhead {
    TQNProgrammer& p;
    ~EndShaAhead() {
      p.shaAhead_ = false;
      p.pendingSha_.reset();
    }
  } endShaAhead{*this};
  RecomputeAfterLoad(Image, Chip, ChipConfirmed, Controls.ChkBoxCPES.Checked, *this);
  ImageReplaced();
  // A file read whole without a byte of data would otherwise "load" and
  // program blank chips without a word.
  if (LastLoad.code == kRecordAccepted && Image.FileStart == kNoFileStart) {
    FileLoaded = false;
    const std::string text =
        FormatText(Tx(kNoDataInFile), path.c_str(),
                   LastLoadFormat == ObjectFormat::Binary ? Tx("it is empty") : Tx("no data records"));
    AppendInfo(text);
    Warn(text);
    return;
  }
  ShowDigest(TextKey("Image %s: %s."));
  if (LastLoad.code != kRecordReadError && DataFileLoaded) DataFileLoaded(path);
  // Data past the chip's end never reaches it: say so rather than let a
  // run end in success with part of the file missing.
  if (!ChipConfirmed) return;
  if (const auto beyond = DataBeyondChip(Image, Chip, path, Controls.MCUNameEdit.Text)) {
    AppendInfo(*beyond);
    Warn(*beyond);
  }
}

std::pair<const uint8_t*, std::size_t> TQNProgrammer::UsedRangeBytes() const {
  const uint64_t end = std::min<uint64_t>(Image.ChipEnd, kImageCapacity - 1);
  const uint64_t size = end >= Image.ChipStart ? end - Image.ChipStart + 1 : 0;
  return {Image.Data.get() + (size > 0 ? Image.ChipStart : 0), static_cast<std::size_t>(size)};
}

ImageDigest TQNProgrammer::UsedRangeDigest() const {
  const auto [data, size] = UsedRangeBytes();
  return DigestOf(data, size);
}

void TQNProgrammer::ChecksumRangeSettled(const ImageBuffer& image) {
  if (!shaAhead_ || &image != &Image) return;
  const auto [data, size] = UsedRangeBytes();
  pendingSha_.emplace(ShaAhead{std::async(std::launch::async, Sha256HexOf, data, size), data, size});
}

std::string TQNProgrammer::Station() const {
  return Controls.EditStation.Text.empty() ? HostName() : Controls.EditStation.Text;
}

void TQNProgrammer::RenewJobId() {
  // Another job is not the locked one any more.
  EndSession();
  LockedJobPath.clear();
  LockedJobLock.clear();
  LockedJobImageSha256.clear();
  if (!jobIdHeld_) jobId_ = NewJobId();
}

void TQNProgrammer::HoldJobId(const std::string& id) {
  jobId_ = id;
  jobIdHeld_ = true;
}

void TQNProgrammer::ShowDigest(const char* line) {
  const auto [data, size] = UsedRangeBytes();
  if (pendingSha_ && pendingSha_->data == data && pendingSha_->size == size) {
    LastDigest = {pendingSha_->sha.get(), Crc32Of(data, size)};
  } else {
    LastDigest = DigestOf(data, size);
  }
  pendingSha_.reset();
  const ImageDigest& digest = LastDigest;
  const std::string range = FormatText("0x%06X-0x%06X", Image.ChipStart, Image.ChipEnd);
  AppendInfo(FormatText(Tx(line), range.c_str(), DigestText(digest).c_str()));
  // The checksum panels name the digests of the same range on hover.
  const std::string hint =
      FormatText(Tx("%s\nSHA-256 %s\nCRC-32 0x%08X"), range.c_str(), digest.sha256.c_str(), digest.crc32);
  Controls.StatusPanel0.Hint = hint;
  Controls.StatusPanel1.Hint = hint;
}

BytesWritten TQNProgrammer::SavedBytesRelease() {
  if (!ReleaseImageAsSaved) return {};
  return [this](std::size_t offset, std::size_t count) { EraseWholePages(Image.Data, offset, count); };
}

void TQNProgrammer::FileSaveBtnClick() {
  if (!FileLoaded) {
    view_.ShowMessage(MessageKind::Information, Tx(kNothingToSave));
    return;
  }
  // Binary first, as it always was; the name's extension picks the format
  // (.hex Intel HEX, .srec/.s19/... S-records, anything else binary).
  const auto path = view_.AskSaveFile({Tx(kSaveDialogFormatFilter), kSaveDialogFilterIndex, kSaveDialogDefaultExtension,
                                       FileDialogPurpose::ObjectSave});
  if (!path) {
    view_.ShowMessage(MessageKind::Information, Tx(kNothingToSave));
    return;
  }
  SaveUsedRangeAs(Image, *path, SaveFormatForPath(*path), SavedBytesRelease());
  Editor.MarkSaved();
  ShowEditStatus();
  view_.ImageMarksChanged();
  view_.ShowMessage(MessageKind::Information, FileSavedMessage(*path));
}

void TQNProgrammer::RecomputeImage() {
  velkor::RecomputeImage(Image, Chip, ChipConfirmed, Controls.ChkBoxCPES.Checked, *this);
  ImageReplaced();
}

void TQNProgrammer::SetStatusPanel(int panel, const std::string& text) {
  (panel == kAccPanel ? Controls.StatusPanel0 : Controls.StatusPanel1).Caption = text;
}

void TQNProgrammer::ShowHexView(uint32_t first, uint32_t last) {
  Controls.TabSheetFlash.Visible = true;
  HexViewShown = true;
  HexViewFirst = first;
  HexViewLast = last;
  view_.HexViewChanged();
}

void TQNProgrammer::Warn(const std::string& text) { view_.ShowMessage(MessageKind::Warning, text); }

void TQNProgrammer::SetBusy(bool busy) { view_.SetBusy(busy); }

void TQNProgrammer::ViewDataBuffer1Click() {
  if (ChipConfirmed) view_.ShowModal(DialogId::DataView);
}

void TQNProgrammer::BitBtnFixSNClick() {
  if (RefusedJobChange(Tx("writing fixed data into the image"))) return;
  view_.ShowModal(DialogId::ConfigSN);
}

void TQNProgrammer::BitBtnOKClick() {
  if (RefusedJobChange(Tx("writing fixed data into the image"))) return;
  const std::string& text = ConfigSN.EditDataSN.Text;
  if (text.empty()) {
    view_.ShowMessage(MessageKind::Warning, Tx("请输入有效的序列号数据!"));
    view_.FocusControl("EditDataSN");
    return;
  }
  const uint32_t address = static_cast<uint32_t>(StrToInt(ConfigSN.AddrEditSN.Text));
  // The chip receives the bytes the text has in the code page of the
  // programmers and project files, as it always did.
  const std::string bytes = Utf8ToGbk(text);
  if (uint64_t{address} + bytes.size() > kImageCapacity) {
    view_.ShowMessage(
        MessageKind::Warning,
        FormatText(Tx("The fixed data (%zu bytes from 0x%08X) would reach beyond the image buffer, which ends "
                      "at 0x%08X; nothing was written."),
                   bytes.size(), address, kImageCapacity - 1));
    view_.FocusControl("AddrEditSN");
    return;
  }
  std::copy(bytes.begin(), bytes.end(), Image.Data.get() + address);
  RecomputeImage();
  view_.CloseDialog(DialogId::ConfigSN);
}

void TQNProgrammer::About1Click() { view_.ShowModal(DialogId::About); }

void TQNProgrammer::RunCommand(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& e) {
    view_.ShowMessage(MessageKind::Error, e.what());
  }
  ShowControls();
}

}  // namespace velkor
