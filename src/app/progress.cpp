// What the operator sees of an operation on a programmer: the gauge, the
// channel's log lines, and the progress reports a programmer sends while it
// programs chips by itself, with the good and failed counters.
#include <cstdio>
#include <utility>

#include "app/qn_programmer.hpp"
#include "data/text_format.hpp"
#include "link/operation_codes.hpp"
#include "data/image_buffer.hpp"
#include "app/trace_record.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr uint32_t kSmallestRange = 5;
constexpr int32_t kDefaultTimeoutTicks = 1000;

// One form for each counter, from start-up on.
constexpr const char* kOkCounterText = TextKey("烧写OK总数: %u");
constexpr const char* kNgCounterText = TextKey("烧写NG总数: %u");

constexpr uint8_t kStageCompleted = TQNProgrammer::kCycleStageCompleted;
constexpr uint8_t kCycleSucceeded = 0x06;

// A programmer's good and failed chips, beside its result panel.
constexpr const char* kChannelCountsText = TextKey("OK %u · NG %u");

// How each stage of a programming cycle shows: its line (channel 2 has its
// own for the first stage), what it does to the gauge, and the stage the
// progress line names.
enum class GaugeStep { Fixed50, Start5, Blocks, BlocksBlue, None };
struct Stage {
  uint8_t code;
  const char* text;
  const char* textChannel2;
  GaugeStep gauge;
  bool logOnlyAtStart;  // logged only while no block is done yet
  const char* name;
};
constexpr Stage kStages[] = {
    {TQNProgrammer::kCycleStageStart, TextKey(" Initial Programming Interface ...."),
     TextKey(" Start Auto-Programming...."), GaugeStep::Start5, false, TextKey("Start")},
    {0x20, TextKey(" Chip Blank Checking...."), nullptr, GaugeStep::Fixed50, false, TextKey("Blank check")},
    {0x30, TextKey(" Do Chip Erasing...."), nullptr, GaugeStep::Fixed50, false, TextKey("Erase")},
    {0x40, TextKey(" Do Main Flash Programming...."), nullptr, GaugeStep::BlocksBlue, true, TextKey("Program")},
    {0x50, TextKey(" Do EEP Data Programming...."), nullptr, GaugeStep::Blocks, true, TextKey("Program EEPROM data")},
    {0x70, TextKey(" Do Main Flash Verification...."), nullptr, GaugeStep::Fixed50, false, TextKey("Verify")},
    {0x80, TextKey(" Do EEP Data Verification...."), nullptr, GaugeStep::Fixed50, false, TextKey("Verify EEPROM data")},
    {0xA0, TextKey(" Do Chip Configuration Byte Programming...."), nullptr, GaugeStep::Fixed50, false,
     TextKey("Configuration bytes")},
    {kStageCompleted, TextKey(" Progrmming Completed : "), nullptr, GaugeStep::None, false,
     TextKey("Programming cycle")},
};

const Stage* FindStage(uint8_t code) {
  for (const Stage& s : kStages)
    if (s.code == code) return &s;
  return nullptr;
}

}  // namespace

void TQNProgrammer::BeginOperation(int channel, uint32_t range) {
  LinkChannel& ch = Channels.Channel(channel);
  ch.DownloadPhase = 0;
  ch.BlockPos = 0;
  if (range == 0) range = kSmallestRange;
  switch (ch.Operation) {
    case kOpErase:
    case kOpBlankCheck:
      ch.TimeoutTicks = static_cast<int32_t>(range);
      break;
    case kOpVerify:
      ch.TimeoutTicks = static_cast<int32_t>((channel == 1 ? Chip.SizeKB / 2 : Chip.SizeKB) + 500);
      break;
    default:
      ch.TimeoutTicks = kDefaultTimeoutTicks;
  }
  if (!ch.Busy) {
    // The first arming of an operation; the automatic sequence arms again
    // for each of its steps.
    const std::size_t index = static_cast<std::size_t>(channel - 1);
    FollowSession(channel);
    operationStart_[index] = SteadyNow();
    progress_[index].running = false;
    // Only a chip being written takes a number. (AutoRun outlives the
    // automatic run: a read after it must not count as one.)
    const bool writesChip =
        ch.Operation == kOpProgram || ch.Operation == kOpCheckId || (ch.AutoRun && ch.Operation == kOpErase);
    chipId_[index].reset();
    chipStatus_[index].clear();
    stopAsked_[index] = false;
    cycleUnderWay_[index] = false;
    serialNumber_[index] = HostSerialNumbersOn() && writesChip ? std::optional<uint32_t>(Job.SnValue) : std::nullopt;
    serialValue_[index] = serialNumber_[index] && NumberSource ? placedValue_ : std::nullopt;
    if (serialValue_[index] && !serialValue_[index]->number) serialNumber_[index].reset();
  }
  ch.Busy = 1;
  GaugeControl& gauge = Gauge(channel);
  if (Chip.SizeKB < 2) {
    ch.BlockEnd = 2;
    gauge.SetProgress(1);
  } else {
    ch.BlockEnd = Chip.SizeKB;
    gauge.SetProgress(channel == 1 ? 3 : 1);
  }
  // The 528-byte-page flash carries its spare bytes inside each program and
  // read block: those blocks end with the 2 MiB of page data, not with the
  // chip's size. A download moves plain slices of the image, spare area
  // included, up to the size its start packet announces.
  if (Chip.Family == kFamilyDataFlash528 && ch.Operation != kOpDownload && ch.BlockEnd > kDataFlashSpareBase / 1024)
    ch.BlockEnd = kDataFlashSpareBase / 1024;
  gauge.SetMax(static_cast<int>(range));
  gauge.Colour = GaugeColour::Blue;
  ShowControls();
}

