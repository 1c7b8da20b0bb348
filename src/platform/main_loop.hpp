// The main loop the core runs on: all logic of the program runs on one
// thread, and other threads hand work to it with post(). The Qt window
// supplies an implementation on Qt's own loop; tests and the command line
// use EventLoop.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace velkor {

class MainLoop {
 public:
  using Task = std::function<void()>;
  using TimerId = uint64_t;

  virtual ~MainLoop() = default;

  // Runs task on the main thread, after the tasks posted before it. Safe to
  // call from any thread.
  virtual void post(Task task) = 0;

  // Calls onTick every period until cancelled (main thread only).
  virtual TimerId startTimer(std::chrono::milliseconds period, Task onTick) = 0;
  // Calls task once after delay (main thread only).
  virtual TimerId singleShot(std::chrono::milliseconds delay, Task task) = 0;
  virtual void cancelTimer(TimerId id) = 0;
};

// The interval of the timer that counts reply time-outs and moves creeping
// gauges.
inline constexpr std::chrono::milliseconds kTickInterval{10};

}  // namespace velkor
