// The search field of the chip menu, driven with key presses as the operator
// types them, checked against the menu's own submenus and against choosing
// the same chip from them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QWidgetAction>
#include <filesystem>
#include <optional>
#include <functional>
#include <map>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "chip_selection_form.hpp"
#include "main_window.hpp"
#include "spin_until.hpp"
#include "support/firmware.hpp"
#include "support/scratch_directory.hpp"

// Readable failures.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace velkor::ui {
namespace {

namespace fs = std::filesystem;


QString Shown(const QAction* action) { return action->text().replace("&&", "&"); }

// The menu's parts: the field at the top, what is listed under it, and the
// submenus and chips after the separator that ends the list.
struct MenuParts {
  QWidgetAction* field = nullptr;
  std::vector<QAction*> listed;
  std::vector<QAction*> tree;
};

MenuParts Parts(QMenu* menu) {
  MenuParts parts;
  const QList<QAction*> actions = menu->actions();
  int i = 0;
  if (!actions.isEmpty()) parts.field = qobject_cast<QWidgetAction*>(actions.front());
  if (parts.field != nullptr) ++i;
  for (; i < actions.size() && !actions[i]->isSeparator(); ++i) parts.listed.push_back(actions[i]);
  for (++i; i < actions.size(); ++i) parts.tree.push_back(actions[i]);
  return parts;
}

QStringList Texts(const std::vector<QAction*>& actions) {
  QStringList texts;
  for (const QAction* action : actions) texts << Shown(action);
  return texts;
}

// Every chip the operator can open the submenus to, as "submenu › … › chip",
// whose name holds part (letter case aside), in menu order.
void ReachableHolding(const QList<QAction*>& actions, const QString& path, const QString& part, QStringList& out) {
  for (const QAction* action : actions) {
    if (action->isSeparator() || !action->isVisible()) continue;
    if (const QMenu* submenu = action->menu())
      ReachableHolding(submenu->actions(), path + Shown(action) + " › ", part, out);
    else if (Shown(action).contains(part, Qt::CaseInsensitive))
      out << path + Shown(action);
  }
}

QStringList ReachableHolding(const MenuParts& parts, const QString& part) {
  QStringList out;
  ReachableHolding(QList<QAction*>(parts.tree.begin(), parts.tree.end()), "", part, out);
  return out;
}

// What the operator sees of the main window: every named widget's state,
// the core's chip parameters and the log without its times.
std::map<QString, QString> WindowPicture(MainWindow& window) {
  std::map<QString, QString> picture;
  for (QWidget* w : window.findChildren<QWidget*>()) {
    if (w->objectName().isEmpty() || w->objectName().startsWith("qt_") || w->window() != &window) continue;
    QString state = QString("%1 hidden=%2 disabled=%3")
                        .arg(w->metaObject()->className())
                        .arg(w->isHidden())
                        .arg(w->testAttribute(Qt::WA_ForceDisabled));
    if (auto* edit = qobject_cast<QLineEdit*>(w)) state += " text=" + edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
      state += QString(" text=%1 checked=%2").arg(button->text()).arg(button->isChecked());
    if (auto* label = qobject_cast<QLabel*>(w)) state += " text=" + label->text();
    if (auto* spin = qobject_cast<QSpinBox*>(w))
      state += QString(" value=%1 range=%2..%3").arg(spin->value()).arg(spin->minimum()).arg(spin->maximum());
    if (auto* combo = qobject_cast<QComboBox*>(w))
      state += QString(" index=%1 count=%2").arg(combo->currentIndex()).arg(combo->count());
    if (auto* box = qobject_cast<QGroupBox*>(w)) state += " title=" + box->title();
    if (auto* bar = qobject_cast<QProgressBar*>(w))
      state += QString(" value=%1 of %2").arg(bar->value()).arg(bar->maximum());
    if (auto* tabs = qobject_cast<QTabWidget*>(w))
      for (int i = 0; i < tabs->count(); ++i) state += QString(" tab%1=%2").arg(i).arg(tabs->isTabVisible(i));
    if (auto* memo = qobject_cast<QPlainTextEdit*>(w))
      state += " text=" +
               memo->toPlainText().replace(QRegularExpression("^> \\S+ ", QRegularExpression::MultilineOption), "> ");
    picture[w->objectName()] = state;
  }
  const ChipParams& chip = window.Core().Chip;
  picture["(chip)"] = QString("family=%1 subtype=%2 size=%3 page=%4 addr=%5 mode=%6 id=%7,%8 erase=%9")
                          .arg(chip.Family)
                          .arg(chip.SubType)
                          .arg(chip.Size)
                          .arg(chip.PageSize)
                          .arg(chip.AddrStyle)
                          .arg(chip.ModeFlags)
                          .arg(chip.IdByte1)
                          .arg(chip.IdByte2)
                          .arg(chip.EraseTime) +
                      QString(" lowvolt=%1 qe=%2 pageflash=%3 hideprotect=%4 options=%5")
                          .arg(chip.LowVoltChip)
                          .arg(chip.ForceQe)
                          .arg(chip.PageFlash)
                          .arg(chip.HideProtect)
                          .arg(window.Core().Job.OptionBits);
  return picture;
}

class ChipMenuSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The window makes its log folder in the directory it starts in.
    scratch_.emplace("velkor-chip-search");
    directory_ = scratch_->Path();
    StartWindow();
  }

  void TearDown() override {
    window_.reset();
    scratch_.reset();
  }

  void StartWindow() {
    window_.reset();
    window_ = std::make_unique<MainWindow>(loop_, StartOptions{});
    window_->SetMessagePresenter([this](MessageKind, const QString& text) { messages_ << text; });
    window_->show();
    ASSERT_TRUE(SpinUntil([&] { return window_->Started(); }));
  }

  QMenu* Menu() { return window_->ChipForm().PopupMenuQN(); }
  QDialog* Form() { return window_->findChild<QDialog*>("TChipSeltForm"); }

  // Presses the chip button and runs steps once the menu is up, inside the
  // form's modal loop; closes the form if it is still open after them.
  // Returns whether it was.
  bool WithMenuOpen(const std::function<void()>& steps) {
    bool leftOpen = false;
    QTimer::singleShot(0, Form(), [&] {
      if (SpinUntil([&] { return Menu()->isVisible(); })) steps();
      else ADD_FAILURE() << "the chip menu did not open";
      if (Form()->isVisible()) {
        leftOpen = true;
        Form()->reject();
      }
    });
    window_->findChild<QPushButton*>("DevButton")->click();
    return leftOpen;
  }

  // Keys go where the operator's would: to the menu's window, which hands
  // them to the widget with the focus.
  void Type(const QString& text) {
    for (const QChar c : text) QTest::keyClick(Menu()->windowHandle(), c.toLatin1());
  }
  void Press(Qt::Key key) { QTest::keyClick(Menu()->windowHandle(), key); }

  QString ChipName() { return window_->findChild<QLineEdit*>("MCUNameEdit")->text(); }

  fs::path directory_;
  std::optional<test::ScratchStartDirectory> scratch_;
  QtMainLoop loop_;
  std::unique_ptr<MainWindow> window_;
  QStringList messages_;
};

