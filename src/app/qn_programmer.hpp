// TQNProgrammer: the logic of the main window. It owns the chip selection,
// the job settings, the information log and the programmer channels, keeps
// the state of every control as plain data, and runs the window's handlers.
// What it asks of a person or a screen goes through the view.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/controls.hpp"
#include "app/info_log.hpp"
#include "app/programmer_channels.hpp"
#include "app/view.hpp"
#include "chips/catalogue.hpp"
#include "chips/chip_params.hpp"
#include "data/image_buffer.hpp"
#include "data/image_report.hpp"
#include "data/object_file.hpp"
#include "link/job_settings.hpp"
#include "platform/main_loop.hpp"

namespace velkor {

class TQNProgrammer final : public ImageReport {
 public:
  TQNProgrammer(MainLoop& loop, ProgrammerView& view, std::unique_ptr<LogClock> clock = MakeSystemClock());

  // Control state of the window and its dialogs.
  MainControls Controls;
  LogCfgControls LogCfg;
  ConfigSNControls ConfigSN;

  ChipParams Chip;
  JobSettings Job;
  bool ChipConfirmed = false;
  bool FileLoaded = false;

  // The byte image of the target, its ranges and checksums, and how the
  // last object-file load ended.
  ImageBuffer Image;
  LoadOutcome LastLoad;
  // The range the data page's hex grid shows (valid while HexViewShown).
  bool HexViewShown = false;
  uint32_t HexViewFirst = 0;
  uint32_t HexViewLast = 0;

  InfoLog Info;
  ProgrammerChannels Channels;

  // Counters of burnt chips, for both programmers and per programmer.
  uint32_t BurnCount = 0;
  uint32_t FailCount = 0;
  uint32_t ChannelOk[2] = {0, 0};
  uint32_t ChannelNg[2] = {0, 0};
  // The identified programmer streams chip reads.
  bool FastReadCapable = false;

  // Ports to probe when the window is first shown (explicit ports or the
  // simulator's); the search over the machine's ports comes with discovery.
  std::vector<std::string> StartupPorts;

  // --- Start-up and shut-down ---
  // The first showing of the window: start directory, pages, the log
  // folder, the reset, the greeting, the programmer search.
  void FormShow();
  void StartupReset();
  void FormKeyPress(char key);
  // Exit button and menu: closes the ports and the window.
  void SpdBtnExitClick();
  // The window closes: ports closed, log file written.
  void FormClose();
  const std::filesystem::path& StartDirectory() const { return startDirectory_; }

  // --- Information log ---
  void AppendInfo(const std::string& text) override;
  void ChannelLog(int channel, const std::string& text);
  void AppendPlain(const std::string& text) override;
  void ClearInformation1Click();
  void CopyInformation1Click();
  void SaveInfotoFile1Click();
  void N5Click();
  void CheckBoxLogClick();
  void RadioGrpCreatClick();
  void SpeedButtonOPClick();
  void OKClick();
  void WriteLogFile();

  // --- Operation progress ---
  // Arms an operation on channel 1 or 2 (Operation already set): time-out,
  // block range, busy flag and gauge.
  void BeginOperation(int channel, uint32_t range);
  // Ends it: idle, gauge full, blue or red, "操作成功！" or "操作失败！".
  void EndOperation(int channel, bool failed);
  // Shows the progress report held in the channel's packet buffer.
  void ShowProgressReport(int channel);
  GaugeControl& Gauge(int channel) { return channel == 1 ? Controls.GaugeBar1 : Controls.GaugeBar2; }

  // --- Chip selection ---
  void DevButtonClick();
  // The chip selection dialog is shown: the resets of each opening.
  void ChipSelectionFormShow();
  // An entry of the chip menu was chosen.
  void ChooseChip(const CatalogueEntry& entry);
  // The chip name changed (MCUNameEditChange).
  void ApplyChipSelection();
  void SetupFlashFamily();
  void SetupMicrowire();
  void SetupSpiEeprom();
  void SetupI2cFamily();

  // --- Chip options ---
  // RadioGpVolt's selection changed (by the operator or the program).
  void RadioGpVoltClick();
  // Selects a voltage item; RadioGpVoltClick runs when the selection changes.
  void SelectVoltage(int itemIndex);
  void ComBoxWP8Change();
  void ComBoxWPFChange();
  void ChkBoxSRWDClick();
  void CheckBoxAutClick();
  void CheckBoxSNClick();
  void SpinEditNumbChange();

  // --- Commands whose work comes with the programming operations, object
  // files, projects and firmware upgrade ---
  void SpdBtnDownLoadClick();
  void SpeedButtonRDClick();
  void BlankCheck1Click();
  void SpdBtnEraseClick();
  void SpdBtnProgClick();
  void SpdBtnVerifyClick();
  void SpdBtnAutoPClick();
  void ReadChipIDandStatus1Click();
  void DoFirmwareUpgrade1Click();
  void FileOpenBtnClick();
  void FileSaveBtnClick();
  void LoadFromOrvaneProjectClick();
  void SaveToOrvAneProjectClick();
  void ViewDataBuffer1Click();
  void BitBtnFixSNClick();
  void BitBtnFindCOMClick();
  void BitBtnFreshClick();
  void About1Click();

  // --- Image: what the image routines report ---
  void SetStatusPanel(int panel, const std::string& text) override;
  void ShowHexView(uint32_t first, uint32_t last) override;
  void Warn(const std::string& text) override;
  void SetBusy(bool busy) override;
  // The recompute after every change of the image.
  void RecomputeImage();

  // Runs a command the way the window runs every handler: an error it
  // raises (a text that is not an integer, a file that cannot be read) is
  // shown in an error box and ends the command; the program goes on.
  void RunCommand(const std::function<void()>& command);

 private:
  void SetChipName(const std::string& caption);
  // The preconditions of an operation: a chosen chip and, if needed, loaded
  // data; a warning box says what is missing.
  bool CheckPreconditions(bool needsFile);
  void ShowProtectSetting();
  void LogNotAvailable(const char* what);

  MainLoop& loop_;
  ProgrammerView& view_;
  std::unique_ptr<LogClock> clock_;
  std::filesystem::path startDirectory_;
  bool shown_ = false;
};

}  // namespace velkor
