#include "data/object_writer.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "data/in_out_error.hpp"
#include "data/text_format.hpp"
#include "platform/text_file.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr std::size_t kBufferSize = 1u << 20;
constexpr std::size_t kLongestLine = 1 + 1 + 2 + 8 + 2 * 255 + 2 + 1;  // an S0 record of 255 bytes and its LF
constexpr std::size_t kDirectBlock = 8u << 20;  // binary: bytes handed to write() at once
constexpr std::size_t kLongestHeader = 252;     // S0: count byte 255 = 2 address bytes + name + checksum
constexpr uint64_t kLastAddress = 0xFFFFFFFFu;

// "00".."FF": two characters per byte value.
constexpr std::array<char, 512> kHexPairs = [] {
  std::array<char, 512> pairs{};
  constexpr char kDigits[] = "0123456789ABCDEF";
  for (int b = 0; b < 256; ++b) {
    pairs[2 * b] = kDigits[b >> 4];
    pairs[2 * b + 1] = kDigits[b & 0xF];
  }
  return pairs;
}();

char* Pair(char* out, unsigned byte) {
  std::memcpy(out, &kHexPairs[2 * (byte & 0xFF)], 2);
  return out + 2;
}

// Text gathered in one large block and handed to write() when full: a
// system call per megabyte, not per record.
class BufferedOutput {
 public:
  BufferedOutput(int fd, const std::string& what) : fd_(fd), what_(what) {}

  // Room for a line of up to kLongestLine characters. The buffer comes with
  // the first line: binary output goes straight from its place and needs
  // none.
  char* Line() {
    if (buffer_.empty()) buffer_.resize(kBufferSize);
    if (buffer_.size() - used_ < kLongestLine) Flush();
    return buffer_.data() + used_;
  }
  void EndLine(char* end) { used_ = static_cast<std::size_t>(end - buffer_.data()); }

  void Flush() {
    WriteAll(buffer_.data(), used_);
    used_ = 0;
  }
  // Bytes straight from their place, after what is buffered; written is
  // told of each block once it is out.
  void WriteDirect(const uint8_t* bytes, std::size_t count, const BytesWritten& written) {
    Flush();
    for (std::size_t offset = 0; offset < count;) {
      const std::size_t block = std::min(count - offset, kDirectBlock);
      WriteAll(reinterpret_cast<const char*>(bytes + offset), block);
      if (written) written(offset, block);
      offset += block;
    }
  }
  uint64_t Written() const { return written_; }

 private:
  void WriteAll(const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw EInOutError(what_ + ": " + std::strerror(errno));
      if (n == 0) throw EInOutError(FormatText(Tx("%s: nothing more could be written"), what_.c_str()));
      data += n;
      size -= static_cast<std::size_t>(n);
      written_ += static_cast<uint64_t>(n);
    }
  }

  int fd_;
  const std::string& what_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  uint64_t written_ = 0;
};

// ':' count address(2) type data checksum; the bytes of a record sum to 0.
void IntelRecord(BufferedOutput& out, unsigned type, unsigned address, const uint8_t* data, std::size_t count) {
  char* p = out.Line();
  *p++ = ':';
  unsigned sum = static_cast<unsigned>(count) + (address >> 8) + (address & 0xFF) + type;
  p = Pair(p, static_cast<unsigned>(count));
  p = Pair(p, address >> 8);
  p = Pair(p, address);
  p = Pair(p, type);
  for (std::size_t i = 0; i < count; ++i) {
    p = Pair(p, data[i]);
    sum += data[i];
  }
  p = Pair(p, (0x100 - (sum & 0xFF)) & 0xFF);
  *p++ = '\n';
  out.EndLine(p);
}

// 'S' type count address data checksum; count covers address, data and
// checksum, the checksum is the ones' complement of their sum.
void SRecord(BufferedOutput& out, char type, unsigned addressBytes, uint32_t address, const uint8_t* data,
             std::size_t count) {
  char* p = out.Line();
  *p++ = 'S';
  *p++ = type;
  const unsigned length = addressBytes + static_cast<unsigned>(count) + 1;
  unsigned sum = length;
  p = Pair(p, length);
  for (unsigned k = addressBytes; k-- > 0;) {
    const unsigned byte = (address >> (8 * k)) & 0xFF;
    p = Pair(p, byte);
    sum += byte;
  }
  for (std::size_t i = 0; i < count; ++i) {
    p = Pair(p, data[i]);
    sum += data[i];
  }
  p = Pair(p, ~sum & 0xFF);
  *p++ = '\n';
  out.EndLine(p);
}

// Calls record(address, data, count) for the range cut into records of at
// most kBytesPerRecord bytes, each within one aligned block of that size.
template <typename Record>
void ForEachRecord(const uint8_t* bytes, uint32_t first, std::size_t count, Record record) {
  std::size_t done = 0;
  while (done < count) {
    const uint32_t address = first + static_cast<uint32_t>(done);
    const std::size_t take = std::min(kBytesPerRecord - address % kBytesPerRecord, count - done);
    record(address, bytes + done, take);
    done += take;
  }
}