TEST_F(ChipMenuSearchTest, TypingListsTheChipsTheMenuOffersAndChoosingOneIsChoosingItInTheMenu) {
  QStringList listed;
  QStringList expected;
  const bool leftOpen = WithMenuOpen([&] {
    const MenuParts parts = Parts(Menu());
    ASSERT_NE(parts.field, nullptr);
    auto* field = Menu()->findChild<QLineEdit*>("ChipSearchEdit");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(QApplication::focusWidget(), field);
    EXPECT_TRUE(parts.listed.empty());
    Type("gd25lq2");
    EXPECT_EQ(field->text(), "gd25lq2");
    const MenuParts typed = Parts(Menu());
    listed = Texts(typed.listed);
    expected = ReachableHolding(typed, "gd25lq2");
    // Down into the list, down once more, Enter: the second chip listed.
    Press(Qt::Key_Down);
    Press(Qt::Key_Down);
    ASSERT_EQ(listed.size(), 2);
    EXPECT_EQ(Menu()->activeAction(), typed.listed[1]);
    Press(Qt::Key_Return);
  });
  EXPECT_FALSE(leftOpen);
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(listed, (QStringList{"SPI  Flash › GigaDevice › GD25LQ256D", "SPI  Flash › GigaDevice › GD25LQ256E"}));
  EXPECT_EQ(ChipName(), "GD25LQ256E");
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join('\n').toStdString();
  window_->FlushLog();
  const std::map<QString, QString> found = WindowPicture(*window_);
  ASSERT_TRUE(found.contains("MCUNameEdit"));
  EXPECT_TRUE(found.at("MCUNameEdit").endsWith(" text=GD25LQ256E"));

  StartWindow();
  ASSERT_TRUE(window_->ChooseChipFromMenu("GD25LQ256E"));
  const std::map<QString, QString> fromMenu = WindowPicture(*window_);
  ASSERT_EQ(found.size(), fromMenu.size());
  for (const auto& [name, state] : fromMenu) {
    ASSERT_TRUE(found.contains(name)) << name.toStdString();
    EXPECT_EQ(found.at(name), state) << name.toStdString();
  }
}

