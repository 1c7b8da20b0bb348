// Operator mode: a locked job is run and nothing of it can be changed. Every
// job-changing command is refused whichever way it is reached (leaving the
// chip, the image and the settings as they were) and every job-changing
// control is held disabled; only the key the job was locked with leaves the
// mode. The key is asked for by the kind of lock the job carries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "data/job_lock_block.hpp"
#include "programmer_fixture.hpp"
#include "support/files.hpp"

namespace velkor {
namespace {

using test::ProgrammerFixture;
using test::WriteFile;

const JobKey kPassphrase{JobLockKind::Passphrase, "line 3 qualified"};

class OperatorModeTest : public ProgrammerFixture {
 protected:
  OperatorModeTest() {
    programmer->FormShow();
    Choose("24xx02");
    std::string bytes(256, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 5 + 1);
    WriteFile(directory / "data.bin", bytes);
    WriteFile(directory / "other.bin", std::string(256, '\x5A'));
    programmer->LoadFile((directory / "data.bin").string());
    programmer->Controls.SpinEditNumb.Value = 4321;
    job = (directory / "line3.job").string();
  }

  // The job locked with key, then run in operator mode by a fresh logic.
  void LockAndEnter(const JobKey& key) {
    programmer->SaveLockedJob(job, key);
    programmer = MakeProgrammer();
    programmer->FormShow();
    ASSERT_TRUE(programmer->EnterOperatorMode(job, key));
    ASSERT_TRUE(programmer->Operator.active);
    image.assign(programmer->Image.Data.get(), programmer->Image.Data.get() + 256);
  }

  bool ImageUnchanged() const { return std::memcmp(programmer->Image.Data.get(), image.data(), 256) == 0; }

  std::size_t Refusals() const {
    return static_cast<std::size_t>(std::count_if(view.lines.begin(), view.lines.end(), [](const std::string& line) {
      return line.find("Not in operator mode: ") != std::string::npos;
    }));
  }

