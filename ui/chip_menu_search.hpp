// The search field at the top of the chip menu. Typing lists, under the
// field, every chip the menu offers whose name holds the text, each shown
// with the way to it in the menu; choosing one of them is choosing that
// chip in the menu. Down moves into the list, Enter takes the first chip
// listed, Esc closes the menu.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "chips/catalogue.hpp"

class QAction;
class QLineEdit;
class QMenu;

namespace velkor::ui {

// A chip or submenu name as a menu text: an ampersand is not a mnemonic.
QString ChipMenuText(const std::string& name);

class ChipMenuSearch final : public QObject {
  Q_OBJECT

 public:
  using Choice = std::function<void(const CatalogueEntry&)>;

  // Puts the field at the top of the menu; the field starts empty at every
  // opening and has the keyboard focus.
  ChipMenuSearch(QMenu* menu, Choice choose);

  QLineEdit* Field() const { return field_; }
  // What is listed for the text in the field, in order: the chips found, or
  // the one disabled entry saying that none is; nothing for an empty field.
  const std::vector<QAction*>& Listed() const { return listed_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void List(const QString& text);
  QAction* FirstChip() const;

  QMenu* menu_;
  Choice choose_;
  QLineEdit* field_;
  QAction* listEnd_;  // the separator between the list and the menu's own entries
  std::vector<QAction*> listed_;
};

}  // namespace velkor::ui
