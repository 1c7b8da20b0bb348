#include "sim/boot_loader.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <utility>

#include "sim/reply_packets.hpp"

namespace velkor::sim {

namespace {

constexpr std::size_t kPayloadOffset = 8;
constexpr std::size_t kUnitBytes = 4;
constexpr uint8_t kChunkMarker = 0x0F;  // byte 5 of every chunk

uint16_t Get16(std::span<const uint8_t> bytes, std::size_t at) {
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

ChunkVerdict Refusal(uint8_t status, const char* format, ...) __attribute__((format(printf, 2, 3)));
ChunkVerdict Refusal(uint8_t status, const char* format, ...) {
  char text[300];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return {status, text};
}

}  // namespace

BootLoader::BootLoader(FirmwareFile expected) : expected_(std::move(expected)) {
  // A file that was read as ready always holds its chunks' image bytes; the
  // bound keeps a hand-made one from reading past its image.
  const std::size_t held = expected_.image.size() / kFirmwareChunkPayload;
  chunks_ = static_cast<uint16_t>(std::min<std::size_t>(FirmwareChunkCount(expected_), held));
}

ChunkVerdict BootLoader::Check(std::span<const uint8_t> packet) {
  underWay_ = true;
  if (packet.size() != kFirmwareChunkPacket)
    return Refusal(kStatusBadPacket, "%zu bytes, not the %zu of a chunk", packet.size(), kFirmwareChunkPacket);
  if (packet[5] != kChunkMarker)
    return Refusal(kStatusBadPacket, "byte 5 is 0x%02X, not 0x%02X", packet[5], kChunkMarker);

  const uint16_t address = Get16(packet, 1);
  const uint16_t start = expected_.start;
  // A chunk at the start address begins the upgrade anew.
  const uint32_t index = address == start ? 0 : taken_;
  const uint32_t wanted = start + index * kFirmwareChunkAddresses;
  if (address != wanted)
    return Refusal(kStatusCommandFailed,
                   "address 0x%04X out of order: 0x%04X is the next expected (%u of %u chunks taken)", address, wanted,
                   static_cast<unsigned>(taken_), static_cast<unsigned>(chunks_));
  if (index >= chunks_)
    return Refusal(kStatusCommandFailed, "address 0x%04X lies past the firmware's %u chunks, which end before 0x%04X",
                   address, static_cast<unsigned>(chunks_),
                   static_cast<unsigned>(start + chunks_ * kFirmwareChunkAddresses));

  const auto number = static_cast<uint8_t>(index);
  if (packet[3] != number)
    return Refusal(kStatusBadPacket, "chunk number byte 0x%02X, the address 0x%04X gives 0x%02X", packet[3], address,
                   number);
  const auto count = static_cast<uint8_t>((expected_.end - start) / kFirmwareChunkAddresses + 1);
  if (packet[4] != count)
    return Refusal(kStatusBadPacket, "chunk count byte 0x%02X, the firmware (up to 0x%04X) gives 0x%02X", packet[4],
                   expected_.end, count);

  // Undo the chunk's keying and compare with the image: bytes 0-2 of each
  // unit carry the image's bytes, byte 3 carries the second key byte.
  const auto& keys = FirmwareChunkKeys();
  const uint8_t k0 = keys[number & 0xFE];
  const uint8_t k1 = keys[(number & 0xFE) + 1];
  const uint8_t unkey[kUnitBytes] = {k0, k1, k0, 0};
  const std::size_t source = 2 * std::size_t{static_cast<uint16_t>(address - start)};
  std::size_t differing = 0;
  std::size_t first = 0;
  uint8_t firstReceived = 0;
  uint8_t firstWanted = 0;
  for (std::size_t at = 0; at < kFirmwareChunkPayload; ++at) {
    const std::size_t byte = at % kUnitBytes;
    const uint8_t received = packet[kPayloadOffset + at];
    const uint8_t seen = received ^ unkey[byte];
    const uint8_t want = byte == 3 ? k1 : expected_.image[source + at];
    if (seen == want) continue;
    if (differing++ == 0) {
      first = at;
      firstReceived = received;
      firstWanted = want ^ unkey[byte];
    }
  }
  if (differing == 0) return {kStatusOk, {}};
  if (first % kUnitBytes == 3)
    return Refusal(kStatusCompareFailed,
                   "%zu of %zu payload bytes differ from the firmware; the first, byte %zu (the fourth of unit %zu), "
                   "is 0x%02X where the key byte 0x%02X belongs",
                   differing, kFirmwareChunkPayload, first, first / kUnitBytes, firstReceived, firstWanted);
  return Refusal(kStatusCompareFailed,
                 "%zu of %zu payload bytes differ from the firmware; the first, byte %zu (unit %zu, image offset "
                 "0x%04zX), is 0x%02X where 0x%02X belongs",
                 differing, kFirmwareChunkPayload, first, first / kUnitBytes, source + first, firstReceived,
                 firstWanted);
}

void BootLoader::Take(std::span<const uint8_t> packet) {
  taken_ = static_cast<uint16_t>((Get16(packet, 1) - expected_.start) / kFirmwareChunkAddresses + 1);
}

bool BootLoader::Finish() {
  const bool complete = underWay_ && taken_ == chunks_;
  underWay_ = false;
  taken_ = 0;
  return complete;
}

}  // namespace velkor::sim
