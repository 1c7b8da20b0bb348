// The operator's programming operations: their preconditions, the job
// settings taken from the controls, and the start of each operation on the
// programmers that are identified and free. What follows the first command
// is driven by the replies.
#include <cstdio>

#include "app/integer_text.hpp"
#include "app/qn_programmer.hpp"
#include "data/text_format.hpp"
#include "link/operation_codes.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr const char* kNoChip = TextKey("请选择并确认芯片型号！");
constexpr const char* kNoFile = TextKey("请加载目标文件！");
constexpr const char* kNoProgrammer = TextKey("请连接好设备!");
constexpr const char* kNoProgrammerBox = TextKey("请连接好设备！");
constexpr const char* kAutoRunRule = ">---------------------------------------------------------------";
constexpr const char* kNumberedRunBusy =
    TextKey("Host-side serial numbers: programmer %d is still busy; start the next chip when it has finished.");
constexpr const char* kNumberedRunNext =
    TextKey("Host-side serial numbers: one chip at a time, so that each gets its own number; programmer %d follows.");

constexpr const char* kRangeNotAddressable = TextKey(
    "The operation covers %u KB, 64 MiB or more: block positions and sizes from 64 MiB on do not fit the "
    "programmer's 16-bit fields, so nothing was sent. Tick \"Addressing beyond 64 MiB\" (velkor-cli: "
    "--extended-addressing) only if the programmers' firmware reads the extended fields.");

constexpr uint8_t kOn = 0x0F;
constexpr uint8_t kClockCodes[] = {250, 50, 15, 5};  // 100 kHz, 200 kHz, 400 kHz, 1 MHz
constexpr uint8_t kSensorClockCode = 200;

}  // namespace

bool TQNProgrammer::CheckPreconditions(bool needsFile, bool touchesChips) {
  if (!ChipConfirmed) {
    view_.ShowMessage(MessageKind::Warning, Tx(kNoChip));
    return false;
  }
  if (needsFile && !FileLoaded) {
    view_.ShowMessage(MessageKind::Warning, Tx(kNoFile));
    return false;
  }
  return !touchesChips || (UseLine() && UseSerialSource());
}

bool TQNProgrammer::UseLine() {
  const LineSettings settings{Controls.EditLineDb.Text, Controls.EditStation.Text, Controls.EditLinePool.Text};
  const auto letGoOfNumbers = [this] {
    if (!numbersFromLine_) return;
    NumberSource = nullptr;
    NumberPool.reset();
    numbersFromLine_ = false;
  };
  if (!settings.Used()) {
    RecordSink = nullptr;
    SessionRecords = nullptr;
    letGoOfNumbers();
    return true;
  }
  if (!Line) {
    Warn(Tx("This program was built without the production line's database; clear its settings to go on."));
    return false;
  }
  if (const std::string error = Line->Use(settings); !error.empty()) {
    AppendInfo(error);
    Warn(FormatText(Tx("%s\nNo chip was started."), error.c_str()));
    return false;
  }
  RecordSink = &Line->Records();
  SessionRecords = &Line->Sessions();
  if (settings.pool.empty()) {
    letGoOfNumbers();
    return true;
  }
  NumberSource = &Line->Numbers(ProgrammerNumberBase);
  NumberPool = settings.pool;
  numbersFromLine_ = true;
  // The pool says where its numbers go; the serial-number settings show it.
  const PoolPlacement placement = Line->Placement();
  Controls.CheckBoxSN.Checked = true;
  CheckBoxSNClick();
  Controls.ChkBoxPCSN.Checked = true;
  Controls.AddrEdit.Text = FormatText("0x%08X", placement.address);
  Controls.SNOrderChk.Checked = placement.bigEndian;
  return true;
}

void TQNProgrammer::LineNotice(const std::string& text) {
  AppendInfo(text);
  // After the event under way, as every box.
  loop_.post([this, text] { view_.ShowMessage(MessageKind::Warning, text); });
}

