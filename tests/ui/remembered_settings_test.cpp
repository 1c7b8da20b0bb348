// What the window remembers from one run to the next, and the files it
// opens without a dialog: settings written when a window closes come back in
// the next (a fresh start ignores them), stored values that no longer fit are
// left out, files dropped on the window or chosen from the recent files load
// as the menus would, and a file named at start-up opens once the window has
// started. Every window here reads and writes a settings file of its own
// scratch folder ($XDG_CONFIG_HOME).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableView>
#include <QUrl>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/operation_codes.hpp"
#include "main_window.hpp"
#include "remembered_settings.hpp"
#include "support/files.hpp"
#include "spin_until.hpp"
#include "support/firmware.hpp"
#include "support/scratch_directory.hpp"
#include "overloaded.hpp"

namespace velkor::ui {
namespace {

namespace fs = std::filesystem;


QString Q(const fs::path& path) { return QString::fromStdString(path.string()); }

// The values of the named controls as the test reads them, by name.
std::map<std::string, std::string> ValuesOf(const std::vector<NamedControl>& controls,
                                            std::span<const char* const> names) {
  std::map<std::string, std::string> values;
  for (const NamedControl& control : controls) {
    if (std::find_if(names.begin(), names.end(),
                     [&](const char* name) { return std::strcmp(name, control.name) == 0; }) == names.end())
      continue;
    values[control.name] = std::visit(Overloaded{
                                          [](const CheckControl* c) { return std::string(c->Checked ? "on" : "off"); },
                                          [](const EditControl* c) { return c->Text; },
                                          [](const RadioGroupControl* c) { return std::to_string(c->ItemIndex); },
                                          [](const ComboControl* c) { return std::to_string(c->ItemIndex); },
                                          [](const SpinControl* c) { return std::to_string(c->Value); },
                                          [](const auto*) { return std::string("?"); },
                                      },
                                      control.control);
  }
  return values;
}

std::string Bytes(std::size_t count, int step) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(i * step + 1);
  return bytes;
}

class RememberedSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_.emplace("velkor-remembered");
    directory_ = scratch_->Path();
    if (const char* config = std::getenv("XDG_CONFIG_HOME")) previousConfig_ = config;
    setenv("XDG_CONFIG_HOME", (directory_ / "config").c_str(), 1);
  }

  void TearDown() override {
    window_.reset();
    settings_.reset();
    if (previousConfig_)
      setenv("XDG_CONFIG_HOME", previousConfig_->c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
    scratch_.reset();
  }

  fs::path SettingsFile() const { return directory_ / "config" / "velkor350qn" / "velkor350qn.conf"; }

  // A window as the program starts one: the user's settings read first
  // (none of them when fresh), then the start-up.
  void Open(bool fresh = false, const QString& openFile = {}) {
    settings_ = std::make_unique<RememberedSettings>(RememberedSettings::UserFile(), fresh);
    StartOptions options;
    options.settings = settings_.get();
    options.openFile = openFile;
    window_ = std::make_unique<MainWindow>(loop_, options);
    messages_.clear();
    window_->SetMessagePresenter([this](MessageKind, const QString& text) { messages_.push_back(text.toStdString()); });
    window_->show();
    ASSERT_TRUE(SpinUntil([&] { return window_->Started(); }));
  }

  void Close() {
    window_->close();
    window_.reset();
    settings_.reset();
  }

  TQNProgrammer& Core() { return window_->Core(); }
  MainControls& Controls() { return Core().Controls; }

  template <typename T>
  T* Widget(const char* name) {
    T* widget = window_->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  QString Memo() {
    window_->FlushLog();
    return Widget<QPlainTextEdit>("InfoMemo")->toPlainText();
  }

  // Files dropped on the window, as a file manager drops them.
  bool Drop(const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window_.get(), &enter);
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window_.get(), &drop);
    return enter.isAccepted();
  }

  // The paths the Recent Files submenu offers, in order.
  std::vector<std::string> RecentEntries() {
    std::vector<std::string> paths;
    for (const QAction* entry : window_->RecentFilesMenu()->actions()) {
      QString text = entry->text();
      paths.push_back(text.mid(text.indexOf(' ') + 1).replace("&&", "&").toStdString());
    }
    return paths;
  }

  QAction* RecentEntry(const fs::path& path) {
    const std::vector<std::string> paths = RecentEntries();
    const auto found = std::find(paths.begin(), paths.end(), path.string());
    if (found == paths.end()) return nullptr;
    return window_->RecentFilesMenu()->actions().at(static_cast<qsizetype>(found - paths.begin()));
  }

  // The image holds exactly these bytes from address 0.
  void ExpectImageHolds(const std::string& bytes) {
    ASSERT_TRUE(Core().FileLoaded);
    EXPECT_EQ(std::memcmp(Core().Image.Data.get(), bytes.data(), bytes.size()), 0);
  }

  // The data page's grid shows these bytes from address 0.
  void ExpectGridShows(const std::string& bytes) {
    QAbstractItemModel* model = Widget<QTableView>("HexViewer")->model();
    ASSERT_GE(model->rowCount() * 16, static_cast<int>(bytes.size()));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const QString cell = model->data(model->index(static_cast<int>(i / 16), static_cast<int>(i % 16) + 1)).toString();
      ASSERT_EQ(cell, QString("%1").arg(static_cast<uint8_t>(bytes[i]), 2, 16, QChar('0')).toUpper()) << "at " << i;
    }
  }

  fs::path directory_;
  std::optional<test::ScratchStartDirectory> scratch_;
  std::optional<std::string> previousConfig_;
  QtMainLoop loop_;
  std::unique_ptr<RememberedSettings> settings_;
  std::unique_ptr<MainWindow> window_;
  std::vector<std::string> messages_;
};

