#include "hex_grid.hpp"

#include <QAbstractItemView>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QStyle>
#include <QTableView>
#include <algorithm>
#include <cmath>

#include "data/hex_edit.hpp"
#include "data/hex_view.hpp"
#include "data/image_compare.hpp"

namespace velkor::ui {

void HexGridModel::ShowRange(const ImageBuffer* image, uint32_t first, uint32_t last) {
  beginResetModel();
  image_ = image;
  first_ = first;
  rows_ = image ? static_cast<int>(HexGridRowCount(first, last)) : 0;
  endResetModel();
}

void HexGridModel::BytesChanged(uint32_t first, uint32_t last) {
  if (!image_ || rows_ == 0 || last < first_) return;
  const uint32_t from = first < first_ ? first_ : first;
  const int firstRow = static_cast<int>((from - first_) / kHexGridRowBytes);
  const int lastRow = std::min(rows_ - 1, static_cast<int>((last - first_) / kHexGridRowBytes));
  if (firstRow > lastRow) return;
  emit dataChanged(index(firstRow, 0), index(lastRow, kHexGridColumns - 1));
}

QModelIndex HexGridModel::IndexOf(uint32_t address) const {
  if (!image_ || rows_ == 0 || address < first_) return {};
  const uint64_t offset = address - first_;
  const uint64_t row = offset / kHexGridRowBytes;
  if (row >= static_cast<uint64_t>(rows_)) return {};
  return index(static_cast<int>(row), 1 + static_cast<int>(offset % kHexGridRowBytes));
}

std::optional<uint32_t> HexGridModel::AddressOf(const QModelIndex& index) const {
  if (!image_ || !index.isValid() || index.column() == 0) return std::nullopt;
  const uint64_t byte = index.column() == kHexGridColumns - 1 ? 0 : static_cast<uint64_t>(index.column() - 1);
  const uint64_t address = first_ + uint64_t{kHexGridRowBytes} * static_cast<uint64_t>(index.row()) + byte;
  if (address >= kImageCapacity) return std::nullopt;
  return static_cast<uint32_t>(address);
}

void HexGridModel::Decorate(const HexEditor* editor, std::function<const ImageComparison*()> comparison) {
  editor_ = editor;
  comparison_ = std::move(comparison);
}

HexGridModel::ByteLook HexGridModel::LookOf(uint32_t address, bool textColumn) const {
  ByteLook look;
  if (editor_ && editor_->HasRange()) {
    const bool atCursor = editor_->Cursor() == address;
    const bool typingHere = (editor_->Pane() == HexPane::Text) == textColumn;
    look.cursor = atCursor && typingHere;
    look.cursorShadow = atCursor && !typingHere;
    look.selected = editor_->Selected(address);
    look.edited = editor_->Edited(address);
  }
  if (comparison_) {
    const ImageComparison* comparison = comparison_();
    look.differs = comparison && comparison->Differs(address);
  }
  return look;
}

const HexLookColours& HexColours() {
  static const HexLookColours colours{QColor(255, 200, 0), QColor(255, 236, 160), QColor(173, 214, 255),
                                      QColor(255, 170, 170), QColor(200, 0, 0)};
  return colours;
}

int HexGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int HexGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kHexGridColumns; }

QVariant HexGridModel::data(const QModelIndex& index, int role) const {
  if (!image_ || !index.isValid()) return {};
  if (role == Qt::BackgroundRole || role == Qt::ForegroundRole) {
    // The text column draws each character's look itself (HexTextDelegate).
    if (index.column() == 0 || index.column() == kHexGridColumns - 1) return {};
    const auto address = AddressOf(index);
    if (!address) return {};
    const ByteLook look = LookOf(*address, false);
    const HexLookColours& colours = HexColours();
    if (role == Qt::ForegroundRole) return look.edited ? QVariant(colours.edited) : QVariant();
    if (look.cursor) return colours.cursor;
    if (look.selected) return colours.selected;
    if (look.differs) return colours.differs;
    if (look.cursorShadow) return colours.cursorShadow;
    return {};
  }
  if (role != Qt::DisplayRole) return {};
  const HexGridRow row = RenderHexGridRow(*image_, first_, static_cast<uint64_t>(index.row()));
  const int column = index.column();
  if (column == 0) return QString::fromStdString(row.address);
  if (column == kHexGridColumns - 1) return QString::fromLatin1(row.text.data(), static_cast<int>(row.text.size()));
  return QString::fromStdString(row.bytes[static_cast<std::size_t>(column - 1)]);
}

