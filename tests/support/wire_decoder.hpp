// What the host put on the line, read back from a raw capture of the bytes a
// programmer received. Written from the link's layouts alone (frames between
// 0xC0 delimiters, 0xDB escapes, the 8-byte header, the parameter block and
// the start packet's fields) and sharing nothing with the host's encoder, so
// that a field the host and the simulator both get wrong still shows here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace velkor::test::wire {

using Bytes = std::vector<uint8_t>;

inline Bytes ReadCapture(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The frames of a byte stream, unescaped; bytes outside delimiters (the
// five 0xFF after each frame) are skipped. A frame with a broken escape is
// kept as it stands, so that a test sees it rather than loses it.
inline std::vector<Bytes> Unframe(const Bytes& raw) {
  std::vector<Bytes> frames;
  bool inFrame = false;
  Bytes current;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const uint8_t b = raw[i];
    if (b == 0xC0) {
      if (inFrame && !current.empty()) {
        frames.push_back(current);
        inFrame = false;
      } else {
        inFrame = true;
      }
      current.clear();
      continue;
    }
    if (!inFrame) continue;
    if (b == 0xDB && i + 1 < raw.size() && (raw[i + 1] == 0xDC || raw[i + 1] == 0xDD)) {
      current.push_back(raw[++i] == 0xDC ? 0xC0 : 0xDB);
    } else {
      current.push_back(b);
    }
  }
  return frames;
}

// The check value of the link: r = 0; for each byte b,
// r = (r odd ? 0x4A12 : 0) XOR b XOR (r >> 1).
inline uint16_t CheckValue(const uint8_t* bytes, std::size_t count) {
  uint16_t r = 0;
  for (std::size_t i = 0; i < count; ++i) r = static_cast<uint16_t>(((r & 1) ? 0x4A12 : 0) ^ bytes[i] ^ (r >> 1));
  return r;
}

struct Packet {
  Bytes bytes;

  uint8_t Code() const { return bytes[0]; }
  uint16_t Parameter() const { return U16(1); }
  uint8_t Flags() const { return bytes[3]; }
  uint8_t Family() const { return bytes[4]; }
  uint8_t SubType() const { return bytes[5]; }
  uint16_t Length() const { return U16(6); }
  // Little-endian fields at packet offsets.
  uint16_t U16(std::size_t at) const { return static_cast<uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8); }
  uint32_t U32(std::size_t at) const { return U16(at) | static_cast<uint32_t>(U16(at + 2)) << 16; }
  bool CheckValueOk() const {
    const std::size_t body = 8u + Length();
    return bytes.size() == body + 2 && U16(body) == CheckValue(bytes.data(), body);
  }
  // The payload bytes [from, from + count) counted from packet offset 8.
  Bytes Payload(std::size_t from, std::size_t count) const {
    return Bytes(bytes.begin() + 8 + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + 8 + static_cast<std::ptrdiff_t>(from + count));
  }
};

// Command codes of the host.
inline constexpr uint8_t kStartDownload = 0x53, kDownloadBlock = 0x55, kChipOperation = 0x93, kProgramBlock = 0x95,
                         kReadStream = 0x96, kReadBlock = 0x9B, kFinishDownload = 0x8A, kFinishAutoRun = 0x86,
                         kFirmwareChunk = 0xB7;

// The packets of a capture: every frame of at least a header and a check
// value (the identification query's three-byte frame is left out).
inline std::vector<Packet> Packets(const Bytes& raw) {
  std::vector<Packet> packets;
  for (Bytes& frame : Unframe(raw))
    if (frame.size() >= 10) packets.push_back(Packet{std::move(frame)});
  return packets;
}

inline std::vector<Packet> PacketsWithCode(const std::vector<Packet>& packets, uint8_t code) {
  std::vector<Packet> found;
  for (const Packet& p : packets)
    if (p.Code() == code) found.push_back(p);
  return found;
}

// The 48-byte parameter block, by field. at is the packet offset where the
// block starts: 0x08 in the chip commands, 0x0C in the start packet (whose
// copy has random values in place of two of the zero fields).
struct ParamBlock {
  uint8_t latchedMode, addrStyle, family, subType, autoDetect, deviceAddress, opFlags, optionBits, clockCode;
  uint16_t pageSize, eraseTime, sizeKB, crc, acc;
  uint32_t size;
  uint16_t spareHigh;  // the last two of the four zero bytes after the page size
  uint8_t idByte1, idByte2;
  std::array<uint8_t, 8> statusBytes;
};

inline ParamBlock ReadParamBlock(const Packet& p, std::size_t at) {
  ParamBlock b{};
  b.latchedMode = p.bytes.at(at + 0x01);
  b.addrStyle = p.bytes.at(at + 0x02);
  b.family = p.bytes.at(at + 0x04);
  b.subType = p.bytes.at(at + 0x05);
  b.autoDetect = p.bytes.at(at + 0x07);
  b.pageSize = p.U16(at + 0x08);
  b.spareHigh = p.U16(at + 0x0C);
  b.eraseTime = p.U16(at + 0x0E);
  b.size = p.U32(at + 0x10);
  b.sizeKB = p.U16(at + 0x14);
  b.deviceAddress = p.bytes.at(at + 0x16);
  b.opFlags = p.bytes.at(at + 0x17);
  b.optionBits = p.bytes.at(at + 0x18);
  b.clockCode = p.bytes.at(at + 0x19);
  b.crc = p.U16(at + 0x1A);
  b.acc = p.U16(at + 0x1C);
  b.idByte1 = p.bytes.at(at + 0x1E);
  b.idByte2 = p.bytes.at(at + 0x1F);
  for (std::size_t i = 0; i < 8; ++i) b.statusBytes[i] = p.bytes.at(at + 0x20 + i);
  return b;
}

// The bytes of a start packet that carry information: everything but the
// random fields and the check values that cover them.
inline Bytes StartPacketMeaning(const Packet& p) {
  Bytes kept;
  for (std::size_t i = 0; i < 0x101 && i < p.bytes.size(); ++i) {
    const bool random = i == 0x12 || i == 0x16 || i == 0x17 || (i >= 0x48 && i < 0x4C) || (i >= 0x56 && i < 0x5C) ||
                        i >= 0x9C;
    if (!random) kept.push_back(p.bytes[i]);
  }
  return kept;
}

}  // namespace velkor::test::wire
