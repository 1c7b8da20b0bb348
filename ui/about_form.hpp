// TAboutForm: the program's name, version and purpose.
#pragma once

#include <QDialog>

namespace velkor::ui {

class TAboutForm final : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutForm(QWidget* parent);
};

}  // namespace velkor::ui