void TQNProgrammer::PrepareJob() {
  const auto& c = Controls;
  const uint8_t family = Chip.Family;
  if (family == kFamilySpiEeprom) {
    Chip.EepromProtect = Chip.ProtectSetting;
  } else if (family < kFirstEepromFamily) {
    Chip.StatusBytes[0] = Chip.ProtectSetting;
    if (family == 0x05) {
      if (c.MCUNameEdit.Text == "MX25L3233")
        Chip.StatusBytes[0] |= 0x80;
      else
        Chip.StatusBytes[1] = 2;
    } else {
      Chip.StatusBytes[1] = c.CheckBoxQE.Checked ? 2 : 0;
    }
  }
  // A programmer still busy keeps its place: restarting its transfer from
  // block 0 would write the wrong data to its chip.
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n)
    if (!Channels.Channel(n).Busy) Channels.Channel(n).BlockPos = 0;
  Job.SettleTime = static_cast<uint16_t>(c.SpinEditIn.Value / 5);
  Job.RemoveTime = static_cast<uint16_t>(c.SpinEditOut.Value / 5);
  Job.AutoDetect = c.CheckBoxAut.Checked ? kOn : 0;
  Job.PowerUpTime = static_cast<uint8_t>(c.SpinEditPTM.Value / 10);
  Job.LatchedMode = Chip.ModeFlags;

  if (family == kFamilySensor) {
    Job.OpFlags = c.CheckBoxWRP.Checked ? 0x80 : 0;
  } else {
    uint8_t flags = 0;
    if (c.EnBlankChk.Checked) flags |= 0x02;
    if (c.EnEraseChk.Checked) flags |= 0x01;
    if (!c.EnProgChk.Checked) flags |= 0x04 | 0x80;
    if (!c.EnVerifyChk.Checked) flags |= 0x08;
    // Quad enable is one bit, asked for by the box or by the chip itself.
    if (c.CheckBoxQE.Checked || Chip.ForceQe) flags |= 0x10;
    Job.OpFlags = flags;
  }
  if (family == kFamilyI2cEeprom) {
    Chip.DeviceAddress = static_cast<uint8_t>(StrToInt(c.EditDevAdrX.Text));
    Chip.PageSize = static_cast<uint32_t>(c.SpinEditPGSZ.Value);
  }

  // The low bits carry over from the chip's choice; the byte-order bits are
  // the box's alone. Kept from an earlier job, the one of them below 0x20
  // would turn into the big-endian pair beside a low-voltage chip's 0x20.
  uint8_t options = Job.OptionBits & 0x1F & ~kOptionSerialBigEndian;
  if (c.SNOrderChk.Checked) options |= kOptionSerialBigEndian;
  options &= static_cast<uint8_t>(~(kOption5V | kOption1V8));
  if (c.RadioGpVolt.ItemIndex == 1) options |= kOption5V;
  if (c.RadioGpVolt.ItemIndex == 2) options |= kOption1V8;
  if (Chip.PageFlash) options |= kOptionPageFlash;
  if (c.ChkBoxNotBLK.Checked) options |= kOptionErrorIfNotBlank;
  if (Chip.LowVoltChip) options |= kOptionLowVoltChip;
  Job.OptionBits = options;

  Job.SnWidth = 4;
  Job.SnStep = static_cast<uint16_t>(StrToInt(c.GainEdit.Text));
  Job.SnEnable = c.CheckBoxSN.Checked ? kOn : 0;
  if (c.CheckBoxSN.Checked) {
    Job.SnValue = static_cast<uint32_t>(StrToInt(c.SNEdit.Text));
    Job.SnAddress = static_cast<uint32_t>(StrToInt(c.AddrEdit.Text));
  } else {
    Job.SnValue = 0;
    Job.SnAddress = 0xFFFFFFFF;
  }
  Job.ExtendedAddressing = c.ChkBoxExtAddr.Checked;
  Job.LimitOn = c.ChkBoxNumb.Checked ? kOn : 0;
  Job.LimitCount = static_cast<uint32_t>(c.SpinEditNumb.Value);
  const int clock = c.RadioGroupSpd.ItemIndex;
  Job.ClockCode = clock >= 0 && clock < 3 ? kClockCodes[clock] : kClockCodes[3];
  if (family >= kFirstSensorFamily) Job.ClockCode = kSensorClockCode;
}

