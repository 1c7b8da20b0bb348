// Files opened without a dialog (dropped, recent, named at start-up): a
// project goes to the project load and anything else to the object load,
// the job lock holds, and only loads that took data are reported; and every
// file dialog of the window names what it is for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "data/object_file.hpp"
#include "data/project_file.hpp"
#include "data/text_format.hpp"
#include "programmer_fixture.hpp"
#include "support/files.hpp"

namespace velkor {
namespace {

using test::FixedClock;
using test::ProgrammerFixture;
using test::ReadFile;
using test::RecordingView;
using test::WriteFile;

class OpenFileTest : public ProgrammerFixture {
 protected:
  OpenFileTest() {
    programmer->FormShow();
    programmer->DataFileLoaded = [this](const std::string& path) { reported.push_back(path); };
  }

  // 256 bytes of data for a 24xx02, and a project of that job saved from
  // a window that loaded them.
  void MakeJob() {
    for (int i = 0; i < 256; ++i) data.push_back(static_cast<char>(i * 7 + 3));
    WriteFile(directory / "data.bin", data);
    RecordingView savingView;
    TQNProgrammer saving(loop, savingView, std::make_unique<FixedClock>(test::kTime, test::kDate));
    saving.FormShow();
    saving.ChooseChip(*FindChip("24xx02"));
    saving.LoadFile((directory / "data.bin").string());
    ASSERT_TRUE(saving.FileLoaded);
    saving.SaveProject((directory / "job.OVP").string());
    project = ReadFile(directory / "job.OVP");
  }

  bool Logged(const std::string& line) const {
    return std::find(view.lines.begin(), view.lines.end(), line) != view.lines.end();
  }

  std::string data;
  std::string project;
  std::vector<std::string> reported;
};

TEST_F(OpenFileTest, AProjectGoesByItsExtensionOrItsMarksAndAnObjectFileByItsKnownExtension) {
  MakeJob();
  struct Case {
    const char* name;
    const std::string* content;
    bool asProject;
  };
  // Object files first, while no chip is chosen that they would not fit.
  const Case cases[] = {
      {"copy.bin", &project, false},  // a known object extension: loaded as it says
      {"plain.job", &data, false},
      {"copy.OVP", &project, true},
      {"copy.ovp", &project, true},
      {"copy.job", &project, true},  // an extension no loader knows: the marks decide
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::filesystem::path path = directory / test.name;
    WriteFile(path, *test.content);
    reported.clear();
    programmer->RunCommand([&] { programmer->OpenDataFile(path.string()); });
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(Logged(Line(FormatText(kLoadProjectLine, path.c_str()))), test.asProject);
    EXPECT_EQ(Logged(Line(LoadObjectFileLine(path.string()))), !test.asProject);
    ASSERT_TRUE(programmer->FileLoaded);
    EXPECT_EQ(reported, std::vector<std::string>{path.string()});
    // What lands in the image is the data the project carries, or the
    // file's own bytes.
    const std::string& expected = test.asProject ? data : *test.content;
    EXPECT_EQ(std::memcmp(programmer->Image.Data.get(), expected.data(), expected.size()), 0);
    if (test.asProject) EXPECT_EQ(programmer->Controls.MCUNameEdit.Text, "24xx02");
  }
}

TEST_F(OpenFileTest, OnlyLoadsThatTookDataAreReported) {
  MakeJob();
  WriteFile(directory / "empty.bin", "");
  std::string damaged = project;
  damaged[0] = 0x5A;
  damaged[1] = static_cast<char>(0xA5);
  WriteFile(directory / "damaged.OVP", damaged);
  struct Case {
    const char* name;
    bool reported;
    bool errorBox;
  };
  const Case cases[] = {
      {"data.bin", true, false},
      {"job.OVP", true, false},
      {"missing.hex", false, true},  // cannot be opened: the load's error box
      {"missing.OVP", false, true},
      {"missing.bin", false, true},  // the binary reader's box
      {"empty.bin", false, true},    // holds no data: a warning
      {"damaged.OVP", false, false},  // refused on its marks (the log says so)
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string path = (directory / test.name).string();
    reported.clear();
    view.messages.clear();
    programmer->RunCommand([&] { programmer->OpenDataFile(path); });
    EXPECT_EQ(reported.size(), test.reported ? 1u : 0u);
    EXPECT_EQ(!view.messages.empty(), test.errorBox);
  }
}

TEST_F(OpenFileTest, NeitherKindIsLoadedWhileAProgrammerIsBusy) {
  MakeJob();
  programmer->ChooseChip(*FindChip("W25x10xx"));
  programmer->Channels.Channel(2).Busy = 1;
  for (const char* name : {"job.OVP", "data.bin"}) {
    SCOPED_TRACE(name);
    view.messages.clear();
    const std::size_t lines = view.lines.size();
    programmer->RunCommand([&] { programmer->OpenDataFile((directory / name).string()); });
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_NE(view.messages.front().text.find("Not while"), std::string::npos) << view.messages.front().text;
    // The chip and the flags stay as they were; the log has only the refusal.
    EXPECT_EQ(programmer->Controls.MCUNameEdit.Text, "W25x10xx");
    EXPECT_TRUE(programmer->ChipConfirmed);
    EXPECT_FALSE(programmer->FileLoaded);
    EXPECT_EQ(view.lines.size(), lines + 1);
  }
  EXPECT_TRUE(reported.empty());
}

TEST_F(OpenFileTest, EveryFileDialogNamesWhatItIsFor) {
  MakeJob();
  programmer->ChooseChip(*FindChip("24xx02"));
  programmer->LoadFile((directory / "data.bin").string());
  struct Case {
    const char* command;
    void (TQNProgrammer::*click)();
    FileDialogPurpose purpose;
  };
  const Case cases[] = {
      {"load an object file", &TQNProgrammer::FileOpenBtnClick, FileDialogPurpose::ObjectLoad},
      {"save the buffer", &TQNProgrammer::FileSaveBtnClick, FileDialogPurpose::ObjectSave},
      {"load a project", &TQNProgrammer::LoadFromOrvaneProjectClick, FileDialogPurpose::Project},
      {"save a project", &TQNProgrammer::SaveToOrvAneProjectClick, FileDialogPurpose::Project},
      {"save the log", &TQNProgrammer::SaveInfotoFile1Click, FileDialogPurpose::LogSave},
      {"choose the log file", &TQNProgrammer::SpeedButtonOPClick, FileDialogPurpose::LogFile},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.command);
    view.fileRequests.clear();
    programmer->RunCommand([&] { (programmer.get()->*test.click)(); });  // cancelled
    ASSERT_EQ(view.fileRequests.size(), 1u);
    EXPECT_EQ(view.fileRequests.front().purpose, test.purpose);
  }
}

}  // namespace
}  // namespace velkor
