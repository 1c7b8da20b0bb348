// A whole session in English on simulated programmers: every line of the log
// and every box is English, and the texts that were Chinese show their
// translation; the original language is untouched beside it.
#include <gtest/gtest.h>

#include "data/text_format.hpp"
#include "simulated_programmers.hpp"
#include "support/chinese_text.hpp"
#include "text/language.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using test::HasChinese;

class EnglishSessionTest : public test::SimulatedProgrammersTest, public ::testing::WithParamInterface<Language> {
 protected:
  void SetUp() override {
    SimulatedProgrammersTest::SetUp();
    UseLanguage(GetParam());
  }
  void TearDown() override {
    UseLanguage(Language::Original);
    SimulatedProgrammersTest::TearDown();
  }
  void RunToEnd(void (TQNProgrammer::*command)()) {
    programmer->RunCommand([&] { (programmer.get()->*command)(); });
    ASSERT_TRUE(RunToIdle(60s));
    loop.runFor(20ms);  // a failure's box comes after the receive event
  }
};

// Start-up, the search, a chip set-up, a load, automatic programming, a
// blank check that finds data, a verify that fails on a changed byte and is
// read back, a chip read and an ID read: the lines of nearly every kind.
TEST_P(EnglishSessionTest, EveryLineAndBoxOfASessionIsInTheLanguageOfTheRun) {
  Connect(2);
  Choose("W25x10xx");
  programmer->SelectVoltage(1);
  LoadRandom(0x10000);
  programmer->Controls.EnEraseChk.Checked = true;
  RunToEnd(&TQNProgrammer::SpdBtnAutoPClick);
  RunToEnd(&TQNProgrammer::BlankCheck1Click);
  programmer->Image.Data[0x40] ^= 0xFF;
  programmer->RecomputeImage();
  RunToEnd(&TQNProgrammer::SpdBtnVerifyClick);

  RunToEnd(&TQNProgrammer::SpeedButtonRDClick);
  RunToEnd(&TQNProgrammer::ReadChipIDandStatus1Click);

  std::vector<std::string> shown = view.lines;
  for (const auto& message : view.messages) shown.push_back(message.text);
  shown.push_back(programmer->Controls.StatusPanel2.Caption);
  shown.push_back(programmer->Controls.InfoPanel.Caption);
  ASSERT_GT(shown.size(), 20u);

  const bool english = GetParam() == Language::English;
  for (const std::string& text : shown)
    if (english) EXPECT_FALSE(HasChinese(text)) << text;
  // The translations, not only the absence of the originals.
  struct Expected {
    const char* original;
    const char* english;
  };
  const Expected expected[] = {
      {"操作成功！", "Operation succeeded!"},
      {"数据校验错误！", "Data verification error!"},
      {"芯片 1：读取芯片数据......", "Chip 1: reading the chip......"},
      {"5.0V Interface is selected!", "5.0V Interface is selected!"},
      {"目标芯片首地址 = 0x000000.", "Chip start address = 0x000000."},
  };
  for (const Expected& e : expected) EXPECT_TRUE(Logged(english ? e.english : e.original)) << e.original;
  EXPECT_EQ(programmer->Controls.StatusPanel2.Caption, english ? "Total OK: 2" : "烧写OK总数: 2");
}

INSTANTIATE_TEST_SUITE_P(Languages, EnglishSessionTest, ::testing::Values(Language::Original, Language::English),
                         [](const auto& info) { return std::string(LanguageName(info.param)); });

}  // namespace
}  // namespace velkor
