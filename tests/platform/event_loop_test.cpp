#include "platform/event_loop.hpp"

#include <gtest/gtest.h>

#include <atomic>
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

}  // namespace
}  // namespace velkor
