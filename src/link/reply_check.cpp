#include "link/reply_check.hpp"

#include <cstring>
#include <string_view>

#include "link/checksum.hpp"
#include "link/frame.hpp"

namespace velkor {

namespace {
constexpr std::size_t kCheckValueLength = 2;
constexpr uint16_t kLongestStatusPayload = 2;

bool IsNameCharacter(uint8_t b) { return b >= 0x20 && b < 0x80; }
}  // namespace

uint8_t CheckReply(const LinkChannel& channel, uint16_t packetLength) {
  const uint8_t* p = channel.PacketBuffer.data();
  if (packetLength < kPacketHeaderLength + kCheckValueLength || packetLength > channel.PacketBuffer.size())
    return kResultCheckMismatch;
  const uint16_t expected = LinkCrc16(p, 0, packetLength - 3u);
  const uint16_t received = static_cast<uint16_t>(p[packetLength - 2] | (p[packetLength - 1] << 8));
  if (expected != received) return kResultCheckMismatch;
  const uint16_t payloadLength = static_cast<uint16_t>(p[6] | (p[7] << 8));
  if (payloadLength > kLongestStatusPayload) return kResultOk;
  return p[8];
}

IdentityName MakeIdentityName(const char* text) {
  IdentityName name{};
  std::strncpy(name.data(), text, name.size() - 1);
  return name;
}

int MatchIdentity(std::span<const uint8_t> reply, IdentityName& expected, std::size_t nameOffset) {
  if (reply.size() < 4 || std::memcmp(reply.data(), kIdentitySignature, sizeof kIdentitySignature) != 0 ||
      reply[3] == 0)
    return kIdentityBadSignature;

  const std::size_t maxLength = std::size_t{reply[3]} + 1;
  IdentityName text{};
  std::size_t length = 0;
  while (length < maxLength && length < text.size() - 1 && nameOffset + length < reply.size() &&
         IsNameCharacter(reply[nameOffset + length])) {
    text[length] = static_cast<char>(reply[nameOffset + length]);
    ++length;
  }

  const std::string_view want(expected.data(), strnlen(expected.data(), expected.size()));
  const int order = std::strncmp(text.data(), want.data(), want.size());
  if (order != 0) return order;
  expected = text;
  return 0;
}

}  // namespace velkor
