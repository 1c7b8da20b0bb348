// Reading a chip back to compare it on the host: after a verify that failed
// or a blank check that found data, to name where the chip differs; and as a
// verify of its own, for a programmer whose verify is not wanted. The read
// goes to the channel whose chip is in question (not only programmer 1),
// and its blocks are compared as they arrive: the image stays as it is.
#include <algorithm>

#include "app/qn_programmer.hpp"
#include "data/text_format.hpp"
#include "link/frame.hpp"
#include "link/operation_codes.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr const char* kLocatingLine = TextKey("Reading the chip back to find where it differs (0x%08X-0x%08X)......");
constexpr const char* kReadbackVerifyLine = "芯片%d ：verifying by reading the chip back (0x%08X-0x%08X)......";
constexpr const char* kTooLargeToLocate = TextKey(
    "The chip is not read back to find where it differs: 0x%llX bytes are more than 16 MiB. "
    "velkor-cli verify --readback reads it whole.");
constexpr const char* kReadBackResult = TextKey("Read back 0x%08X-0x%08X: %s.");
constexpr const char* kMoreDifferences = TextKey("  ... and %llu more.");
constexpr const char* kNotFoundAgain = TextKey(
    "The chip read back as it should be: the difference was not found again (a weak cell, or a chip that moved in "
    "its socket).");
constexpr const char* kReadBackStopped = TextKey("The read-back to find where the chip differs stopped: %s");
constexpr const char* kMatchesImage = TextKey("Verified by read-back: the chip holds the image.");
constexpr const char* kNotReadBackAfterStop =
    TextKey("The chip is not read back to find where it differs: a stop was asked.");

uint32_t LastAddress(uint64_t rangeEnd) { return static_cast<uint32_t>(rangeEnd - 1); }

}  // namespace

TQNProgrammer::ReadBack TQNProgrammer::Explaining(uint8_t operation, uint8_t autoRun, bool againstErased,
                                                  EndCause cause) {
  ReadBack r;
  r.operation = operation;
  r.autoRun = autoRun;
  r.againstErased = againstErased;
  r.cause = std::move(cause);
  return r;
}

TQNProgrammer::ReadBack TQNProgrammer::VerifyingByReadBack() {
  ReadBack r;
  r.operation = kOpVerify;
  r.carriesResult = true;
  return r;
}

bool TQNProgrammer::StartReadBack(int n, ReadBack readBack) {
  if (!readBack.carriesResult && !Controls.ChkBoxLocate.Checked) return false;
  if (!readBack.carriesResult && StopAsked(n)) {
    ChannelLog(n, Tx(kNotReadBackAfterStop));
    return false;
  }
  readBack.chip = Chip;
  if (readBack.againstErased) {
    // A blank check covers the whole chip, whatever the file's range.
    readBack.rangeEnd = Chip.Size;
    readBack.chip.SizeKB = Chip.Size >= 1024 ? Chip.Size / 1024 : 0;
  } else {
    readBack.rangeEnd = Chip.SizeKB != 0 ? uint64_t{Chip.SizeKB} * 1024 : Chip.Size;
  }
  if (readBack.rangeEnd == 0) return false;
  if (!readBack.carriesResult && readBack.rangeEnd > kLocateLimitBytes) {
    ChannelLog(n, FormatText(Tx(kTooLargeToLocate), static_cast<unsigned long long>(readBack.rangeEnd)));
    return false;
  }
  const int index = n - 1;
  readBack.streamed = Chip.Family < kFirstEepromFamily && Chip.Family != kFamilyDataFlash528 &&
                      Reported[index].capability > kStreamedReadCapability;
  const uint64_t blocks = std::max<uint64_t>(1, (readBack.rangeEnd + kBlockBytes - 1) / kBlockBytes);
  uint32_t blocksKB = static_cast<uint32_t>(blocks * kBlockKB);
  if (Chip.Family == kFamilyDataFlash528) blocksKB = std::min(blocksKB, kDataFlashSpareBase / 1024);

  LinkChannel& ch = Channels.Channel(n);
  ch.Operation = kOpReadBack;
  ch.GaugeCreep = 0;
  if (readBack.carriesResult)
    AppendInfo(FormatText(kReadbackVerifyLine, n, 0u, LastAddress(readBack.rangeEnd)));
  else
    ChannelLog(n, FormatText(Tx(kLocatingLine), 0u, LastAddress(readBack.rangeEnd)));
  const bool streamed = readBack.streamed;
  readBack_[index] = std::move(readBack);
  BeginOperation(n, blocksKB);
  ch.BlockEnd = blocksKB;
  if (streamed) {
    const ReadBack& r = *readBack_[index];
    SendPacket(ch, BuildChipCommand(ch.PacketBuffer, kCmdReadStream, 0, r.chip, Job, Checksums()));
  } else {
    SendReadBackBlock(n);
  }
  return true;
}

void TQNProgrammer::SendReadBackBlock(int n) {
  LinkChannel& ch = Channels.Channel(n);
  const ReadBack& r = *readBack_[n - 1];
  SendPacket(ch, BuildChipCommand(ch.PacketBuffer, kCmdReadBlock, ch.BlockPos, r.chip, Job, Checksums()));
}

