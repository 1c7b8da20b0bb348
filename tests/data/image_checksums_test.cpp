// The fast checksums against the link's reference routines on random data.
#include "data/image_checksums.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "link/checksum.hpp"

namespace velkor {
namespace {

std::vector<uint8_t> RandomBytes(std::size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

TEST(ImageChecksumsTest, AgreeWithTheReferenceRoutinesOnRandomRanges) {
  const std::vector<uint8_t> bytes = RandomBytes(1 << 20, 1234);
  std::mt19937 rng(99);
  std::uniform_int_distribution<uint32_t> offset(0, static_cast<uint32_t>(bytes.size() - 1));
  for (int i = 0; i < 2000; ++i) {
    uint32_t first = offset(rng);
    // Short ranges exercise the tails, long ones the blocks.
    uint32_t last = i % 2 ? first + rng() % 40 : offset(rng);
    last = std::min<uint32_t>(last, static_cast<uint32_t>(bytes.size() - 1));
    if (last < first) std::swap(first, last);
    ASSERT_EQ(LinkCrc16Sliced(bytes.data(), first, last), LinkCrc16(bytes.data(), first, last))
        << first << ".." << last;
    ASSERT_EQ(ByteSum32Wide(bytes.data(), first, last), ByteSum32(bytes.data(), first, last)) << first << ".." << last;
  }
  // The whole megabyte, and the known value of "abc".
  EXPECT_EQ(LinkCrc16Sliced(bytes.data(), 0, (1 << 20) - 1), LinkCrc16(bytes.data(), 0, (1 << 20) - 1));
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(LinkCrc16Sliced(abc, 0, 2), 0x2543);
}

TEST(ImageChecksumsTest, EmptyRangeGivesZero) {
  const uint8_t bytes[] = {1, 2, 3};
  EXPECT_EQ(LinkCrc16Sliced(bytes, 2, 1), 0);
  EXPECT_EQ(ByteSum32Wide(bytes, 2, 1), 0u);
}

TEST(ImageChecksumsTest, RangesBeyond16MibAreComputedWhole) {
  // The reference stops at 0xFFFFFF; the image checksum covers chips up to
  // 128 MiB, so the fast routine must carry on with the same register.
  const std::size_t size = (1 << 24) + 4099;
  const std::vector<uint8_t> bytes = RandomBytes(size, 7);
  uint16_t r = 0;
  uint32_t sum = 0;
  for (uint8_t b : bytes) {
    r = static_cast<uint16_t>((r >> 1) ^ b ^ ((r & 1) ? 0x4A12 : 0));
    sum += b;
  }
  EXPECT_EQ(LinkCrc16Sliced(bytes.data(), 0, static_cast<uint32_t>(size - 1)), r);
  EXPECT_EQ(ByteSum32Wide(bytes.data(), 0, static_cast<uint32_t>(size - 1)), sum);
  // Within the reference's range both agree on the same data.
  EXPECT_EQ(LinkCrc16Sliced(bytes.data(), 0, 0xFFFFFF), LinkCrc16(bytes.data(), 0, 0xFFFFFF));
}

TEST(ImageChecksumsTest, ByteSumWrapsAt32Bits) {
  // 16,843,010 bytes of 0xFF sum to 0x1000000FE: the result keeps 0xFE.
  const std::vector<uint8_t> ones(16843010 + 5, 0xFF);
  EXPECT_EQ(ByteSum32Wide(ones.data(), 0, 16843010 - 1), 0xFEu);
  EXPECT_EQ(ByteSum32Wide(ones.data(), 0, static_cast<uint32_t>(ones.size() - 1)), 0xFEu + 5 * 0xFFu);
}

}  // namespace
}  // namespace velkor
