#include "link/firmware_file.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/checksum.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr std::size_t kMarkerBytes = 8;
constexpr std::size_t kVersionOffset = 10;
constexpr std::size_t kMaskOffset = 32;
constexpr std::size_t kEndOffset = 34;
constexpr std::size_t kLengthOffset = 40;
constexpr std::size_t kDescriptionOffset = 42;
constexpr std::size_t kDescriptionBytes = 64;
constexpr std::size_t kUnitsPerGroup = 4;
constexpr std::size_t kGroupBytes = 16;
constexpr uint32_t kKeyIndexMask = 0x7FF;

uint16_t Get16(std::span<const uint8_t> b, std::size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

std::size_t RoundUpToGroup(std::size_t n) { return (n + kGroupBytes - 1) / kGroupBytes * kGroupBytes; }

// The payload's scrambling is its own inverse: the reader and the packer
// both run this over the payload bytes.
void Scramble(std::span<const uint8_t> from, std::span<uint8_t> to, std::span<const uint8_t> keys) {
  const auto key = [&](uint32_t index) -> uint8_t { return index < keys.size() ? keys[index] : 0; };
  uint32_t n = 0;
  for (std::size_t at = 0; at + 4 <= from.size() && at + 4 <= to.size(); at += 4) {
    const uint8_t k0 = key(2 * n), k1 = key(2 * n + 1);
    to[at] = from[at] ^ k0;
    to[at + 1] = from[at + 1] ^ k1;
    to[at + 2] = from[at + 2] ^ k0;
    to[at + 3] = from[at + 3] ^ k1;
    n = (n + 2) & kKeyIndexMask;
  }
}

uint32_t Sum(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  for (uint8_t b : bytes) sum += b;
  return sum;
}

std::string Describe(const char* text, std::size_t a, std::size_t b = 0) {
  char line[200];
  std::snprintf(line, sizeof line, text, a, b);
  return line;
}

}  // namespace

const std::array<uint8_t, 256>& FirmwareChunkKeys() {
  static const std::array<uint8_t, 256> keys = [] {
    std::array<uint8_t, 256> k{};
    for (unsigned i = 0; i < k.size(); ++i) k[i] = static_cast<uint8_t>(((i * 157 + 59) & 0xFF) ^ (i >> 3) ^ 0x6E);
    return k;
  }();
  return keys;
}

FirmwareFile ReadFirmwareFile(std::span<const uint8_t> bytes) {
  FirmwareFile f;
  if (bytes.size() > kFirmwareBufferBytes) {
    f.problem = Describe(Tx("the file holds %zu bytes, more than the %zu of the firmware buffer"), bytes.size(),
                         kFirmwareBufferBytes);
    return f;
  }
  if (bytes.size() < kFirmwareHeaderBytes + kFirmwareTrailerBytes + 4) {
    f.problem = Describe(Tx("the file holds only %zu bytes, fewer than its header and trailer"), bytes.size());
    return f;
  }
  for (std::size_t i = 0; i < kMarkerBytes; ++i) {
    const uint8_t b = bytes[i] == 0 ? 0 : bytes[i] ^ kMarkerMask;
    if (b != static_cast<uint8_t>(kFirmwareMarker[i])) {
      f.problem = Tx("its marker is not that of a firmware file");
      return f;
    }
  }
  const char* version = reinterpret_cast<const char*>(bytes.data() + kVersionOffset);
  f.version.assign(version, strnlen(version, kFirmwareVersionBytes));
  const uint16_t mask = Get16(bytes, kMaskOffset);
  f.end = Get16(bytes, kEndOffset) ^ mask;
  const std::size_t payload = static_cast<uint16_t>(Get16(bytes, kLengthOffset) ^ mask);
  const std::size_t stored = RoundUpToGroup(payload);
  const std::size_t sumAt = kFirmwareHeaderBytes + stored + kFirmwareTrailerBytes;
  if (sumAt + 4 != bytes.size()) {
    f.problem = Describe(Tx("its header announces %zu payload bytes, which do not end the file's %zu bytes"), payload,
                         bytes.size());
    return f;
  }
  if (f.end < f.start) {
    f.problem = Describe(Tx("its range ends at 0x%04zX, before its start 0x%04zX"), f.end, f.start);
    return f;
  }
  // The last chunk starts below the end and reads 2048 image bytes.
  const std::size_t chunks = FirmwareChunkCount(f);
  const std::size_t needed = chunks * kFirmwareChunkPayload;
  if (needed > kFirmwareBufferBytes || needed > stored) {
    f.problem = Describe(Tx("its range needs %zu image bytes; the payload holds %zu"), needed, stored);
    return f;
  }

  f.image.assign(kFirmwareBufferBytes, 0);
  Scramble(bytes.subspan(kFirmwareHeaderBytes, stored), f.image,
           bytes.subspan(kFirmwareKeyOffset, kFirmwareKeyBytes));
  const uint32_t sum = Sum(bytes.first(kMarkerBytes)) + Sum(bytes.subspan(kVersionOffset, sumAt - kVersionOffset));
  const uint32_t storedSum = static_cast<uint32_t>(bytes[sumAt]) | static_cast<uint32_t>(bytes[sumAt + 1]) << 8 |
                             static_cast<uint32_t>(bytes[sumAt + 2]) << 16 |
                             static_cast<uint32_t>(bytes[sumAt + 3]) << 24;
  if (sum != storedSum) {
    f.problem = Tx("its checksum is wrong");
    return f;
  }
  f.ready = true;
  return f;
}

