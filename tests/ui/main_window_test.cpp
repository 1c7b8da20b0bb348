// The main window over the core, without a display: every control of the
// core's state has its widget, the widgets show the state and feed it back,
// the chip menu offers exactly the catalogue, and choosing a chip through it
// sets the window up for that chip.
#include "data_view_form.hpp"
#include "main_window.hpp"
#include "data/object_writer.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <stdlib.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QWidgetAction>
#include <filesystem>
#include <optional>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "chip_selection_form.hpp"
#include "chips/catalogue.hpp"
#include "data/image_buffer.hpp"
#include "file_filter.hpp"
#include "hex_grid.hpp"
#include "link/operation_codes.hpp"
#include "spin_until.hpp"
#include "support/firmware.hpp"
#include "support/scratch_directory.hpp"
#include "overloaded.hpp"

namespace velkor::ui {
namespace {

namespace fs = std::filesystem;


QString Q(const std::string& text) { return QString::fromStdString(text); }

bool OwnVisible(const QWidget* widget) { return !widget->isHidden(); }
bool OwnEnabled(const QWidget* widget) { return !widget->testAttribute(Qt::WA_ForceDisabled); }

// Menu texts show a chip name's ampersand doubled.
std::string EntryText(const QAction* action) { return action->text().replace("&&", "&").toStdString(); }

// The chip captions the menu lets the operator reach, in menu order (the
// search field at its top is none).
void CollectOffered(const QMenu* menu, std::vector<std::string>& captions) {
  for (const QAction* action : menu->actions()) {
    if (action->isSeparator() || !action->isVisible() || qobject_cast<const QWidgetAction*>(action)) continue;
    if (const QMenu* submenu = action->menu())
      CollectOffered(submenu, captions);
    else
      captions.push_back(EntryText(action));
  }
}

// The visible entry at the end of a path of visible submenus, or null.
QAction* MenuEntry(const QMenu* menu, const std::vector<std::string>& path, const std::string& caption) {
  for (const std::string& step : path) {
    const QMenu* next = nullptr;
    for (const QAction* action : menu->actions())
      if (action->isVisible() && action->menu() != nullptr && EntryText(action) == step) next = action->menu();
    if (next == nullptr) return nullptr;
    menu = next;
  }
  for (QAction* action : menu->actions())
    if (action->isVisible() && action->menu() == nullptr && !action->isSeparator() && EntryText(action) == caption)
      return action;
  return nullptr;
}

// Every control of the state has exactly one widget (or action, or page)
// named after it, of a kind that can show it, showing what the state says.
void ExpectWidgetsShow(QWidget* window, const std::vector<NamedControl>& controls) {
  auto* tabs = window->findChild<QTabWidget*>("PageControl1");
  ASSERT_NE(tabs, nullptr);
  for (const NamedControl& control : controls) {
    SCOPED_TRACE(control.name);
    const QList<QObject*> found = window->findChildren<QObject*>(control.name);
    ASSERT_EQ(found.size(), 1);
    QObject* object = found.front();
    std::visit(
        Overloaded{
            [&](const ButtonControl* state) {
              if (auto* action = qobject_cast<QAction*>(object)) {
                EXPECT_EQ(action->text(), Q(state->Caption));
                EXPECT_EQ(action->shortcut(), QKeySequence::fromString(Q(state->Shortcut)));
                EXPECT_EQ(action->isVisible(), state->Visible);
                if (state->Visible) {
                  EXPECT_EQ(action->isEnabled(), state->Enabled);
                }
              } else if (auto* button = qobject_cast<QAbstractButton*>(object)) {
                EXPECT_EQ(button->text(), Q(state->Caption));
                EXPECT_EQ(OwnVisible(button), state->Visible);
                // A hidden button keeps its place but cannot be pressed.
                EXPECT_EQ(OwnEnabled(button), state->Visible && state->Usable());
              } else {
                ADD_FAILURE() << "neither a button nor an action";
              }
            },
            [&](const CheckControl* state) {
              auto* box = qobject_cast<QCheckBox*>(object);
              ASSERT_NE(box, nullptr);
              EXPECT_EQ(box->text(), Q(state->Caption));
              EXPECT_EQ(box->isChecked(), state->Checked);
              EXPECT_EQ(OwnVisible(box), state->Visible);
              EXPECT_EQ(OwnEnabled(box), state->Enabled);
            },
            [&](const LabelControl* state) {
              auto* label = qobject_cast<QLabel*>(object);
              ASSERT_NE(label, nullptr);
              EXPECT_EQ(label->text(), Q(state->Caption));
              EXPECT_EQ(OwnVisible(label), state->Visible);
            },
            [&](const EditControl* state) {
              auto* edit = qobject_cast<QLineEdit*>(object);
              ASSERT_NE(edit, nullptr);
              EXPECT_EQ(edit->text(), Q(state->Text));
              EXPECT_EQ(edit->isReadOnly(), state->ReadOnly);
              EXPECT_EQ(OwnVisible(edit), state->Visible);
              EXPECT_EQ(OwnEnabled(edit), state->Enabled);
            },
            [&](const RadioGroupControl* state) {
              auto* box = qobject_cast<QGroupBox*>(object);
              ASSERT_NE(box, nullptr);
              EXPECT_EQ(box->title(), Q(state->Caption));
              const QList<QRadioButton*> radios = box->findChildren<QRadioButton*>();
              ASSERT_EQ(radios.size(), static_cast<qsizetype>(state->Items.size()));
              int checked = -1;
              for (int i = 0; i < radios.size(); ++i) {
                EXPECT_EQ(radios[i]->text(), Q(state->Items[static_cast<std::size_t>(i)]));
                if (radios[i]->isChecked()) checked = i;
              }
              EXPECT_EQ(checked, state->ItemIndex);
              EXPECT_EQ(OwnVisible(box), state->Visible);
              EXPECT_EQ(OwnEnabled(box), state->Enabled);
            },
            [&](const ComboControl* state) {
              auto* combo = qobject_cast<QComboBox*>(object);
              ASSERT_NE(combo, nullptr);
              ASSERT_EQ(combo->count(), static_cast<int>(state->Items.size()));
              for (int i = 0; i < combo->count(); ++i)
                EXPECT_EQ(combo->itemText(i), Q(state->Items[static_cast<std::size_t>(i)]));
              // An index past the items chooses none.
              EXPECT_EQ(combo->currentIndex(), state->ItemIndex < combo->count() ? state->ItemIndex : -1);
              EXPECT_EQ(OwnVisible(combo), state->Visible);
            },
            [&](const SpinControl* state) {
              auto* spin = qobject_cast<QSpinBox*>(object);
              ASSERT_NE(spin, nullptr);
              EXPECT_EQ(spin->minimum(), state->MinValue);
              EXPECT_EQ(spin->maximum(), state->MaxValue);
              EXPECT_EQ(spin->singleStep(), state->Increment);
              EXPECT_EQ(spin->value(), state->Value);
              EXPECT_EQ(OwnVisible(spin), state->Visible);
              EXPECT_EQ(OwnEnabled(spin), state->Enabled);
            },
            [&](const PageControl* state) {
              auto* widget = qobject_cast<QWidget*>(object);
              ASSERT_NE(widget, nullptr);
              const int index = tabs->indexOf(widget);
              if (index >= 0) {
                EXPECT_EQ(tabs->tabText(index), Q(state->Caption));
                EXPECT_EQ(tabs->isTabVisible(index), state->Visible);
              } else {
                auto* box = qobject_cast<QGroupBox*>(object);
                ASSERT_NE(box, nullptr);
                EXPECT_EQ(box->title(), Q(state->Caption));
                EXPECT_EQ(OwnVisible(box), state->Visible);
              }
            },
            [&](const GaugeControl* state) {
              auto* bar = qobject_cast<QProgressBar*>(object);
              ASSERT_NE(bar, nullptr);
              EXPECT_EQ(bar->maximum(), std::max(1, state->MaxValue));
              EXPECT_EQ(bar->value(), state->Progress);
              EXPECT_EQ(OwnVisible(bar), state->Visible);
            },
            [&](const ResultControl* state) {
              auto* panel = qobject_cast<QLabel*>(object);
              ASSERT_NE(panel, nullptr);
              EXPECT_EQ(panel->text(), Q(state->Caption));
              EXPECT_EQ(OwnVisible(panel), state->Visible);
            },
        },
        control.control);
  }
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The window makes its log folder in the directory it starts in.
    scratch_.emplace("velkor-window");
    directory_ = scratch_->Path();

    window_ = std::make_unique<MainWindow>(loop_, StartOptions{});
    window_->SetMessagePresenter([this](MessageKind kind, const QString& text) {
      messageKinds_.push_back(kind);
      messages_.push_back(text.toStdString());
    });
    window_->show();
    ASSERT_TRUE(SpinUntil([&] { return window_->Started(); }));
  }

