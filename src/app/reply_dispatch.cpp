// What the programmers' replies mean for the operation under way on their
// channel: the next block of a transfer, read data into the image, the
// automatic erase → program → verify chain, the result messages, and the
// time-outs of silent operations.
#include <cstdio>

#include "app/qn_programmer.hpp"
#include "data/text_format.hpp"
#include "link/operation_codes.hpp"
#include "link/frame.hpp"
#include "link/identification.hpp"
#include "link/reply_check.hpp"
#include "platform/text_encoding.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {


constexpr uint8_t kStatusOk = 0x00;
constexpr uint8_t kStatusOkToo = 0x06;
constexpr int32_t kDownloadTicks = 300;
constexpr int32_t kProgramBlockTicks = 1000;

struct ResultMessage {
  uint8_t code;
  const char* text;
};
constexpr ResultMessage kResultMessages[] = {
    {0x20, TextKey("数据包错误！")},       {0x23, TextKey("数据包校验错误！")},     {0x25, TextKey("不认识的命令！")},
    {0x2C, TextKey("Flash Memory错误！")}, {0x2D, TextKey("写Flash Memory错误！")}, {0x31, TextKey("数据校验错误！")},
    {0x34, TextKey("芯片校验和不正确！")}, {0x36, TextKey("芯片类型不正确！")},     {0x38, TextKey("芯片厂家型号不正确！")},
    {0x40, TextKey("命令执行超时!")},      {0x45, TextKey("命令执行错误")},         {0x60, TextKey("接口错误或芯片未连接！")},
};

bool Succeeded(uint8_t result) { return result == kStatusOk || result == kStatusOkToo; }

}  // namespace

// ---------------------------------------------------------------- senders

void TQNProgrammer::DownloadStep(int n) {
  LinkChannel& ch = Channels.Channel(n);
  ch.TimeoutTicks = kDownloadTicks;
  std::size_t length;
  if (ch.DownloadPhase == 0) {
    const StartTexts texts{Utf8ToGbk(Controls.MCUNameEdit.Text), Utf8ToGbk(Controls.ProductEditX.Text)};
    length = BuildStartDownload(ch.PacketBuffer, n, Chip, Job, Checksums(), DevicesFound, texts, random_);
  } else {
    length = BuildDownloadBlock(ch.PacketBuffer, ch.BlockPos, Chip, ImageBytes());
  }
  SendPacket(ch, length);
}

bool TQNProgrammer::SendChipCommand(int n, uint8_t code, uint32_t parameter) {
  LinkChannel& ch = Channels.Channel(n);
  return SendPacket(ch, BuildChipCommand(ch.PacketBuffer, code, parameter, Chip, Job, Checksums()));
}

bool TQNProgrammer::SendProgramBlock(int n) {
  LinkChannel& ch = Channels.Channel(n);
  return SendPacket(ch, BuildProgramBlock(ch.PacketBuffer, ch.BlockPos, Chip, Job, Checksums(), ImageBytes()));
}

bool TQNProgrammer::SendFinish(int n, uint8_t code) {
  LinkChannel& ch = Channels.Channel(n);
  return SendPacket(ch, BuildFinish(ch.PacketBuffer, code));
}

// ---------------------------------------------------------------- dispatch

bool TQNProgrammer::DispatchReply(LinkChannel& channel, uint16_t& frameLength) {
  const int n = channel.Number;
  const DecodeResult decoded = DecodeFrame(channel.FrameBuffer, frameLength, channel.PacketBuffer);
  if (decoded.code != kResultOk) return false;
  if (channel.PacketBuffer[0] == kProgressReportCode) {
    ShowProgressReport(n);
    return true;
  }
  const uint8_t result = CheckReply(channel, decoded.packetLength);
  if (!Succeeded(result)) {
    if (channel.Operation == kOpBlankCheck) {
      BlankCheckReply(n, result);
    } else if (channel.Operation == kOpReadBack) {
      ReadBackFailed(n, result);
    } else if (channel.Operation == kOpVerify && result == kStatusCompareFailed &&
               StartReadBack(n, Explaining(kOpVerify, channel.AutoRun, false, {result, false, ResultText(result)}))) {
      // The end comes when the chip has been read back.
    } else if (channel.Operation != kOpIdle) {
      EndOperation(n, true, {result, false, ResultText(result)});
      ShowResult(n, result);
    }
    // A frame whose check value is wrong may have been cut out of the
    // stream in the wrong place: let its closing delimiter open the next.
    return result != kResultCheckMismatch;
  }
  const bool channel1 = n == 1;
  switch (channel.Operation) {
    case kOpDownload: DownloadReply(n); break;
    case kOpErase: EraseReply(n); break;
    case kOpProgram: ProgramReply(n); break;
    case kOpVerify: VerifyReply(n); break;
    case kOpBlankCheck: BlankCheckReply(n, result); break;
    case kOpReadBlocks:
      if (channel1) ReadBlockReply(n, decoded.packetLength);
      break;
    case kOpReadStream:
      if (channel1) StreamedReadReply(n, decoded.packetLength);
      break;
    case kOpReadId:
      if (channel1) ReadIdReply(n, decoded.packetLength);
      break;
    case kOpReadBack: ReadBackReply(n, decoded.packetLength); break;
    case kOpCheckId: CheckIdReply(n, decoded.packetLength); break;
    case kOpFirmware: FirmwareReply(n); break;
    default:
      break;
  }
  ShowControls();
  return true;
}

