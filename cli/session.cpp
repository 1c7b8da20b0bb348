#include "cli/session.hpp"

#include <algorithm>
#include <csignal>
#include <filesystem>

#include "chips/chip_lookup.hpp"
#include "cli/exit_status.hpp"
#include "cli/upgrade.hpp"
#include "data/object_file.hpp"
#include "data/text_format.hpp"
#include "link/operation_codes.hpp"
#include "platform/serial_device.hpp"
#include "platform/serial_ports.hpp"
#include "platform/text_file.hpp"

namespace velkor::cli {

namespace {

using namespace std::chrono_literals;

volatile std::sig_atomic_t gInterrupted = 0;
volatile std::sig_atomic_t gSignal = 0;

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT (Ctrl+C)";
    case SIGHUP: return "SIGHUP (the terminal went away)";
    case SIGTERM: return "SIGTERM";
    default: return FormatText("signal %d", signal);
  }
}

void OnInterrupt(int signal) {
  gSignal = signal;
  gInterrupted = 1;
}

// The program's time-outs end every operation; this only guards against a
// fault of the program itself.
constexpr auto kOperationLimit = 24h;
constexpr int kLogAppend = 2;        // "追加到原文件尾部"
constexpr int kLogNamedFile = 1;     // "客户指定Log文件"
constexpr std::size_t kListedCandidates = 12;

int ExitStatusOf(const std::vector<OperationOutcome>& outcomes) {
  bool failed = false;
  for (const OperationOutcome& o : outcomes) {
    if (o.timedOut) return kExitTimeout;
    failed = failed || o.failed;
  }
  return failed ? kExitFailed : kExitOk;
}

}  // namespace

const std::vector<OperationCommand>& OperationCommands() {
  static const std::vector<OperationCommand> commands = {
      {Operation::Download, "download", "Download the job (chip, settings, data) into the programmers", true,
       &TQNProgrammer::SpdBtnDownLoadClick},
      {Operation::Auto, "auto", "Automatic programming: erase (if chosen), program, verify", true,
       &TQNProgrammer::SpdBtnAutoPClick},
      {Operation::Program, "program", "Program the chips with the loaded data", true, &TQNProgrammer::SpdBtnProgClick},
      {Operation::Verify, "verify", "Verify the chips against the loaded data", true, &TQNProgrammer::SpdBtnVerifyClick},
      {Operation::Erase, "erase", "Erase the chips", false, &TQNProgrammer::SpdBtnEraseClick},
      {Operation::BlankCheck, "blank", "Blank check the chips", false, &TQNProgrammer::BlankCheck1Click},
      {Operation::Read, "read", "Read the chip on programmer 1 into a binary file", false,
       &TQNProgrammer::SpeedButtonRDClick},
      {Operation::ReadId, "id", "Read the chip's ID and status on programmer 1", false,
       &TQNProgrammer::ReadChipIDandStatus1Click},
  };
  return commands;
}

Session::Session(EventOutput& output) : output_(output), view_(output), programmer_(loop_, view_) {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // A closed terminal ends the run as Ctrl+C does: cleanly, with records.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  view_.controlsChanged = [this] { ShowProgress(); };
  // No log file unless one is asked for (Connect).
  programmer_.LogCfg.CheckBoxLog.Checked = false;
  // Firmware is replaced only when asked for: velkor-cli upgrade.
  programmer_.UpgradeWhenFound = false;
}

Session::~Session() { Close(); }

bool Session::Interrupted() { return gInterrupted != 0; }

bool Session::RunCommand(const std::function<void()>& command) {
  const int before = view_.warnings;
  programmer_.RunCommand(command);
  return view_.warnings == before;
}

void Session::ShowProgress() {
  for (int n = 1; n <= 2; ++n) {
    if (!running_[n - 1]) continue;
    const GaugeControl& gauge = programmer_.Gauge(n);
    output_.Progress(n, gauge.Progress, gauge.MaxValue);
  }
}