void TQNProgrammer::ShowCounters() {
  Controls.StatusPanel2.Caption = FormatText(Tx(kOkCounterText), BurnCount);
  Controls.StatusPanel3.Caption = FormatText(Tx(kNgCounterText), FailCount);
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n)
    CountsLine(n).Caption = FormatText(Tx(kChannelCountsText), ChannelOk[n - 1], ChannelNg[n - 1]);
}

void TQNProgrammer::CountBurn(int channel, bool good) {
  const std::size_t index = static_cast<std::size_t>(channel - 1);
  if (good) {
    ++ChannelOk[index];
    ++BurnCount;
  } else {
    ++ChannelNg[index];
    ++FailCount;
  }
  if (Session) ++(good ? Session->good : Session->failed);
  ShowCounters();
}

void TQNProgrammer::EndOperation(int channel, bool failed, const EndCause& endCause) {
  LinkChannel& ch = Channels.Channel(channel);
  // Only an operation that ran has a result to show (an error reply on an
  // idle channel ends nothing).
  const bool ran = ch.Busy != 0;
  // Where the step stood at its end, before the read-back or the stop hands
  // the operation back to the step it belongs to.
  FollowOperation(channel);
  EndCause cause = endCause;
  SettleStop(channel, failed, cause);
  SettleReadBack(channel, failed, cause);
  const bool stopped = cause.stopped;
  // A chip the automatic programming started on and did not finish is a
  // failed burn, as a failed cycle of the programmer's own is: its good
  // burns are counted by the verify that ends it.
  const bool burning = ch.Operation == kOpErase || ch.Operation == kOpProgram || ch.Operation == kOpVerify ||
                       ch.Operation == kOpCheckId;
  if (failed && !stopped && ch.AutoRun && burning) CountBurn(channel, false);
  const std::size_t index = static_cast<std::size_t>(channel - 1);
  OperationOutcome outcome;
  outcome.channel = channel;
  outcome.operation = OperationName(ch.Operation, ch.AutoRun != 0);
  outcome.failed = failed;
  outcome.timedOut = cause.timedOut;
  outcome.stopped = stopped;
  outcome.status = cause.status;
  outcome.text = !cause.text.empty() ? cause.text : failed ? Tx("操作失败！") : Tx("操作成功！");
  outcome.duration =
      std::chrono::duration_cast<std::chrono::milliseconds>(SteadyNow() - operationStart_[index]);
  outcome.serialNumber = serialNumber_[index];
  const std::optional<SerialValue> value = std::exchange(serialValue_[index], std::nullopt);
  if (value && !value->number) outcome.serialText = value->text;
  outcome.differences = cause.differences;
  outcome.chipId = chipId_[index];
  outcome.chipStatus = chipStatus_[index];
  ch.Busy = 0;
  ch.GaugeCreep = 0;
  ch.Operation = kOpIdle;
  GaugeControl& gauge = Gauge(channel);
  gauge.Colour = stopped ? GaugeColour::Grey : failed ? GaugeColour::Red : GaugeColour::Blue;
  // A failed operation stops where it stood: a full bar would read as done.
  if (!failed) gauge.SetProgress(gauge.MaxValue);
  // A stop's line says where the operation stood.
  ChannelLog(channel, stopped ? cause.text : std::string(failed ? Tx("操作失败！") : Tx("操作成功！")));
  if (ran) EndProgress(channel, stopped ? ResultState::Stopped : failed ? ResultState::Fail : ResultState::Pass);
  ShowControls();
  RecordOutcome(outcome);
  if (OperationEnded) OperationEnded(outcome);
  if (!outcome.serialNumber && !value) return;
  // A stopped chip is unfinished, and may hold its number already: its
  // number is treated as a failed chip's (failed is set for it).
  if (NumberSource && value) NumberSource->DoneValue(channel, *value, failed ? NumberEnd::Failed : NumberEnd::Good);
  // A chip that holds its number now has it for good: the next chip gets
  // the next one (the automatic run's verify has stepped it already).
  if (outcome.serialNumber && !failed && Job.SnValue == *outcome.serialNumber) StepSerialNumber();
  if (!numberedQueue_.empty()) {
    // Only the edit box's own numbering looks at the number before.
    const uint32_t number = outcome.serialNumber.value_or(Job.SnValue);
    // Started after the reply that ended this one has been handled.
    loop_.post([this, number] { RunCommand([this, number] { ContinueNumberedRun(number); }); });
  }
}