bool TQNProgrammer::RangeAddressable() {
  if (Job.ExtendedAddressing || Chip.SizeKB < kPlainAddressableKB) return true;
  const std::string text = FormatText(Tx(kRangeNotAddressable), Chip.SizeKB);
  AppendInfo(text);
  Warn(text);
  return false;
}

bool TQNProgrammer::WriteSerialNumber() {
  const bool bigEndian = Controls.SNOrderChk.Checked;
  std::vector<uint8_t> bytes(4);
  for (uint32_t i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(Job.SnValue >> 8 * (bigEndian ? 3 - i : i));
  return WriteSerialBytes(bytes);
}

bool TQNProgrammer::WriteSerialBytes(const std::vector<uint8_t>& bytes) {
  const uint32_t address = Job.SnAddress;
  const uint64_t last = uint64_t{address} + bytes.size() - 1;
  if (last >= kImageCapacity) {
    Warn(FormatText(Tx("The serial number's address 0x%08X lies beyond the image buffer, which ends at 0x%08X; the "
                       "operation was not started."),
                    address, kImageCapacity - 1));
    return false;
  }
  // Bytes outside the used range would never reach the chip.
  if (address < Image.ChipStart || last > Image.ChipEnd) {
    Warn(FormatText(
        Tx("The serial number's bytes 0x%08X-0x%08X lie outside the range that is programmed, 0x%08X-0x%08X; "
           "the operation was not started."),
        address, static_cast<uint32_t>(last), Image.ChipStart, Image.ChipEnd));
    return false;
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) Image.Data[address + i] = bytes[i];
  view_.HexBytesChanged(address, static_cast<uint32_t>(last));
  UpdateChecksums(Image, 0, Image.ChipEnd - Image.ChipStart, *this);
  return true;
}

// Runs start(channel) on every channel that is identified and free,
// programmer 1 first.
template <typename Start>
static void ForEachFreeChannel(TQNProgrammer& p, bool reportNone, Start start) {
  bool started = false;
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
    const LinkChannel& ch = p.Channels.Channel(n);
    if (!ch.Identified || ch.Busy) continue;
    started = true;
    start(n);
  }
  if (!started && reportNone) p.AppendInfo(Tx(kNoProgrammer));
}

// Host-side serial numbers live in the one image both programmers program
// from: two chips programmed at once would get the same number, and a
// chip started while another is under way would get that one's number
// too. Numbered chips are therefore programmed one at a time: a press starts
// the first free programmer, and each of the others follows when the one
// before has ended, with the next number.
bool TQNProgrammer::PlaceSerialNumber(int n) {
  if (!NumberSource) return WriteSerialNumber();
  std::string error;
  placedValue_ = NumberSource->TakeValue(n, error);
  if (!placedValue_) {
    Warn(error);
    return false;
  }
  const SerialValue& value = *placedValue_;
  bool written;
  if (value.number) {
    Job.SnValue = *value.number;
    Controls.SNEdit.Text = FormatText("0x%08X", *value.number);
    written = WriteSerialNumber();
  } else {
    written = WriteSerialBytes(value.bytes);
    if (written) AppendInfo(FormatText(Tx("C%d: serial number %s"), n, value.text.c_str()));
  }
  if (written) return true;
  NumberSource->DoneValue(n, value, NumberEnd::NotUsed);
  placedValue_.reset();
  return false;
}

bool TQNProgrammer::NumberedRunMayStart() {
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
    if (!Channels.Channel(n).Busy) continue;
    AppendInfo(FormatText(Tx(kNumberedRunBusy), n));
    return false;
  }
  return true;
}

void TQNProgrammer::SpdBtnDownLoadClick() {
  // A download touches no chip: the programmers number theirs themselves.
  if (!CheckPreconditions(true, false)) return;
  PrepareJob();
  if (!RangeAddressable()) return;
  ForEachFreeChannel(*this, false, [this](int n) {
    Channels.Channel(n).Operation = kOpDownload;
    AppendInfo(FormatText(Tx("编程器 %d ：下载数据......"), n));
    BeginOperation(n, Chip.SizeKB + 2);
    DownloadStep(n);
  });
}

