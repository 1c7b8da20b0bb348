#include "platform/erased_pages.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

namespace velkor {

namespace {

constexpr uint8_t kErasedPattern = 0xFF;
// The size of the pattern file, and of each mapping of it. Larger means
// fewer mappings (65 for the image) but more memory for the file itself.
constexpr std::size_t kPatternBytes = std::size_t{2} << 20;

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

}  // namespace

void ErasedPagesDeleter::operator()(uint8_t* pages) const {
  if (pages) ::munmap(pages, mappedBytes_);
}

ErasedPages MapErasedPages(std::size_t size) {
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t mapped = std::max(page, (size + page - 1) / page * page);
  // Reserve the whole span first, so that the pattern's mappings land side
  // by side in one piece of the address space.
  void* span = ::mmap(nullptr, mapped, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (span == MAP_FAILED) Fail("reserving the image's address space");
  ErasedPages pages(static_cast<uint8_t*>(span), ErasedPagesDeleter(mapped));
  const FileDescriptor pattern = MakePatternFile();
  for (std::size_t offset = 0; offset < mapped; offset += kPatternBytes) {
    const std::size_t length = std::min(kPatternBytes, mapped - offset);
    if (::mmap(pages.get() + offset, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED, pattern.get(), 0) ==
        MAP_FAILED)
      Fail("mapping the erased pattern");
  }
  return pages;  // the mappings keep the pattern file alive
}

std::size_t WrittenExtent(const ErasedPages& pages, std::size_t end) {
  // /proc/self/pagemap holds one 64-bit entry per virtual page: bit 63 the
  // page is present, bit 62 swapped out, bit 61 it is a page of a file (our
  // pattern: erased). A page neither present nor swapped was never touched.
  constexpr uint64_t kPresent = uint64_t{1} << 63;
  constexpr uint64_t kSwapped = uint64_t{1} << 62;
  constexpr uint64_t kFilePage = uint64_t{1} << 61;
  constexpr std::size_t kEntriesPerRead = 512;

  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
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
  // On a private file mapping this drops the written copies; the next access
  // of each page sees the pattern file again.
  if (::madvise(pages.get(), pages.get_deleter().MappedBytes(), MADV_DONTNEED) != 0) Fail("erasing the image");
}

}  // namespace velkor
