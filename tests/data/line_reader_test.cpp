// Lines split at LF, CR LF and lone CR whatever the block size, long lines
// cut to the block, and the hex digit rule of the text parsers.
#include "data/line_reader.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "data/hex_digits.hpp"
#include "recording_report.hpp"

namespace velkor {
namespace {

struct Line {
  std::string text;
  bool cut;
  bool operator==(const Line&) const = default;
};
void PrintTo(const Line& l, std::ostream* os) { *os << '"' << l.text << '"' << (l.cut ? " (cut)" : ""); }

// A plain splitter to compare with: a line no shorter than the block comes
// back cut to the block.
std::vector<Line> Split(const std::string& text, std::size_t block) {
  std::vector<Line> lines;
  std::string current;
  bool open = false;
  auto finish = [&] {
    if (current.size() >= block) {
      lines.push_back({current.substr(0, block), true});
    } else {
      lines.push_back({current, false});
    }
    current.clear();
    open = false;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      finish();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current += c;
      open = true;
    }
  }
  if (open) finish();
  return lines;
}

std::vector<Line> ReadAll(const std::filesystem::path& path, std::size_t block) {
  LineReader reader(path, block);
  std::vector<Line> lines;
  std::string_view line;
  while (reader.Next(line)) {
    lines.push_back({std::string(line), reader.Cut()});
    EXPECT_EQ(reader.LineNumber(), lines.size());
  }
  return lines;
}

using LineReaderTest = test::ImageFixture;

TEST_F(LineReaderTest, SplitsLikeAPlainSplitterForEveryBlockSize) {
  std::mt19937 rng(5);
  std::string random;
  const char alphabet[] = {'a', 'b', '\r', '\n', ':', '0'};
  for (int i = 0; i < 3000; ++i) random += alphabet[rng() % sizeof alphabet];
  const std::vector<std::string> texts = {
      "one\ntwo\r\nthree\rfour",  // no end at the end
      "\r\n\r\n\n\r\r",           // empty lines only
      "ab\r\ncd\r",               // CR as the very last byte
      std::string(40, 'x') + "\r\n" + std::string(7, 'y') + "\n",
      random,
  };
  for (std::size_t t = 0; t < texts.size(); ++t) {
    const auto path = Write("lines" + std::to_string(t), texts[t]);
    for (std::size_t block : {1, 2, 3, 5, 8, 13, 15, 16, 17, 21, 24, 31, 32, 33, 64, 4096}) {
      EXPECT_EQ(ReadAll(path, block), Split(texts[t], block)) << "text " << t << ", block " << block;
    }
  }
}

TEST_F(LineReaderTest, ABufferSizedToTheFileGrowsForLinesAddedAfterTheOpen) {
  // The buffer starts at the file's size when it is opened; lines written
  // after that still come whole up to the block size, and cut beyond it.
  const std::string longLine(5000, 'z');
  const std::string added = longLine + "\r\n" + std::string(300, 'q') + "\nend";
  for (const std::size_t block : {std::size_t{1} << 20, std::size_t{4096}, std::size_t{1000}}) {
    SCOPED_TRACE(block);
    const auto path = Write("growing", "short\n");
    LineReader reader(path, block);
    std::ofstream(path, std::ios::app) << added;
    std::vector<Line> lines;
    std::string_view line;
    while (reader.Next(line)) lines.push_back({std::string(line), reader.Cut()});
    EXPECT_EQ(lines, Split("short\n" + added, block));
  }
}

TEST_F(LineReaderTest, EmptyFileHasNoLines) {
  EXPECT_TRUE(ReadAll(Write("empty", ""), 8).empty());
}

TEST(HexDigitRuleTest, EveryPairOfCharacters) {
  // 'A'..'Z' code - 55, 'a'..'z' code - 87, anything else code - 48, pair
  // = first * 16 + second cut to 8 bits.
  auto digit = [](int c) { return c >= 'A' && c <= 'Z' ? c - 55 : c >= 'a' && c <= 'z' ? c - 87 : c - 48; };
  for (int first = 0; first < 256; ++first) {
    EXPECT_EQ(HexDigit(static_cast<char>(first)), digit(first));
    for (int second = 0; second < 256; ++second) {
      const char text[2] = {static_cast<char>(first), static_cast<char>(second)};
      uint8_t out = 0;
      ASSERT_EQ(DecodePairs(text, 1, &out), static_cast<uint8_t>(digit(first) * 16 + digit(second)))
          << first << " " << second;
      ASSERT_EQ(out, static_cast<uint8_t>(digit(first) * 16 + digit(second)));
    }
  }
  EXPECT_EQ(HexPair('7', 'f'), 0x7F);
  EXPECT_EQ(HexPair('G', 'G'), 0x10);  // 16 * 16 + 16
}

// Records decode many pairs at once: every pair of characters, in every
// place of a run of up to 40 pairs, gives what it gives alone, and the
// sum is the sum of the values.
TEST(HexDigitRuleTest, RunsOfPairsDecodeAsEachPairAlone) {
  for (const uint32_t count : {1u, 15u, 16u, 17u, 31u, 32u, 33u, 40u}) {
    SCOPED_TRACE(count);
    for (int first = 0; first < 256; ++first) {
      for (int shift = 0; shift < 16; ++shift) {
        std::string text;
        for (uint32_t j = 0; j < count; ++j) {
          const char a = static_cast<char>(first);
          const char b = static_cast<char>((first * 31 + static_cast<int>(j) * 16 + shift) & 0xFF);
          text += j % 2 ? std::string{b, a} : std::string{a, b};
        }
        std::vector<uint8_t> out(count);
        uint32_t sum = 0;
        std::vector<uint8_t> expected(count);
        for (uint32_t j = 0; j < count; ++j) {
          expected[j] = HexPair(text[2 * j], text[2 * j + 1]);
          sum += expected[j];
        }
        ASSERT_EQ(DecodePairs(text.data(), count, out.data()), sum) << first << " " << shift;
        ASSERT_EQ(out, expected) << first << " " << shift;
      }
    }
  }
}

}  // namespace
}  // namespace velkor
