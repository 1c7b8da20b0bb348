// TQNProgrammer: the logic of the main window. It owns the chip selection,
// the job settings, the information log and the programmer channels, keeps
// the state of every control as plain data, and runs the window's handlers.
// What it asks of a person or a screen goes through the view.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/controls.hpp"
#include "app/info_log.hpp"
#include "app/job_session.hpp"
#include "app/operation_outcome.hpp"
#include "app/production_line.hpp"
#include "app/programmer_channels.hpp"
#include "app/progress_estimate.hpp"
#include "app/serial_number_source.hpp"
#include "app/trace_record.hpp"
#include "app/view.hpp"
#include "chips/catalogue.hpp"
#include "chips/chip_params.hpp"
#include "data/byte_search.hpp"
#include "data/hex_edit.hpp"
#include "data/image_buffer.hpp"
#include "data/image_compare.hpp"
#include "data/image_digest.hpp"
#include "data/image_report.hpp"
#include "data/job_lock_block.hpp"
#include "data/object_file.hpp"
#include "data/object_writer.hpp"
#include "data/project_file.hpp"
#include "link/commands.hpp"
#include "link/firmware_file.hpp"
#include "link/job_settings.hpp"
#include "link/operation_codes.hpp"
#include "link/reassembly.hpp"
#include "platform/hotplug_monitor.hpp"
#include "platform/main_loop.hpp"
#include "platform/usb_identity.hpp"
#include "text/text_table.hpp"

namespace velkor {

// The folders the program keeps its files in besides the directory it
// starts in. The user's: $XDG_DATA_HOME/velkor350qn, else
// ~/.local/share/velkor350qn (empty when neither variable names an absolute
// folder). The installed one: the data folder of the installed program,
// found from where the running program lies (empty when that is unknown).
std::filesystem::path UserDataFolder();
std::filesystem::path InstalledDataFolder();

// The version text of a programmer's identification ("V3.10" of
// "Velkor350QN V3.10"): from the first blank followed by "V", at most 31
// characters; empty when there is none.
std::string FirmwareVersionOf(const std::string& identification);
// Reads the firmware file at path; one that cannot be read, or too large for
// the firmware buffer, comes back not ready, with the reason.
FirmwareFile ReadFirmwareFileAt(const std::filesystem::path& path);

class TQNProgrammer final : public ImageReport, public FrameConsumer {
 public:
  TQNProgrammer(MainLoop& loop, ProgrammerView& view, std::unique_ptr<LogClock> clock = MakeSystemClock());
  // The loop may outlive the window's logic: its timers go with it.
  ~TQNProgrammer();
  TQNProgrammer(const TQNProgrammer&) = delete;
  TQNProgrammer& operator=(const TQNProgrammer&) = delete;

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
  // Records and log files that could not be written, each with its path
  // and reason, in the order they failed.
  std::vector<std::string> WriteFailures;
  // How loads pick the format (the command line's --format), and the
  // format the last load used.
  FormatChoice LoadFormat = FormatChoice::Auto;
  ObjectFormat LastLoadFormat = ObjectFormat::Binary;
  // Why the last project file was refused, with its path and what was
  // taken from it; empty when it was not refused on its marks.
  std::string LastProjectRefusal;
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

