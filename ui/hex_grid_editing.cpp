#include "hex_grid_editing.hpp"

#include <QFontMetricsF>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QTableView>
#include <array>
#include <cmath>

#include "app/qn_programmer.hpp"
#include "data/hex_view.hpp"
#include "hex_grid.hpp"

namespace velkor::ui {

namespace {

// The cell's free space left of its text: what the item delegate keeps.
int TextMargin(const QWidget* widget) {
  return widget->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
}

struct KeyMove {
  int key;
  bool control;
  HexMove move;
};

constexpr std::array<KeyMove, 12> kKeyMoves = {{
    {Qt::Key_Left, false, HexMove::Left},
    {Qt::Key_Right, false, HexMove::Right},
    {Qt::Key_Up, false, HexMove::Up},
    {Qt::Key_Down, false, HexMove::Down},
    {Qt::Key_PageUp, false, HexMove::PageUp},
    {Qt::Key_PageDown, false, HexMove::PageDown},
    {Qt::Key_Home, false, HexMove::RowStart},
    {Qt::Key_End, false, HexMove::RowEnd},
    {Qt::Key_Home, true, HexMove::RangeStart},
    {Qt::Key_End, true, HexMove::RangeEnd},
    {Qt::Key_PageUp, true, HexMove::RangeStart},
    {Qt::Key_PageDown, true, HexMove::RangeEnd},
}};

}  // namespace

void HexTextDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  if (index.column() != kHexGridColumns - 1) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  const QString text = index.data(Qt::DisplayRole).toString();
  const auto first = model_->AddressOf(index);
  if (!first) return;
  const QFontMetricsF metrics(option.font);
  const qreal width = metrics.horizontalAdvance(QLatin1Char('W'));  // the grid's font is fixed-pitch
  const int margin = TextMargin(option.widget);
  const HexLookColours& colours = HexColours();
  painter->save();
  painter->setFont(option.font);
  for (int i = 0; i < text.size(); ++i) {
    const HexGridModel::ByteLook look = model_->LookOf(static_cast<uint32_t>(*first + static_cast<uint32_t>(i)), true);
    const QRectF box(option.rect.left() + margin + i * width, option.rect.top(), width, option.rect.height());
    const QColor* fill = look.cursor ? &colours.cursor
                         : look.selected ? &colours.selected
                         : look.differs ? &colours.differs
                         : look.cursorShadow ? &colours.cursorShadow
                                             : nullptr;
    if (fill) painter->fillRect(box, *fill);
    painter->setPen(look.edited ? colours.edited : option.palette.color(QPalette::Text));
    painter->drawText(box, Qt::AlignCenter, text.mid(i, 1));
  }
  painter->restore();
}

HexGridEditing::HexGridEditing(QTableView* grid, HexGridModel* model, TQNProgrammer& core, CommandRunner run)
    : QObject(grid), grid_(grid), model_(model), core_(core), run_(std::move(run)) {
  grid->setItemDelegate(new HexTextDelegate(model, grid));
  // The grid draws the editor's selection; its own would disagree.
  grid->setSelectionMode(QAbstractItemView::NoSelection);
  grid->installEventFilter(this);
  grid->viewport()->installEventFilter(this);
}

void HexGridEditing::UpdatePageRows() {
  const int rowHeight = std::max(1, grid_->verticalHeader()->defaultSectionSize());
  core_.Editor.SetPageRows(static_cast<uint32_t>(std::max(1, grid_->viewport()->height() / rowHeight - 1)));
}

void HexGridEditing::Refresh() {
  const HexEditor& editor = core_.Editor;
  if (editor.HasRange()) {
    const QModelIndex cell = model_->IndexOf(editor.Cursor());
    if (cell.isValid()) {
      const QModelIndex shown =
          editor.Pane() == HexPane::Text ? cell.sibling(cell.row(), kHexGridColumns - 1) : cell;
      grid_->setCurrentIndex(shown);
      grid_->scrollTo(shown);
    }
  }
  grid_->viewport()->update();
}

std::optional<std::pair<uint32_t, HexPane>> HexGridEditing::ByteAt(const QPoint& point) const {
  const QModelIndex index = grid_->indexAt(point);
  const auto address = model_->AddressOf(index);
  if (!address) return std::nullopt;
  if (index.column() != kHexGridColumns - 1) return std::make_pair(*address, HexPane::Hex);
  const QFontMetricsF metrics(grid_->font());
  const qreal width = metrics.horizontalAdvance(QLatin1Char('W'));
  const int x = point.x() - grid_->visualRect(index).left() - TextMargin(grid_);
  const int character = std::clamp(static_cast<int>(x / width), 0, static_cast<int>(kHexGridRowBytes) - 1);
  return std::make_pair(*address + static_cast<uint32_t>(character), HexPane::Text);
}

bool HexGridEditing::eventFilter(QObject* watched, QEvent* event) {
  if (watched == grid_ && event->type() == QEvent::KeyPress) return KeyPressed(static_cast<QKeyEvent*>(event));
  if (watched == grid_->viewport() &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseMove)) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (!(mouse->buttons() & Qt::LeftButton) || !core_.Editor.HasRange()) return false;
    const auto byte = ByteAt(mouse->position().toPoint());
    if (!byte) return true;
    const bool extend = event->type() == QEvent::MouseMove || (mouse->modifiers() & Qt::ShiftModifier);
    if (event->type() == QEvent::MouseButtonPress) core_.Editor.SetPane(byte->second);
    core_.Editor.MoveTo(byte->first, extend);
    grid_->setFocus();
    Refresh();
    return true;
  }
  if (watched == grid_->viewport() && event->type() == QEvent::Resize) UpdatePageRows();
  return false;
}

bool HexGridEditing::KeyPressed(QKeyEvent* event) {
  HexEditor& editor = core_.Editor;
  if (!editor.HasRange()) return false;
  const bool control = event->modifiers() & Qt::ControlModifier;
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  for (const KeyMove& k : kKeyMoves) {
    if (k.key != event->key() || k.control != control) continue;
    UpdatePageRows();
    editor.Move(k.move, shift);
    Refresh();
    return true;
  }
  if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) {
    editor.SetPane(editor.Pane() == HexPane::Hex ? HexPane::Text : HexPane::Hex);
    Refresh();
    return true;
  }
  if (event->matches(QKeySequence::Copy)) {
    run_([this] { core_.CopyBytes1Click(); });
    return true;
  }
  if (event->matches(QKeySequence::Paste)) {
    run_([this] { core_.PasteBytes1Click(); });
    Refresh();
    return true;
  }
  if (event->matches(QKeySequence::SelectAll)) {
    run_([this] { core_.SelectAllBytes1Click(); });
    Refresh();
    return true;
  }
  const QString text = event->text();
  if (text.isEmpty() || control || (event->modifiers() & Qt::AltModifier)) return false;
  const QList<uint> characters = text.toUcs4();
  run_([this, &characters] {
    for (const uint c : characters) core_.TypeIntoImage(static_cast<char32_t>(c));
  });
  Refresh();
  return true;
}

}  // namespace velkor::ui
