// Editing, finding and comparing through the window's commands: what lands
// in the image and in saved files, the checksums against the link's own
// routines, the refusals while a programmer works, and the comparison kept
// up to date while the image is edited.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/checksum.hpp"
#include "programmer_fixture.hpp"
#include "support/files.hpp"

namespace velkor {
namespace {

using test::ProgrammerFixture;
using test::ReadFile;
using test::WriteFile;

constexpr uint32_t kChipBytes = 2048;  // 24xx16

class ImageEditCommandsTest : public ProgrammerFixture {
 protected:
  ImageEditCommandsTest() {
    programmer->FormShow();
    Choose("24xx16");
    // 0x00, 0x01, ... 0xFF, 0x00, ... over the whole chip.
    std::string bytes(kChipBytes, '\0');
    for (uint32_t i = 0; i < kChipBytes; ++i) bytes[i] = static_cast<char>(i & 0xFF);
    WriteFile(directory / "counting.bin", bytes);
    programmer->LoadFile((directory / "counting.bin").string());
    view.messages.clear();
  }
  TQNProgrammer& p() { return *programmer; }
  uint8_t At(uint32_t address) { return p().Image.Data[address]; }
  void Type(std::u32string_view keys) {
    for (const char32_t key : keys) p().TypeIntoImage(key);
  }
  // The checksums the status bar shows, against the link's routines over
  // the whole EEPROM.
  void ExpectChecksumsOfTheImage() {
    const uint8_t* data = p().Image.Data.get();
    EXPECT_EQ(p().Image.Crc16, LinkCrc16(data, 0, kChipBytes - 1));
    EXPECT_EQ(p().Image.AccSum16, static_cast<uint16_t>(NegSum16(data, 0, kChipBytes - 1)));
    char crc[32];
    std::snprintf(crc, sizeof crc, "CRC CheckSum : 0x%04X", unsigned{LinkCrc16(data, 0, kChipBytes - 1)});
    EXPECT_EQ(p().Controls.StatusPanel1.Caption, crc);
  }
};

TEST_F(ImageEditCommandsTest, TypedBytesLandInTheImageTheChecksumsAndTheSavedFile) {
  p().Editor.MoveTo(kChipBytes - 2);
  Type(U"C0fF");  // the last two bytes
  EXPECT_EQ(At(kChipBytes - 2), 0xC0);
  EXPECT_EQ(At(kChipBytes - 1), 0xFF);
  ExpectChecksumsOfTheImage();
  EXPECT_EQ(p().Controls.StatusPanel4.Caption, "Edited: 2 bytes");
  ASSERT_FALSE(view.hexBytesChanged.empty());
  EXPECT_EQ(view.hexBytesChanged.back(), (std::pair<uint32_t, uint32_t>{kChipBytes - 1, kChipBytes - 1}));

  p().UndoImageEdit();
  EXPECT_EQ(At(kChipBytes - 1), (kChipBytes - 1) & 0xFF);
  ExpectChecksumsOfTheImage();
  p().RedoImageEdit();

  // The saved binary holds the edited bytes; the marks go with the save.
  view.fileAnswers.push_back((directory / "saved.bin").string());
  p().FileSaveBtnClick();
  const std::string saved = ReadFile(directory / "saved.bin");
  ASSERT_EQ(saved.size(), kChipBytes);
  EXPECT_EQ(static_cast<uint8_t>(saved[kChipBytes - 2]), 0xC0);
  EXPECT_EQ(static_cast<uint8_t>(saved[kChipBytes - 1]), 0xFF);
  EXPECT_EQ(static_cast<uint8_t>(saved[5]), 5);
  EXPECT_FALSE(p().Editor.HasEdits());
  EXPECT_EQ(p().Controls.StatusPanel4.Caption, "");

  // A new load starts a new history.
  p().LoadFile((directory / "counting.bin").string());
  EXPECT_FALSE(p().Editor.CanUndo());
  EXPECT_EQ(At(kChipBytes - 1), (kChipBytes - 1) & 0xFF);
}

TEST_F(ImageEditCommandsTest, EditsAreRefusedWhileAProgrammerWorks) {
  p().Channels.Channel(2).Busy = true;
  p().Editor.MoveTo(0x10);
  Type(U"AB");
  view.clipboardText = "01 02";
  p().PasteBytes1Click();
  p().UndoImageEdit();
  EXPECT_EQ(At(0x10), 0x10);
  EXPECT_EQ(At(0x11), 0x11);
  ASSERT_FALSE(view.messages.empty());
  EXPECT_NE(view.messages.front().text.find("editing the image"), std::string::npos) << view.messages.front().text;
}

TEST_F(ImageEditCommandsTest, FillPasteAndCopyGoThroughTheirDialogsAndTheClipboard) {
  p().Editor.MoveTo(0x100);
  p().Editor.MoveTo(0x104, true);
  view.textAnswers.push_back("de ad");
  p().FillSelection1Click();
  EXPECT_EQ(std::vector<uint8_t>(p().Image.Data.get() + 0xFF, p().Image.Data.get() + 0x106),
            (std::vector<uint8_t>{0xFF, 0xDE, 0xAD, 0xDE, 0xAD, 0xDE, 0x05}));
  ASSERT_EQ(view.textLabels.size(), 1u);
  EXPECT_NE(view.textLabels[0].find("0x00000100-0x00000104"), std::string::npos);

  view.textAnswers.push_back("not hex");
  p().FillSelection1Click();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].kind, MessageKind::Warning);
  EXPECT_EQ(At(0x100), 0xDE);

