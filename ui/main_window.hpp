// The main window: a thin view over the core's TQNProgrammer. Every control
// of the window is built from the core's control state, named after it and
// shown from it; the operator's input goes back into that state and runs the
// core's handlers. The window answers what the core asks of a screen
// (messages, file dialogs, the dialogs, the log panel).
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/qn_programmer.hpp"
#include "store/line_station.hpp"
#include "app/view.hpp"
#include "control_binder.hpp"
#include "hex_grid.hpp"
#include "platform/hotplug_monitor.hpp"
#include "platform/simulator_process.hpp"
#include "qt_main_loop.hpp"
#include "remembered_settings.hpp"
#include "text/language.hpp"

class QDialog;
class QGroupBox;
class QMenu;
class QMimeData;
class QPlainTextEdit;
class QTabWidget;
class QTableView;

namespace velkor::ui {

class DifferenceList;
class HexGridEditing;
class TAboutForm;
class TChipSeltForm;
class TConfigSNForm;
class TDataViewForm;
class TLogCfgForm;

struct StartOptions {
  int simulatedProgrammers = 0;    // start this many simulated programmers
  std::vector<std::string> simulatorOptions;  // passed on to the simulator
  std::vector<std::string> ports;  // explicit ports (names below /dev or paths)
  bool echoLog = false;            // copy every log line to standard output
  // What is remembered from run to run (not owned): the window takes the
  // chip, the job's settings, the log file's mode, its size and place, the
  // dialogs' folders and the recent files from it and gives them back when
  // it closes. Nothing beyond this run when null.
  RememberedSettings* settings = nullptr;
  // An object or project file opened once the start-up has run; empty: none.
  QString openFile;
  // A locked job run in operator mode once the start-up has run, with the
  // key its lock needs (asked for when none is given); empty: none.
  QString operatorJob;
  std::optional<JobKey> operatorKey;
};

class MainWindow final : public QMainWindow, public ProgrammerView {
  Q_OBJECT

 public:
  MainWindow(QtMainLoop& loop, StartOptions options);
  ~MainWindow() override;

  TQNProgrammer& Core() { return *core_; }
  TChipSeltForm& ChipForm() { return *chipForm_; }
  // True once the start-up (FormShow) has run.
  bool Started() const { return startupDone_; }
  // The program's exit status besides the event loop's: the locked job's
  // refusal (kLockedJobRefusedStatus) when the job of --operator was
  // refused (the window then closes).
  int ExitStatus() const { return exitStatus_; }

  // Chooses a chip the way the operator does: the chip button, then the
  // menu entry with this caption. False when the menu offers no such entry.
  bool ChooseChipFromMenu(const QString& caption);

  // Shows the pending log lines now rather than on the next turn of the
  // event loop.
  void FlushLog();

  // Opens an object or project file as File › Load or Project › Load would
  // (a dropped file, a recent file, the file named at start-up).
  void OpenFile(const QString& path);
  // Runs a command of the core as the window runs every handler: its error
  // shown in a box, then the controls shown again.
  void Run(const std::function<void()>& handler);
  // The File › Recent Files submenu.
  QMenu* RecentFilesMenu() { return recentMenu_; }

  // How modal interactions are carried out. The window shows real message
  // boxes and dialogs; scripted runs and tests replace them.
  using MessagePresenter = std::function<void(MessageKind, const QString&)>;
  using DialogRunner = std::function<void(DialogId, QDialog&)>;
  using FileAsker = std::function<std::optional<QString>(bool save, const QStringList& filters,
                                                         const QString& selectedFilter, const QString& suffix)>;
  void SetMessagePresenter(MessagePresenter presenter) { presentMessage_ = std::move(presenter); }
  void SetDialogRunner(DialogRunner runner) { runDialog_ = std::move(runner); }
  void SetFileAsker(FileAsker asker) { askFile_ = std::move(asker); }

