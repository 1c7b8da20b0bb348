// Where two images differ, as ranges: cases built with known ranges, a
// check against a plain byte-by-byte walk, and the look-ups that step
// through the ranges.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "data/image_compare.hpp"

namespace velkor {
namespace {

struct ByteRun {
  uint32_t address;
  uint32_t length;
};

// Two images of size bytes: a random, b the same but for the runs given.
struct ImagePair {
  std::vector<uint8_t> a;
  std::vector<uint8_t> b;

  ImagePair(std::size_t size, const std::vector<ByteRun>& differing, unsigned seed = 11) : a(size) {
    std::mt19937 random(seed);
    for (auto& byte : a) byte = static_cast<uint8_t>(random());
    b = a;
    for (const ByteRun& run : differing)
      for (uint32_t i = 0; i < run.length; ++i) b[run.address + i] = static_cast<uint8_t>(~a[run.address + i]);
  }
};

// The range the test expects, with the first bytes taken from the images.
DifferingRange Expected(const ImagePair& images, ByteRun run) {
  DifferingRange range{run.address, run.length, {}, {}};
  for (uint32_t i = 0; i < run.length && i < kRangeBytesKept; ++i) {
    range.firstOfA.push_back(images.a[run.address + i]);
    range.firstOfB.push_back(images.b[run.address + i]);
  }
  return range;
}

TEST(ImageCompareTest, RangesAreRunsOfDifferingBytesWhereverTheSlicesFall) {
  // The range compared starts off a slice boundary on purpose.
  constexpr uint32_t kFirst = 0x100;
  constexpr uint32_t kLast = 0x2FF0;
  struct Case {
    const char* name;
    std::vector<ByteRun> differing;  // written into b, inside and outside the range
    std::vector<ByteRun> expected;   // what the comparison must list
  };
  const Case cases[] = {
      {"equal images", {}, {}},
      {"differences outside the range only", {{0xFF, 1}, {kLast + 1, 4}}, {}},
      {"the first byte of the range", {{0xF0, 0x11}}, {{kFirst, 1}}},
      {"the last byte of the range", {{kLast, 2}}, {{kLast, 1}}},
      {"adjacent bytes form one range", {{0x500, 5}}, {{0x500, 5}}},
      {"one equal byte between keeps two ranges", {{0x600, 2}, {0x603, 1}}, {{0x600, 2}, {0x603, 1}}},
      {"across a 256-byte boundary", {{0x1FE, 4}}, {{0x1FE, 4}}},
      {"across a 4 KiB boundary", {{0xFFC, 8}}, {{0xFFC, 8}}},
      {"over several whole slices", {{0x7F0, 0x320}}, {{0x7F0, 0x320}}},
      {"a slice's last byte and the next slice's first are apart",
       {{0x2FF, 1}, {0x301, 1}},
       {{0x2FF, 1}, {0x301, 1}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const ImagePair images(0x3000, k.differing);
    const ImageComparison c = CompareImages(images.a.data(), images.b.data(), kFirst, kLast, 100);
    std::vector<DifferingRange> expected;
    uint64_t bytes = 0;
    for (const ByteRun& run : k.expected) {
      expected.push_back(Expected(images, run));
      bytes += run.length;
    }
    EXPECT_EQ(c.ranges, expected);
    EXPECT_EQ(c.differingBytes, bytes);
    EXPECT_EQ(c.rangeCount, expected.size());
    EXPECT_EQ(c.compared, uint64_t{kLast - kFirst + 1});
    EXPECT_EQ(c.Equal(), expected.empty());
    EXPECT_FALSE(c.truncated);
  }
}

// Past the bound the list stops, but every byte and every range is still
// counted: runs of several bytes past the bound count once each.
TEST(ImageCompareTest, TheBoundCutsTheListButNotTheCounts) {
  const std::vector<ByteRun> runs = {{0x10, 3}, {0x20, 1}, {0x30, 5}, {0x40, 2}, {0x50, 7}, {0x60, 1}};
  const ImagePair images(0x100, runs);
  struct Case {
    std::size_t bound;
    std::size_t listed;
  };
  for (const Case k : {Case{0, 0}, Case{1, 1}, Case{3, 3}, Case{6, 6}, Case{7, 6}}) {
    SCOPED_TRACE(k.bound);
    const ImageComparison c = CompareImages(images.a.data(), images.b.data(), 0, 0xFF, k.bound);
    ASSERT_EQ(c.ranges.size(), k.listed);
    for (std::size_t i = 0; i < k.listed; ++i) EXPECT_EQ(c.ranges[i], Expected(images, runs[i]));
    EXPECT_EQ(c.differingBytes, 19u);
    EXPECT_EQ(c.rangeCount, 6u);
    EXPECT_EQ(c.truncated, k.bound < runs.size());
    EXPECT_FALSE(c.Equal());
  }
}

// Random runs of random lengths over a stretch of many slices, against the
// plainest walk there is.
TEST(ImageCompareTest, AgreesWithAByteByByteWalk) {
  std::mt19937 random(5);
  std::vector<ByteRun> runs;
  for (uint32_t at = 3; at < 0x20000;) {
    const uint32_t length = 1 + random() % (random() % 4 == 0 ? 600 : 4);
    if (at + length > 0x20000) break;
    runs.push_back({at, length});
    at += length + 1 + random() % 3000;
  }
  const ImagePair images(0x20000, runs);
  std::vector<DifferingRange> walked;
  for (uint32_t i = 0; i < images.a.size(); ++i) {
    if (images.a[i] == images.b[i]) continue;
    if (walked.empty() || walked.back().Last() + 1 != i) walked.push_back({i, 0, {}, {}});
    DifferingRange& range = walked.back();
    if (range.length++ < kRangeBytesKept) {
      range.firstOfA.push_back(images.a[i]);
      range.firstOfB.push_back(images.b[i]);
    }
  }
  const ImageComparison c = CompareImages(images.a.data(), images.b.data(), 0, 0x1FFFF, kDefaultListedRanges);
  ASSERT_GT(walked.size(), 20u);
  EXPECT_EQ(c.ranges, walked);
  EXPECT_EQ(c.rangeCount, runs.size());
}

TEST(ImageCompareTest, LookUpsFindTheRangesAroundAnAddress) {
  const ImagePair images(0x400, {{0x100, 1}, {0x200, 4}, {0x300, 2}});
  const ImageComparison c = CompareImages(images.a.data(), images.b.data(), 0, 0x3FF, 10);
  ASSERT_EQ(c.ranges.size(), 3u);
  using Index = std::optional<std::size_t>;
  struct Case {
    uint32_t address;
    Index firstFrom;  // the first range starting at or after address
    Index lastUpTo;   // the last range starting at or before address
    Index holding;
  };
  const Case cases[] = {
      {0x000, 0, std::nullopt, std::nullopt},
      {0x0FF, 0, std::nullopt, std::nullopt},
      {0x100, 0, 0, 0},
      {0x101, 1, 0, std::nullopt},
      {0x1FF, 1, 0, std::nullopt},
      {0x200, 1, 1, 1},
      {0x203, 2, 1, 1},
      {0x204, 2, 1, std::nullopt},
      {0x301, std::nullopt, 2, 2},
      {0x302, std::nullopt, 2, std::nullopt},
      {0xFFFFFFFF, std::nullopt, 2, std::nullopt},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.address);
    EXPECT_EQ(c.FirstRangeFrom(k.address), k.firstFrom);
    EXPECT_EQ(c.LastRangeUpTo(k.address), k.lastUpTo);
    EXPECT_EQ(c.RangeHolding(k.address), k.holding);
    EXPECT_EQ(c.Differs(k.address), k.holding.has_value());
  }
  const ImageComparison none = CompareImages(images.a.data(), images.a.data(), 0, 0x3FF, 10);
  EXPECT_EQ(none.FirstRangeFrom(0), std::nullopt);
  EXPECT_EQ(none.LastRangeUpTo(0xFFFFFFFF), std::nullopt);
  EXPECT_FALSE(none.Differs(0x100));
}

TEST(ImageCompareTest, SummaryAndRangeLinesNameTheRangesAndTheirFirstBytes) {
  std::vector<uint8_t> a(0x40, 0xFF);
  std::vector<uint8_t> b = a;
  b[0x05] = 0x12;
  for (uint8_t i = 0; i < 10; ++i) b[0x10 + i] = i;
  b[0x30] = 0xA0;
  b[0x31] = 0xA1;
  const ImageComparison listed = CompareImages(a.data(), b.data(), 0, 0x3F, 10);
  ASSERT_EQ(listed.ranges.size(), 3u);
  EXPECT_EQ(DifferingRangeLine(listed.ranges[0]), "0x00000005  1 byte  A: FF  B: 12");
  EXPECT_EQ(DifferingRangeLine(listed.ranges[1]),
            "0x00000010  10 bytes  A: FF FF FF FF FF FF FF FF …  B: 00 01 02 03 04 05 06 07 …");
  EXPECT_EQ(DifferingRangeLine(listed.ranges[2]), "0x00000030  2 bytes  A: FF FF  B: A0 A1");
  EXPECT_EQ(ComparisonSummary(listed),
            "The images differ over 0x00000000-0x0000003F: 13 of 64 bytes differ; differing ranges: 3.");
  EXPECT_EQ(ComparisonSummary(CompareImages(a.data(), b.data(), 0, 0x3F, 2)),
            "The images differ over 0x00000000-0x0000003F: 13 of 64 bytes differ; differing ranges: 3, the first 2 "
            "listed.");
  EXPECT_EQ(ComparisonSummary(CompareImages(a.data(), a.data(), 0, 0x3F, 2)),
            "The images are equal over 0x00000000-0x0000003F (64 bytes compared).");
}

}  // namespace
}  // namespace velkor
