#include "qt_main_loop.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <thread>
#include <vector>

namespace velkor::ui {
namespace {

// Runs Qt's loop until done() holds or five seconds pass.
bool SpinUntil(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  return done();
}

TEST(QtMainLoopTest, TasksPostedFromAnotherThreadRunOnTheGuiThreadInOrder) {
  QtMainLoop loop;
  std::vector<int> order;
  std::thread::id ranOn;
  std::thread poster([&] {
    for (int i = 0; i < 50; ++i)
      loop.post([&, i] {
        order.push_back(i);
        ranOn = std::this_thread::get_id();
      });
  });
  poster.join();
  ASSERT_TRUE(SpinUntil([&] { return order.size() == 50; }));
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(QtMainLoopTest, TimersTickUntilCancelledAndSingleShotsFireOnce) {
  QtMainLoop loop;
  int ticks = 0;
  int shots = 0;
  const auto tick = loop.startTimer(kTickInterval, [&] { ++ticks; });
  loop.singleShot(std::chrono::milliseconds(15), [&] { ++shots; });
  const auto cancelled = loop.singleShot(std::chrono::milliseconds(15), [&] { shots += 100; });
  loop.cancelTimer(cancelled);
  ASSERT_TRUE(SpinUntil([&] { return ticks >= 5 && shots > 0; }));
  loop.cancelTimer(tick);
  const int atCancel = ticks;
  QElapsedTimer wait;
  wait.start();
  SpinUntil([&] { return wait.elapsed() > 60; });
  EXPECT_EQ(ticks, atCancel);
  EXPECT_EQ(shots, 1);
}

}  // namespace
}  // namespace velkor::ui

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