  p().CopyBytes1Click();
  EXPECT_EQ(view.clipboard, "DE AD DE AD DE");

  // Pasted at the cursor, cut at the chip's end.
  p().Editor.MoveTo(kChipBytes - 2);
  view.clipboardText = "0x11, 0x22, 0x33";
  p().PasteBytes1Click();
  EXPECT_EQ(At(kChipBytes - 2), 0x11);
  EXPECT_EQ(At(kChipBytes - 1), 0x22);
  EXPECT_EQ(At(kChipBytes), kErasedByte);
  ExpectChecksumsOfTheImage();
}

TEST_F(ImageEditCommandsTest, FindSelectsEachMatchInTurnAndWraps) {
  // "Hi" at 0x123 and 0x7FE (the last two bytes).
  for (const uint32_t at : {0x123u, kChipBytes - 2}) {
    p().Editor.MoveTo(at);
    p().Editor.SetPane(HexPane::Text);
    Type(U"Hi");
  }
  p().Editor.MoveTo(0);
  view.findAnswers.push_back(FindRequest{"Hi", false, SearchDirection::Forward, true});
  p().Find1Click();
  EXPECT_EQ(p().Editor.Selection(), (ByteRange{0x123, 0x124}));
  EXPECT_TRUE(p().FindAgain(SearchDirection::Forward));
  EXPECT_EQ(p().Editor.Selection(), (ByteRange{kChipBytes - 2, kChipBytes - 1}));
  EXPECT_TRUE(p().FindAgain(SearchDirection::Forward));
  EXPECT_EQ(p().Editor.Selection().first, 0x123u) << "wrapped to the start";
  EXPECT_TRUE(p().FindAgain(SearchDirection::Backward));
  EXPECT_EQ(p().Editor.Selection().first, kChipBytes - 2) << "wrapped to the end";

  // The counting data holds 12 34 at 0x012 and every 256 bytes after.
  view.findAnswers.push_back(FindRequest{"12 13 14", true, SearchDirection::Backward, false});
  p().Find1Click();
  EXPECT_EQ(p().Editor.Selection(), (ByteRange{0x712, 0x714}));
  view.findAnswers.push_back(FindRequest{"AA BB", true, SearchDirection::Forward, true});
  EXPECT_FALSE(p().FindInImage(*view.findAnswers.front()));
  EXPECT_EQ(view.lines.back(), Line("AA BB not found."));
}

