// Stopping what the host drives. A block transfer goes one block per reply,
// so it can end cleanly between two blocks: once the block in flight has
// been answered, nothing more is sent and the operation ends as stopped
// (neither good nor failed). The programmer then waits for its next command
// as after any reply: no finishing packet is owed, and none is sent, since
// finish download would make a half-sent job the programmer's job and finish
// automatic run would count an unfinished chip as burnt. What a programmer
// runs by itself after one command (erase, blank check, its verify, the
// streamed read, stand-alone cycles) answers only when it is done, and a
// half-written firmware would leave the programmer unable to start: those
// run to their end.
#include "app/qn_programmer.hpp"
#include "data/text_format.hpp"
#include "link/operation_codes.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr const char* kStopsAfterBlock =
    TextKey("Stop: block %u of %u is in flight; the %s stops once it is answered.");
constexpr const char* kStopsAfterStartPacket = TextKey("Stop: the download stops once its start packet is answered.");
constexpr const char* kStopsAfterErase = TextKey(
    "Stop: the programmer erases the chip by itself and cannot be stopped from here; programming does not start "
    "after the erase.");
constexpr const char* kStopsAfterIdCheck = TextKey("Stop: programming does not start after the chip's ID check.");
constexpr const char* kRunsByItself =
    TextKey("Stop: the %s runs on the programmer itself and cannot be stopped from here; it ends on its own.");
constexpr const char* kUpgradeRunsOn = TextKey(
    "Stop: the firmware upgrade is not stopped, since a programmer left with part of its firmware would not start "
    "again; it ends on its own.");
constexpr const char* kNumberedRunEnds =
    TextKey("Host-side serial numbers: programmer %d does not follow, the run was stopped.");

constexpr const char* kStoppedAfterBlock = TextKey("Stopped after block %u of %u: 0x%08X-0x%08X %s.");
constexpr const char* kStoppedBeforeVerify =
    TextKey("Stopped after block %u of %u: 0x%08X-0x%08X programmed, not verified.");
constexpr const char* kStoppedAfterStartPacket = TextKey("Stopped after the start packet: no block was downloaded.");
constexpr const char* kStoppedAfterErase =
    TextKey("Stopped after the erase: the chip is erased and was not programmed.");
constexpr const char* kStoppedAfterIdCheck =
    TextKey("Stopped after the chip's ID check: nothing was written to the chip.");
constexpr const char* kStoppedUnanswered = TextKey("Stopped: block %u of %u, the one in flight, was not answered.");
constexpr const char* kNoCompleteJob =
    TextKey("The programmer holds no complete job now: download again before it programs chips by itself.");
constexpr const char* kPartialRead = TextKey(
    "The image holds the first %u KB read from the chip and is no file's now: read the chip again or load a file "
    "before programming.");

// The operations that run on the programmer after their one command, as the
// stop names them.
struct OwnRun {
  uint8_t operation;
  const char* name;
};
constexpr OwnRun kOwnRuns[] = {
    {kOpErase, TextKey("erase")},
    {kOpBlankCheck, TextKey("blank check")},
    {kOpVerify, TextKey("verify")},
    {kOpReadStream, TextKey("streamed chip read")},
    {kOpReadBack, TextKey("streamed read-back")},
    {kOpReadId, TextKey("read of the chip's ID and status")},
};

const char* OwnRunName(uint8_t operation) {
  for (const OwnRun& run : kOwnRuns)
    if (run.operation == operation) return run.name;
  return TextKey("operation");
}

// A block transfer as the stop names it, and what it did with its blocks.
struct Transfer {
  uint8_t operation;
  const char* name;
  const char* blocksDone;
};
constexpr Transfer kTransfers[] = {
    {kOpDownload, TextKey("download"), TextKey("downloaded")},
    {kOpProgram, TextKey("programming"), TextKey("programmed")},
    {kOpReadBlocks, TextKey("chip read"), TextKey("read")},
    {kOpReadBack, TextKey("read-back"), TextKey("read back")},
};

const Transfer& TransferOf(uint8_t operation) {
  for (const Transfer& t : kTransfers)
    if (t.operation == operation) return t;
  return kTransfers[0];
}

uint32_t BlockCount(uint32_t kilobytes) { return (kilobytes + kBlockKB - 1) / kBlockKB; }

}  // namespace