void TQNProgrammer::RecordOutcome(const OperationOutcome& outcome) {
  // A read puts the chip's bytes into the image: it is no file's any more.
  if (outcome.operation == "read") ImageFile.clear();
  // One line per chip: a download or a firmware upgrade touches none.
  if (outcome.operation == "download" || outcome.operation == "firmware") return;
  const bool toFile = Controls.ChkBoxRecord.Checked;
  if (!toFile && !RecordSink) return;
  const std::string& name = Controls.EditRecordFile.Text;
  if (toFile && name.empty()) {
    view_.ShowMessage(MessageKind::Error, Tx("The traceability record is on, but no record file is named."));
    if (!RecordSink) return;
  }
  TraceRecord record;
  record.time = std::chrono::system_clock::now();
  record.station = Station();
  record.jobId = JobId();
  record.lockedJob = LockedJobPath;
  record.jobLock = LockedJobLock;
  record.programmer = ProgrammerNumberBase + outcome.channel;
  record.programmerId = DeviceName[outcome.channel - 1];
  record.adapterSerial = PortAdapter[outcome.channel - 1].serial;
  record.chip = Controls.MCUNameEdit.Text;
  record.chipId = outcome.chipId;
  record.acc = Image.AccSum16;
  record.crc = Image.Crc16;
  // Only what was written or compared against the image has its digest,
  // and the file it came from.
  if (outcome.operation == "program" || outcome.operation == "auto" || outcome.operation == "verify") {
    const ImageDigest digest = UsedRangeDigest();
    record.sha256 = digest.sha256;
    record.crc32 = digest.crc32;
    record.imageFile = ImageFile;
  }
  if (outcome.differences) {
    record.differences = outcome.differences->count;
    record.firstDifference = outcome.differences->FirstAddress();
  }
  record.serialNumber = outcome.serialNumber;
  record.serialText = outcome.serialText;
  record.operation = outcome.operation;
  record.result = OutcomeResult(outcome);
  record.code = outcome.status;
  record.text = outcome.text;
  record.duration = outcome.duration;
  if (outcome.serialNumber && NumberSource) record.pool = NumberPool;
  // The log names each job once, with the first chip recorded for it, so
  // that its lines can be found from the records.
  if (loggedJobId_ != record.jobId) {
    loggedJobId_ = record.jobId;
    AppendInfo(ImageFile.empty()
                   ? FormatText(Tx("Job %s: chip %s."), record.jobId.c_str(), record.chip.c_str())
                   : FormatText(Tx("Job %s: chip %s, file %s."), record.jobId.c_str(), record.chip.c_str(),
                                ImageFile.c_str()));

  }
  if (RecordSink) RecordSink->Add(record);
  if (!toFile || name.empty()) return;
  const std::filesystem::path path = startDirectory_ / name;  // an absolute name stays as it is
  const std::string error = AppendTraceLine(path, TraceRecordLine(record));
  if (!error.empty()) {
    // A unit without its record must not pass unnoticed on a line.
    const std::string text = FormatText(Tx("The traceability record could not be written: %s"), error.c_str());
    WriteFailures.push_back(text);
    ChannelLog(outcome.channel, text);
    // After the receive event that ended the operation, as every box.
    loop_.post([this, text] { view_.ShowMessage(MessageKind::Error, text); });
  }
}