void TQNProgrammer::BlankCheck1Click() {
  if (!CheckPreconditions(false)) return;
  PrepareJob();
  ForEachFreeChannel(*this, true, [this](int n) {
    LinkChannel& ch = Channels.Channel(n);
    ch.GaugeCreep = 1;
    ch.Operation = kOpBlankCheck;
    ch.AutoRun = 0;
    AppendInfo(FormatText(Tx("芯片%d ：开始芯片查空......"), n));
    BeginOperation(n, Chip.SizeKB + 200);
    SendChipCommand(n, kCmdChipOperation, kSubOpBlankCheck);
  });
}

void TQNProgrammer::SpdBtnEraseClick() {
  if (!CheckPreconditions(false)) return;
  PrepareJob();
  ForEachFreeChannel(*this, true, [this](int n) {
    LinkChannel& ch = Channels.Channel(n);
    ch.Operation = kOpErase;
    ch.GaugeCreep = 1;
    ch.AutoRun = 0;
    AppendInfo(FormatText(Tx("芯片 %d ：芯片擦除......"), n));
    BeginOperation(n, 5u * Chip.EraseTime);
    SendChipCommand(n, kCmdChipOperation, kSubOpErase);
  });
}

void TQNProgrammer::StartNumberedRun(NumberedKind kind) {
  if (!NumberedRunMayStart()) return;
  NumberedRunCutShort = false;
  std::vector<int> free;
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n)
    if (Channels.Channel(n).Identified && !Channels.Channel(n).Busy) free.push_back(n);
  if (!free.empty() && !PlaceSerialNumber(free.front())) return;
  if (kind == NumberedKind::Auto) AppendPlain(kAutoRunRule);
  if (free.empty()) {
    AppendInfo(Tx(kNoProgrammer));
    return;
  }
  numberedKind_ = kind;
  numberedQueue_.assign(free.begin() + 1, free.end());
  for (const int next : numberedQueue_) AppendInfo(FormatText(Tx(kNumberedRunNext), next));
  StartNumberedChip(free.front());
}

void TQNProgrammer::StartNumberedChip(int n) {
  if (numberedKind_ == NumberedKind::Program)
    StartProgram(n);
  else
    StartAuto(n);
}

void TQNProgrammer::ContinueNumberedRun(uint32_t previousNumber) {
  while (!numberedQueue_.empty()) {
    const int n = numberedQueue_.front();
    numberedQueue_.erase(numberedQueue_.begin());
    if (!Channels.Channel(n).Identified || Channels.Channel(n).Busy) continue;
    PrepareJob();
    // The chip before kept its number whatever became of it.
    if (!NumberSource && Job.SnValue == previousNumber) {
      StepSerialNumber();
      PrepareJob();
    }
    if (!PlaceSerialNumber(n)) {
      numberedQueue_.clear();
      NumberedRunCutShort = true;
      return;
    }
    StartNumberedChip(n);
    return;
  }
}

void TQNProgrammer::StartProgram(int n) {
  if (ChecksChipId(n))
    StartIdCheck(n, false);
  else
    BeginProgram(n);
}

void TQNProgrammer::StartAuto(int n) {
  if (ChecksChipId(n))
    StartIdCheck(n, true);
  else
    BeginAuto(n);
}

void TQNProgrammer::BeginProgram(int n) {
  LinkChannel& ch = Channels.Channel(n);
  ch.GaugeCreep = 0;
  ch.Operation = kOpProgram;
  ch.AutoRun = 0;
  AppendInfo(FormatText(Tx("芯片%d ：开始芯片编程......"), n));
  BeginOperation(n, Chip.SizeKB);
  SendProgramBlock(n);
}

