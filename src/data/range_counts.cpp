#include "data/range_counts.hpp"

#include <iterator>

namespace velkor {

bool RangeCounts::Covered(uint32_t address) const {
  const auto after = segments_.upper_bound(address);
  return after != segments_.begin() && std::prev(after)->second > 0;
}

void RangeCounts::Clear() {
  segments_.clear();
  covered_ = 0;
}

void RangeCounts::Split(uint64_t at) {
  const auto after = segments_.upper_bound(at);
  if (after != segments_.begin() && std::prev(after)->first == at) return;
  const uint32_t count = after == segments_.begin() ? 0 : std::prev(after)->second;
  segments_.emplace_hint(after, at, count);
}

void RangeCounts::JoinAt(uint64_t at) {
  const auto segment = segments_.find(at);
  if (segment == segments_.end()) return;
  const uint32_t before = segment == segments_.begin() ? 0 : std::prev(segment)->second;
  if (segment->second == before) segments_.erase(segment);
}

void RangeCounts::Change(ByteRange range, bool add) {
  const uint64_t first = range.first;
  const uint64_t end = uint64_t{range.last} + 1;
  Split(first);
  Split(end);
  for (auto segment = segments_.find(first); segment->first < end; ++segment) {
    const uint64_t length = std::next(segment)->first - segment->first;
    if (add) {
      if (segment->second++ == 0) covered_ += length;
    } else if (segment->second > 0 && --segment->second == 0) {
      covered_ -= length;
    }
  }
  JoinAt(end);
  JoinAt(first);
}

}  // namespace velkor