struct KeyCase {
  const char* typed;
  Qt::Key key;
  QStringList listed;      // what the field lists before the key
  const char* chipAfter;   // the chip name after the key; null: the one before
  bool menuOpenAfter;
};

TEST_F(ChipMenuSearchTest, EnterTakesTheFirstChipListedEscClosesAndNoMatchIsSaid) {
  const std::vector<KeyCase> cases = {
      {"25XX1",
       Qt::Key_Enter,
       {"SPI EEPROM › 25xx160", "SPI EEPROM › 25xx128", "SPI EEPROM › 25xx1024"},
       "25xx160",
       false},
      {" fm24c32d ", Qt::Key_Return, {"FM24C32D"}, "FM24C32D", false},
      {"zzz", Qt::Key_Return, {"No chip matches"}, nullptr, true},
      {"npc79", Qt::Key_Down, {"No chip matches"}, nullptr, true},
      {"w25x6", Qt::Key_Escape, {"SPI  Flash › Winbond › W25x64xx"}, nullptr, false},
      {"   ", Qt::Key_Return, {}, nullptr, true},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.typed);
    const QString before = ChipName();
    bool menuOpen = false;
    QStringList listed;
    bool noMatchDisabled = true;
    WithMenuOpen([&] {
      // Every opening starts from an empty field.
      EXPECT_TRUE(Menu()->findChild<QLineEdit*>("ChipSearchEdit")->text().isEmpty());
      Type(c.typed);
      const MenuParts parts = Parts(Menu());
      listed = Texts(parts.listed);
      const QString part = QString(c.typed).trimmed();
      if (listed == QStringList{"No chip matches"}) {
        noMatchDisabled = !parts.listed.front()->isEnabled();
        EXPECT_TRUE(ReachableHolding(parts, part).isEmpty());
      } else if (!part.isEmpty()) {
        EXPECT_EQ(listed, ReachableHolding(parts, part));
      }
      Press(c.key);
      menuOpen = Menu()->isVisible();
    });
    EXPECT_EQ(listed, c.listed);
    EXPECT_TRUE(noMatchDisabled);
    EXPECT_EQ(ChipName(), c.chipAfter ? QString::fromUtf8(c.chipAfter) : before);
    EXPECT_EQ(menuOpen, c.menuOpenAfter);
  }
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join('\n').toStdString();
}

}  // namespace
}  // namespace velkor::ui
