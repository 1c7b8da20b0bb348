// What each programmer's progress line and result panel show: the stage of
// the operation under way (or of the cycle the programmer runs by itself),
// the time since it started, the speed of what the host moves and the time
// that still needs; at the end, PASS, FAIL or STOPPED.
#include "app/qn_programmer.hpp"
#include "link/operation_codes.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

// The host counts what it moves in blocks of KB (BlockPos, BlockEnd); what
// a programmer does by itself (erase, its verify) it cannot count.
struct OperationStage {
  uint8_t operation;
  const char* stage;
  bool counted;
};
constexpr OperationStage kOperationStages[] = {
    {kOpDownload, TextKey("Download"), true},       {kOpErase, TextKey("Erase"), false},
    {kOpProgram, TextKey("Program"), true},         {kOpVerify, TextKey("Verify"), false},
    {kOpBlankCheck, TextKey("Blank check"), false}, {kOpReadBlocks, TextKey("Read"), true},
    {kOpReadStream, TextKey("Read"), true},         {kOpReadId, TextKey("Read ID"), false},
    {kOpCheckId, TextKey("Read ID"), false},        {kOpReadBack, TextKey("Read back"), true},
    {kOpFirmware, TextKey("Firmware upgrade"), false},
};
constexpr OperationStage kUnknownOperation = {kOpIdle, TextKey("Operation"), false};
constexpr uint32_t kBytesPerBlockUnit = 1024;

const OperationStage& StageOf(uint8_t operation) {
  for (const OperationStage& s : kOperationStages)
    if (s.operation == operation) return s;
  return kUnknownOperation;
}

}  // namespace

void TQNProgrammer::FollowOperation(int n) {
  const LinkChannel& ch = Channels.Channel(n);
  if (!ch.Busy) return;
  ProgressTrack& track = progress_[n - 1];
  const SteadyTime now = SteadyNow();
  // A new operation (not the next step of one): its end is not known yet.
  if (!track.running || track.step >= kCycleStep) {
    track = ProgressTrack{};
    track.running = true;
    track.since = operationStart_[n - 1];
    ResultPanel(n).Show(ResultState::Neutral);
  }
  // Each step counts its own transfer from its start, and a transfer that
  // starts again from block 0 is a new one.
  if (track.step != ch.Operation || (track.counted && ch.BlockPos < track.transfer.Done())) {
    const OperationStage& stage = StageOf(ch.Operation);
    track.step = ch.Operation;
    track.stage = stage.stage;
    track.counted = stage.counted;
    track.unitBytes = kBytesPerBlockUnit;
    track.transfer.Start(now);
  }
  if (track.counted) track.transfer.Moved(now, ch.BlockPos, ch.BlockEnd);
}

void TQNProgrammer::FollowCycleStage(int n, uint8_t code, const char* stage, int done, int total) {
  // While the host runs an operation on it, the line shows that.
  if (Channels.Channel(n).Busy) return;
  ProgressTrack& track = progress_[n - 1];
  const SteadyTime now = SteadyNow();
  const int step = kCycleStep + code;
  const bool cycleRunning = track.running && track.step >= kCycleStep;
  if (!cycleRunning || step == kCycleStep + kCycleStageStart) {
    track = ProgressTrack{};
    track.running = true;
    track.since = now;
    ResultPanel(n).Show(ResultState::Neutral);
  }
  // The cycle's end keeps the stage it ended in.
  if (code == kCycleStageCompleted && track.step >= kCycleStep) return;
  if (track.step != step) {
    track.step = step;
    track.stage = stage;
    track.counted = total > 0;
    track.unitBytes = 0;  // blocks of the programmer's own size
    track.transfer.Start(now);
  }
  if (track.counted) track.transfer.Moved(now, static_cast<uint64_t>(done), static_cast<uint64_t>(total));
}

ProgressFigures TQNProgrammer::ProgressOf(int channel) const {
  const ProgressTrack& track = progress_[channel - 1];
  if (!track.running) return track.last;
  const SteadyTime now = SteadyNow();
  ProgressFigures figures;
  figures.stage = track.stage;
  figures.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - track.since);
  if (figures.elapsed.count() < 0) figures.elapsed = std::chrono::milliseconds(0);
  if (!track.counted) return figures;
  figures.percent = track.transfer.Percent();
  if (track.unitBytes != 0)
    if (const std::optional<double> speed = track.transfer.Speed(now))
      figures.bytesPerSecond = *speed * track.unitBytes;
  figures.timeLeft = track.transfer.TimeLeft(now);
  return figures;
}

bool TQNProgrammer::ShowProgressLine(int n) {
  LabelControl& line = ProgressLine(n);
  const std::string text = ProgressText(ProgressOf(n));
  if (line.Caption == text) return false;
  line.Caption = text;
  return true;
}

void TQNProgrammer::RefreshProgress() {
  bool changed = false;
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
    // Also an operation code set after its arming (the read of ID and
    // status) is taken up here.
    FollowOperation(n);
    changed = ShowProgressLine(n) || changed;
  }
  if (changed) ShowControls();
}

void TQNProgrammer::EndProgress(int n, ResultState result) {
  ProgressTrack& track = progress_[n - 1];
  if (track.running) {
    track.last = ProgressOf(n);
    // Nothing is left to wait for.
    track.last.timeLeft.reset();
    track.running = false;
  }
  ResultPanel(n).Show(result);
  if (Controls.ChkBoxSound.Checked && (result == ResultState::Pass || result == ResultState::Fail))
    view_.Signal(result == ResultState::Pass);
}

}  // namespace velkor