void TQNProgrammer::DownloadReply(int n) {
  LinkChannel& ch = Channels.Channel(n);
  if (ch.DownloadPhase == 0) {
    if (EndIfStopped(n)) return;
    ch.BlockPos = 0;
    ch.DownloadPhase = 1;
    DownloadStep(n);
    Gauge(n).SetProgress(1);
    return;
  }
  ch.BlockPos += kBlockKB;
  Gauge(n).SetProgress(static_cast<int>(ch.BlockPos + 1));
  if (ch.BlockPos < ch.BlockEnd) {
    if (!EndIfStopped(n)) DownloadStep(n);
  } else {
    EndOperation(n, false);
    SendFinish(n, kCmdFinishDownload);
  }
}

void TQNProgrammer::EraseReply(int n) {
  LinkChannel& ch = Channels.Channel(n);
  Gauge(n).SetProgress(Gauge(n).MaxValue);
  if (ch.AutoRun) {
    if (EndIfStopped(n)) return;
    ch.Operation = kOpProgram;
    ChannelLog(n, Tx("Chip has been Erased, Do Programming......"));
    BeginOperation(n, Chip.SizeKB);
    SendProgramBlock(n);
  } else {
    EndOperation(n, false);
  }
}

void TQNProgrammer::ProgramReply(int n) {
  LinkChannel& ch = Channels.Channel(n);
  ch.BlockPos += kBlockKB;
  Gauge(n).SetProgress(static_cast<int>(n == 1 ? ch.BlockPos + 1 : ch.BlockPos));
  // Each acknowledged block re-arms the time-out for the next one. (Set to
  // 0 here, as it once was, the count wrapped round to 65,535 ticks: a
  // reply lost after the first block left the programmer busy for eleven
  // minutes.)
  ch.TimeoutTicks = kProgramBlockTicks;
  if ((ch.BlockPos < ch.BlockEnd || ch.AutoRun) && EndIfStopped(n)) return;
  if (ch.BlockPos < ch.BlockEnd) {
    SendProgramBlock(n);
  } else if (ch.AutoRun) {
    ch.Operation = kOpVerify;
    ChannelLog(n, Tx("Programming Success, do verification......"));
    BeginOperation(n, (n == 1 ? Chip.SizeKB / 4 : Chip.SizeKB / 2) + 500);
    SendChipCommand(n, kCmdChipOperation, kSubOpVerify);
  } else {
    EndOperation(n, false);
  }
}

void TQNProgrammer::VerifyReply(int n) {
  Gauge(n).SetProgress(Gauge(n).MaxValue);
  if (Controls.ChkBoxPCSN.Checked) StepSerialNumber();
  if (Channels.Channel(n).AutoRun) {
    CountBurn(n, true);
    SendFinish(n, kCmdFinishAutoRun);
  }
  EndOperation(n, false);
}

void TQNProgrammer::BlankCheckReply(int n, uint8_t result) {
  if (Succeeded(result)) {
    ChannelLog(n, Tx("Chip is Blank!"));
    EndOperation(n, false);
  } else if (result == kStatusNotBlank) {
    ChannelLog(n, Tx("Chip is Not Blank!"));
    const EndCause cause{result, false, Tx("Chip is Not Blank!")};
    if (!StartReadBack(n, Explaining(kOpBlankCheck, 0, true, cause))) EndOperation(n, true, cause);
  } else {
    EndOperation(n, true, {result, false, ResultText(result)});
    ShowResult(n, result);
  }
}

void TQNProgrammer::ReadBlockReply(int n, uint16_t packetLength) {
  LinkChannel& ch = Channels.Channel(n);
  const uint8_t* payload = ch.PacketBuffer.data() + kPacketHeaderLength;
  const uint64_t base = uint64_t{ch.BlockPos} * 1024;
  const std::size_t blockLength = Chip.Family == kFamilyDataFlash528 ? 8 * kDataFlashPageSize : kBlockBytes;
  if (packetLength < kPacketHeaderLength + blockLength + 2 || base + kBlockBytes > kImageCapacity) {
    ChannelLog(n, Tx(kNoWholeBlock));
    EndOperation(n, true, {0, false, Tx(kNoWholeBlock)});
    return;
  }
  ForEachReadPiece(Chip, ch.BlockPos, payload, [this](uint64_t address, const uint8_t* bytes, std::size_t length) {
    std::copy(bytes, bytes + length, Image.Data.get() + address);
  });
  ch.BlockPos += kBlockKB;
  Gauge(n).SetProgress(static_cast<int>(ch.BlockPos + 2));
  if (ch.BlockPos < ch.BlockEnd) {
    if (EndIfStopped(n)) return;
    SendChipCommand(n, kCmdReadBlock, ch.BlockPos);
    return;
  }
  FinishRead(n);
  if (Chip.Family == kFamilySensor) {
    std::string line = Tx("Chip Protection Statu is : ");
    for (int at : {512, 514, 516, 518}) line += FormatText("0x%02X ", payload[at]);
    ChannelLog(n, line);
  }
}

