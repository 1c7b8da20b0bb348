// An inclusive range of image addresses.
#pragma once

#include <cstdint>

namespace velkor {

struct ByteRange {
  uint32_t first = 0;
  uint32_t last = 0;  // inclusive
  bool operator==(const ByteRange&) const = default;
  uint64_t Length() const { return uint64_t{last} - first + 1; }
};

}  // namespace velkor
