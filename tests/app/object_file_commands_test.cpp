// Loading and saving object files through the window's commands, and the
// headless conversion built on them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/convert.hpp"
#include "programmer_fixture.hpp"
#include "support/files.hpp"

namespace velkor {
namespace {

using test::ProgrammerFixture;
using test::ReadFile;
using test::WriteFile;

// Two records: 4 bytes at 0x0010 and the end record.
constexpr const char* kSmallHex = ":0400100001020304E2\n:00000001FF\n";

class ObjectFileCommandsTest : public ProgrammerFixture {
 protected:
  ObjectFileCommandsTest() {
    programmer->FormShow();
    WriteFile(directory / "small.hex", kSmallHex);
  }
  bool Logged(const std::string& text) const {
    return std::find(view.lines.begin(), view.lines.end(), Line(text)) != view.lines.end();
  }
};

TEST_F(ObjectFileCommandsTest, LoadFillsTheImageAndRecomputesForTheChip) {
  Choose("24xx02");
  view.fileAnswers.push_back((directory / "small.hex").string());
  programmer->RunCommand([&] { programmer->FileOpenBtnClick(); });
  EXPECT_TRUE(programmer->FileLoaded);
  EXPECT_EQ(programmer->Controls.ProductEditX.Text, (directory / "small.hex").string());
  EXPECT_TRUE(Logged("Load object file : " + (directory / "small.hex").string()));
  EXPECT_TRUE(Logged("目标文件首地址 = 0x000010."));
  EXPECT_TRUE(Logged("目标文件尾地址 = 0x000013."));
  EXPECT_EQ(programmer->Image.Data[0x10], 0x01);
  EXPECT_EQ(programmer->Image.Data[0x13], 0x04);
  EXPECT_EQ(programmer->Image.Data[0x14], 0xFF);
  EXPECT_EQ(programmer->LastLoad.code, 0);
  // An EEPROM image shows in the data page's grid.
  EXPECT_TRUE(programmer->Controls.TabSheetFlash.Visible);
  EXPECT_TRUE(programmer->HexViewShown);
  EXPECT_EQ(programmer->HexViewLast, 255u);
  EXPECT_EQ(programmer->Controls.StatusPanel0.Caption.rfind("ACC CheckSum : 0x", 0), 0u);
  EXPECT_TRUE(view.messages.empty());

  // The digest of the chip's 256 bytes as sha256sum computes it, in the log
  // and in the checksum panels' hints.
  std::string range(256, '\xFF');
  range.replace(0x10, 4, "\x01\x02\x03\x04");
  WriteFile(directory / "range.bin", range);
  FILE* pipe = ::popen(("sha256sum '" + (directory / "range.bin").string() + "' | cut -c1-64").c_str(), "r");
  char sha[65] = {};
  ASSERT_EQ(std::fread(sha, 1, 64, pipe), 64u);
  ::pclose(pipe);
  const auto digestLine = std::find_if(view.lines.begin(), view.lines.end(), [](const std::string& line) {
    return line.find("Image 0x000000-0x0000FF: SHA-256 ") != std::string::npos;
  });
  ASSERT_NE(digestLine, view.lines.end());
  EXPECT_NE(digestLine->find(sha), std::string::npos) << *digestLine;
  EXPECT_NE(programmer->Controls.StatusPanel1.Hint.find(std::string("SHA-256 ") + sha), std::string::npos);
}

TEST_F(ObjectFileCommandsTest, AFileWithoutDataLoadsNothingAndSaysSo) {
  WriteFile(directory / "empty.bin", "");
  WriteFile(directory / "end-only.hex", ":00000001FF\n");
  WriteFile(directory / "header-only.s19", "S00600004844521B\nS9030000FC\n");
  struct Case {
    const char* chip;
    const char* file;
    const char* why;
  };
  const Case cases[] = {
      {"24xx02", "empty.bin", "it is empty"},
      {"W25x10xx", "end-only.hex", "no data records"},
      {"AT45DB16E", "header-only.s19", "no data records"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.file);
    Choose(k.chip);
    // A file loaded before: the empty one replaces it, and says so.
    view.fileAnswers.push_back((directory / "small.hex").string());
    programmer->RunCommand([&] { programmer->FileOpenBtnClick(); });
    ASSERT_TRUE(programmer->FileLoaded);
    view.messages.clear();
    const std::string path = (directory / k.file).string();
    view.fileAnswers.push_back(path);
    programmer->RunCommand([&] { programmer->FileOpenBtnClick(); });
    const std::string text =
        "The file \"" + path + "\" holds no data (" + k.why + "): no file is loaded, and the image buffer is blank.";
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].kind, MessageKind::Warning);
    EXPECT_EQ(view.messages[0].text, text);
    EXPECT_TRUE(Logged(text));
    EXPECT_FALSE(programmer->FileLoaded);
    EXPECT_EQ(programmer->Image.Data[0x10], 0xFF) << "the buffer is blank, not the earlier file's";
    // Programming now asks for a file rather than sending blank data.
    view.messages.clear();
    programmer->RunCommand([&] { programmer->SpdBtnProgClick(); });
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "请加载目标文件！");
  }
}