TEST_F(RememberedSettingsTest, WhatTheOperatorSetComesBackInTheNextWindow) {
  EXPECT_EQ(RememberedSettings::UserFile(), Q(SettingsFile()));
  fs::create_directories(directory_ / "images");
  test::WriteFile(directory_ / "images" / "data.bin", Bytes(1000, 3));
  const fs::path logFile = directory_ / "run.log";

  Open();
  ASSERT_TRUE(window_->ChooseChipFromMenu("W25x10xx"));  // 128 KiB flash: the 3-bit protection levels
  Widget<QRadioButton>("RadioGpVoltItem1")->click();
  Widget<QCheckBox>("EnVerifyChk")->click();
  Widget<QCheckBox>("EnBlankChk")->click();
  Widget<QCheckBox>("ChkBoxSRWD")->click();
  Widget<QComboBox>("ComBoxWP8")->setCurrentIndex(3);
  Widget<QCheckBox>("CheckBoxQE")->click();
  Widget<QSpinBox>("SpinEditPTM")->setValue(250);
  Widget<QCheckBox>("CheckBoxAut")->click();
  Widget<QSpinBox>("SpinEditIn")->setValue(800);
  Widget<QCheckBox>("CheckBoxSN")->click();
  Widget<QLineEdit>("SNEdit")->setText("0x00001234");
  Widget<QLineEdit>("GainEdit")->setText("0x02");
  Widget<QSpinBox>("SpinEditNumb")->setValue(40);  // ticks the limit box ...
  Widget<QCheckBox>("ChkBoxNumb")->click();          // ... which the operator clears again
  Widget<QCheckBox>("ChkBoxRecord")->click();
  Widget<QLineEdit>("EditRecordFile")->setText("line7.jsonl");
  Widget<QCheckBox>("ChkBoxLocate")->click();
  Widget<QRadioButton>("RadioGrpCreatItem1")->click();
  Widget<QLineEdit>("EditLogName")->setText(Q(logFile));
  Widget<QRadioButton>("RadioGrpModItem2")->click();
  window_->SetFileAsker([&](bool, const QStringList&, const QString&, const QString&) {
    return std::optional<QString>(Q(directory_ / "images" / "data.bin"));
  });
  Widget<QAbstractButton>("SpdBtnOpen")->click();
  const QSize size = window_->size() + QSize(37, 23);
  window_->resize(size);
  ASSERT_EQ(Core().Chip.ProtectSetting, 0x8C);
  ASSERT_TRUE(messages_.empty()) << messages_.front();

  const auto job = ValuesOf(Controls().All(), RememberedJobControls());
  const auto log = ValuesOf(Core().LogCfg.All(), RememberedLogControls());
  MainControls defaults;
  LogCfgControls logDefaults;
  int changed = 0;
  for (const auto& [name, value] : job) changed += value != ValuesOf(defaults.All(), RememberedJobControls())[name];
  for (const auto& [name, value] : log) changed += value != ValuesOf(logDefaults.All(), RememberedLogControls())[name];
  ASSERT_GE(changed, 19);
  Close();
  ASSERT_TRUE(fs::is_regular_file(SettingsFile()));

  Open();
  EXPECT_EQ(Controls().MCUNameEdit.Text, "W25x10xx");
  EXPECT_TRUE(Core().ChipConfirmed);
  EXPECT_EQ(ValuesOf(Controls().All(), RememberedJobControls()), job);
  EXPECT_EQ(ValuesOf(Core().LogCfg.All(), RememberedLogControls()), log);
  // Each value took effect as the operator's input did.
  EXPECT_EQ(Core().Chip.ProtectSetting, 0x8C);
  EXPECT_EQ(Core().Job.OptionBits & 0x05, 0x01);
  EXPECT_TRUE(Memo().endsWith("5.0V Interface is selected!"));
  EXPECT_TRUE(Controls().SpinEditIn.Enabled);
  EXPECT_TRUE(Controls().SNEdit.Enabled);
  EXPECT_FALSE(Controls().ChkBoxNumb.Checked);
  EXPECT_TRUE(Core().LogCfg.RadioGrpMod.Enabled);
  EXPECT_EQ(Core().LogCfg.EditLogName.Text, logFile.string());
  // The widgets show it.
  EXPECT_EQ(Widget<QSpinBox>("SpinEditIn")->value(), 800);
  EXPECT_EQ(Widget<QComboBox>("ComBoxWP8")->currentIndex(), 3);
  EXPECT_EQ(Widget<QLineEdit>("SNEdit")->text(), "0x00001234");
  EXPECT_EQ(window_->size(), size);
  EXPECT_EQ(settings_->Folder(FileDialogPurpose::ObjectLoad), Q(directory_ / "images"));
  EXPECT_TRUE(settings_->Folder(FileDialogPurpose::ObjectSave).isEmpty());
  EXPECT_EQ(RecentEntries(), std::vector<std::string>{(directory_ / "images" / "data.bin").string()});
  EXPECT_TRUE(messages_.empty());
}

