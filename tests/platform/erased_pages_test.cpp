#include "platform/erased_pages.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/fresh_memory.hpp"

namespace velkor {
namespace {

// Kilobytes of private (written) pages of the mappings inside
// [base, base + size), from /proc/self/smaps.
std::size_t WrittenKb(const uint8_t* base, std::size_t size) {
  std::ifstream smaps("/proc/self/smaps");
  const auto low = reinterpret_cast<uintptr_t>(base);
  const uintptr_t high = low + size;
  std::size_t total = 0;
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    uintptr_t from = 0, to = 0;
    if (std::sscanf(line.c_str(), "%" SCNxPTR "-%" SCNxPTR " ", &from, &to) == 2 && line.find(' ') > line.find('-')) {
      inside = from >= low && to <= high + 4096;
      continue;
    }
    std::size_t kb = 0;
    if (inside && std::sscanf(line.c_str(), "Anonymous: %zu kB", &kb) == 1) total += kb;
  }
  return total;
}

bool AllErased(const uint8_t* data, std::size_t size) {
  return std::all_of(data, data + size, [](uint8_t b) { return b == 0xFF; });
}

// An odd size that is neither a page nor a pattern multiple, as the image's.
constexpr std::size_t kSize = (std::size_t{5} << 20) + 4097;

TEST(ErasedPages, ReadErasedUntilWrittenKeepWritesAndEraseAgain) {
  ErasedPages pages = MapErasedPages(kSize);
  ASSERT_TRUE(AllErased(pages.get(), kSize));
  // Writes at the start, across the seams between the pattern's mappings,
  // and at the very last byte.
  const std::size_t places[] = {0, (std::size_t{2} << 20) - 1, std::size_t{2} << 20, (std::size_t{4} << 20) + 3, kSize - 1};
  for (std::size_t at : places) pages[at] = static_cast<uint8_t>(at);
  for (std::size_t at : places) EXPECT_EQ(pages[at], static_cast<uint8_t>(at)) << at;
  EXPECT_EQ(pages[1], 0xFF);
  EXPECT_EQ(pages[(std::size_t{2} << 20) + 1], 0xFF);

  EraseAllPages(pages);
  EXPECT_TRUE(AllErased(pages.get(), kSize));
  pages[7] = 0x12;  // writable again after the erase
  EXPECT_EQ(pages[7], 0x12);
}

TEST(ErasedPages, OnlyWrittenPagesCostPrivateMemoryUntilTheErase) {
  constexpr std::size_t kWritten = std::size_t{1} << 20;
  ErasedPages pages = MapErasedPages(kSize);
  ASSERT_TRUE(AllErased(pages.get(), kSize));
  EXPECT_EQ(WrittenKb(pages.get(), kSize), 0u) << "reading made private copies";
  std::fill(pages.get(), pages.get() + kWritten, 0x00);
  EXPECT_EQ(WrittenKb(pages.get(), kSize), kWritten / 1024);
  EraseAllPages(pages);
  EXPECT_EQ(WrittenKb(pages.get(), kSize), 0u) << "written pages survive the erase";
  EXPECT_TRUE(AllErased(pages.get(), kSize));
}

TEST(ErasedPages, WrittenExtentEndsAtTheLastWrittenPage) {
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  ErasedPages pages = MapErasedPages(kSize);
  EXPECT_EQ(WrittenExtent(pages, kSize), 0u) << "nothing written yet";
  // Reading maps the pattern but writes nothing.
  EXPECT_TRUE(AllErased(pages.get(), kSize));
  EXPECT_EQ(WrittenExtent(pages, kSize), 0u) << "reading counted as writing";

  struct Case {
    std::size_t writeAt;
    std::size_t askEnd;
    std::size_t expected;
  };
  const std::size_t far = (std::size_t{3} << 20) + 5;
  const Case cases[] = {
      {0, kSize, page},                                 // the first byte
      {far, kSize, (far / page + 1) * page},             // in the middle
      {far, far + 1, far + 1},                          // never beyond end
      {far, far / page * page, page},                   // pages past end do not count
      {kSize - 1, kSize, kSize},                        // the last byte of an odd-sized span
  };
  for (const Case& c : cases) {
    EraseAllPages(pages);
    pages[0] = 0x00;  // an earlier page written too
    pages[c.writeAt] = 0x00;
    EXPECT_EQ(WrittenExtent(pages, c.askEnd), c.expected) << c.writeAt << " " << c.askEnd;
  }
  EraseAllPages(pages);
  EXPECT_EQ(WrittenExtent(pages, kSize), 0u) << "written pages survive the erase";
}

TEST(ErasedPages, MappingsAreIndependent) {
  ErasedPages first = MapErasedPages(kSize);
  ErasedPages second = MapErasedPages(kSize);
  first[100] = 0;
  EXPECT_EQ(second[100], 0xFF) << "the shared pattern was written through";
  FillPages(first, 0, std::size_t{1} << 20, [](uint8_t* at, std::size_t count) {
    std::fill(at, at + count, 0x00);
    return count;
  });
  EXPECT_TRUE(AllErased(second.get(), kSize));
  ErasedPages third = MapErasedPages(kSize);
  EXPECT_EQ(third[100], 0xFF);
  EraseAllPages(first);
  EXPECT_TRUE(AllErased(first.get(), kSize));
  EXPECT_TRUE(AllErased(third.get(), kSize));
}

// FillPages: the range holds what fill wrote, the rest of the range reads
// erased (fresh pages hold zeros until written), and the bytes around the
// range, in the pages it shares with them, are kept.
TEST(ErasedPages, AFilledRangeHoldsWhatFillWroteAndTheRestOfItReadsErased) {
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  ErasedPages pages = MapErasedPages(kSize);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(pages.get()) % kHugePageSpan, 0u) << "no range could get huge pages";
  struct Case {
    const char* what;
    std::size_t offset;
    std::size_t count;
    std::size_t written;
  };
  const Case cases[] = {
      {"whole pages", 0, std::size_t{1} << 20, std::size_t{1} << 20},
      {"partial pages at both ends", page - 1, (std::size_t{2} << 20) + 3, (std::size_t{2} << 20) + 3},
      {"fill stops early", (std::size_t{3} << 20) + 5, std::size_t{1} << 20, 1000},
      {"fill writes nothing", 12345, 200000, 0},
      {"up to the last byte", kSize - 70000, 70000, 70000},
      {"too small for pages of its own", 100, 10, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EraseAllPages(pages);
    std::vector<uint8_t> expected(kSize, 0xFF);
    const auto mark = [&](std::size_t at) {
      if (at >= kSize) return;
      pages[at] = 0x5A;
      expected[at] = 0x5A;
    };
    if (c.offset > 0) mark(c.offset - 1);
    mark(c.offset + c.count);
    const std::size_t got = FillPages(pages, c.offset, c.count, [&](uint8_t* at, std::size_t count) {
      EXPECT_EQ(at, pages.get() + c.offset);
      EXPECT_EQ(count, c.count);
      for (std::size_t i = 0; i < c.written; ++i) at[i] = static_cast<uint8_t>(i * 7 + 1);
      return c.written;
    });
    EXPECT_EQ(got, c.written);
    for (std::size_t i = 0; i < c.written; ++i) expected[c.offset + i] = static_cast<uint8_t>(i * 7 + 1);
    const auto differs = std::mismatch(expected.begin(), expected.end(), pages.get());
    EXPECT_EQ(differs.first, expected.end()) << "first difference at " << (differs.first - expected.begin());
  }
  EraseAllPages(pages);
  EXPECT_TRUE(AllErased(pages.get(), kSize)) << "fresh pages did not read erased after the erase";
  EXPECT_EQ(WrittenKb(pages.get(), kSize), 0u) << "fresh pages survive the erase";
}

TEST(ErasedPages, FilledPagesCountAsWrittenUntilTheEraseGivesThemBack) {
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  ErasedPages pages = MapErasedPages(kSize);
  // 3 MiB of whole pages, the first 2 MiB of them one huge page where the
  // system has them, and one page only partly filled.
  const std::size_t filled = (std::size_t{3} << 20) + 100;
  FillPages(pages, 0, filled, [](uint8_t* at, std::size_t count) {
    std::fill(at, at + count, 0x00);
    return count;
  });
  EXPECT_EQ(WrittenExtent(pages, kSize), (filled / page + 1) * page);
  EXPECT_EQ(WrittenKb(pages.get(), kSize), (filled / page + 1) * page / 1024) << "fresh memory beyond the range";
  EraseAllPages(pages);
  EXPECT_EQ(WrittenKb(pages.get(), kSize), 0u);
  EXPECT_EQ(WrittenExtent(pages, kSize), 0u);
  EXPECT_TRUE(AllErased(pages.get(), kSize));
}

// Whole pages inside the range go back erased, written and fresh pages
// alike; the pages at its ends that it only partly covers keep every byte.
TEST(ErasedPages, ErasingWholePagesGivesThemBackAndKeepsThePartlyCoveredOnes) {
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  ErasedPages pages = MapErasedPages(kSize);
  // Fresh memory over the first 3 MiB, written pages of the pattern mapping
  // beyond it.
  FillPages(pages, 0, std::size_t{3} << 20, [](uint8_t* at, std::size_t count) {
    std::fill(at, at + count, 0x00);
    return count;
  });
  std::fill(pages.get() + (std::size_t{3} << 20), pages.get() + (std::size_t{4} << 20), 0x11);
  const std::size_t from = page + 100;                        // inside page 1
  const std::size_t to = (std::size_t{3} << 20) + 5 * page + 7;  // inside a written page beyond the fresh memory
  EraseWholePages(pages, from, to - from);

  EXPECT_TRUE(std::all_of(pages.get(), pages.get() + 2 * page, [](uint8_t b) { return b == 0x00; }))
      << "the partly covered first page lost bytes";
  EXPECT_TRUE(AllErased(pages.get() + 2 * page, to / page * page - 2 * page));
  EXPECT_TRUE(std::all_of(pages.get() + to / page * page, pages.get() + (std::size_t{4} << 20),
                          [](uint8_t b) { return b == 0x11; }))
      << "the partly covered last page or the pages beyond lost bytes";
  // What is left written: the two end pages' pages and the rest of the 4 MiB.
  EXPECT_EQ(WrittenKb(pages.get(), kSize), (2 * page + (std::size_t{4} << 20) - to / page * page) / 1024);
  pages[3 * page] = 0x22;  // writable again
  EXPECT_EQ(pages[3 * page], 0x22);
}

}  // namespace
}  // namespace velkor
