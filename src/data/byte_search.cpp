#include "data/byte_search.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <iterator>

#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Separator(char c) { return std::isspace(static_cast<unsigned char>(c)) || c == ',' || c == ':' || c == '-' || c == ';'; }

// The lowest start in [low, high] (starts of matches wholly inside data[..end]).
std::optional<uint64_t> FirstMatch(const uint8_t* image, uint64_t low, uint64_t high, std::span<const uint8_t> pattern) {
  if (low > high) return std::nullopt;
  const uint8_t* begin = image + low;
  const uint8_t* end = image + high + pattern.size();
  const void* found = memmem(begin, static_cast<std::size_t>(end - begin), pattern.data(), pattern.size());
  if (!found) return std::nullopt;
  return static_cast<uint64_t>(static_cast<const uint8_t*>(found) - image);
}

// The highest start in [low, high].
std::optional<uint64_t> LastMatch(const uint8_t* image, uint64_t low, uint64_t high, std::span<const uint8_t> pattern) {
  if (low > high) return std::nullopt;
  using Reverse = std::reverse_iterator<const uint8_t*>;
  const Reverse begin(image + high + pattern.size());
  const Reverse end(image + low);
  const std::boyer_moore_horspool_searcher searcher(pattern.rbegin(), pattern.rend());
  const auto match = std::search(begin, end, searcher);
  if (match == end) return std::nullopt;
  // match points at the pattern's last byte, read backwards.
  return static_cast<uint64_t>(&*match - image) + 1 - pattern.size();
}

}  // namespace

std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text, std::string& error) {
  std::vector<uint8_t> bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (Separator(text[i])) {
      ++i;
      continue;
    }
    if (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
    const std::size_t start = i;
    while (i < text.size() && DigitValue(text[i]) >= 0) ++i;
    const std::size_t digits = i - start;
    if (i < text.size() && !Separator(text[i])) {
      error = FormatText(Tx("'%c' is not a hex digit"), text[i]);
      return std::nullopt;
    }
    if (digits == 0) {
      error = Tx("\"0x\" without digits");
      return std::nullopt;
    }
    if (digits == 1) {
      bytes.push_back(static_cast<uint8_t>(DigitValue(text[start])));
      continue;
    }
    if (digits % 2 != 0) {
      const std::string group(text.substr(start, digits));
      error = FormatText(Tx("%s has an odd number of hex digits"), group.c_str());
      return std::nullopt;
    }
    for (std::size_t d = start; d < i; d += 2)
      bytes.push_back(static_cast<uint8_t>(DigitValue(text[d]) << 4 | DigitValue(text[d + 1])));
  }
  if (bytes.empty()) {
    error = Tx("no hex bytes given");
    return std::nullopt;
  }
  return bytes;
}

std::string HexBytesText(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (const uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[b >> 4];
    text += kDigits[b & 0xF];
  }
  return text;
}

std::optional<uint32_t> FindBytes(const uint8_t* image, ByteRange range, std::span<const uint8_t> pattern, uint32_t from,
                                  SearchDirection direction, bool wrap) {
  if (pattern.empty() || range.last < range.first || pattern.size() > range.Length()) return std::nullopt;
  // Starts from which the pattern fits in the range.
  const uint64_t lowest = range.first;
  const uint64_t highest = uint64_t{range.last} + 1 - pattern.size();
  const uint64_t at = std::clamp<uint64_t>(from, lowest, highest);
  std::optional<uint64_t> found;
  if (direction == SearchDirection::Forward) {
    found = from > highest ? std::nullopt : FirstMatch(image, std::max<uint64_t>(from, lowest), highest, pattern);
    if (!found && wrap) found = FirstMatch(image, lowest, std::min(at, highest), pattern);
  } else {
    found = from < lowest ? std::nullopt : LastMatch(image, lowest, std::min<uint64_t>(from, highest), pattern);
    if (!found && wrap) found = LastMatch(image, std::max(at, lowest), highest, pattern);
  }
  if (!found) return std::nullopt;
  return static_cast<uint32_t>(*found);
}

}  // namespace velkor
