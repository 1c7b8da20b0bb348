// Nothing changes a running job: while a programmer programs its chip at
// the line's real pace, every action that would change or abandon the job
// is refused with a message and its controls are held disabled; the packets
// on the wire keep the job they started with, and the chip ends holding the
// data it was started with.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "simulated_programmers.hpp"
#include "support/files.hpp"
#include "support/wire_decoder.hpp"

namespace velkor::test {
namespace {

constexpr uint32_t kChipBytes = 128 * 1024;  // W25x10xx

class JobLockTest : public SimulatedProgrammersTest {
 protected:
  bool Refused(const std::string& action) const {
    return std::any_of(view.messages.begin(), view.messages.end(), [&](const RecordingView::Message& m) {
      return m.kind == MessageKind::Warning && m.text.find("Not while programmer 1 is busy (program)") == 0 &&
             m.text.find(action) != std::string::npos;
    });
  }
};

TEST_F(JobLockTest, ActionsThatWouldChangeTheJobWaitUntilTheProgrammerIsDone) {
  std::filesystem::create_directories(directory / "chips");
  Connect(1, {"--pace", "--capture", (directory / "wire").string(), "--dump-chips", (directory / "chips").string()});
  Choose("W25x10xx");
  const std::vector<uint8_t> data = LoadRandom(kChipBytes);
  WriteFile(directory / "other.bin", std::string(kChipBytes, '\x5A'));

  programmer->SpdBtnProgClick();
  ASSERT_FALSE(Idle(1));
  for (Control* locked : programmer->JobLockedControls()) EXPECT_FALSE(locked->Usable());
  // Where records and numbers go is part of the job too.
  MainControls& c = programmer->Controls;
  for (const Control* line : {&c.EditRecordFile, &c.EditLineDb, &c.EditStation, &c.EditLinePool})
    EXPECT_FALSE(line->Usable());
  EXPECT_TRUE(programmer->Controls.SpdBtnProg.Usable()) << "operation buttons stay for a free programmer";

  struct Action {
    const char* words;  // what the refusal names
    std::function<void()> run;
  };
  const CatalogueEntry* other = FindChip("24xx02");
  ASSERT_NE(other, nullptr);
  const std::vector<Action> actions = {
      {"choosing a chip", [&] { Choose("24xx02"); }},
      {"choosing a chip", [&] { programmer->ChooseChip(*other); }},
      {"loading a file", [&] { programmer->LoadFile("other.bin"); }},
      {"loading a file",
       [&] {
         view.fileAnswers = {"other.bin"};
         programmer->FileOpenBtnClick();
       }},
      {"loading a project", [&] { programmer->LoadProject("job.OVP"); }},
      {"searching for programmers", [&] { programmer->BitBtnFindCOMClick(); }},
      {"refreshing the port list", [&] { programmer->BitBtnFreshClick(); }},
      {"upgrading firmware", [&] { programmer->DoFirmwareUpgrade1Click(); }},
      {"writing fixed data", [&] {
         programmer->ConfigSN.EditDataSN.Text = "ABC";
         programmer->BitBtnOKClick();
       }},
  };
  for (const Action& a : actions) {
    SCOPED_TRACE(a.words);
    view.messages.clear();
    programmer->RunCommand(a.run);
    EXPECT_TRUE(Refused(a.words)) << (view.messages.empty() ? std::string("no box") : view.messages.back().text);
    EXPECT_FALSE(Idle(1));
    EXPECT_EQ(programmer->Controls.MCUNameEdit.Text, "W25x10xx");
  }
  ASSERT_TRUE(RunToIdle());
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "操作成功！")));
  for (Control* locked : programmer->JobLockedControls()) EXPECT_FALSE(locked->LockedByJob);

  // On the wire: every block of the chip, each with the parameter block of
  // the first and the image it started with.
  const auto blocks = wire::PacketsWithCode(wire::Packets(wire::ReadCapture(directory / "wire.1")), wire::kProgramBlock);
  ASSERT_EQ(blocks.size(), kChipBytes / 4096);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(blocks[i].Payload(0, 48), blocks[0].Payload(0, 48));
    EXPECT_EQ(blocks[i].Payload(48, 4096),
              std::vector<uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(i * 4096),
                                   data.begin() + static_cast<std::ptrdiff_t>((i + 1) * 4096)));
  }
  sim.reset();  // the simulator leaves its chip behind as it ends
  const std::string chip = ReadFile(directory / "chips" / "programmer-1.bin");
  EXPECT_TRUE(chip == std::string(data.begin(), data.end()));
}

}  // namespace
}  // namespace velkor::test
