// The core's own main loop: a queue of posted tasks and a set of timers,
// waited for with poll() on an eventfd, so an idle loop sleeps.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/main_loop.hpp"

namespace velkor {

class EventLoop final : public MainLoop {
 public:
  using Clock = std::chrono::steady_clock;

  EventLoop();
  ~EventLoop() override;
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  void post(Task task) override;
  TimerId startTimer(std::chrono::milliseconds period, Task onTick) override;
  TimerId singleShot(std::chrono::milliseconds delay, Task task) override;
  void cancelTimer(TimerId id) override;

  // Runs onReadable on the loop whenever fd has bytes to read, seen while
  // the loop waits; onReadable reads them, or it runs again. One task per
  // fd; unwatch before closing the fd.
  void watchReadable(int fd, Task onReadable);
  void unwatch(int fd);

  // Runs tasks and timers until done() holds (checked after every task and
  // timer) or the deadline passes; returns done().
  bool runUntil(const std::function<bool()>& done, Clock::time_point deadline);
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return runUntil(done, Clock::now() + timeout);
  }
  // Runs for the given time.
  void runFor(std::chrono::milliseconds duration);
  // Runs until quit() is called.
  void run();
  void quit();

 private:
  struct Watch {
    int fd;
    Task onReadable;
  };
  struct Timer {
    TimerId id;
    Clock::time_point due;
    std::chrono::milliseconds period;  // zero for a single shot
    Task task;
  };

  // Runs the posted tasks and the due timers once; returns true when done()
  // held after one of them.
  bool runReady(const std::function<bool()>& done);
  void waitForWork(Clock::time_point deadline);
  TimerId addTimer(std::chrono::milliseconds delay, std::chrono::milliseconds period, Task task);

  int wakeFd_ = -1;
  std::mutex postedMutex_;
  std::deque<Task> posted_;
  std::vector<Timer> timers_;
  std::vector<Watch> watched_;
  TimerId nextTimerId_ = 1;
  bool quitRequested_ = false;
};

}  // namespace velkor
