// TLogCfgForm: whether and how the information log is written to a file
// when the program closes. The values live in the core's LogCfgControls.
#pragma once

#include <QDialog>

#include "control_binder.hpp"

namespace velkor {
class TQNProgrammer;
}

namespace velkor::ui {

class TLogCfgForm final : public QDialog {
  Q_OBJECT

 public:
  TLogCfgForm(TQNProgrammer& core, CommandRunner run, QWidget* parent);
  ControlBinder& Binder() { return *binder_; }

 private:
  ControlBinder* binder_;
};

}  // namespace velkor::ui