TEST_F(RememberedSettingsTest, AFreshStartIgnoresWhatIsStoredAndStillWritesAtExit) {
  test::WriteFile(directory_ / "data.bin", Bytes(100, 1));
  Open();
  ASSERT_TRUE(window_->ChooseChipFromMenu("W25x10xx"));
  Widget<QCheckBox>("CheckBoxAut")->click();
  Widget<QSpinBox>("SpinEditIn")->setValue(800);
  window_->OpenFile(Q(directory_ / "data.bin"));
  Close();

  Open(true);
  MainControls defaults;
  EXPECT_EQ(Controls().MCUNameEdit.Text, defaults.MCUNameEdit.Text);
  EXPECT_FALSE(Core().ChipConfirmed);
  EXPECT_EQ(ValuesOf(Controls().All(), RememberedJobControls()), ValuesOf(defaults.All(), RememberedJobControls()));
  EXPECT_TRUE(RecentEntries().empty());
  ASSERT_TRUE(window_->ChooseChipFromMenu("24xx02"));
  Close();

  Open();
  EXPECT_EQ(Controls().MCUNameEdit.Text, "24xx02");
  EXPECT_EQ(Controls().SpinEditIn.Value, defaults.SpinEditIn.Value);
  EXPECT_FALSE(Controls().CheckBoxAut.Checked);
  EXPECT_TRUE(RecentEntries().empty());
}

