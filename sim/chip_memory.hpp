// The memory of a simulated chip: a byte array of any size up to the
// largest chip, held in 4 KB pages that exist only once something other
// than the erased value has been written into them, so that a 128 MiB chip
// costs nothing until it is programmed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>

namespace velkor::sim {

inline constexpr uint8_t kErasedValue = 0xFF;

enum class WriteMode {
  Overwrite,   // EEPROM: the new bytes replace the old ones
  ClearBits,   // flash: programming only turns bits from 1 to 0
};

class ChipMemory {
 public:
  static constexpr std::size_t kPageBytes = 4096;

  explicit ChipMemory(uint64_t size = 0) : size_(size) {}

  uint64_t Size() const { return size_; }

  void Erase() { pages_.clear(); }
  bool IsErased() const;

  // Bytes beyond the end read as erased.
  void Read(uint64_t offset, std::span<uint8_t> out) const;
  // Bytes beyond the end are not stored.
  void Write(uint64_t offset, std::span<const uint8_t> data, WriteMode mode);

  // Pages that hold data; the others read as erased.
  std::size_t PagesHeld() const { return pages_.size(); }

 private:
  using Page = std::array<uint8_t, kPageBytes>;

  uint64_t size_;
  std::unordered_map<uint64_t, std::unique_ptr<Page>> pages_;
};

}  // namespace velkor::sim