  // --- Programmers ---
  // Ports named by the operator (--ports, VELKOR_PORTS) or the simulator's:
  // they replace the search over the machine's USB serial adapters.
  std::vector<std::string> ExplicitPorts;
  // --- USB serial adapters (discovery.cpp) ---
  // Where adapters are looked up: sysfs and /dev (tests give a fake tree).
  DeviceRoots Devices;
  // The adapter of each programmer's port as it was opened; unknown for a
  // port without one (pseudo-terminals).
  UsbIdentity PortAdapter[2];
  // An adapter was plugged in or pulled out: a programmer whose port went
  // with it is hung up at once (its operation fails); the programmers are
  // searched again once the ports have settled and no operation runs.
  void UsbPortsChanged(const HotplugEvent& event);
  void SearchWhenSettled(std::chrono::milliseconds delay);
  std::chrono::milliseconds HotplugSettle{700};
  SettleTimer HotplugSearch;
  // Names the adapter of the programmer's freshly opened port in the log and
  // lowers its latency timer, or says how to.
  void ShowPortAdapter(int channel);
  // Where host-side serial numbers come from when not from the serial-number
  // edit box (several groups of programmers, a production line's pool, a
  // list file, a generator program); not owned.
  SerialValueSource* NumberSource = nullptr;
  // Where each chip's record goes besides the record file (a production
  // line's database): every chip's, also with the record file off; not owned.
  TraceRecordSink* RecordSink = nullptr;
  // Where sessions of locked jobs go besides the log; not owned.
  SessionSink* SessionRecords = nullptr;
  // The indices a serial-number generator is given: first, first + step, …
  // (several groups of programmers of one run take turns).
  uint64_t GeneratorIndexFirst = 1;
  uint64_t GeneratorIndexStep = 1;
  // The pool NumberSource draws from, named in the records.
  std::optional<std::string> NumberPool;
  // The production line's database (EditLineDb, EditStation, EditLinePool);
  // not owned, nothing when the program has none.
  ProductionLine* Line = nullptr;
  // --- What every chip's record names besides the chip ---
  // This station's name: the one set (EditStation, velkor-cli --station),
  // else the host name. The record file and the line's database both take
  // it from here.
  std::string Station() const;
  // The job the chips belong to: "20261211T034512-7f3a9c21", the UTC time
  // it was made and 32 random bits. A new one is made when the program
  // starts and whenever the job changes (another chip chosen, an object file
  // or a project loaded); the log names it once, with its first recorded
  // chip.
  const std::string& JobId() const { return jobId_; }
  void RenewJobId();
  // One id for a whole run, kept whatever the job's changes: every group of
  // programmers of one velkor-cli run shares it.
  void HoldJobId(const std::string& id);
  // The file the image came from, named in the records of the chips that
  // were given or compared with it: the object file as loaded, or the image
  // file a loaded project names (the project file itself when it names
  // none); empty when the image came from a chip read, or nothing was
  // loaded since the chip was chosen.
  std::string ImageFile;
  // A one-shot conversion has no use for the image once it is saved: each
  // block's memory then goes back to the system as soon as it is written,
  // so the output file's new pages reuse it instead of memory the system
  // must find anew (what costs most on a busy machine). The image reads
  // erased where it was written afterwards. Off in the window.
  bool ReleaseImageAsSaved = false;
  // What the saves give the writer for it: nothing unless
  // ReleaseImageAsSaved.
  BytesWritten SavedBytesRelease();
  // The locked job in force: its path and its lock ("hmac-sha256-passphrase
  // 3f9a…"); both empty when the job was not loaded from a locked job, and
  // cleared when the job changes. Every chip's record names them.
  std::string LockedJobPath;
  std::string LockedJobLock;
  // The SHA-256 of the locked job's image, as its lock block states it.
  std::string LockedJobImageSha256;
  // The digests of the image's used range (ChipStart..ChipEnd): what a
  // chip is given, or what a read returned.
  ImageDigest UsedRangeDigest() const;
  // The log line of line, a text with the range and the digests to fill in
  // ("Image %s: %s." gives "Image 0x000000-0x00FFFF: SHA-256 …, CRC-32 …."),
  // and the same digests in the checksum panels' hints; kept in LastDigest.
  void ShowDigest(const char* line);
  // The digests the last load or chip read showed.
  ImageDigest LastDigest;
  // Something about the line's database the operator must know, though the
  // run goes on: the log and a box.
  void LineNotice(const std::string& text);
  // Added to the channel number in records: the command line drives more
  // than two programmers as groups of two, numbered on from group to group.
  int ProgrammerNumberBase = 0;
  // The port searched for each programmer number, in order. A named port
  // that cannot be used leaves its place empty, so the ports after it keep
  // the numbers their place in the list gives them.
  std::vector<std::string> SearchSlots;
  // Programmers identified since the last search or list refresh.
  uint8_t DevicesFound = 0;
  // The full identification text of each channel's programmer, once known.
  std::string DeviceName[2];
  // What each programmer reported about itself when it was identified: its
  // capability byte and its serial-number settings.
  struct ProgrammerReport {
    uint8_t capability = 0;
    bool settingsReported = false;
    bool serialNumbersOn = false;
    uint16_t increment = 1;
    uint32_t startAddress = 0;
    uint32_t initial = 0;
    uint32_t current = 0;
  };
  ProgrammerReport Reported[2];
  // A capability byte above this announces the streamed chip read.
  static constexpr uint8_t kStreamedReadCapability = 0x32;
  // What discovery found of each programmer's firmware against the file's;
  // Unknown before it answers and once its firmware has been replaced.
  enum class FirmwareState { Unknown, Current, Older, BootLoaderOnly };
  FirmwareState FirmwareFound[2] = {FirmwareState::Unknown, FirmwareState::Unknown};
  // Whether discovery upgrades a programmer whose firmware is older than the
  // file's, or that answers with its boot loader only (the window). When off
  // (the command line, which upgrades only when asked), the older one is
  // identified as it is and the other stays unidentified; FirmwareFound
  // tells which.
  bool UpgradeWhenFound = true;
  // The version text of the firmware file ("V3.10"); empty when none.
  std::string FirmwareVersion;
  // The firmware file read at start-up, and whether it can be sent.
  FirmwareFile Firmware;
  bool FirmwareReady = false;

