// TDataViewForm: the paged viewer of the image buffer ("View Data Buffer"):
// 32 lines of 16 bytes, paged with its buttons, the page and arrow keys,
// Home and End, or moved to a typed address with GO.
#pragma once

#include <QDialog>
#include <optional>

#include "control_binder.hpp"
#include "data/hex_view.hpp"

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

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Render();
  void GoClicked();

  TQNProgrammer& core_;
  CommandRunner run_;
  QPlainTextEdit* memo_;
  QLineEdit* address_;
  std::optional<DataViewPager> pager_;
};

}  // namespace velkor::ui