void WriteIntelHex(BufferedOutput& out, const uint8_t* bytes, uint32_t first, std::size_t count) {
  uint32_t upper = 0;  // a reader starts with the upper address bits 0
  ForEachRecord(bytes, first, count, [&](uint32_t address, const uint8_t* data, std::size_t n) {
    if (address >> 16 != upper) {
      upper = address >> 16;
      const uint8_t field[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
      IntelRecord(out, 0x04, 0, field, 2);
    }
    IntelRecord(out, 0x00, address & 0xFFFF, data, n);
  });
  IntelRecord(out, 0x01, 0, nullptr, 0);
}

std::string_view HeaderText(std::string_view header) {
  if (header.size() <= kLongestHeader) return header;
  std::size_t cut = kLongestHeader;
  // Not inside a UTF-8 sequence: back up over its continuation bytes.
  while (cut > 0 && (static_cast<unsigned char>(header[cut]) & 0xC0) == 0x80) --cut;
  return header.substr(0, cut);
}

void WriteSRecords(BufferedOutput& out, const uint8_t* bytes, uint32_t first, std::size_t count,
                   std::string_view header) {
  const uint64_t last = count > 0 ? uint64_t{first} + count - 1 : first;
  const unsigned addressBytes = last <= 0xFFFF ? 2 : last <= 0xFFFFFF ? 3 : 4;
  const char dataType = static_cast<char>('1' + (addressBytes - 2));  // S1, S2, S3
  const char endType = static_cast<char>('9' - (addressBytes - 2));   // S9, S8, S7
  const std::string_view name = HeaderText(header);
  SRecord(out, '0', 2, 0, reinterpret_cast<const uint8_t*>(name.data()), name.size());
  uint64_t records = 0;
  ForEachRecord(bytes, first, count, [&](uint32_t address, const uint8_t* data, std::size_t n) {
    SRecord(out, dataType, addressBytes, address, data, n);
    ++records;
  });
  // The count record holds 16 bits (S5) or 24 (S6); the image never holds
  // more than 24 bits' worth of records, but a count that does not fit is
  // left out rather than written wrong.
  if (records <= 0xFFFF)
    SRecord(out, '5', 2, static_cast<uint32_t>(records), nullptr, 0);
  else if (records <= 0xFFFFFF)
    SRecord(out, '6', 3, static_cast<uint32_t>(records), nullptr, 0);
  SRecord(out, endType, addressBytes, 0, nullptr, 0);
}

}  // namespace

uint64_t WriteObject(int fd, const std::string& what, const uint8_t* bytes, uint32_t first, std::size_t count,
                     ObjectFormat format, std::string_view header, const BytesWritten& written) {
  if (count > 0 && uint64_t{first} + count - 1 > kLastAddress)
    throw EInOutError(FormatText(Tx("%s: the range from 0x%08X holds %zu bytes, more than 32-bit addresses reach"),
                                 what.c_str(), first, count));
  BufferedOutput out(fd, what);
  switch (format) {
    case ObjectFormat::Binary:
      out.WriteDirect(bytes, count, written);
      break;
    case ObjectFormat::IntelHex:
      WriteIntelHex(out, bytes, first, count);
      break;
    case ObjectFormat::MotorolaS:
      WriteSRecords(out, bytes, first, count, header);
      break;
    case ObjectFormat::HexText:
      throw std::invalid_argument("the text hex format is read, never written");
  }
  out.Flush();
  return out.Written();
}

uint64_t WriteObjectFile(const std::filesystem::path& path, const uint8_t* bytes, uint32_t first, std::size_t count,
                         ObjectFormat format, const BytesWritten& written) {
  uint64_t size = 0;
  const std::string failure = ReplaceFile(path, [&](int fd) {
    try {
      size = WriteObject(fd, path.string(), bytes, first, count, format, path.filename().string(), written);
      return std::string();
    } catch (const EInOutError& e) {
      return std::string(e.what());
    }
  });
  if (!failure.empty()) throw EInOutError(FormatText(Tx("Cannot save file: %s"), failure.c_str()));
  return size;
}

namespace {

// The used range's size, or a refusal when it reaches beyond the image.
std::size_t UsedRangeSize(const ImageBuffer& image, const std::string& what) {
  const uint32_t lastIndex = image.ChipEnd - image.ChipStart;
  if (lastIndex >= kImageCapacity)
    throw EInOutError(FormatText(Tx("Cannot save \"%s\": the range ends at 0x%08X, beyond the image buffer."),
                                 what.c_str(), lastIndex));
  return std::size_t{lastIndex} + 1;
}

}  // namespace

uint64_t SaveUsedRangeAs(const ImageBuffer& image, const std::filesystem::path& path, ObjectFormat format,
                         const BytesWritten& written) {
  return WriteObjectFile(path, image.Data.get(), 0, UsedRangeSize(image, path.string()), format, written);
}

uint64_t WriteUsedRange(int fd, const std::string& what, const ImageBuffer& image, ObjectFormat format,
                        std::string_view header) {
  return WriteObject(fd, what, image.Data.get(), 0, UsedRangeSize(image, what), format, header);
}

}  // namespace velkor
