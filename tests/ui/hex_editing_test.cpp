// Editing in the data page's hex grid, offscreen: clicks and keys typed into
// the real grid change the image, and what the grid shows follows.
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QMenu>
#include <QTabWidget>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTextBlock>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "data_view_form.hpp"
#include "hex_grid.hpp"
#include "main_window.hpp"
#include "spin_until.hpp"
#include "support/scratch_directory.hpp"

namespace velkor::ui {
namespace {

constexpr uint32_t kChipBytes = 2048;  // 24xx16

class HexEditingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_.emplace("velkor-hex-editing");
    window_ = std::make_unique<MainWindow>(loop_, StartOptions{});
    window_->SetMessagePresenter([this](MessageKind, const QString& text) { messages_.push_back(text.toStdString()); });
    window_->show();
    ASSERT_TRUE(SpinUntil([&] { return window_->Started(); }));
    ASSERT_TRUE(window_->ChooseChipFromMenu("24xx16"));
    const std::filesystem::path file = scratch_->Path() / "counting.bin";
    {
      std::ofstream out(file, std::ios::binary);
      for (uint32_t i = 0; i < kChipBytes; ++i) out.put(static_cast<char>(i & 0xFF));
    }
    window_->OpenFile(QString::fromStdString(file.string()));
    grid_ = window_->findChild<QTableView*>("HexViewer");
    ASSERT_NE(grid_, nullptr);
    window_->findChild<QTabWidget*>("PageControl1")->setCurrentWidget(grid_->parentWidget());
    grid_->setFocus();
  }
  void TearDown() override {
    window_.reset();
    scratch_.reset();
  }

  uint8_t At(uint32_t address) { return window_->Core().Image.Data[address]; }
  QString Cell(int row, int column) { return grid_->model()->index(row, column).data().toString(); }
  void Click(int row, int column, int xOffset = -1) {
    const QModelIndex index = grid_->model()->index(row, column);
    grid_->scrollTo(index);
    const QRect cell = grid_->visualRect(index);
    const QPoint at = xOffset < 0 ? cell.center() : QPoint(cell.left() + xOffset, cell.center().y());
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  }
  void Trigger(const char* action) {
    QAction* found = window_->findChild<QAction*>(action);
    ASSERT_NE(found, nullptr) << action;
    found->trigger();
  }

  QtMainLoop loop_;
  std::optional<test::ScratchStartDirectory> scratch_;
  std::unique_ptr<MainWindow> window_;
  QTableView* grid_ = nullptr;
  std::vector<std::string> messages_;
};

TEST_F(HexEditingTest, TypingIntoTheGridChangesTheImageAndWhatTheGridShows) {
  Click(1, 1 + 2);  // 0x12
  QTest::keyClicks(grid_, "ab");
  EXPECT_EQ(At(0x12), 0xAB);
  EXPECT_EQ(Cell(1, 1 + 2), "AB");
  EXPECT_EQ(grid_->currentIndex(), grid_->model()->index(1, 1 + 3)) << "the cursor moved on to 0x13";
  // An edited byte is drawn in its own colour until the image is saved.
  EXPECT_EQ(grid_->model()->index(1, 1 + 2).data(Qt::ForegroundRole).value<QColor>(), HexColours().edited);
  EXPECT_FALSE(grid_->model()->index(1, 1 + 4).data(Qt::ForegroundRole).isValid());

  // Keys move the cursor; Tab goes to the text column, where characters
  // are typed as themselves.
  QTest::keyClick(grid_, Qt::Key_Down);
  QTest::keyClick(grid_, Qt::Key_Tab);
  QTest::keyClicks(grid_, "Hi");
  EXPECT_EQ(At(0x23), 'H');
  EXPECT_EQ(At(0x24), 'i');
  EXPECT_EQ(Cell(2, 17).mid(3, 2), "Hi");

  // A click into the text column lands on the character under it.
  const int characterWidth = QFontMetrics(grid_->font()).horizontalAdvance('W');
  Click(4, 17, 4 + 5 * characterWidth + characterWidth / 2);  // 0x45
  QTest::keyClicks(grid_, "!");
  EXPECT_EQ(At(0x45), '!');

  // The end of the image: the last byte takes the digits, nothing beyond.
  QTest::keyClick(grid_, Qt::Key_Tab);
  QTest::keyClick(grid_, Qt::Key_End, Qt::ControlModifier);
  QTest::keyClicks(grid_, "0102");
  EXPECT_EQ(At(kChipBytes - 1), 0x02);
  EXPECT_EQ(At(kChipBytes), 0xFF);

  // Undo from the Edit menu takes the last byte back, then the one before.
  Trigger("Undo1");
  Trigger("Undo1");
  EXPECT_EQ(At(kChipBytes - 1), (kChipBytes - 1) & 0xFF);
  EXPECT_EQ(Cell(static_cast<int>(kChipBytes / 16 - 1), 16), "FF");
  Trigger("Redo1");
  EXPECT_EQ(At(kChipBytes - 1), 0x01);
  EXPECT_TRUE(messages_.empty()) << messages_.front();
}