int Session::Connect(const ConnectOptions& options, const RecordOptions& records) {
  // Before any chip is touched: a record or log that cannot be written
  // would be found out only when the chips are done.
  for (const std::string& file : {records.recordFile, records.logFile}) {
    if (file.empty()) continue;
    const std::string error = CheckAppendable(std::filesystem::absolute(file));
    if (error.empty()) continue;
    output_.Message(MessageKind::Error, "Nothing was started: " + error + ".");
    return kExitRefused;
  }
  if (options.simulate) {
    std::vector<std::string> args = {"--count", std::to_string(options.simulatorCount)};
    args.insert(args.end(), options.simulatorOptions.begin(), options.simulatorOptions.end());
    std::string error;
    // What the simulator says about each frame is for its own users.
    simulator_ = SimulatorProcess::Start(FindSimulatorProgram(), args, options.simulatorCount, 10s, error,
                                         options.simulatorLog.empty() ? "/dev/null" : options.simulatorLog);
    if (!simulator_) {
      output_.Message(MessageKind::Error, "The simulated programmers did not start: " + error);
      return kExitNoProgrammer;
    }
    programmer_.ExplicitPorts = simulator_->Ports();
  } else {
    programmer_.ExplicitPorts = options.ports;
  }

  // The log file is the window's, written when the session closes; on the
  // command line only when asked for.
  LogCfgControls& log = programmer_.LogCfg;
  log.CheckBoxLog.Checked = records.automaticLog || !records.logFile.empty();
  if (!records.logFile.empty()) {
    log.RadioGrpCreat.ItemIndex = kLogNamedFile;
    log.EditLogName.Text = std::filesystem::absolute(records.logFile).string();
    log.RadioGrpMod.ItemIndex = kLogAppend;
  }
  if (!records.recordFile.empty()) {
    programmer_.Controls.ChkBoxRecord.Checked = true;
    programmer_.Controls.EditRecordFile.Text = std::filesystem::absolute(records.recordFile).string();
  }

  searchTime_ = std::chrono::milliseconds(options.searchMs);
  upgrading_ = options.upgrading;
  namedPorts_ = programmer_.ExplicitPorts;
  allowMissing_ = options.allowMissing;
  RunCommand([this] { programmer_.FormShow(); });
  return AwaitSearch();
}

int Session::SearchAgain() {
  RunCommand([this] { programmer_.BitBtnFindCOMClick(); });
  return AwaitSearch();
}

int Session::AwaitSearch() {
  const std::size_t listed = programmer_.Controls.ComboBoxCOM.Items.size();
  const auto& slots = programmer_.SearchSlots;
  const std::size_t searched = std::min<std::size_t>(slots.size(), ProgrammerChannels::kChannelCount);
  const auto expected = static_cast<std::size_t>(
      std::count_if(slots.begin(), slots.begin() + static_cast<std::ptrdiff_t>(searched),
                    [](const std::string& port) { return !port.empty(); }));
  const auto answered = [this] {
    return static_cast<std::size_t>(programmer_.DevicesFound + ProgrammersWithoutFirmware(programmer_));
  };
  loop_.runUntil([&] { return Interrupted() || answered() >= expected; }, searchTime_);
  if (Interrupted()) return kExitFailed;

  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n)
    if (programmer_.Channels.Channel(n).Identified)
      output_.ProgrammerFound(n, programmer_.Channels.Port(n).CommName, programmer_.DeviceName[n - 1]);
  if (!upgrading_) AdviseUpgrades(programmer_, output_);
  if (const int missing = ReportMissingProgrammers(); missing > 0 && !allowMissing_) {
    output_.Message(MessageKind::Error, FormatText("Programmers missing: %d of those named; nothing was started "
                                                   "(--allow-missing goes on with the others).",
                                                   missing));
    return kExitNoProgrammer;
  }
  if (programmer_.DevicesFound > 0 || (upgrading_ && ProgrammersWithoutFirmware(programmer_) > 0)) return kExitOk;
  // Adapters found but not usable are named with their reason.
  if (listed == 0 && namedPorts_.empty())
    for (const PortCandidate& port : ScanUsbSerialPorts())
      if (port.access != PortCandidate::Access::Usable)
        output_.Message(MessageKind::Error, FormatText("Port %s (%s): %s.", port.name.c_str(),
                                                       DevicePathOf(port.name).c_str(), WhyUnusable(port).c_str()));
  output_.Message(MessageKind::Error, listed == 0 ? "No programmer port was found (see velkor-cli ports)."
                                      : ProgrammersWithoutFirmware(programmer_) > 0
                                          ? "No programmer with firmware was found."
                                          : "No programmer answered on the ports listed.");
  return kExitNoProgrammer;
}