  std::string job;
  std::vector<uint8_t> image;
};

TEST_F(OperatorModeTest, EveryJobChangingCommandIsRefusedAndChangesNothing) {
  LockAndEnter(kPassphrase);
  const std::string other = (directory / "other.bin").string();
  const std::string project = (directory / "plain.ovp").string();
  programmer->SaveProject(project);  // a project the operator could try to load instead
  TQNProgrammer& p = *programmer;
  struct Action {
    const char* name;
    std::function<void()> run;
  };
  const std::vector<Action> actions = {
      {"choose a chip", [&] { Choose("24xx04"); }},
      {"choose a chip directly", [&] { p.ChooseChip(*FindChip("24xx04")); }},
      {"open an object file", [&] { view.fileAnswers.push_back(other); p.FileOpenBtnClick(); }},
      {"load a named file", [&] { p.LoadFile(other); }},
      {"drop a file", [&] { p.OpenDataFile(other); }},
      {"open a project", [&] { view.fileAnswers.push_back(project); p.LoadFromOrvaneProjectClick(); }},
      {"load a named project", [&] { p.LoadProjectFile(project); }},
      {"open another locked job", [&] { view.fileAnswers.push_back(job); p.OpenLockedJob1Click(); }},
      {"load a locked job", [&] { p.LoadLockedJob(job, kPassphrase); }},
      {"type into the image", [&] { p.TypeIntoImage(U'7'); }},
      {"paste", [&] { view.clipboardText = "00 11 22"; p.PasteBytes1Click(); }},
      {"fill", [&] { view.textAnswers.push_back("FF"); p.SelectAllBytes1Click(); p.FillSelection1Click(); }},
      {"fixed data", [&] { p.ConfigSN.EditDataSN.Text = "AA55"; p.BitBtnOKClick(); }},
      {"read a chip into the image", [&] { p.SpeedButtonRDClick(); }},
      {"upgrade firmware", [&] { p.DoFirmwareUpgrade1Click(); }},
      {"save as a project", [&] { view.fileAnswers.push_back(project); p.SaveToOrvAneProjectClick(); }},
      {"lock the job anew", [&] { view.fileAnswers.push_back(job); view.secretAnswers.push_back(""); p.SaveLockedJob1Click(); }},
  };
  const std::string lockedBytes = test::ReadFile(job);
  const std::string projectBytes = test::ReadFile(project);
  const std::string jobPath = p.LockedJobPath;
  const std::string lock = p.LockedJobLock;
  for (const Action& action : actions) {
    SCOPED_TRACE(action.name);
    const std::size_t refusalsBefore = Refusals();
    const std::size_t messagesBefore = view.messages.size();
    action.run();
    EXPECT_EQ(Refusals(), refusalsBefore + 1);
    ASSERT_GT(view.messages.size(), messagesBefore);
    EXPECT_EQ(view.messages.back().kind, MessageKind::Warning);
    EXPECT_TRUE(ImageUnchanged());
    EXPECT_EQ(p.Controls.MCUNameEdit.Text, "24xx02");
    EXPECT_EQ(p.Controls.SpinEditNumb.Value, 4321);
    EXPECT_EQ(p.LockedJobPath, jobPath);
    EXPECT_EQ(p.LockedJobLock, lock);
    EXPECT_TRUE(p.Operator.active);
  }
  // Neither the locked job nor the project was written over.
  EXPECT_EQ(test::ReadFile(job), lockedBytes);
  EXPECT_EQ(test::ReadFile(project), projectBytes);
}

TEST_F(OperatorModeTest, JobChangingControlsAreHeldAndTheStationsAreNot) {
  LockAndEnter(kPassphrase);
  const MainControls& c = programmer->Controls;
  for (const Control* control : programmer->OperatorLockedControls()) EXPECT_FALSE(control->Usable());
  using Named = std::pair<const char*, const Control*>;
  for (const auto& [name, control] : {Named{"DevButton", &c.DevButton}, {"SpdBtnOpen", &c.SpdBtnOpen},
                                      {"EnEraseChk", &c.EnEraseChk}, {"SNEdit", &c.SNEdit},
                                      {"EditRecordFile", &c.EditRecordFile}, {"SpeedButtonRD", &c.SpeedButtonRD},
                                      {"SaveLockedJob1", &c.SaveLockedJob1}, {"Undo1", &c.Undo1}})
    EXPECT_TRUE(control->LockedByOperator) << name;
  // Starting the job, finding programmers and leaving stay open.
  for (const auto& [name, control] : {Named{"SpdBtnAutoP", &c.SpdBtnAutoP}, {"SpdBtnProg", &c.SpdBtnProg},
                                      {"SpdBtnVerify", &c.SpdBtnVerify}, {"BitBtnFindCOM", &c.BitBtnFindCOM},
                                      {"ComboBoxCOM", &c.ComboBoxCOM}, {"LeaveOperatorMode1", &c.LeaveOperatorMode1}})
    EXPECT_FALSE(control->LockedByOperator) << name;
  EXPECT_TRUE(c.LeaveOperatorMode1.Visible);
  EXPECT_FALSE(c.OperatorMode1.Visible);
  ASSERT_TRUE(c.LabelOperatorJob.Visible);
  const ParsedLockedJob parsed = ParseLockedJob(test::ReadFile(job));
  for (const std::string& shown : {std::string("line3.job"), std::string("24xx02"), parsed.block.imageSha256})
    EXPECT_NE(c.LabelOperatorJob.Caption.find(shown), std::string::npos) << shown;
}

// How each kind of lock is left: the key the job was locked with leaves,
// another key does not; a lock without a key asks only for a yes.
struct LeaveCase {
  const char* name;
  JobKey key;
  std::function<void(test::RecordingView&, const std::filesystem::path&)> wrongAnswer;
  std::function<void(test::RecordingView&, const std::filesystem::path&)> rightAnswer;
};

class OperatorLeaveTest : public OperatorModeTest, public ::testing::WithParamInterface<LeaveCase> {};

TEST_P(OperatorLeaveTest, OnlyTheJobsKeyLeavesOperatorMode) {
  LockAndEnter(GetParam().key);
  GetParam().wrongAnswer(view, directory);
  programmer->LeaveOperatorMode1Click();
  EXPECT_TRUE(programmer->Operator.active);
  EXPECT_FALSE(programmer->Controls.DevButton.Usable());

  GetParam().rightAnswer(view, directory);
  programmer->LeaveOperatorMode1Click();
  EXPECT_FALSE(programmer->Operator.active);
  EXPECT_TRUE(programmer->Controls.DevButton.Usable());
  EXPECT_FALSE(programmer->Controls.LabelOperatorJob.Visible);
  EXPECT_TRUE(programmer->Controls.OperatorMode1.Visible);
  // The job may be changed again.
  Choose("24xx04");
  EXPECT_EQ(programmer->Controls.MCUNameEdit.Text, "24xx04");
}

INSTANTIATE_TEST_SUITE_P(
    Locks, OperatorLeaveTest,
    ::testing::Values(
        LeaveCase{"Passphrase", kPassphrase,
                  [](test::RecordingView& v, const std::filesystem::path&) { v.secretAnswers.push_back("line 3"); },
                  [](test::RecordingView& v, const std::filesystem::path&) {
                    v.secretAnswers.push_back("line 3 qualified");
                  }},
        LeaveCase{"KeyFile", JobKey{JobLockKind::KeyFile, std::string("\x01\x02\x00\xFE", 4)},
                  [](test::RecordingView& v, const std::filesystem::path& d) {
                    WriteFile(d / "wrong.key", std::string("\x01\x02\x00\xFF", 4));
                    v.fileAnswers.push_back((d / "wrong.key").string());
                  },
                  [](test::RecordingView& v, const std::filesystem::path& d) {
                    WriteFile(d / "right.key", std::string("\x01\x02\x00\xFE", 4));
                    v.fileAnswers.push_back((d / "right.key").string());
                  }},
        LeaveCase{"NoKey", JobKey{},
                  [](test::RecordingView& v, const std::filesystem::path&) { v.questionAnswers.push_back(false); },
                  [](test::RecordingView& v, const std::filesystem::path&) { v.questionAnswers.push_back(true); }}),
    [](const auto& c) { return std::string(c.param.name); });

TEST_F(OperatorModeTest, TheKeyIsAskedForByTheKindOfLockAndAWrongOneIsRefused) {
  programmer->SaveLockedJob(job, kPassphrase);
  programmer = MakeProgrammer();
  programmer->FormShow();
  view.secretAnswers.push_back("not the passphrase");
  EXPECT_FALSE(programmer->EnterOperatorMode(job, std::nullopt));
  EXPECT_FALSE(programmer->Operator.active);
  EXPECT_FALSE(programmer->FileLoaded);
  ASSERT_EQ(view.secretLabels.size(), 1u);
  EXPECT_EQ(view.secretLabels[0], "The job's passphrase:");
  ASSERT_FALSE(view.messages.empty());
  EXPECT_EQ(view.messages.back().kind, MessageKind::Error);
  EXPECT_NE(view.messages.back().text.find("lock: does not match"), std::string::npos);

  view.secretAnswers.push_back("line 3 qualified");
  EXPECT_TRUE(programmer->EnterOperatorMode(job, std::nullopt));
  EXPECT_TRUE(programmer->Operator.active);
  EXPECT_TRUE(programmer->FileLoaded);
}

TEST_F(OperatorModeTest, AFileThatIsNotALockedJobIsNamedAndNothingIsAsked) {
  const std::string project = (directory / "plain.ovp").string();
  programmer->SaveProject(project);
  EXPECT_FALSE(programmer->EnterOperatorMode(project, std::nullopt));
  EXPECT_TRUE(view.secretLabels.empty());
  ASSERT_FALSE(view.messages.empty());
  EXPECT_NE(view.messages.back().text.find("it is not a locked job"), std::string::npos);
  EXPECT_FALSE(programmer->Operator.active);
}

}  // namespace
}  // namespace velkor
