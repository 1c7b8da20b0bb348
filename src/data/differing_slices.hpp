// The slices in which two runs of bytes differ. memcmp passes over an equal
// slice at memory speed, so a caller walks byte by byte only the slices
// that differ: most of a 128 MiB image is equal, or erased on both sides.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velkor {

inline constexpr std::size_t kCompareSlice = 256;

// Calls walk(offset, length) for each slice of up to kCompareSlice bytes,
// in increasing order, where a[offset..] and b[offset..] differ.
template <typename Walk>
void ForEachDifferingSlice(const uint8_t* a, const uint8_t* b, std::size_t length, Walk walk) {
  for (std::size_t at = 0; at < length; at += kCompareSlice) {
    const std::size_t n = std::min(kCompareSlice, length - at);
    if (std::memcmp(a + at, b + at, n) != 0) walk(at, n);
  }
}

}  // namespace velkor
