#include "chip_selection_form.hpp"

#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>

#include "app/qn_programmer.hpp"

namespace velkor::ui {

namespace {

// Chip names are shown as they are: an ampersand is not a mnemonic.
QString MenuText(const std::string& caption) { return QtText(caption).replace('&', "&&"); }

}  // namespace

TChipSeltForm::TChipSeltForm(TQNProgrammer& core, CommandRunner run, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      core_(core),
      run_(std::move(run)),
      menu_(new QMenu(this)) {
  setObjectName("TChipSeltForm");
  setWindowTitle("Chip Selection");
  auto* label = new QLabel("点击选择芯片.....", this);
  label->setObjectName("Label1");
  label->setCursor(Qt::PointingHandCursor);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 16, 24, 16);
  layout->addWidget(label);
  setFixedSize(sizeHint().expandedTo(QSize(240, 70)));

  menu_->setObjectName("PopupMenuQN");
  AddNodes(menu_, ChipMenu(), false);
}

void TChipSeltForm::AddNodes(QMenu* menu, const std::vector<ChipMenuNode>& nodes, bool hidden) {
  for (const ChipMenuNode& node : nodes) {
    switch (node.kind) {
      case ChipMenuNode::Kind::Separator:
        menu->addSeparator();
        break;
      case ChipMenuNode::Kind::Submenu: {
        QMenu* submenu = menu->addMenu(MenuText(node.caption));
        submenu->menuAction()->setVisible(!(hidden || node.hidden));
        AddNodes(submenu, node.children, hidden || node.hidden);
        break;
      }
      case ChipMenuNode::Kind::Entry: {
        QAction* action = menu->addAction(MenuText(node.caption));
        const bool offered = !(hidden || node.hidden) && node.entry != nullptr && !node.entry->hidden;
        action->setVisible(offered);
        const CatalogueEntry* entry = node.entry;
        entries_[action] = entry;
        if (entry != nullptr)
          connect(action, &QAction::triggered, this, [this, entry] { run_([this, entry] { core_.ChooseChip(*entry); }); });
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
