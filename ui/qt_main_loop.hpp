// The core's main loop on Qt's event loop: posted tasks become queued calls
// and timers become QTimers, so the core's handlers run on the GUI thread.
#pragma once

#include <QObject>
#include <QTimer>
#include <map>

#include "platform/main_loop.hpp"

namespace velkor::ui {

class QtMainLoop final : public MainLoop {
 public:
  QtMainLoop() = default;
  ~QtMainLoop() override;

  void post(Task task) override;
  TimerId startTimer(std::chrono::milliseconds period, Task onTick) override;
  TimerId singleShot(std::chrono::milliseconds delay, Task task) override;
  void cancelTimer(TimerId id) override;

 private:
  TimerId addTimer(std::chrono::milliseconds interval, bool once, Task task);

  QObject context_;  // the receiver of queued calls: lives on the GUI thread
  std::map<TimerId, QTimer*> timers_;
  TimerId nextId_ = 1;
};

}  // namespace velkor::ui
