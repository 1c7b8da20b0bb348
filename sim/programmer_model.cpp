#include "sim/programmer_model.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "link/checksum.hpp"
#include "link/frame.hpp"
#include "sim/identification.hpp"

namespace velkor::sim {

namespace {

constexpr std::size_t kCheckValueLength = 2;
constexpr std::size_t kShortestPacket = kPacketHeaderLength + kCheckValueLength;
constexpr std::size_t kTracedBytes = 64;

struct CommandEntry {
  uint8_t code;
  bool answered;
  const char* name;
};

constexpr CommandEntry kCommands[] = {
    {0x53, true, "start download"},
    {0x55, true, "download block"},
    {0x93, true, "chip operation"},
    {0x95, true, "program block"},
    {0x96, true, "streamed read"},
    {0x9B, true, "read block"},
    {0xB7, true, "firmware chunk"},
    // The host has already ended its operation when it sends these, and it
    // routes replies by its own state: an answer could be taken as the reply
    // to its next command.
    {0x8A, false, "finish download"},
    {0x86, false, "finish automatic run"},
};

// Bytes 1-5 of both finishing commands.
constexpr uint8_t kFinishingSignature[5] = {'R', 'E', 'S', 'T', 0xA8};

const CommandEntry* FindCommand(uint8_t code) {
  const auto found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                  [code](const CommandEntry& c) { return c.code == code; });
  return found == std::end(kCommands) ? nullptr : found;
}

uint16_t ReadLittleEndian16(std::span<const uint8_t> bytes, std::size_t offset) {
  return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

// The 0xFF trailer that follows every frame, seen as a frame of its own when
// the closing delimiter of a broken frame is taken as an opening one.
bool IsTrailerFill(std::span<const uint8_t> frame) {
  return std::all_of(frame.begin() + 1, frame.end() - 1, [](uint8_t b) { return b == kFrameTrailerByte; });
}

}  // namespace

ProgrammerModel::ProgrammerModel(ProgrammerOptions options, LogSink log)
    : options_(std::move(options)), log_(std::move(log)) {}

void ProgrammerModel::Receive(std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
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
    const IdentificationReply reply = BuildIdentificationReply(options_);
    Log("identification query answered as \"%s\"", FullName(options_).c_str());
    SendPacket(reply);
    ++counters_.repliesSent;
    return true;
  }
  if (decoded.code == kResultOk && decoded.packetLength >= kShortestPacket) {
    HandlePacket(std::span<const uint8_t>(packet_.data(), decoded.packetLength));
    return true;
  }

  ++counters_.undecodableFrames;
  if (decoded.packetLength > 0)
    Log("frame dropped: %u decoded bytes are too few for a packet", decoded.packetLength);
  else
    Log("frame dropped: bad escape sequence, or longer than any packet");
  return false;
}

void ProgrammerModel::HandlePacket(std::span<const uint8_t> packet) {
  const uint8_t code = packet[0];
  const CommandEntry* command = FindCommand(code);
  const std::size_t payloadLength = packet.size() - kShortestPacket;
  const uint16_t expectedCheck = LinkCrc16(packet.data(), 0, static_cast<uint32_t>(packet.size() - 3));
  const uint16_t receivedCheck = ReadLittleEndian16(packet, packet.size() - kCheckValueLength);
  const uint16_t lengthField = ReadLittleEndian16(packet, 6);

  uint8_t status = kStatusOk;
  if (receivedCheck != expectedCheck) {
    ++counters_.checkValueErrors;
    Log("command 0x%02X: check value 0x%04X received, 0x%04X expected", code, receivedCheck, expectedCheck);
    status = kStatusCheckMismatch;
  } else if (lengthField != payloadLength) {
    ++counters_.lengthFieldErrors;
    Log("command 0x%02X: length field says %u payload bytes, the packet carries %zu", code, lengthField, payloadLength);
    status = kStatusBadPacket;
  } else if (command == nullptr) {
    Log("unknown command 0x%02X", code);
    status = kStatusUnknownCommand;
  }

  if (command != nullptr && !command->answered) {
    if (status == kStatusOk && std::memcmp(packet.data() + 1, kFinishingSignature, sizeof kFinishingSignature) != 0)
      Log("%s (0x%02X): bytes 1-5 are not the finishing signature", command->name, code);
    Log("%s (0x%02X) received; it is not answered", command->name, code);
    return;
  }
  SendPacket(BuildStatusReply(packet.first<kPacketHeaderLength>(), status));
  ++counters_.repliesSent;
}

void ProgrammerModel::QueueProgressReport(uint8_t stage, uint8_t result, uint16_t done, uint16_t total) {
  SendPacket(BuildProgressReport({stage, result, done, total}));
  ++counters_.progressReportsSent;
}

void ProgrammerModel::SendPacket(std::span<const uint8_t> packet) {
  const std::size_t start = output_.size();
  output_.resize(start + MaxEncodedLength(packet.size()));
  const std::size_t length = EncodeFrame(packet, std::span<uint8_t>(output_).subspan(start));
  output_.resize(start + length);
  TraceBytes("sent frame", std::span<const uint8_t>(output_).subspan(start));
}

std::vector<uint8_t> ProgrammerModel::TakeOutput() {
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
