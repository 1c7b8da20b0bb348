// Where two images of a chip differ, as ranges of adjacent differing bytes:
// what velkor-cli compare prints, and what the window lists, colours and
// steps through. Unlike the read-back report (image_difference.hpp), which
// counts single bytes as a chip streams in, this compares two whole images
// and keeps every range up to a bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velkor {

// How many bytes of each side a range keeps to show.
inline constexpr std::size_t kRangeBytesKept = 8;
// How many ranges a comparison lists unless told otherwise: more than a
// person reads, few enough to hold for any pair of images.
inline constexpr std::size_t kDefaultListedRanges = 1000;

// Bytes that differ one after the other; the range ends at the first equal
// byte.
struct DifferingRange {
  uint32_t address = 0;
  uint32_t length = 0;
  // The first bytes of the range in each image, at most kRangeBytesKept.
  std::vector<uint8_t> firstOfA;
  std::vector<uint8_t> firstOfB;

  uint32_t Last() const { return address + length - 1; }
  bool operator==(const DifferingRange&) const = default;
};

struct ImageComparison {
  // The range compared, inclusive.
  uint32_t first = 0;
  uint32_t last = 0;
  uint64_t compared = 0;
  // Every differing byte and every range, listed or not.
  uint64_t differingBytes = 0;
  uint64_t rangeCount = 0;
  // The lowest ranges, in address order, at most the bound the comparison
  // was given.
  std::vector<DifferingRange> ranges;
  // More ranges differ than are listed. The look-ups below know the listed
  // ones only.
  bool truncated = false;

  bool Equal() const { return differingBytes == 0; }
  // The index of the first listed range that starts at or after address:
  // "next difference" asks it for the cursor's address + 1.
  std::optional<std::size_t> FirstRangeFrom(uint32_t address) const;
  // The index of the last listed range that starts at or before address:
  // "previous difference" asks it for the cursor's address - 1.
  std::optional<std::size_t> LastRangeUpTo(uint32_t address) const;
  // The listed range that holds address.
  std::optional<std::size_t> RangeHolding(uint32_t address) const;
  bool Differs(uint32_t address) const { return RangeHolding(address).has_value(); }
};

// Compares a[first..last] with b[first..last] (both pointers index images
// by address, so each must hold last + 1 bytes) and lists at most maxRanges
// ranges, the lowest; past the bound it still counts every byte and range.
ImageComparison CompareImages(const uint8_t* a, const uint8_t* b, uint32_t first, uint32_t last,
                              std::size_t maxRanges);

// One line for the log and the status bar.
std::string ComparisonSummary(const ImageComparison& comparison);
// "0x00001000  3 bytes  A: 12 34 56  B: FF FF FF", with "…" after the bytes
// of a range longer than those kept.
std::string DifferingRangeLine(const DifferingRange& range);
// The kept bytes of one side as "12 34 56", with " …" when the range is
// longer.
std::string RangeBytesText(const std::vector<uint8_t>& bytes, uint32_t length);

}  // namespace velkor
