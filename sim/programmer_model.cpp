#include "sim/programmer_model.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "link/checksum.hpp"
#include "link/frame.hpp"
#include "link/identification.hpp"
#include "sim/identification.hpp"

namespace velkor::sim {

namespace {

constexpr std::size_t kCheckValueLength = 2;
constexpr std::size_t kShortestPacket = kPacketHeaderLength + kCheckValueLength;
constexpr std::size_t kTracedBytes = 64;
constexpr std::size_t kFinishPayload = 2;
constexpr uint8_t kFirmwareChunkMarker = 0x0F;  // byte 5 of every firmware chunk
constexpr uint8_t kStartDownloadFlags = 0x20;

// The read of identification and status: two identification bytes, two
// zeros, two status bytes; for the SPI EEPROM family a status byte, a zero
// and the 128 bytes of the chip's identification page.
constexpr std::size_t kIdReplyPayload = 130;
constexpr std::size_t kIdPageOffset = 2;
constexpr std::size_t kIdPageBytes = 128;

struct CommandEntry {
  uint8_t code;
  bool answered;
  const char* name;
  std::size_t payload;
  std::size_t pageFlashPayload;  // when the header names family 0x40
};

constexpr CommandEntry kCommands[] = {
    {kCmdStartDownload, true, "start download", kStartDownloadPayload, kStartDownloadPayload},
    {kCmdDownloadBlock, true, "download block", kBlockBytes, kBlockBytes},
    {kCmdChipOperation, true, "chip operation", kParamHeaderLength, kParamHeaderLength},
    {kCmdProgramBlock, true, "program block", kParamHeaderLength + kBlockBytes,
     kParamHeaderLength + kPageFlashBlockBytes},
    {kCmdReadStream, true, "streamed read", kParamHeaderLength, kParamHeaderLength},
    {kCmdReadBlock, true, "read block", kParamHeaderLength, kParamHeaderLength},
    {kCmdFirmwareChunk, true, "firmware chunk", kFirmwareChunkPayload, kFirmwareChunkPayload},
    // The host has already ended its operation when it sends these, and it
    // routes replies by its own state: an answer could be taken as the reply
    // to its next command.
    {kCmdFinishDownload, false, "finish download", kFinishPayload, kFinishPayload},
    {kCmdFinishAutoRun, false, "finish automatic run", kFinishPayload, kFinishPayload},
};

const CommandEntry* FindCommand(uint8_t code) {
  const auto found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                  [code](const CommandEntry& c) { return c.code == code; });
  return found == std::end(kCommands) ? nullptr : found;
}

const char* SubOperationName(uint16_t subOperation) {
  switch (subOperation) {
    case kSubOpErase: return "erase";
    case kSubOpVerify: return "verify";
    case kSubOpBlankCheck: return "blank check";
    case kSubOpReadIdAndStatus: return "read ID and status";
    default: return nullptr;
  }
}

uint16_t ReadLittleEndian16(std::span<const uint8_t> bytes, std::size_t offset) {
  return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

// Block commands carry the position's bits above 16 in the flags byte.
uint32_t BlockPosition(std::span<const uint8_t> packet) {
  return ReadLittleEndian16(packet, 1) | static_cast<uint32_t>(packet[3]) << 16;
}

// The 0xFF trailer that follows every frame, seen as a frame of its own when
// the closing delimiter of a broken frame is taken as an opening one.
bool IsTrailerFill(std::span<const uint8_t> frame) {
  return std::all_of(frame.begin() + 1, frame.end() - 1, [](uint8_t b) { return b == kFrameTrailerByte; });
}

bool Contains(const std::vector<uint32_t>& numbers, uint32_t n) {
  return std::find(numbers.begin(), numbers.end(), n) != numbers.end();
}

constexpr uint32_t kLargestUsedKB = kLargestChipBytes / 1024;

}  // namespace

ProgrammerModel::ProgrammerModel(ProgrammerOptions options, LogSink log)
    : options_(std::move(options)), log_(std::move(log)), serialNumbers_(options_.serialNumbers) {
  chip_.SetStuckBytes(options_.stuckBytes);
  if (options_.expectedFirmware) {
    // The boot loader keeps the file; the options are copied for every
    // identification reply.
    bootLoader_.emplace(std::move(*options_.expectedFirmware));
    options_.expectedFirmware.reset();
    const FirmwareFile& firmware = bootLoader_->Expected();
    Log("boot loader expects firmware %s: %u chunks, addresses 0x%04X to 0x%04X", firmware.version.c_str(),
        bootLoader_->ChunksExpected(), firmware.start, firmware.end);
  }
}

void ProgrammerModel::Receive(std::span<const uint8_t> bytes) {
  while (!bytes.empty() && !hungUp_) {
    if (rxCount_ == rx_.size()) {
      // A full buffer without a complete frame holds the start of a frame
      // longer than any packet; its end is skipped by the scanner.
      counters_.discardedBytes += static_cast<uint32_t>(rxCount_);
      Log("receive buffer full without a complete frame: %zu bytes discarded", rxCount_);
      rxCount_ = 0;
    }
    const std::size_t take = std::min(bytes.size(), rx_.size() - rxCount_);
    std::memcpy(rx_.data() + rxCount_, bytes.data(), take);
    rxCount_ += take;
    bytes = bytes.subspan(take);
    ExtractFrames();
  }
}

void ProgrammerModel::ExtractFrames() {
  const std::span<const uint8_t> held(rx_.data(), rxCount_);
  std::size_t scan = 0;
  std::size_t restart = 0;
  for (;;) {
    restart = scan;
    if (hungUp_) {
      rxCount_ = 0;
      return;
    }
    std::size_t frameLength = 0;
    const ScanResult found = ExtractFrame(held, scan, frame_, frameLength, DelimiterRun::LastOpens);
    if (found == ScanResult::NotFound) break;
    if (found == ScanResult::Overlong) {
      ++counters_.framesReceived;
      ++counters_.undecodableFrames;
      Log("frame dropped: longer than %zu bytes", frame_.size());
      continue;
    }
    // A found frame holds at least one byte between its delimiters, so
    // stepping back onto the closing delimiter still moves forward.
    if (!HandleFrame(frameLength)) --scan;
  }
  KeepUnconsumed(restart);
}

void ProgrammerModel::KeepUnconsumed(std::size_t from) {
  // Bytes in front of the next delimiter can never become part of a frame.
  while (from < rxCount_ && rx_[from] != kFrameDelimiter) ++from;
  const std::size_t rest = rxCount_ - from;
  std::memmove(rx_.data(), rx_.data() + from, rest);
  rxCount_ = rest;
}

bool ProgrammerModel::HandleFrame(std::size_t frameLength) {
  const std::span<const uint8_t> frame(frame_.data(), frameLength);
  if (IsTrailerFill(frame)) return false;
  ++counters_.framesReceived;
  TraceBytes("received frame", frame);

  uint16_t undecoded = static_cast<uint16_t>(frameLength);
  const DecodeResult decoded = DecodeFrame(std::span<uint8_t>(frame_.data(), frameLength), undecoded, packet_);

  // The decoder reports the three-byte query as too short for a packet.
  if (IsIdentificationQuery(packet_.data(), decoded.packetLength)) {
    if (!BeginRequest()) return true;
    if (options_.faults.garbageIdentification) {
      SendGarbageIdentification();
      return true;
    }
    ProgrammerOptions shown = options_;
    shown.serialNumbers = serialNumbers_;
    const IdentificationReply reply = BuildIdentificationReply(shown);
    Log("identification query answered as \"%s\"", FullName(options_).c_str());
    SendPacket(reply, Outgoing::UncheckedReply);
    return true;
  }
  if (decoded.code == kResultOk && decoded.packetLength >= kShortestPacket) {
    if (BeginRequest()) HandlePacket(std::span<const uint8_t>(packet_.data(), decoded.packetLength));
    return true;
  }

  ++counters_.undecodableFrames;
  if (decoded.packetLength > 0)
    Log("frame dropped: %u decoded bytes are too few for a packet", decoded.packetLength);
  else
    Log("frame dropped: bad escape sequence, or longer than any packet");
  return false;
}

bool ProgrammerModel::BeginRequest() {
  const uint32_t number = ++counters_.requests;
  if (stream_) {
    ++counters_.streamsAbandoned;
    Log("streamed read abandoned at %u KB of %u KB: request %u arrived", stream_->nextKB, stream_->endKB, number);
    stream_.reset();
  }
  const auto& stall = options_.faults.stallAfterRequests;
  if (stall && number > *stall) {
    if (counters_.requestsIgnored++ == 0) Log("stalled: request %u and every one after it go unanswered", number);
    return false;
  }
  dropThisReply_ = Contains(options_.faults.dropReplyTo, number);
  swapThisReply_ = Contains(options_.faults.wrongReplyTo, number);
  hangUpAfterCut_ = options_.faults.hangUpInReplyTo == number;
  cutThisReply_ = hangUpAfterCut_ || Contains(options_.faults.cutReplyTo, number);
  return true;
}

uint8_t ProgrammerModel::Refuse(uint32_t& counter, uint8_t status, const char* format, ...) {
  ++counter;
  if (!log_) return status;
  std::array<char, 512> text;
  va_list args;
  va_start(args, format);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  if (answering_)
    Log("%s; answered 0x%02X", text.data(), status);
  else
    Log("%s", text.data());
  return status;
}

void ProgrammerModel::HandlePacket(std::span<const uint8_t> packet) {
  const uint8_t code = packet[0];
  const CommandEntry* command = FindCommand(code);
  const std::size_t payloadLength = packet.size() - kShortestPacket;
  const uint16_t expectedCheck = LinkCrc16(packet.data(), 0, static_cast<uint32_t>(packet.size() - 3));
  const uint16_t receivedCheck = ReadLittleEndian16(packet, packet.size() - kCheckValueLength);
  const uint16_t lengthField = ReadLittleEndian16(packet, 6);
  answering_ = command == nullptr || command->answered;

  std::optional<uint8_t> status;
  if (receivedCheck != expectedCheck) {
    status = Refuse(counters_.checkValueErrors, kStatusCheckMismatch,
                    "command 0x%02X: check value 0x%04X received, 0x%04X expected", code, receivedCheck,
                    expectedCheck);
  } else if (lengthField != payloadLength) {
    status = Refuse(counters_.lengthFieldErrors, kStatusBadPacket,
                    "command 0x%02X: length field says %u payload bytes, the packet carries %zu", code, lengthField,
                    payloadLength);
  } else if (command == nullptr) {
    status = Refuse(counters_.unknownCommands, kStatusUnknownCommand, "unknown command 0x%02X", code);
  } else if (const std::size_t expected =
                 packet[4] == kFamilyDataFlash528 ? command->pageFlashPayload : command->payload;
             payloadLength != expected) {
    status = Refuse(counters_.wrongPacketSizes, kStatusBadPacket, "%s (0x%02X): %zu payload bytes, not %zu",
                    command->name, code, payloadLength, expected);
  } else if (!command->answered) {
    Finish(packet);
  } else {
    switch (code) {
      case kCmdStartDownload: status = StartDownload(packet); break;
      case kCmdDownloadBlock: status = DownloadBlock(packet); break;
      case kCmdFirmwareChunk: status = FirmwareChunk(packet); break;
      default: status = ChipCommand(packet); break;
    }
  }

  if (command != nullptr && !command->answered) {
    Log("%s (0x%02X) received; it is not answered", command->name, code);
    return;
  }
  if (status) SendStatus(packet.first<kPacketHeaderLength>(), *status);
}

std::optional<uint8_t> ProgrammerModel::InjectedFailure(uint8_t code, std::optional<uint16_t> subOperation,
                                                        std::optional<uint32_t> position) {
  for (const FailureRule& rule : options_.faults.failures) {
    if (rule.code != code) continue;
    if (rule.subOperation && subOperation != rule.subOperation) continue;
    if (rule.position && position != rule.position) continue;
    ++counters_.failuresInjected;
    Log("command 0x%02X failed on purpose with status 0x%02X", code, rule.status);
    return rule.status;
  }
  return std::nullopt;
}

bool ProgrammerModel::TakeBlock() {
  const auto& limit = options_.faults.hangUpAfterBlocks;
  if (limit && counters_.blocksTransferred >= *limit) {
    hungUp_ = true;
    stream_.reset();
    Log("hanging up after %u blocks", counters_.blocksTransferred);
    return false;
  }
  ++counters_.blocksTransferred;
  return true;
}

std::optional<uint8_t> ProgrammerModel::ChipCommand(std::span<const uint8_t> packet) {
  const uint8_t code = packet[0];
  const char* name = FindCommand(code)->name;
  const bool carriesPosition = code == kCmdProgramBlock || code == kCmdReadBlock;
  if (!carriesPosition && packet[3] != 0)
    return Refuse(counters_.headerFieldErrors, kStatusBadPacket, "%s (0x%02X): flags byte 0x%02X, not 0x00", name,
                  code, packet[3]);
  if (code == kCmdReadStream && ReadLittleEndian16(packet, 1) != 0)
    return Refuse(counters_.headerFieldErrors, kStatusBadPacket, "%s (0x%02X): parameter 0x%04X, not 0", name, code,
                  ReadLittleEndian16(packet, 1));

  const ParameterBlockReading reading = ReadParameterBlock(packet.subspan<kPacketHeaderLength, kParamHeaderLength>());
  const ChipParams& chip = reading.block.chip;
  if (!reading.problem.empty())
    return Refuse(counters_.parameterBlockErrors, kStatusBadPacket, "%s (0x%02X): %s", name, code,
                  reading.problem.c_str());
  if (chip.Family != packet[4] || chip.SubType != packet[5])
    return Refuse(counters_.parameterBlockErrors, kStatusBadPacket,
                  "%s (0x%02X): family/subtype 0x%02X/0x%02X in the parameter block, 0x%02X/0x%02X in the header",
                  name, code, chip.Family, chip.SubType, packet[4], packet[5]);
  if (chip.Size > kLargestChipBytes)
    return Refuse(counters_.parameterBlockErrors, kStatusBadPacket,
                  "%s (0x%02X): a chip of %u bytes is larger than any the programmer takes", name, code, chip.Size);
  // The used range sizes the verify's buffer and the streamed read.
  if (chip.SizeKB > kLargestUsedKB)
    return Refuse(counters_.parameterBlockErrors, kStatusBadPacket,
                  "%s (0x%02X): a used range of %u KB is larger than any chip the programmer takes", name, code,
                  chip.SizeKB);
  const uint16_t subOperation = ReadLittleEndian16(packet, 1);
  if (code == kCmdChipOperation && SubOperationName(subOperation) == nullptr)
    return Refuse(counters_.unknownSubOperations, kStatusUnknownCommand, "chip operation: unknown sub-operation 0x%02X",
                  subOperation);

  PutFreshChip({chip.Family, chip.SubType, chip.Size}, false);

  if (code == kCmdChipOperation) return ChipOperation(packet, reading.block);

  if (code == kCmdReadStream) {
    if (const auto failed = InjectedFailure(code, std::nullopt, std::nullopt)) return failed;
    const uint32_t blocks = std::max<uint32_t>(1, (UsedBytes(chip) + kBlockBytes - 1) / kBlockBytes);
    stream_ = StreamedRead{{code, 0, 0, chip.Family, chip.SubType}, 0, blocks * kBlockKB};
    return std::nullopt;
  }

  const uint32_t position = BlockPosition(packet);
  if (!chip_.BlockInside(position))
    return Refuse(counters_.positionsOutOfRange, kStatusCommandFailed,
                  "%s (0x%02X): block at %u KB lies beyond the chip's end", name, code, position);
  if (!TakeBlock()) return std::nullopt;
  if (const auto failed = InjectedFailure(code, std::nullopt, position)) return failed;

  if (code == kCmdProgramBlock) {
    chip_.ProgramBlock(position, packet.subspan(kPacketHeaderLength + kParamHeaderLength, chip_.BlockBytes()));
    ++counters_.blocksProgrammed;
    return kStatusOk;
  }
  const std::size_t length = chip_.BlockBytes();
  chip_.ReadBlock(position, std::span<uint8_t>(reply_).subspan(kPacketHeaderLength, length));
  const ReplyHeader header{code, static_cast<uint16_t>(position), static_cast<uint8_t>(position >> 16), chip.Family,
                           chip.SubType};
  SendPacket(std::span<const uint8_t>(reply_.data(), SealDataReply(reply_, header, length)), Outgoing::Reply);
  ++counters_.blocksRead;
  return std::nullopt;
}

void ProgrammerModel::PutFreshChip(const ChipShape& shape, bool sameKindToo) {
  if (sameKindToo)
    chip_.Replace(shape);
  else if (!chip_.Insert(shape))
    return;
  for (const ChipContent& content : options_.chipContents) chip_.Preload(content.offset, content.bytes);
  Log("a new chip in the socket: family 0x%02X, subtype 0x%02X, %u bytes, %s", shape.family, shape.subtype, shape.size,
      options_.chipContents.empty() ? "erased" : "holding the given content");
}

std::optional<uint8_t> ProgrammerModel::ChipOperation(std::span<const uint8_t> packet, const ParameterBlock& block) {
  const uint16_t subOperation = ReadLittleEndian16(packet, 1);
  if (const auto failed = InjectedFailure(kCmdChipOperation, subOperation, std::nullopt)) return failed;
  const ChipParams& chip = block.chip;

  switch (subOperation) {
    case kSubOpErase: chip_.Erase(); return kStatusOk;
    case kSubOpBlankCheck: return chip_.IsBlank() ? kStatusOk : kStatusNotBlank;
    case kSubOpVerify: {
      const uint32_t length = UsedBytes(chip);
      const ImageChecksums own = chip_.Checksums(length);
      if (own.Crc16 == block.sums.Crc16 && own.AccSum16 == block.sums.AccSum16) return kStatusOk;
      Log("verify over %u bytes: the chip gives CRC 0x%04X and ACC 0x%04X, the host expects 0x%04X and 0x%04X",
          length, own.Crc16, own.AccSum16, block.sums.Crc16, block.sums.AccSum16);
      return kStatusCompareFailed;
    }
    default: break;
  }

  // Read ID and status.
  uint8_t* payload = reply_.data() + kPacketHeaderLength;
  std::fill(payload, payload + kIdReplyPayload, 0);
  if (chip.Family == kFamilySpiEeprom) {
    payload[0] = options_.chipStatus[0];
    for (std::size_t i = 0; i < kIdPageBytes; ++i) payload[kIdPageOffset + i] = static_cast<uint8_t>(i);
  } else {
    const std::array<uint8_t, 2> id = options_.chipId.value_or(std::array<uint8_t, 2>{chip.IdByte1, chip.IdByte2});
    payload[0] = id[0];
    payload[1] = id[1];
    payload[4] = options_.chipStatus[0];
    payload[5] = options_.chipStatus[1];
  }
  const ReplyHeader header{kCmdChipOperation, subOperation, 0, chip.Family, chip.SubType};
  SendPacket(std::span<const uint8_t>(reply_.data(), SealDataReply(reply_, header, kIdReplyPayload)), Outgoing::Reply);
  return std::nullopt;
}

std::optional<uint8_t> ProgrammerModel::StartDownload(std::span<const uint8_t> packet) {
  if (ReadLittleEndian16(packet, 1) != 0 || packet[3] != kStartDownloadFlags)
    return Refuse(counters_.headerFieldErrors, kStatusBadPacket,
                  "start download (0x53): parameter 0x%04X and flags 0x%02X, not 0 and 0x20",
                  ReadLittleEndian16(packet, 1), packet[3]);
  StartPacketReading reading = ReadStartPacket(packet.subspan<kPacketHeaderLength, kStartDownloadPayload>());
  switch (reading.fault) {
    case StartPacketFault::Signature:
      return Refuse(counters_.startSignatureErrors, kStatusBadPacket, "start download (0x53): %s",
                    reading.problem.c_str());
    case StartPacketFault::InnerCheck:
      return Refuse(counters_.startCheckErrors, kStatusCheckMismatch, "start download (0x53): %s",
                    reading.problem.c_str());
    case StartPacketFault::Fields:
      return Refuse(counters_.parameterBlockErrors, kStatusBadPacket, "start download (0x53): %s",
                    reading.problem.c_str());
    case StartPacketFault::None: break;
  }
  const ChipParams& chip = reading.job.parameters.chip;
  if (chip.Family != packet[4] || chip.SubType != packet[5])
    return Refuse(counters_.parameterBlockErrors, kStatusBadPacket,
                  "start download (0x53): family/subtype 0x%02X/0x%02X in the job, 0x%02X/0x%02X in the header",
                  chip.Family, chip.SubType, packet[4], packet[5]);
  if (chip.Size > kLargestChipBytes)
    return Refuse(counters_.parameterBlockErrors, kStatusBadPacket,
                  "start download (0x53): a chip of %u bytes is larger than any the programmer takes", chip.Size);
  if (chip.SizeKB > kLargestUsedKB)
    return Refuse(counters_.parameterBlockErrors, kStatusBadPacket,
                  "start download (0x53): a used range of %u KB is larger than any chip the programmer takes",
                  chip.SizeKB);
  if (const auto failed = InjectedFailure(kCmdStartDownload, std::nullopt, std::nullopt)) return failed;

  const JobSettings& job = reading.job.parameters.job;
  serialNumbers_.enabled = job.SnEnable != 0;
  serialNumbers_.increment = job.SnStep;
  serialNumbers_.startAddress = job.SnAddress;
  serialNumbers_.initial = job.SnValue;
  serialNumbers_.current = job.SnValue;
  Log("download started: chip \"%s\", file \"%s\", %u bytes", reading.job.chipName.c_str(),
      reading.job.fileName.c_str(), chip.Size);
  if (autoCyclesLeft_ > 0) Log("the %u stand-alone cycles left of the previous job are cancelled", autoCyclesLeft_);
  autoCyclesLeft_ = 0;
  job_.emplace(StoredJob{std::move(reading.job), ChipMemory(chip.Size), false, 0});
  return kStatusOk;
}

std::optional<uint8_t> ProgrammerModel::DownloadBlock(std::span<const uint8_t> packet) {
  const uint32_t position = BlockPosition(packet);
  if (!job_)
    return Refuse(counters_.blocksWithoutDownload, kStatusCommandFailed,
                  "download block (0x55) at %u KB without a start packet", position);
  const ChipParams& chip = job_->settings.parameters.chip;
  if (packet[4] != chip.Family || packet[5] != chip.SubType)
    return Refuse(counters_.headerFieldErrors, kStatusBadPacket,
                  "download block (0x55): family/subtype 0x%02X/0x%02X, the job's are 0x%02X/0x%02X", packet[4],
                  packet[5], chip.Family, chip.SubType);
  const uint64_t offset = uint64_t{position} * 1024;
  if (offset >= job_->image.Size())
    return Refuse(counters_.positionsOutOfRange, kStatusCommandFailed,
                  "download block (0x55): block at %u KB lies beyond the job's %u bytes", position, chip.Size);
  if (!TakeBlock()) return std::nullopt;
  if (const auto failed = InjectedFailure(kCmdDownloadBlock, std::nullopt, position)) return failed;
  job_->image.Write(offset, packet.subspan(kPacketHeaderLength, kBlockBytes), WriteMode::Overwrite);
  ++counters_.downloadBlocksStored;
  return kStatusOk;
}

std::optional<uint8_t> ProgrammerModel::FirmwareChunk(std::span<const uint8_t> packet) {
  const uint16_t address = ReadLittleEndian16(packet, 1);
  if (bootLoader_) {
    const ChunkVerdict verdict = bootLoader_->Check(packet);
    if (verdict.status != kStatusOk)
      return Refuse(counters_.firmwareChunksRefused, verdict.status, "firmware chunk (0xB7) at 0x%04X refused: %s",
                    address, verdict.problem.c_str());
  } else if (packet[5] != kFirmwareChunkMarker) {
    return Refuse(counters_.headerFieldErrors, kStatusBadPacket, "firmware chunk (0xB7): byte 5 is 0x%02X, not 0x%02X",
                  packet[5], kFirmwareChunkMarker);
  }
  if (const auto failed = InjectedFailure(kCmdFirmwareChunk, std::nullopt, std::nullopt)) return failed;
  ++counters_.firmwareChunks;
  if (bootLoader_) {
    bootLoader_->Take(packet);
    Log("firmware chunk (0xB7) at 0x%04X taken: %u of %u", address, bootLoader_->ChunksTaken(),
        bootLoader_->ChunksExpected());
  }
  return kStatusOk;
}

void ProgrammerModel::FinishUpgrade() {
  const unsigned taken = bootLoader_->ChunksTaken();
  const unsigned expected = bootLoader_->ChunksExpected();
  if (!bootLoader_->Finish()) {
    Log("finish download ends the firmware upgrade after %u of %u chunks: the firmware is not taken", taken, expected);
    return;
  }
  ++counters_.firmwareUpgrades;
  options_.name = kModelName;
  options_.version = bootLoader_->Expected().version;
  Log("firmware upgrade complete, %u chunks: the programmer now reports \"%s\"", expected,
      FullName(options_).c_str());
}

void ProgrammerModel::Finish(std::span<const uint8_t> packet) {
  const uint8_t code = packet[0];
  if (std::memcmp(packet.data() + 1, kFinishSignature, sizeof kFinishSignature) != 0 ||
      packet[kPacketHeaderLength] != 0 || packet[kPacketHeaderLength + 1] != 0) {
    ++counters_.headerFieldErrors;
    Log("%s (0x%02X): bytes 1-5 are not the finishing signature, or its payload is not 00 00",
        FindCommand(code)->name, code);
    return;
  }
  if (code == kCmdFinishDownload && bootLoader_ && bootLoader_->UnderWay()) {
    FinishUpgrade();
  } else if (code == kCmdFinishAutoRun) {
    ++counters_.successfulBurns;
    Log("successful burns: %u", counters_.successfulBurns);
  } else if (job_ && !job_->complete) {
    job_->complete = true;
    ++counters_.downloadsCompleted;
    Log("download complete: %u KB of job image held", static_cast<unsigned>(job_->image.PagesHeld() * 4));
    autoCyclesLeft_ = options_.autoCycles;
    if (autoCyclesLeft_ > 0) Log("%u stand-alone cycles follow", autoCyclesLeft_);
  } else {
    Log("finish download without a download under way");
  }
}

void ProgrammerModel::SendStreamBlock() {
  const StreamedRead stream = *stream_;
  const uint32_t position = stream.nextKB;
  if (!TakeBlock()) return;
  if (const auto failed = InjectedFailure(kCmdReadStream, std::nullopt, position)) {
    const std::array<uint8_t, kPacketHeaderLength> header = {
        stream.header.code,   static_cast<uint8_t>(position),    static_cast<uint8_t>(position >> 8), 0,
        stream.header.family, stream.header.subtype, 0, 0};
    SendStatus(header, *failed);
    stream_.reset();
    return;
  }
  ReplyHeader header = stream.header;
  header.parameter = static_cast<uint16_t>(position);
  header.flags = static_cast<uint8_t>(position >> 16);
  const std::size_t length = chip_.BlockBytes();
  chip_.ReadBlock(position, std::span<uint8_t>(reply_).subspan(kPacketHeaderLength, length));
  SendPacket(std::span<const uint8_t>(reply_.data(), SealDataReply(reply_, header, length)), Outgoing::Reply);
  ++counters_.blocksStreamed;
  if (position + kBlockKB >= stream.endKB)
    stream_.reset();
  else
    stream_->nextKB = position + kBlockKB;
}

void ProgrammerModel::QueueProgressReport(uint8_t stage, uint8_t result, uint16_t done, uint16_t total) {
  if (hungUp_) return;
  SendPacket(BuildProgressReport({stage, result, done, total}), Outgoing::Report);
  ++counters_.progressReportsSent;
}

void ProgrammerModel::SendStatus(std::span<const uint8_t, 8> header, uint8_t status) {
  SendPacket(BuildStatusReply(header, status), Outgoing::Reply);
}

std::vector<uint8_t> ProgrammerModel::OtherCommandsReply(std::span<const uint8_t> packet, Outgoing kind) const {
  const bool statusReply = kind == Outgoing::Reply && packet.size() <= kStatusReplyLength;
  if (statusReply) {
    std::vector<uint8_t> data(kPacketHeaderLength + kBlockBytes + kCheckValueLength, 0);
    const ReplyHeader header{kCmdReadBlock, 0, 0, packet[4], packet[5]};
    data.resize(SealDataReply(data, header, kBlockBytes));
    return data;
  }
  const std::array<uint8_t, kPacketHeaderLength> header = {kCmdProgramBlock, packet[1], packet[2], 0,
                                                           packet[4],        packet[5], 0,         0};
  const StatusReply done = BuildStatusReply(header, kStatusOk);
  return {done.begin(), done.end()};
}

void ProgrammerModel::SendGarbageIdentification() {
  // Unframed bytes first (never a delimiter among them), then a frame whose
  // packet has neither the identification's signature nor any other
  // meaning; the same garbage every time.
  constexpr std::size_t kUnframed = 32;
  constexpr std::size_t kFramed = 128;
  uint32_t state = 0x2545F491u;
  const auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return static_cast<uint8_t>(state >> 16);
  };
  for (std::size_t i = 0; i < kUnframed; ++i) {
    const uint8_t b = next();
    output_.push_back(b == kFrameDelimiter ? 0x00 : b);
  }
  std::vector<uint8_t> garbage(kFramed);
  for (uint8_t& b : garbage) b = next();
  garbage[0] = 0x5A;  // not the signature, not a progress report, not an ignored reply
  ++counters_.garbageIdentifications;
  Log("identification query answered with garbage");
  SendPacket(garbage, Outgoing::UncheckedReply);
}