int Session::ReportMissingProgrammers() {
  int missing = 0;
  const std::vector<PortCandidate> checked = CheckPorts(namedPorts_);
  for (std::size_t i = 0; i < checked.size() && i < ProgrammerChannels::kChannelCount; ++i) {
    // Programmer numbers follow the places in the list.
    const PortCandidate& port = checked[i];
    const int n = static_cast<int>(i) + 1;
    const bool searched = programmer_.Channels.Port(n).CommName == port.name;
    const bool bootLoaderOnly =
        searched && programmer_.FirmwareFound[n - 1] == TQNProgrammer::FirmwareState::BootLoaderOnly;
    if (searched && (programmer_.Channels.Channel(n).Identified || (upgrading_ && bootLoaderOnly))) continue;
    ++missing;
    // A port searched here reads as in use when this program still holds
    // it: it was opened and stayed silent.
    const std::string why = bootLoaderOnly ? "the programmer on it holds its boot loader only, no firmware"
                            : searched     ? "no programmer answered on it"
                                           : WhyUnusable(port);
    output_.Message(MessageKind::Error, FormatText("Port %s (%s): %s.", port.name.c_str(),
                                                   DevicePathOf(port.name).c_str(), why.c_str()));
  }
  return missing;
}

int Session::ChooseChip(const std::string& name) {
  const ChipLookup lookup = LookUpChip(name);
  if (!lookup.entry) {
    std::string text = "No chip \"" + name + "\" in the catalogue";
    if (lookup.candidates.empty()) {
      text += " (velkor-cli chips lists them).";
    } else {
      text += "; it fits more than one:";
      for (std::size_t i = 0; i < lookup.candidates.size() && i < kListedCandidates; ++i)
        text += " \"" + lookup.candidates[i]->caption + "\"";
      if (lookup.candidates.size() > kListedCandidates)
        text += FormatText(" and %zu more", lookup.candidates.size() - kListedCandidates);
      text += ".";
    }
    output_.Message(MessageKind::Error, text);
    return kExitUsage;
  }
  view_.chooseChip = [this, entry = lookup.entry] {
    programmer_.ChipSelectionFormShow();
    programmer_.ChooseChip(*entry);
  };
  const bool clean = RunCommand([this] { programmer_.DevButtonClick(); });
  view_.chooseChip = nullptr;
  return clean && programmer_.ChipConfirmed ? kExitOk : kExitRefused;
}

int Session::LoadObjectFile(const std::string& path, FormatChoice format, bool allowTruncate) {
  view_.fileAnswers = {path};
  programmer_.LoadFormat = format;
  const int before = view_.warnings;
  RunCommand([this] { programmer_.FileOpenBtnClick(); });
  view_.fileAnswers.clear();
  const bool truncated =
      DataBeyondChip(programmer_.Image, programmer_.Chip, path, programmer_.Controls.MCUNameEdit.Text).has_value();
  if (truncated && !allowTruncate) {
    output_.Message(MessageKind::Error, "Nothing was sent: --allow-truncate programs the chip's part of the data.");
    return kExitRefused;
  }
  // The one warning a truncation raises is allowed when asked for.
  if (view_.warnings - before > (truncated ? 1 : 0)) return kExitRefused;
  const LoadOutcome& load = programmer_.LastLoad;
  if (load.code != kRecordAccepted) {
    const bool binary = programmer_.LastLoadFormat == ObjectFormat::Binary;
    output_.Message(MessageKind::Error, FormatText("%s: loading stopped at %s %u: %s (code %d).", path.c_str(),
                                                   binary ? "offset" : "line", load.position,
                                                   RecordCodeMessage(load.code), int{load.code}));
    return kExitRefused;
  }
  return kExitOk;
}

