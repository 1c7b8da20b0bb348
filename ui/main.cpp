// The window program: velkor350qn [--simulate [--sim-count N]] [--ports A,B] [--echo-log]
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdlib>

#include "main_window.hpp"
#include "qt_main_loop.hpp"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("velkor350qn");
  QApplication::setApplicationDisplayName("Velkor350QN Flash Programmer");

  QCommandLineParser parser;
  parser.setApplicationDescription("Host program of the Velkor350QN serial-memory programmer.");
  parser.addHelpOption();
  const QCommandLineOption simulate("simulate", "Start simulated programmers and use their ports.");
  const QCommandLineOption simCount("sim-count", "How many simulated programmers to start: 1 or 2 (default 2).", "N", "2");
  const QCommandLineOption ports("ports", "Comma-separated programmer ports, e.g. ttyUSB0,ttyUSB1 (or set VELKOR_PORTS).",
                                 "LIST");
  const QCommandLineOption echoLog("echo-log", "Copy the information log to standard output.");
  const QCommandLineOption exitAfter("exit-after", "Close the window after MS milliseconds (for scripted checks).", "MS");
  parser.addOptions({simulate, simCount, ports, echoLog, exitAfter});
  parser.process(app);

  velkor::ui::StartOptions options;
  if (parser.isSet(simulate)) {
    bool ok = false;
    options.simulatedProgrammers = parser.value(simCount).toInt(&ok);
    if (!ok || options.simulatedProgrammers < 1 || options.simulatedProgrammers > 2) {
      std::fprintf(stderr, "--sim-count takes 1 or 2\n");
      return 2;
    }
  }
  QString portList = parser.value(ports);
  if (portList.isEmpty()) portList = qEnvironmentVariable("VELKOR_PORTS");
  for (const QString& port : portList.split(',', Qt::SkipEmptyParts)) options.ports.push_back(port.trimmed().toStdString());
  options.echoLog = parser.isSet(echoLog);

  velkor::ui::QtMainLoop loop;
  velkor::ui::MainWindow window(loop, options);
  window.show();
  if (parser.isSet(exitAfter)) QTimer::singleShot(parser.value(exitAfter).toInt(), &window, &QWidget::close);
  return app.exec();
}