  void TearDown() override {
    window_.reset();
    scratch_.reset();
  }

  MainControls& Controls() { return window_->Core().Controls; }

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

  void ExpectEveryControlShown() {
    ExpectWidgetsShow(window_.get(), Controls().All());
    ExpectWidgetsShow(window_.get(), window_->Core().LogCfg.All());
    ExpectWidgetsShow(window_.get(), window_->Core().ConfigSN.All());
  }

  // The message the core shows when an operation is asked for before a chip
  // is chosen.
  std::string NoChipMessage() {
    Widget<QAbstractButton>("SpdBtnAutoP")->click();
    EXPECT_EQ(messages_.size(), 1u);
    const std::string text = messages_.empty() ? std::string() : messages_.back();
    messages_.clear();
    messageKinds_.clear();
    return text;
  }

  fs::path directory_;
  std::optional<test::ScratchStartDirectory> scratch_;
  QtMainLoop loop_;
  std::unique_ptr<MainWindow> window_;
  std::vector<std::string> messages_;
  std::vector<MessageKind> messageKinds_;
};

TEST_F(MainWindowTest, EveryControlHasOneWidgetNamedAfterItShowingItsState) {
  ExpectEveryControlShown();
  // The start-up has run: pages hidden, greeting in the panel.
  EXPECT_FALSE(Widget<QTabWidget>("PageControl1")->isTabVisible(
      Widget<QTabWidget>("PageControl1")->indexOf(Widget<QWidget>("TabChipSet"))));
  EXPECT_TRUE(Memo().contains("Hello Velkor350QN-ED User! ----- "));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainWindowTest, FitsABenchScreen) {
  EXPECT_LE(window_->width(), 1280);
  EXPECT_LE(window_->height(), 800);
  const QSize least = window_->minimumSizeHint();
  EXPECT_LE(least.width(), 1280);
  EXPECT_LE(least.height(), 800);
}

TEST_F(MainWindowTest, OperatorInputGoesIntoTheStateAndRunsTheControlsHandler) {
  MainControls& c = Controls();
  TQNProgrammer& core = window_->Core();
  struct Case {
    const char* what;
    std::function<void()> act;
    std::function<void()> expect;
  };
  const Case cases[] = {
      {"serial numbers on enables their fields",
       [&] { Widget<QCheckBox>("CheckBoxSN")->click(); },
       [&] {
         EXPECT_TRUE(c.CheckBoxSN.Checked);
         EXPECT_TRUE(c.SNEdit.Enabled);
         EXPECT_TRUE(OwnEnabled(Widget<QLineEdit>("SNEdit")));
         EXPECT_TRUE(OwnEnabled(Widget<QCheckBox>("ChkBoxPCSN")));
       }},
      {"a burn limit above 0 checks the limit box",
       [&] { Widget<QSpinBox>("SpinEditNumb")->setValue(10); },
       [&] {
         EXPECT_EQ(c.SpinEditNumb.Value, 10);
         EXPECT_TRUE(c.ChkBoxNumb.Checked);
         EXPECT_TRUE(Widget<QCheckBox>("ChkBoxNumb")->isChecked());
       }},
      {"a burn limit of 0 unchecks it again",
       [&] { Widget<QSpinBox>("SpinEditNumb")->setValue(0); },
       [&] { EXPECT_FALSE(Widget<QCheckBox>("ChkBoxNumb")->isChecked()); }},
      {"automatic detection off disables its times",
       [&] {
         Widget<QCheckBox>("CheckBoxAut")->click();
         Widget<QCheckBox>("CheckBoxAut")->click();
       },
       [&] {
         EXPECT_FALSE(c.CheckBoxAut.Checked);
         EXPECT_FALSE(c.SpinEditIn.Enabled);
         EXPECT_FALSE(OwnEnabled(Widget<QSpinBox>("SpinEditIn")));
         EXPECT_FALSE(OwnEnabled(Widget<QSpinBox>("SpinEditOut")));
       }},
      {"the 5.0V item selects 5 V",
       [&] { Widget<QRadioButton>("RadioGpVoltItem1")->click(); },
       [&] {
         EXPECT_EQ(c.RadioGpVolt.ItemIndex, 1);
         EXPECT_EQ(core.Job.OptionBits & 0x05, 0x01);
         EXPECT_TRUE(Memo().endsWith("5.0V Interface is selected!"));
       }},
      {"SRWD and protection level 3 give 0x8C",
       [&] {
         Widget<QCheckBox>("ChkBoxSRWD")->click();
         Widget<QComboBox>("ComBoxWP8")->setCurrentIndex(3);
       },
       [&] {
         EXPECT_EQ(c.ComBoxWP8.ItemIndex, 3);
         EXPECT_EQ(core.Chip.ProtectSetting, 0x8C);
         EXPECT_EQ(Widget<QLabel>("LabelWP")->text(), Q(c.LabelWP.Caption));
         EXPECT_TRUE(Widget<QLabel>("LabelWP")->text().contains("8C", Qt::CaseInsensitive));
       }},
      {"typed text reaches the state",
       [&] { Widget<QLineEdit>("EditDevAdrX")->setText("0xA2"); },
       [&] { EXPECT_EQ(c.EditDevAdrX.Text, "0xA2"); }},
      {"a clock item reaches the state",
       [&] { Widget<QRadioButton>("RadioGroupSpdItem0")->click(); },
       [&] { EXPECT_EQ(c.RadioGroupSpd.ItemIndex, 0); }},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    test.act();
    test.expect();
  }
  ExpectEveryControlShown();
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainWindowTest, ShowingTheStateRunsNoHandler) {
  MainControls& c = Controls();
  TQNProgrammer& core = window_->Core();
  const std::size_t lines = core.Info.Lines().size();
  c.RadioGpVolt.ItemIndex = 2;
  c.ComBoxWPF.ItemIndex = 5;
  c.CheckBoxSN.Checked = true;
  c.SpinEditNumb.Value = 20;
  c.GaugeBar1.Progress = 40;
  c.GaugeBar1.Colour = GaugeColour::Red;
  c.SpdBtnProg.Visible = false;
  c.TabSheetFlash.Visible = true;
  window_->ControlsChanged();

  ExpectEveryControlShown();
  // The handlers of these controls would have logged, computed the
  // protection value, enabled the serial-number fields, checked the limit.
  EXPECT_EQ(core.Info.Lines().size(), lines);
  EXPECT_EQ(core.Chip.ProtectSetting, 0);
  EXPECT_FALSE(c.SNEdit.Enabled);
  EXPECT_FALSE(c.ChkBoxNumb.Checked);
  EXPECT_EQ(Widget<QProgressBar>("GaugeBar1")->value(), 40);
  EXPECT_EQ(Widget<QProgressBar>("GaugeBar1")->property("gaugeColour").toInt(), static_cast<int>(GaugeColour::Red));
}

TEST_F(MainWindowTest, ChipMenuOffersExactlyTheCatalogueEntriesThatAreNotHidden) {
  std::vector<std::string> expected;
  std::vector<std::string> hidden;
  for (const CatalogueEntry& entry : ChipCatalogue()) (entry.hidden ? hidden : expected).push_back(entry.caption);
  EXPECT_EQ(expected.size(), 182u);
  EXPECT_EQ(hidden.size(), 6u);

  std::vector<std::string> offered;
  CollectOffered(window_->ChipForm().PopupMenuQN(), offered);
  EXPECT_EQ(offered, expected);
  for (const std::string& caption : hidden) {
    SCOPED_TRACE(caption);
    EXPECT_EQ(window_->ChipForm().FindEntry(Q(caption)), nullptr);
    EXPECT_FALSE(window_->ChooseChipFromMenu(Q(caption)));
  }
  EXPECT_FALSE(window_->ChooseChipFromMenu("NoSuchChip"));
  EXPECT_EQ(Controls().MCUNameEdit.Text, "请选择芯片的型号...");
}

TEST_F(MainWindowTest, ChoosingW25x128xxThroughTheChipButtonAndMenuSetsTheWindowUpForIt) {
  const CatalogueEntry* chip = FindChip("W25x128xx");
  ASSERT_NE(chip, nullptr);
  auto* form = window_->findChild<QDialog*>("TChipSeltForm");
  ASSERT_NE(form, nullptr);
  bool triggered = false;
  bool leftOpen = false;
  // Runs inside the chip form's modal loop.
  QTimer::singleShot(0, form, [&] {
    if (QAction* entry = MenuEntry(window_->ChipForm().PopupMenuQN(), chip->menu, chip->caption)) {
      triggered = true;
      entry->trigger();
    }
    if (form->isVisible()) {
      leftOpen = true;
      form->reject();
    }
  });
  Widget<QPushButton>("DevButton")->click();

  EXPECT_TRUE(triggered);
  EXPECT_FALSE(leftOpen);
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(Widget<QLineEdit>("MCUNameEdit")->text(), "W25x128xx");
  EXPECT_EQ(Widget<QLabel>("lbFlashSize")->text(), "16384 KByte");
  EXPECT_TRUE(OwnVisible(Widget<QComboBox>("ComBoxWPF")));
  EXPECT_FALSE(OwnVisible(Widget<QComboBox>("ComBoxWP8")));
  auto* tabs = Widget<QTabWidget>("PageControl1");
  EXPECT_TRUE(tabs->isTabVisible(tabs->indexOf(Widget<QWidget>("TabChipSet"))));
  EXPECT_TRUE(Memo().contains("Chip Main Flash is 16384KB/16MB."));
  EXPECT_TRUE(window_->Core().ChipConfirmed);
  ExpectEveryControlShown();
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainWindowTest, Choosing24xx02SetsTheWindowUpForAnI2cEeprom) {
  ASSERT_TRUE(window_->ChooseChipFromMenu("24xx02"));

  EXPECT_EQ(Widget<QLineEdit>("MCUNameEdit")->text(), "24xx02");
  auto* clock = Widget<QGroupBox>("RadioGroupSpd");
  EXPECT_TRUE(OwnVisible(clock));
  QString checked;
  for (const QRadioButton* radio : clock->findChildren<QRadioButton*>())
    if (radio->isChecked()) checked = radio->text();
  EXPECT_EQ(checked, "CLK=400KHz");
  EXPECT_TRUE(OwnVisible(Widget<QLineEdit>("EditDevAdrX")));
  EXPECT_TRUE(OwnVisible(Widget<QSpinBox>("SpinEditPGSZ")));
  EXPECT_EQ(Widget<QSpinBox>("SpinEditPGSZ")->value(), 8);
  EXPECT_FALSE(OwnVisible(Widget<QAbstractButton>("SpdBtnErase")));
  EXPECT_FALSE(OwnVisible(Widget<QAbstractButton>("SpdBtnBlkChk")));
  EXPECT_FALSE(OwnVisible(Widget<QGroupBox>("GroupBoxCtrl")));
  EXPECT_TRUE(Memo().contains("Chip Main Flash is 256B/0KB."));
  ExpectEveryControlShown();
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainWindowTest, LoadedEepromImageShowsInTheHexGridAndPagesInTheViewer) {
  ASSERT_TRUE(window_->ChooseChipFromMenu("24xx16"));  // 2 KiB: 128 rows, four viewer pages
  {
    std::ofstream hex(directory_ / "data.hex");
    hex << ":10000000000102030405060708090A0B0C0D0E0F78\n:0107FF00A554\n:00000001FF\n";
  }
  window_->SetFileAsker([&](bool, const QStringList&, const QString&, const QString&) {
    return std::optional<QString>(QString::fromStdString((directory_ / "data.hex").string()));
  });
  Widget<QAbstractButton>("SpdBtnOpen")->click();
  ASSERT_TRUE(messages_.empty()) << messages_.front();

  auto* grid = Widget<QTableView>("HexViewer");
  QAbstractItemModel* model = grid->model();
  ASSERT_EQ(model->rowCount(), 128);
  EXPECT_EQ(model->data(model->index(0, 0)).toString(), "0x00000000");
  EXPECT_EQ(model->data(model->index(0, 16)).toString(), "0F");
  EXPECT_EQ(model->data(model->index(127, 16)).toString(), "A5");
  EXPECT_EQ(model->data(model->index(127, 17)).toString(), QString(16, QChar('.')));
  EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), "  0");

  // The viewer: End shows the last page, Page Down stays there, Page Up
  // goes back one page, a bad GO address is reported and moves nothing.
  std::vector<uint32_t> starts;
  window_->SetDialogRunner([&](DialogId id, QDialog& dialog) {
    if (id != DialogId::DataView) return;
    auto& viewer = static_cast<TDataViewForm&>(dialog);
    dialog.show();
    const auto press = [&](Qt::Key key) {
      QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
      QApplication::sendEvent(&viewer, &event);
      starts.push_back(viewer.ViewStart());
    };
    press(Qt::Key_End);
    press(Qt::Key_PageDown);
    press(Qt::Key_PageUp);
    viewer.findChild<QLineEdit*>("EditAddr")->setText("0x12345");
    viewer.findChild<QPushButton*>("BitBtnGo")->click();
    starts.push_back(viewer.ViewStart());
    viewer.findChild<QLineEdit*>("EditAddr")->setText("zz");
    viewer.findChild<QPushButton*>("BitBtnGo")->click();
    starts.push_back(viewer.ViewStart());
    EXPECT_TRUE(viewer.findChild<QPlainTextEdit*>("DataViewMemo")->toPlainText().startsWith(
        "            0   1   2   3"));
    dialog.hide();
  });
  window_->Core().ViewDataBuffer1Click();
  EXPECT_EQ(starts, (std::vector<uint32_t>{0x600, 0x600, 0x400, 0x7F0, 0x7F0}));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "'zz' is not a valid integer value");
}