  void ListSerialPorts();
  void BitBtnFreshClick();
  void BitBtnFindCOMClick();
  bool IdentifyReply(LinkChannel& channel, uint16_t& frameLength) override;
  bool DispatchReply(LinkChannel& channel, uint16_t& frameLength) override;
  // 3 when the programmer's firmware is older than the firmware file's, else 0.
  int CheckFirmwareVersion(const std::string& identification);
  void ReportSerialSettings(int channel, uint16_t replyLength);
  void RequestHangup(int channel);
  // Hands a programmer whose firmware must be replaced to the upgrade.
  void StartUpgrade(int channel);

  // --- Firmware upgrade ---
  // The installed data folder searched for the firmware file (tests point
  // it elsewhere before the window is shown).
  std::filesystem::path InstalledFolder = InstalledDataFolder();
  // A firmware file named by the operator (velkor-cli upgrade --firmware):
  // read at start-up in place of the first one found in the folders.
  std::filesystem::path FirmwareFileNamed;
  // The folders searched for the firmware file, first match wins: the start
  // directory, the user's data folder, the installed data folder.
  std::vector<std::filesystem::path> FirmwareFolders() const;
  // The first firmware file in those folders; empty when there is none.
  std::filesystem::path FindFirmwareFile() const;
  // At start-up: the first firmware file found (the log names it), or a line
  // and a box saying it is missing.
  void CheckFirmwareFile();
  void LoadFirmwareFile(const std::filesystem::path& path);
  void SendFirmwareChunk(int channel, uint16_t address);
  void FirmwareReply(int channel);
  // Upgrades these programmers in turn; one that is busy or whose port has
  // closed is skipped, and the log says so.
  void UpgradeProgrammers(const std::vector<int>& channels);

  // --- Replies and time-outs ---
  // The message of a failure code, shown in a box after the receive event
  // that brought it has returned, then logged for the channel.
  void ShowResult(int channel, uint8_t code);
  // The same for a failure text, with a second line in the box only (the
  // log has its own lines for the detail).
  void ShowResultText(int channel, const std::string& text, const std::string& detail = "");
  // The 10 ms tick: creeping gauges and reply time-outs.
  void Timer1Timer();
  // Host-side serial numbers: the next chip gets the next number.
  void StepSerialNumber();

  // --- Commands to a programmer (built in the channel's packet buffer) ---
  ImageChecksums Checksums() const { return {Image.Crc16, Image.AccSum16}; }
  std::span<const uint8_t> ImageBytes() const { return {Image.Data.get(), kImageCapacity}; }
  // Download pacing: the start packet first, then the block at BlockPos.
  void DownloadStep(int channel);
  bool SendChipCommand(int channel, uint8_t code, uint32_t parameter);
  bool SendProgramBlock(int channel);
  bool SendFinish(int channel, uint8_t code);

  // --- Start-up and shut-down ---
  // The first showing of the window: start directory, pages, the log
  // folder, the reset, the greeting, the programmer search.
  void FormShow();
  void StartupReset();
  // Space and Enter start automatic programming; Esc stops (SpdBtnStopClick).
  void FormKeyPress(char key);
  static constexpr char kEscapeKey = '\x1b';
  // Exit button and menu: closes the ports and the window.
  void SpdBtnExitClick();
  // The window closes: ports closed, log file written.
  void FormClose();
  const std::filesystem::path& StartDirectory() const { return startDirectory_; }
  // Where the automatic log files go (set by FormShow).
  const std::filesystem::path& LogFolder() const { return logFolder_; }

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
  // Ends it: idle, gauge full, blue or red, "操作成功！" or "操作失败！";
  // then the traceability record and OperationEnded hear of it.
  void EndOperation(int channel, bool failed, const EndCause& cause = {});
  // Told of every operation's end, after the channel's log line.
  std::function<void(const OperationOutcome&)> OperationEnded;
  // The failure message of a programmer's status.
  static std::string ResultText(uint8_t status);
  // Replies too short for what they should carry.
  static constexpr const char* kNoWholeBlock = TextKey("The programmer's reply holds no whole block of data.");
  static constexpr const char* kTooFewIdBytes = TextKey("The programmer's reply holds too few identification bytes.");
  // Shows the progress report held in the channel's packet buffer.
  void ShowProgressReport(int channel);
  // The stages a programmer's own programming cycle starts and ends with.
  static constexpr uint8_t kCycleStageStart = 0x10;
  static constexpr uint8_t kCycleStageCompleted = 0xF0;
  GaugeControl& Gauge(int channel) { return channel == 1 ? Controls.GaugeBar1 : Controls.GaugeBar2; }
  // The clock of elapsed times and transfer speeds (tests set one they
  // drive).
  std::function<SteadyTime()> SteadyNow = [] { return std::chrono::steady_clock::now(); };
  // Where programmer n's operation, or the programming cycle it runs by
  // itself, has come to: what its progress line shows. The last figures
  // stay after the end, without a time left.
  ProgressFigures ProgressOf(int channel) const;
  // Brings the progress lines up to now. ShowControls does it with every
  // reply; a timer runs it while the window is shown, so that the elapsed
  // time moves also while a programmer works by itself.
  void RefreshProgress();
  LabelControl& ProgressLine(int channel) { return channel == 1 ? Controls.LabelProgress1 : Controls.LabelProgress2; }
  ResultControl& ResultPanel(int channel) { return channel == 1 ? Controls.PanelResult1 : Controls.PanelResult2; }
  LabelControl& CountsLine(int channel) { return channel == 1 ? Controls.LabelCounts1 : Controls.LabelCounts2; }

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