TEST_F(ObjectFileCommandsTest, SaveWritesTheUsedRangeOrSaysThereIsNothing) {
  Choose("24xx02");
  programmer->FileSaveBtnClick();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "没有数据需要保存!");

  view.fileAnswers.push_back((directory / "small.hex").string());
  programmer->RunCommand([&] { programmer->FileOpenBtnClick(); });
  programmer->FileSaveBtnClick();  // dialog cancelled
  EXPECT_EQ(view.messages.back().text, "没有数据需要保存!");

  const auto saved = directory / "out.bin";
  view.fileAnswers.push_back(saved.string());
  programmer->RunCommand([&] { programmer->FileSaveBtnClick(); });
  const std::string bytes = ReadFile(saved);
  ASSERT_EQ(bytes.size(), 256u);
  EXPECT_EQ(bytes.substr(0x10, 4), std::string("\x01\x02\x03\x04"));
  EXPECT_EQ(static_cast<uint8_t>(bytes[0]), 0xFF);
  EXPECT_EQ(view.messages.back().text, "文件\"" + saved.string() + "\"已保存！");
}

TEST_F(ObjectFileCommandsTest, ChoosingAChipForgetsTheLoadedData) {
  Choose("24xx02");
  view.fileAnswers.push_back((directory / "small.hex").string());
  programmer->RunCommand([&] { programmer->FileOpenBtnClick(); });
  ASSERT_FALSE(programmer->Controls.ProductEditX.Text.empty());
  ASSERT_NE(programmer->Controls.StatusPanel0.Caption, MainControls().StatusPanel0.Caption);
  Choose("24xx04");
  EXPECT_FALSE(programmer->FileLoaded);
  // Nothing still names the old file or shows its checksums.
  EXPECT_EQ(programmer->Controls.ProductEditX.Text, "");
  EXPECT_EQ(programmer->Controls.StatusPanel0.Caption, MainControls().StatusPanel0.Caption);
  EXPECT_EQ(programmer->Controls.StatusPanel1.Caption, MainControls().StatusPanel1.Caption);
  programmer->SpdBtnProgClick();
  EXPECT_EQ(view.messages.back().text, "请加载目标文件！");
}

TEST_F(ObjectFileCommandsTest, ThePageSizeBoxShowsThePageSizeThatIsSent) {
  for (const char* chip : {"24xx00", "AT24C01", "24xx02", "24xx512"}) {
    SCOPED_TRACE(chip);
    Choose(chip);
    const SpinControl& box = programmer->Controls.SpinEditPGSZ;
    EXPECT_GE(box.Value, box.MinValue) << "the window would show another value than the one kept";
    EXPECT_LE(box.Value, box.MaxValue);
    const uint32_t chosen = programmer->Chip.PageSize;
    programmer->PrepareJob();
    EXPECT_EQ(programmer->Chip.PageSize, chosen);
    EXPECT_EQ(static_cast<uint32_t>(box.Value), programmer->Chip.PageSize);
  }
}

