#include "data/image_checksums.hpp"

#include <array>
#include <cstddef>
#include <cstring>

namespace velkor {

namespace {

constexpr uint16_t kFeedback = 0x4A12;

// One step of the register: every byte shifts it by one bit and is XORed in
// whole. The step is linear over GF(2), so kSlice steps are the XOR of
//   A^kSlice(r)  and  A^(kSlice-1-j)(b_j) for the bytes b_0..b_(kSlice-1),
// where A is the shift with feedback. Each term is looked up in a table;
// only the register's own term depends on the step before.
constexpr std::size_t kSlice = 16;

constexpr uint16_t Shift(uint16_t r) { return static_cast<uint16_t>((r >> 1) ^ ((r & 1u) ? kFeedback : 0)); }

constexpr uint16_t ShiftTimes(uint16_t r, std::size_t times) {
  for (std::size_t i = 0; i < times; ++i) r = Shift(r);
  return r;
}

struct SliceTables {
  // byteTerm[j][b]: the share of byte j (0 = first of the slice) after the
  // kSlice steps.
  std::array<std::array<uint16_t, 256>, kSlice> byteTerm{};
  // What kSlice steps make of the register's low and high byte.
  std::array<uint16_t, 256> stateLow{};
  std::array<uint16_t, 256> stateHigh{};
};

constexpr SliceTables MakeSliceTables() {
  SliceTables t;
  for (int b = 0; b < 256; ++b) {
    for (std::size_t j = 0; j < kSlice; ++j) t.byteTerm[j][b] = ShiftTimes(static_cast<uint16_t>(b), kSlice - 1 - j);
    t.stateLow[b] = ShiftTimes(static_cast<uint16_t>(b), kSlice);
    t.stateHigh[b] = ShiftTimes(static_cast<uint16_t>(b << 8), kSlice);
  }
  return t;
}

constexpr SliceTables kSlices = MakeSliceTables();

}  // namespace

uint16_t LinkCrc16Sliced(const uint8_t* buffer, uint32_t first, uint32_t last) {
  if (last < first) return 0;
  const uint8_t* p = buffer + first;
  std::size_t n = static_cast<std::size_t>(last - first) + 1;
  uint16_t r = 0;
  const auto& b = kSlices.byteTerm;
  while (n >= kSlice) {
    uint16_t bytes = 0;
    for (std::size_t j = 0; j < kSlice; ++j) bytes ^= b[j][p[j]];
    r = static_cast<uint16_t>(kSlices.stateLow[r & 0xFF] ^ kSlices.stateHigh[r >> 8] ^ bytes);
    p += kSlice;
    n -= kSlice;
  }
  for (; n > 0; --n, ++p) r = static_cast<uint16_t>(Shift(r) ^ *p);
  return r;
}

uint32_t ByteSum32Wide(const uint8_t* buffer, uint32_t first, uint32_t last) {
  if (last < first) return 0;
  const uint8_t* p = buffer + first;
  std::size_t n = static_cast<std::size_t>(last - first) + 1;
  // 32-bit lanes cannot overflow within a block: 16 lanes take
  // 4096 / 16 = 256 bytes each, at most 65,280.
  constexpr std::size_t kBlock = 4096;
  constexpr std::size_t kLanes = 16;
  uint32_t sum = 0;
  while (n >= kBlock) {
    uint32_t lanes[kLanes] = {};
    for (std::size_t i = 0; i < kBlock; i += kLanes) {
      for (std::size_t k = 0; k < kLanes; ++k) lanes[k] += p[i + k];
    }
    for (std::size_t k = 0; k < kLanes; ++k) sum += lanes[k];
    p += kBlock;
    n -= kBlock;
  }
  for (; n > 0; --n, ++p) sum += *p;
  return sum;
}

}  // namespace velkor