  // --- Programming operations ---
  // Fills the job settings and the option-dependent chip fields from the
  // controls; raises EConvertError for an edit box that holds no integer.
  void PrepareJob();
  // Host-side serial numbers: on when both their boxes are ticked (the
  // host-side box keeps its tick while disabled with serial numbers off).
  bool HostSerialNumbersOn() const { return Controls.ChkBoxPCSN.Checked && Controls.CheckBoxSN.Checked; }
  // Writes the serial number into the image; false (with a box saying why)
  // when its bytes lie outside the programmed range.
  bool WriteSerialNumber();
  // Writes bytes as they are at the serial-number address, with the same
  // checks.
  bool WriteSerialBytes(const std::vector<uint8_t>& bytes);
  // The number of the chip about to start on channel n into the image: from
  // NumberSource when there is one (given back unused when it cannot be
  // written), else the edit box's.
  bool PlaceSerialNumber(int n);
  // Whether a run with host-side serial numbers may start now: not while a
  // programmer is busy (the log says which).
  bool NumberedRunMayStart();
  // A press of program or automatic programming with host-side numbers:
  // the first free programmer starts, the others follow one by one.
  enum class NumberedKind { Program, Auto };
  void StartNumberedRun(NumberedKind kind);
  // After a numbered chip has ended: the next programmer of the press, with
  // the next number (stepped here when the chip before did not step it).
  void ContinueNumberedRun(uint32_t previousNumber);
  bool NumberedRunPending() const { return !numberedQueue_.empty(); }
  // The last numbered run left programmers without a chip: a number could
  // not be had for them (the list used up, the generator failed, ...).
  bool NumberedRunCutShort = false;

  // --- Reading a chip back to compare it ---
  // A failed verify or blank check reads the chip back (when ChkBoxLocate is
  // ticked) to name where it differs; a read-back larger than this is left
  // out, and the log says how to have it anyway.
  static constexpr uint64_t kLocateLimitBytes = uint64_t{16} << 20;
  // Verify by read-back: every free programmer reads its chip, and the host
  // compares it with the image (velkor-cli verify --readback).
  void ReadbackVerifyClick();
  // The first address of the last difference found, shown by GoToDifference1.
  std::optional<uint32_t> LastDifference;
  // The data page's grid moves to the first difference.
  void GoToDifferenceClick();

  // --- Editing the image in the hex views (image_edit.cpp) ---
  // The views' edit model over the used range; its history goes whenever
  // the image is replaced (a load, a chip read, another chip).
  HexEditor Editor{Image.Data.get()};
  // A key typed into a hex view at the cursor: a hex digit in the hex
  // column, a character in the text column.
  void TypeIntoImage(char32_t key);
  void UndoImageEdit();
  void RedoImageEdit();
  // Fills the selection (the byte at the cursor when none is made) with the
  // hex bytes of the text, repeated.
  void FillSelection(const std::string& hexText);
  // Overwrites from the cursor on: hex bytes in the hex column, the text's
  // own characters in the text column.
  void PasteIntoImage(const std::string& text);
  // The selected bytes as hex text, for the clipboard.
  std::string SelectionAsText() const;
  // Moves the cursor to a typed address (decimal, or hex after 0x, x or $).
  void GoToImageAddress(const std::string& text);
  // Finds the request's bytes from the cursor on (forward, past the cursor's
  // byte; backward, before it) and selects them; false, with a log line,
  // when they are not there.
  bool FindInImage(const FindRequest& request);
  // The last find again, in the direction given.
  bool FindAgain(SearchDirection direction);
  std::optional<FindRequest> LastFind;
  // The menu's editing commands; those that need more ask the view.
  void Undo1Click() { UndoImageEdit(); }
  void Redo1Click() { RedoImageEdit(); }
  void CopyBytes1Click();
  void PasteBytes1Click();
  void SelectAllBytes1Click();
  void FillSelection1Click();
  void GoToAddress1Click();
  void Find1Click();
  void FindNext1Click() { FindAgain(SearchDirection::Forward); }
  void FindPrevious1Click() { FindAgain(SearchDirection::Backward); }
  // The edits and the comparison's differences in the status bar.
  void ShowEditStatus();