QVariant HexGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  return QString::fromStdString(HexGridHeader(section));
}

namespace {

constexpr QStringView kHexDigits = u"0123456789ABCDEF";

// The width of the widest text a column of such texts can show: the prefix,
// then `count` times one character of the set. Measured as whole strings in
// fractional pixels (rounding each glyph would under-count) and rounded up.
int WidestRun(const QFontMetricsF& metrics, const QString& prefix, QStringView characters, int count) {
  qreal widest = 0;
  for (const QChar c : characters) widest = std::max(widest, metrics.horizontalAdvance(prefix + QString(count, c)));
  return static_cast<int>(std::ceil(widest));
}

// The bytes the text column shows as themselves.
QString PrintableCharacters() {
  QString characters;
  for (char16_t c = 0x20; c < 0x7F; ++c) characters += QChar(c);
  return characters;
}

void ApplyWidths(QTableView* grid) {
  const HexGridWidths widths = HexGridWidthsFor(*grid);
  grid->verticalHeader()->setDefaultSectionSize(widths.rowHeight);
  grid->horizontalHeader()->setDefaultSectionSize(widths.byte);
  grid->setColumnWidth(0, widths.address);
  grid->setColumnWidth(kHexGridColumns - 1, widths.text);
}

// Sizes the grid's columns again whenever its font changes, so that a
// larger font never cuts an address.
class ResizeOnFontChange final : public QObject {
 public:
  explicit ResizeOnFontChange(QTableView* grid) : QObject(grid), grid_(grid) { grid->installEventFilter(this); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == grid_ && event->type() == QEvent::FontChange) ApplyWidths(grid_);
    return false;
  }

 private:
  QTableView* grid_;
};

}  // namespace

HexGridWidths HexGridWidthsFor(const QTableView& grid) {
  const QFontMetricsF metrics(grid.font());
  // The item delegate keeps this much free on either side of a cell's text
  // and elides what does not fit in between; the grid line takes a pixel,
  // and a blank more keeps neighbouring columns apart.
  const int cellMargin = grid.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &grid) + 1;
  const int padding = 2 * cellMargin + (grid.showGrid() ? 1 : 0) +
                      static_cast<int>(std::ceil(metrics.horizontalAdvance(QLatin1Char(' '))));
  // The header over a byte column ("  F") must read whole as well.
  const QHeaderView& header = *grid.horizontalHeader();
  const QFontMetricsF headerMetrics(header.font());
  const int headerMargin = 2 * header.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header);
  qreal widestHeader = 0;
  for (int column = 1; column < kHexGridColumns - 1; ++column) {
    const QString caption = QString::fromStdString(HexGridHeader(column));
    widestHeader = std::max(widestHeader, headerMetrics.horizontalAdvance(caption));
  }

  HexGridWidths widths;
  // Addresses read "0x" and eight digits, whatever the image's size.
  widths.address = WidestRun(metrics, QStringLiteral("0x"), kHexDigits, 8) + padding;
  widths.byte = std::max(WidestRun(metrics, QString(), kHexDigits, 2) + padding,
                         static_cast<int>(std::ceil(widestHeader)) + headerMargin);
  widths.text = WidestRun(metrics, QString(), PrintableCharacters(), static_cast<int>(kHexGridRowBytes)) + padding;
  const int lineHeight = static_cast<int>(std::ceil(metrics.height()));
  widths.rowHeight = lineHeight + lineHeight / 3;
  return widths;
}

void SetUpHexGrid(QTableView* grid, HexGridModel* model) {
  grid->setModel(model);
  grid->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionMode(QAbstractItemView::ContiguousSelection);
  grid->verticalHeader()->setVisible(false);
  grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid->horizontalHeader()->setMinimumSectionSize(20);
  grid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  ApplyWidths(grid);
  new ResizeOnFontChange(grid);
}

}  // namespace velkor::ui