void TQNProgrammer::ReadBackReply(int n, uint16_t packetLength) {
  LinkChannel& ch = Channels.Channel(n);
  ReadBack& r = *readBack_[n - 1];
  const std::size_t blockLength = r.chip.Family == kFamilyDataFlash528 ? 8 * kDataFlashPageSize : kBlockBytes;
  if (packetLength < kPacketHeaderLength + blockLength + 2) {
    ChannelLog(n, Tx(kNoWholeBlock));
    EndOperation(n, true, {0, false, Tx(kNoWholeBlock)});
    return;
  }
  const uint8_t* payload = ch.PacketBuffer.data() + kPacketHeaderLength;
  ForEachReadPiece(r.chip, ch.BlockPos, payload, [this, &r](uint64_t address, const uint8_t* bytes, std::size_t length) {
    const uint64_t end = std::min<uint64_t>(r.rangeEnd, kImageCapacity);
    if (address >= end) return;
    const std::span<const uint8_t> found(bytes, static_cast<std::size_t>(std::min<uint64_t>(length, end - address)));
    const uint32_t at = static_cast<uint32_t>(address);
    if (r.againstErased)
      CompareWithErased(r.report, at, found);
    else
      CompareBytes(r.report, at, {Image.Data.get() + address, found.size()}, found);
  });
  ch.BlockPos += kBlockKB;
  Gauge(n).SetProgress(static_cast<int>(ch.BlockPos));
  if (ch.BlockPos < ch.BlockEnd) {
    if (!r.streamed && !EndIfStopped(n)) SendReadBackBlock(n);
    return;
  }
  FinishReadBack(n);
}

void TQNProgrammer::FinishReadBack(int n) {
  LinkChannel& ch = Channels.Channel(n);
  ReadBack r = std::move(*readBack_[n - 1]);
  readBack_[n - 1].reset();
  ch.Operation = r.operation;
  ch.AutoRun = r.autoRun;

  const DifferenceReport& report = r.report;
  ChannelLog(n, FormatText(Tx(kReadBackResult), 0u, LastAddress(r.rangeEnd), DifferenceSummary(report).c_str()));
  for (const ByteDifference& d : report.listed) ChannelLog(n, "  " + DifferenceLine(d));
  if (report.count > report.listed.size())
    ChannelLog(n,
               FormatText(Tx(kMoreDifferences), static_cast<unsigned long long>(report.count - report.listed.size())));
  if (report.count > 0) LastDifference = report.FirstAddress();

  std::string detail;
  if (report.count > 0) {
    const ByteDifference& first = report.listed.front();
    detail = FormatText(Tx("First difference at 0x%08X: expected 0x%02X, found 0x%02X; %s."), first.address,
                        unsigned{first.expected}, unsigned{first.found}, DifferenceSummary(report).c_str());
  }

  if (r.carriesResult) {
    if (report.count == 0) {
      ChannelLog(n, Tx(kMatchesImage));
      EndOperation(n, false, {0, false, "", report});
      return;
    }
    const std::string text = ResultText(kStatusCompareFailed);
    EndOperation(n, true, {0, false, text, report});
    ShowResultText(n, text, detail);
    return;
  }
  if (report.count == 0) ChannelLog(n, Tx(kNotFoundAgain));
  EndCause cause = r.cause;
  cause.differences = report;
  EndOperation(n, true, cause);
  // A blank check that found data says so in the log only, as it always did.
  if (r.operation == kOpVerify) ShowResultText(n, r.cause.text, report.count > 0 ? detail : Tx(kNotFoundAgain));
}

void TQNProgrammer::ReadBackFailed(int n, uint8_t result) {
  const bool carriesResult = readBack_[n - 1]->carriesResult;
  const std::string readFailure = ResultText(result);
  EndOperation(n, true, {result, false, readFailure});
  if (carriesResult) ShowResult(n, result);
}

void TQNProgrammer::SettleReadBack(int n, bool& failed, EndCause& cause) {
  std::optional<ReadBack>& pending = readBack_[n - 1];
  if (!pending) return;
  ReadBack r = std::move(*pending);
  pending.reset();
  LinkChannel& ch = Channels.Channel(n);
  ch.Operation = r.operation;
  ch.AutoRun = r.autoRun;
  // A verify by read-back that stops has failed for the reason it stopped.
  if (r.carriesResult) return;
  // Otherwise the operation had failed before the read, and that stays its
  // result: the read only explains it.
  const std::string why = cause.text.empty() ? std::string(Tx("it ended early")) : cause.text;
  ChannelLog(n, FormatText(Tx(kReadBackStopped), why.c_str()));
  failed = true;
  cause = r.cause;
  if (r.operation == kOpVerify) ShowResultText(n, r.cause.text, FormatText(Tx(kReadBackStopped), why.c_str()));
}

void TQNProgrammer::GoToDifferenceClick() {
  if (!LastDifference) {
    view_.ShowMessage(MessageKind::Information, Tx("No chip read back has differed from the image yet."));
    return;
  }
  Controls.TabSheetFlash.Visible = true;
  view_.ShowImageAddress(*LastDifference);
}

}  // namespace velkor
