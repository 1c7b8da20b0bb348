#include "link/checksum.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velkor {
namespace {

struct RangeCase {
  const char* name;
  std::vector<uint8_t> bytes;
  uint32_t first;
  uint32_t last;
  uint16_t crc;
  uint32_t negSum;
  uint32_t byteSum;
};

std::vector<uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

class ChecksumTest : public ::testing::TestWithParam<RangeCase> {};

TEST_P(ChecksumTest, AllThreeRoutines) {
  const RangeCase& c = GetParam();
  std::vector<uint8_t> padded = c.bytes;
  padded.resize(std::max<std::size_t>(padded.size(), 1));
  EXPECT_EQ(LinkCrc16(padded.data(), c.first, c.last), c.crc);
  EXPECT_EQ(NegSum16(padded.data(), c.first, c.last), c.negSum);
  EXPECT_EQ(ByteSum32(padded.data(), c.first, c.last), c.byteSum);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, ChecksumTest,
    ::testing::Values(
        RangeCase{"abc", Text("abc"), 0, 2, 0x2543, 0x10000 - (0x61 + 0x62 + 0x63), 0x61 + 0x62 + 0x63},
        RangeCase{"one_zero", {0x01, 0x00}, 0, 1, 0x4A12, 0xFFFF, 1},
        RangeCase{"single_one", {0x01}, 0, 0, 0x0001, 0xFFFF, 1},
        RangeCase{"one_two", {0x01, 0x02}, 0, 1, 0x4A10, 0xFFFD, 3},
        RangeCase{"all_zero", {0, 0, 0, 0}, 0, 3, 0, 0x10000, 0},
        RangeCase{"empty_range", {0x55, 0x66}, 1, 0, 0, 0x10000, 0},
        RangeCase{"inner_range", {0xFF, 0x61, 0x62, 0x63, 0xFF}, 1, 3, 0x2543, 0x10000 - 0x126, 0x126}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST(ChecksumTest, RangesBeyond16MibGiveZeroForTheLinkRoutines) {
  // Neither routine may touch the buffer for such a range.
  const uint8_t* nowhere = nullptr;
  EXPECT_EQ(LinkCrc16(nowhere, 0x1000000, 0x1000001), 0);
  EXPECT_EQ(LinkCrc16(nowhere, 0, 0x1000000), 0);
  EXPECT_EQ(NegSum16(nowhere, 0x1000000, 0x1000001), 0u);
}

TEST(ChecksumTest, NegSumWrapsAt16Bits) {
  // 258 bytes of 0xFF sum to 0x100FE; the 16-bit sum is 0x00FE.
  std::vector<uint8_t> bytes(258, 0xFF);
  EXPECT_EQ(NegSum16(bytes.data(), 0, 257), 0x10000u - 0x00FEu);
  EXPECT_EQ(ByteSum32(bytes.data(), 0, 257), 258u * 0xFFu);
}

TEST(ChecksumTest, ByteSumCoversRangesBeyond16Mib) {
  // The image checksum runs over up to 130 MiB; ByteSum32 has no range limit.
  std::vector<uint8_t> bytes(0x1000010, 1);
  EXPECT_EQ(ByteSum32(bytes.data(), 0, 0x100000F), 0x1000010u);
}

}  // namespace
}  // namespace velkor
