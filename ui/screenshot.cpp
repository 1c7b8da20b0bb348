#include "screenshot.hpp"

#include <QCoreApplication>
#include <QLayout>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

#include "data/object_file.hpp"
#include "main_window.hpp"

namespace velkor::ui {

namespace {

using Clock = std::chrono::steady_clock;

// How long the programmers may take to be found and to finish a run.
constexpr auto kLongestWait = std::chrono::seconds(60);
constexpr int kPollMs = 50;

// Lays the window out for the controls shown now. A control hidden or shown
// resizes its box at once, but each enclosing box follows one turn of the
// event loop later; a picture must not catch them halfway.
void SettleLayouts(QWidget& window) {
  QList<QLayout*> layouts = window.findChildren<QLayout*>();
  const auto depth = [](const QLayout* layout) {
    int levels = 0;
    for (const QObject* o = layout; o != nullptr; o = o->parent()) ++levels;
    return levels;
  };
  std::stable_sort(layouts.begin(), layouts.end(),
                   [&](const QLayout* a, const QLayout* b) { return depth(a) > depth(b); });
  for (QLayout* layout : layouts) layout->activate();
}

// Makes the page with this object name the current one, if it is shown.
bool ShowPage(QWidget& window, const QString& name) {
  auto* tabs = window.findChild<QTabWidget*>("PageControl1");
  auto* page = window.findChild<QWidget*>(name);
  const int index = tabs != nullptr && page != nullptr ? tabs->indexOf(page) : -1;
  if (index < 0 || !tabs->isTabVisible(index)) return false;
  tabs->setCurrentIndex(index);
  return true;
}

void Fail(MainWindow& window, int& result, const QString& why) {
  std::fprintf(stderr, "%s\n", why.toUtf8().constData());
  result = 1;
  window.close();
}

// Calls then() once ready() holds, checking every few milliseconds; gives up
// with the text of failure after the longest wait.
void WhenReady(MainWindow& window, int& result, std::function<bool()> ready, std::function<void()> then,
               QString failure, Clock::time_point deadline) {
  if (ready()) {
    then();
    return;
  }
  if (Clock::now() > deadline) {
    Fail(window, result, failure);
    return;
  }
  QTimer::singleShot(kPollMs, &window, [&window, &result, ready, then, failure, deadline] {
    WhenReady(window, result, ready, then, failure, deadline);
  });
}

void TakePicture(MainWindow& window, const QString& file, int& result) {
  // On the next turn, once the layout has followed the new state.
  QTimer::singleShot(0, &window, [&window, &result, file] {
    SettleLayouts(window);
    if (!window.grab().save(file, "PNG")) {
      std::fprintf(stderr, "cannot write %s\n", file.toLocal8Bit().constData());
      result = 1;
    }
    // A picture of programmers at work ends the program without the
    // question that closing the window asks then.
    const TQNProgrammer& core = window.Core();
    if (core.AnyProgrammerBusy())
      QCoreApplication::exit(result);
    else
      window.close();
  });
}

}  // namespace

void ArrangeScreenshot(MainWindow& window, const ScreenshotRequest& request, int& result) {
  QObject::connect(&window, &MainWindow::StartupDone, &window, [&window, &result, request] {
    if (!request.chip.isEmpty() && !window.ChooseChipFromMenu(request.chip))
      return Fail(window, result, QString("the chip menu offers no \"%1\"").arg(request.chip));
    TQNProgrammer& core = window.Core();
    if (!request.load.isEmpty()) {
      core.RunCommand([&] { core.LoadFile(request.load.toStdString()); });
      if (!core.FileLoaded || core.LastLoad.code != kRecordAccepted)
        return Fail(window, result, QString("\"%1\" could not be loaded whole").arg(request.load));
    }
    if (!request.compare.isEmpty()) {
      window.Run([&] { core.CompareWithFile(request.compare.toStdString()); });
      if (!core.Comparison)
        return Fail(window, result, QString("the image could not be compared with \"%1\"").arg(request.compare));
    }
    if (!request.page.isEmpty() && !ShowPage(window, request.page))
      return Fail(window, result, QString("no page \"%1\" is shown").arg(request.page));
    if (!request.autoProgram) return TakePicture(window, request.file, result);

    const auto deadline = Clock::now() + kLongestWait;
    const int wanted = request.programmers;
    const auto found = [&core, wanted] { return core.DevicesFound >= wanted; };
    const auto idle = [&core] { return !core.Channels.Channel(1).Busy && !core.Channels.Channel(2).Busy; };
    // Mid-run: a third of programmer 1's gauge done, and every busy
    // programmer's progress line with its time left.
    const auto underWay = [&core] {
      const GaugeControl& gauge = core.Gauge(1);
      if (!core.Channels.Channel(1).Busy || gauge.Progress * 3 < gauge.MaxValue) return false;
      for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n)
        if (core.Channels.Channel(n).Busy && !core.ProgressOf(n).timeLeft) return false;
      return true;
    };
    const QString file = request.file;
    const bool busy = request.busy;
    WhenReady(
        window, result, found,
        [&window, &result, &core, idle, underWay, busy, file, deadline] {
          core.RunCommand([&] { core.SpdBtnAutoPClick(); });
          WhenReady(window, result, busy ? std::function<bool()>(underWay) : std::function<bool()>(idle),
                    [&window, &result, file] { TakePicture(window, file, result); },
                    busy ? "the automatic programming was not under way in time"
                         : "the automatic programming did not end in time",
                    deadline);
        },
        QString("fewer than %1 programmers were found").arg(wanted), deadline);
  });
}

}  // namespace velkor::ui
