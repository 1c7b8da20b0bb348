// The text hex format: lines of hex byte pairs written one after the other
// from the current position, lines "@address" that move the position, and a
// line starting with "q" that ends the data. The file is walked character by
// character in large blocks, so lines of any length are taken whole.
#include <algorithm>
#include <memory>

#include "data/hex_digits.hpp"
#include "data/line_reader.hpp"
#include "data/load_stop.hpp"
#include "data/object_file.hpp"

namespace velkor {

namespace {

// The end address this format reports, whatever the file holds.
constexpr uint32_t kHexTextFileEnd = 0xFFFF;
constexpr std::size_t kBlockSize = 1 << 20;

enum class Place {
  LineStart,    // leading blanks of a line
  Address,      // after '@': every character is a digit of the address
  Data,         // between byte pairs
  SecondDigit,  // the first character of a pair was read
};

}  // namespace

LoadOutcome ReadHexText(const std::filesystem::path& path, ImageBuffer& image, ImageReport& report) {
  uint32_t min = kNoFileStart;
  uint32_t position = 0;
  uint32_t address = 0;
  char firstDigit = 0;
  Place place = Place::LineStart;
  uint64_t lineNumber = 1;
  bool afterCr = false;
  bool finished = false;
  LoadOutcome outcome;
  uint8_t* const data = image.Data.get();

  // The end of a line (or of the file) completes what the line started.
  auto endLine = [&]() {
    if (place == Place::Address) {
      position = address;
      min = std::min(min, address);
    } else if (place == Place::SecondDigit) {
      outcome = {kRecordOddDigit, lineNumber};
      finished = true;
    }
    place = Place::LineStart;
  };

  try {
    FileReader file(path);
    // Sized to the file (one byte more sees its end in one read), at most
    // one block: a small file costs a small buffer.
    const std::size_t blockSize = std::min(kBlockSize, std::max<std::size_t>(256, file.SizeWhenOpened() + 1));
    const auto buffer = std::make_unique_for_overwrite<char[]>(blockSize);
    while (!finished) {
      const std::size_t n = file.Read(buffer.get(), blockSize);
      if (n == 0) {
        endLine();
        break;
      }
      for (std::size_t i = 0; i < n && !finished; ++i) {
        const char c = buffer[i];
        if (c == '\n' || c == '\r') {
          if (c == '\n' && afterCr) {  // the LF of a CR LF pair
            afterCr = false;
            continue;
          }
          endLine();
          if (finished) break;
          ++lineNumber;
          afterCr = c == '\r';
          continue;
        }
        afterCr = false;
        switch (place) {
          case Place::LineStart:
            if (c == ' ') break;
            if (c == 'q') {
              finished = true;
            } else if (c == '@') {
              address = 0;
              place = Place::Address;
            } else {
              firstDigit = c;
              place = Place::SecondDigit;
            }
            break;
          case Place::Address:
            address = address * 16 + static_cast<uint32_t>(HexDigit(c));
            break;
          case Place::Data:
            if (c == ' ') break;
            firstDigit = c;
            place = Place::SecondDigit;
            break;
          case Place::SecondDigit:
            if (position >= kImageCapacity) {
              outcome = {kRecordBeyondImage, lineNumber};
              finished = true;
              break;
            }
            data[position++] = HexPair(firstDigit, c);
            place = Place::Data;
            break;
        }
      }
    }
  } catch (const EInOutError&) {
    image.FileStart = min;
    image.FileEnd = kHexTextFileEnd;
    throw;
  }
  image.FileStart = min;
  image.FileEnd = kHexTextFileEnd;
  ReportLineStop(outcome, report);
  return outcome;
}

}  // namespace velkor
