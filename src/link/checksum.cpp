#include "link/checksum.hpp"

namespace velkor {

namespace {
constexpr uint32_t kLargestRangeEnd = 0xFFFFFF;
constexpr uint16_t kLinkCrcFeedback = 0x4A12;
}  // namespace

uint16_t LinkCrc16(const uint8_t* buffer, uint32_t first, uint32_t last) {
  if (first > kLargestRangeEnd || last > kLargestRangeEnd || last < first) return 0;
  uint16_t r = 0;
  for (uint32_t i = first; i <= last; ++i) {
    const uint16_t feedback = (r & 1u) ? kLinkCrcFeedback : 0;
    r = static_cast<uint16_t>(feedback ^ buffer[i] ^ (r >> 1));
  }
  return r;
}

uint32_t NegSum16(const uint8_t* buffer, uint32_t first, uint32_t last) {
  if (first > kLargestRangeEnd || last > kLargestRangeEnd) return 0;
  if (last < first) return 0x10000;
  uint16_t sum = 0;
  for (uint32_t i = first; i <= last; ++i) sum = static_cast<uint16_t>(sum + buffer[i]);
  return (static_cast<uint32_t>(sum) ^ 0xFFFFu) + 1u;
}

uint32_t ByteSum32(const uint8_t* buffer, uint32_t first, uint32_t last) {
  uint32_t sum = 0;
  if (last < first) return sum;
  for (uint32_t i = first;; ++i) {
    sum += buffer[i];
    if (i == last) break;
  }
  return sum;
}

}  // namespace velkor