TEST_F(MainWindowTest, GoToFirstDifferenceShowsTheDataPageAtThatByte) {
  ASSERT_TRUE(window_->ChooseChipFromMenu("24xx16"));
  {
    std::ofstream hex(directory_ / "data.hex");
    hex << ":0107FF00A554\n:00000001FF\n";
  }
  window_->SetFileAsker([&](bool, const QStringList&, const QString&, const QString&) {
    return std::optional<QString>(QString::fromStdString((directory_ / "data.hex").string()));
  });
  Widget<QAbstractButton>("SpdBtnOpen")->click();
  ASSERT_TRUE(messages_.empty()) << messages_.front();

  // Nothing found yet: the command says so and moves nothing.
  Widget<QTabWidget>("PageControl1")->setCurrentIndex(0);
  window_->Core().GoToDifferenceClick();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(Widget<QTabWidget>("PageControl1")->currentIndex(), 0);

  window_->Core().LastDifference = 0x5A3;
  window_->Core().GoToDifferenceClick();
  auto* grid = Widget<QTableView>("HexViewer");
  EXPECT_EQ(Widget<QTabWidget>("PageControl1")->currentWidget(), grid->parentWidget());
  const QModelIndex cell = grid->currentIndex();
  ASSERT_TRUE(cell.isValid());
  EXPECT_EQ(cell.row(), 0x5A);
  EXPECT_EQ(cell.column(), 1 + 3);
  EXPECT_EQ(grid->model()->data(grid->model()->index(cell.row(), 0)).toString(), "0x000005A0");
}