  // --- Comparing the image (image_comparison.cpp) ---
  // The image against another: a file loaded for the comparison, or the
  // data of the last chip read. Ranges over the whole chip, listed up to
  // kDefaultListedRanges; kept up to date as the image is edited.
  std::optional<ImageComparison> Comparison;
  // What the image is compared with, for the list's title and the log.
  std::string ComparedWith;
  void CompareWithFile1Click();
  void CompareWithFile(const std::string& path);
  void CompareWithChipRead1Click();
  // The cursor to the next or previous differing range.
  void NextDifference1Click();
  void PreviousDifference1Click();
  void CloseComparison1Click();
  // Moves the cursor to listed range index and selects it.
  void ShowDifference(std::size_t index);
  // The data of the last completed chip read (the Read command), over
  // 0..ChipReadLast; nothing before the first.
  ImageBuffer ChipRead;
  std::optional<uint32_t> ChipReadLast;

  // --- Commands ---
  void SpdBtnDownLoadClick();
  void SpeedButtonRDClick();
  void BlankCheck1Click();
  void SpdBtnEraseClick();
  void SpdBtnProgClick();
  void SpdBtnVerifyClick();
  void SpdBtnAutoPClick();
  void ReadChipIDandStatus1Click();
  void DoFirmwareUpgrade1Click();
  // Stop (tool bar, Command menu, Esc; velkor-cli's Ctrl+C): every busy
  // programmer's host-driven transfer ends after the block in flight, as
  // stopped, and no further step or programmer of the run starts. What a
  // programmer runs by itself ends on its own; the log says so for each.
  void SpdBtnStopClick();
  // Whether a stop was asked of the operation under way on the channel.
  bool StopAsked(int channel) const { return stopAsked_[channel - 1]; }
  void FileOpenBtnClick();
  // The load that follows the open dialog, for a file named otherwise.
  void LoadFile(const std::string& path);
  void FileSaveBtnClick();
  void LoadFromOrvaneProjectClick();
  // The load that follows the project open dialog, for a file named
  // otherwise: the log line, the flags cleared, LoadProject, the ranges and
  // checksums completed. With contents, the project is read from those bytes
  // (the file as it was checked), and path only names it.
  void LoadProjectFile(const std::string& path, std::optional<std::string_view> contents = std::nullopt);
  // A file dropped on the window, chosen from the recent files or named at
  // start-up: a project file (by its .OVP extension, or for an extension the
  // object loaders do not know, by its marks) goes to LoadProjectFile,
  // anything else to LoadFile.
  void OpenDataFile(const std::string& path);
  // Told of every object or project file whose data was loaded, with the
  // path as the load was given it.
  std::function<void(const std::string& path)> DataFileLoaded;
  void SaveToOrvAneProjectClick();
  // Project files: the whole job written to path, or restored from it field
  // by field (the command around it clears and completes the flags and the
  // ranges). Input/output errors and a truncated file raise EInOutError.
  void SaveProject(const std::string& path);
  void LoadProject(const std::string& path, std::optional<std::string_view> contents = std::nullopt);
  // Locked jobs: the project followed by its lock block (data/job_lock_block).
  // SaveLockedJob writes the current job locked with key; input/output
  // errors raise EInOutError. LoadLockedJob verifies the file against its
  // lock and loads it as a project only when nothing differs; the outcome
  // lists each difference (and the log shows them).
  struct LockedJobOutcome {
    bool loaded = false;
    std::vector<std::string> differences;
  };
  void SaveLockedJob(const std::string& path, const JobKey& key);
  LockedJobOutcome LoadLockedJob(const std::string& path, const JobKey& key);
  // The window's locked-job commands. Saving asks for a passphrase (none: a
  // plain SHA-256 lock); opening asks for the key the job's lock needs and
  // shows a refusal with every difference. OpenLockedJob and
  // EnterOperatorMode take the key when it is given, otherwise ask for it;
  // each returns whether the job was loaded.
  void SaveLockedJob1Click();
  void OpenLockedJob1Click();
  bool OpenLockedJob(const std::string& path, std::optional<JobKey> key);
  // Operator mode: the locked job is loaded checked, and then nothing that
  // changes it can be used (OperatorLockedControls) or run
  // (RefusedInOperatorMode) until the key the job was locked with is given
  // to LeaveOperatorMode1Click.
  void OperatorMode1Click();
  bool EnterOperatorMode(const std::string& path, std::optional<JobKey> key);
  void LeaveOperatorMode1Click();
  struct OperatorModeState {
    bool active = false;
    JobLockKind kind = JobLockKind::Digest;
    std::string keyCheck;  // HMAC-SHA256 of LockedJobLock keyed by the job's key
  };
  OperatorModeState Operator;
  // The session of the locked job in force: begun by its first operation
  // (BeginOperation), ended when the job changes, operator mode is left or
  // the program ends.
  std::optional<JobSession> Session;
  void EndSession();
  std::vector<Control*> OperatorLockedControls();
  // In operator mode: the refusal of action in the log and a warning box.
  bool RefusedInOperatorMode(const char* action);
  // Refused in operator mode or while a programmer works.
  bool RefusedJobChange(const char* action);
  void ViewDataBuffer1Click();
  void BitBtnFixSNClick();
  // OK of the fixed-data dialog: writes its text into the image.
  void BitBtnOKClick();
  void About1Click();

