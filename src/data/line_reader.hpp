// Reading object files in large blocks: whole blocks for the streamed
// parsers, lines for the record parsers. Nothing is allocated per line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

namespace velkor {

// A file open for reading; closes itself. Open and read failures raise
// EInOutError with the file's name and the system's reason.
class FileReader {
 public:
  explicit FileReader(const std::filesystem::path& path);
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // Up to size bytes; 0 at the end of the file.
  std::size_t Read(char* into, std::size_t size);
  // The file's size when it was opened.
  std::size_t SizeWhenOpened() const { return size_; }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  std::size_t size_ = 0;
};

// The lines of a text file, each without its terminator (LF, CR LF or a
// lone CR). A line longer than the block size is returned cut to the block
// size (Cut() tells) and the rest of it is skipped. The buffer starts at
// the file's size and grows up to the block size only for a longer line,
// so a small file costs a small buffer.
class LineReader {
 public:
  static constexpr std::size_t kBlockSize = 1 << 20;

  explicit LineReader(const std::filesystem::path& path, std::size_t blockSize = kBlockSize);

  // The next line, valid until the next call; false at the end of the file.
  bool Next(std::string_view& line);
  // 1-based number of the line last returned.
  uint64_t LineNumber() const { return lineNumber_; }
  bool Cut() const { return cut_; }

 private:
  FileReader file_;
  std::size_t limit_;     // the block size: the longest line returned whole
  std::size_t capacity_;  // the buffer's size now, at most limit_
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  uint64_t lineNumber_ = 0;
  bool eof_ = false;
  bool cut_ = false;
  bool skipping_ = false;     // the rest of a cut line is being dropped
  bool pendingLf_ = false;    // a CR ended the buffered data; drop an LF after it
};

}  // namespace velkor