TEST_F(RememberedSettingsTest, StoredValuesThatNoLongerFitAreLeftOutWhole) {
  Open(true);
  const QSize defaultSize = window_->size();
  Close();
  test::WriteFile(SettingsFile(),
                  "[General]\n"
                  "chip=W25x10xx\n"
                  "geometry=not a geometry\n"
                  "[folders]\n"
                  "objectLoad=" + (directory_ / "gone").string() + "\n"
                  "project=" + directory_.string() + "\n"
                  "[job]\n"
                  "SpinEditIn=99999\n"
                  "SpinEditOut=700\n"
                  "ComBoxWP8=42\n"
                  "RadioGpVolt=7\n"
                  "RadioGroupSpd=1\n"
                  "EnVerifyChk=maybe\n"
                  "SNEdit=0x000000001234\n"
                  "GainEdit=0x04\n"
                  "[log]\n"
                  "RadioGrpMod=-1\n"
                  "CheckBoxLog=false\n");
  Open();
  MainControls defaults;
  const MainControls& c = Controls();
  EXPECT_EQ(c.MCUNameEdit.Text, "W25x10xx");
  // Left out: the control keeps its value, and the log names the setting.
  EXPECT_EQ(c.SpinEditIn.Value, defaults.SpinEditIn.Value);
  EXPECT_EQ(c.ComBoxWP8.ItemIndex, 0);
  EXPECT_EQ(c.RadioGpVolt.ItemIndex, 0);
  EXPECT_TRUE(c.EnVerifyChk.Checked);
  EXPECT_EQ(c.SNEdit.Text, defaults.SNEdit.Text);
  EXPECT_EQ(Core().LogCfg.RadioGrpMod.ItemIndex, 0);
  for (const char* key : {"job/SpinEditIn = \"99999\"", "job/ComBoxWP8 = \"42\"", "job/RadioGpVolt = \"7\"",
                          "job/EnVerifyChk = \"maybe\"", "job/SNEdit = \"0x000000001234\"", "log/RadioGrpMod = \"-1\""})
    EXPECT_TRUE(Memo().contains(QString("The remembered setting %1 no longer fits its control").arg(key))) << key;
  // Taken: the values that fit.
  EXPECT_EQ(c.SpinEditOut.Value, 700);
  EXPECT_EQ(c.RadioGroupSpd.ItemIndex, 1);
  EXPECT_EQ(c.GainEdit.Text, "0x04");
  EXPECT_FALSE(Core().LogCfg.CheckBoxLog.Checked);
  EXPECT_FALSE(Core().LogCfg.RadioGrpCreat.Enabled);  // its handler ran
  EXPECT_EQ(window_->size(), defaultSize);
  EXPECT_TRUE(settings_->Folder(FileDialogPurpose::ObjectLoad).isEmpty());
  EXPECT_EQ(settings_->Folder(FileDialogPurpose::Project), Q(directory_));
  EXPECT_TRUE(messages_.empty());
  Close();

  // Only a chip the menu offers, by its very caption; without it, the job's
  // settings made for it are left out too, the log file's mode is not.
  for (const char* chip : {"NoSuchChip 9000", "NPC79nXBxx(8M)", "w25x10xx"}) {
    SCOPED_TRACE(chip);
    test::WriteFile(SettingsFile(), std::string("[General]\nchip=") + chip +
                                        "\n[job]\nSpinEditOut=700\nComBoxWP8=3\n[log]\nCheckBoxLog=false\n");
    Open();
    EXPECT_EQ(Controls().MCUNameEdit.Text, defaults.MCUNameEdit.Text);
    EXPECT_FALSE(Core().ChipConfirmed);
    EXPECT_TRUE(Memo().contains(QString("The remembered chip \"%1\" is not in the chip menu: no chip was chosen, "
                                        "and the job settings remembered with it were left out.")
                                    .arg(chip)));
    EXPECT_EQ(Controls().SpinEditOut.Value, defaults.SpinEditOut.Value);
    EXPECT_EQ(Controls().ComBoxWP8.ItemIndex, 0);
    EXPECT_EQ(Core().Chip.ProtectSetting, 0);
    EXPECT_FALSE(Core().LogCfg.CheckBoxLog.Checked);
    Close();
  }
}

