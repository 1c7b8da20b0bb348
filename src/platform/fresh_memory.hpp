// Memory made resident in one step, in huge pages where the system has them.
//
// A program that fills a large area page by page pays a page fault for
// every 4 KiB: on a virtual machine that keeps its own copy of the page
// tables that fault costs more than copying the page's bytes. Fresh
// anonymous memory advised for huge pages and populated in one call takes
// one fault per 2 MiB at most, and often none.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velkor {

// The span huge pages cover on the common systems; areas aligned to it can
// get them.
inline constexpr std::size_t kHugePageSpan = std::size_t{2} << 20;

// Reserves size bytes (a whole number of pages) of address space that
// starts on a huge-page boundary, mapped without access until something is
// mapped over it. Throws std::system_error when the space cannot be had.
uint8_t* ReserveHugeAligned(std::size_t size);

// Maps size bytes of fresh, zeroed memory at at (page-aligned), over
// whatever was mapped there, advised for huge pages and made resident at
// once where the kernel can (MADV_POPULATE_WRITE; older kernels fault the
// pages in as they are written). False when the mapping failed: what was
// mapped there before may be gone, and the caller must map something back.
bool MapFreshAt(uint8_t* at, std::size_t size);

// size bytes of fresh memory of its own, starting on a huge-page boundary
// and resident from the start. Throws std::system_error when it cannot be
// had.
class FreshMemory {
 public:
  explicit FreshMemory(std::size_t size);
  ~FreshMemory();
  FreshMemory(const FreshMemory&) = delete;
  FreshMemory& operator=(const FreshMemory&) = delete;

  uint8_t* get() const { return bytes_; }

 private:
  uint8_t* bytes_ = nullptr;
  std::size_t mapped_ = 0;
};

}  // namespace velkor
