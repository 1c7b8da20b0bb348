// The state of every control of the main window and its dialogs, as plain
// data. The core reads and changes these fields; the window shows them. Field
// names are the controls' names, and the window gives each widget the same
// object name, so that one table binds the two.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace velkor {

struct Control {
  bool Visible = true;
  bool Enabled = true;
  // Held disabled while a programmer works, whatever Enabled says: the
  // control would change or abandon the job under way. Kept apart from
  // Enabled so that the chip's own enabling comes back unchanged.
  bool LockedByJob = false;
  // Held disabled in operator mode: the control would change the locked
  // job the operator runs.
  bool LockedByOperator = false;
  bool Usable() const { return Enabled && !LockedByJob && !LockedByOperator; }
  bool operator==(const Control&) const = default;
};

// Tool buttons, push buttons and menu items.
struct ButtonControl : Control {
  std::string Caption;
  std::string Shortcut;  // "F7", "Ctrl+D"; empty when none
  std::string Hint;
};

struct CheckControl : Control {
  std::string Caption;
  std::string Hint;
  bool Checked = false;
};

struct LabelControl : Control {
  std::string Caption;
  std::string Hint;
};

struct EditControl : Control {
  std::string Label;  // the caption of the label beside it, if any
  std::string Hint;
  std::string Text;
  int MaxLength = 0;  // 0: no limit
  bool ReadOnly = false;
};

struct RadioGroupControl : Control {
  std::string Caption;
  std::vector<std::string> Items;
  int ItemIndex = 0;
  int Columns = 1;
};

struct ComboControl : Control {
  std::vector<std::string> Items;
  int ItemIndex = 0;
  std::string Text;  // shown while no item is selected (ItemIndex -1)
};

struct SpinControl : Control {
  std::string Label;
  int MinValue = 0;
  int MaxValue = 0;
  int Increment = 1;
  int Value = 0;
};

// A page of a page control, or a group box.
struct PageControl : Control {
  std::string Caption;
};

// Grey: an operation the operator stopped, neither good nor failed.
enum class GaugeColour { Blue, Red, Grey };

// A progress bar whose progress always stays inside its range: a progress
// above the maximum shows the maximum, and lowering the maximum below the
// progress lowers the progress.
struct GaugeControl : Control {
  int MaxValue = 100;
  int Progress = 0;
  GaugeColour Colour = GaugeColour::Blue;

  void SetMax(int maxValue) {
    MaxValue = maxValue < 0 ? 0 : maxValue;
    if (Progress > MaxValue) Progress = MaxValue;
  }
  void SetProgress(int progress) { Progress = progress < 0 ? 0 : (progress > MaxValue ? MaxValue : progress); }
  bool operator==(const GaugeControl&) const = default;
};

// How the last operation on a programmer ended, shown large beside its gauge
// so that it reads from a step away: neutral while an operation runs and
// before the first; stopped for one the operator stopped, which neither
// passed nor failed.
enum class ResultState { Neutral, Pass, Fail, Stopped };

struct ResultControl : Control {
  ResultState State = ResultState::Neutral;
  std::string Caption;  // "PASS", "FAIL", "STOPPED"; empty when neutral

  // Takes the state with its caption.
  void Show(ResultState state);
  bool operator==(const ResultControl&) const = default;
};

using ControlRef = std::variant<ButtonControl*, CheckControl*, LabelControl*, EditControl*, RadioGroupControl*,
                                ComboControl*, SpinControl*, PageControl*, GaugeControl*, ResultControl*>;

struct NamedControl {
  const char* name;
  ControlRef control;
};

// The I2C page-size box's smallest value, for chips of ordinary pages.
inline constexpr int kPageSizeBoxMin = 8;

// The main window (TQNProgrammer).
struct MainControls {
  MainControls();

  // Tool bar (Panel1).
  ButtonControl SpdBtnDownLoad, SpeedButtonRD, SpdBtnBlkChk, SpdBtnErase, SpdBtnProg, SpdBtnVerify, SpdBtnAutoP,
      SpdBtnOpen, SpdBtnSave, SpdBtnExit;
  // Stops the programmers' block transfers after the block in flight;
  // usable only while a programmer is busy.
  ButtonControl SpdBtnStop;

  // "&Command" menu.
  ButtonControl DownloadToProgrammer1, ReadTargetChipMemory1, BlankCheck1, EraseChip1, Programming1, Verification1,
      AutoProgramming1, ReadChipIDandStatus1, DoFirmwareUpgrade1;
  // The host reads each chip back and compares it with the image.
  ButtonControl ReadbackVerify1;
  // The tool bar's Stop.
  ButtonControl Stop1;
  // "&File" menu.
  ButtonControl LoadDataFile1, SaveBufferToFile1, N5, SaveInfotoFile1, ViewDataBuffer1, Exit1;
  // The data page at the first address where the last chip read back differed.
  ButtonControl GoToDifference1;
  // "&Edit" menu: editing, finding and comparing in the hex views.
  ButtonControl Undo1, Redo1, CopyBytes1, PasteBytes1, SelectAllBytes1, FillSelection1;
  ButtonControl GoToAddress1, Find1, FindNext1, FindPrevious1;
  ButtonControl CompareWithFile1, CompareWithChipRead1, NextDifference1, PreviousDifference1, CloseComparison1;
  // "Project" menu.
  ButtonControl LoadFromOrvaneProject, SaveToOrvAneProject;
  // Locked jobs: the engineer saves the job locked; a locked job is opened
  // checked, or run in operator mode, which only the job's key leaves.
  ButtonControl SaveLockedJob1, OpenLockedJob1, OperatorMode1, LeaveOperatorMode1;
  // "&Help" menu.
  ButtonControl About1;
  // The information panel's context menu.
  ButtonControl ClearInformation1, CopyInformation1, SaveInformationtoFile1;