std::string OperationName(uint8_t operation, bool autoRun) {
  struct Name {
    uint8_t operation;
    const char* name;
  };
  static constexpr Name kNames[] = {
      {kOpDownload, "download"}, {kOpErase, "erase"},     {kOpProgram, "program"},  {kOpVerify, "verify"},
      {kOpBlankCheck, "blank"},  {kOpReadBlocks, "read"}, {kOpReadStream, "read"}, {kOpReadId, "id"},
      {kOpFirmware, "firmware"}, {kOpReadBack, "read-back"}, {kOpCheckId, "program"},
  };
  // The ID check is the first step of the programming it was started for.
  const bool autoStep =
      operation == kOpErase || operation == kOpProgram || operation == kOpVerify || operation == kOpCheckId;
  if (autoRun && autoStep) return "auto";
  for (const Name& n : kNames)
    if (n.operation == operation) return n.name;
  return "idle";
}

void TQNProgrammer::ShowProgressReport(int channel) {
  const auto& p = Channels.Channel(channel).PacketBuffer;
  uint8_t sum = 0;
  for (int i = 0; i < 8; ++i) sum = static_cast<uint8_t>(sum + p[i]);
  if (sum != 0) return;
  const Stage* stage = FindStage(p[1]);
  if (!stage) return;
  const uint8_t result = p[2];
  const int done = p[3] | (p[4] << 8);
  int total = p[5] | (p[6] << 8);
  if (total == 0) total = 4;

  GaugeControl& gauge = Gauge(channel);
  switch (stage->gauge) {
    case GaugeStep::Start5:
      gauge.SetProgress(5);
      gauge.SetMax(100);
      gauge.Colour = GaugeColour::Blue;
      break;
    case GaugeStep::Fixed50:
      gauge.SetProgress(50);
      gauge.SetMax(100);
      break;
    case GaugeStep::BlocksBlue:
      gauge.Colour = GaugeColour::Blue;
      [[fallthrough]];
    case GaugeStep::Blocks:
      gauge.SetProgress(done + 2);
      gauge.SetMax(total);
      break;
    case GaugeStep::None:
      break;
  }

  const std::size_t index = static_cast<std::size_t>(channel - 1);
  if (stage->gauge == GaugeStep::Start5) {
    cycleStart_[index] = SteadyNow();
    cycleUnderWay_[index] = true;
  }
  const bool countsBlocks = stage->gauge == GaugeStep::Blocks || stage->gauge == GaugeStep::BlocksBlue;
  FollowCycleStage(channel, stage->code, stage->name, done, countsBlocks ? total : 0);
  std::string text = Tx(channel == 2 && stage->textChannel2 ? stage->textChannel2 : stage->text);
  if (stage->code != kStageCompleted) {
    if (!stage->logOnlyAtStart || done == 0) ChannelLog(channel, text);
    ShowControls();
    return;
  }

  cycleUnderWay_[index] = false;
  OperationOutcome cycle;
  cycle.channel = channel;
  cycle.operation = "stand-alone";
  cycle.failed = result != kCycleSucceeded;
  cycle.status = result;
  if (result == kCycleSucceeded) {
    cycle.text = text + (channel == 2 ? Tx("Successed!") : Tx("Successed !"));
    ChannelLog(channel, cycle.text);
    CountBurn(channel, true);
  } else {
    CountBurn(channel, false);
    gauge.Colour = GaugeColour::Red;
    cycle.text = text + FormatText(Tx("Failed : Error=0x%02X!"), result);
    ChannelLog(channel, cycle.text);
  }
  gauge.SetProgress(gauge.MaxValue);
  ChannelLog(channel, FormatText(channel == 2 ? Tx(" ---------------- OK=%u, NG=%u. ----------------")
                                          : Tx("---------------- OK=%u, NG=%u. ----------------"),
                             ChannelOk[index], ChannelNg[index]));
  // The panel of a programmer the host is working with belongs to the host's
  // operation.
  if (!Channels.Channel(channel).Busy) EndProgress(channel, cycle.failed ? ResultState::Fail : ResultState::Pass);
  ShowControls();
  cycle.duration = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyNow() - cycleStart_[index]);
  // A chip the programmer programmed by itself gets its record too.
  RecordOutcome(cycle);
}

}  // namespace velkor
