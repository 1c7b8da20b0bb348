// TDataViewForm: the paged viewer of the image buffer ("View Data Buffer"):
// 32 lines of 16 bytes, paged with its buttons, the page keys, Up and Down,
// Home and End, or moved to a typed address with GO. It edits too: a click
// puts the cursor on a byte, Left and Right move it, hex digits overwrite,
// and the editing keys of the data page (undo, redo, copy, paste, find,
// F8 for the next difference) work here as there.
#pragma once

#include <QDialog>
#include <optional>

#include "control_binder.hpp"
#include "data/hex_view.hpp"

class QKeyEvent;
class QLineEdit;
class QPlainTextEdit;

namespace velkor {
class TQNProgrammer;
}

namespace velkor::ui {

class TDataViewForm final : public QDialog {
  Q_OBJECT

 public:
  TDataViewForm(TQNProgrammer& core, CommandRunner run, QWidget* parent);

  // The first address shown (for tests and scripts).
  uint32_t ViewStart() const { return pager_ ? pager_->ViewStart() : 0; }
  // The next time it is shown, the viewer opens at the page of address
  // rather than at 0 (a difference or a match the data page cannot show).
  void StartAt(uint32_t address) { startAt_ = address; }

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Render();
  void GoClicked();
  // After a paging key moved the view from previousStart.
  void FollowPage(uint32_t previousStart);
  bool EditKey(QKeyEvent* event);
  // Renders with the cursor's page in view.
  void ShowCursor();
  std::optional<uint32_t> AddressAt(const QPoint& point) const;
  void MarkBytes();

  TQNProgrammer& core_;
  CommandRunner run_;
  QPlainTextEdit* memo_;
  QLineEdit* address_;
  std::optional<DataViewPager> pager_;
  std::optional<uint32_t> startAt_;
};

}  // namespace velkor::ui
