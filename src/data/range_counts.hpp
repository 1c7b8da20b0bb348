// How many of a set of byte ranges cover each byte: ranges are added and
// taken away one at a time, and whether a byte is covered, or how many
// bytes are, is known at once. The hex views' edited-byte marks are the
// ranges of the edits that stand between the image and its saved state.
#pragma once

#include <cstdint>
#include <map>

#include "data/byte_range.hpp"

namespace velkor {

class RangeCounts {
 public:
  void Add(ByteRange range) { Change(range, true); }
  // Takes away a range added before.
  void Remove(ByteRange range) { Change(range, false); }
  bool Covered(uint32_t address) const;
  uint64_t CoveredBytes() const { return covered_; }
  void Clear();

 private:
  void Change(ByteRange range, bool add);
  // A segment starts at `at`, with the count of the one it was part of.
  void Split(uint64_t at);
  // The segment at `at` joins the one before when their counts agree.
  void JoinAt(uint64_t at);

  // Segment start -> how many ranges cover it; a segment ends where the
  // next begins, and nothing before the first is covered.
  std::map<uint64_t, uint32_t> segments_;
  uint64_t covered_ = 0;
};

}  // namespace velkor