  // --- Image: what the image routines report ---
  void SetStatusPanel(int panel, const std::string& text) override;
  void ShowHexView(uint32_t first, uint32_t last) override;
  void Warn(const std::string& text) override;
  void SetBusy(bool busy) override;
  void ChecksumRangeSettled(const ImageBuffer& image) override;
  // The recompute after every change of the image.
  void RecomputeImage();

  // Runs a command the way the window runs every handler: an error it
  // raises (a text that is not an integer, a file that cannot be read) is
  // shown in an error box and ends the command; the program goes on.
  void RunCommand(const std::function<void()>& command);

  // --- The job lock ---
  bool AnyProgrammerBusy() const;
  // "programmer 1 is busy (program)", for each busy programmer.
  std::string BusyProgrammers() const;
  // While a programmer is busy: a box and a log line say that action waits,
  // and the caller stops. False when no programmer is busy.
  bool RefusedWhileBusy(const char* action);
  // The controls held disabled while a programmer is busy.
  std::vector<Control*> JobLockedControls();
  // Operator mode's disabled controls, its banner and its menu entries.
  void ShowOperatorControls();
  // Which key a locked job's file wants (nothing, with a box, when it is
  // not a locked job), and that key asked of the person at the window.
  std::optional<JobLockKind> LockKindOfJob(const std::string& path);
  std::optional<JobKey> AskJobKey(JobLockKind kind);
  // The key given, or else the one asked for by the job's kind of lock.
  std::optional<JobKey> KeyForJob(const std::string& path, std::optional<JobKey> given);
  // Begins the session of a locked job at its first operation, and adds a
  // programmer that joins it later.
  void FollowSession(int channel);
  // The good and failed burn counters: the status bar's totals and each
  // programmer's beside its result panel.
  void ShowCounters();
  // A chip burnt good or failed on the channel (an automatic run, or a cycle
  // the programmer ran by itself): counted for it and in the totals.
  void CountBurn(int channel, bool good);
  // Exit while a programmer is busy: asks first; on yes, every busy
  // operation ends as failed with a log line that says it was interrupted.
  // False when the operator keeps the program running.
  bool ConfirmExit();
  // Ends every busy operation as failed, with a log line (and a record line
  // for a chip) saying that cause interrupted it and where it stood.
  void InterruptOperations(const std::string& cause);
  // Updates the job lock and tells the view the controls changed.
  void ShowControls();

 private:
  // --- Editing and comparing (image_edit.cpp, image_comparison.cpp) ---
  // No chip, no range, or a programmer at work (with a box saying so).
  bool EditRefused();
  // What follows an edit: checksums, comparison, grid rows, status bar.
  void ImageEdited(const std::optional<AppliedEdit>& edit);
  // The image was replaced: a new edit history over the new used range,
  // and a comparison against the new image.
  void ImageReplaced();
  void FollowEditInComparison(const AppliedEdit& edit);
  // Compares the image with other over the chip and shows the result.
  void CompareWith(const ImageBuffer& other, const std::string& name);
  std::string ComparisonStatus() const;
  // A completed chip read: its data kept for CompareWithChipRead1Click.
  void KeepChipRead();
  const ImageBuffer* comparedImage_ = nullptr;
  ImageBuffer compareFile_;

