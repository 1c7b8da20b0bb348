// Start-up, the information log, its dialog and the log files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "app/integer_text.hpp"
#include "programmer_fixture.hpp"
#include "support/files.hpp"
#include "support/pty_pair.hpp"

namespace velkor {
namespace {

using test::ProgrammerFixture;
using test::ReadFile;

class StartupTest : public ProgrammerFixture {};

TEST_F(StartupTest, FirstShowResetsStateCreatesTheLogFolderAndGreets) {
  programmer->Channels.Channel(1).Operation = 0x07;
  programmer->BurnCount = 5;
  programmer->Chip.Family = 0x33;
  programmer->FormShow();

  EXPECT_TRUE(std::filesystem::is_directory(directory / "Log"));
  EXPECT_EQ(programmer->LogFolder(), directory / "Log");
  EXPECT_EQ(programmer->StartDirectory(), directory);
  EXPECT_EQ(view.lines, (std::vector<std::string>{Line("Firmware file: " + (directory / kFirmwareFileName).string()),
                                                  Line("Hello Velkor350QN-ED User! ----- 12/10/26"),
                                                  Line("3.3V Interface is selected!")}));
  EXPECT_EQ(programmer->Chip, ChipParams{});
  EXPECT_EQ(programmer->Chip.Size, 2048u);
  EXPECT_EQ(programmer->Chip.DeviceAddress, 0xA0);
  EXPECT_EQ(programmer->BurnCount, 0u);
  for (int n : {1, 2}) {
    EXPECT_EQ(programmer->Channels.Channel(n).Operation, 0x30);
    EXPECT_EQ(programmer->Channels.Channel(n).Identified, 0);
  }
  EXPECT_FALSE(programmer->ChipConfirmed);
  EXPECT_FALSE(programmer->Controls.TabChipSet.Visible);
  EXPECT_FALSE(programmer->Controls.TabSheetFlash.Visible);
  EXPECT_FALSE(programmer->Controls.TabSheetRdData.Visible);
  EXPECT_TRUE(programmer->Controls.TabSheetChip.Visible);

  // Only the first showing runs the start-up.
  programmer->FormShow();
  EXPECT_EQ(view.lines.size(), 3u);
}

TEST_F(StartupTest, TheMissingFirmwareBoxComesAfterTheSearchHasStarted) {
  test::PtyPair port;
  std::filesystem::remove(directory / kFirmwareFileName);
  programmer = MakeProgrammer();
  programmer->ExplicitPorts = {port.SlavePath()};
  view.lines.clear();
  programmer->FormShow();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, kFirmwareNotFoundBox);
  const auto searching = std::find_if(view.lines.begin(), view.lines.end(), [](const std::string& line) {
    return line.find("Checking Device 1 In") != std::string::npos;
  });
  ASSERT_NE(searching, view.lines.end());
  EXPECT_LT(static_cast<std::size_t>(searching - view.lines.begin()), view.messages[0].linesBefore)
      << "the box held the search back";
  EXPECT_TRUE(programmer->Channels.Port(1).IsOpen());
}

TEST_F(StartupTest, FirmwareFileIsCheckedOnceAtStartUp) {
  struct Case {
    const char* name;
    std::function<void()> prepare;  // in the start directory
    bool ready;
    const char* version;
    std::vector<std::string> lines;  // before the greeting, after the line naming the file
    std::vector<std::string> boxes;
  };
  const auto file = [&] { return directory / kFirmwareFileName; };
  const auto damage = [&](std::size_t at) {
    std::string bytes = test::ReadFile(file());
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    test::WriteFile(file(), bytes);
  };
  const Case cases[] = {
      {"good", [] {}, true, "V3.10", {}, {}},
      {"missing", [&] { std::filesystem::remove(file()); }, false, "",
       {Line("File of \"VelkorQN_EDF.VFR\" not Found!"),
        Line("Looked for it in: " + directory.string() + ", " + UserFolder().string() + ", " +
             InstalledFolder().string() + ".")},
       {"文件\"VelkorQN_EDF.VFR\"没有找到，请确认！"}},
      {"wrong checksum", [&] { damage(5000); }, false, "V3.10",
       {Line("The firmware file \"VelkorQN_EDF.VFR\" cannot be used: its checksum is wrong.")}, {}},
      {"wrong marker", [&] { damage(0); }, false, "",
       {Line("The firmware file \"VelkorQN_EDF.VFR\" cannot be used: its marker is not that of a firmware file.")},
       {}},
      {"too large", [&] { test::WriteFile(file(), std::string(70000, 'x')); }, false, "",
       {Line("The firmware file \"VelkorQN_EDF.VFR\" cannot be used: the file holds 65537 bytes, more than the 65536 "
             "of the firmware buffer.")},
       {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    test::WriteFirmwareFile(directory, "V3.10");
    k.prepare();
    view.lines.clear();
    view.messages.clear();
    programmer = MakeProgrammer();
    programmer->FormShow();
    EXPECT_EQ(programmer->FirmwareReady, k.ready);
    EXPECT_EQ(programmer->FirmwareVersion, k.version);
    std::vector<std::string> expected;
    if (std::filesystem::exists(file())) expected.push_back(Line("Firmware file: " + file().string()));
    expected.insert(expected.end(), k.lines.begin(), k.lines.end());
    expected.push_back(Line("Hello Velkor350QN-ED User! ----- 12/10/26"));
    expected.push_back(Line("3.3V Interface is selected!"));
    EXPECT_EQ(view.lines, expected);
    std::vector<std::string> boxes;
    for (const auto& m : view.messages) boxes.push_back(m.text);
    EXPECT_EQ(boxes, k.boxes);
  }
}

TEST_F(StartupTest, OnlyAnOlderFirmwareVersionAsksForTheUpgrade) {
  struct Case {
    const char* identification;
    const char* fileVersion;
    int result;
  };
  const Case cases[] = {
      {"Velkor350QN V3.10", "V3.10", 0},  {"Velkor350QN V3.09", "V3.10", 3},
      {"Velkor350QN V3.11", "V3.10", 0},  {"Velkor350QN V3.2", "V3.10", 0},  // character by character
      {"Velkor350QN V2.99", "V3.10", 3},  {"Velkor350QN V3.1", "V3.10", 3},  // the file's text cut short
      {"Velkor350QN V3.10a", "V3.10", 0}, {"Velkor350QN V1.0", "", 0},      // no file: nothing to compare with
      {"Velkor350QN 3.10", "V9.99", 0},   {"Velkor350QN Va V0.1", "V1", 0},  // the first " V" counts
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.identification);
    programmer->FirmwareVersion = k.fileVersion;
    EXPECT_EQ(programmer->CheckFirmwareVersion(k.identification), k.result);
  }
  view.lines.clear();
  programmer->CheckFirmwareVersion("Velkor350QN");
  EXPECT_EQ(view.lines, std::vector<std::string>{Line(
                            "\"Velkor350QN\" carries no version text: its firmware is left as it is.")});
}

TEST_F(StartupTest, FirmwareMenuCommandSaysWhyItCannotUpgrade) {
  programmer->FormShow();
  ASSERT_TRUE(programmer->FirmwareReady);
  programmer->DoFirmwareUpgrade1Click();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "No Device is Connected!");

  std::filesystem::remove(directory / kFirmwareFileName);
  programmer->DoFirmwareUpgrade1Click();
  ASSERT_EQ(view.messages.size(), 2u);
  EXPECT_EQ(view.messages[1].text, "文件\"VelkorQN_EDF.VFR\"没有找到，请确认！");
  EXPECT_FALSE(programmer->FirmwareReady) << "later identifications no longer upgrade";

  // The file back, but the one read at start-up is no longer usable.
  test::WriteFirmwareFile(directory, "V3.10");
  programmer->DoFirmwareUpgrade1Click();
  ASSERT_EQ(view.messages.size(), 3u);
  EXPECT_EQ(view.messages[2].text,
            "The firmware file \"VelkorQN_EDF.VFR\" cannot be used: it was missing when an upgrade was asked for; the "
            "program reads it again when it starts.");
}

TEST_F(StartupTest, FirmwareFileIsTakenFromTheStartDirectoryThenTheUsersThenTheInstalledFolder) {
  // Each folder's file carries its own version, so the one read shows.
  struct Case {
    const char* name;
    bool inStart, inUser, inInstalled;
    const char* version;
  };
  const Case cases[] = {
      {"all three", true, true, true, "V3.10"},
      {"user's and installed", false, true, true, "V3.20"},
      {"installed only", false, false, true, "V3.30"},
      {"user's only", false, true, false, "V3.20"},
  };
  const std::pair<std::filesystem::path, const char*> folders[] = {
      {directory, "V3.10"}, {UserFolder(), "V3.20"}, {InstalledFolder(), "V3.30"}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const bool present[] = {k.inStart, k.inUser, k.inInstalled};
    std::filesystem::path expected;
    for (int i = 2; i >= 0; --i) {
      std::filesystem::remove(folders[i].first / kFirmwareFileName);
      if (!present[i]) continue;
      std::filesystem::create_directories(folders[i].first);
      test::WriteFirmwareFile(folders[i].first, folders[i].second);
      expected = folders[i].first / kFirmwareFileName;
    }
    view.lines.clear();
    view.messages.clear();
    programmer = MakeProgrammer();
    programmer->FormShow();
    EXPECT_TRUE(programmer->FirmwareReady);
    EXPECT_EQ(programmer->FirmwareVersion, k.version);
    ASSERT_FALSE(view.lines.empty());
    EXPECT_EQ(view.lines[0], Line("Firmware file: " + expected.string()));
    EXPECT_TRUE(view.messages.empty());
  }
}

TEST_F(StartupTest, UsersDataFolderFollowsXdgDataHomeElseHome) {
  struct Case {
    const char* dataHome;  // null: unset
    const char* home;
    const char* folder;  // empty: none
  };
  const Case cases[] = {
      {"/data/me", "/home/me", "/data/me/velkor350qn"},
      {nullptr, "/home/me", "/home/me/.local/share/velkor350qn"},
      {"", "/home/me", "/home/me/.local/share/velkor350qn"},
      {"relative/data", "/home/me", "/home/me/.local/share/velkor350qn"},  // not absolute: ignored
      {nullptr, nullptr, ""},
      {nullptr, "relative-home", ""},
  };
  const char* home = std::getenv("HOME");
  const std::optional<std::string> previousHome = home ? std::optional<std::string>(home) : std::nullopt;
  const auto set = [](const char* name, const char* value) {
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.dataHome ? k.dataHome : "(unset)") + " / " + (k.home ? k.home : "(unset)"));
    set("XDG_DATA_HOME", k.dataHome);
    set("HOME", k.home);
    EXPECT_EQ(UserDataFolder(), std::filesystem::path(k.folder));
  }
  set("HOME", previousHome ? previousHome->c_str() : nullptr);
}