TEST_F(MainWindowTest, ButtonsAndMenuItemsRunTheirCommands) {
  const std::string noChip = NoChipMessage();
  ASSERT_FALSE(noChip.empty());
  // Operations refuse to start without a chip: each of these reached one.
  for (const char* name : {"SpdBtnDownLoad", "SpeedButtonRD", "SpdBtnBlkChk", "SpdBtnErase", "SpdBtnProg", "SpdBtnVerify",
                           "SpdBtnAutoP"}) {
    SCOPED_TRACE(name);
    Widget<QAbstractButton>(name)->click();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_.back(), noChip);
    EXPECT_EQ(messageKinds_.back(), MessageKind::Warning);
    messages_.clear();
  }
  for (const char* name : {"DownloadToProgrammer1", "ReadTargetChipMemory1", "BlankCheck1", "EraseChip1", "Programming1",
                           "Verification1", "AutoProgramming1", "ReadChipIDandStatus1"}) {
    SCOPED_TRACE(name);
    Widget<QAction>(name)->trigger();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_.back(), noChip);
    messages_.clear();
  }

  std::vector<DialogId> shown;
  window_->SetDialogRunner([&](DialogId id, QDialog&) { shown.push_back(id); });
  struct Opens {
    const char* name;
    std::vector<DialogId> dialogs;
  };
  const Opens opens[] = {
      {"About1", {DialogId::About}},
      {"N5", {DialogId::LogConfig}},
      {"BitBtnFixSN", {DialogId::ConfigSN}},
      {"DevButton", {DialogId::ChipSelection}},
      {"ViewDataBuffer1", {}},  // not before a chip is chosen
  };
  for (const Opens& open : opens) {
    SCOPED_TRACE(open.name);
    shown.clear();
    QObject* object = window_->findChild<QObject*>(open.name);
    ASSERT_NE(object, nullptr);
    if (auto* action = qobject_cast<QAction*>(object))
      action->trigger();
    else
      qobject_cast<QAbstractButton*>(object)->click();
    EXPECT_EQ(shown, open.dialogs);
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainWindowTest, SpaceOrEnterThatNoControlTakesStartsAutoProgrammingWhileItsButtonIsEnabled) {
  const std::string noChip = NoChipMessage();
  auto press = [](QWidget* target, int key, bool autoRepeat = false) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Space ? " " : "\r", autoRepeat);
    QApplication::sendEvent(target, &event);
  };
  auto* panel = Widget<QWidget>("Panel1");
  press(panel, Qt::Key_Space);
  press(panel, Qt::Key_Return);
  EXPECT_EQ(messages_, (std::vector<std::string>{noChip, noChip}));

  press(panel, Qt::Key_Space, true);                      // a held key
  press(Widget<QCheckBox>("ChkBoxCPES"), Qt::Key_Space);  // a control that takes the key
  EXPECT_EQ(messages_.size(), 2u);

  Controls().SpdBtnAutoP.Enabled = false;
  window_->ControlsChanged();
  press(panel, Qt::Key_Space);
  press(panel, Qt::Key_Enter);
  EXPECT_EQ(messages_.size(), 2u);
}