void ProgrammerModel::SendPacket(std::span<const uint8_t> packet, Outgoing kind) {
  std::vector<uint8_t> swapped;
  std::vector<uint8_t> damaged;
  if (kind != Outgoing::Report) {
    if (dropThisReply_) {
      dropThisReply_ = false;
      ++counters_.repliesDropped;
      Log("reply to request %u dropped", counters_.requests);
      return;
    }
    ++counters_.repliesSent;
    if (swapThisReply_) {
      swapThisReply_ = false;
      swapped = OtherCommandsReply(packet, kind);
      ++counters_.repliesSwapped;
      Log("reply to request %u (code 0x%02X, %zu bytes) replaced by the reply of command 0x%02X (%zu bytes)",
          counters_.requests, packet[0], packet.size(), swapped[0], swapped.size());
      packet = swapped;
      kind = Outgoing::Reply;
    }
  }
  if (kind == Outgoing::Reply && Contains(options_.faults.corruptReply, ++checkedReplies_)) {
    damaged.assign(packet.begin(), packet.end());
    damaged[damaged.size() - kCheckValueLength] ^= 0x01;
    packet = damaged;
    ++counters_.repliesCorrupted;
    Log("reply %u (code 0x%02X) sent with a wrong check value", checkedReplies_, packet[0]);
  }
  const std::vector<uint8_t>& noise = options_.faults.noise;
  output_.insert(output_.end(), noise.begin(), noise.end());
  const std::size_t start = output_.size();
  output_.resize(start + MaxEncodedLength(packet.size()));
  const std::size_t length = EncodeFrame(packet, std::span<uint8_t>(output_).subspan(start));
  output_.resize(start + length);
  TraceBytes("sent frame", std::span<const uint8_t>(output_).subspan(start));
  if (cutThisReply_ && kind != Outgoing::Report) {
    cutThisReply_ = false;
    output_.resize(start + length / 2);
    ++counters_.repliesCut;
    Log("reply to request %u broken off after %zu of its %zu frame bytes%s", counters_.requests, length / 2, length,
        hangUpAfterCut_ ? "; hanging up" : "");
    if (hangUpAfterCut_) {
      hungUp_ = true;
      stream_.reset();
    }
  }
}

std::vector<uint8_t> ProgrammerModel::TakeOutput() {
  if (output_.empty() && stream_) SendStreamBlock();
  std::vector<uint8_t> taken;
  taken.swap(output_);
  return taken;
}

void ProgrammerModel::Log(const char* format, ...) {
  if (!log_) return;
  std::array<char, 512> text;
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  if (length < 0) return;
  log_(std::string_view(text.data(), std::min<std::size_t>(static_cast<std::size_t>(length), text.size() - 1)));
}

void ProgrammerModel::TraceBytes(const char* what, std::span<const uint8_t> bytes) {
  if (!traceFrames_ || !log_) return;
  std::string hex;
  const std::size_t shown = std::min(bytes.size(), kTracedBytes);
  for (std::size_t i = 0; i < shown; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, " %02X", bytes[i]);
    hex += byte;
  }
  Log("%s (%zu bytes):%s%s", what, bytes.size(), hex.c_str(), shown < bytes.size() ? " ..." : "");
}

}  // namespace velkor::sim