int Session::LoadProject(const std::string& path) {
  view_.fileAnswers = {path};
  const bool clean = RunCommand([this] { programmer_.LoadFromOrvaneProjectClick(); });
  view_.fileAnswers.clear();
  if (!programmer_.LastProjectRefusal.empty()) {
    output_.Message(MessageKind::Error, programmer_.LastProjectRefusal);
    return kExitRefused;
  }
  return clean && programmer_.ChipConfirmed ? kExitOk : kExitRefused;
}

int Session::ApplyJob(const JobOptions& options) {
  const std::string error = ApplyJobOptions(options, programmer_);
  if (error.empty()) return kExitOk;
  output_.Message(MessageKind::Error, error);
  return kExitUsage;
}

int Session::Run(const OperationCommand& operation) {
  return Run([this, &operation] { (programmer_.*operation.handler)(); });
}

int Session::Run(const std::function<void()>& start) {
  std::vector<OperationOutcome> outcomes;
  programmer_.OperationEnded = [this, &outcomes](const OperationOutcome& outcome) {
    if (!running_[outcome.channel - 1]) return;
    running_[outcome.channel - 1] = false;
    outcomes.push_back(outcome);
    output_.Result(outcome, programmer_.DeviceName[outcome.channel - 1]);
  };
  const bool clean = RunCommand(start);
  // Programmers that have started and are not yet followed; with host-side
  // serial numbers the second one starts when the first has ended.
  const auto noteStarted = [this] {
    for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
      const LinkChannel& channel = programmer_.Channels.Channel(n);
      if (!channel.Busy || running_[n - 1]) continue;
      running_[n - 1] = true;
      output_.Started(n, OperationName(channel.Operation, channel.AutoRun != 0));
    }
  };
  noteStarted();
  if (!running_[0] && !running_[1]) {
    programmer_.OperationEnded = nullptr;
    if (!clean) return kExitRefused;
    const bool anyIdentified = programmer_.Channels.Channel(1).Identified || programmer_.Channels.Channel(2).Identified;
    output_.Message(MessageKind::Error, anyIdentified ? "No programmer was free to start the operation."
                                                      : "No programmer is connected.");
    return anyIdentified ? kExitRefused : kExitNoProgrammer;
  }
  loop_.runUntil(
      [this, &noteStarted] {
        noteStarted();
        return Interrupted() || (!running_[0] && !running_[1] && !programmer_.NumberedRunPending());
      },
      kOperationLimit);
  // Every chip started gets its result and record line, also when a signal
  // stopped the run.
  if (Interrupted()) programmer_.InterruptOperations(SignalName(gSignal));
  // The failure boxes follow the receive event that brought them.
  loop_.runFor(20ms);
  programmer_.OperationEnded = nullptr;
  if (Interrupted()) {
    output_.Message(MessageKind::Error, "Interrupted: the operations under way were stopped and recorded, and the "
                                        "ports closed.");
    return kExitFailed;
  }
  return ExitStatusOf(outcomes);
}

int Session::SaveImage(const std::string& path) {
  view_.fileAnswers = {path};
  const bool clean = RunCommand([this] { programmer_.FileSaveBtnClick(); });
  view_.fileAnswers.clear();
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (!clean || ec) return kExitFailed;
  output_.FileWritten("chip data", path, static_cast<std::size_t>(size));
  return kExitOk;
}

int Session::Close() {
  if (closed_) return kExitOk;
  closed_ = true;
  programmer_.OperationEnded = nullptr;
  programmer_.FormClose();
  // A chip without its record, or a run without its log, has not ended well.
  for (const std::string& failure : programmer_.WriteFailures) output_.Message(MessageKind::Error, failure);
  return programmer_.WriteFailures.empty() ? kExitOk : kExitFailed;
}

}  // namespace velkor::cli