TEST_F(MainWindowTest, SpaceOrEnterNeverStartsAutoProgrammingFromTextListOrGrid) {
  // Without a chip, every start of the automatic programming shows the
  // no-chip box: the count of boxes counts the starts.
  const std::string noChip = NoChipMessage();
  Controls().TabSheetFlash.Visible = true;
  window_->ControlsChanged();
  window_->activateWindow();
  ASSERT_TRUE(SpinUntil([&] { return window_->isActiveWindow(); }));
  auto* pages = Widget<QTabWidget>("PageControl1");
  // The keys go to the focused control, and on to the window when it
  // leaves them, as they do when the operator types.
  const auto pressBoth = [](QWidget* target) {
    for (int key : {Qt::Key_Return, Qt::Key_Space}) {
      QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Space ? " " : "\r");
      QApplication::sendEvent(target, &event);
      if (auto* combo = qobject_cast<QComboBox*>(target)) combo->hidePopup();  // Space opened its list
    }
  };
  struct Case {
    const char* control;
    const char* page;  // the page it is on, or null for the left column
  };
  const Case cases[] = {
      {"InfoMemo", "TabSheetChip"},    // the log
      {"HexViewer", "TabSheetFlash"},  // a grid
      {"ComboBoxCOM", nullptr},        // a combo box's list
      {"MCUNameEdit", nullptr},        // an edit
      {"SpinEditPTM", "TabSheetCtrl"},  // a spin box
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.control);
    if (test.page != nullptr) pages->setCurrentWidget(Widget<QWidget>(test.page));
    auto* control = Widget<QWidget>(test.control);
    control->setFocus();
    ASSERT_TRUE(SpinUntil([&] { return control->hasFocus(); }));
    pressBoth(control);
    EXPECT_TRUE(messages_.empty());
  }
  // The same keys from the tool bar panel start it.
  auto* panel = Widget<QWidget>("Panel1");
  panel->setFocus();
  ASSERT_TRUE(SpinUntil([&] { return panel->hasFocus(); }));
  pressBoth(panel);
  EXPECT_EQ(messages_, (std::vector<std::string>{noChip, noChip}));
}

