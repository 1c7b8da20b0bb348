#include "hex_grid.hpp"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <algorithm>
#include <QFontDatabase>
#include <QHeaderView>
#include <QTableView>

#include "data/hex_view.hpp"

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

int HexGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int HexGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kHexGridColumns; }

QVariant HexGridModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !image_ || !index.isValid()) return {};
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

HexGridWidths HexGridWidthsFor(const QFontMetrics& metrics) {
  // The widest text of each column, with room for the cell's margins on
  // both sides; every address of the image has ten characters.
  const int padding = 2 * metrics.horizontalAdvance(QLatin1Char('0'));
  const auto widest = [&metrics](const char* text) { return metrics.horizontalAdvance(QString::fromLatin1(text)); };
  HexGridWidths widths;
  widths.address = std::max(widest("0x88888888"), widest("0xFFFFFFFF")) + padding;
  widths.byte = std::max(widest("88"), widest("FF")) + padding;
  widths.text = metrics.horizontalAdvance(QString(static_cast<int>(kHexGridRowBytes), QLatin1Char('W'))) + padding;
  widths.rowHeight = metrics.height() + metrics.height() / 3;
  return widths;
}

void SetUpHexGrid(QTableView* grid, HexGridModel* model) {
  grid->setModel(model);
  grid->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  const HexGridWidths widths = HexGridWidthsFor(QFontMetrics(grid->font()));
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionMode(QAbstractItemView::ContiguousSelection);
  grid->verticalHeader()->setVisible(false);
  grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid->verticalHeader()->setDefaultSectionSize(widths.rowHeight);
  grid->horizontalHeader()->setMinimumSectionSize(20);
  grid->horizontalHeader()->setDefaultSectionSize(widths.byte);
  grid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  grid->setColumnWidth(0, widths.address);
  grid->setColumnWidth(kHexGridColumns - 1, widths.text);
}

}  // namespace velkor::ui
