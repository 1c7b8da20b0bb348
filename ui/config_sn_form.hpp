// TConfigSNForm: a fixed block of text bytes to write into the image at an
// address ("Config S/N Constant"). The values live in the core's
// ConfigSNControls.
#pragma once

#include <QDialog>

#include "control_binder.hpp"

namespace velkor {
class TQNProgrammer;
}

namespace velkor::ui {

class TConfigSNForm final : public QDialog {
  Q_OBJECT

 public:
  TConfigSNForm(TQNProgrammer& core, CommandRunner run, QWidget* parent);
  ControlBinder& Binder() { return *binder_; }

 private:
  ControlBinder* binder_;
};

}  // namespace velkor::ui
