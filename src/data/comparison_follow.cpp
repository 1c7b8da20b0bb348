#include "data/comparison_follow.hpp"

#include <algorithm>
#include <limits>

namespace velkor {

void FollowEditInComparison(ImageComparison& comparison, const uint8_t* a, const uint8_t* b, ByteRange edited,
                            std::size_t maxRanges) {
  if (edited.last < comparison.first || edited.first > comparison.last) return;
  if (comparison.truncated) {
    // The ranges past the list are not known one by one: compare again.
    comparison = CompareImages(a, b, comparison.first, comparison.last, maxRanges);
    return;
  }
  // One byte more on each side: a range that ended or began next to the
  // edit may now join it.
  uint32_t low = std::max(comparison.first, edited.first > 0 ? edited.first - 1 : 0u);
  uint32_t high = std::min(comparison.last, edited.last < std::numeric_limits<uint32_t>::max() ? edited.last + 1 : edited.last);
  auto& ranges = comparison.ranges;
  auto from = std::lower_bound(ranges.begin(), ranges.end(), low,
                               [](const DifferingRange& r, uint32_t at) { return r.Last() < at; });
  auto to = from;
  while (to != ranges.end() && to->address <= high) ++to;
  if (from != to) {
    low = std::min(low, from->address);
    high = std::max(high, std::prev(to)->Last());
  }
  for (auto r = from; r != to; ++r) comparison.differingBytes -= r->length;
  comparison.rangeCount -= static_cast<uint64_t>(to - from);

  ImageComparison local = CompareImages(a, b, low, high, std::numeric_limits<std::size_t>::max());
  comparison.differingBytes += local.differingBytes;
  comparison.rangeCount += local.rangeCount;
  const auto at = ranges.erase(from, to);
  ranges.insert(at, std::make_move_iterator(local.ranges.begin()), std::make_move_iterator(local.ranges.end()));
  if (ranges.size() > maxRanges) {
    ranges.resize(maxRanges);
    comparison.truncated = true;
  }
}

}  // namespace velkor
