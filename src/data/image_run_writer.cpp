#include "data/image_run_writer.hpp"

#include <algorithm>
#include <cstring>

namespace velkor {

namespace {

std::size_t NextBoundary(std::size_t address) { return (address / kHugePageSpan + 1) * kHugePageSpan; }

}  // namespace

uint8_t* ImageRunWriter::PlaceAnew(std::size_t address, std::size_t count) {
  if (count > kMostPerPlace) {
    // Not a record's: written where it goes, after everything before it.
    Flush();
    return image_.Data.get() + address;
  }
  if (address != end_ || end_ >= boundary_) {
    // A record that crossed the boundary leaves its tail gathered, as the
    // start of the next run.
    PutOut(std::min(end_, boundary_));
    if (address != end_) {
      PutOut(end_);
      start_ = end_ = address;
      boundary_ = NextBoundary(address);
    }
  }
  if (!gathered_) gathered_ = std::make_unique<FreshMemory>(kHugePageSpan + kMostPerPlace);
  uint8_t* const at = gathered_->get() + (end_ - start_);
  end_ += count;
  return at;
}

void ImageRunWriter::PutOut(std::size_t upTo) {
  if (upTo <= start_) return;
  uint8_t* const run = gathered_->get();
  const std::size_t length = upTo - start_;
  FillPages(image_.Data, start_, length, [run](uint8_t* at, std::size_t count) {
    std::memcpy(at, run, count);
    return count;
  });
  std::memmove(run, run + length, end_ - upTo);
  start_ = upTo;
  boundary_ = NextBoundary(start_);
}

}  // namespace velkor
