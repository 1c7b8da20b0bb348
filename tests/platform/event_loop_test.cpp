#include "platform/event_loop.hpp"
#include "platform/signal_pipe.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

namespace velkor {
namespace {

using namespace std::chrono_literals;

TEST(EventLoopTest, PostedTasksRunOnTheLoopThreadInOrder) {
  EventLoop loop;
  std::vector<int> order;
  std::thread::id ranOn;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i)
      loop.post([&, i] {
        order.push_back(i);
        ranOn = std::this_thread::get_id();
      });
  });
  poster.join();
  ASSERT_TRUE(loop.runUntil([&] { return order.size() == 100; }, 5s));
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(EventLoopTest, RunUntilStopsAtTheConditionAndKeepsTheRestForLater) {
  EventLoop loop;
  int ran = 0;
  for (int i = 0; i < 5; ++i) loop.post([&] { ++ran; });
  EXPECT_TRUE(loop.runUntil([&] { return ran == 2; }, 5s));
  EXPECT_EQ(ran, 2);
  EXPECT_TRUE(loop.runUntil([&] { return ran == 5; }, 5s));
}

TEST(EventLoopTest, RunUntilGivesFalseAtTheDeadline) {
  EventLoop loop;
  EXPECT_FALSE(loop.runUntil([] { return false; }, 30ms));
}

TEST(EventLoopTest, PeriodicTimerTicksUntilCancelledAndSingleShotFiresOnce) {
  EventLoop loop;
  int ticks = 0;
  int shots = 0;
  const auto tick = loop.startTimer(kTickInterval, [&] { ++ticks; });
  loop.singleShot(20ms, [&] { ++shots; });
  ASSERT_TRUE(loop.runUntil([&] { return ticks >= 5; }, 5s));
  loop.cancelTimer(tick);
  const int atCancel = ticks;
  loop.runFor(50ms);
  EXPECT_EQ(ticks, atCancel);
  EXPECT_EQ(shots, 1);
}

TEST(EventLoopTest, TimerMayCancelItselfAndPostFromInsideATask) {
  EventLoop loop;
  int ticks = 0;
  bool posted = false;
  MainLoop::TimerId id = 0;
  id = loop.startTimer(1ms, [&] {
    ++ticks;
    loop.cancelTimer(id);
    loop.post([&] { posted = true; });
  });
  ASSERT_TRUE(loop.runUntil([&] { return posted; }, 5s));
  loop.runFor(20ms);
  EXPECT_EQ(ticks, 1);
}

TEST(EventLoopTest, QuitEndsRun) {
  EventLoop loop;
  bool quitCalled = false;
  loop.singleShot(5ms, [&] {
    quitCalled = true;
    loop.quit();
  });
  loop.run();
  EXPECT_TRUE(quitCalled);
}

// A signal wakes a loop that has nothing else to do, and its handler's
// byte is read on the loop's thread; a later signal comes the same way.
TEST(EventLoopTest, SignalsReachTheLoopThroughTheirPipe) {
  EventLoop loop;
  SignalPipe signals({SIGUSR2});
  std::vector<int> received;
  std::thread::id ranOn;
  loop.watchReadable(signals.ReadFd(), [&] {
    for (const int s : signals.Take()) received.push_back(s);
    ranOn = std::this_thread::get_id();
  });
  // One at a time: the kernel merges a signal sent while the same one waits.
  for (std::size_t count = 1; count <= 2; ++count) {
    std::thread sender([] { ::kill(::getpid(), SIGUSR2); });
    EXPECT_TRUE(loop.runUntil([&] { return received.size() == count; }, 10s)) << received.size();
    sender.join();
  }
  EXPECT_EQ(received, (std::vector<int>{SIGUSR2, SIGUSR2}));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  // Unwatched, the pipe's bytes wait for whoever takes them next.
  loop.unwatch(signals.ReadFd());
  ::raise(SIGUSR2);
  loop.runFor(20ms);
  EXPECT_EQ(received.size(), 2u);
  EXPECT_EQ(signals.Take(), std::vector<int>{SIGUSR2});
}

// Once the pipe is gone, the signal has the handler it had before.
TEST(EventLoopTest, ASignalPipeGivesItsSignalsBack) {
  struct sigaction before {};
  sigaction(SIGUSR2, nullptr, &before);
  { SignalPipe signals({SIGUSR2}); }
  struct sigaction after {};
  sigaction(SIGUSR2, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

}  // namespace
}  // namespace velkor
