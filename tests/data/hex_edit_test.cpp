// The hex views' edit model: typing, moving, filling, pasting, undo and redo,
// the edited-byte marks, find, and the checksums that follow each edit.
#include "data/hex_edit.hpp"

#include <gtest/gtest.h>

#include <random>

#include "data/byte_search.hpp"
#include "data/checksum_follow.hpp"
#include "data/comparison_follow.hpp"
#include "data/range_counts.hpp"
#include "data/text_format.hpp"
#include "link/checksum.hpp"
#include "recording_report.hpp"

namespace velkor {
namespace {

constexpr uint32_t kPage = 4096;  // the image's memory pages and the chips' blocks

class HexEditTest : public test::ImageFixture {
 protected:
  HexEditTest() : editor(image.Data.get()) {}

  void UseRange(uint32_t first, uint32_t last) {
    image.ChipStart = first;
    image.ChipEnd = last;
    editor.SetRange({first, last});
    UpdateChecksums(image, first, last, report);
  }
  void TypeText(std::u32string_view keys) {
    for (const char32_t key : keys) Follow(editor.Type(key));
  }
  void Follow(const std::optional<AppliedEdit>& edit) {
    if (edit) FollowEditInChecksums(image, *edit, report);
  }
  uint8_t At(uint32_t address) const { return image.Data[address]; }