std::vector<uint8_t> PackFirmwareFile(std::span<const uint8_t> image, const std::string& version,
                                      const FirmwareRandom& random, std::string& error) {
  const std::size_t most = (kFirmwareBufferBytes - kFirmwareHeaderBytes - kFirmwareTrailerBytes - 4) /
                           kFirmwareChunkPayload * kFirmwareChunkPayload;
  if (image.empty() || image.size() % kFirmwareChunkPayload != 0 || image.size() > most) {
    error =
        Describe(Tx("the image must hold whole chunks of %zu bytes, at most %zu bytes"), kFirmwareChunkPayload, most);
    return {};
  }
  if (version.empty() || version.size() > kFirmwareVersionBytes ||
      !std::all_of(version.begin(), version.end(), [](char c) { return c > 0x20 && c < 0x7F; })) {
    error =
        Describe(Tx("the version text must be 1 to %zu printable characters without blanks"), kFirmwareVersionBytes);
    return {};
  }
  std::vector<uint8_t> file(kFirmwareHeaderBytes + image.size() + kFirmwareTrailerBytes + 4);
  uint8_t* p = file.data();
  for (std::size_t i = 0; i < kMarkerBytes; ++i) p[i] = static_cast<uint8_t>(kFirmwareMarker[i]) ^ kMarkerMask;
  p[8] = random();
  p[9] = random();
  std::memcpy(p + kVersionOffset, version.data(), version.size());
  const uint16_t mask = static_cast<uint16_t>(random() << 8 | random());
  const auto end = static_cast<uint16_t>(kFirmwareStart + image.size() / 2 - 1);
  Put16(p + kMaskOffset, mask);
  Put16(p + kEndOffset, end ^ mask);
  Put16(p + 36, static_cast<uint16_t>(kFirmwareStart ^ mask));
  Put16(p + 38, static_cast<uint16_t>(image.size() / kFirmwareChunkPayload ^ mask));
  Put16(p + kLengthOffset, static_cast<uint16_t>(image.size() ^ mask));
  const std::string description = "Velkor350QN firmware " + version;
  for (std::size_t i = 0; i < kDescriptionBytes; ++i)
    p[kDescriptionOffset + i] = static_cast<uint8_t>(i < description.size() ? description[i] : 0) ^ kDescriptionMask;
  for (std::size_t i = 0; i < kFirmwareKeyBytes; ++i) p[kFirmwareKeyOffset + i] = random();
  Scramble(image, std::span<uint8_t>(p + kFirmwareHeaderBytes, image.size()),
           std::span<const uint8_t>(p + kFirmwareKeyOffset, kFirmwareKeyBytes));
  const std::size_t trailer = kFirmwareHeaderBytes + image.size();
  for (std::size_t i = 0; i < kFirmwareTrailerBytes; ++i) p[trailer + i] = random();
  const std::size_t sumAt = trailer + kFirmwareTrailerBytes;
  const uint32_t sum = Sum(std::span<const uint8_t>(p, kMarkerBytes)) +
                       Sum(std::span<const uint8_t>(p + kVersionOffset, sumAt - kVersionOffset));
  for (int i = 0; i < 4; ++i) p[sumAt + i] = static_cast<uint8_t>(sum >> (8 * i));
  return file;
}

uint16_t FirmwareChunkCount(const FirmwareFile& firmware) {
  if (firmware.end < firmware.start) return 0;
  // The first chunk always goes out; the others while their address lies
  // below the end.
  const unsigned below = (firmware.end - firmware.start + kFirmwareChunkAddresses - 1) / kFirmwareChunkAddresses;
  return static_cast<uint16_t>(std::max(1u, below));
}

std::size_t BuildFirmwareChunk(std::span<uint8_t> packet, uint16_t address, const FirmwareFile& firmware) {
  if (packet.size() < kFirmwareChunkPacket || address < firmware.start) return 0;
  const std::size_t source = 2 * std::size_t{static_cast<uint16_t>(address - firmware.start)};
  if (source + kFirmwareChunkPayload > firmware.image.size()) return 0;
  const uint32_t chunk = (address - firmware.start) / kFirmwareChunkAddresses;
  uint8_t* p = packet.data();
  p[0] = 0xB7;
  Put16(p + 1, address);
  p[3] = static_cast<uint8_t>(chunk);
  p[4] = static_cast<uint8_t>((firmware.end - firmware.start) / kFirmwareChunkAddresses + 1);
  p[5] = 0x0F;
  Put16(p + 6, static_cast<uint16_t>(kFirmwareChunkPayload));
  const auto& keys = FirmwareChunkKeys();
  const uint8_t k0 = keys[chunk & 0xFE], k1 = keys[(chunk & 0xFE) + 1];
  const uint8_t* from = firmware.image.data() + source;
  for (std::size_t unit = 0; unit < kFirmwareChunkPayload / 4; ++unit) {
    uint8_t* out = p + 8 + 4 * unit;
    out[0] = from[4 * unit] ^ k0;
    out[1] = from[4 * unit + 1] ^ k1;
    out[2] = from[4 * unit + 2] ^ k0;
    out[3] = k1;  // the unit's fourth byte is not carried
  }
  Put16(p + 8 + kFirmwareChunkPayload, LinkCrc16(p, 0, static_cast<uint32_t>(8 + kFirmwareChunkPayload - 1)));
  return kFirmwareChunkPacket;
}

}  // namespace velkor
