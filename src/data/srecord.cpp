// Motorola S-records: "S" type(1) count(2) address(4, 6 or 8) data checksum(2)
// per line; count covers address, data and checksum; the checksum is the
// ones' complement of the low byte of the sum of count, address and data.
#include <algorithm>
#include <array>

#include "data/hex_digits.hpp"
#include "data/image_run_writer.hpp"
#include "data/line_reader.hpp"
#include "data/load_stop.hpp"
#include "data/object_file.hpp"

namespace velkor {

namespace {

constexpr uint32_t kHighestDataAddress = 0x1FFFFFFF;
constexpr std::size_t kHeaderLength = 4;  // 'S', type, count pair

// Address bytes per record type; 0 marks S4, which is not defined.
constexpr std::array<uint32_t, 10> kAddressBytes = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

bool Judge(uint32_t sum) { return (sum & 0xFF) == 0xFF; }

}  // namespace

uint8_t ParseSRecord(std::string_view line, SRecordState& state, ImageRunWriter& out) {
  if (line.empty() || line[0] != 'S') return kRecordNoStartMark;
  if (line.size() < 2) return kRecordTooShort;
  const char typeChar = line[1];
  if (typeChar < '0' || typeChar > '9' || kAddressBytes[typeChar - '0'] == 0) return kRecordUnknownType;
  const int type = typeChar - '0';
  if (type == 0) return kRecordAccepted;  // header: free text, not examined

  const uint32_t addressBytes = kAddressBytes[type];
  if (line.size() < kHeaderLength) return kRecordTooShort;
  const char* p = line.data();
  const uint32_t count = HexPairAt(p + 2);
  if (count < addressBytes + 1 || line.size() < kHeaderLength + 2 * count) return kRecordTooShort;

  uint32_t sum = count;
  uint32_t address = 0;
  for (uint32_t k = 0; k < addressBytes; ++k) {
    const uint8_t b = HexPairAt(p + kHeaderLength + 2 * k);
    address = (address << 8) | b;
    sum += b;
  }
  const char* pairs = p + kHeaderLength + 2 * addressBytes;
  const uint32_t dataCount = count - addressBytes - 1;

  switch (type) {
    case 1:
    case 2:
    case 3: {
      ++state.dataRecords;
      if (dataCount > 0) {
        if (address > kHighestDataAddress) return kRecordAddressTooHigh;
        if (uint64_t{address} + dataCount > kImageCapacity) return kRecordBeyondImage;
        state.min = std::min(state.min, address);
        state.max = std::max(state.max, address + dataCount - 1);
        sum += DecodePairs(pairs, dataCount, out.Place(address, dataCount));
      }
      // As with Intel HEX, the bytes land before the checksum is judged.
      sum += HexPairAt(pairs + 2 * dataCount);
      return Judge(sum) ? kRecordAccepted : kRecordBadChecksum;
    }
    default:
      break;
  }

  for (uint32_t j = 0; j <= dataCount; ++j) sum += HexPairAt(pairs + 2 * j);
  if (!Judge(sum)) return kRecordBadChecksum;
  if (type == 5 || type == 6) {
    // The count of data records, cut to the field's width.
    const uint32_t mask = type == 5 ? 0xFFFFu : 0xFFFFFFu;
    return (state.dataRecords & mask) == address ? kRecordAccepted : kRecordCountMismatch;
  }
  state.ended = true;  // S7, S8, S9: end of the data, with the start address
  return kRecordAccepted;
}

LoadOutcome ReadSRecords(const std::filesystem::path& path, ImageBuffer& image, ImageReport& report) {
  SRecordState state;
  LoadOutcome outcome;
  ImageRunWriter out(image);
  try {
    LineReader reader(path);
    std::string_view line;
    while (!state.ended && reader.Next(line)) {
      const uint8_t code = ParseSRecord(line, state, out);
      if (code != kRecordAccepted) {
        outcome = {code, reader.LineNumber()};
        break;
      }
    }
  } catch (const EInOutError&) {
    out.Flush();
    image.FileStart = state.min;
    image.FileEnd = state.max;
    throw;
  }
  out.Flush();
  image.FileStart = state.min;
  image.FileEnd = state.max;
  ReportLineStop(outcome, report);
  return outcome;
}

}  // namespace velkor