  HexEditor editor;
};

TEST_F(HexEditTest, TypedDigitsOverwriteBytesAcrossAPageSeamAndStopAtTheLastByte) {
  UseRange(0, 2 * kPage - 1);
  editor.MoveTo(kPage - 1);
  TypeText(U"a1B2");
  EXPECT_EQ(At(kPage - 1), 0xA1);
  EXPECT_EQ(At(kPage), 0xB2);
  EXPECT_EQ(editor.Cursor(), kPage + 1);

  // The last byte takes both digits, and the cursor stays on it.
  editor.Move(HexMove::RangeEnd);
  TypeText(U"12");
  EXPECT_EQ(At(2 * kPage - 1), 0x12);
  EXPECT_EQ(editor.Cursor(), 2 * kPage - 1);
  TypeText(U"3");
  EXPECT_EQ(At(2 * kPage - 1), 0x32) << "a new first digit keeps the low one until the second comes";
  EXPECT_EQ(At(2 * kPage), kErasedByte) << "nothing is written past the range";

  // Keys that are not hex digits change nothing.
  const auto before = Bytes(0, 2 * kPage);
  TypeText(U"g \x7F");
  EXPECT_EQ(Bytes(0, 2 * kPage), before);
}

TEST_F(HexEditTest, TheTextColumnTakesPrintableCharacters) {
  UseRange(0, 255);
  editor.SetPane(HexPane::Text);
  editor.MoveTo(0x10);
  TypeText(U"Hi!\u00E9~");
  EXPECT_EQ(Bytes(0x10, 5), (std::vector<uint8_t>{'H', 'i', '!', '~', 0xFF})) << "é is not ASCII: it is skipped";
}

TEST_F(HexEditTest, UndoAndRedoWalkTheHistoryAndATwoDigitByteIsOneStep) {
  UseRange(0, 255);
  editor.MoveTo(0x20);
  TypeText(U"0102");  // two steps: 01, 02
  const uint8_t pattern[] = {0xAA, 0x55};
  Follow(editor.Fill({0x40, 0x44}, pattern));
  EXPECT_EQ(Bytes(0x40, 6), (std::vector<uint8_t>{0xAA, 0x55, 0xAA, 0x55, 0xAA, 0xFF}));

  Follow(editor.Undo());
  EXPECT_EQ(Bytes(0x40, 5), std::vector<uint8_t>(5, 0xFF));
  Follow(editor.Undo());
  EXPECT_EQ(Bytes(0x20, 2), (std::vector<uint8_t>{0x01, 0xFF}));
  Follow(editor.Redo());
  Follow(editor.Redo());
  EXPECT_EQ(Bytes(0x20, 2), (std::vector<uint8_t>{0x01, 0x02}));
  EXPECT_EQ(At(0x44), 0xAA);
  EXPECT_FALSE(editor.Redo());

  // A new edit after an undo cuts the redo branch.
  Follow(editor.Undo());
  editor.MoveTo(0x30);
  TypeText(U"77");
  EXPECT_FALSE(editor.CanRedo());
  for (int i = 0; i < 3; ++i) Follow(editor.Undo());
  EXPECT_FALSE(editor.CanUndo());
  EXPECT_EQ(Bytes(0, 256), std::vector<uint8_t>(256, 0xFF));
}

TEST_F(HexEditTest, EditedBytesAreMarkedUntilSavedAndUndoPastTheSaveMarksThemAgain) {
  UseRange(0, 255);
  editor.MoveTo(0x10);
  TypeText(U"11");
  EXPECT_TRUE(editor.Edited(0x10));
  EXPECT_FALSE(editor.Edited(0x11));
  editor.MarkSaved();
  EXPECT_FALSE(editor.Edited(0x10));

  TypeText(U"22");  // at 0x11
  EXPECT_TRUE(editor.Edited(0x11));
  Follow(editor.Undo());
  EXPECT_FALSE(editor.Edited(0x11)) << "back at the saved image";
  Follow(editor.Undo());
  EXPECT_TRUE(editor.Edited(0x10)) << "now older than the saved image";
  Follow(editor.Redo());
  EXPECT_FALSE(editor.Edited(0x10));

  // Saved, then undone, then a new edit: the undone step can no longer be
  // redone, and its byte stays unlike the saved one.
  editor.MarkSaved();
  Follow(editor.Undo());
  editor.MoveTo(0x50);
  TypeText(U"33");
  EXPECT_TRUE(editor.Edited(0x10));
  EXPECT_TRUE(editor.Edited(0x50));
  EXPECT_EQ(editor.EditedBytes(), 2u);

  editor.Forget();
  EXPECT_FALSE(editor.HasEdits());
  EXPECT_FALSE(editor.CanUndo());
}

TEST_F(HexEditTest, FillAndPasteAreCutToTheRange) {
  UseRange(0x100, 0x1FF);
  const uint8_t pattern[] = {1, 2, 3};
  const auto fill = editor.Fill({0xF0, 0x104}, pattern);
  ASSERT_TRUE(fill);
  EXPECT_EQ(fill->Range(), (ByteRange{0x100, 0x104}));
  EXPECT_EQ(Bytes(0xFF, 7), (std::vector<uint8_t>{0xFF, 1, 2, 3, 1, 2, 0xFF})) << "the pattern starts at the range's start";

  const uint8_t pasted[] = {9, 8, 7, 6};
  const auto paste = editor.Overwrite(0x1FE, pasted);
  ASSERT_TRUE(paste);
  EXPECT_EQ(paste->Range(), (ByteRange{0x1FE, 0x1FF}));
  EXPECT_EQ(Bytes(0x1FE, 3), (std::vector<uint8_t>{9, 8, 0xFF}));
  EXPECT_FALSE(editor.Overwrite(0x200, pasted)) << "beyond the range";
  EXPECT_FALSE(editor.Fill({0x300, 0x400}, pattern));
}

TEST_F(HexEditTest, MovesStayInTheRangeAndShiftSelects) {
  UseRange(0x10, 0x10 + 0x100 - 1);
  editor.SetPageRows(4);
  struct Case {
    uint32_t from;
    HexMove move;
    uint32_t to;
  };
  for (const Case& c : {Case{0x10, HexMove::Left, 0x10}, Case{0x10, HexMove::Up, 0x10}, Case{0x15, HexMove::Down, 0x25},
                        Case{0x10F, HexMove::Down, 0x10F}, Case{0x105, HexMove::Down, 0x105},
                        Case{0x10F, HexMove::Right, 0x10F}, Case{0x25, HexMove::RowStart, 0x20},
                        Case{0x25, HexMove::RowEnd, 0x2F}, Case{0x30, HexMove::PageDown, 0x70},
                        Case{0x100, HexMove::PageDown, 0x10F}, Case{0x30, HexMove::PageUp, 0x10},
                        Case{0x55, HexMove::RangeEnd, 0x10F}}) {
    editor.MoveTo(c.from);
    editor.Move(c.move);
    EXPECT_EQ(editor.Cursor(), c.to) << std::hex << c.from << " move " << static_cast<int>(c.move);
  }
  editor.MoveTo(0x40);
  editor.Move(HexMove::Down, true);
  editor.Move(HexMove::Right, true);
  EXPECT_EQ(editor.Selection(), (ByteRange{0x40, 0x51}));
  editor.MoveTo(0x30, true);
  EXPECT_EQ(editor.Selection(), (ByteRange{0x30, 0x40})) << "the anchor stays where the selection began";
  editor.Move(HexMove::Left);
  EXPECT_FALSE(editor.HasSelection());
}

TEST_F(HexEditTest, ChecksumsFollowEveryEditAsARecomputeWouldFindThem) {
  // A used range of 1 MiB with random data, then random typing, fills,
  // pastes, undos and redos, each followed without a pass over the range.
  constexpr uint32_t kLast = (1u << 20) - 1;
  std::mt19937 random(22);
  for (uint32_t i = 0; i <= kLast; ++i) image.Data[i] = static_cast<uint8_t>(random());
  UseRange(0, kLast);
  for (int round = 0; round < 300; ++round) {
    const uint32_t at = random() % (kLast + 1);
    switch (random() % 5) {
      case 0: editor.MoveTo(at); TypeText(U"5A"); break;
      case 1: {
        const uint8_t pattern[] = {static_cast<uint8_t>(random()), static_cast<uint8_t>(random())};
        Follow(editor.Fill({at, at + static_cast<uint32_t>(random() % 9000)}, pattern));
        break;
      }
      case 2: {
        const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7};
        Follow(editor.Overwrite(at, bytes));
        break;
      }
      case 3: Follow(editor.Undo()); break;
      default: Follow(editor.Redo()); break;
    }
  }
  editor.Move(HexMove::RangeEnd);
  TypeText(U"00");  // the last byte: the CRC's contribution is not shifted at all
  const uint16_t acc = image.AccSum16;
  const uint16_t crc = image.Crc16;
  EXPECT_EQ(crc, LinkCrc16(image.Data.get(), 0, kLast));
  EXPECT_EQ(acc, static_cast<uint16_t>(NegSum16(image.Data.get(), 0, kLast)));
  EXPECT_EQ(report.panel[kAccPanel], FormatText(kAccPanelText, unsigned{acc}));
}

TEST_F(HexEditTest, AComparisonFollowsEveryEditAsAFreshComparisonWouldFindIt) {
  // The other image: the same 64 KiB with scattered runs changed. A list
  // bound of 6 ranges, so that edits meet a cut list too.
  constexpr uint32_t kLast = 0xFFFF;
  constexpr std::size_t kBound = 6;
  std::mt19937 random(5);
  for (uint32_t i = 0; i <= kLast; ++i) image.Data[i] = static_cast<uint8_t>(random() % 4);
  std::vector<uint8_t> other(image.Data.get(), image.Data.get() + kLast + 1);
  for (int run = 0; run < 12; ++run) {
    const uint32_t at = random() % (kLast - 8);
    for (uint32_t i = 0; i < 1 + random() % 6; ++i) other[at + i] ^= 0x80;
  }
  UseRange(0, kLast);
  ImageComparison comparison = CompareImages(image.Data.get(), other.data(), 0, kLast, kBound);
  ASSERT_TRUE(comparison.truncated);
  for (int round = 0; round < 500; ++round) {
    const uint32_t at = random() % (kLast + 1);
    std::optional<AppliedEdit> edit;
    switch (random() % 4) {
      case 0: {  // the other image's byte: a difference goes
        const uint8_t byte = other[at];
        edit = editor.Overwrite(at, {&byte, 1});
        break;
      }
      case 1: {
        const uint8_t bytes[] = {0, 1, 2, 3, 0x80};
        edit = editor.Overwrite(at, bytes);
        break;
      }
      case 2: edit = editor.Undo(); break;
      default: edit = editor.Redo(); break;
    }
    if (!edit) continue;
    FollowEditInComparison(comparison, image.Data.get(), other.data(), *edit, kBound);
    const ImageComparison fresh = CompareImages(image.Data.get(), other.data(), 0, kLast, kBound);
    ASSERT_EQ(comparison.ranges, fresh.ranges) << "round " << round;
    ASSERT_EQ(comparison.differingBytes, fresh.differingBytes) << "round " << round;
    ASSERT_EQ(comparison.rangeCount, fresh.rangeCount) << "round " << round;
    ASSERT_EQ(comparison.truncated, fresh.truncated) << "round " << round;
  }
}

TEST(RangeCountsTest, AgreesWithACountPerByte) {
  // Random ranges added, and some taken away again, over 300 bytes; every
  // byte's cover and the covered total against a plain count per byte.
  std::mt19937 random(7);
  RangeCounts counts;
  std::vector<int> perByte(300, 0);
  std::vector<ByteRange> added;
  for (int round = 0; round < 400; ++round) {
    if (!added.empty() && random() % 3 == 0) {
      const std::size_t which = random() % added.size();
      counts.Remove(added[which]);
      for (uint32_t a = added[which].first; a <= added[which].last; ++a) --perByte[a];
      added.erase(added.begin() + static_cast<std::ptrdiff_t>(which));
    } else {
      const uint32_t first = random() % 280;
      const ByteRange range{first, first + static_cast<uint32_t>(random() % 20)};
      counts.Add(range);
      for (uint32_t a = range.first; a <= range.last; ++a) ++perByte[a];
      added.push_back(range);
    }
    uint64_t covered = 0;
    for (uint32_t a = 0; a < perByte.size(); ++a) {
      ASSERT_EQ(counts.Covered(a), perByte[a] > 0) << "round " << round << " byte " << a;
      covered += perByte[a] > 0;
    }
    ASSERT_EQ(counts.CoveredBytes(), covered) << "round " << round;
  }
  counts.Add({0xFFFFFFF0, 0xFFFFFFFF});  // up to the last address there is
  EXPECT_TRUE(counts.Covered(0xFFFFFFFF));
  EXPECT_FALSE(counts.Covered(0xFFFFFFEF));
}

TEST(LinkCrcAdvanceTest, EqualsFeedingZeroBytes) {
  std::vector<uint8_t> zeros(70000, 0);
  for (const uint16_t reg : {0x0001, 0x8000, 0x4A12, 0xFFFF}) {
    for (const uint32_t n : {0u, 1u, 2u, 15u, 4096u, 69999u}) {
      // The register after reg's bytes: LinkCrc16 of a message that leaves
      // reg, then n zeros, computed bit for bit by the reference routine.
      uint16_t expected = reg;
      for (uint32_t i = 0; i < n; ++i) expected = static_cast<uint16_t>(((expected & 1) ? 0x4A12 : 0) ^ (expected >> 1));
      EXPECT_EQ(AdvanceLinkCrc(reg, n), expected) << reg << " " << n;
    }
  }
  // And against the link's own routine: a byte followed by n zeros.
  std::vector<uint8_t> message(5000, 0);
  message[0] = 0xC3;
  EXPECT_EQ(AdvanceLinkCrc(0xC3, 4999), LinkCrc16(message.data(), 0, 4999));
}

class FindTest : public HexEditTest {};

TEST_F(FindTest, FindsForwardBackwardAndAcrossBlockSeams) {
  const uint32_t last = 4 * kPage - 1;
  UseRange(0, last);
  const std::vector<uint8_t> pattern = {0xDE, 0xAD, 0xBE, 0xEF};
  // At the start, across the first block seam, across a page seam and at
  // the very end of the range.
  const std::vector<uint32_t> places = {0, kPage - 2, 3 * kPage - 1, last - 3};
  for (const uint32_t at : places) std::copy(pattern.begin(), pattern.end(), image.Data.get() + at);
  const ByteRange range{0, last};

  std::vector<uint32_t> forward;
  for (auto at = FindBytes(image.Data.get(), range, pattern, 0, SearchDirection::Forward, false); at;
       at = FindBytes(image.Data.get(), range, pattern, *at + 1, SearchDirection::Forward, false))
    forward.push_back(*at);
  EXPECT_EQ(forward, places);

  std::vector<uint32_t> backward;
  for (auto at = FindBytes(image.Data.get(), range, pattern, last, SearchDirection::Backward, false); at && *at > 0;
       at = FindBytes(image.Data.get(), range, pattern, *at - 1, SearchDirection::Backward, false))
    backward.push_back(*at);
  EXPECT_EQ(backward, (std::vector<uint32_t>{last - 3, 3 * kPage - 1, kPage - 2}));

  // Wrapping goes on from the other end; without it the search ends.
  EXPECT_EQ(FindBytes(image.Data.get(), range, pattern, last - 2, SearchDirection::Forward, true), 0u);
  EXPECT_EQ(FindBytes(image.Data.get(), range, pattern, last - 2, SearchDirection::Forward, false), std::nullopt);
  EXPECT_EQ(FindBytes(image.Data.get(), {1, last}, pattern, 1, SearchDirection::Backward, true), last - 3);
  // A match that would run past the range is not one.
  EXPECT_EQ(FindBytes(image.Data.get(), {0, last - 1}, pattern, last - 3, SearchDirection::Forward, false), std::nullopt);
  const uint8_t absent[] = {0x12, 0x34};
  EXPECT_EQ(FindBytes(image.Data.get(), range, absent, 0, SearchDirection::Forward, true), std::nullopt);
}

TEST(HexBytesTest, ParsesWhatPeopleTypeAndSaysWhatIsWrong) {
  struct Case {
    const char* text;
    std::vector<uint8_t> bytes;  // empty: refused
  };
  for (const Case& c : {Case{"DE AD be ef", {0xDE, 0xAD, 0xBE, 0xEF}}, Case{"deadBEEF", {0xDE, 0xAD, 0xBE, 0xEF}},
                        Case{"0xDE, 0x1", {0xDE, 0x01}}, Case{"F", {0x0F}}, Case{"01:02-03;04\n05", {1, 2, 3, 4, 5}},
                        Case{"ABC", {}}, Case{"12 G4", {}}, Case{"0x", {}}, Case{"  ", {}}, Case{"12 ,", {0x12}}}) {
    std::string error;
    const auto bytes = ParseHexBytes(c.text, error);
    if (c.bytes.empty()) {
      EXPECT_FALSE(bytes) << c.text;
      EXPECT_FALSE(error.empty()) << c.text;
    } else {
      ASSERT_TRUE(bytes) << c.text << ": " << error;
      EXPECT_EQ(*bytes, c.bytes) << c.text;
    }
  }
  const std::vector<uint8_t> bytes = {0x00, 0x7F, 0xA5};
  EXPECT_EQ(HexBytesText(bytes), "00 7F A5");
  std::string error;
  EXPECT_EQ(ParseHexBytes(HexBytesText(bytes), error), bytes);
}

}  // namespace
}  // namespace velkor
