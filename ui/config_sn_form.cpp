#include "config_sn_form.hpp"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/qn_programmer.hpp"

namespace velkor::ui {

TConfigSNForm::TConfigSNForm(TQNProgrammer& core, CommandRunner run, QWidget* parent)
    : QDialog(parent), binder_(new ControlBinder(core.ConfigSN.All(), std::move(run), this)) {
  setObjectName("TConfigSNForm");
  setWindowTitle(tr("Config S/N Constant"));
  ControlBinder& b = *binder_;
  b.OnInput("BitBtnOK", [&core] { core.BitBtnOKClick(); });
  b.OnInput("BitBtnCancel", [this] { reject(); });

  auto* layout = new QVBoxLayout(this);
  auto* fields = new QGridLayout;
  QLineEdit* address = b.Edit("AddrEditSN", this);
  QLineEdit* contents = b.Edit("EditDataSN", this);
  contents->setMinimumWidth(320);
  fields->addWidget(b.CompanionLabel("AddrEditSN", this), 0, 0);
  fields->addWidget(address, 0, 1);
  fields->addWidget(b.CompanionLabel("EditDataSN", this), 1, 0);
  fields->addWidget(contents, 1, 1);
  layout->addLayout(fields);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(b.PushButton("BitBtnOK", this));
  buttons->addWidget(b.PushButton("BitBtnCancel", this));
  layout->addLayout(buttons);
}

}  // namespace velkor::ui
