// Editing in a hex grid: keys and mouse clicks on the grid become moves of
// the core's edit model and its edit commands, and the text column draws
// each character with the look of its byte (cursor, selection, edited,
// differing), as the byte cells do.
#pragma once

#include <QObject>
#include <QStyledItemDelegate>
#include <functional>
#include <optional>

#include "data/hex_edit.hpp"

class QKeyEvent;
class QTableView;

namespace velkor {
class TQNProgrammer;
}

namespace velkor::ui {

class HexGridModel;

class HexTextDelegate final : public QStyledItemDelegate {
 public:
  HexTextDelegate(HexGridModel* model, QObject* parent) : QStyledItemDelegate(parent), model_(model) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  HexGridModel* model_;
};

class HexGridEditing final : public QObject {
 public:
  using CommandRunner = std::function<void(const std::function<void()>&)>;

  // Runs the core's commands through run, as the window runs every handler.
  HexGridEditing(QTableView* grid, HexGridModel* model, TQNProgrammer& core, CommandRunner run);

  // The cursor's cell becomes the grid's current cell and is scrolled into
  // view; every cell is drawn again.
  void Refresh();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool KeyPressed(QKeyEvent* event);
  // The byte and column under a point of the viewport.
  std::optional<std::pair<uint32_t, HexPane>> ByteAt(const QPoint& point) const;
  void UpdatePageRows();

  QTableView* grid_;
  HexGridModel* model_;
  TQNProgrammer& core_;
  CommandRunner run_;
};

}  // namespace velkor::ui