TEST_F(ObjectFileCommandsTest, AFileThatCannotBeReadIsReportedInABox) {
  Choose("24xx02");
  view.fileAnswers.push_back((directory / "absent.hex").string());
  programmer->RunCommand([&] { programmer->FileOpenBtnClick(); });
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].kind, MessageKind::Error);
  EXPECT_NE(programmer->LastLoad.code, 0);
}

class ConvertTest : public ProgrammerFixture {};

TEST_F(ObjectFileCommandsTest, DataPastTheChipIsShownInABoxAndTheLog) {
  struct Case {
    const char* name;
    std::string content;
    const char* fileEnd;  // nothing: the data fits
  };
  const Case cases[] = {
      {"fits.bin", std::string(256, 'a'), nullptr},
      {"long.bin", std::string(100000, 'b'), "0x0001869F"},
      {"high.hex", ":0101000055A9\n:00000001FF\n", "0x00000100"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Choose("24xx02");
    view.messages.clear();
    view.lines.clear();
    WriteFile(directory / k.name, k.content);
    programmer->LoadFile(k.name);
    const auto warns = std::count_if(view.messages.begin(), view.messages.end(), [](const auto& m) {
      return m.kind == MessageKind::Warning && m.text.find("beyond the end of the chip 24xx02 at 0x000000FF") !=
                                                  std::string::npos;
    });
    const auto logged = std::count_if(view.lines.begin(), view.lines.end(), [](const std::string& line) {
      return line.find("beyond the end of the chip") != std::string::npos;
    });
    if (!k.fileEnd) {
      EXPECT_EQ(warns, 0);
      EXPECT_EQ(logged, 0);
      continue;
    }
    ASSERT_EQ(warns, 1);
    EXPECT_EQ(logged, 1);
    EXPECT_NE(view.messages.back().text.find(std::string("ends at ") + k.fileEnd), std::string::npos)
        << view.messages.back().text;
  }
}

TEST_F(ConvertTest, ConvertsLikeTheWindowAndSaysWhyItCannot) {
  WriteFile(directory / "small.hex", kSmallHex);
  WriteFile(directory / "bad.hex", ":0400100001020304E3\n:00000001FF\n");  // wrong checksum
  struct Case {
    const char* input;
    std::string output;
    const char* chip;
    int status;
  };
  const Case cases[] = {
      {"small.hex", "out.bin", "24xx02", kConvertOk},
      {"small.hex", "out2.bin", "no such chip", kConvertUnknownChip},
      {"small.hex", "out3.bin", "AG9311-MAQ", kConvertUnknownChip},  // not in the menu
      {"bad.hex", "out4.bin", "24xx02", kConvertLoadFailed},
      {"absent.hex", "out5.bin", "24xx02", kConvertLoadFailed},
      {"small.hex", (directory / "missing" / "out.bin").string(), "24xx02", kConvertSaveFailed},
  };
  for (const Case& k : cases) {
    std::ostringstream log;
    std::ostringstream errors;
    EXPECT_EQ(ConvertObjectFile((directory / k.input).string(), k.output, k.chip, log, errors), k.status)
        << k.input << " " << k.chip << ": " << errors.str();
    if (k.status != kConvertOk) {
      EXPECT_FALSE(errors.str().empty()) << k.input << " " << k.chip;
    }
  }
  const std::string image = ReadFile(directory / "out.bin");
  ASSERT_EQ(image.size(), 256u);
  EXPECT_EQ(image.substr(0x10, 4), std::string("\x01\x02\x03\x04"));
  EXPECT_FALSE(std::filesystem::exists(directory / "out4.bin"));
}

}  // namespace
}  // namespace velkor
