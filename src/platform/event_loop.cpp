#include "platform/event_loop.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace velkor {

EventLoop::EventLoop() {
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

EventLoop::~EventLoop() { close(wakeFd_); }

void EventLoop::post(Task task) {
  {
    std::lock_guard lock(postedMutex_);
    posted_.push_back(std::move(task));
  }
  const uint64_t one = 1;
  // A full counter still wakes the loop, so a failed write loses nothing.
  [[maybe_unused]] ssize_t written = write(wakeFd_, &one, sizeof one);
}

MainLoop::TimerId EventLoop::addTimer(std::chrono::milliseconds delay, std::chrono::milliseconds period,
                                      Task task) {
  const TimerId id = nextTimerId_++;
  timers_.push_back(Timer{id, Clock::now() + delay, period, std::move(task)});
  return id;
}

MainLoop::TimerId EventLoop::startTimer(std::chrono::milliseconds period, Task onTick) {
  if (period <= std::chrono::milliseconds::zero()) period = std::chrono::milliseconds{1};
  return addTimer(period, period, std::move(onTick));
}

MainLoop::TimerId EventLoop::singleShot(std::chrono::milliseconds delay, Task task) {
  return addTimer(delay, std::chrono::milliseconds::zero(), std::move(task));
}

void EventLoop::cancelTimer(TimerId id) {
  std::erase_if(timers_, [id](const Timer& t) { return t.id == id; });
}

void EventLoop::watchReadable(int fd, Task onReadable) {
  unwatch(fd);
  watched_.push_back(Watch{fd, std::move(onReadable)});
}

void EventLoop::unwatch(int fd) {
  std::erase_if(watched_, [fd](const Watch& w) { return w.fd == fd; });
}

bool EventLoop::runReady(const std::function<bool()>& done) {
  std::deque<Task> batch;
  {
    std::lock_guard lock(postedMutex_);
    batch.swap(posted_);
  }
  while (!batch.empty()) {
    Task task = std::move(batch.front());
    batch.pop_front();
    task();
    if (done()) {
      // Keep what was not run yet, ahead of anything posted meanwhile.
      std::lock_guard lock(postedMutex_);
      for (auto it = batch.rbegin(); it != batch.rend(); ++it) posted_.push_front(std::move(*it));
      if (!posted_.empty()) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t written = write(wakeFd_, &one, sizeof one);
      }
      return true;
    }
  }

  // Timers: each due timer fires once per pass; a timer may cancel or add
  // timers, so look it up by id each time.
  const auto now = Clock::now();
  std::vector<TimerId> due;
  for (const Timer& t : timers_)
    if (t.due <= now) due.push_back(t.id);
  for (TimerId id : due) {
    auto it = std::find_if(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id == id; });
    if (it == timers_.end()) continue;
    Task task;
    if (it->period.count() == 0) {
      task = std::move(it->task);
      timers_.erase(it);
    } else {
      // Keep the rhythm, but never fire a backlog of missed ticks in a burst.
      it->due = std::max(it->due + it->period, now);
      task = it->task;
    }
    task();
    if (done()) return true;
  }
  return false;
}

void EventLoop::waitForWork(Clock::time_point deadline) {
  auto wakeAt = deadline;
  for (const Timer& t : timers_) wakeAt = std::min(wakeAt, t.due);
  const auto now = Clock::now();
  int timeoutMs = 0;
  if (wakeAt > now) {
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - now).count();
    timeoutMs = static_cast<int>(std::min<long long>(remaining, 60'000));
  }
  std::vector<pollfd> fds{{wakeFd_, POLLIN, 0}};
  for (const Watch& w : watched_) fds.push_back({w.fd, POLLIN, 0});
  if (poll(fds.data(), fds.size(), timeoutMs) <= 0) return;
  if (fds[0].revents != 0) {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t got = read(wakeFd_, &count, sizeof count);
  }
  // Run as posted tasks, so that runUntil checks its condition after each.
  std::lock_guard lock(postedMutex_);
  for (std::size_t i = 1; i < fds.size(); ++i)
    if (fds[i].revents != 0) posted_.push_back(watched_[i - 1].onReadable);
}

bool EventLoop::runUntil(const std::function<bool()>& done, Clock::time_point deadline) {
  if (done()) return true;
  for (;;) {
    if (runReady(done)) return true;
    if (Clock::now() >= deadline) return done();
    waitForWork(deadline);
  }
}

void EventLoop::runFor(std::chrono::milliseconds duration) {
  runUntil([] { return false; }, Clock::now() + duration);
}

void EventLoop::run() {
  quitRequested_ = false;
  runUntil([this] { return quitRequested_; }, Clock::time_point::max());
}

void EventLoop::quit() { quitRequested_ = true; }

}  // namespace velkor
