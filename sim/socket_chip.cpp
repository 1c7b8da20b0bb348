#include "sim/socket_chip.hpp"

#include <algorithm>
#include <array>
#include <memory>

#include "data/image_checksums.hpp"

namespace velkor::sim {

namespace {

constexpr uint64_t kPageFlashBytes = uint64_t{kDataFlashPages} * kDataFlashPageSize;

}  // namespace

bool SocketChip::Insert(const ChipShape& shape) {
  if (shape == shape_) return false;
  shape_ = shape;
  memory_ = ChipMemory(IsPageFlash() ? kPageFlashBytes : shape.size);
  return true;
}

uint64_t SocketChip::BlockOffset(uint32_t positionKB) const {
  // Two 528-byte pages per KB of data.
  return IsPageFlash() ? uint64_t{positionKB} * 2 * kDataFlashPageSize : uint64_t{positionKB} * 1024;
}

bool SocketChip::BlockInside(uint32_t positionKB) const {
  const uint64_t offset = BlockOffset(positionKB);
  return IsPageFlash() ? offset + kPageFlashBlockBytes <= memory_.Size() : offset < memory_.Size();
}

void SocketChip::ProgramBlock(uint32_t positionKB, std::span<const uint8_t> data) {
  const WriteMode mode = shape_.family < kFirstEepromFamily ? WriteMode::ClearBits : WriteMode::Overwrite;
  memory_.Write(BlockOffset(positionKB), data, mode);
}

void SocketChip::ReadBlock(uint32_t positionKB, std::span<uint8_t> out) const {
  memory_.Read(BlockOffset(positionKB), out);
}

ImageChecksums SocketChip::Checksums(uint32_t length) const {
  if (length == 0) return {0, 0};
  const std::unique_ptr<uint8_t[]> image(new uint8_t[length]);
  const std::span<uint8_t> bytes(image.get(), length);
  if (!IsPageFlash()) {
    memory_.Read(0, bytes);
  } else {
    std::fill(bytes.begin(), bytes.end(), kErasedValue);
    std::array<uint8_t, kDataFlashPageSize> page;
    for (uint32_t p = 0; p < kDataFlashPages; ++p) {
      const uint64_t data = uint64_t{p} * kDataFlashMainSize;
      const uint64_t spare = kDataFlashSpareBase + uint64_t{p} * kDataFlashSpareSize;
      if (data >= length && spare >= length) continue;
      memory_.Read(uint64_t{p} * kDataFlashPageSize, page);
      for (uint32_t i = 0; i < kDataFlashMainSize && data + i < length; ++i) bytes[data + i] = page[i];
      for (uint32_t i = 0; i < kDataFlashSpareSize && spare + i < length; ++i)
        bytes[spare + i] = page[kDataFlashMainSize + i];
    }
  }
  const uint32_t sum = ByteSum32Wide(image.get(), 0, length - 1);
  return {LinkCrc16Sliced(image.get(), 0, length - 1), static_cast<uint16_t>(0x10000u - (sum & 0xFFFFu))};
}

}  // namespace velkor::sim