TEST_F(MainWindowTest, ToolBarButtonsKeepTheirPlacesWhateverTheChipHides) {
  // Each tool-bar button's place, left to right.
  const auto places = [this] {
    window_->ControlsChanged();
    QApplication::processEvents();
    std::map<std::string, int> x;
    for (QToolButton* button : Widget<QWidget>("Panel1")->findChildren<QToolButton*>())
      x[button->objectName().toStdString()] = button->geometry().x();
    return x;
  };
  ASSERT_TRUE(window_->ChooseChipFromMenu("W25x10xx"));
  const auto flash = places();
  ASSERT_EQ(flash.size(), 11u);
  // Laid out: every button has a place of its own.
  std::set<int> distinct;
  for (const auto& [name, x] : flash) distinct.insert(x);
  ASSERT_EQ(distinct.size(), flash.size());

  ASSERT_TRUE(window_->ChooseChipFromMenu("24xx02"));
  const std::vector<const char*> hidden = {"SpdBtnBlkChk", "SpdBtnErase"};
  for (const char* name : hidden) ASSERT_FALSE(OwnVisible(Widget<QToolButton>(name))) << name;
  EXPECT_EQ(places(), flash);

  // A hidden button cannot be pressed: nothing is logged, no box shows.
  TQNProgrammer& core = window_->Core();
  const std::size_t lines = core.Info.Lines().size();
  for (const char* name : hidden) {
    SCOPED_TRACE(name);
    Widget<QToolButton>(name)->click();
    EXPECT_EQ(core.Info.Lines().size(), lines);
    EXPECT_TRUE(messages_.empty());
  }
  // A shown one can: the program command asks for a file first.
  Widget<QToolButton>("SpdBtnProg")->click();
  EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(MainWindowTest, ABusyProgrammerGreysOutWhatWouldChangeItsJob) {
  TQNProgrammer& core = window_->Core();
  const auto enabled = [this](const char* name) {
    QApplication::processEvents();
    return Widget<QWidget>(name)->isEnabled();
  };
  ASSERT_TRUE(enabled("DevButton"));
  // An erase armed to time out only after hours: no tick of the core's
  // timer ends it while the test looks.
  core.Channels.Channel(1).Operation = kOpErase;
  core.BeginOperation(1, 1'000'000);
  for (const char* name : {"DevButton", "BitBtnFindCOM", "EnProgChk", "CheckBoxSN", "SpinEditPTM"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(enabled(name));
  }
  EXPECT_TRUE(enabled("SpdBtnProg")) << "operations start on the free programmer";
  core.EndOperation(1, false);
  EXPECT_TRUE(enabled("DevButton"));
  EXPECT_TRUE(enabled("EnProgChk"));
}

// Stop stands after the operations, is there only while a programmer is
// busy, and Esc reaches it from wherever the focus is.
TEST_F(MainWindowTest, StopAndEscapeReachABusyProgrammerOnly) {
  TQNProgrammer& core = window_->Core();
  QApplication::processEvents();
  auto* stop = Widget<QToolButton>("SpdBtnStop");
  EXPECT_EQ(stop->text(), "Stop");
  EXPECT_GT(stop->geometry().x(), Widget<QToolButton>("SpdBtnAutoP")->geometry().x());
  EXPECT_LT(stop->geometry().x(), Widget<QToolButton>("SpdBtnOpen")->geometry().x());
  EXPECT_FALSE(stop->isEnabled());
  EXPECT_FALSE(Widget<QAction>("Stop1")->isEnabled());

  const auto escapeFrom = [](QWidget* target) {
    QKeyEvent event(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
  };
  const std::size_t idleLines = core.Info.Lines().size();
  escapeFrom(Widget<QWidget>("Panel1"));
  EXPECT_EQ(core.Info.Lines().size(), idleLines) << "nothing to stop";

  // An erase armed to time out only after hours: the programmer's own.
  core.Channels.Channel(1).Operation = kOpErase;
  core.BeginOperation(1, 1'000'000);
  QApplication::processEvents();
  EXPECT_TRUE(stop->isEnabled());
  EXPECT_TRUE(Widget<QAction>("Stop1")->isEnabled());
  auto* edit = Widget<QWidget>("MCUNameEdit");
  edit->setFocus();
  escapeFrom(edit);
  EXPECT_TRUE(core.StopAsked(1));
  ASSERT_FALSE(core.Info.Lines().empty());
  EXPECT_NE(core.Info.Lines().back().find(
                "Stop: the erase runs on the programmer itself and cannot be stopped from here; it ends on its own."),
            std::string::npos)
      << core.Info.Lines().back();
  EXPECT_TRUE(messages_.empty());

  core.EndOperation(1, false);
  QApplication::processEvents();
  EXPECT_FALSE(stop->isEnabled());
  EXPECT_FALSE(core.StopAsked(1));
}

// The colour a widget is drawn in, well inside its border.
QColor InnerColour(QWidget* widget) {
  const QImage picture = widget->grab().toImage();
  return picture.pixelColor(6, picture.height() / 2);
}

// Each programmer's result reads from a step away: large bold text, green for
// PASS, red for FAIL, neutral while an operation runs; its progress line and
// counters beside it.
TEST_F(MainWindowTest, EachProgrammerShowsItsResultLargeBesideItsGauge) {
  TQNProgrammer& core = window_->Core();
  core.Chip.SizeKB = 64;
  struct Case {
    int channel;
    bool failed;
    const char* panel;
    const char* caption;
    bool green;  // else red
  };
  const Case cases[] = {
      {1, false, "PanelResult1", "PASS", true},
      {2, true, "PanelResult2", "FAIL", false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.panel);
    auto* panel = Widget<QLabel>(k.panel);
    ASSERT_NE(panel, nullptr);
    core.Channels.Channel(k.channel).Operation = kOpProgram;
    core.BeginOperation(k.channel, 64);
    QApplication::processEvents();
    EXPECT_EQ(panel->text(), "");
    const QColor running = InnerColour(panel);
    EXPECT_LT(std::abs(running.red() - running.green()), 40) << "neutral while it runs";
    EXPECT_EQ(Widget<QLabel>(k.channel == 1 ? "LabelProgress1" : "LabelProgress2")->text().left(10), "Program 0%");

    core.EndOperation(k.channel, k.failed);
    QApplication::processEvents();
    EXPECT_EQ(panel->text(), k.caption);
    EXPECT_TRUE(panel->font().bold());
    EXPECT_GE(panel->font().pointSize(), 24);
    // Every caption fits: the panel is wide and high enough for its text.
    const QFontMetrics metrics(panel->font());
    EXPECT_GE(panel->width(), metrics.horizontalAdvance("STOPPED"));
    EXPECT_GE(panel->height(), metrics.height());
    const QColor colour = InnerColour(panel);
    if (k.green) {
      EXPECT_GT(colour.green(), colour.red() + 60) << colour.name().toStdString();
    } else {
      EXPECT_GT(colour.red(), colour.green() + 60) << colour.name().toStdString();
    }
    // Beside the gauge, on its row.
    auto* gauge = Widget<QProgressBar>(k.channel == 1 ? "GaugeBar1" : "GaugeBar2");
    const QRect gaugeArea(gauge->mapTo(window_.get(), QPoint(0, 0)), gauge->size());
    const QRect panelArea(panel->mapTo(window_.get(), QPoint(0, 0)), panel->size());
    EXPECT_GE(panelArea.left(), gaugeArea.right());
    EXPECT_LE(panelArea.top(), gaugeArea.bottom());
    EXPECT_GE(panelArea.bottom(), gaugeArea.top());
  }
  EXPECT_EQ(Widget<QLabel>("LabelCounts1")->text(), Q(core.Controls.LabelCounts1.Caption));
  EXPECT_EQ(Widget<QLabel>("LabelCounts1")->text(), "OK 0 · NG 0");
}

TEST(HexGridTest, EveryAddressFitsItsColumnAtAnyFontSize) {
  // A 128 MiB image: the grid's highest address is 0x07FFFFF0.
  constexpr uint32_t kLast = 128u * 1024 * 1024 - 1;
  ImageBuffer image;
  HexGridModel model;
  model.ShowRange(&image, 0, kLast);
  QTableView grid;
  SetUpHexGrid(&grid, &model);
  // The first and last rows, and the rows at 0x07DDDDD0 for every digit D:
  // among them the widest address this font can draw.
  std::vector<int> rows = {0, model.rowCount() - 1};
  for (uint32_t digit = 0; digit < 16; ++digit) {
    uint32_t start = 0x07;
    for (int i = 0; i < 5; ++i) start = start << 4 | digit;
    start <<= 4;
    rows.push_back(static_cast<int>(start / kHexGridRowBytes));
  }
  ASSERT_EQ(model.data(model.index(rows[1], 0), Qt::DisplayRole).toString(), "0x07FFFFF0");

  for (const int points : {0, 20, 32}) {  // 0: the grid's own font
    SCOPED_TRACE(points);
    if (points > 0) {
      QFont font = grid.font();
      font.setPointSize(points);
      grid.setFont(font);  // as a desktop with larger fonts does
    }
    const QFontMetrics metrics(grid.font());
    // The cell's margins on both sides of its text and the grid line.
    const int padding = 2 * (grid.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &grid) + 1) + 1;
    for (const int row : rows) {
      const QString address = model.data(model.index(row, 0), Qt::DisplayRole).toString();
      SCOPED_TRACE(address.toStdString());
      EXPECT_LE(metrics.horizontalAdvance(address) + padding, grid.columnWidth(0));
    }
    EXPECT_LE(metrics.height(), grid.verticalHeader()->defaultSectionSize());
  }
}

TEST_F(MainWindowTest, LogFileDialogEditsTheCoreStateAndStaysOpenUntilAFileIsNamed) {
  struct Asked {
    bool save = true;
    QStringList filters;
    QString selected;
    QString suffix;
  } asked;
  window_->SetFileAsker([&](bool save, const QStringList& filters, const QString& selected, const QString& suffix) {
    asked = {save, filters, selected, suffix};
    return std::optional<QString>("/srv/bench/today.log");
  });
  auto* form = window_->findChild<QDialog*>("TLogCfgForm");
  ASSERT_NE(form, nullptr);
  bool openAfterEmptyName = false;
  bool nameEditable = false;
  bool closedAfterName = false;
  QTimer::singleShot(0, form, [&] {
    form->findChild<QRadioButton*>("RadioGrpCreatItem1")->click();
    auto* name = form->findChild<QLineEdit*>("EditLogName");
    nameEditable = OwnEnabled(name);
    name->clear();
    form->findChild<QPushButton*>("OK")->click();
    openAfterEmptyName = form->isVisible();
    form->findChild<QPushButton*>("SpeedButtonOP")->click();
    form->findChild<QPushButton*>("OK")->click();
    closedAfterName = !form->isVisible();
    if (form->isVisible()) form->reject();
  });
  Widget<QAction>("N5")->trigger();

  EXPECT_TRUE(nameEditable);
  EXPECT_TRUE(openAfterEmptyName);
  EXPECT_TRUE(closedAfterName);
  ASSERT_EQ(messageKinds_.size(), 1u);
  EXPECT_EQ(messageKinds_.front(), MessageKind::Warning);
  EXPECT_EQ(window_->Core().LogCfg.RadioGrpCreat.ItemIndex, 1);
  EXPECT_EQ(window_->Core().LogCfg.EditLogName.Text, "/srv/bench/today.log");
  EXPECT_FALSE(asked.save);
  ASSERT_FALSE(asked.filters.isEmpty());
  EXPECT_EQ(asked.selected, asked.filters.front());
  EXPECT_EQ(asked.suffix, "log");
}

TEST_F(MainWindowTest, FixedDataDialogWritesItsTextIntoTheImageOnOk) {
  auto* form = window_->findChild<QDialog*>("TConfigSNForm");
  ASSERT_NE(form, nullptr);
  bool openWithoutData = false;
  bool closedAfterOk = false;
  QTimer::singleShot(0, form, [&] {
    form->findChild<QLineEdit*>("AddrEditSN")->setText("0x200");
    form->findChild<QPushButton*>("BitBtnOK")->click();
    openWithoutData = form->isVisible();
    form->findChild<QLineEdit*>("EditDataSN")->setText("SN-7");
    form->findChild<QPushButton*>("BitBtnOK")->click();
    closedAfterOk = !form->isVisible();
    if (form->isVisible()) form->reject();
  });
  Widget<QPushButton>("BitBtnFixSN")->click();

  EXPECT_TRUE(openWithoutData);
  EXPECT_TRUE(closedAfterOk);
  ASSERT_EQ(messageKinds_.size(), 1u);
  EXPECT_EQ(messageKinds_.front(), MessageKind::Warning);
  const uint8_t* image = window_->Core().Image.Data.get();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image + 0x200), 4), "SN-7");
}

