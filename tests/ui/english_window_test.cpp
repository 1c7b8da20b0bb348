// The window in English, offscreen: no Chinese left anywhere a person looks,
// and no caption clipped when the window is as small as it goes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <filesystem>
#include <optional>
#include <functional>
#include <memory>

#include "core_text_translator.hpp"
#include "main_window.hpp"
#include "remembered_settings.hpp"
#include "support/chinese_text.hpp"
#include "spin_until.hpp"
#include "support/firmware.hpp"
#include "support/scratch_directory.hpp"
#include "text/language.hpp"

namespace velkor::ui {
namespace {

namespace fs = std::filesystem;


class EnglishWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_.emplace("velkor-english");
    directory_ = scratch_->Path();
    UseLanguage(Language::English);
    QCoreApplication::installTranslator(&translator_);
    window_ = std::make_unique<MainWindow>(loop_, StartOptions{});
    window_->SetMessagePresenter([](MessageKind, const QString&) {});
    window_->show();
    ASSERT_TRUE(SpinUntil([&] { return window_->Started(); }));
  }
  void TearDown() override {
    window_.reset();
    QCoreApplication::removeTranslator(&translator_);
    UseLanguage(Language::Original);
    scratch_.reset();
  }

  // Every page of the page controls in turn, each shown.
  void ForEachPage(const std::function<void(const QString& page)>& check) {
    for (QTabWidget* tabs : window_->findChildren<QTabWidget*>()) {
      for (int i = 0; i < tabs->count(); ++i) {
        if (!tabs->isTabVisible(i)) continue;
        tabs->setCurrentIndex(i);
        QCoreApplication::processEvents();
        check(tabs->tabText(i));
      }
    }
  }

  QtMainLoop loop_;
  CoreTextTranslator translator_;
  std::unique_ptr<MainWindow> window_;
  fs::path directory_;
  std::optional<test::ScratchStartDirectory> scratch_;
};

// The texts of a menu and its submenus, with the menu's title.
void CollectMenuTexts(QMenu* menu, QStringList& texts) {
  texts << menu->title();
  for (QAction* action : menu->actions()) {
    texts << action->text() << action->toolTip();
    if (action->menu()) CollectMenuTexts(action->menu(), texts);
  }
}

TEST_F(EnglishWindowTest, NoTextAPersonSeesIsChinese) {
  ASSERT_TRUE(window_->ChooseChipFromMenu("24xx04"));  // the I2C page's controls show
  QStringList texts;
  for (QAction* action : window_->menuBar()->actions())
    if (action->menu()) CollectMenuTexts(action->menu(), texts);
  for (QWidget* widget : window_->findChildren<QWidget*>()) {
    texts << widget->toolTip();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) texts << button->text();
    if (auto* label = qobject_cast<QLabel*>(widget)) texts << label->text();
    if (auto* box = qobject_cast<QGroupBox*>(widget)) texts << box->title();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) texts << edit->text() << edit->placeholderText();
    if (auto* tabs = qobject_cast<QTabBar*>(widget))
      for (int i = 0; i < tabs->count(); ++i) texts << tabs->tabText(i);
  }
  ASSERT_GT(texts.size(), 100);
  for (const QString& text : texts) EXPECT_FALSE(test::HasChinese(text.toStdString())) << text.toStdString();
  EXPECT_TRUE(texts.contains("Blank Check"));
  EXPECT_TRUE(texts.contains("Programmer Control"));
}

// Captions sit in fixed-width columns and buttons made for two Chinese
// characters: at the smallest size the window takes, each must still get
// the width its text needs.
TEST_F(EnglishWindowTest, NoCaptionIsClippedAtTheSmallestWindow) {
  ASSERT_TRUE(window_->ChooseChipFromMenu("24xx04"));
  window_->resize(window_->minimumSizeHint().expandedTo(window_->minimumSize()));
  QCoreApplication::processEvents();
  int checked = 0;
  ForEachPage([&](const QString& page) {
    for (QWidget* widget : window_->findChildren<QWidget*>()) {
      if (!widget->isVisibleTo(window_.get())) continue;
      QString text;
      int frame = 0;  // what the widget draws beside its text
      if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        text = button->text();
        const bool indicator = qobject_cast<QCheckBox*>(widget) || qobject_cast<QRadioButton*>(widget);
        frame = indicator ? widget->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                                widget->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing)
                          : 4;
      } else if (auto* label = qobject_cast<QLabel*>(widget); label && !label->wordWrap() &&
                                                              label->textFormat() != Qt::RichText &&
                                                              !Qt::mightBeRichText(label->text())) {
        text = label->text();
      } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
        text = box->title();
        frame = 8;
      }
      text.remove('&');
      if (text.trimmed().isEmpty()) continue;
      const int needed = widget->fontMetrics().horizontalAdvance(text) + frame;

      ++checked;
      EXPECT_GE(widget->width(), needed) << "page \"" << page.toStdString()
                                         << "\": " << widget->objectName().toStdString() << " \"" << text.toStdString()
                                         << "\"";
    }
  });
  EXPECT_GT(checked, 50);
  for (QTabBar* bar : window_->findChildren<QTabBar*>())
    for (int i = 0; i < bar->count(); ++i)
      if (bar->isTabVisible(i))
        EXPECT_GE(bar->tabRect(i).width(), bar->fontMetrics().horizontalAdvance(bar->tabText(i)))
            << bar->tabText(i).toStdString();
}

// Help › Language: the choice lands in the settings file, and the next start
// takes it when neither the command line nor the environment names one.
TEST(LanguageMenuTest, TheChosenLanguageIsRememberedForTheNextStart) {
  const test::ScratchStartDirectory scratch("velkor-language");
  const QString file = QString::fromStdString((scratch.Path() / "velkor350qn.conf").string());
  unsetenv("VELKOR_LANGUAGE");
  {
    RememberedSettings settings(file, false);
    QtMainLoop loop;
    StartOptions options;
    options.settings = &settings;
    MainWindow window(loop, options);
    std::vector<std::string> messages;
    window.SetMessagePresenter([&](MessageKind, const QString& text) { messages.push_back(text.toStdString()); });
    window.show();
    ASSERT_TRUE(SpinUntil([&] { return window.Started(); }));
    auto* english = window.findChild<QAction*>("Language_en");
    ASSERT_NE(english, nullptr);
    EXPECT_FALSE(english->isChecked());
    EXPECT_TRUE(window.findChild<QAction*>("Language_zh")->isChecked());
    english->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("starts again"), std::string::npos) << messages[0];
    EXPECT_EQ(CurrentLanguage(), Language::Original) << "the running window keeps its language";
  }
  const RememberedSettings nextStart(file, false);
  EXPECT_EQ(nextStart.Language(), "en");
  EXPECT_EQ(ChooseLanguage("", nextStart.Language().toStdString()).language, Language::English);
  EXPECT_EQ(ChooseLanguage("zh", nextStart.Language().toStdString()).language, Language::Original);
  const RememberedSettings fresh(file, true);
  EXPECT_EQ(ChooseLanguage("", fresh.Language().toStdString()).language, Language::Original);
}


}  // namespace
}  // namespace velkor::ui
