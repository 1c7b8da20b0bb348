#include "chip_menu_search.hpp"

#include <QAction>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QWidgetAction>

#include "chips/chip_search.hpp"
#include "control_binder.hpp"
#include "text/text_table.hpp"

namespace velkor::ui {

namespace {

const char* const kFieldPrompt = TextKey("Type part of a chip name");
const char* const kNoMatch = TextKey("No chip matches");

}  // namespace

QString ChipMenuText(const std::string& name) { return ShownText(name).replace('&', "&&"); }

ChipMenuSearch::ChipMenuSearch(QMenu* menu, Choice choose)
    : QObject(menu), menu_(menu), choose_(std::move(choose)), field_(new QLineEdit) {
  field_->setObjectName("ChipSearchEdit");
  field_->setPlaceholderText(QString::fromUtf8(Tx(kFieldPrompt)));
  field_->setClearButtonEnabled(true);
  field_->installEventFilter(this);
  auto* holder = new QWidget;
  auto* layout = new QHBoxLayout(holder);
  layout->setContentsMargins(6, 4, 6, 4);
  layout->addWidget(field_);
  // The menu focuses the action's widget when the pointer rests on it.
  holder->setFocusProxy(field_);
  auto* fieldAction = new QWidgetAction(menu_);
  fieldAction->setDefaultWidget(holder);

  QAction* first = menu_->actions().isEmpty() ? nullptr : menu_->actions().front();
  menu_->insertAction(first, fieldAction);
  listEnd_ = menu_->insertSeparator(first);

  connect(field_, &QLineEdit::textChanged, this, &ChipMenuSearch::List);
  connect(menu_, &QMenu::aboutToShow, this, [this] {
    field_->clear();
    field_->setFocus(Qt::PopupFocusReason);
  });
}

void ChipMenuSearch::List(const QString& text) {
  for (QAction* action : listed_) {
    menu_->removeAction(action);
    action->deleteLater();
  }
  listed_.clear();
  if (text.trimmed().isEmpty()) return;

  for (const ChipSearchMatch& match : SearchChipMenu(text.toStdString())) {
    auto* action = new QAction(ChipMenuText(ChipMenuPathText(match)), menu_);
    const CatalogueEntry* entry = match.entry;
    connect(action, &QAction::triggered, this, [this, entry] { choose_(*entry); });
    listed_.push_back(action);
  }
  if (listed_.empty()) {
    auto* none = new QAction(QString::fromUtf8(Tx(kNoMatch)), menu_);
    none->setEnabled(false);
    listed_.push_back(none);
  }
  for (QAction* action : listed_) menu_->insertAction(listEnd_, action);
}

QAction* ChipMenuSearch::FirstChip() const {
  return !listed_.empty() && listed_.front()->isEnabled() ? listed_.front() : nullptr;
}

bool ChipMenuSearch::eventFilter(QObject* watched, QEvent* event) {
  if (watched != field_ || event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
  switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Down:
      // From here on the menu's own keys move through the list and choose.
      if (QAction* first = FirstChip()) {
        menu_->setFocus(Qt::TabFocusReason);
        menu_->setActiveAction(first);
      }
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (QAction* first = FirstChip()) {
        menu_->hide();
        first->trigger();
      }
      return true;
    case Qt::Key_Escape:
      menu_->close();
      return true;
    default:
      return false;
  }
}

}  // namespace velkor::ui
