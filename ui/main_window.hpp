// The main window. This first version shows the information log and the
// programmers found on the ports it was given; the tool bar, pages and
// dialogs grow on the same frame.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <memory>
#include <string>
#include <vector>

#include "app/programmer_channels.hpp"
#include "platform/simulator_process.hpp"
#include "qt_main_loop.hpp"

namespace velkor::ui {

struct StartOptions {
  int simulatedProgrammers = 0;    // start this many simulated programmers
  std::vector<std::string> ports;  // explicit ports (names below /dev or paths)
  bool echoLog = false;            // copy every log line to standard output
};

class MainWindow final : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(QtMainLoop& loop, StartOptions options);
  ~MainWindow() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Startup();
  void AppendLog(int channel, const QString& text);
  void ShowProgrammers();

  QtMainLoop& loop_;
  StartOptions options_;
  bool started_ = false;
  QPlainTextEdit* infoMemo_;
  QLabel* infoPanel_;
  std::unique_ptr<SimulatorProcess> simulator_;
  std::unique_ptr<ProgrammerChannels> channels_;
};

}  // namespace velkor::ui
