#include "qt_main_loop.hpp"

#include <memory>

namespace velkor::ui {

QtMainLoop::~QtMainLoop() {
  for (auto& [id, timer] : timers_) delete timer;
}

void QtMainLoop::post(Task task) {
  // Qt copies the functor; share the task instead of copying what it holds.
  auto shared = std::make_shared<Task>(std::move(task));
  QMetaObject::invokeMethod(&context_, [shared] { (*shared)(); }, Qt::QueuedConnection);
}

MainLoop::TimerId QtMainLoop::addTimer(std::chrono::milliseconds interval, bool once, Task task) {
  const TimerId id = nextId_++;
  auto* timer = new QTimer;
  timer->setTimerType(Qt::PreciseTimer);
  timer->setSingleShot(once);
  timer->setInterval(interval);
  QObject::connect(timer, &QTimer::timeout, &context_, [this, id, once, task = std::move(task)] {
    if (once) {
      // The task may start new timers; drop this one first.
      auto it = timers_.find(id);
      if (it != timers_.end()) {
        it->second->deleteLater();
        timers_.erase(it);
      }
    }
    task();
  });
  timers_[id] = timer;
  timer->start();
  return id;
}

MainLoop::TimerId QtMainLoop::startTimer(std::chrono::milliseconds period, Task onTick) {
  return addTimer(period, false, std::move(onTick));
}

MainLoop::TimerId QtMainLoop::singleShot(std::chrono::milliseconds delay, Task task) {
  return addTimer(delay, true, std::move(task));
}

void QtMainLoop::cancelTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second->stop();
  it->second->deleteLater();
  timers_.erase(it);
}

}  // namespace velkor::ui
