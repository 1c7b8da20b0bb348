// The bytes a record parser writes, gathered into runs of consecutive
// addresses and put into the image a run at a time, so that a run's whole
// pages get fresh memory in one step (FillPages) instead of one page fault
// each. Runs end at the image's huge-page boundaries: the runs of a file
// whose data follow one another each cover whole huge pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "data/image_buffer.hpp"
#include "platform/fresh_memory.hpp"

namespace velkor {

class ImageRunWriter {
 public:
  // The most bytes one Place may take: a record's data never has more.
  static constexpr std::size_t kMostPerPlace = 256;

  explicit ImageRunWriter(ImageBuffer& image) : image_(image) {}
  ImageRunWriter(const ImageRunWriter&) = delete;
  ImageRunWriter& operator=(const ImageRunWriter&) = delete;

  // Where the count bytes for address onwards go (the range lies inside
  // the image): the caller writes them there before the next call. A later
  // Place of the same addresses wins, as a later write to the image would.
  uint8_t* Place(std::size_t address, std::size_t count) {
    if (address == end_ && end_ < boundary_ && count <= kMostPerPlace && gathered_) {
      uint8_t* const at = gathered_->get() + (end_ - start_);
      end_ += count;
      return at;
    }
    return PlaceAnew(address, count);
  }

  // Puts every byte gathered so far into the image. The parser calls it
  // before anything reads the image, on every way out of a load.
  void Flush() { PutOut(end_); }

 private:
  // Place beyond the run or its boundary, or for the first time.
  uint8_t* PlaceAnew(std::size_t address, std::size_t count);
  // Writes the gathered bytes below upTo into the image and keeps the rest.
  void PutOut(std::size_t upTo);

  ImageBuffer& image_;
  std::unique_ptr<FreshMemory> gathered_;  // from the first Place on
  std::size_t start_ = 0;                  // the run: addresses [start_, end_)
  std::size_t end_ = 0;
  std::size_t boundary_ = kHugePageSpan;   // the run is put out when it reaches this
};

}  // namespace velkor
