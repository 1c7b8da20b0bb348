// Packets and frames for tests, built the way the programmer builds them.
#pragma once

#include <cstdint>
#include <vector>

#include "link/checksum.hpp"
#include "link/frame.hpp"

namespace velkor::test {

using Bytes = std::vector<uint8_t>;

// A packet: code, parameter, flags 0, family, subtype, length, payload and
// the check value.
inline Bytes MakePacket(uint8_t code, const Bytes& payload, uint16_t parameter = 0) {
  Bytes p{code, static_cast<uint8_t>(parameter), static_cast<uint8_t>(parameter >> 8), 0x00, 0x05, 0x01,
          static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8)};
  for (uint8_t b : payload) p.push_back(b);  // (insert trips a false GCC 12 bounds warning)
  const uint16_t crc = LinkCrc16(p.data(), 0, static_cast<uint32_t>(p.size() - 1));
  p.push_back(static_cast<uint8_t>(crc));
  p.push_back(static_cast<uint8_t>(crc >> 8));
  return p;
}

inline Bytes MakeStatusPacket(uint8_t code, uint8_t status) { return MakePacket(code, {status, 0x00}); }

inline Bytes FrameOf(const Bytes& packet) {
  Bytes out(MaxEncodedLength(packet.size()));
  out.resize(EncodeFrame(packet, out));
  return out;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace velkor::test