TEST_F(ImageEditCommandsTest, AComparisonListsTheRangesAndFollowsEdits) {
  // The other file: the counting data with bytes 0x010-0x012 and 0x014
  // changed, and the last byte.
  std::string other(kChipBytes, '\0');
  for (uint32_t i = 0; i < kChipBytes; ++i) other[i] = static_cast<char>(i & 0xFF);
  for (const uint32_t at : {0x10u, 0x11u, 0x12u, 0x14u, kChipBytes - 1}) other[at] = 0x5A;
  WriteFile(directory / "other.bin", other);
  p().CompareWithFile((directory / "other.bin").string());
  ASSERT_TRUE(p().Comparison);
  const auto ranges = [&] {
    std::vector<std::pair<uint32_t, uint32_t>> list;
    for (const DifferingRange& r : p().Comparison->ranges) list.emplace_back(r.address, r.length);
    return list;
  };
  EXPECT_EQ(ranges(), (std::vector<std::pair<uint32_t, uint32_t>>{{0x10, 3}, {0x14, 1}, {kChipBytes - 1, 1}}));
  EXPECT_EQ(p().Controls.StatusPanel4.Caption, "Differences: 5 bytes in 3 ranges");
  EXPECT_TRUE(p().Controls.TabSheetCompare.Visible);
  EXPECT_EQ(p().Editor.Selection(), (ByteRange{0x10, 0x12})) << "the first range is shown";

  p().NextDifference1Click();
  EXPECT_EQ(p().Editor.Cursor(), 0x14u);
  p().NextDifference1Click();
  EXPECT_EQ(p().Editor.Cursor(), kChipBytes - 1);
  p().PreviousDifference1Click();
  EXPECT_EQ(p().Editor.Cursor(), 0x14u);

  // 0x5A typed at 0x13 makes it differ too, joining the two ranges; typed
  // at 0x10-0x12 and 0x14, it makes the image equal to the other there.
  p().Editor.MoveTo(0x13);
  Type(U"5A");
  EXPECT_EQ(ranges(), (std::vector<std::pair<uint32_t, uint32_t>>{{0x10, 5}, {kChipBytes - 1, 1}}));
  p().Editor.MoveTo(0x14);
  Type(U"5A");
  p().Editor.MoveTo(0x10);
  Type(U"5A5A5A");
  EXPECT_EQ(ranges(), (std::vector<std::pair<uint32_t, uint32_t>>{{0x13, 1}, {kChipBytes - 1, 1}}));
  EXPECT_EQ(p().Comparison->differingBytes, 2u);
  EXPECT_EQ(p().Comparison->rangeCount, 2u);
  p().UndoImageEdit();  // 0x12 again
  EXPECT_EQ(ranges(), (std::vector<std::pair<uint32_t, uint32_t>>{{0x12, 2}, {kChipBytes - 1, 1}}));

  p().CloseComparison1Click();
  EXPECT_FALSE(p().Comparison);
  EXPECT_FALSE(p().Controls.TabSheetCompare.Visible);
  EXPECT_EQ(p().Controls.StatusPanel4.Caption, "Edited: 4 bytes");
}

TEST_F(ImageEditCommandsTest, ComparingWithoutAChipReadSaysSoAndAFileThatCannotBeReadIsReported) {
  p().CompareWithChipRead1Click();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_FALSE(p().Comparison);
  // A comparison in place goes when its file side is loaded anew.
  WriteFile(directory / "same.bin", ReadFile(directory / "counting.bin"));
  p().CompareWithFile((directory / "same.bin").string());
  ASSERT_TRUE(p().Comparison);
  EXPECT_TRUE(p().Comparison->Equal());
  EXPECT_EQ(p().Controls.StatusPanel4.Caption, "No difference");
  p().RunCommand([&] { p().CompareWithFile((directory / "missing.hex").string()); });
  EXPECT_FALSE(p().Comparison);
  ASSERT_EQ(view.messages.size(), 2u);
  EXPECT_EQ(view.messages[1].kind, MessageKind::Error);
}

}  // namespace
}  // namespace velkor