  void SetChipName(const std::string& caption);
  // The preconditions of an operation: a chosen chip and, if needed, loaded
  // data, and for one that touches chips the line's database when one is
  // set; a warning box says what is missing.
  bool CheckPreconditions(bool needsFile, bool touchesChips = true);
  // Opens the line's database the settings name, or lets go of it when none
  // is named; with a pool, the chips' numbers come from it. False (with a
  // box) when chips may not start.
  bool UseLine();
  bool numbersFromLine_ = false;
  // Opens the serial-number list or generator the settings name (kept open
  // while they stay the same), or lets go of it when none is named. False
  // (with a box) when chips may not start.
  bool UseSerialSource();
  std::unique_ptr<SerialValueSource> ownSource_;
  std::string ownSourceKey_;
  // The first command of program and of automatic programming on channel n
  // (the ID check first, when it is on).
  void StartProgram(int n);
  void StartAuto(int n);
  void BeginProgram(int n);
  void BeginAuto(int n);
  // Whether the chip's ID is read and compared before it is programmed; the
  // log says when the chip has none to compare.
  bool ChecksChipId(int n);
  void StartIdCheck(int n, bool autoRun);
  void CheckIdReply(int n, uint16_t packetLength);
  // What the chip on each channel answered to the last read of its ID,
  // since its operation started.
  std::optional<std::array<uint8_t, 2>> chipId_[2];
  std::vector<uint8_t> chipStatus_[2];
  void StartNumberedChip(int n);
  // Whether the operation's range (the used size) fits the packets' 16-bit
  // KB fields, or extended addressing is on; a box and the log say why not.
  bool RangeAddressable();
  // The reads run on programmer 1 only: it must be identified and free.
  bool ProgrammerOneFree();
  // Whether a firmware upgrade may start on the channel now; the log says
  // why not.
  bool MayUpgrade(int channel);
  // The menu command's question: one line per programmer, naming it and
  // the versions from and to.
  std::string UpgradeQuestion(const std::vector<int>& channels) const;
  void ShowProtectSetting();
  // Project files: the record of the current job, and each part of a read
  // record applied as a load reaches it.
  ProjectRecord GatherProject() const;
  void RestoreProjectPart(const ProjectRecord& record, ProjectPart part);

  // Reading back: what the read compares, and the end of the operation it
  // belongs to. The channel's Operation is kOpReadBack meanwhile.
  struct ReadBack {
    uint8_t operation = kOpVerify;  // the operation it explains or carries out
    uint8_t autoRun = 0;
    bool againstErased = false;     // a blank check: every byte should be 0xFF
    bool carriesResult = false;     // a verify by read-back: the comparison is the result
    bool streamed = false;
    uint64_t rangeEnd = 0;          // the image bytes [0, rangeEnd) are compared
    ChipParams chip;                // as the read commands give it
    EndCause cause;                 // how the operation ended before the read
    DifferenceReport report;
  };
  // The read-back that explains how operation ended (cause); and the one
  // that is a verify of its own.
  static ReadBack Explaining(uint8_t operation, uint8_t autoRun, bool againstErased, EndCause cause);
  static ReadBack VerifyingByReadBack();
  std::optional<ReadBack> readBack_[2];
  // Starts reading the chip on channel n back after the operation found it
  // differs (cause) or to verify it; false when it is not read back (the
  // log says why), and the caller ends the operation as before.
  bool StartReadBack(int n, ReadBack readBack);
  void SendReadBackBlock(int n);
  void ReadBackReply(int n, uint16_t packetLength);
  void ReadBackFailed(int n, uint8_t result);
  void FinishReadBack(int n);
  // An operation ending while its chip is being read back: the operation it
  // belongs to again, and the cause it ended with before the read.
  void SettleReadBack(int n, bool& failed, EndCause& cause);

  // Where the operation under way on channel n takes a stop: after the
  // block in flight, after the step in flight (the automatic run's erase,
  // the ID check), or not at all (what the programmer runs by itself).
  enum class StopPoint { AfterBlock, AfterStep, NotFromHost };
  StopPoint StopPointOf(int n) const;
  // Where the host would send the next block or start the next step: when
  // a stop was asked, ends the operation as stopped and returns true.
  bool EndIfStopped(int n);
  // An operation ending while a stop was asked of it: the block in flight
  // that was never answered ends it as stopped rather than timed out.
  void SettleStop(int n, bool& failed, EndCause& cause);
  bool stopAsked_[ProgrammerChannels::kChannelCount] = {};
  // A stand-alone cycle reported its start and not yet its end.
  bool cycleUnderWay_[ProgrammerChannels::kChannelCount] = {};