  // Chip group.
  PageControl GroupBox2;
  EditControl MCUNameEdit;
  ButtonControl DevButton;
  LabelControl lbFlashSize;
  EditControl ProductEditX;
  RadioGroupControl RadioGpVolt;
  RadioGroupControl RadioGroupSpd;
  PageControl GroupBoxCtrl;
  CheckControl EnEraseChk, EnProgChk, EnVerifyChk, EnBlankChk;
  CheckControl ChkBoxNotBLK, ChkBoxCPES;

  // In operator mode: the job the operator runs, its chip, image and lock.
  LabelControl LabelOperatorJob;
  // Programmers.
  LabelControl InfoPanel;
  ComboControl ComboBoxCOM;
  ButtonControl BitBtnFindCOM, BitBtnFresh;
  GaugeControl GaugeBar1, GaugeBar2;
  // Beside each gauge: the operation's stage, elapsed time, speed and time
  // left; how the programmer's last operation ended; its good and failed
  // chips.
  LabelControl LabelProgress1, LabelProgress2;
  ResultControl PanelResult1, PanelResult2;
  LabelControl LabelCounts1, LabelCounts2;

  // Pages.
  PageControl TabSheetChip, TabChipSet, TabSheetCtrl, TabSheetFlash, TabSheetRdData;
  // The differing ranges of the image's comparison, while there is one.
  PageControl TabSheetCompare;

  // Chip configuration page.
  LabelControl LabelWP;
  ComboControl ComBoxWP8, ComBoxWPF;
  CheckControl ChkBoxSRWD, CheckBoxQE, CheckBoxWRP;
  EditControl EditDevAdrX;
  LabelControl LabelDevAdr, LabelPBS;
  SpinControl SpinEditPGSZ;

  // Programmer control page.
  SpinControl SpinEditPTM, SpinPowDown, SpinEditIn, SpinEditOut;
  CheckControl CheckBoxAut;
  CheckControl CheckBoxSN;
  EditControl SNEdit, GainEdit, AddrEdit;
  CheckControl SNOrderChk, ChkBoxPCSN, ChkBoxStrSN;
  ButtonControl BitBtnFixSN;
  CheckControl ChkBoxNumb;
  SpinControl SpinEditNumb;
  // The traceability record: one line per chip appended to this file.
  CheckControl ChkBoxRecord;
  EditControl EditRecordFile;
  // The production line's database, this station's name in it, and the
  // pool host-side serial numbers come from; all empty: no database.
  EditControl EditLineDb;
  EditControl EditStation;
  EditControl EditLinePool;
  // Host-side serial numbers from a list file or from a generator program
  // (one of them), the generator's time limit, and what becomes of a failed
  // chip's value (the items in the order of FailedValuePolicy).
  EditControl EditSNList;
  EditControl EditSNGenerator;
  SpinControl SpinSNGenTime;
  RadioGroupControl RadioSNFailed;
  // Block positions and used sizes of 64 MiB and more, in the bytes only a
  // programmer firmware that knows them reads.
  CheckControl ChkBoxExtAddr;
  // Verification: a failed verify or blank check reads the chip back to name
  // where it differs; the chip's ID is compared with the catalogue's before
  // it is programmed.
  CheckControl ChkBoxLocate;
  CheckControl ChkBoxCheckId;
  // A sound at the end of each operation on a programmer: one beep when it
  // passed, a pattern of beeps when it failed.
  CheckControl ChkBoxSound;

  // Status bar panels 0 to 3.
  LabelControl StatusPanel0, StatusPanel1, StatusPanel2, StatusPanel3;
  // The image's edits since it was saved and the comparison's differences.
  LabelControl StatusPanel4;

  // Every control with its name, in a stable order.
  std::vector<NamedControl> All();
};

// The log configuration dialog (TLogCfgForm).
struct LogCfgControls {
  LogCfgControls();
  CheckControl CheckBoxLog;
  RadioGroupControl RadioGrpCreat;
  EditControl EditLogName;
  ButtonControl SpeedButtonOP;
  RadioGroupControl RadioGrpMod;
  ButtonControl OK;
  std::vector<NamedControl> All();
};

// The controls whose values the window remembers from one run to the next,
// in the order they are given back. A control whose handler changes another
// comes before it, so that the other's own value stands last.
// The job's settings on the chip group, the chip configuration page and the
// programmer control page (MainControls):
std::span<const char* const> RememberedJobControls();
// The log file's mode (LogCfgControls):
std::span<const char* const> RememberedLogControls();

// The fixed serial-number data dialog (TConfigSNForm).
struct ConfigSNControls {
  ConfigSNControls();
  EditControl AddrEditSN, EditDataSN;
  ButtonControl BitBtnCancel, BitBtnOK;
  std::vector<NamedControl> All();
};

}  // namespace velkor
