#include "data/comparison_follow.hpp"

#include <algorithm>
#include <limits>
#include <vector>

namespace velkor {

namespace {

constexpr std::size_t kEveryRange = std::numeric_limits<std::size_t>::max();

}  // namespace

void FollowEditInComparison(ImageComparison& comparison, const uint8_t* a, const uint8_t* b, const AppliedEdit& edit,
                            std::size_t maxRanges) {
  if (edit.before.empty()) return;
  const ByteRange edited = edit.Range();
  if (edited.last < comparison.first || edited.first > comparison.last) return;
  // The window: the edit within the compared range, widened on both sides
  // to the ends of the differing runs that touch it. The bytes outside the
  // edit did not change, so those runs end at the same places before and
  // after it.
  uint32_t low = std::max(edited.first, comparison.first);
  uint32_t high = std::min(edited.last, comparison.last);
  while (low > comparison.first && a[low - 1] != b[low - 1]) --low;
  while (high < comparison.last && a[high + 1] != b[high + 1]) ++high;

  // The window as it was, compared in a copy that holds the old bytes.
  std::vector<uint8_t> old(a + low, a + uint64_t{high} + 1);
  const uint32_t from = std::max(edited.first, low);
  const uint32_t to = std::min(edited.last, high);
  std::copy(edit.before.begin() + (from - edit.address), edit.before.begin() + (uint64_t{to} - edit.address + 1),
            old.begin() + (from - low));
  const ImageComparison was = CompareImages(old.data(), b + low, 0, high - low, 0);
  const ImageComparison now = CompareImages(a, b, low, high, kEveryRange);
  comparison.differingBytes = comparison.differingBytes - was.differingBytes + now.differingBytes;
  comparison.rangeCount = comparison.rangeCount - was.rangeCount + now.rangeCount;

  // The list holds the lowest ranges: a window past the last listed range
  // of a cut list changes nothing in it.
  auto& ranges = comparison.ranges;
  const bool pastTheList = comparison.truncated && !ranges.empty() && uint64_t{low} > uint64_t{ranges.back().Last()} + 1;
  if (!pastTheList) {
    auto first = std::lower_bound(ranges.begin(), ranges.end(), low,
                                  [](const DifferingRange& r, uint32_t at) { return r.Last() < at; });
    auto last = first;
    while (last != ranges.end() && last->address <= high) ++last;
    const auto at = ranges.erase(first, last);
    ranges.insert(at, now.ranges.begin(), now.ranges.end());
    if (ranges.size() > maxRanges) ranges.resize(maxRanges);
    // A list cut short by the bound that lost ranges takes the next ones.
    if (ranges.size() < maxRanges && comparison.rangeCount > ranges.size()) {
      const uint64_t next = ranges.empty() ? comparison.first : uint64_t{ranges.back().Last()} + 1;
      if (next <= comparison.last) {
        const ImageComparison more =
            CompareImages(a, b, static_cast<uint32_t>(next), comparison.last, maxRanges - ranges.size());
        ranges.insert(ranges.end(), more.ranges.begin(), more.ranges.end());
      }
    }
  }
  comparison.truncated = comparison.rangeCount > ranges.size();
}

}  // namespace velkor
