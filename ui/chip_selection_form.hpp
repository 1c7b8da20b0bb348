// TChipSeltForm: the small chip selection dialog. It holds a label and the
// chip menu PopupMenuQN, built from the catalogue's menu tree with a search
// field at its top; the menu pops up beside the chip button whenever the
// form is shown or clicked.
#pragma once

#include <QDialog>
#include <QPoint>
#include <map>
#include <vector>

#include "chips/catalogue.hpp"
#include "control_binder.hpp"

class QMenu;

namespace velkor {
class TQNProgrammer;
}

namespace velkor::ui {

class TChipSeltForm final : public QDialog {
  Q_OBJECT

 public:
  TChipSeltForm(TQNProgrammer& core, CommandRunner run, QWidget* parent);

  QMenu* PopupMenuQN() const { return menu_; }
  // The screen point at which the menu pops up; the form sits just below
  // and right of it.
  void SelectChipPosition(QPoint point) { position_ = point; }
  // What every opening of the form does before the menu shows: the core's
  // resets.
  void FormShow();
  // Moves the form beside the point and pops the menu up there.
  void PopUpMenu();
  // The offered (visible) menu entry with this chip caption, or null.
  QAction* FindEntry(const QString& caption) const;

 protected:
  void showEvent(QShowEvent* event) override;
  // A click on the form or on its label pops the menu up again.
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void AddNodes(QMenu* menu, const std::vector<ChipMenuNode>& nodes, bool hidden);
  // What choosing the entry in the menu, or among the chips found, does.
  void Choose(const CatalogueEntry& entry);

  TQNProgrammer& core_;
  CommandRunner run_;
  QMenu* menu_;
  QPoint position_;
  std::map<const QAction*, const CatalogueEntry*> entries_;
};

}  // namespace velkor::ui