void TQNProgrammer::BeginAuto(int n) {
  LinkChannel& ch = Channels.Channel(n);
  ch.AutoRun = 1;
  ch.GaugeCreep = 0;
  if (Chip.Family < kFirstEepromFamily && Controls.EnEraseChk.Checked) {
    AppendInfo(FormatText(Tx("芯片%d : 启动自动编程，擦除芯片......"), n));
    ch.Operation = kOpErase;
    ch.GaugeCreep = 1;
    BeginOperation(n, 5u * Chip.EraseTime);
    SendChipCommand(n, kCmdChipOperation, kSubOpErase);
  } else {
    ch.Operation = kOpProgram;
    AppendInfo(FormatText(Tx("芯片%d : 启动自动编程，开始数据写入......"), n));
    BeginOperation(n, Chip.SizeKB);
    SendProgramBlock(n);
  }
}

void TQNProgrammer::SpdBtnProgClick() {
  if (!CheckPreconditions(true)) return;
  PrepareJob();
  if (!RangeAddressable()) return;
  if (HostSerialNumbersOn()) {
    StartNumberedRun(NumberedKind::Program);
    return;
  }
  ForEachFreeChannel(*this, true, [this](int n) { StartProgram(n); });
}

void TQNProgrammer::SpdBtnVerifyClick() {
  if (!CheckPreconditions(true)) return;
  PrepareJob();
  if (!RangeAddressable()) return;
  ForEachFreeChannel(*this, true, [this](int n) {
    LinkChannel& ch = Channels.Channel(n);
    ch.GaugeCreep = 1;
    ch.Operation = kOpVerify;
    ch.AutoRun = 0;
    AppendInfo(FormatText(Tx("芯片%d ：执行数据校验......"), n));
    BeginOperation(n, Chip.SizeKB / 2 + 500);
    SendChipCommand(n, kCmdChipOperation, kSubOpVerify);
  });
}

void TQNProgrammer::ReadbackVerifyClick() {
  if (!CheckPreconditions(true)) return;
  PrepareJob();
  if (!RangeAddressable()) return;
  ForEachFreeChannel(*this, true, [this](int n) { StartReadBack(n, VerifyingByReadBack()); });
}

void TQNProgrammer::SpdBtnAutoPClick() {
  if (!CheckPreconditions(true)) return;
  PrepareJob();
  if (!RangeAddressable()) return;
  if (HostSerialNumbersOn()) {
    StartNumberedRun(NumberedKind::Auto);
    return;
  }
  AppendPlain(kAutoRunRule);
  ForEachFreeChannel(*this, true, [this](int n) { StartAuto(n); });
}

bool TQNProgrammer::ProgrammerOneFree() {
  const LinkChannel& ch = Channels.Channel(1);
  if (!ch.Busy && ch.Identified) return true;
  view_.ShowMessage(MessageKind::Warning, Tx(kNoProgrammerBox));
  return false;
}

void TQNProgrammer::SpeedButtonRDClick() {
  if (RefusedInOperatorMode(Tx("reading a chip into the image"))) return;
  if (!CheckPreconditions(false) || !ProgrammerOneFree()) return;
  LinkChannel& ch = Channels.Channel(1);
  PrepareJob();
  if (!RangeAddressable()) return;
  BeginOperation(1, Chip.SizeKB);
  ch.GaugeCreep = 0;
  AppendInfo(Tx("芯片 1：读取芯片数据......"));
  const bool streamed = Chip.Family < kFirstEepromFamily && Chip.Family != kFamilyDataFlash528 && FastReadCapable;
  if (streamed) {
    ch.Operation = kOpReadStream;
    SendChipCommand(1, kCmdReadStream, 0);
  } else {
    ch.Operation = kOpReadBlocks;
    SendChipCommand(1, kCmdReadBlock, ch.BlockPos);
  }
}

void TQNProgrammer::ReadChipIDandStatus1Click() {
  if (!CheckPreconditions(false) || !ProgrammerOneFree()) return;
  LinkChannel& ch = Channels.Channel(1);
  PrepareJob();
  BeginOperation(1, 500);
  ch.GaugeCreep = 1;
  AppendInfo(Tx("芯片 1：读取芯片信息数据......"));
  // Set after the arming, as it always was: the time-out is the one of the
  // channel's previous operation.
  ch.Operation = kOpReadId;
  SendChipCommand(1, kCmdChipOperation, kSubOpReadIdAndStatus);
}

}  // namespace velkor
