// While a programmer works, nothing may change or abandon its job: the chip,
// the image, the settings its next packets are built from, the port it talks
// on, its firmware. Those controls are held disabled (the window shows
// them greyed) and their commands, whichever way they are reached (menu,
// shortcut, command line), are refused with a message.
#include <array>

#include "app/qn_programmer.hpp"
#include "data/text_format.hpp"
#include "link/operation_codes.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr const char* kBusyRefusal = TextKey("Not while %s: %s waits until the operation has ended.");
constexpr const char* kExitQuestion =
    TextKey("Now %s.\nExit anyway? The operation is stopped where it stands, and its chip is not finished.");
constexpr const char* kInterruptedLine = TextKey("Interrupted by %s: %s stopped at %u KB.");

}  // namespace

std::vector<Control*> TQNProgrammer::JobLockedControls() {
  MainControls& c = Controls;
  return {
      // Chip, data and project.
      &c.DevButton, &c.SpdBtnOpen, &c.LoadDataFile1, &c.LoadFromOrvaneProject, &c.BitBtnFixSN,
      // Edits of the image.
      &c.Undo1, &c.Redo1, &c.PasteBytes1, &c.FillSelection1,
      // Ports, the search and the programmers' firmware. (Operations, the
      // download among them, start on the free programmers only.)
      &c.ComboBoxCOM, &c.BitBtnFindCOM, &c.BitBtnFresh, &c.DoFirmwareUpgrade1,
      // The job settings the packets are built from.
      &c.RadioGpVolt, &c.RadioGroupSpd, &c.EnEraseChk, &c.EnProgChk, &c.EnVerifyChk, &c.EnBlankChk, &c.ChkBoxNotBLK,
      &c.ChkBoxCPES, &c.ChkBoxExtAddr, &c.ComBoxWP8, &c.ComBoxWPF, &c.ChkBoxSRWD, &c.CheckBoxQE, &c.CheckBoxWRP,
      &c.EditDevAdrX, &c.SpinEditPGSZ, &c.SpinEditPTM, &c.SpinPowDown, &c.CheckBoxAut, &c.SpinEditIn, &c.SpinEditOut,
      &c.CheckBoxSN, &c.SNEdit, &c.GainEdit, &c.AddrEdit, &c.SNOrderChk, &c.ChkBoxPCSN, &c.ChkBoxStrSN, &c.ChkBoxNumb,
      &c.SpinEditNumb, &c.ChkBoxRecord, &c.EditRecordFile, &c.EditLineDb, &c.EditStation, &c.EditLinePool,
      &c.ChkBoxLocate, &c.ChkBoxCheckId, &c.EditSNList, &c.EditSNGenerator, &c.SpinSNGenTime, &c.RadioSNFailed,
  };
}

bool TQNProgrammer::AnyProgrammerBusy() const {
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n)
    if (Channels.Channel(n).Busy) return true;
  return false;
}

std::string TQNProgrammer::BusyProgrammers() const {
  std::string text;
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
    const LinkChannel& ch = Channels.Channel(n);
    if (!ch.Busy) continue;
    if (!text.empty()) text += Tx(" and ");
    text += FormatText(Tx("programmer %d is busy (%s)"), n, OperationName(ch.Operation, ch.AutoRun != 0).c_str());
  }
  return text;
}

bool TQNProgrammer::RefusedWhileBusy(const char* action) {
  if (!AnyProgrammerBusy()) return false;
  const std::string what = FormatText(Tx(kBusyRefusal), BusyProgrammers().c_str(), action);
  AppendInfo(what);
  Warn(what);
  return true;
}

bool TQNProgrammer::ConfirmExit() {
  if (!AnyProgrammerBusy()) return true;
  const std::string busy = BusyProgrammers();
  if (!view_.AskQuestion(FormatText(Tx(kExitQuestion), busy.c_str()))) return false;
  InterruptOperations(Tx("the exit of the program"));
  return true;
}

void TQNProgrammer::InterruptOperations(const std::string& cause) {
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
    LinkChannel& ch = Channels.Channel(n);
    if (!ch.Busy) continue;
    const std::string line =
        FormatText(Tx(kInterruptedLine), cause.c_str(), OperationName(ch.Operation, ch.AutoRun != 0).c_str(),
                   static_cast<unsigned>(ch.BlockPos));
    ChannelLog(n, line);
    EndOperation(n, true, {0, false, line});
  }
}

void TQNProgrammer::ShowControls() {
  const bool busy = AnyProgrammerBusy();
  for (Control* control : JobLockedControls()) control->LockedByJob = busy;
  ShowOperatorControls();
  // Stop is there only while there is something to stop.
  Controls.SpdBtnStop.Enabled = busy;
  Controls.Stop1.Enabled = busy;
  // The progress lines move with the gauges.
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
    FollowOperation(n);
    ShowProgressLine(n);
  }
  view_.ControlsChanged();
}

}  // namespace velkor
