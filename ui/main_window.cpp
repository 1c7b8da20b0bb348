#include "main_window.hpp"

#include <QAbstractItemView>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>

#include "about_form.hpp"
#include "text/language.hpp"
#include "text/text_table.hpp"
#include "chips/chip_lookup.hpp"
#include "chip_selection_form.hpp"
#include "config_sn_form.hpp"
#include "data_view_form.hpp"
#include "difference_list.hpp"
#include "file_filter.hpp"
#include "find_dialog.hpp"
#include "hex_grid.hpp"
#include "hex_grid_editing.hpp"
#include "log_config_form.hpp"

namespace velkor::ui {

namespace {

const char* const kCaption = "Velkor350QN Flash Programmer";
// Between the beeps of a failure's sound.
constexpr int kFailBeepGapMs = 250;
const char* const kRecentFilesCaption = TextKey("Recent Files");
const char* const kUnknownRememberedChip = TextKey(
    "The remembered chip \"%1\" is not in the chip menu: no chip was chosen, and the job settings remembered with "
    "it were left out.");
const char* const kRememberedValueLeftOut =
    TextKey("The remembered setting %1 = \"%2\" no longer fits its control and was left out.");
const char* const kSettingsNotWritten =
    TextKey("The settings could not be written to \"%1\": the file or its folder cannot be written.");
const char* const kRecentFileGone =
    TextKey("The file \"%1\" is no longer there; it was taken off the recent files.");
const char* const kSeveralFilesDropped =
    TextKey("%1 files were dropped on the window; only the first, \"%2\", is loaded.");
// Where the remembered values of each group of controls are kept.
const char* const kJobGroup = "job";
const char* const kLogGroup = "log";

using Handler = void (TQNProgrammer::*)();

// What each button, menu item and option control of the main window runs
// after the operator used it.
constexpr std::pair<const char*, Handler> kHandlers[] = {
    {"SpdBtnDownLoad", &TQNProgrammer::SpdBtnDownLoadClick},
    {"DownloadToProgrammer1", &TQNProgrammer::SpdBtnDownLoadClick},
    {"SpeedButtonRD", &TQNProgrammer::SpeedButtonRDClick},
    {"ReadTargetChipMemory1", &TQNProgrammer::SpeedButtonRDClick},
    {"SpdBtnBlkChk", &TQNProgrammer::BlankCheck1Click},
    {"BlankCheck1", &TQNProgrammer::BlankCheck1Click},
    {"SpdBtnErase", &TQNProgrammer::SpdBtnEraseClick},
    {"EraseChip1", &TQNProgrammer::SpdBtnEraseClick},
    {"SpdBtnProg", &TQNProgrammer::SpdBtnProgClick},
    {"Programming1", &TQNProgrammer::SpdBtnProgClick},
    {"SpdBtnVerify", &TQNProgrammer::SpdBtnVerifyClick},
    {"Verification1", &TQNProgrammer::SpdBtnVerifyClick},
    {"SpdBtnAutoP", &TQNProgrammer::SpdBtnAutoPClick},
    {"AutoProgramming1", &TQNProgrammer::SpdBtnAutoPClick},
    {"ReadChipIDandStatus1", &TQNProgrammer::ReadChipIDandStatus1Click},
    {"ReadbackVerify1", &TQNProgrammer::ReadbackVerifyClick},
    {"SpdBtnStop", &TQNProgrammer::SpdBtnStopClick},
    {"Stop1", &TQNProgrammer::SpdBtnStopClick},
    {"GoToDifference1", &TQNProgrammer::GoToDifferenceClick},
    {"Undo1", &TQNProgrammer::Undo1Click},
    {"Redo1", &TQNProgrammer::Redo1Click},
    {"CopyBytes1", &TQNProgrammer::CopyBytes1Click},
    {"PasteBytes1", &TQNProgrammer::PasteBytes1Click},
    {"SelectAllBytes1", &TQNProgrammer::SelectAllBytes1Click},
    {"FillSelection1", &TQNProgrammer::FillSelection1Click},
    {"GoToAddress1", &TQNProgrammer::GoToAddress1Click},
    {"Find1", &TQNProgrammer::Find1Click},
    {"FindNext1", &TQNProgrammer::FindNext1Click},
    {"FindPrevious1", &TQNProgrammer::FindPrevious1Click},
    {"CompareWithFile1", &TQNProgrammer::CompareWithFile1Click},
    {"CompareWithChipRead1", &TQNProgrammer::CompareWithChipRead1Click},
    {"NextDifference1", &TQNProgrammer::NextDifference1Click},
    {"PreviousDifference1", &TQNProgrammer::PreviousDifference1Click},
    {"CloseComparison1", &TQNProgrammer::CloseComparison1Click},
    {"DoFirmwareUpgrade1", &TQNProgrammer::DoFirmwareUpgrade1Click},
    {"SpdBtnOpen", &TQNProgrammer::FileOpenBtnClick},
    {"LoadDataFile1", &TQNProgrammer::FileOpenBtnClick},
    {"SpdBtnSave", &TQNProgrammer::FileSaveBtnClick},
    {"SaveBufferToFile1", &TQNProgrammer::FileSaveBtnClick},
    {"SpdBtnExit", &TQNProgrammer::SpdBtnExitClick},
    {"Exit1", &TQNProgrammer::SpdBtnExitClick},
    {"N5", &TQNProgrammer::N5Click},
    {"SaveInfotoFile1", &TQNProgrammer::SaveInfotoFile1Click},
    {"ViewDataBuffer1", &TQNProgrammer::ViewDataBuffer1Click},
    {"LoadFromOrvaneProject", &TQNProgrammer::LoadFromOrvaneProjectClick},
    {"SaveToOrvAneProject", &TQNProgrammer::SaveToOrvAneProjectClick},
    {"SaveLockedJob1", &TQNProgrammer::SaveLockedJob1Click},
    {"OpenLockedJob1", &TQNProgrammer::OpenLockedJob1Click},
    {"OperatorMode1", &TQNProgrammer::OperatorMode1Click},
    {"LeaveOperatorMode1", &TQNProgrammer::LeaveOperatorMode1Click},
    {"About1", &TQNProgrammer::About1Click},
    {"ClearInformation1", &TQNProgrammer::ClearInformation1Click},
    {"CopyInformation1", &TQNProgrammer::CopyInformation1Click},
    {"SaveInformationtoFile1", &TQNProgrammer::SaveInfotoFile1Click},
    {"DevButton", &TQNProgrammer::DevButtonClick},
    {"BitBtnFindCOM", &TQNProgrammer::BitBtnFindCOMClick},
    {"BitBtnFresh", &TQNProgrammer::BitBtnFreshClick},
    {"BitBtnFixSN", &TQNProgrammer::BitBtnFixSNClick},
    {"ChkBoxSRWD", &TQNProgrammer::ChkBoxSRWDClick},
    {"CheckBoxAut", &TQNProgrammer::CheckBoxAutClick},
    {"CheckBoxSN", &TQNProgrammer::CheckBoxSNClick},
    {"RadioGpVolt", &TQNProgrammer::RadioGpVoltClick},
    {"ComBoxWP8", &TQNProgrammer::ComBoxWP8Change},
    {"ComBoxWPF", &TQNProgrammer::ComBoxWPFChange},
    {"SpinEditNumb", &TQNProgrammer::SpinEditNumbChange},
};

// The local files among dropped data, in the order they came.
QStringList LocalFiles(const QMimeData* data) {
  QStringList files;
  if (data == nullptr || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  return files;
}

QMessageBox::Icon MessageIcon(MessageKind kind) {
  switch (kind) {
    case MessageKind::Warning:
      return QMessageBox::Warning;
    case MessageKind::Error:
      return QMessageBox::Critical;
    case MessageKind::Information:
      break;
  }
  return QMessageBox::Information;
}

// A titled box for a few controls of a page; it hides itself when all of
// them are hidden (see MainWindow::SyncControls).
QGroupBox* Section(const QString& title, const char* name, QWidget* parent) {
  auto* box = new QGroupBox(title, parent);
  box->setObjectName(name);
  box->setProperty("velkorSection", true);
  return box;
}

}  // namespace

MainWindow::MainWindow(QtMainLoop& loop, StartOptions options)
    : loop_(loop), options_(std::move(options)) {
  setWindowTitle(kCaption);
  setObjectName("TQNProgrammer");
  if (options_.settings == nullptr) ownSettings_ = std::make_unique<RememberedSettings>(QString(), true);
  settings_ = options_.settings != nullptr ? options_.settings : ownSettings_.get();
  core_ = std::make_unique<TQNProgrammer>(loop_, *this);
  core_->DataFileLoaded = [this](const std::string& path) { RememberRecentFile(path); };
  line_ = std::make_unique<store::StationLine>([this](const std::string& text) { core_->LineNotice(text); });
  core_->Line = line_.get();
  binder_ = new ControlBinder(core_->Controls.All(), [this](const std::function<void()>& handler) { Run(handler); },
                              this);
  BindHandlers();

  presentMessage_ = [this](MessageKind kind, const QString& text) {
    QApplication::beep();
    QMessageBox box(MessageIcon(kind), kCaption, text, QMessageBox::Ok, this);
    box.exec();
  };
  runDialog_ = [](DialogId, QDialog& dialog) { dialog.exec(); };

  BuildMenus();
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(6, 4, 6, 4);
  layout->setSpacing(6);
  layout->addWidget(BuildToolBar());
  layout->addWidget(BuildOperatorBanner(central));
  auto* body = new QHBoxLayout;
  body->setSpacing(8);
  auto* left = new QVBoxLayout;
  left->setSpacing(6);
  left->addWidget(BuildChipGroup());
  left->addWidget(BuildProgrammerGroup());
  left->addStretch(1);
  auto* leftColumn = new QWidget(central);
  leftColumn->setLayout(left);
  left->setContentsMargins(0, 0, 0, 0);
  // Wide enough for each programmer's gauge beside its result panel.
  leftColumn->setFixedWidth(440);
  body->addWidget(leftColumn);
  body->addWidget(BuildPages(), 1);
  layout->addLayout(body, 1);
  setCentralWidget(central);
  BuildStatusBar();
  for (QGroupBox* box : findChildren<QGroupBox*>())
    if (box->property("velkorSection").toBool()) sections_.push_back(box);

  // The dialogs, in the order the program has always created them.
  const CommandRunner run = [this](const std::function<void()>& handler) { Run(handler); };
  aboutForm_ = new TAboutForm(this);
  chipForm_ = new TChipSeltForm(*core_, run, this);
  configSnForm_ = new TConfigSNForm(*core_, run, this);
  logCfgForm_ = new TLogCfgForm(*core_, run, this);
  dataViewForm_ = new TDataViewForm(*core_, run, this);

  SyncControls();
  resize(1180, 720);
  // Nothing or a damaged value restores nothing: the size above stands.
  restoreGeometry(settings_->Geometry());
  ShowRecentFiles();
  setAcceptDrops(true);
  // The log panel takes no text drops: files dropped on it reach the window.
  infoMemo_->setAcceptDrops(false);
}

MainWindow::~MainWindow() {
  // The widgets write into the core's state; part them from it before the
  // core goes. Then the ports, so that the simulator going away raises no
  // hang-up.
  delete binder_;
  binder_ = nullptr;
  delete chipForm_;
  delete logCfgForm_;
  delete configSnForm_;
  chipForm_ = nullptr;
  logCfgForm_ = nullptr;
  configSnForm_ = nullptr;
  core_.reset();
  simulator_.reset();
}

void MainWindow::BindHandlers() {
  for (const auto& [name, handler] : kHandlers) {
    binder_->OnInput(name, [this, handler = handler] { (core_.get()->*handler)(); });
  }
}

void MainWindow::Run(const std::function<void()>& handler) {
  if (!core_) return;
  core_->RunCommand(handler);
  SyncControls();
  RememberChip();
}

void MainWindow::SyncControls() {
  if (binder_ == nullptr) return;
  binder_->Sync();
  if (logCfgForm_ != nullptr) logCfgForm_->Binder().Sync();
  if (configSnForm_ != nullptr) configSnForm_->Binder().Sync();
  // A section of a page with nothing left to show is not shown either.
  for (QGroupBox* section : sections_) {
    bool any = false;
    for (QWidget* child : section->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
      any = any || !child->isHidden();
    if (section->isHidden() == any) section->setVisible(any);
  }
}

// --- Building the window ---

void MainWindow::BuildMenus() {
  ControlBinder& b = *binder_;
  menuBar()->setObjectName("MainMenu1");
  QMenu* command = menuBar()->addMenu(tr("&Command"));
  command->setObjectName("Command1");
  for (const char* name : {"DownloadToProgrammer1", "ReadTargetChipMemory1", "BlankCheck1", "EraseChip1",
                           "Programming1", "Verification1", "ReadbackVerify1", "AutoProgramming1",
                           "ReadChipIDandStatus1"})
    command->addAction(b.Action(name, this));
  command->addAction(b.Action("Stop1", this));
  command->addSeparator();
  command->addAction(b.Action("DoFirmwareUpgrade1", this));

  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->setObjectName("File1");
  file->addAction(b.Action("LoadDataFile1", this));
  file->addAction(b.Action("SaveBufferToFile1", this));
  recentMenu_ = file->addMenu(tr(kRecentFilesCaption));
  recentMenu_->setObjectName("RecentFiles1");
  file->addSeparator();
  file->addAction(b.Action("N5", this));
  file->addAction(b.Action("SaveInfotoFile1", this));
  file->addAction(b.Action("ViewDataBuffer1", this));
  file->addAction(b.Action("GoToDifference1", this));
  file->addSeparator();
  file->addAction(b.Action("Exit1", this));

  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  edit->setObjectName("Edit1");
  for (const std::vector<const char*>& group :
       {std::vector<const char*>{"Undo1", "Redo1"},
        {"CopyBytes1", "PasteBytes1", "SelectAllBytes1", "FillSelection1"},
        {"GoToAddress1", "Find1", "FindNext1", "FindPrevious1"},
        {"CompareWithFile1", "CompareWithChipRead1", "NextDifference1", "PreviousDifference1", "CloseComparison1"}}) {
    if (!edit->isEmpty()) edit->addSeparator();
    for (const char* name : group) edit->addAction(b.Action(name, this));
  }

  QMenu* project = menuBar()->addMenu(tr("Project"));
  project->setObjectName("Project1");
  project->addAction(b.Action("LoadFromOrvaneProject", this));
  project->addAction(b.Action("SaveToOrvAneProject", this));
  project->addSeparator();
  for (const char* name : {"SaveLockedJob1", "OpenLockedJob1", "OperatorMode1", "LeaveOperatorMode1"})
    project->addAction(b.Action(name, this));

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  help->setObjectName("Help1");
  help->addAction(b.Action("About1", this));
  BuildLanguageMenu(help);
}

void MainWindow::BuildLanguageMenu(QMenu* help) {
  QMenu* languages = help->addMenu(tr("Language"));
  languages->setObjectName("Language1");
  auto* group = new QActionGroup(languages);
  const auto add = [&](Language language, const QString& caption) {
    QAction* action = languages->addAction(caption);
    action->setObjectName(QString("Language_") + QString::fromUtf8(LanguageName(language).data()));
    action->setCheckable(true);
    action->setChecked(language == CurrentLanguage());
    group->addAction(action);
    connect(action, &QAction::triggered, this, [this, language] { RememberLanguage(language); });
  };
  add(Language::Original, tr("中文 (原文)"));
  add(Language::English, tr("English"));
}

void MainWindow::RememberLanguage(Language language) {
  settings_->SetLanguage(QString::fromUtf8(LanguageName(language).data()));
  settings_->Save();
  if (language != CurrentLanguage())
    presentMessage_(MessageKind::Information, tr("The language changes when the program starts again."));
}

QWidget* MainWindow::BuildToolBar() {
  ControlBinder& b = *binder_;
  auto* panel = new QFrame(this);
  panel->setObjectName("Panel1");
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setFocusPolicy(Qt::ClickFocus);
  auto* layout = new QHBoxLayout(panel);
  layout->setContentsMargins(4, 2, 4, 2);
  layout->setSpacing(2);
  const std::pair<const char*, QStyle::StandardPixmap> buttons[] = {
      {"SpdBtnDownLoad", QStyle::SP_ArrowDown},        {"SpeedButtonRD", QStyle::SP_ArrowUp},
      {"SpdBtnBlkChk", QStyle::SP_FileDialogInfoView}, {"SpdBtnErase", QStyle::SP_TrashIcon},
      {"SpdBtnProg", QStyle::SP_ArrowRight},           {"SpdBtnVerify", QStyle::SP_DialogApplyButton},
      {"SpdBtnAutoP", QStyle::SP_MediaSeekForward},    {"SpdBtnStop", QStyle::SP_MediaStop},
      {"SpdBtnOpen", QStyle::SP_DialogOpenButton},
      {"SpdBtnSave", QStyle::SP_DialogSaveButton},     {"SpdBtnExit", QStyle::SP_DialogCloseButton},
  };
  for (const auto& [name, icon] : buttons) {
    QToolButton* button = b.ToolButton(name, icon, panel);
    button->setIconSize(QSize(28, 28));
    button->setMinimumWidth(72);
    // A button the chip's family hides leaves its place empty: the others
    // stay where the operator's hand remembers them.
    QSizePolicy keepPlace = button->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    button->setSizePolicy(keepPlace);
    layout->addWidget(button);
    // The file buttons stand apart from the chip operations.
    if (std::string_view(name) == "SpdBtnStop") layout->addSpacing(24);
  }
  layout->addStretch(1);
  return panel;
}

QWidget* MainWindow::BuildOperatorBanner(QWidget* parent) {
  // Read from a step away: the operator checks the job against the work
  // instruction before the first chip.
  QLabel* banner = binder_->Label("LabelOperatorJob", parent);
  banner->setWordWrap(true);
  banner->setTextInteractionFlags(Qt::TextSelectableByMouse);
  banner->setMargin(6);
  banner->setStyleSheet("QLabel { background: #1f4e79; color: white; font-weight: bold; }");
  QFont font = banner->font();
  font.setPointSizeF(font.pointSizeF() * 1.15);
  banner->setFont(font);
  return banner;
}

QWidget* MainWindow::BuildChipGroup() {
  ControlBinder& b = *binder_;
  QGroupBox* group = b.GroupBox("GroupBox2", this);
  auto* grid = new QGridLayout(group);
  grid->setColumnStretch(1, 1);

  grid->addWidget(b.Edit("MCUNameEdit", group), 0, 1);
  grid->addWidget(b.CompanionLabel("MCUNameEdit", group), 0, 0);
  QPushButton* chooser = b.PushButton("DevButton", group);
  chooser->setFixedWidth(36);
  grid->addWidget(chooser, 0, 2);

  auto* sizeCaption = new QLabel(tr("芯片容量："), group);
  sizeCaption->setObjectName("lbFlashSizeCaption");
  grid->addWidget(sizeCaption, 1, 0);
  grid->addWidget(b.Label("lbFlashSize", group), 1, 1, 1, 2);

  grid->addWidget(b.Edit("ProductEditX", group), 2, 1, 1, 2);
  grid->addWidget(b.CompanionLabel("ProductEditX", group), 2, 0);

  grid->addWidget(b.RadioGroup("RadioGpVolt", group), 3, 0, 1, 3);
  grid->addWidget(b.RadioGroup("RadioGroupSpd", group), 4, 0, 1, 3);

  QGroupBox* control = b.GroupBox("GroupBoxCtrl", group);
  auto* checks = new QGridLayout(control);
  checks->addWidget(b.CheckBox("EnEraseChk", control), 0, 0);
  checks->addWidget(b.CheckBox("EnProgChk", control), 0, 1);
  checks->addWidget(b.CheckBox("EnVerifyChk", control), 1, 0);
  checks->addWidget(b.CheckBox("EnBlankChk", control), 1, 1);
  grid->addWidget(control, 5, 0, 1, 3);

  auto* options = new QHBoxLayout;
  options->addWidget(b.CheckBox("ChkBoxNotBLK", group));
  options->addWidget(b.CheckBox("ChkBoxCPES", group));
  options->addStretch(1);
  grid->addLayout(options, 6, 0, 1, 3);
  return group;
}

QWidget* MainWindow::BuildProgrammerGroup() {
  ControlBinder& b = *binder_;
  auto* group = new QGroupBox(tr("编程器"), this);
  group->setObjectName("GroupBoxDevice");
  auto* grid = new QGridLayout(group);
  grid->setColumnStretch(1, 1);
  // Close rows: the two programmers' results fit under the chip group.
  grid->setVerticalSpacing(4);

  QLabel* info = b.Label("InfoPanel", group);
  info->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  info->setMinimumHeight(28);
  info->setWordWrap(true);
  info->setTextInteractionFlags(Qt::TextSelectableByMouse);
  grid->addWidget(info, 0, 0, 1, 3);

  auto* ports = new QHBoxLayout;
  QComboBox* portList = b.Combo("ComboBoxCOM", group);
  portList->setMinimumWidth(110);
  ports->addWidget(portList, 1);
  ports->addWidget(b.PushButton("BitBtnFindCOM", group));
  ports->addWidget(b.PushButton("BitBtnFresh", group));
  grid->addLayout(ports, 1, 0, 1, 3);

  // Each programmer: its gauge and its good and failed chips, beside them
  // how its last operation ended, and under them its progress line.
  struct ProgrammerRow {
    QString caption;
    const char* gauge;
    const char* progress;
    const char* result;
    const char* counts;
  };
  const ProgrammerRow rows[] = {
      {tr("编程器1"), "GaugeBar1", "LabelProgress1", "PanelResult1", "LabelCounts1"},
      {tr("编程器2"), "GaugeBar2", "LabelProgress2", "PanelResult2", "LabelCounts2"},
  };
  int row = 2;
  for (const ProgrammerRow& r : rows) {
    grid->addWidget(new QLabel(r.caption, group), row, 0);
    grid->addWidget(b.Gauge(r.gauge, group), row, 1);
    QLabel* counts = b.Label(r.counts, group);
    QFont bold = counts->font();
    bold.setBold(true);
    counts->setFont(bold);
    counts->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(counts, row + 1, 0, 1, 2);
    grid->addWidget(b.ResultPanel(r.result, group), row, 2, 2, 1);
    QLabel* progress = b.Label(r.progress, group);
    progress->setWordWrap(true);
    grid->addWidget(progress, row + 2, 0, 1, 3);
    row += 3;
  }
  return group;
}

QTabWidget* MainWindow::BuildPages() {
  ControlBinder& b = *binder_;
  auto* tabs = new QTabWidget(this);
  tabs->setObjectName("PageControl1");
  pages_ = tabs;

  QWidget* chip = b.Page("TabSheetChip", tabs);
  infoMemo_ = new QPlainTextEdit(chip);
  infoMemo_->setObjectName("InfoMemo");
  infoMemo_->setReadOnly(true);
  infoMemo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  infoMemo_->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* infoMenu = new QMenu(infoMemo_);
  infoMenu->setObjectName("PopupMenuInfo");
  for (const char* name : {"ClearInformation1", "CopyInformation1", "SaveInformationtoFile1"})
    infoMenu->addAction(b.Action(name, this));
  connect(infoMemo_, &QPlainTextEdit::customContextMenuRequested, infoMenu,
          [this, infoMenu](const QPoint& at) { infoMenu->popup(infoMemo_->viewport()->mapToGlobal(at)); });
  auto* chipLayout = new QVBoxLayout(chip);
  chipLayout->setContentsMargins(4, 4, 4, 4);
  chipLayout->addWidget(infoMemo_);

  BuildChipSetPage(b.Page("TabChipSet", tabs));
  BuildControlPage(b.Page("TabSheetCtrl", tabs));

  QWidget* flash = b.Page("TabSheetFlash", tabs);
  hexViewer_ = new QTableView(flash);
  hexViewer_->setObjectName("HexViewer");
  hexModel_ = new HexGridModel(hexViewer_);
  SetUpHexGrid(hexViewer_, hexModel_);
  hexModel_->Decorate(&core_->Editor, [this]() -> const ImageComparison* {
    return core_->Comparison ? &*core_->Comparison : nullptr;
  });
  hexEditing_ = new HexGridEditing(hexViewer_, hexModel_, *core_, [this](const std::function<void()>& f) { Run(f); });
  // The grid's own menu: the Edit menu's actions that act at the cursor
  // (the same actions: a second one would make their shortcuts ambiguous).
  hexViewer_->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* gridMenu = new QMenu(hexViewer_);
  gridMenu->setObjectName("PopupMenuHex");
  for (const char* name : {"Undo1", "Redo1", "CopyBytes1", "PasteBytes1", "SelectAllBytes1", "FillSelection1",
                           "GoToAddress1", "Find1", "NextDifference1", "PreviousDifference1"})
    gridMenu->addAction(findChild<QAction*>(name));
  connect(hexViewer_, &QWidget::customContextMenuRequested, gridMenu,
          [this, gridMenu](const QPoint& at) { gridMenu->popup(hexViewer_->viewport()->mapToGlobal(at)); });
  auto* flashLayout = new QVBoxLayout(flash);
  flashLayout->setContentsMargins(4, 4, 4, 4);
  flashLayout->addWidget(hexViewer_);

  QWidget* readData = b.Page("TabSheetRdData", tabs);
  rdDatView_ = new QTableView(readData);
  rdDatView_->setObjectName("RdDatView");
  SetUpHexGrid(rdDatView_, new HexGridModel(rdDatView_));
  auto* readLayout = new QVBoxLayout(readData);
  readLayout->setContentsMargins(4, 4, 4, 4);
  readLayout->addWidget(rdDatView_);

  differences_ = new DifferenceList(*core_, [this](const std::function<void()>& f) { Run(f); },
                                    b.Page("TabSheetCompare", tabs));
  return tabs;
}

void MainWindow::BuildChipSetPage(QWidget* page) {
  ControlBinder& b = *binder_;
  auto* layout = new QVBoxLayout(page);

  QGroupBox* protection = Section(tr("状态寄存器 / 写保护"), "GroupBoxProtect", page);
  auto* protect = new QGridLayout(protection);
  protect->setColumnStretch(2, 1);
  protect->addWidget(b.Label("LabelWP", protection), 0, 0, 1, 2);
  QComboBox* levels8 = b.Combo("ComBoxWP8", protection);
  QComboBox* levels16 = b.Combo("ComBoxWPF", protection);
  levels8->setMinimumWidth(240);
  levels16->setMinimumWidth(240);
  protect->addWidget(levels8, 1, 0, 1, 2);
  protect->addWidget(levels16, 2, 0, 1, 2);
  protect->addWidget(b.CheckBox("ChkBoxSRWD", protection), 3, 0);
  protect->addWidget(b.CheckBox("CheckBoxQE", protection), 3, 1);
  protect->addWidget(b.CheckBox("CheckBoxWRP", protection), 4, 0);
  layout->addWidget(protection);

  QGroupBox* i2c = Section(tr("I2C 器件"), "GroupBoxI2c", page);
  auto* device = new QGridLayout(i2c);
  device->setColumnStretch(2, 1);
  device->addWidget(b.Label("LabelDevAdr", i2c), 0, 0);
  QLineEdit* address = b.Edit("EditDevAdrX", i2c);
  address->setFixedWidth(80);
  device->addWidget(address, 0, 1);
  device->addWidget(b.Label("LabelPBS", i2c), 1, 0);
  QSpinBox* pageSize = b.Spin("SpinEditPGSZ", i2c);
  pageSize->setFixedWidth(80);
  device->addWidget(pageSize, 1, 1);
  layout->addWidget(i2c);
  layout->addStretch(1);
}

void MainWindow::BuildControlPage(QWidget* page) {
  ControlBinder& b = *binder_;
  auto* layout = new QHBoxLayout(page);
  auto* leftColumn = new QVBoxLayout;

  // A spin box with its label in one row of a grid.
  auto addSpin = [&b](QGridLayout* grid, int row, const char* name, QWidget* parent) {
    QSpinBox* spin = b.Spin(name, parent);
    spin->setMinimumWidth(100);
    grid->addWidget(b.CompanionLabel(name, parent), row, 0);
    grid->addWidget(spin, row, 1);
  };

  QGroupBox* timing = Section(tr("上电与芯片检测"), "GroupBoxTiming", page);
  auto* times = new QGridLayout(timing);
  times->setColumnStretch(2, 1);
  addSpin(times, 0, "SpinEditPTM", timing);
  addSpin(times, 1, "SpinPowDown", timing);
  times->addWidget(b.CheckBox("CheckBoxAut", timing), 2, 0, 1, 2);
  addSpin(times, 3, "SpinEditIn", timing);
  addSpin(times, 4, "SpinEditOut", timing);
  leftColumn->addWidget(timing);

  QGroupBox* count = Section(tr("烧写数量"), "GroupBoxCount", page);
  auto* limit = new QHBoxLayout(count);
  limit->addWidget(b.CheckBox("ChkBoxNumb", count));
  QSpinBox* number = b.Spin("SpinEditNumb", count);
  number->setMinimumWidth(110);
  limit->addWidget(number);
  limit->addStretch(1);
  leftColumn->addWidget(count);

  QGroupBox* trace = Section(tr("Traceability"), "GroupBoxRecord", page);
  auto* record = new QGridLayout(trace);
  record->setColumnStretch(1, 1);
  record->addWidget(b.CheckBox("ChkBoxRecord", trace), 0, 0, 1, 2);
  QLineEdit* recordFile = b.Edit("EditRecordFile", trace);
  recordFile->setMinimumWidth(180);
  record->addWidget(b.CompanionLabel("EditRecordFile", trace), 1, 0);
  record->addWidget(recordFile, 1, 1);
  // The production line's database (docs/production.md): empty, none.
  int lineRow = 2;
  for (const char* name : {"EditLineDb", "EditStation", "EditLinePool"}) {
    QLineEdit* edit = b.Edit(name, trace);
    record->addWidget(b.CompanionLabel(name, trace), lineRow, 0);
    record->addWidget(edit, lineRow++, 1);
  }
  leftColumn->addWidget(trace);

  QGroupBox* addressing = Section(tr("Large chips"), "GroupBoxAddressing", page);
  auto* extended = new QVBoxLayout(addressing);
  extended->addWidget(b.CheckBox("ChkBoxExtAddr", addressing));
  leftColumn->addWidget(addressing);
  leftColumn->addStretch(1);

  QGroupBox* serial = Section(tr("序列号"), "GroupBoxSN", page);
  auto* sn = new QGridLayout(serial);
  sn->setColumnStretch(2, 1);
  sn->addWidget(b.CheckBox("CheckBoxSN", serial), 0, 0, 1, 2);
  int row = 1;
  for (const char* name : {"SNEdit", "GainEdit", "AddrEdit"}) {
    QLineEdit* edit = b.Edit(name, serial);
    edit->setMinimumWidth(120);
    sn->addWidget(b.CompanionLabel(name, serial), row, 0);
    sn->addWidget(edit, row, 1);
    ++row;
  }
  sn->addWidget(b.CheckBox("SNOrderChk", serial), row++, 0, 1, 2);
  sn->addWidget(b.CheckBox("ChkBoxPCSN", serial), row++, 0, 1, 2);
  sn->addWidget(b.CheckBox("ChkBoxStrSN", serial), row++, 0, 1, 2);
  // Where the host's numbers come from instead of the counter: a list file
  // or a program (docs/production.md); empty, the counter.
  for (const char* name : {"EditSNList", "EditSNGenerator"}) {
    QLineEdit* edit = b.Edit(name, serial);
    sn->addWidget(b.CompanionLabel(name, serial), row, 0);
    sn->addWidget(edit, row++, 1, 1, 2);
  }
  QSpinBox* generatorTime = b.Spin("SpinSNGenTime", serial);
  generatorTime->setMinimumWidth(100);
  sn->addWidget(b.CompanionLabel("SpinSNGenTime", serial), row, 0);
  sn->addWidget(generatorTime, row++, 1);
  sn->addWidget(b.RadioGroup("RadioSNFailed", serial), row++, 0, 1, 3);
  sn->addWidget(b.PushButton("BitBtnFixSN", serial), row++, 0, 1, 2, Qt::AlignLeft);
  auto* rightColumn = new QVBoxLayout;
  rightColumn->addWidget(serial);
  QGroupBox* verification = Section(tr("Verification"), "GroupBoxVerification", page);
  auto* checks = new QVBoxLayout(verification);
  checks->addWidget(b.CheckBox("ChkBoxLocate", verification));
  checks->addWidget(b.CheckBox("ChkBoxCheckId", verification));
  rightColumn->addWidget(verification);
  QGroupBox* ending = Section(tr("End of an operation"), "GroupBoxEnding", page);
  auto* sound = new QVBoxLayout(ending);
  sound->addWidget(b.CheckBox("ChkBoxSound", ending));
  rightColumn->addWidget(ending);
  rightColumn->addStretch(1);

  layout->addLayout(leftColumn, 1);
  layout->addLayout(rightColumn, 1);
}

void MainWindow::BuildStatusBar() {
  ControlBinder& b = *binder_;
  statusBar()->setObjectName("StatusBar1");
  for (const char* name : {"StatusPanel0", "StatusPanel1", "StatusPanel2", "StatusPanel3", "StatusPanel4"}) {
    QLabel* panel = b.Label(name, statusBar());
    panel->setMinimumWidth(200);
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    statusBar()->addWidget(panel, 1);
  }
}

// --- Start-up and shut-down ---

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (showStarted_) return;
  showStarted_ = true;
  // After the first paint, so that the window is up while the ports open.
  loop_.post([this] { Startup(); });
}

void MainWindow::Startup() {
  std::vector<std::string> ports = options_.ports;
  std::string simulatorError;
  if (options_.simulatedProgrammers > 0) {
    std::vector<std::string> args = {"--count", std::to_string(options_.simulatedProgrammers)};
    args.insert(args.end(), options_.simulatorOptions.begin(), options_.simulatorOptions.end());
    simulator_ = SimulatorProcess::Start(FindSimulatorProgram(), args, options_.simulatedProgrammers,
                                         std::chrono::seconds(10), simulatorError);
    if (simulator_) ports = simulator_->Ports();
  }
  core_->ExplicitPorts = ports;
  Run([this] { core_->FormShow(); });
  // Real adapters come and go; simulated programmers do not.
  if (!simulator_) {
    std::string hotplugError;
    hotplug_ = HotplugMonitor::Start(
        loop_, [this](const HotplugEvent& event) { Run([this, &event] { core_->UsbPortsChanged(event); }); },
        hotplugError);
    if (!hotplug_)
      Run([this, &hotplugError] {
        core_->AppendInfo(
            tr("Adapters plugged in later are not noticed (%1): press the search button to look for them.")
                .arg(QString::fromStdString(hotplugError))
                .toStdString());
      });
  }
  if (!simulatorError.empty())
    Run([this, &simulatorError] {
      core_->AppendInfo(tr("Simulated programmers could not be started: %1")
                            .arg(QString::fromStdString(simulatorError))
                            .toStdString());
    });
  RestoreRemembered();
  if (!options_.openFile.isEmpty()) OpenFile(options_.openFile);
  if (!options_.operatorJob.isEmpty()) {
    const std::string job = options_.operatorJob.toStdString();
    bool entered = false;
    Run([this, &job, &entered] { entered = core_->EnterOperatorMode(job, options_.operatorKey); });
    // A station started for one job never falls back to the open window:
    // the refusal has been shown, and the window closes.
    if (!entered) {
      exitStatus_ = kLockedJobRefusedStatus;
      QTimer::singleShot(0, this, &QWidget::close);
    }
  }
  startupDone_ = true;
  if (QWidget* panel = findChild<QWidget*>("Panel1")) panel->setFocus();
  emit StartupDone();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  bool mayExit = true;
  if (!closing_) Run([this, &mayExit] { mayExit = core_->ConfirmExit(); });
  if (!mayExit) {
    event->ignore();
    return;
  }
  if (!closing_) {
    closing_ = true;
    // Before the log file is written, which then tells of a failure; and
    // only once the remembered values were given to the window.
    if (startupDone_) StoreRemembered();
    Run([this] { core_->FormClose(); });
    // Records that wait for the line's database get one more chance.
    line_->Flush();
    FlushLog();
  }
  QMainWindow::closeEvent(event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  char key = 0;
  // Esc stops from wherever the focus is; a control with a use for it
  // (an edit being cancelled) takes it before the window sees it.
  const bool escape = event->key() == Qt::Key_Escape;
  if (escape) {
    key = TQNProgrammer::kEscapeKey;
  } else if (event->key() == Qt::Key_Space) {
    key = ' ';
  } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    key = '\r';
  } else if (event->text().size() == 1 && event->text()[0].unicode() >= 0x20 && event->text()[0].unicode() < 0x7F) {
    key = static_cast<char>(event->text()[0].unicode());
  }
  const bool plain = (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) == 0;
  if (key == 0 || !plain || !startupDone_ || (!escape && FocusInTextOrList())) {
    QMainWindow::keyPressEvent(event);
    return;
  }
  event->accept();
  // A held key must not start one operation after another.
  if (event->isAutoRepeat()) return;
  Run([this, key] { core_->FormKeyPress(key); });
}

bool MainWindow::FocusInTextOrList() const {
  // Enter confirms what was typed into an edit or spin box and moves in a
  // list, the log or a grid, and Space pages or selects there; those
  // controls pass keys they do not use on to the window, which must not
  // start a programming run for them.
  static const QMetaObject* const kKeepTheirKeys[] = {
      &QLineEdit::staticMetaObject,         &QAbstractSpinBox::staticMetaObject, &QComboBox::staticMetaObject,
      &QAbstractItemView::staticMetaObject, &QPlainTextEdit::staticMetaObject,   &QTextEdit::staticMetaObject,
  };
  for (const QWidget* w = QApplication::focusWidget(); w != nullptr && w != this; w = w->parentWidget())
    for (const QMetaObject* kind : kKeepTheirKeys)
      if (w->metaObject()->inherits(kind)) return true;
  return false;
}

bool MainWindow::ChooseChipFromMenu(const QString& caption) {
  const DialogRunner previous = runDialog_;
  bool offered = false;
  runDialog_ = [&](DialogId id, QDialog& dialog) {
    if (id != DialogId::ChipSelection) {
      previous(id, dialog);
      return;
    }
    chipForm_->FormShow();
    if (QAction* entry = chipForm_->FindEntry(caption)) {
      offered = true;
      entry->trigger();
    }
  };
  Run([this] { core_->DevButtonClick(); });
  runDialog_ = previous;
  FlushLog();
  return offered;
}

// --- ProgrammerView ---

void MainWindow::ControlsChanged() { SyncControls(); }

void MainWindow::LogLineAppended(const std::string& line) {
  if (options_.echoLog) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  pendingLog_ << QString::fromStdString(line);
  // Lines come in bursts (a chip choice, a finished read); the panel takes
  // each burst in one go on the next turn of the loop.
  if (!logFlushQueued_) {
    logFlushQueued_ = true;
    QTimer::singleShot(0, this, [this] { FlushLog(); });
  }
}

void MainWindow::FlushLog() {
  logFlushQueued_ = false;
  if (pendingLog_.isEmpty() || infoMemo_ == nullptr) return;
  infoMemo_->setUpdatesEnabled(false);
  infoMemo_->appendPlainText(pendingLog_.join('\n'));
  pendingLog_.clear();
  infoMemo_->verticalScrollBar()->setValue(infoMemo_->verticalScrollBar()->maximum());
  infoMemo_->setUpdatesEnabled(true);
}

void MainWindow::LogCleared() {
  pendingLog_.clear();
  if (infoMemo_ != nullptr) infoMemo_->clear();
}

void MainWindow::ShowMessage(MessageKind kind, const std::string& text) {
  // The screen is brought up to date first: the message often explains the
  // last log line. Every message goes through the presenter, the one place
  // where messages can be held back and shown later.
  FlushLog();
  SyncControls();
  presentMessage_(kind, QString::fromStdString(text));
}

bool MainWindow::AskQuestion(const std::string& text) {
  FlushLog();
  SyncControls();
  QApplication::beep();
  // No is the default: Enter pressed in passing starts nothing.
  return QMessageBox::question(this, kCaption, QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

std::optional<std::string> MainWindow::AskFile(bool save, const FileDialogOptions& request) {
  const QStringList filters = QtFileFilters(request.filter);
  const QString selected = SelectedFileFilter(filters, request.filterIndex);
  const QString suffix = DialogDefaultSuffix(request.defaultExtension);
  std::optional<QString> chosen;
  if (askFile_) {
    chosen = askFile_(save, filters, selected, suffix);
  } else {
    QFileDialog dialog(this);
    if (const QString folder = settings_->Folder(request.purpose); !folder.isEmpty()) dialog.setDirectory(folder);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    if (!selected.isEmpty()) dialog.selectNameFilter(selected);
    dialog.setDefaultSuffix(suffix);
    // A name typed without an extension takes the chosen filter's, so that
    // "image" saved under the Intel HEX filter becomes image.hex, and is
    // written as Intel HEX.
    if (save)
      connect(&dialog, &QFileDialog::filterSelected, &dialog,
              [&dialog](const QString& filter) { dialog.setDefaultSuffix(FilterDefaultSuffix(filter)); });
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) chosen = dialog.selectedFiles().front();
  }
  if (!chosen || chosen->isEmpty()) return std::nullopt;
  settings_->SetFolder(request.purpose, QFileInfo(*chosen).absolutePath());
  SaveSettings();
  return QFile::encodeName(*chosen).toStdString();
}

std::optional<std::string> MainWindow::AskOpenFile(const FileDialogOptions& request) { return AskFile(false, request); }

std::optional<std::string> MainWindow::AskSaveFile(const FileDialogOptions& request) { return AskFile(true, request); }

void MainWindow::CopyToClipboard(const std::string& text) {
  QApplication::clipboard()->setText(QString::fromStdString(text));
}

QDialog* MainWindow::Dialog(DialogId dialog) {
  switch (dialog) {
    case DialogId::ChipSelection:
      return chipForm_;
    case DialogId::LogConfig:
      return logCfgForm_;
    case DialogId::ConfigSN:
      return configSnForm_;
    case DialogId::DataView:
      return dataViewForm_;
    case DialogId::About:
      return aboutForm_;
  }
  return nullptr;
}

void MainWindow::ShowModal(DialogId dialog) {
  QDialog* form = Dialog(dialog);
  if (form == nullptr || form->isVisible()) return;
  FlushLog();
  SyncControls();
  if (dialog == DialogId::ChipSelection) {
    // The menu opens just right of the chip button, the form below it.
    auto* chooser = findChild<QWidget*>("DevButton");
    const QPoint point = chooser->mapToGlobal(QPoint(chooser->width() + 15, 0));
    chipForm_->SelectChipPosition(point);
    chipForm_->move(point + QPoint(5, 10));
  }
  runDialog_(dialog, *form);
}

void MainWindow::CloseDialog(DialogId dialog) {
  if (QDialog* form = Dialog(dialog)) form->reject();
}

void MainWindow::FocusControl(const std::string& name) {
  QWidget* widget = nullptr;
  for (ControlBinder* binder : {binder_, logCfgForm_ ? &logCfgForm_->Binder() : nullptr,
                                configSnForm_ ? &configSnForm_->Binder() : nullptr}) {
    if (binder == nullptr) continue;
    if (auto* found = qobject_cast<QWidget*>(binder->Find(name))) {
      widget = found;
      break;
    }
  }
  if (widget == nullptr) widget = findChild<QWidget*>(QString::fromStdString(name));
  if (widget != nullptr) widget->setFocus();
}

void MainWindow::CloseMainWindow() { close(); }

void MainWindow::Signal(bool passed) {
  QApplication::beep();
  if (passed) return;
  // A failure beeps three times, so that it is told apart without a look.
  for (const int delayMs : {kFailBeepGapMs, 2 * kFailBeepGapMs}) QTimer::singleShot(delayMs, this, [] { QApplication::beep(); });
}

void MainWindow::SetBusy(bool busy) {
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

void MainWindow::HexViewChanged() {
  const TQNProgrammer& core = *core_;
  hexModel_->ShowRange(core.HexViewShown ? &core.Image : nullptr, core.HexViewFirst, core.HexViewLast);
}

void MainWindow::HexBytesChanged(uint32_t first, uint32_t last) {
  hexModel_->BytesChanged(first, last);
  if (core_->Comparison) differences_->Refresh();
}

void MainWindow::ImageMarksChanged() {
  hexEditing_->Refresh();
  differences_->Refresh();
}

std::string MainWindow::ClipboardText() { return QGuiApplication::clipboard()->text().toStdString(); }

std::optional<std::string> MainWindow::AskText(const std::string& title, const std::string& label,
                                               const std::string& initial) {
  bool ok = false;
  const QString text = QInputDialog::getText(this, QString::fromStdString(title), QString::fromStdString(label),
                                             QLineEdit::Normal, QString::fromStdString(initial), &ok);
  if (!ok) return std::nullopt;
  return text.toStdString();
}

std::optional<std::string> MainWindow::AskSecret(const std::string& title, const std::string& label) {
  bool ok = false;
  const QString text = QInputDialog::getText(this, QString::fromStdString(title), QString::fromStdString(label),
                                             QLineEdit::Password, QString(), &ok);
  if (!ok) return std::nullopt;
  return text.toStdString();
}

std::optional<FindRequest> MainWindow::AskFind(const FindRequest& last) { return RunFindDialog(this, last); }

void MainWindow::ShowImageAddress(uint32_t address) {
  // The open viewer draws the cursor itself.
  if (dataViewForm_ != nullptr && dataViewForm_->isVisible()) return;
  // The data page shows EEPROM and DataFlash images only; a flash chip's
  // byte is shown in the viewer, opened at its page once the command that
  // asked has returned.
  if (!pages_->isTabVisible(pages_->indexOf(hexViewer_->parentWidget()))) {
    dataViewForm_->StartAt(address);
    QTimer::singleShot(0, this, [this] { Run([this] { core_->ViewDataBuffer1Click(); }); });
    return;
  }
  pages_->setCurrentWidget(hexViewer_->parentWidget());
  const QModelIndex cell = hexModel_->IndexOf(address);
  if (!cell.isValid()) return;
  hexViewer_->scrollTo(cell, QAbstractItemView::PositionAtCenter);
  hexViewer_->setCurrentIndex(cell);
}

// --- Files without a dialog ---

void MainWindow::OpenFile(const QString& path) {
  const std::string file = QFile::encodeName(path).toStdString();
  Run([this, &file] { core_->OpenDataFile(file); });
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  // Before the start-up has run, its reset would undo the load.
  if (startupDone_ && !LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QStringList files = LocalFiles(event->mimeData());
  if (!startupDone_ || files.isEmpty()) return;
  event->acceptProposedAction();
  // Once the drop has returned: the load may ask something of the operator,
  // and the program that dragged waits for the drop to end.
  QTimer::singleShot(0, this, [this, files] {
    if (files.size() > 1)
      core_->AppendInfo(tr(kSeveralFilesDropped).arg(files.size()).arg(files.front()).toStdString());
    OpenFile(files.front());
  });
}

void MainWindow::RememberRecentFile(const std::string& path) {
  settings_->AddRecentFile(QFileInfo(QFile::decodeName(path.c_str())).absoluteFilePath());
  SaveSettings();
  ShowRecentFiles();
}

void MainWindow::ShowRecentFiles() {
  // The entry being chosen may be one of these: the old entries go once it
  // has returned.
  for (QAction* entry : recentMenu_->actions()) {
    recentMenu_->removeAction(entry);
    entry->deleteLater();
  }
  const QStringList files = settings_->RecentFiles();
  for (int i = 0; i < files.size(); ++i) {
    QString shown = files[i];
    shown.replace('&', "&&");
    QAction* entry = recentMenu_->addAction(QString("&%1 %2").arg(i + 1).arg(shown));
    connect(entry, &QAction::triggered, this, [this, path = files[i]] { OpenRecentFile(path); });
  }
  recentMenu_->setEnabled(!files.isEmpty());
}

void MainWindow::OpenRecentFile(const QString& path) {
  if (QFileInfo::exists(path)) {
    OpenFile(path);
    return;
  }
  settings_->ForgetRecentFile(path);
  SaveSettings();
  ShowRecentFiles();
  const std::string text = tr(kRecentFileGone).arg(path).toStdString();
  core_->AppendInfo(text);
  ShowMessage(MessageKind::Warning, text);
}

// --- Remembered settings ---

void MainWindow::RestoreRemembered() {
  // The job's settings were made for the remembered chip: without it, the
  // protection level and the like would reach the next chip unseen.
  bool jobFits = true;
  const QString chip = settings_->Chip();
  if (!chip.isEmpty()) {
    // Only an entry the chip menu offers, by its very caption.
    const CatalogueEntry* entry = LookUpChip(chip.toStdString()).entry;
    jobFits = entry != nullptr && QString::fromStdString(entry->caption) == chip;
    if (jobFits) {
      // As the chip menu does it: the resets of its opening, then the entry.
      Run([this, entry] {
        core_->ChipSelectionFormShow();
        core_->ChooseChip(*entry);
      });
    } else {
      core_->AppendInfo(tr(kUnknownRememberedChip).arg(chip).toStdString());
    }
  }
  const auto restore = [this](const char* group, std::span<const char* const> names,
                              const std::vector<NamedControl>& controls, ControlBinder& binder) {
    const auto leftOut = settings_->RestoreControls(group, names, controls,
                                                    [&binder](const std::string& name) { binder.RunHandler(name); });
    for (const RememberedSettings::LeftOut& value : leftOut)
      core_->AppendInfo(tr(kRememberedValueLeftOut).arg(value.key, value.value).toStdString());
  };
  if (jobFits) restore(kJobGroup, RememberedJobControls(), core_->Controls.All(), *binder_);
  restore(kLogGroup, RememberedLogControls(), core_->LogCfg.All(), logCfgForm_->Binder());
  SyncControls();
}

void MainWindow::StoreRemembered() {
  // Operator mode runs a locked job: the station's own setup stays as the
  // engineer left it.
  if (!core_->Operator.active) settings_->StoreControls(kJobGroup, RememberedJobControls(), core_->Controls.All());
  settings_->StoreControls(kLogGroup, RememberedLogControls(), core_->LogCfg.All());
  settings_->SetGeometry(saveGeometry());
  SaveSettings();
}

void MainWindow::RememberChip() {
  if (!core_->ChipConfirmed || core_->Operator.active) return;
  const QString chip = QString::fromStdString(core_->Controls.MCUNameEdit.Text);
  if (chip == settings_->Chip()) return;
  settings_->SetChip(chip);
  SaveSettings();
}

void MainWindow::SaveSettings() {
  if (!settings_->Save()) core_->AppendInfo(tr(kSettingsNotWritten).arg(settings_->File()).toStdString());
}

}  // namespace velkor::ui
