// Memory that reads as erased bytes (0xFF) until it is written, and costs
// resident memory only for the pages that were written.
//
// The image buffer spans 130 MiB, but a job seldom uses more than a few
// MiB of it. Filling all of it with 0xFF at start-up and before each load
// would make every page resident. Instead the span is a private mapping of
// one small file that holds nothing but 0xFF, mapped again and again side
// by side: a page that is only read shares the file's pages, a page that is
// written gets its own copy, and erasing drops those copies again.
//
// A page's own copy is made when it is first written, one page fault per
// 4 KiB. A loader that is about to write a large range whole asks for it
// with FillPages instead: the range's whole pages get fresh memory at once,
// in huge pages where the system has them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace velkor {

class ErasedPagesDeleter {
 public:
  // What the span needs to be erased again: the pattern file it maps (one
  // for all spans of the process, kept open to map it again) and whether
  // part of the span holds fresh memory.
  struct Span;

  ErasedPagesDeleter() = default;
  ErasedPagesDeleter(std::size_t mappedBytes, std::shared_ptr<Span> span);
  void operator()(uint8_t* pages) const;
  std::size_t MappedBytes() const { return mappedBytes_; }
  Span& SpanState() const { return *span_; }

 private:
  std::size_t mappedBytes_ = 0;
  std::shared_ptr<Span> span_;
};

using ErasedPages = std::unique_ptr<uint8_t[], ErasedPagesDeleter>;

// size bytes, every one reading 0xFF until written, starting on a
// huge-page boundary. Throws std::system_error when the mapping cannot be
// made.
ErasedPages MapErasedPages(std::size_t size);

// One past the last byte before end that lies in a page written since the
// last erase (0 when there is none): every byte from there to end is
// erased. A page that FillPages gave fresh memory counts as written. Asks
// the kernel which pages hold their own copy, so that a scan for the last
// written byte need not read, and so map, the erased rest. Returns end when
// the kernel cannot tell.
std::size_t WrittenExtent(const ErasedPages& pages, std::size_t end);

// Every byte of pages reads as erased again; the pages written so far are
// given back to the system. Throws std::system_error when the pattern
// cannot be mapped again over memory FillPages gave.
void EraseAllPages(const ErasedPages& pages);

// Every whole page inside [offset, offset + count) reads erased again and
// its memory goes back to the system at once; the bytes of pages the range
// only partly covers stay as they are. The range must lie inside the span.
// Throws std::system_error when the pattern cannot be mapped.
void EraseWholePages(const ErasedPages& pages, std::size_t offset, std::size_t count);

// Writes the range [offset, offset + count) through fill, called once with
// the range's first byte and its size; it returns how many bytes from the
// start it wrote, and the rest of the range then reads erased. Before
// that, the range's whole pages get fresh memory, populated in one step
// (they are written whole, so what they held does not matter); the pages
// the range only partly covers are written where they are, as are ranges
// too small to be worth a mapping of their own. The range must lie inside
// the span. Returns what fill returned.
using PageFill = std::function<std::size_t(uint8_t* at, std::size_t count)>;
std::size_t FillPages(const ErasedPages& pages, std::size_t offset, std::size_t count, const PageFill& fill);

}  // namespace velkor
