// Intel HEX: ":" count(2) address(4) type(2) data(2 * count) checksum(2)
// per line, all in hex pairs; the sum of all bytes of a record is 0 mod 256.
#include <algorithm>

#include "data/hex_digits.hpp"
#include "data/image_run_writer.hpp"
#include "data/line_reader.hpp"
#include "data/load_stop.hpp"
#include "data/object_file.hpp"

namespace velkor {

namespace {

constexpr std::string_view kEndRecord = ":00000001FF";
constexpr uint32_t kHighestDataAddress = 0x1FFFFFFF;
constexpr std::size_t kHeaderLength = 9;  // ':' and four pairs
constexpr std::size_t kExtendedLength = kHeaderLength + 6;

enum : uint8_t {
  kTypeData = 0,
  kTypeEnd = 1,
  kTypeExtendedSegment = 2,
  kTypeStartSegment = 3,
  kTypeExtendedLinear = 4,
  kTypeStartLinear = 5,
};

bool Judge(uint32_t sum) { return (sum & 0xFF) == 0; }

}  // namespace

uint8_t ParseHexRecord(std::string_view line, uint32_t& base, uint32_t& min, uint32_t& max, ImageRunWriter& out) {
  if (line.empty() || line[0] != ':') return kRecordNoStartMark;
  if (line.size() < kHeaderLength) return kRecordTooShort;
  const char* p = line.data();
  const uint32_t count = HexPairAt(p + 1);
  const uint32_t addrHi = HexPairAt(p + 3);
  const uint32_t addrLo = HexPairAt(p + 5);
  const uint8_t type = HexPairAt(p + 7);
  const uint32_t addr16 = addrHi * 256 + addrLo;
  uint32_t sum = count + addrHi + addrLo + type;

  switch (type) {
    case kTypeExtendedSegment:
    case kTypeExtendedLinear: {
      // The byte count is not examined; the base holds even when the
      // checksum then fails.
      if (addr16 != 0) return kRecordExtendedNonZero;
      if (line.size() < kExtendedLength) return kRecordTooShort;
      const uint32_t hi = HexPairAt(p + 9);
      const uint32_t lo = HexPairAt(p + 11);
      base = (hi * 256 + lo) * (type == kTypeExtendedSegment ? 16u : 65536u);
      sum += hi + lo + HexPairAt(p + 13);
      return Judge(sum) ? kRecordAccepted : kRecordBadChecksum;
    }
    case kTypeData: {
      if (line.size() < kHeaderLength + 2 * count + 2) return kRecordTooShort;
      const char* pairs = p + kHeaderLength;
      const uint32_t address = base + addr16;
      if (count > 0) {
        // Refused records write nothing and leave the range as it was.
        if (address > kHighestDataAddress) return kRecordAddressTooHigh;
        if (uint64_t{address} + count > kImageCapacity) return kRecordBeyondImage;
        min = std::min(min, address);
        max = std::max(max, address + count - 1);
        sum += DecodePairs(pairs, count, out.Place(address, count));
      }
      // The bytes are in the image before the checksum is judged.
      sum += HexPairAt(pairs + 2 * count);
      return Judge(sum) ? kRecordAccepted : kRecordBadChecksum;
    }
    case kTypeEnd:
    case kTypeStartSegment:
    case kTypeStartLinear:
      return kRecordAccepted;
    default:
      return kRecordUnknownType;
  }
}

LoadOutcome ReadIntelHex(const std::filesystem::path& path, ImageBuffer& image, ImageReport& report) {
  uint32_t base = 0;
  uint32_t min = kNoFileStart;
  uint32_t max = kNoFileEnd;
  LoadOutcome outcome;
  ImageRunWriter out(image);
  try {
    LineReader reader(path);
    std::string_view line;
    while (reader.Next(line)) {
      if (!reader.Cut() && line == kEndRecord) break;
      const uint8_t code = ParseHexRecord(line, base, min, max, out);
      if (code != kRecordAccepted) {
        outcome = {code, reader.LineNumber()};
        break;
      }
    }
  } catch (const EInOutError&) {
    out.Flush();
    image.FileStart = min;
    image.FileEnd = max;
    throw;
  }
  out.Flush();
  image.FileStart = min;
  image.FileEnd = max;
  ReportLineStop(outcome, report);
  return outcome;
}

}  // namespace velkor