TEST_F(HexEditingTest, ShiftSelectsAndCopyGivesTheSelectedBytes) {
  Click(0, 1 + 4);  // 0x04
  QTest::keyClick(grid_, Qt::Key_Right, Qt::ShiftModifier);
  QTest::keyClick(grid_, Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(window_->Core().Editor.Selection(), (ByteRange{0x04, 0x06}));
  EXPECT_EQ(grid_->model()->index(0, 1 + 5).data(Qt::BackgroundRole).value<QColor>(), HexColours().selected);
  QTest::keyClick(grid_, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "04 05 06");

  // The grid's menu offers the Edit menu's own actions (one per command,
  // so that their shortcuts stay single).
  auto* menu = window_->findChild<QMenu*>("PopupMenuHex");
  ASSERT_NE(menu, nullptr);
  ASSERT_FALSE(menu->actions().isEmpty());
  EXPECT_EQ(menu->actions().front(), window_->findChild<QAction*>("Undo1"));
  EXPECT_EQ(window_->findChildren<QAction*>("Undo1").size(), 1);
}

TEST_F(HexEditingTest, TheDataViewerEditsWhereItIsClickedAndKeepsTheCursorOnItsPage) {
  bool ran = false;
  window_->SetDialogRunner([&](DialogId id, QDialog& dialog) {
    if (id != DialogId::DataView) return;
    ran = true;
    dialog.show();
    auto* memo = dialog.findChild<QPlainTextEdit*>("DataViewMemo");
    ASSERT_NE(memo, nullptr);
    // Line 3 of the page (after the header) holds 0x20..0x2F; its byte 5
    // is 0x25, whose digits stand at column 12 + 4 * 5.
    QTextCursor place(memo->document()->findBlockByNumber(3));
    place.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, 12 + 4 * 5);
    QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier, memo->cursorRect(place).center());
    QTest::keyClicks(memo, "7e");
    EXPECT_EQ(At(0x25), 0x7E);
    EXPECT_TRUE(memo->toPlainText().split('\n')[3].contains(" 7E ")) << memo->toPlainText().toStdString();

    // Page Down takes the cursor (now on 0x26) along, at the same place on
    // the page.
    QTest::keyClick(memo, Qt::Key_PageDown);
    QTest::keyClicks(memo, "01");
    EXPECT_EQ(At(0x226), 0x01);
    // Right past the page's end shows the next page.
    window_->Core().Editor.MoveTo(0x3FF);
    QTest::keyClick(memo, Qt::Key_Right);
    EXPECT_EQ(static_cast<TDataViewForm&>(dialog).ViewStart(), 0x400u);
    QTest::keyClick(memo, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(At(0x226), 0x26);
    dialog.hide();
  });
  window_->Core().ViewDataBuffer1Click();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(messages_.empty()) << messages_.front();
}

TEST_F(HexEditingTest, AFlashChipsDifferenceOpensTheViewerAtItsPage) {
  // A flash chip's image has no data page: the viewer shows the difference.
  ASSERT_TRUE(window_->ChooseChipFromMenu("W25x10xx"));
  const std::filesystem::path file = scratch_->Path() / "flash.bin";
  const std::filesystem::path other = scratch_->Path() / "other.bin";
  {
    std::ofstream a(file, std::ios::binary), b(other, std::ios::binary);
    for (uint32_t i = 0; i < 0x8000; ++i) {
      a.put(static_cast<char>(i & 0x7F));
      b.put(static_cast<char>(i == 0x5432 ? 0xEE : i & 0x7F));
    }
  }
  window_->OpenFile(QString::fromStdString(file.string()));
  std::optional<uint32_t> openedAt;
  window_->SetDialogRunner([&](DialogId id, QDialog& dialog) {
    if (id != DialogId::DataView) return;
    dialog.show();
    openedAt = static_cast<TDataViewForm&>(dialog).ViewStart();
    dialog.hide();
  });
  window_->Run([&] { window_->Core().CompareWithFile(other.string()); });
  ASSERT_TRUE(SpinUntil([&] { return openedAt.has_value(); }));
  EXPECT_EQ(*openedAt, 0x5430u);
  EXPECT_EQ(window_->Core().Editor.Cursor(), 0x5432u);
}

}  // namespace
}  // namespace velkor::ui
