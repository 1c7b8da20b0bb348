#include "platform/fresh_memory.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

// Linux 5.14; older headers lack the name, older kernels refuse the advice.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace velkor {

namespace {

[[noreturn]] void Fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

uint8_t* ReserveHugeAligned(std::size_t size) {
  // One span more than asked, then the unaligned head and the tail beyond
  // the size go back.
  const std::size_t reserved = size + kHugePageSpan;
  void* space = ::mmap(nullptr, reserved, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (space == MAP_FAILED) Fail("reserving address space");
  const auto start = reinterpret_cast<uintptr_t>(space);
  const uintptr_t aligned = (start + kHugePageSpan - 1) & ~(uintptr_t{kHugePageSpan} - 1);
  if (aligned > start) ::munmap(space, aligned - start);
  const uintptr_t end = aligned + size;
  if (start + reserved > end) ::munmap(reinterpret_cast<void*>(end), start + reserved - end);
  return reinterpret_cast<uint8_t*>(aligned);
}

bool MapFreshAt(uint8_t* at, std::size_t size) {
  if (::mmap(at, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED)
    return false;
  // Both are advice: without huge pages the memory is still fresh, and a
  // kernel without MADV_POPULATE_WRITE (before 5.14) faults the pages in as
  // they are first written.
  (void)::madvise(at, size, MADV_HUGEPAGE);
  (void)::madvise(at, size, MADV_POPULATE_WRITE);
  return true;
}

FreshMemory::FreshMemory(std::size_t size) {
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  mapped_ = std::max(page, (size + page - 1) / page * page);
  bytes_ = ReserveHugeAligned(mapped_);
  if (!MapFreshAt(bytes_, mapped_)) {
    const int error = errno;
    ::munmap(bytes_, mapped_);
    throw std::system_error(error, std::generic_category(), "mapping fresh memory");
  }
}

FreshMemory::~FreshMemory() { ::munmap(bytes_, mapped_); }

}  // namespace velkor
