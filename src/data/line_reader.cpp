#include "data/line_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "data/in_out_error.hpp"
#include "data/text_format.hpp"
#include "platform/text_file.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

std::string Describe(const std::filesystem::path& path, int error) {
  return FormatText(Tx("Cannot read file \"%s\": %s"), path.string().c_str(), std::strerror(error));
}

// The first CR or LF in [begin, end), or end: one pass that looks for
// both, sixteen bytes at a time where it can (object file lines are short,
// and two searches cost more than the line).
const char* FindTerminator(const char* begin, const char* end) {
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  for (; end - begin >= 16; begin += 16) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin));
    const int found = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(c, lf), _mm_cmpeq_epi8(c, cr)));
    if (found != 0) return begin + __builtin_ctz(static_cast<unsigned>(found));
  }
#endif
  for (; begin < end; ++begin)
    if (*begin == '\n' || *begin == '\r') return begin;
  return end;
}

}  // namespace

FileReader::FileReader(const std::filesystem::path& path) : path_(path) {
  std::string reason;
  fd_ = OpenRegularFile(path, reason);
  if (fd_ < 0) throw EInOutError(path.string() + ": " + reason);
  struct stat info {};
  if (::fstat(fd_, &info) == 0 && info.st_size > 0) size_ = static_cast<std::size_t>(info.st_size);
}

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t FileReader::Read(char* into, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd_, into, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) throw EInOutError(Describe(path_, errno));
  }
}

namespace {
constexpr std::size_t kFirstBuffer = 256;
}

LineReader::LineReader(const std::filesystem::path& path, std::size_t blockSize)
    : file_(path),
      limit_(blockSize),
      // One byte more than the file, so that its end is seen without growing.
      capacity_(std::min(blockSize, std::max(kFirstBuffer, file_.SizeWhenOpened() + 1))),
      buffer_(std::make_unique_for_overwrite<char[]>(capacity_)) {}

bool LineReader::Next(std::string_view& line) {
  char* buf = buffer_.get();
  for (;;) {
    if (pendingLf_ && begin_ < end_) {
      if (buf[begin_] == '\n') ++begin_;
      pendingLf_ = false;
    }
    if (!pendingLf_ && begin_ < end_) {
      const char* stop = FindTerminator(buf + begin_, buf + end_);
      if (stop != buf + end_) {
        const std::size_t at = static_cast<std::size_t>(stop - buf);
        const std::size_t start = begin_;
        begin_ = at + 1;
        if (*stop == '\r') {
          if (begin_ < end_) {
            if (buf[begin_] == '\n') ++begin_;
          } else {
            pendingLf_ = true;
          }
        }
        if (skipping_) {
          skipping_ = false;
          continue;
        }
        line = std::string_view(buf + start, at - start);
        ++lineNumber_;
        cut_ = false;
        return true;
      }
      if (skipping_) begin_ = end_;
    }
    if (eof_) {
      if (skipping_ || begin_ == end_) return false;
      line = std::string_view(buf + begin_, end_ - begin_);
      begin_ = end_;
      ++lineNumber_;
      cut_ = false;
      return true;
    }
    if (begin_ > 0) {
      std::memmove(buf, buf + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    if (end_ == capacity_ && capacity_ < limit_) {
      // A line longer than the buffer, but not than the block size (or a
      // file that grew): the buffer grows.
      capacity_ = std::min(limit_, capacity_ * 2);
      auto larger = std::make_unique_for_overwrite<char[]>(capacity_);
      std::memcpy(larger.get(), buf, end_);
      buffer_ = std::move(larger);
      buf = buffer_.get();
      continue;
    }
    if (end_ == capacity_) {
      line = std::string_view(buf, capacity_);
      begin_ = end_ = 0;
      skipping_ = true;
      ++lineNumber_;
      cut_ = true;
      return true;
    }
    const std::size_t n = file_.Read(buf + end_, capacity_ - end_);
    if (n == 0) {
      eof_ = true;
    } else {
      end_ += n;
    }
  }
}

}  // namespace velkor