TEST_F(StartupTest, FirmwareMenuCommandLooksForTheFileThatWasRead) {
  // Read from the user's folder at start-up, then taken away: the file in
  // the start directory does not stand in for it.
  std::filesystem::remove(directory / kFirmwareFileName);
  std::filesystem::create_directories(UserFolder());
  test::WriteFirmwareFile(UserFolder(), "V3.10");
  programmer->FormShow();
  ASSERT_TRUE(programmer->FirmwareReady);
  std::filesystem::remove(UserFolder() / kFirmwareFileName);
  test::WriteFirmwareFile(directory, "V3.10");
  programmer->DoFirmwareUpgrade1Click();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "文件\"VelkorQN_EDF.VFR\"没有找到，请确认！");
  EXPECT_FALSE(programmer->FirmwareReady);
}

TEST_F(StartupTest, FirmwareFileAddedAfterStartUpIsReadAtTheNextStart) {
  std::filesystem::remove(directory / kFirmwareFileName);
  programmer->FormShow();
  ASSERT_EQ(view.messages.size(), 1u);  // the not-found box
  std::filesystem::create_directories(InstalledFolder());
  test::WriteFirmwareFile(InstalledFolder(), "V3.10");
  programmer->DoFirmwareUpgrade1Click();
  ASSERT_EQ(view.messages.size(), 2u);
  EXPECT_EQ(view.messages[1].text,
            "The firmware file \"VelkorQN_EDF.VFR\" cannot be used: it was missing when the program started; the "
            "program reads it when it starts.");
}