TEST_F(RememberedSettingsTest, DroppedObjectAndProjectFilesLoadAsTheMenusWould) {
  const std::string data = Bytes(2048, 7);
  test::WriteFile(directory_ / "data.bin", data);
  Open(true);
  ASSERT_TRUE(window_->ChooseChipFromMenu("24xx16"));  // 2 KiB: the grid shows every byte

  ASSERT_TRUE(Drop({QUrl::fromLocalFile(Q(directory_ / "data.bin"))}));
  ASSERT_TRUE(SpinUntil([&] { return Core().FileLoaded; }));
  ExpectImageHolds(data);
  ExpectGridShows(data);
  EXPECT_EQ(Core().Image.ChipEnd, 2047u);
  EXPECT_EQ(Controls().ProductEditX.Text, (directory_ / "data.bin").string());

  // A project of that job, dropped after another chip has taken its place.
  Core().SaveProject((directory_ / "job.OVP").string());
  ASSERT_TRUE(window_->ChooseChipFromMenu("W25x10xx"));
  ASSERT_FALSE(Core().FileLoaded);
  ASSERT_TRUE(Drop({QUrl::fromLocalFile(Q(directory_ / "job.OVP"))}));
  ASSERT_TRUE(SpinUntil([&] { return Core().FileLoaded; }));
  EXPECT_EQ(Controls().MCUNameEdit.Text, "24xx16");
  ExpectImageHolds(data);
  ExpectGridShows(data);
  EXPECT_TRUE(Memo().contains("Load Project file \"" + Q(directory_ / "job.OVP") + "\""));

  // Several at once: the first is loaded, and the log says so.
  const std::string other = Bytes(2048, 5);
  test::WriteFile(directory_ / "other.bin", other);
  ASSERT_TRUE(
      Drop({QUrl::fromLocalFile(Q(directory_ / "other.bin")), QUrl::fromLocalFile(Q(directory_ / "data.bin"))}));
  ASSERT_TRUE(SpinUntil([&] { return Controls().ProductEditX.Text == (directory_ / "other.bin").string(); }));
  ExpectImageHolds(other);
  EXPECT_TRUE(Memo().contains("2 files were dropped on the window; only the first, \"" + Q(directory_ / "other.bin") +
                              "\", is loaded."));
  EXPECT_TRUE(messages_.empty()) << messages_.front();

  // Not while a programmer works; and what is not a local file is refused.
  // (An erase armed to time out only after hours: no tick ends it meanwhile.)
  Core().Channels.Channel(1).Operation = kOpErase;
  Core().BeginOperation(1, 1'000'000);
  ASSERT_TRUE(Drop({QUrl::fromLocalFile(Q(directory_ / "data.bin"))}));
  ASSERT_TRUE(SpinUntil([&] { return !messages_.empty(); }));
  EXPECT_NE(messages_.front().find("Not while"), std::string::npos) << messages_.front();
  Core().EndOperation(1, false);
  EXPECT_FALSE(Drop({QUrl("https://example.com/data.bin")}));
  QApplication::processEvents();
  ExpectImageHolds(other);
  EXPECT_EQ(Controls().ProductEditX.Text, (directory_ / "other.bin").string());
}

