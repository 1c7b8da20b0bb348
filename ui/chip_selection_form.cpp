#include "chip_selection_form.hpp"

#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>

#include "app/qn_programmer.hpp"
#include "chip_menu_search.hpp"

namespace velkor::ui {

TChipSeltForm::TChipSeltForm(TQNProgrammer& core, CommandRunner run, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      core_(core),
      run_(std::move(run)),
      menu_(new QMenu(this)) {
  setObjectName("TChipSeltForm");
  setWindowTitle(tr("Chip Selection"));
  auto* label = new QLabel(tr("点击选择芯片....."), this);
  label->setObjectName("Label1");
  label->setCursor(Qt::PointingHandCursor);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 16, 24, 16);
  layout->addWidget(label);
  setFixedSize(sizeHint().expandedTo(QSize(240, 70)));

  menu_->setObjectName("PopupMenuQN");
  AddNodes(menu_, ChipMenu(), false);
  new ChipMenuSearch(menu_, [this](const CatalogueEntry& entry) { Choose(entry); });
}

void TChipSeltForm::Choose(const CatalogueEntry& entry) {
  run_([this, &entry] { core_.ChooseChip(entry); });
}

void TChipSeltForm::AddNodes(QMenu* menu, const std::vector<ChipMenuNode>& nodes, bool hidden) {
  for (const ChipMenuNode& node : nodes) {
    switch (node.kind) {
      case ChipMenuNode::Kind::Separator:
        menu->addSeparator();
        break;
      case ChipMenuNode::Kind::Submenu: {
        QMenu* submenu = menu->addMenu(ChipMenuText(node.caption));
        submenu->menuAction()->setVisible(!(hidden || node.hidden));
        AddNodes(submenu, node.children, hidden || node.hidden);
        break;
      }
      case ChipMenuNode::Kind::Entry: {
        QAction* action = menu->addAction(ChipMenuText(node.caption));
        const bool offered = !(hidden || node.hidden) && node.entry != nullptr && !node.entry->hidden;
        action->setVisible(offered);
        const CatalogueEntry* entry = node.entry;
        entries_[action] = entry;
        if (entry != nullptr)
          connect(action, &QAction::triggered, this, [this, entry] { Choose(*entry); });
        break;
      }
    }
  }
}

QAction* TChipSeltForm::FindEntry(const QString& caption) const {
  std::function<QAction*(const QMenu*)> search = [&](const QMenu* menu) -> QAction* {
    for (QAction* action : menu->actions()) {
      if (!action->isVisible() || action->isSeparator()) continue;
      if (QMenu* submenu = action->menu()) {
        if (QAction* found = search(submenu)) return found;
        continue;
      }
      auto entry = entries_.find(action);
      if (entry != entries_.end() && entry->second != nullptr && QtText(entry->second->caption) == caption)
        return action;
    }
    return nullptr;
  };
  return search(menu_);
}

void TChipSeltForm::FormShow() {
  run_([this] { core_.ChipSelectionFormShow(); });
}

void TChipSeltForm::PopUpMenu() {
  move(position_ + QPoint(5, 10));
  menu_->popup(position_);
}

void TChipSeltForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
  // Once the form is up; a choice made meanwhile has closed it already.
  QTimer::singleShot(0, this, [this] {
    if (isVisible()) PopUpMenu();
  });
}

void TChipSeltForm::mousePressEvent(QMouseEvent* event) {
  QDialog::mousePressEvent(event);
  PopUpMenu();
}

}  // namespace velkor::ui
