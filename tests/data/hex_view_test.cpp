// The hex grid rows and the paged viewer.
#include "data/hex_view.hpp"

#include <gtest/gtest.h>

#include "recording_report.hpp"

namespace velkor {
namespace {

using HexViewTest = test::ImageFixture;

TEST_F(HexViewTest, GridHeaderNamesTheByteColumns) {
  EXPECT_EQ(HexGridHeader(0), "");
  EXPECT_EQ(HexGridHeader(1), "  0");
  EXPECT_EQ(HexGridHeader(11), "  A");
  EXPECT_EQ(HexGridHeader(16), "  F");
  EXPECT_EQ(HexGridHeader(17), "");
}

TEST_F(HexViewTest, RowCountRoundsUpAndStaysInTheImage) {
  struct Case {
    uint32_t first, last;
    uint64_t rows;
  };
  for (const Case& c : {Case{0, 0xFF, 16}, Case{0, 0x100, 17}, Case{0, 0, 1}, Case{0x10, 0x1F, 1},
                        Case{0, 0x20FFFF, 135168}, Case{5, 4, 0}, Case{0, 0xFFFFFFFF, (kImageCapacity + 15) / 16},
                        Case{kImageCapacity, 0xFFFFFFFF, 0}}) {
    EXPECT_EQ(HexGridRowCount(c.first, c.last), c.rows) << c.first << ".." << c.last;
  }
}

TEST_F(HexViewTest, RowShowsAddressBytesAndText) {
  // A 256-byte EEPROM holding 0x00..0xFF.
  for (int i = 0; i < 256; ++i) image.Data[i] = static_cast<uint8_t>(i);
  const HexGridRow first = RenderHexGridRow(image, 0, 0);
  EXPECT_EQ(first.address, "0x00000000");
  EXPECT_EQ(first.bytes[0], "00");
  EXPECT_EQ(first.bytes[15], "0F");
  EXPECT_EQ(first.text, "................");
  const HexGridRow printable = RenderHexGridRow(image, 0, 4);
  EXPECT_EQ(printable.address, "0x00000040");
  EXPECT_EQ(printable.text, "@ABCDEFGHIJKLMNO");
  const HexGridRow withDel = RenderHexGridRow(image, 0, 7);
  EXPECT_EQ(withDel.bytes[15], "7F");
  EXPECT_EQ(withDel.text, std::string("pqrstuvwxyz{|}~\x7F"));  // 0x7F shows as itself
  const HexGridRow high = RenderHexGridRow(image, 0, 8);
  EXPECT_EQ(high.bytes[10], "8A");
  EXPECT_EQ(high.text, "................");
  // A grid starting at 0x8 shows its rows from there.
  EXPECT_EQ(RenderHexGridRow(image, 8, 1).address, "0x00000018");
  EXPECT_EQ(RenderHexGridRow(image, 8, 1).bytes[0], "18");
}

TEST_F(HexViewTest, LastRowOfTheImageLeavesCellsBeyondItEmpty) {
  image.Data[kImageCapacity - 1] = 0x41;
  const uint64_t rows = HexGridRowCount(0x8200000 - 0x10, 0xFFFFFFFF);
  ASSERT_EQ(rows, 2u);
  const HexGridRow last = RenderHexGridRow(image, 0x8200000 - 0x10, 1);
  EXPECT_EQ(last.address, "0x08200000");
  EXPECT_EQ(last.bytes[0], "41");
  EXPECT_EQ(last.bytes[1], "");
  EXPECT_EQ(last.bytes[15], "");
  EXPECT_EQ(last.text, "A");
}

TEST_F(HexViewTest, PageHasTheHeaderAndThirtyTwoLines) {
  image.Data[0x12340] = 0xAB;
  image.Data[0x1253F] = 0x01;
  const std::vector<std::string> page = RenderDataViewPage(image, 0x12340);
  ASSERT_EQ(page.size(), 33u);
  EXPECT_EQ(page[0], "            0   1   2   3   4   5   6   7   8   9   A   B   C   D   E   F");
  EXPECT_EQ(page[1], "0x00012340  AB  FF  FF  FF  FF  FF  FF  FF  FF  FF  FF  FF  FF  FF  FF  FF ");
  EXPECT_EQ(page[32], "0x00012530  FF  FF  FF  FF  FF  FF  FF  FF  FF  FF  FF  FF  FF  FF  FF  01 ");
  // The header's digits stand over the byte columns.
  EXPECT_EQ(page[0].find('A'), page[1].find("FF", 11 + 4 * 10));
}

TEST_F(HexViewTest, PageRunningPastTheImageShowsBlanks) {
  const std::vector<std::string> page = RenderDataViewPage(image, 0x8200000 - 0x1F0);
  EXPECT_EQ(page[32], "0x08200000  FF " + std::string(60, ' '));
}

TEST(DataViewPagerTest, FourMegabyteChip) {
  DataViewPager pager(0x3FFFFF);
  pager.End();
  EXPECT_EQ(pager.ViewStart(), 0x3FFE00u);
  pager.GoTo(0x3FFC00);
  pager.PageDown();
  EXPECT_EQ(pager.ViewStart(), 0x3FFE00u);
  pager.PageDown();
  EXPECT_EQ(pager.ViewStart(), 0x3FFE00u);
  pager.Home();
  EXPECT_EQ(pager.ViewStart(), 0u);
  pager.OnKey(DataViewKey::Down);
  EXPECT_EQ(pager.ViewStart(), 0x200u);
  pager.OnKey(DataViewKey::PageDown);
  EXPECT_EQ(pager.ViewStart(), 0x400u);
  pager.OnKey(DataViewKey::Up);
  EXPECT_EQ(pager.ViewStart(), 0x200u);
  // V = 512 is not above 512: Page Up goes to 0.
  pager.OnKey(DataViewKey::PageUp);
  EXPECT_EQ(pager.ViewStart(), 0u);
  pager.GoTo(0x100);
  pager.PageUp();
  EXPECT_EQ(pager.ViewStart(), 0u);
  pager.GoTo(0x301);  // rounded to 0x300
  pager.PageUp();
  EXPECT_EQ(pager.ViewStart(), 0x100u);
  pager.GoTo(0x410);
  pager.OnKey(DataViewKey::PageUp);
  EXPECT_EQ(pager.ViewStart(), 0x210u);
  pager.OnKey(DataViewKey::End);
  EXPECT_EQ(pager.ViewStart(), 0x3FFE00u);
  pager.Show();
  EXPECT_EQ(pager.ViewStart(), 0u);
}

TEST(DataViewPagerTest, GoRoundsDownAndStopsAtTheRangeEnd) {
  struct Case {
    uint32_t end, typed, view;
  };
  for (const Case& c : {Case{0x3FFFFF, 0x12345, 0x12340}, Case{0x3FFFFF, 0x500000, 0x3FFFF0},
                        Case{0x3FFFFF, 0xFFFFFFFF, 0x3FFFF0},  // "-1" typed
                        Case{0xFF, 0x80, 0x80}, Case{0, 5, 0}}) {
    DataViewPager pager(c.end);
    pager.GoTo(c.typed);
    EXPECT_EQ(pager.ViewStart(), c.view) << c.end << " " << c.typed;
  }
}

TEST(DataViewPagerTest, RangesShorterThanAPageStayAtZero) {
  // Unsigned arithmetic would start the last page below 0 (near 4 GiB) and,
  // up to E = 0x1FF, let Page Down step past the range.
  for (uint32_t end : {0u, 0x7Fu, 0xFFu, 0x1FEu, 0x1FFu}) {
    DataViewPager pager(end);
    EXPECT_EQ(pager.LastPageStart(), 0u) << end;
    pager.End();
    EXPECT_EQ(pager.ViewStart(), 0u) << end;
    pager.PageDown();
    EXPECT_EQ(pager.ViewStart(), 0u) << end;
    pager.PageDown();
    EXPECT_EQ(pager.ViewStart(), 0u) << end;
    pager.PageUp();
    EXPECT_EQ(pager.ViewStart(), 0u) << end;
  }
  // One byte more than a page: the last page starts at 1.
  DataViewPager pager(0x200);
  pager.PageDown();
  EXPECT_EQ(pager.ViewStart(), 1u);
  pager.PageDown();
  EXPECT_EQ(pager.ViewStart(), 1u);
}

TEST(DataViewPagerTest, RangeEndBeyondTheImageIsCut) {
  DataViewPager pager(0xFFFFFFFF);
  pager.End();
  EXPECT_EQ(pager.ViewStart(), kImageCapacity - kDataViewPageBytes);
  pager.GoTo(0xFFFFFFFF);
  EXPECT_EQ(pager.ViewStart(), (kImageCapacity - 1) & ~15u);
}

}  // namespace
}  // namespace velkor
