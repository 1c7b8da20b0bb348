// The window program:
//   velkor350qn [--simulate [--sim-count N]] [--ports A,B] [--echo-log] [--exit-after MS] [--fresh]
//               [--operator JOB [--passphrase-file F | --key-file F]] [FILE]
//   velkor350qn --screenshot FILE.png [--screenshot-chip CAPTION] [--screenshot-page PAGE]
//               [--screenshot-load FILE] [--screenshot-compare FILE] [--screenshot-auto]
//   velkor350qn --list-chips
//   velkor350qn --convert IN OUT --chip CAPTION
//   velkor350qn --version | --help
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

#include "app/convert.hpp"
#include "chips/catalogue_listing.hpp"
#include "chips/catalogue_loading.hpp"
#include "core_text_translator.hpp"
#include "main_window.hpp"
#include "qt_main_loop.hpp"
#include "screenshot.hpp"
#include "text/language.hpp"
#include "text/text_table.hpp"

namespace {

// The size of a bench PC's screen; screenshots are taken at it.
constexpr int kScreenshotWidth = 1280;
constexpr int kScreenshotHeight = 800;

// --convert IN OUT --chip CAPTION: the conversion needs no window and no
// display. Returns the exit status, or -1 when the option is not given.
int RunConversion(int argc, char* argv[]) {
  const char* input = nullptr;
  const char* output = nullptr;
  const char* chip = nullptr;
  bool asked = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--convert") == 0) {
      asked = true;
      if (i + 2 < argc) {
        input = argv[i + 1];
        output = argv[i + 2];
        i += 2;
      }
    } else if (std::strcmp(argv[i], "--chip") == 0 && i + 1 < argc) {
      chip = argv[++i];
    }
  }
  if (!asked) return -1;
  if (!input || !output || !chip) {
    std::cerr << "usage: velkor350qn --convert IN OUT --chip CAPTION\n";
    return velkor::kConvertUnknownChip;
  }
  const int status = velkor::ConvertObjectFile(input, output, chip, std::cout, std::cerr);
  std::cout.flush();
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  // The chip catalogue before anything names a chip: chips.json and the
  // user's chip files. The window shows what the load says in its log; the
  // listing and the conversion print the files refused on standard error.
  const velkor::CatalogueLoad catalogue = velkor::LoadAndUseCatalogue();
  bool windowless = false;
  for (int i = 1; i < argc; ++i)
    windowless = windowless || std::strcmp(argv[i], "--list-chips") == 0 || std::strcmp(argv[i], "--convert") == 0;
  if (windowless)
    for (const std::string& line : catalogue.problems) std::cerr << line << '\n';

  // The listing needs no window and no display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--list-chips") == 0) {
      velkor::WriteCatalogueListing(std::cout);
      std::cout.flush();
      return std::cout ? 0 : 1;
    }
  }
  if (const int status = RunConversion(argc, argv); status >= 0) return status;

  QCommandLineParser parser;
  parser.setApplicationDescription("Host program of the Velkor350QN serial-memory programmer.");
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  const QCommandLineOption simulate("simulate", "Start simulated programmers and use their ports.");
  const QCommandLineOption simCount("sim-count", "How many simulated programmers to start: 1 or 2 (default 2).", "N", "2");
  const QCommandLineOption simOption(
      "sim-option", "Pass this option on to the simulated programmers (repeat it for each word), e.g. --sim-option=--auto-cycles --sim-option=3.",
      "OPTION");
  const QCommandLineOption ports("ports", "Comma-separated programmer ports, e.g. ttyUSB0,ttyUSB1 (or set VELKOR_PORTS).",
                                 "LIST");
  const QCommandLineOption echoLog("echo-log", "Copy the information log to standard output.");
  const QCommandLineOption language(
      "language", "The window's and the log's language: zh (the original texts) or en (or set VELKOR_LANGUAGE).", "NAME");
  const QCommandLineOption fresh(
      "fresh", "Start with the default settings, ignoring the remembered ones (they are written again on exit).");
  const QCommandLineOption exitAfter("exit-after", "Close the window MS milliseconds after its start-up, with message boxes written to standard error instead "
      "of waiting for a click (for scripted checks).", "MS");
  const QCommandLineOption listChips("list-chips", "Print the chip catalogue, one JSON object per line, and exit.");
  const QCommandLineOption screenshot("screenshot",
                                      "Save a picture of the window (1280x800) as FILE after start-up, then exit.", "FILE");
  const QCommandLineOption screenshotChip("screenshot-chip", "Choose this chip from the chip menu before the picture.",
                                          "CAPTION");
  const QCommandLineOption screenshotPage("screenshot-page",
                                          "Show this page in the picture (TabSheetChip, TabChipSet, TabSheetCtrl, ...).",
                                          "PAGE");
  const QCommandLineOption screenshotLoad("screenshot-load", "Load this object file (after the chip) before the picture.",
                                          "FILE");
  const QCommandLineOption screenshotCompare(
      "screenshot-compare", "Compare the image with this object file (after the load) before the picture.", "FILE");
  const QCommandLineOption screenshotAuto(
      "screenshot-auto", "Run auto programming on the programmers found and take the picture when it has ended.");
  const QCommandLineOption screenshotBusy(
      "screenshot-busy", "With --screenshot-auto: take the picture while the programmers work, a third of the way.");
  const QCommandLineOption operatorJob(
      "operator", "Run this locked job in operator mode: nothing of the job can be changed until the key it was "
                  "locked with is given (Project, Leave Operator Mode).", "JOB");
  const QCommandLineOption passphraseFile(velkor::kPassphraseFileOption, velkor::kPassphraseFileHelp, "FILE");
  const QCommandLineOption keyFile(velkor::kKeyFileOption, velkor::kKeyFileHelp, "FILE");
  parser.addOptions({operatorJob, passphraseFile, keyFile});
  parser.addOptions({simulate, simCount, simOption, ports, echoLog, language, fresh, exitAfter, listChips, screenshot, screenshotChip, screenshotPage,
                     screenshotLoad, screenshotCompare, screenshotAuto, screenshotBusy});
  parser.addPositionalArgument("file", "An object file or a project file (.OVP) to open once the window has started.",
                               "[FILE]");

  // Help and the version are text only: they need no display, so the
  // installed program answers them anywhere (its manual page is made from
  // them at build time). Arguments this parser does not know may be Qt's own
  // (-platform, -style), which only the window's application takes; so does
  // --help-all, which lists them.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const bool textOnly = parser.parse(arguments) && (parser.isSet(help) || parser.isSet(version)) &&
                        !parser.optionNames().contains("help-all");
  const std::unique_ptr<QCoreApplication> app(textOnly ? new QCoreApplication(argc, argv)
                                                       : new QApplication(argc, argv));
  QCoreApplication::setApplicationName("velkor350qn");
  QCoreApplication::setApplicationVersion(VELKOR_VERSION);
  if (!textOnly) QApplication::setApplicationDisplayName("Velkor350QN Flash Programmer");
  parser.process(*app);

  // What the window remembers from run to run. Pictures for the
  // documentation show the defaults and leave the user's settings alone.
  velkor::ui::RememberedSettings settings(
      parser.isSet(screenshot) ? QString() : velkor::ui::RememberedSettings::UserFile(), parser.isSet(fresh));

  // The language before the first text is made: the controls' captions and
  // the log's first lines are in it. The one chosen in the Help menu counts
  // when neither the command line nor the environment names one.
  const velkor::LanguageChoice languageChoice =
      velkor::ChooseLanguage(parser.value(language).toStdString(), settings.Language().toStdString());
  if (!languageChoice.error.empty()) {
    std::fprintf(stderr, "%s\n", languageChoice.error.c_str());
    return 2;
  }
  velkor::UseLanguage(languageChoice.language);
  velkor::ui::CoreTextTranslator translator;
  QCoreApplication::installTranslator(&translator);

  velkor::ui::StartOptions options;
  options.settings = &settings;
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1) {
    std::fprintf(stderr, "%s\n", velkor::Tx("only one FILE can be opened at start-up"));
    return 2;
  }
  if (!files.isEmpty()) options.openFile = files.front();
  if (parser.isSet(operatorJob)) {
    options.operatorJob = parser.value(operatorJob);
    if (parser.isSet(passphraseFile) && parser.isSet(keyFile)) {
      std::fprintf(stderr, "%s\n", velkor::Tx("--passphrase-file and --key-file exclude each other"));
      return 2;
    }
    if (parser.isSet(passphraseFile) || parser.isSet(keyFile)) {
      std::string error;
      options.operatorKey = velkor::JobKeyOfOptions(parser.value(passphraseFile).toStdString(),
                                                    parser.value(keyFile).toStdString(), error);
      if (!options.operatorKey) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
      }
    }
  } else if (parser.isSet(passphraseFile) || parser.isSet(keyFile)) {
    std::fprintf(stderr, "%s\n", velkor::Tx("--passphrase-file and --key-file need --operator"));
    return 2;
  }
  if (parser.isSet(simulate)) {
    bool ok = false;
    options.simulatedProgrammers = parser.value(simCount).toInt(&ok);
    if (!ok || options.simulatedProgrammers < 1 || options.simulatedProgrammers > 2) {
      std::fprintf(stderr, "%s\n", velkor::Tx("--sim-count takes 1 or 2"));
      return 2;
    }
    for (const QString& word : parser.values(simOption)) options.simulatorOptions.push_back(word.toStdString());
  } else if (parser.isSet(simOption)) {
    std::fprintf(stderr, "%s\n", velkor::Tx("--sim-option needs --simulate"));
    return 2;
  }
  QString portList = parser.value(ports);
  if (portList.isEmpty()) portList = qEnvironmentVariable("VELKOR_PORTS");
  for (const QString& port : portList.split(',', Qt::SkipEmptyParts)) options.ports.push_back(port.trimmed().toStdString());
  options.echoLog = parser.isSet(echoLog);
  const bool screenshotDetail = parser.isSet(screenshotChip) || parser.isSet(screenshotPage) ||
                                parser.isSet(screenshotLoad) || parser.isSet(screenshotCompare) ||
                                parser.isSet(screenshotAuto) ||
                                parser.isSet(screenshotBusy);
  if (screenshotDetail && !parser.isSet(screenshot)) {
    std::fprintf(stderr, "%s\n", velkor::Tx("the --screenshot-... options need --screenshot FILE"));
    return 2;
  }

  velkor::ui::QtMainLoop loop;
  velkor::ui::MainWindow window(loop, options);
  QObject::connect(&window, &velkor::ui::MainWindow::StartupDone, &window, [&window] {
    for (const std::string& line : velkor::CatalogueNotes()) window.Core().AppendInfo(line);
    window.FlushLog();
  });
  int result = 0;
  if (parser.isSet(screenshot)) {
    window.resize(kScreenshotWidth, kScreenshotHeight);
    velkor::ui::ScreenshotRequest request;
    request.file = parser.value(screenshot);
    request.chip = parser.value(screenshotChip);
    request.page = parser.value(screenshotPage);
    request.load = parser.value(screenshotLoad);
    request.compare = parser.value(screenshotCompare);
    request.autoProgram = parser.isSet(screenshotAuto) || parser.isSet(screenshotBusy);
    request.busy = parser.isSet(screenshotBusy);
    request.programmers = std::min<int>(2, options.simulatedProgrammers > 0 ? options.simulatedProgrammers
                                                                             : static_cast<int>(options.ports.size()));
    velkor::ui::ArrangeScreenshot(window, request, result);
  }
  window.show();
  // Counted from the end of start-up, so that a loaded machine still opens the named file and
  // attaches its programmers before the window closes.
  if (parser.isSet(exitAfter)) {
    // Nobody is there to press OK: a box would hold the window open.
    window.SetMessagePresenter(
        [](velkor::MessageKind, const QString& text) { std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); });
    const int closeAfter = parser.value(exitAfter).toInt();
    QObject::connect(&window, &velkor::ui::MainWindow::StartupDone, &window,
                     [&window, closeAfter] { QTimer::singleShot(closeAfter, &window, &QWidget::close); });
  }
  const int loopResult = QApplication::exec();
  if (loopResult != 0) return loopResult;
  return window.ExitStatus() != 0 ? window.ExitStatus() : result;
}
