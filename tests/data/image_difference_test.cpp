// Where two copies of a chip's data differ, checked against a plain
// byte-by-byte loop over the same data.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "data/image_difference.hpp"

namespace velkor {
namespace {

// The naive answer: every differing address, in order.
std::vector<ByteDifference> EveryDifference(const std::vector<uint8_t>& expected, const std::vector<uint8_t>& found,
                                            uint32_t base) {
  std::vector<ByteDifference> all;
  for (std::size_t i = 0; i < expected.size(); ++i)
    if (expected[i] != found[i]) all.push_back({static_cast<uint32_t>(base + i), expected[i], found[i]});
  return all;
}

TEST(ImageDifferenceTest, CountsAndListsTheLowestDifferencesWhereverTheyFallInTheSlices) {
  struct Case {
    const char* name;
    std::vector<std::size_t> flipped;  // offsets in a 4 KB block
  };
  const Case cases[] = {
      {"none", {}},
      {"first and last byte", {0, 4095}},
      {"around a slice boundary", {255, 256, 257}},
      {"more than the list holds", {4095, 3000, 17, 18, 19, 20, 21, 22, 23, 24, 25, 2048}},
  };
  std::mt19937 random(7);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::vector<uint8_t> expected(4096);
    for (auto& b : expected) b = static_cast<uint8_t>(random());
    std::vector<uint8_t> found = expected;
    for (std::size_t at : k.flipped) found[at] ^= 0x21;
    DifferenceReport report;
    CompareBytes(report, 0x10000, expected, found);
    const auto all = EveryDifference(expected, found, 0x10000);
    EXPECT_EQ(report.compared, 4096u);
    EXPECT_EQ(report.count, all.size());
    const std::vector<ByteDifference> lowest(all.begin(), all.begin() + std::min(all.size(), kListedDifferences));
    EXPECT_EQ(report.listed, lowest);
    EXPECT_EQ(report.FirstAddress().has_value(), !all.empty());
  }
}

TEST(ImageDifferenceTest, PiecesInAnyOrderKeepTheLowestAddressesAndErasedMemoryIsAllOnes) {
  // A DataFlash block brings a main area, then a spare area far above it,
  // then the next main area: the list must still start at the lowest.
  DifferenceReport report;
  std::vector<uint8_t> spare(16, 0xFF);
  spare[3] = 0x00;
  CompareWithErased(report, 0x200003 - 3, spare);
  std::vector<uint8_t> main(512, 0xFF);
  for (std::size_t i = 100; i < 110; ++i) main[i] = 0x12;
  CompareWithErased(report, 0x200, main);
  EXPECT_EQ(report.compared, 16u + 512u);
  EXPECT_EQ(report.count, 11u);
  ASSERT_EQ(report.listed.size(), kListedDifferences);
  EXPECT_EQ(report.listed.front(), (ByteDifference{0x200 + 100, 0xFF, 0x12}));
  EXPECT_EQ(report.listed.back().address, 0x200u + 107);
  EXPECT_EQ(DifferenceSummary(report), "11 bytes differ, the first at 0x00000264");
  EXPECT_EQ(DifferenceLine(report.listed.front()), "0x00000264: expected 0xFF, found 0x12");
  EXPECT_EQ(DifferenceSummary(DifferenceReport{}), "no byte differs");
}

}  // namespace
}  // namespace velkor