TEST_F(MainWindowTest, LogPanelShowsEveryLineInOrderAndClears) {
  TQNProgrammer& core = window_->Core();
  for (int i = 0; i < 5000; ++i) core.AppendPlain(i % 100 == 0 ? std::string() : "line " + std::to_string(i));
  QString expected;
  for (const std::string& line : core.Info.Lines()) expected += Q(line) + "\n";
  expected.chop(1);
  auto* memo = Widget<QPlainTextEdit>("InfoMemo");
  ASSERT_TRUE(SpinUntil([&] { return memo->toPlainText() == expected; }));
  EXPECT_EQ(memo->blockCount(), static_cast<int>(core.Info.Lines().size()));

  Widget<QAction>("ClearInformation1")->trigger();
  EXPECT_TRUE(memo->toPlainText().isEmpty());
  EXPECT_TRUE(core.Info.Lines().empty());

  // Lines not yet on screen when the log is cleared never appear.
  core.AppendInfo("soon gone");
  Widget<QAction>("ClearInformation1")->trigger();
  core.AppendInfo("kept");
  ASSERT_TRUE(SpinUntil([&] { return memo->toPlainText().endsWith("kept"); }));
  EXPECT_EQ(memo->blockCount(), 1);
}

TEST_F(MainWindowTest, ExitClosesTheWindowAndTheCoreWritesTheLog) {
  for (int i = 0; i < 6; ++i) window_->Core().AppendInfo("work " + std::to_string(i));
  Widget<QAbstractButton>("SpdBtnExit")->click();
  EXPECT_FALSE(window_->isVisible());
  int logs = 0;
  for (const auto& file : fs::directory_iterator(directory_ / "Log"))
    logs += file.path().filename().string().rfind("QN_", 0) == 0 && file.path().extension() == ".log";
  EXPECT_EQ(logs, 1);
  EXPECT_TRUE(messages_.empty());
}

