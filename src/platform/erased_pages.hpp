// Memory that reads as erased bytes (0xFF) until it is written, and costs
// resident memory only for the pages that were written.
//
// The image buffer spans 130 MiB, but a job seldom uses more than a few
// MiB of it. Filling all of it with 0xFF at start-up and before each load
// would make every page resident. Instead the span is a private mapping of
// one small file that holds nothing but 0xFF, mapped again and again side
// by side: a page that is only read shares the file's pages, a page that is
// written gets its own copy, and erasing drops those copies again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velkor {

class ErasedPagesDeleter {
 public:
  ErasedPagesDeleter() = default;
  explicit ErasedPagesDeleter(std::size_t mappedBytes) : mappedBytes_(mappedBytes) {}
  void operator()(uint8_t* pages) const;
  std::size_t MappedBytes() const { return mappedBytes_; }

 private:
  std::size_t mappedBytes_ = 0;
};

using ErasedPages = std::unique_ptr<uint8_t[], ErasedPagesDeleter>;

// size bytes, every one reading 0xFF until written. Throws
// std::system_error when the mapping cannot be made.
ErasedPages MapErasedPages(std::size_t size);

// One past the last byte before end that lies in a page written since the
// last erase (0 when there is none): every byte from there to end is
// erased. Asks the kernel which pages hold their own copy, so that a scan
// for the last written byte need not read, and so map, the erased rest.
// Returns end when the kernel cannot tell.
std::size_t WrittenExtent(const ErasedPages& pages, std::size_t end);

// Every byte of pages reads as erased again; the pages written so far are
// given back to the system.
void EraseAllPages(const ErasedPages& pages);

}  // namespace velkor
