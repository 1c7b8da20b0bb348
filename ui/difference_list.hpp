// The page of a comparison's differing ranges: a summary line, one line per
// listed range, and a click on a line moves the hex views to that range.
#pragma once

#include <QWidget>
#include <functional>

class QLabel;
class QListWidget;

namespace velkor {
class TQNProgrammer;
}

namespace velkor::ui {

class DifferenceList final : public QWidget {
 public:
  using CommandRunner = std::function<void(const std::function<void()>&)>;

  DifferenceList(TQNProgrammer& core, CommandRunner run, QWidget* page);

  // Shows the core's comparison as it stands.
  void Refresh();

 private:
  TQNProgrammer& core_;
  CommandRunner run_;
  QLabel* summary_;
  QListWidget* list_;
};

}  // namespace velkor::ui
