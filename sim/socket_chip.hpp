// The chip in a simulated programmer's socket. Every chip command names the
// chip (family, subtype, size); when it names another chip than the one in
// the socket, a fresh, erased chip of that kind takes its place.
//
// Family 0x40 (the 528-byte page flash) is held as the chip holds it: 4096
// pages of 528 bytes one after the other; a 4 KB block at position P (KB)
// is the eight pages 2P ... 2P + 7, each 512 data and 16 spare bytes. Every
// other family is a plain byte array of its size, and the block at P is the
// 4096 bytes from P x 1024.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "link/commands.hpp"
#include "sim/chip_memory.hpp"

namespace velkor::sim {

// The largest chip the programmer takes, besides the page flash.
inline constexpr uint32_t kLargestChipBytes = 128u << 20;
inline constexpr std::size_t kPageFlashBlockBytes = 8 * kDataFlashPageSize;

// A cell that holds one value whatever is written to it or erased: a chip
// with a defect at a known place, at this offset of the chip's own layout.
struct StuckByte {
  uint64_t offset = 0;
  uint8_t value = 0;
};

struct ChipShape {
  uint8_t family = 0;
  uint8_t subtype = 0;
  uint32_t size = 0;  // bytes, as the parameter block gives it
  bool operator==(const ChipShape&) const = default;
};

class SocketChip {
 public:
  // Returns whether a fresh chip went into the socket.
  bool Insert(const ChipShape& shape);
  // A fresh, erased chip of this kind goes into the socket, also when the
  // one in it is of the same kind.
  void Replace(const ChipShape& shape);
  const ChipShape& Shape() const { return shape_; }

  bool IsPageFlash() const { return shape_.family == kFamilyDataFlash528; }
  // The bytes of one block on the wire: 4096, or eight 528-byte pages.
  std::size_t BlockBytes() const { return IsPageFlash() ? kPageFlashBlockBytes : kBlockBytes; }
  // The blocks the chip holds from position 0: 512 of the page flash, else
  // as many as start inside the chip.
  uint32_t Blocks() const;
  // Whether the block at this position (KB) starts inside the chip; for the
  // page flash, whether all its eight pages are inside.
  bool BlockInside(uint32_t positionKB) const;

  // Flash families (below 0xA0) program like NOR flash: bits only go from 1
  // to 0. EEPROM families overwrite. Bytes past the chip's end are dropped;
  // the block must start inside the chip.
  void ProgramBlock(uint32_t positionKB, std::span<const uint8_t> data);
  // Bytes past the chip's end read as erased.
  void ReadBlock(uint32_t positionKB, std::span<uint8_t> out) const;

  // Writes bytes as they are, at an offset of the chip's own layout, as if
  // they had been programmed before the chip went into the socket.
  void Preload(uint64_t offset, std::span<const uint8_t> bytes) {
    memory_.Write(offset, bytes, WriteMode::Overwrite);
    HoldStuckBytes();
  }

  void Erase() {
    memory_.Erase();
    HoldStuckBytes();
  }
  // Every chip that goes into the socket from now on has these defects.
  void SetStuckBytes(std::vector<StuckByte> stuck) {
    stuck_ = std::move(stuck);
    HoldStuckBytes();
  }
  bool IsBlank() const { return memory_.IsErased(); }

  // The image checksums of the first length bytes of the chip as the host
  // lays it out in its image (for the page flash: the data areas from 0, the
  // spare areas from 0x200000); bytes past the chip's end count as erased.
  ImageChecksums Checksums(uint32_t length) const;

  const ChipMemory& Memory() const { return memory_; }

  // Between the host's image and the chip's blocks. The host's image of the
  // page flash holds the data areas from 0 and the spare areas from
  // 0x200000; of every other chip, the chip's bytes as they are.
  //
  // The bytes of the host's image that belong to this chip.
  uint64_t HostImageBytes() const;
  // The bytes the block at this position takes from such an image, in the
  // chip's layout (out holds BlockBytes()); bytes past the image's end are
  // erased.
  void BlockFromHostImage(uint32_t positionKB, const ChipMemory& image, std::span<uint8_t> out) const;
  // Where byte index of the block at this position lies in the host's image.
  uint64_t HostOffset(uint32_t positionKB, std::size_t index) const;
  // Where the byte at this offset of the host's image lies in the block at
  // this position; nothing when the block does not hold it.
  std::optional<std::size_t> BlockIndex(uint32_t positionKB, uint64_t hostOffset) const;

 private:
  uint64_t BlockOffset(uint32_t positionKB) const;
  // Puts the stuck cells' values back after a change of the memory.
  void HoldStuckBytes();

  ChipShape shape_;
  ChipMemory memory_;
  std::vector<StuckByte> stuck_;
};

}  // namespace velkor::sim
