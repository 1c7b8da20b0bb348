// Checks of decoded replies: the check value and status of a packet reply,
// and the name of an identification reply.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/link_channel.hpp"

namespace velkor {

// The status a reply stands for: kResultCheckMismatch when its check value
// is wrong, 0 for a data reply (payload longer than 2 bytes), otherwise the
// programmer's status byte 8 (0x00 and 0x06 both mean success). A packet too
// short to hold a header and a check value counts as a mismatch.
uint8_t CheckReply(const LinkChannel& channel, uint16_t packetLength);

// A name buffer of the identification: it holds the expected name before
// the match and the device's full name after it.
using IdentityName = std::array<char, 256>;

IdentityName MakeIdentityName(const char* text);

inline constexpr uint8_t kIdentitySignature[3] = {0xA3, 0xA5, 0x35};
inline constexpr std::size_t kIdentityNameOffset = 24;
inline constexpr int kIdentityBadSignature = 15;

// Compares the identification reply's name text (from nameOffset, at most
// byte 3 + 1 characters, ended by the first byte below 0x20 or from 0x80 up,
// or by the end of the decoded reply) with the start of expected. Returns 0
// on a match and copies the full text into expected; kIdentityBadSignature
// for a reply without the signature or with byte 3 = 0; otherwise the
// nonzero result of the comparison.
int MatchIdentity(std::span<const uint8_t> reply, IdentityName& expected, std::size_t nameOffset);

}  // namespace velkor
