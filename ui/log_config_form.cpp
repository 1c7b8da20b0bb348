#include "log_config_form.hpp"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/qn_programmer.hpp"

namespace velkor::ui {

TLogCfgForm::TLogCfgForm(TQNProgrammer& core, CommandRunner run, QWidget* parent)
    : QDialog(parent), binder_(new ControlBinder(core.LogCfg.All(), std::move(run), this)) {
  setObjectName("TLogCfgForm");
  setWindowTitle(tr("Config Log File."));
  ControlBinder& b = *binder_;
  b.OnInput("CheckBoxLog", [&core] { core.CheckBoxLogClick(); });
  b.OnInput("RadioGrpCreat", [&core] { core.RadioGrpCreatClick(); });
  b.OnInput("SpeedButtonOP", [&core] { core.SpeedButtonOPClick(); });
  b.OnInput("OK", [&core] { core.OKClick(); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(b.CheckBox("CheckBoxLog", this));
  layout->addWidget(b.RadioGroup("RadioGrpCreat", this));

  auto* nameRow = new QHBoxLayout;
  QLineEdit* name = b.Edit("EditLogName", this);
  name->setMinimumWidth(260);
  nameRow->addWidget(b.CompanionLabel("EditLogName", this));
  nameRow->addWidget(name, 1);
  nameRow->addWidget(b.PushButton("SpeedButtonOP", this));
  layout->addLayout(nameRow);

  layout->addWidget(b.RadioGroup("RadioGrpMod", this));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  QPushButton* ok = b.PushButton("OK", this);
  ok->setMinimumWidth(90);
  buttons->addWidget(ok);
  layout->addLayout(buttons);
}

}  // namespace velkor::ui
