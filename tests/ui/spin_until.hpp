// Runs Qt's event loop until a condition holds, for the window's tests.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

namespace velkor::ui {

// Runs Qt's loop until done() holds or ten seconds pass; whether it holds.
inline bool SpinUntil(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

}  // namespace velkor::ui
