#include "sim/chip_memory.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace velkor::sim {
namespace {

TEST(ChipMemory, WritesAcrossPagesAndPastTheEnd) {
  struct Case {
    const char* name;
    uint64_t size;
    uint64_t offset;
    std::size_t length;
    WriteMode mode;
    std::size_t pages;  // held afterwards
  };
  const Case cases[] = {
      {"inside one page", 3 * 4096, 100, 50, WriteMode::Overwrite, 1},
      {"across a page boundary", 3 * 4096, 4000, 200, WriteMode::ClearBits, 2},
      {"across the chip's end", 4096 + 10, 4090, 40, WriteMode::Overwrite, 2},
      {"wholly past the end", 4096, 4096, 16, WriteMode::Overwrite, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChipMemory memory(c.size);
    std::vector<uint8_t> first(c.length);
    std::vector<uint8_t> second(c.length);
    for (std::size_t i = 0; i < c.length; ++i) {
      first[i] = static_cast<uint8_t>(0xF0 | i);
      second[i] = static_cast<uint8_t>(0x3C ^ i);
    }
    memory.Write(c.offset, first, c.mode);
    memory.Write(c.offset, second, c.mode);
    EXPECT_EQ(memory.PagesHeld(), c.pages);

    // Read a little around the written range.
    const uint64_t from = c.offset >= 8 ? c.offset - 8 : 0;
    std::vector<uint8_t> read(c.length + 16);
    memory.Read(from, read);
    for (std::size_t i = 0; i < read.size(); ++i) {
      const uint64_t at = from + i;
      uint8_t expected = 0xFF;
      if (at >= c.offset && at < c.offset + c.length && at < c.size) {
        const std::size_t k = static_cast<std::size_t>(at - c.offset);
        expected = c.mode == WriteMode::Overwrite ? second[k] : static_cast<uint8_t>(first[k] & second[k]);
      }
      ASSERT_EQ(read[i], expected) << "offset " << at;
    }
  }
}

TEST(ChipMemory, ErasedBytesTakeNoPagesAndEraseFreesThem) {
  ChipMemory memory(128u << 20);
  const std::vector<uint8_t> erased(8192, 0xFF);
  memory.Write(100u << 20, erased, WriteMode::Overwrite);
  memory.Write(0, erased, WriteMode::ClearBits);
  EXPECT_EQ(memory.PagesHeld(), 0u);
  EXPECT_TRUE(memory.IsErased());

  const uint8_t zero = 0;
  memory.Write((128u << 20) - 1, std::span(&zero, 1), WriteMode::ClearBits);
  EXPECT_EQ(memory.PagesHeld(), 1u);
  EXPECT_FALSE(memory.IsErased());
  memory.Erase();
  EXPECT_EQ(memory.PagesHeld(), 0u);
  EXPECT_TRUE(memory.IsErased());
}

}  // namespace
}  // namespace velkor::sim