TEST(FileFilterTest, PairsBecomeQtFiltersWithBothLetterCases) {
  struct Case {
    std::string filter;
    int index;
    QStringList filters;
    QString selected;
  };
  const Case cases[] = {
      {"All Log Files(*.Log)|*.log", 1, {"All Log Files(*.Log) (*.log *.LOG)"}, "All Log Files(*.Log) (*.log *.LOG)"},
      {"All Log Files(*.Log,*.Txt)|*.log;*.Txt",
       1,
       {"All Log Files(*.Log,*.Txt) (*.log *.LOG *.Txt *.txt *.TXT)"},
       "All Log Files(*.Log,*.Txt) (*.log *.LOG *.Txt *.txt *.TXT)"},
      {"Hex|*.hex|Binary|*.bin; *.dat|All|*.*",
       2,
       {"Hex (*.hex *.HEX)", "Binary (*.bin *.BIN *.dat *.DAT)", "All (*.*)"},
       "Binary (*.bin *.BIN *.dat *.DAT)"},
      {"Hex|*.hex|Binary|*.bin", 0, {"Hex (*.hex *.HEX)", "Binary (*.bin *.BIN)"}, "Hex (*.hex *.HEX)"},
      {"Hex|*.hex|Binary|*.bin", 3, {"Hex (*.hex *.HEX)", "Binary (*.bin *.BIN)"}, "Hex (*.hex *.HEX)"},
      {"Everything", 1, {"Everything (*)"}, "Everything (*)"},
      {"Hex|*.hex|", 1, {"Hex (*.hex *.HEX)"}, "Hex (*.hex *.HEX)"},
      {"|*.bin", 1, {"*.bin *.BIN (*.bin *.BIN)"}, "*.bin *.BIN (*.bin *.BIN)"},
      {"", 1, {}, ""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.filter);
    const QStringList filters = QtFileFilters(test.filter);
    EXPECT_EQ(filters, test.filters);
    EXPECT_EQ(SelectedFileFilter(filters, test.index), test.selected);
  }
}

TEST(FileFilterTest, DefaultSuffixDropsTheWildcardAndDot) {
  const std::pair<std::string, QString> cases[] = {
      {"*.log", "log"}, {".bin", "bin"}, {"hex", "hex"}, {"*.*", ""}, {"*", ""}, {"", ""},
  };
  for (const auto& [extension, suffix] : cases) EXPECT_EQ(DialogDefaultSuffix(extension), suffix) << extension;
}

TEST(FileFilterTest, ANameTypedWithoutExtensionTakesTheChosenSaveFiltersFirstPattern) {
  // Every entry of the save dialog, as the program offers it.
  const QStringList filters = QtFileFilters(kSaveDialogFormatFilter);
  ASSERT_FALSE(filters.isEmpty());
  EXPECT_EQ(FilterDefaultSuffix(filters.front()), "bin") << filters.front().toStdString();
  QStringList suffixes;
  for (const QString& filter : filters) suffixes << FilterDefaultSuffix(filter);
  EXPECT_TRUE(suffixes.contains("hex")) << suffixes.join(',').toStdString();
  EXPECT_TRUE(suffixes.contains("srec") || suffixes.contains("s19")) << suffixes.join(',').toStdString();
  EXPECT_EQ(FilterDefaultSuffix("All (*.*)"), "");
  EXPECT_EQ(FilterDefaultSuffix("Everything (*)"), "");
}

}  // namespace
}  // namespace velkor::ui
