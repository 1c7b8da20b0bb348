// Building commands as the host sends them and reading back what the
// simulated programmer sent, with the core's own framing.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "link/checksum.hpp"
#include "link/frame.hpp"
#include "link/link_channel.hpp"
#include "link/reply_check.hpp"

namespace velkor::sim::testing {

inline const std::vector<uint8_t> kQueryFrame = {0xC0, 0xA3, 0xA5, 0x35, 0xC0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

struct CommandFields {
  uint8_t code;
  uint16_t parameter = 0;
  uint8_t flags = 0;
  uint8_t family = 0x05;
  uint8_t subtype = 0x01;
  std::size_t payloadLength = 2;
};

// Payload bytes that include both bytes the framing escapes.
inline uint8_t PayloadByte(std::size_t i) { return static_cast<uint8_t>(i * 37 + 0xC0); }

// A command packet with a correct length field and check value.
inline std::vector<uint8_t> MakeCommand(const CommandFields& f) {
  std::vector<uint8_t> packet = {
      f.code,    static_cast<uint8_t>(f.parameter),     static_cast<uint8_t>(f.parameter >> 8),    f.flags, f.family,
      f.subtype, static_cast<uint8_t>(f.payloadLength), static_cast<uint8_t>(f.payloadLength >> 8)};
  for (std::size_t i = 0; i < f.payloadLength; ++i) packet.push_back(PayloadByte(i));
  const uint16_t check = LinkCrc16(packet.data(), 0, static_cast<uint32_t>(packet.size() - 1));
  packet.push_back(static_cast<uint8_t>(check));
  packet.push_back(static_cast<uint8_t>(check >> 8));
  return packet;
}

// Recomputes the check value after a test changed a packet on purpose.
inline void Reseal(std::vector<uint8_t>& packet) {
  const uint16_t check = LinkCrc16(packet.data(), 0, static_cast<uint32_t>(packet.size() - 3));
  packet[packet.size() - 2] = static_cast<uint8_t>(check);
  packet[packet.size() - 1] = static_cast<uint8_t>(check >> 8);
}

inline std::vector<uint8_t> Frame(std::span<const uint8_t> packet) {
  std::vector<uint8_t> out(MaxEncodedLength(packet.size()));
  out.resize(EncodeFrame(packet, out));
  return out;
}

inline void Append(std::vector<uint8_t>& to, std::span<const uint8_t> bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

// Every complete frame in bytes, decoded. A frame that does not decode into
// a packet of at least a header is a test failure.
inline std::vector<std::vector<uint8_t>> DecodeFrames(std::span<const uint8_t> bytes) {
  std::vector<std::vector<uint8_t>> packets;
  std::vector<uint8_t> frame(LinkChannel::kFrameCapacity);
  std::vector<uint8_t> packet(LinkChannel::kPacketCapacity);
  std::size_t scan = 0;
  for (;;) {
    std::size_t frameLength = 0;
    const ScanResult found = ExtractFrame(bytes, scan, frame, frameLength, DelimiterRun::LastOpens);
    if (found == ScanResult::NotFound) break;
    if (found == ScanResult::Overlong) {
      ADD_FAILURE() << "overlong frame in the output";
      continue;
    }
    uint16_t length = static_cast<uint16_t>(frameLength);
    const DecodeResult decoded = DecodeFrame(frame, length, packet);
    if (decoded.code != kResultOk) {
      ADD_FAILURE() << "a frame in the output does not decode: result 0x" << std::hex << int{decoded.code};
      continue;
    }
    packets.emplace_back(packet.begin(), packet.begin() + decoded.packetLength);
  }
  return packets;
}

// The reply check of the host on a decoded packet.
inline uint8_t HostCheckReply(std::span<const uint8_t> packet) {
  const auto channel = std::make_unique<LinkChannel>();
  std::copy(packet.begin(), packet.end(), channel->PacketBuffer.begin());
  return CheckReply(*channel, static_cast<uint16_t>(packet.size()));
}

}  // namespace velkor::sim::testing
