#include "main_window.hpp"

#include <QCloseEvent>
#include <QDate>
#include <QLocale>
#include <QStatusBar>
#include <QTime>
#include <QVBoxLayout>
#include <cstdio>

namespace velkor::ui {

namespace {
const char* const kCaption = "Velkor350QN Flash Programmer";
}  // namespace

MainWindow::MainWindow(QtMainLoop& loop, StartOptions options)
    : loop_(loop), options_(std::move(options)), infoMemo_(new QPlainTextEdit), infoPanel_(new QLabel) {
  setWindowTitle(kCaption);
  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  infoPanel_->setText("Searching Devices............");
  infoMemo_->setObjectName("InfoMemo");
  infoMemo_->setReadOnly(true);
  infoMemo_->setMaximumBlockCount(0);
  layout->addWidget(infoPanel_);
  layout->addWidget(infoMemo_);
  setCentralWidget(central);
  statusBar()->showMessage("No programmer");
  resize(900, 560);

  channels_ = std::make_unique<ProgrammerChannels>(
      loop_, [this](int channel, const std::string& text) {
        AppendLog(channel, QString::fromStdString(text));
        ShowProgrammers();
      });
}

MainWindow::~MainWindow() {
  // Ports first, so that the simulator going away raises no hang-up.
  channels_.reset();
  simulator_.reset();
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (started_) return;
  started_ = true;
  // After the first paint, so that the window is up while the ports open.
  loop_.post([this] { Startup(); });
}

void MainWindow::Startup() {
  AppendLog(0, "Hello Velkor350QN-ED User! ----- " + QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat));
  std::vector<std::string> ports = options_.ports;
  if (options_.simulatedProgrammers > 0) {
    std::string error;
    simulator_ = SimulatorProcess::Start(FindSimulatorProgram(), {"--count", std::to_string(options_.simulatedProgrammers)},
                                         options_.simulatedProgrammers, std::chrono::seconds(10), error);
    if (!simulator_) {
      AppendLog(0, QString::fromStdString("Simulated programmers could not be started: " + error));
      return;
    }
    ports = simulator_->Ports();
  }
  if (ports.empty()) {
    infoPanel_->setText("No Device Avalible");
    AppendLog(0, "No port to search: give the programmers' ports with --ports, or start simulated ones with --simulate.");
    return;
  }
  channels_->Probe(ports);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  channels_->CloseAll();
  QMainWindow::closeEvent(event);
}

void MainWindow::AppendLog(int channel, const QString& text) {
  QString line = "> " + QTime::currentTime().toString("HH:mm:ss");
  line += channel == 0 ? QString(" ") : QString(" C%1: ").arg(channel);
  line += text;
  infoMemo_->appendPlainText(line);
  if (options_.echoLog) {
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
}

void MainWindow::ShowProgrammers() {
  const std::string first = channels_->DeviceName(1);
  if (!first.empty()) infoPanel_->setText(QString::fromStdString(first));
  const int found = channels_->DevicesFound();
  statusBar()->showMessage(found == 0 ? QString("No programmer") : QString("Programmers found: %1").arg(found));
}

}  // namespace velkor::ui