TQNProgrammer::StopPoint TQNProgrammer::StopPointOf(int n) const {
  const LinkChannel& ch = Channels.Channel(n);
  switch (ch.Operation) {
    case kOpDownload:
    case kOpProgram:
    case kOpReadBlocks:
      return StopPoint::AfterBlock;
    case kOpReadBack:
      return readBack_[n - 1] && readBack_[n - 1]->streamed ? StopPoint::NotFromHost : StopPoint::AfterBlock;
    case kOpCheckId:
      return StopPoint::AfterStep;
    case kOpErase:
      return ch.AutoRun ? StopPoint::AfterStep : StopPoint::NotFromHost;
    default:
      return StopPoint::NotFromHost;
  }
}

void TQNProgrammer::SpdBtnStopClick() {
  // A numbered run's next chip would take the next number: none starts.
  for (const int next : numberedQueue_) AppendInfo(FormatText(Tx(kNumberedRunEnds), next));
  numberedQueue_.clear();
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
    const LinkChannel& ch = Channels.Channel(n);
    if (!ch.Busy) {
      if (cycleUnderWay_[n - 1]) ChannelLog(n, FormatText(Tx(kRunsByItself), Tx("stand-alone cycle")));
      continue;
    }
    // Asked of every busy operation: whatever the host would start after
    // it (the next step, a read-back to find where a chip differs) does
    // not start either.
    stopAsked_[n - 1] = true;
    switch (StopPointOf(n)) {
      case StopPoint::AfterBlock:
        if (ch.Operation == kOpDownload && ch.DownloadPhase == 0)
          ChannelLog(n, Tx(kStopsAfterStartPacket));
        else
          ChannelLog(n, FormatText(Tx(kStopsAfterBlock), ch.BlockPos / kBlockKB + 1, BlockCount(ch.BlockEnd),
                                   Tx(TransferOf(ch.Operation).name)));
        break;
      case StopPoint::AfterStep:
        ChannelLog(n, ch.Operation == kOpErase ? Tx(kStopsAfterErase) : Tx(kStopsAfterIdCheck));
        break;
      case StopPoint::NotFromHost:
        ChannelLog(n, ch.Operation == kOpFirmware ? std::string(Tx(kUpgradeRunsOn))
                                                  : FormatText(Tx(kRunsByItself), Tx(OwnRunName(ch.Operation))));
        break;
    }
  }
  ShowControls();
}

bool TQNProgrammer::EndIfStopped(int n) {
  if (!stopAsked_[n - 1]) return false;
  const LinkChannel& ch = Channels.Channel(n);
  const uint8_t operation = ch.Operation;
  // The blocks answered so far, from the start of the range.
  const uint32_t done = ch.BlockPos / kBlockKB;
  const uint32_t total = BlockCount(ch.BlockEnd);
  const auto blocks = [&](const char* format, auto... more) {
    return FormatText(format, done, total, 0u, ch.BlockPos * 1024 - 1, more...);
  };
  std::string text;
  if (operation == kOpErase)
    text = Tx(kStoppedAfterErase);
  else if (operation == kOpCheckId)
    text = Tx(kStoppedAfterIdCheck);
  else if (operation == kOpDownload && ch.DownloadPhase == 0)
    text = Tx(kStoppedAfterStartPacket);
  else if (operation == kOpProgram && ch.BlockPos >= ch.BlockEnd)
    text = blocks(Tx(kStoppedBeforeVerify));
  else
    text = blocks(Tx(kStoppedAfterBlock), Tx(TransferOf(operation).blocksDone));
  EndOperation(n, true, EndCause::Stopped(text));
  if (operation == kOpDownload) ChannelLog(n, Tx(kNoCompleteJob));
  if (operation == kOpReadBlocks) {
    // The blocks read went into the image over what was there.
    FileLoaded = false;
    RecomputeImage();
    ChannelLog(n, FormatText(Tx(kPartialRead), done * kBlockKB));
  }
  return true;
}

void TQNProgrammer::SettleStop(int n, bool& failed, EndCause& cause) {
  bool& asked = stopAsked_[n - 1];
  if (!asked) return;
  asked = false;
  if (!cause.timedOut || StopPointOf(n) != StopPoint::AfterBlock) return;
  const LinkChannel& ch = Channels.Channel(n);
  cause = EndCause::Stopped(FormatText(Tx(kStoppedUnanswered), ch.BlockPos / kBlockKB + 1, BlockCount(ch.BlockEnd)));
  failed = true;
}

}  // namespace velkor