void TQNProgrammer::StreamedReadReply(int n, uint16_t packetLength) {
  LinkChannel& ch = Channels.Channel(n);
  const uint64_t base = uint64_t{ch.BlockPos} * 1024;
  if (packetLength < kPacketHeaderLength + kBlockBytes + 2 || base + kBlockBytes > kImageCapacity) {
    ChannelLog(n, Tx(kNoWholeBlock));
    EndOperation(n, true, {0, false, Tx(kNoWholeBlock)});
    return;
  }
  const uint8_t* payload = ch.PacketBuffer.data() + kPacketHeaderLength;
  std::copy(payload, payload + kBlockBytes, Image.Data.get() + base);
  ch.BlockPos += kBlockKB;
  Gauge(n).SetProgress(static_cast<int>(ch.BlockPos));
  if (ch.BlockPos >= ch.BlockEnd) FinishRead(n);
}

void TQNProgrammer::FinishRead(int n) {
  FileLoaded = true;
  ChannelLog(n, Tx("Chip Data has been read out."));
  EndOperation(n, false);
  KeepChipRead();
  RecomputeImage();
  ShowDigest(TextKey("Read %s: %s."));
}

void TQNProgrammer::ReadIdReply(int n, uint16_t packetLength) {
  const uint8_t* payload = Channels.Channel(n).PacketBuffer.data() + kPacketHeaderLength;
  const std::size_t payloadLength = packetLength >= kPacketHeaderLength + 2 ? packetLength - kPacketHeaderLength - 2 : 0;
  const std::size_t index = static_cast<std::size_t>(n - 1);
  if (Chip.Family == kFamilySpiEeprom) {
    if (payloadLength < 130) {
      ChannelLog(n, Tx(kTooFewIdBytes));
      EndOperation(n, true, {0, false, Tx(kTooFewIdBytes)});
      return;
    }
    chipStatus_[index] = {payload[0]};
    ChannelLog(n, FormatText(Tx("Read Chip Statu data is : 0x%02X."), payload[0]));
    ChannelLog(n, Tx("Read Chip DID data are : "));
    for (int line = 0; line < 8; ++line) {
      std::string text;
      for (int i = 0; i < 16; ++i) text += FormatText("%02X ", payload[2 + line * 16 + i]);
      ChannelLog(n, text);
    }
  } else {
    if (payloadLength < 6) {
      ChannelLog(n, Tx(kTooFewIdBytes));
      EndOperation(n, true, {0, false, Tx(kTooFewIdBytes)});
      return;
    }
    chipId_[index] = std::array<uint8_t, 2>{payload[0], payload[1]};
    chipStatus_[index] = {payload[4], payload[5]};
    ChannelLog(n, Tx("Read Chip Information success: ID=") +
                      FormatText(Tx("0x%02X,0x%02X, Statu Reg=0x%02X,"), payload[1], payload[0], payload[4]) +
                      FormatText("0x%02X", payload[5]));
  }
  EndOperation(n, false);
}

std::string TQNProgrammer::ResultText(uint8_t status) {
  for (const ResultMessage& m : kResultMessages)
    if (m.code == status) return Tx(m.text);
  return FormatText(Tx("操作失败！错误代码: 0%d"), status);
}

void TQNProgrammer::ShowResult(int n, uint8_t code) { ShowResultText(n, ResultText(code)); }

void TQNProgrammer::ShowResultText(int n, const std::string& text, const std::string& detail) {
  // After the receive event has returned, so that the box never re-enters
  // the reassembly of the channel whose reply is being handled.
  loop_.post([this, n, text, detail] {
    view_.ShowMessage(MessageKind::Error, detail.empty() ? text : text + "\n" + detail);
    ChannelLog(n, text);
    ShowControls();
  });
}

void TQNProgrammer::Timer1Timer() {
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
    LinkChannel& ch = Channels.Channel(n);
    if (!ch.Busy) continue;
    if (ch.GaugeCreep) Gauge(n).SetProgress(Gauge(n).Progress + 1);
    // A count that was never armed (0 or below) expires at once rather
    // than running on for ever.
    if (--ch.TimeoutTicks <= 0) {
      // What the silent programmer sent of an unfinished frame would run
      // into its next reply and spoil it: the next operation starts clean.
      ch.RxCount = 0;
      const std::string line = FormatText(ch.Operation == kOpDownload ? Tx("编程器%d ：操作超时！") : Tx("芯片%d ：操作超时！"), n);
      AppendPlain(line);
      EndOperation(n, true, {0, true, line});
    }
  }
}

void TQNProgrammer::StepSerialNumber() {
  // A number source hands out every chip's number itself.
  if (!Controls.CheckBoxSN.Checked || NumberSource) return;
  Job.SnValue += Job.SnStep;
  Controls.SNEdit.Text = FormatText("0x%08X", Job.SnValue);
}

}  // namespace velkor