  // --- ProgrammerView ---
  void ControlsChanged() override;
  void LogLineAppended(const std::string& line) override;
  void LogCleared() override;
  void ShowMessage(MessageKind kind, const std::string& text) override;
  bool AskQuestion(const std::string& text) override;
  std::optional<std::string> AskOpenFile(const FileDialogOptions& request) override;
  std::optional<std::string> AskSaveFile(const FileDialogOptions& request) override;
  void CopyToClipboard(const std::string& text) override;
  void ShowModal(DialogId dialog) override;
  void CloseDialog(DialogId dialog) override;
  void FocusControl(const std::string& name) override;
  void CloseMainWindow() override;
  void Signal(bool passed) override;
  void SetBusy(bool busy) override;
  void HexViewChanged() override;
  void HexBytesChanged(uint32_t first, uint32_t last) override;
  void ShowImageAddress(uint32_t address) override;
  void ImageMarksChanged() override;
  std::string ClipboardText() override;
  std::optional<std::string> AskSecret(const std::string& title, const std::string& label) override;
  std::optional<std::string> AskText(const std::string& title, const std::string& label,
                                     const std::string& initial) override;
  std::optional<FindRequest> AskFind(const FindRequest& last) override;

 signals:
  // The start-up (FormShow) has run.
  void StartupDone();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  // Object and project files dropped on the window are loaded.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Keys that no focused control took (Space and Enter start auto
  // programming) reach the core's key handler, except held keys and keys
  // pressed in an edit, spin or combo box, the log, a list or a grid.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Whether the focus is in an edit, spin or combo box, the log or a list
  // or grid: keys there never start automatic programming.
  bool FocusInTextOrList() const;
  // --- Remembered settings ---
  // At start-up, after the programmer search: the chip, then the job's
  // settings (choosing the chip resets some), then the log file's mode.
  void RestoreRemembered();
  // When the window closes.
  void StoreRemembered();
  // The chip once it has been chosen, a folder once a dialog was answered:
  // written at once, so that a crash loses little.
  void RememberChip();
  void SaveSettings();
  void RememberRecentFile(const std::string& path);
  void ShowRecentFiles();
  void OpenRecentFile(const QString& path);
  void SyncControls();
  void Startup();
  void BindHandlers();
  void BuildMenus();
  // Help › Language: the choice is remembered and takes effect at the next
  // start, so that a run and its log keep one language.
  void BuildLanguageMenu(QMenu* help);
  void RememberLanguage(Language language);
  QWidget* BuildToolBar();
  QWidget* BuildChipGroup();
  QWidget* BuildOperatorBanner(QWidget* parent);
  QWidget* BuildProgrammerGroup();
  QTabWidget* BuildPages();
  void BuildChipSetPage(QWidget* page);
  void BuildControlPage(QWidget* page);
  void BuildStatusBar();
  QDialog* Dialog(DialogId dialog);
  std::optional<std::string> AskFile(bool save, const FileDialogOptions& request);

  QtMainLoop& loop_;
  StartOptions options_;
  std::unique_ptr<SimulatorProcess> simulator_;
  std::unique_ptr<store::StationLine> line_;  // before core_, which uses it
  std::unique_ptr<TQNProgrammer> core_;
  // Adapters plugged in or out (after core_: it goes first).
  std::unique_ptr<HotplugMonitor> hotplug_;
  ControlBinder* binder_ = nullptr;

  QPlainTextEdit* infoMemo_ = nullptr;
  QTableView* hexViewer_ = nullptr;
  QTabWidget* pages_ = nullptr;
  QTableView* rdDatView_ = nullptr;
  HexGridModel* hexModel_ = nullptr;
  HexGridEditing* hexEditing_ = nullptr;
  DifferenceList* differences_ = nullptr;
  std::vector<QGroupBox*> sections_;  // page sections that hide when empty
  TAboutForm* aboutForm_ = nullptr;
  TChipSeltForm* chipForm_ = nullptr;
  TConfigSNForm* configSnForm_ = nullptr;
  TLogCfgForm* logCfgForm_ = nullptr;
  TDataViewForm* dataViewForm_ = nullptr;

  QStringList pendingLog_;
  bool logFlushQueued_ = false;
  bool showStarted_ = false;
  bool startupDone_ = false;
  int exitStatus_ = 0;
  bool closing_ = false;

  std::unique_ptr<RememberedSettings> ownSettings_;  // when the options name none
  RememberedSettings* settings_ = nullptr;
  QMenu* recentMenu_ = nullptr;

  MessagePresenter presentMessage_;
  DialogRunner runDialog_;
  FileAsker askFile_;
};

}  // namespace velkor::ui
