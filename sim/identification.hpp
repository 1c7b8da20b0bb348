// The programmer's answer to the identification query.
//
// Layout (L = 128, the whole reply; multi-byte values little-endian; no
// check value):
//   0 .. 2     A3 A5 35
//   3 .. 4     L
//   5 .. 23    zero, except byte 19: the capability byte
//   24 .. 67   the full name (name, blank, version), zero-terminated
//   L-60       zero
//   L-59       serial numbers enabled (1) or not (0)
//   L-58       serial-number width in bytes (4)
//   L-57..-56  increment
//   L-55..-52  start address (low half first)
//   L-51..-48  initial serial number
//   L-47..-24  zero
//   L-23..-20  current serial number
//   L-19..L-1  zero
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sim/programmer_options.hpp"

namespace velkor::sim {

inline constexpr std::size_t kIdentificationReplyLength = 128;
inline constexpr std::size_t kCapabilityOffset = 19;
inline constexpr std::size_t kNameOffset = 24;
// The name field runs up to the serial-number block and keeps one byte for
// the terminating zero.
inline constexpr std::size_t kLongestFullName = kIdentificationReplyLength - 60 - kNameOffset - 1;

using IdentificationReply = std::array<uint8_t, kIdentificationReplyLength>;

// The decoded reply packet. A full name longer than kLongestFullName is cut
// to that length (the command line refuses such names before they get here).
IdentificationReply BuildIdentificationReply(const ProgrammerOptions& options);

// Whether a decoded frame is the identification query (the three signature
// bytes and nothing else).
bool IsIdentificationQuery(const uint8_t* packet, std::size_t length);

}  // namespace velkor::sim
