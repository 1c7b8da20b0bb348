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
  Replace(shape);
  return true;
}

void SocketChip::Replace(const ChipShape& shape) {
  shape_ = shape;
  memory_ = ChipMemory(IsPageFlash() ? kPageFlashBytes : shape.size);
  HoldStuckBytes();
}

void SocketChip::HoldStuckBytes() {
  for (const StuckByte& cell : stuck_) memory_.Write(cell.offset, std::span<const uint8_t>(&cell.value, 1), WriteMode::Overwrite);
}

uint64_t SocketChip::BlockOffset(uint32_t positionKB) const {
  // Two 528-byte pages per KB of data.
  return IsPageFlash() ? uint64_t{positionKB} * 2 * kDataFlashPageSize : uint64_t{positionKB} * 1024;
}

uint32_t SocketChip::Blocks() const {
  return IsPageFlash() ? kDataFlashPages / 8 : static_cast<uint32_t>((memory_.Size() + kBlockBytes - 1) / kBlockBytes);
}

bool SocketChip::BlockInside(uint32_t positionKB) const {
  const uint64_t offset = BlockOffset(positionKB);
  return IsPageFlash() ? offset + kPageFlashBlockBytes <= memory_.Size() : offset < memory_.Size();
}

void SocketChip::ProgramBlock(uint32_t positionKB, std::span<const uint8_t> data) {
  const WriteMode mode = shape_.family < kFirstEepromFamily ? WriteMode::ClearBits : WriteMode::Overwrite;
  memory_.Write(BlockOffset(positionKB), data, mode);
  HoldStuckBytes();
}

void SocketChip::ReadBlock(uint32_t positionKB, std::span<uint8_t> out) const {
  memory_.Read(BlockOffset(positionKB), out);
}

uint64_t SocketChip::HostImageBytes() const {
  return IsPageFlash() ? kDataFlashSpareBase + uint64_t{kDataFlashPages} * kDataFlashSpareSize : memory_.Size();
}

void SocketChip::BlockFromHostImage(uint32_t positionKB, const ChipMemory& image, std::span<uint8_t> out) const {
  if (!IsPageFlash()) {
    image.Read(uint64_t{positionKB} * 1024, out);
    return;
  }
  // Each page: its 512 data bytes, then its 16 spare bytes.
  for (std::size_t at = 0; at + kDataFlashPageSize <= out.size(); at += kDataFlashPageSize) {
    image.Read(HostOffset(positionKB, at), out.subspan(at, kDataFlashMainSize));
    image.Read(HostOffset(positionKB, at + kDataFlashMainSize),
               out.subspan(at + kDataFlashMainSize, kDataFlashSpareSize));
  }
}

uint64_t SocketChip::HostOffset(uint32_t positionKB, std::size_t index) const {
  const uint64_t block = uint64_t{positionKB} * 1024;
  if (!IsPageFlash()) return block + index;
  const uint64_t page = index / kDataFlashPageSize;
  const uint64_t within = index % kDataFlashPageSize;
  if (within < kDataFlashMainSize) return block + page * kDataFlashMainSize + within;
  // Two pages per KB of data: 32 spare bytes per KB.
  return kDataFlashSpareBase + uint64_t{positionKB} * 2 * kDataFlashSpareSize + page * kDataFlashSpareSize +
         (within - kDataFlashMainSize);
}

std::optional<std::size_t> SocketChip::BlockIndex(uint32_t positionKB, uint64_t hostOffset) const {
  const uint64_t block = uint64_t{positionKB} * 1024;
  if (!IsPageFlash()) {
    if (hostOffset < block || hostOffset - block >= kBlockBytes) return std::nullopt;
    return static_cast<std::size_t>(hostOffset - block);
  }
  const bool spare = hostOffset >= kDataFlashSpareBase;
  const uint64_t start = spare ? kDataFlashSpareBase + uint64_t{positionKB} * 2 * kDataFlashSpareSize : block;
  const uint64_t piece = spare ? kDataFlashSpareSize : kDataFlashMainSize;
  if (hostOffset < start || hostOffset - start >= 8 * piece) return std::nullopt;
  const uint64_t relative = hostOffset - start;
  return static_cast<std::size_t>(relative / piece * kDataFlashPageSize + (spare ? kDataFlashMainSize : 0) +
                                  relative % piece);
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
