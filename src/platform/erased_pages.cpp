#include "platform/erased_pages.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

#include "platform/fresh_memory.hpp"

namespace velkor {

namespace {

constexpr uint8_t kErasedPattern = 0xFF;
// The size of the pattern file, and of each mapping of it. Larger means
// fewer mappings (65 for the image) but more memory for the file itself.
constexpr std::size_t kPatternBytes = std::size_t{2} << 20;
// Whole pages below this are written where they are: a mapping of their
// own would cost more than their faults, and many small ones would use up
// the process's mappings.
constexpr std::size_t kFreshAtLeast = std::size_t{64} << 10;

[[noreturn]] void Fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileDescriptor& operator=(FileDescriptor&&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::size_t PageSize() { return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)); }

// A memory-only file of kPatternBytes erased bytes.
FileDescriptor MakePatternFile() {
  FileDescriptor file(::memfd_create("velkor-erased-pattern", MFD_CLOEXEC));
  if (file.get() < 0) Fail("memfd_create");
  const std::vector<uint8_t> chunk(64 * 1024, kErasedPattern);
  for (std::size_t written = 0; written < kPatternBytes;) {
    const ssize_t n = ::pwrite(file.get(), chunk.data(), std::min(chunk.size(), kPatternBytes - written),
                               static_cast<off_t>(written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("writing the erased pattern");
    written += static_cast<std::size_t>(n);
  }
  return file;
}

// The pattern file every span of the process maps: made with the first
// span, closed when the last one goes.
std::shared_ptr<const FileDescriptor> SharedPatternFile() {
  static std::mutex guard;
  static std::weak_ptr<const FileDescriptor> shared;
  const std::lock_guard lock(guard);
  std::shared_ptr<const FileDescriptor> file = shared.lock();
  if (!file) {
    file = std::make_shared<const FileDescriptor>(MakePatternFile());
    shared = file;
  }
  return file;
}

}  // namespace

struct ErasedPagesDeleter::Span {
  // Maps the pattern over [from, to) of the span at base, in pieces that
  // keep to the pattern's own boundaries. Throws when a piece cannot be
  // mapped: that piece of the span is then not mapped at all.
  void MapPatternOver(uint8_t* base, std::size_t from, std::size_t to) const {
    for (std::size_t offset = from; offset < to;) {
      const std::size_t end = std::min(to, (offset / kPatternBytes + 1) * kPatternBytes);
      if (::mmap(base + offset, end - offset, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED, pattern->get(), 0) ==
          MAP_FAILED)
        Fail("mapping the erased pattern");
      offset = end;
    }
  }

  std::shared_ptr<const FileDescriptor> pattern;
  // Some range got fresh memory since the last erase, which only mapping
  // the pattern again takes away (dropping it would leave zero bytes).
  bool freshMapped = false;
};

ErasedPagesDeleter::ErasedPagesDeleter(std::size_t mappedBytes, std::shared_ptr<Span> span)
    : mappedBytes_(mappedBytes), span_(std::move(span)) {}

void ErasedPagesDeleter::operator()(uint8_t* pages) const {
  if (pages) ::munmap(pages, mappedBytes_);
}

ErasedPages MapErasedPages(std::size_t size) {
  const std::size_t page = PageSize();
  const std::size_t mapped = std::max(page, (size + page - 1) / page * page);
  auto span = std::make_shared<ErasedPagesDeleter::Span>();
  span->pattern = SharedPatternFile();
  // Reserve the whole span first, so that the pattern's mappings land side
  // by side in one piece of the address space, aligned so that ranges of
  // it can get huge pages.
  ErasedPages pages(ReserveHugeAligned(mapped), ErasedPagesDeleter(mapped, span));
  span->MapPatternOver(pages.get(), 0, mapped);
  return pages;
}

std::size_t WrittenExtent(const ErasedPages& pages, std::size_t end) {
  // /proc/self/pagemap holds one 64-bit entry per virtual page: bit 63 the
  // page is present, bit 62 swapped out, bit 61 it is a page of a file (our
  // pattern: erased). A page neither present nor swapped was never touched.
  constexpr uint64_t kPresent = uint64_t{1} << 63;
  constexpr uint64_t kSwapped = uint64_t{1} << 62;
  constexpr uint64_t kFilePage = uint64_t{1} << 61;
  constexpr std::size_t kEntriesPerRead = 512;

  const std::size_t page = PageSize();
  end = std::min(end, pages.get_deleter().MappedBytes());
  const FileDescriptor pagemap(::open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC));
  if (pagemap.get() < 0) return end;
  const std::size_t firstPage = reinterpret_cast<uintptr_t>(pages.get()) / page;
  uint64_t entries[kEntriesPerRead];
  std::size_t pagesLeft = (end + page - 1) / page;  // pages [0, pagesLeft) are still to look at
  while (pagesLeft > 0) {
    const std::size_t count = std::min(kEntriesPerRead, pagesLeft);
    const std::size_t from = pagesLeft - count;
    const ssize_t n = ::pread(pagemap.get(), entries, count * sizeof(uint64_t),
                              static_cast<off_t>((firstPage + from) * sizeof(uint64_t)));
    if (n != static_cast<ssize_t>(count * sizeof(uint64_t))) return end;
    for (std::size_t i = count; i-- > 0;) {
      const uint64_t entry = entries[i];
      const bool untouched = (entry & (kPresent | kSwapped)) == 0;
      const bool pattern = (entry & kPresent) && (entry & kFilePage);
      if (!untouched && !pattern) return std::min(end, (from + i + 1) * page);
    }
    pagesLeft = from;
  }
  return 0;
}

void EraseAllPages(const ErasedPages& pages) {
  ErasedPagesDeleter::Span& span = pages.get_deleter().SpanState();
  const std::size_t mapped = pages.get_deleter().MappedBytes();
  if (span.freshMapped) {
    span.MapPatternOver(pages.get(), 0, mapped);
    span.freshMapped = false;
    return;
  }
  // On a private file mapping this drops the written copies; the next access
  // of each page sees the pattern file again.
  if (::madvise(pages.get(), mapped, MADV_DONTNEED) != 0) Fail("erasing the image");
}

void EraseWholePages(const ErasedPages& pages, std::size_t offset, std::size_t count) {
  const std::size_t page = PageSize();
  const std::size_t first = (offset + page - 1) / page * page;
  const std::size_t last = (offset + count) / page * page;
  if (last > first) pages.get_deleter().SpanState().MapPatternOver(pages.get(), first, last);
}

std::size_t FillPages(const ErasedPages& pages, std::size_t offset, std::size_t count, const PageFill& fill) {
  if (count == 0) return 0;
  const std::size_t page = PageSize();
  uint8_t* const base = pages.get();
  const std::size_t first = (offset + page - 1) / page * page;
  const std::size_t last = (offset + count) / page * page;
  if (last > first && last - first >= kFreshAtLeast) {
    ErasedPagesDeleter::Span& span = pages.get_deleter().SpanState();
    if (MapFreshAt(base + first, last - first)) {
      span.freshMapped = true;
    } else {
      // Whatever the failed mapping left there, the pattern goes back, and
      // the range is written where it is.
      span.MapPatternOver(base, first, last);
    }
  }
  const std::size_t written = std::min(fill(base + offset, count), count);
  if (written < count) std::memset(base + offset + written, kErasedPattern, count - written);
  return written;
}

}  // namespace velkor