TEST_F(StartupTest, LogFolderIsKeptWithTheUserWhenTheStartDirectoryCannotTakeIt) {
  // A file named Log stands for a start directory that cannot take the
  // folder (it also works for root, whom permissions do not stop).
  struct Case {
    const char* name;
    bool blockStart;
    bool blockUser;  // the user's data folder lies under a file
    std::filesystem::path folder;
    std::vector<std::string> lines;  // before the firmware line
    std::vector<std::string> boxesAtClose;
  };
  const std::filesystem::path userLog = UserFolder() / "Log";
  const Case cases[] = {
      {"start directory", false, false, directory / "Log", {}, {}},
      {"user's folder", true, false, userLog,
       {Line("No Log folder can be made in the start directory; log files go to " + userLog.string() + ".")}, {}},
      {"neither", true, true, directory / "Log",
       {Line("No Log folder can be made in the start directory or the user's data folder; the automatic log file "
             "cannot be written.")},
       {"Write Log File error!"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::filesystem::remove_all(directory / "Log");
    std::filesystem::remove_all(directory / "data-home");
    if (k.blockStart) std::ofstream(directory / "Log") << "a file";
    if (k.blockUser) std::ofstream(directory / "data-home") << "a file";
    view.lines.clear();
    view.messages.clear();
    programmer = MakeProgrammer();
    programmer->FormShow();
    EXPECT_EQ(programmer->LogFolder(), k.folder);
    std::vector<std::string> expected = k.lines;
    expected.push_back(Line("Firmware file: " + (directory / kFirmwareFileName).string()));
    ASSERT_GE(view.lines.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(view.lines.begin(), view.lines.begin() + static_cast<long>(expected.size())),
              expected);

    for (int i = 0; i < 5; ++i) programmer->AppendInfo("step " + std::to_string(i));
    programmer->FormClose();
    std::vector<std::string> boxes;
    for (const auto& m : view.messages) boxes.push_back(m.text);
    EXPECT_EQ(boxes, k.boxesAtClose);
    if (k.boxesAtClose.empty()) {
      EXPECT_TRUE(std::filesystem::exists(k.folder / "QN_12_10_26_10_20_30.log"));
    }
  }
}

TEST_F(StartupTest, AnExistingLogFolderIsKept) {
  std::filesystem::create_directory(directory / "Log");
  std::ofstream(directory / "Log" / "old.log") << "kept";
  programmer->FormShow();
  EXPECT_EQ(ReadFile(directory / "Log" / "old.log"), "kept");
}

TEST_F(StartupTest, ChannelLinesNameTheProgrammer) {
  programmer->ChannelLog(2, "操作成功！");
  programmer->AppendPlain(" ");
  EXPECT_EQ(view.lines, (std::vector<std::string>{"> 10:20:30 C2: 操作成功！", " "}));
}

TEST_F(StartupTest, ExitClosesTheWindowAndClosingWritesTheLog) {
  programmer->FormShow();
  programmer->SpdBtnExitClick();
  EXPECT_TRUE(view.mainWindowClosed);
  for (int i = 0; i < 5; ++i) programmer->AppendInfo("line " + std::to_string(i));
  programmer->FormClose();
  EXPECT_TRUE(std::filesystem::exists(directory / "Log" / "QN_12_10_26_10_20_30.log"));
}

class LogFileTest : public ProgrammerFixture {
 protected:
  LogFileTest() { programmer->FormShow(); }
  void AddLines(int count) {
    for (int i = 0; i < count; ++i) programmer->AppendInfo("step " + std::to_string(i));
  }
  std::filesystem::path AutomaticPath() const { return directory / "Log" / "QN_12_10_26_10_20_30.log"; }
  LogCfgControls& cfg() { return programmer->LogCfg; }
  void ChooseOperatorsFile(const std::string& name, int mode) {
    cfg().RadioGrpCreat.ItemIndex = 1;
    programmer->RadioGrpCreatClick();
    cfg().EditLogName.Text = name;
    cfg().RadioGrpMod.ItemIndex = mode;
  }
};

TEST_F(LogFileTest, TheLogFileKeepsTheLinesTheOperatorCleared) {
  AddLines(5);
  const std::string before = programmer->Info.Text();
  programmer->ClearInformation1Click();
  EXPECT_TRUE(programmer->Info.Lines().empty());
  AddLines(1);
  programmer->WriteLogFile();
  ASSERT_TRUE(std::filesystem::exists(AutomaticPath()));
  EXPECT_EQ(ReadFile(AutomaticPath()), before + programmer->Info.Text());
}

TEST_F(LogFileTest, AutomaticLogNeedsMoreThanSixLines) {
  AddLines(3);  // with the firmware and the two greeting lines: six
  programmer->WriteLogFile();
  EXPECT_FALSE(std::filesystem::exists(AutomaticPath()));
  AddLines(1);
  programmer->WriteLogFile();
  ASSERT_TRUE(std::filesystem::exists(AutomaticPath()));
  EXPECT_EQ(ReadFile(AutomaticPath()), programmer->Info.Text());
  const std::string text = programmer->Info.Text();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 7);
}

TEST_F(LogFileTest, AutomaticNameTurnsDateAndTimeSeparatorsIntoUnderscores) {
  struct Case {
    const char* time;
    const char* date;
    const char* name;
  };
  for (const Case& k : {Case{"10:20:30", "12/10/26", "QN_12_10_26_10_20_30.log"},
                        Case{"10:20:30 PM", "2026-12-10", "QN_2026_12_10_10_20_30_PM.log"}}) {
    EXPECT_EQ(AutomaticLogFileName(test::FixedClock(k.time, k.date)), k.name);
  }
}

TEST_F(LogFileTest, NoLogWhenSwitchedOff) {
  AddLines(10);
  cfg().CheckBoxLog.Checked = false;
  programmer->CheckBoxLogClick();
  EXPECT_FALSE(cfg().RadioGrpCreat.Enabled);
  programmer->WriteLogFile();
  EXPECT_TRUE(std::filesystem::is_empty(directory / "Log"));
}

TEST_F(LogFileTest, OperatorsFileIsReplacedOrAppended) {
  AddLines(1);
  const auto path = directory / "mine.log";
  ChooseOperatorsFile("mine.log", 2);
  programmer->WriteLogFile();
  const std::string first = ReadFile(path);
  EXPECT_EQ(first, "Orvane Log File!\n" + programmer->Info.Text()) << "a new file starts with the header";

  programmer->WriteLogFile();
  EXPECT_EQ(ReadFile(path), first + programmer->Info.Text()) << "appended without a second header";

  cfg().RadioGrpMod.ItemIndex = 1;
  programmer->WriteLogFile();
  EXPECT_EQ(ReadFile(path), programmer->Info.Text());
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(LogFileTest, UnwritableLogGivesTheMessageAndLeavesTheOldFile) {
  AddLines(10);
  // A missing folder refuses the file for every user, root included.
  ChooseOperatorsFile((directory / "missing" / "x.log").string(), 0);
  programmer->WriteLogFile();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "Write Log File error!");
  EXPECT_EQ(view.messages[0].kind, MessageKind::Error);

  std::filesystem::remove_all(directory / "Log");
  cfg().RadioGrpCreat.ItemIndex = 0;
  programmer->WriteLogFile();
  EXPECT_EQ(view.messages.size(), 2u);
}

TEST_F(LogFileTest, DialogHandlersFollowTheirControls) {
  cfg().RadioGrpCreat.ItemIndex = 1;
  programmer->RadioGrpCreatClick();
  EXPECT_TRUE(cfg().EditLogName.Enabled);
  EXPECT_TRUE(cfg().SpeedButtonOP.Enabled);
  EXPECT_TRUE(cfg().RadioGrpMod.Enabled);

  cfg().EditLogName.Text.clear();
  programmer->OKClick();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "请输入有效的Log文件名称！");
  EXPECT_EQ(view.focus.back(), "EditLogName");
  EXPECT_TRUE(view.closed.empty()) << "the dialog stays open";

  view.fileAnswers.push_back("/tmp/chosen.log");
  programmer->SpeedButtonOPClick();
  EXPECT_EQ(cfg().EditLogName.Text, "/tmp/chosen.log");
  programmer->OKClick();
  EXPECT_EQ(view.closed.back(), DialogId::LogConfig);

  cfg().RadioGrpMod.ItemIndex = 2;
  cfg().RadioGrpCreat.ItemIndex = 0;
  programmer->RadioGrpCreatClick();
  EXPECT_EQ(cfg().EditLogName.Text, "");
  EXPECT_EQ(cfg().RadioGrpMod.ItemIndex, 0);
  EXPECT_FALSE(cfg().EditLogName.Enabled);
}

