#include "data/image_compare.hpp"

#include <algorithm>

#include "data/differing_slices.hpp"
#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr const char* kImagesEqualText =
    TextKey("The images are equal over 0x%08X-0x%08X (%llu bytes compared).");
constexpr const char* kImagesDifferText =
    TextKey("The images differ over 0x%08X-0x%08X: %llu of %llu bytes differ; differing ranges: %llu.");
constexpr const char* kImagesDifferListedText = TextKey(
    "The images differ over 0x%08X-0x%08X: %llu of %llu bytes differ; differing ranges: %llu, the first %zu listed.");
constexpr const char* kDifferingByteLine = TextKey("0x%08X  1 byte  A: %s  B: %s");
constexpr const char* kDifferingBytesLine = TextKey("0x%08X  %u bytes  A: %s  B: %s");

// Takes the differing bytes in increasing address order: a byte right after
// the last one extends its range, any other starts a range, listed while
// the bound allows.
class RangeCollector {
 public:
  RangeCollector(ImageComparison& comparison, std::size_t maxRanges) : c_(comparison), maxRanges_(maxRanges) {}

  void Add(uint32_t address, uint8_t a, uint8_t b) {
    ++c_.differingBytes;
    if (!seen_ || address != nextAddress_) {
      ++c_.rangeCount;
      open_ = c_.ranges.size() < maxRanges_;
      c_.truncated |= !open_;
      if (open_) c_.ranges.push_back({address, 0, {}, {}});
    }
    seen_ = true;
    nextAddress_ = address + 1;
    if (!open_) return;
    DifferingRange& range = c_.ranges.back();
    ++range.length;
    if (range.firstOfA.size() < kRangeBytesKept) {
      range.firstOfA.push_back(a);
      range.firstOfB.push_back(b);
    }
  }

 private:
  ImageComparison& c_;
  std::size_t maxRanges_;
  // The address that would extend the range of the last differing byte
  // seen, and whether that range is listed or lies past the bound.
  bool seen_ = false;
  uint32_t nextAddress_ = 0;
  bool open_ = false;
};

}  // namespace

ImageComparison CompareImages(const uint8_t* a, const uint8_t* b, uint32_t first, uint32_t last,
                              std::size_t maxRanges) {
  ImageComparison comparison;
  comparison.first = first;
  comparison.last = last;
  if (last < first) return comparison;
  comparison.compared = uint64_t{last} - first + 1;
  RangeCollector collector(comparison, maxRanges);
  ForEachDifferingSlice(a + first, b + first, comparison.compared, [&](std::size_t at, std::size_t n) {
    for (std::size_t i = at; i < at + n; ++i)
      if (a[first + i] != b[first + i]) collector.Add(static_cast<uint32_t>(first + i), a[first + i], b[first + i]);
  });
  return comparison;
}

std::optional<std::size_t> ImageComparison::FirstRangeFrom(uint32_t address) const {
  const auto found = std::partition_point(ranges.begin(), ranges.end(),
                                          [address](const DifferingRange& r) { return r.address < address; });
  if (found == ranges.end()) return std::nullopt;
  return static_cast<std::size_t>(found - ranges.begin());
}

std::optional<std::size_t> ImageComparison::LastRangeUpTo(uint32_t address) const {
  const auto after = std::partition_point(ranges.begin(), ranges.end(),
                                          [address](const DifferingRange& r) { return r.address <= address; });
  if (after == ranges.begin()) return std::nullopt;
  return static_cast<std::size_t>(after - ranges.begin()) - 1;
}

std::optional<std::size_t> ImageComparison::RangeHolding(uint32_t address) const {
  const std::optional<std::size_t> index = LastRangeUpTo(address);
  if (!index || ranges[*index].Last() < address) return std::nullopt;
  return index;
}

std::string ComparisonSummary(const ImageComparison& c) {
  const auto compared = static_cast<unsigned long long>(c.compared);
  if (c.Equal()) return FormatText(Tx(kImagesEqualText), c.first, c.last, compared);
  const auto bytes = static_cast<unsigned long long>(c.differingBytes);
  const auto ranges = static_cast<unsigned long long>(c.rangeCount);
  if (!c.truncated) return FormatText(Tx(kImagesDifferText), c.first, c.last, bytes, compared, ranges);
  return FormatText(Tx(kImagesDifferListedText), c.first, c.last, bytes, compared, ranges, c.ranges.size());
}

std::string RangeBytesText(const std::vector<uint8_t>& bytes, uint32_t length) {
  std::string text;
  for (const uint8_t byte : bytes) text += FormatText(text.empty() ? "%02X" : " %02X", unsigned{byte});
  if (length > bytes.size()) text += " …";
  return text;
}

std::string DifferingRangeLine(const DifferingRange& range) {
  const std::string a = RangeBytesText(range.firstOfA, range.length);
  const std::string b = RangeBytesText(range.firstOfB, range.length);
  if (range.length == 1) return FormatText(Tx(kDifferingByteLine), range.address, a.c_str(), b.c_str());
  return FormatText(Tx(kDifferingBytesLine), range.address, range.length, a.c_str(), b.c_str());
}

}  // namespace velkor
