#include "data/content_format.hpp"

#include <cstdint>

#include "data/line_reader.hpp"

namespace velkor {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes of an even run of hex digits, summed; false for anything else.
bool SumHexBytes(std::string_view digits, std::size_t& count, unsigned& sum) {
  if (digits.size() % 2 != 0) return false;
  count = digits.size() / 2;
  sum = 0;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const int high = HexValue(digits[i]);
    const int low = HexValue(digits[i + 1]);
    if (high < 0 || low < 0) return false;
    sum += static_cast<unsigned>(high * 16 + low);
  }
  return true;
}

int ByteAt(std::string_view digits, std::size_t index) {
  return HexValue(digits[2 * index]) * 16 + HexValue(digits[2 * index + 1]);
}

std::string_view TrimEnd(std::string_view line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  return line;
}

}  // namespace

bool IsIntelHexRecord(std::string_view line) {
  // ':' count(1) address(2) type(1) data(count) checksum(1); all bytes sum to 0.
  if (line.size() < 11 || line.front() != ':') return false;
  const std::string_view digits = line.substr(1);
  std::size_t bytes = 0;
  unsigned sum = 0;
  if (!SumHexBytes(digits, bytes, sum)) return false;
  const auto count = static_cast<std::size_t>(ByteAt(digits, 0));
  const int type = ByteAt(digits, 3);
  return bytes == count + 5 && type <= 5 && (sum & 0xFF) == 0;
}

bool IsMotorolaRecord(std::string_view line) {
  // 'S' type count(1) address+data(count - 1) checksum(1); the checksum is
  // the ones' complement of the sum of count, address and data.
  constexpr std::size_t kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
  if (line.size() < 4 || line.front() != 'S' || line[1] < '0' || line[1] > '9' || line[1] == '4') return false;
  const std::string_view digits = line.substr(2);
  std::size_t bytes = 0;
  unsigned sum = 0;
  if (!SumHexBytes(digits, bytes, sum)) return false;
  const auto count = static_cast<std::size_t>(ByteAt(digits, 0));
  if (bytes != count + 1 || count < kAddressBytes[line[1] - '0'] + 1) return false;
  return (sum & 0xFF) == 0xFF;
}

std::optional<ObjectFormat> RecogniseRecordFile(const std::filesystem::path& path) {
  LineReader lines(path);
  std::optional<ObjectFormat> format;
  std::string_view line;
  while (lines.Next(line)) {
    line = TrimEnd(line);
    if (line.empty()) continue;
    if (lines.Cut()) return std::nullopt;
    const ObjectFormat thisLine = IsIntelHexRecord(line)   ? ObjectFormat::IntelHex
                                  : IsMotorolaRecord(line) ? ObjectFormat::MotorolaS
                                                           : ObjectFormat::Binary;
    if (thisLine == ObjectFormat::Binary || (format && *format != thisLine)) return std::nullopt;
    format = thisLine;
  }
  return format;
}

}  // namespace velkor