  // What a successful reply does for the operation under way.
  void DownloadReply(int channel);
  void EraseReply(int channel);
  void ProgramReply(int channel);
  void VerifyReply(int channel);
  void BlankCheckReply(int channel, uint8_t result);
  void ReadBlockReply(int channel, uint16_t packetLength);
  void StreamedReadReply(int channel, uint16_t packetLength);
  void ReadIdReply(int channel, uint16_t packetLength);
  void FinishRead(int channel);
  // The Log folder in the start directory, or in the user's data folder
  // when the start directory cannot be written (the log says so).
  std::filesystem::path PrepareLogFolder();

  // What each programmer's progress line is made from: the operation under
  // way, or the stage of the cycle the programmer runs by itself.
  struct ProgressTrack {
    bool running = false;
    int step = -1;           // the operation's code, or the cycle stage's (kCycleStep + its code)
    std::string stage;
    SteadyTime since{};      // where the elapsed time counts from
    bool counted = false;    // whether the step moves amounts the host counts
    uint32_t unitBytes = 0;  // bytes per counted unit; 0: units of a size not known
    TransferEstimate transfer;
    ProgressFigures last;    // shown once it has ended
  };
  static constexpr int kCycleStep = 0x100;
  ProgressTrack progress_[2];
  // Follows the operation under way on channel n: its step and how far the
  // step's transfer has come.
  void FollowOperation(int n);
  // Follows a stage of the cycle programmer n runs by itself; done and
  // total count its blocks, when the stage moves any (total 0: none).
  void FollowCycleStage(int n, uint8_t code, const char* stage, int done, int total);
  // The figures stay as they are now; the panel shows how it ended, with
  // the sound when it is asked for.
  void EndProgress(int n, ResultState result);
  // Shows the figures in the progress line; true when its text changed.
  bool ShowProgressLine(int n);
  MainLoop::TimerId progressTimer_ = 0;

  // Appends the chip's line to the traceability record file, when on.
  void RecordOutcome(const OperationOutcome& outcome);
  std::string jobId_ = NewJobId();
  bool jobIdHeld_ = false;
  // The last job id the log named.
  std::string loggedJobId_;

  MainLoop& loop_;
  ProgrammerView& view_;
  // When each channel's operation started, and the host-side serial
  // number its chip got.
  std::chrono::steady_clock::time_point operationStart_[2];
  std::optional<uint32_t> serialNumber_[2];
  // The value NumberSource gave the chip about to start, and the one each
  // channel's chip holds, to be handed back when the chip ends.
  std::optional<SerialValue> placedValue_;
  std::optional<SerialValue> serialValue_[2];
  // When each programmer's current stand-alone cycle started.
  std::chrono::steady_clock::time_point cycleStart_[2];
  RandomSource random_ = MakeRandomSource();
  // A load that shows the image's digest computes its SHA-256 on a second
  // thread while the checksums of the same range are computed (shaAhead_
  // asks for it); ShowDigest takes it when its range is the one shown.
  // Always waited for before the load returns: the image must not change
  // under it.
  struct ShaAhead {
    std::future<std::string> sha;
    const uint8_t* data = nullptr;
    std::size_t size = 0;
  };
  bool shaAhead_ = false;
  std::optional<ShaAhead> pendingSha_;
  // The used range ChipStart..ChipEnd as bytes of the image.
  std::pair<const uint8_t*, std::size_t> UsedRangeBytes() const;
  // Where the session in force was kept, and its id there.
  SessionSink* sessionSink_ = nullptr;
  std::optional<int64_t> sessionRecordId_;
  MainLoop::TimerId tickTimer_ = 0;
  // The programmers still to follow in a numbered press, and what they run.
  std::vector<int> numberedQueue_;
  NumberedKind numberedKind_ = NumberedKind::Program;
  // The missing firmware file's box, shown at the end of the start-up.
  bool firmwareBoxDue_ = false;
  // The identification queries waiting for their ports to settle.
  MainLoop::TimerId identifyTimers_[ProgrammerChannels::kChannelCount] = {};
  std::unique_ptr<LogClock> clock_;
  std::filesystem::path startDirectory_;
  std::filesystem::path logFolder_;
  // The firmware file read at start-up; empty when none was found.
  std::filesystem::path firmwarePath_;
  bool shown_ = false;
};

}  // namespace velkor