TEST(RecentFileListTest, TheLastEightMostRecentFirstWithoutDuplicates) {
  QStringList eight;
  for (int i = 1; i <= 8; ++i) eight << QString("/f%1").arg(i);
  struct Case {
    const char* what;
    QStringList before;
    QString added;
    QStringList after;
  };
  const Case cases[] = {
      {"the first", {}, "/a", {"/a"}},
      {"a new one goes first", {"/a", "/b"}, "/c", {"/c", "/a", "/b"}},
      {"one already there moves first", {"/a", "/b", "/c"}, "/b", {"/b", "/a", "/c"}},
      {"the most recent again", {"/a", "/b"}, "/a", {"/a", "/b"}},
      {"the oldest drops off", eight, "/new", QStringList{"/new"} + eight.mid(0, 7)},
      {"one already there among eight", eight, "/f8", QStringList{"/f8"} + eight.mid(0, 7)},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    EXPECT_EQ(RememberedSettings::WithRecentFile(test.before, test.added), test.after);
  }
}

TEST_F(RememberedSettingsTest, RecentFilesLoadAgainAndAreRemembered) {
  std::vector<fs::path> files;
  for (int i = 0; i < 10; ++i) {
    files.push_back(directory_ / ("f" + std::to_string(i) + ".bin"));
    test::WriteFile(files.back(), Bytes(64, i + 1));
  }
  Open();
  for (const fs::path& file : files) window_->OpenFile(Q(file));
  window_->OpenFile(Q(files[3]));
  window_->OpenFile(Q(directory_ / "missing.hex"));  // not loaded: not listed
  messages_.clear();
  const std::vector<std::string> expected = {files[3], files[9], files[8], files[7],
                                             files[6], files[5], files[4], files[2]};
  EXPECT_EQ(RecentEntries(), expected);

  // An entry loads its file, which becomes the most recent.
  QAction* entry = RecentEntry(files[5]);
  ASSERT_NE(entry, nullptr);
  entry->trigger();
  EXPECT_EQ(Controls().ProductEditX.Text, files[5].string());
  ExpectImageHolds(Bytes(64, 6));
  EXPECT_EQ(RecentEntries().front(), files[5].string());

  // A file that has gone says so and leaves the list; the image stays.
  fs::remove(files[6]);
  entry = RecentEntry(files[6]);
  ASSERT_NE(entry, nullptr);
  entry->trigger();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0],
            "The file \"" + files[6].string() + "\" is no longer there; it was taken off the recent files.");
  EXPECT_EQ(RecentEntry(files[6]), nullptr);
  EXPECT_EQ(Controls().ProductEditX.Text, files[5].string());
  const std::vector<std::string> remembered = RecentEntries();
  EXPECT_EQ(remembered.size(), 7u);
  Close();

  Open();
  EXPECT_EQ(RecentEntries(), remembered);
}

TEST_F(RememberedSettingsTest, AFileNamedAtStartUpOpensOnceTheWindowHasStarted) {
  const std::string data = Bytes(256, 11);
  test::WriteFile(directory_ / "data.bin", data);
  Open(true);
  ASSERT_TRUE(window_->ChooseChipFromMenu("24xx02"));
  window_->OpenFile(Q(directory_ / "data.bin"));
  Core().SaveProject((directory_ / "job.OVP").string());
  Close();

  Open(true, Q(directory_ / "job.OVP"));
  EXPECT_EQ(Controls().MCUNameEdit.Text, "24xx02");
  ExpectImageHolds(data);
  const QString memo = Memo();
  EXPECT_LT(memo.indexOf("Hello Velkor350QN-ED User!"), memo.indexOf("Load Project file"));
  EXPECT_TRUE(messages_.empty());
  Close();

  // One that cannot be opened: the box the menu gives for it.
  const QString missing = Q(directory_ / "missing.hex");
  Open(true, missing);
  ASSERT_EQ(messages_.size(), 1u);
  window_->SetFileAsker([&](bool, const QStringList&, const QString&, const QString&) {
    return std::optional<QString>(missing);
  });
  Widget<QAbstractButton>("SpdBtnOpen")->click();
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[0], messages_[1]);
}

}  // namespace
}  // namespace velkor::ui