TEST_F(LogFileTest, PanelCanBeClearedCopiedAndSaved) {
  programmer->CopyInformation1Click();
  EXPECT_EQ(view.clipboard, programmer->Info.Text());

  const auto saved = directory / "saved.log";
  view.fileAnswers.push_back(saved.string());
  programmer->SaveInfotoFile1Click();
  EXPECT_EQ(ReadFile(saved), programmer->Info.Text());

  programmer->SaveInfotoFile1Click();  // cancelled: nothing happens
  EXPECT_TRUE(view.messages.empty());

  view.fileAnswers.push_back((directory / "nowhere" / "x.log").string());
  programmer->SaveInfotoFile1Click();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].text.find("nowhere"), std::string::npos);

  programmer->ClearInformation1Click();
  EXPECT_TRUE(programmer->Info.Lines().empty());
  EXPECT_TRUE(view.lines.empty());
}

TEST_F(StartupTest, AnErrorInACommandIsShownAndTheProgramGoesOn) {
  programmer->RunCommand([] { StrToInt("0xZZ"); });
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "'0xZZ' is not a valid integer value");
  EXPECT_EQ(view.messages[0].kind, MessageKind::Error);
}

struct IntegerCase {
  const char* text;
  bool valid;
  int32_t value;
};

class StrToIntTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(StrToIntTest, ParsesOrRefuses) {
  const IntegerCase& k = GetParam();
  if (k.valid) {
    EXPECT_EQ(StrToInt(k.text), k.value);
  } else {
    try {
      StrToInt(k.text);
      ADD_FAILURE() << "accepted " << k.text;
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'") + k.text + "' is not a valid integer value");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StrToIntTest,
    ::testing::Values(IntegerCase{"0xA0", true, 0xA0}, IntegerCase{"$ff", true, 255}, IntegerCase{"x10", true, 16},
                      IntegerCase{"X1F", true, 31}, IntegerCase{"  -5", true, -5}, IntegerCase{"+7", true, 7},
                      IntegerCase{"2147483647", true, 2147483647}, IntegerCase{"-2147483648", true, INT32_MIN},
                      IntegerCase{"$FFFFFFFF", true, -1}, IntegerCase{"0x0000FFF0", true, 0xFFF0},
                      IntegerCase{"2147483648", false, 0}, IntegerCase{"0x100000000", false, 0},
                      IntegerCase{"", false, 0}, IntegerCase{"0x", false, 0}, IntegerCase{"12a", false, 0},
                      IntegerCase{"abc", false, 0}, IntegerCase{"1 ", false, 0}, IntegerCase{"-", false, 0}));

}  // namespace
}  // namespace velkor
