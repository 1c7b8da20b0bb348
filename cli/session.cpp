#include "cli/session.hpp"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <optional>

#include "app/convert.hpp"
#include "chips/chip_lookup.hpp"
#include "cli/exit_status.hpp"
#include "cli/upgrade.hpp"
#include "data/object_file.hpp"
#include "data/object_writer.hpp"
#include "data/text_format.hpp"
#include "link/operation_codes.hpp"
#include "platform/serial_device.hpp"
#include "platform/serial_ports.hpp"
#include "platform/text_file.hpp"
#include "store/line_station.hpp"
#include "text/text_table.hpp"

namespace velkor::cli {

namespace {

using namespace std::chrono_literals;

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return Tx("SIGINT (Ctrl+C)");
    case SIGHUP:
      return Tx("SIGHUP (the terminal went away)");
    case SIGTERM: return "SIGTERM";
    default:
      return FormatText(Tx("signal %d"), signal);
  }
}

// The program's time-outs end every operation; this only guards against a
// fault of the program itself.
constexpr auto kOperationLimit = 24h;
constexpr int kLogAppend = 2;        // "追加到原文件尾部"
constexpr int kLogNamedFile = 1;     // "客户指定Log文件"
constexpr std::size_t kListedCandidates = 12;
constexpr const char* kSimulatorDidNotStart = TextKey("The simulated programmers did not start: %s");
constexpr const char* kStopping = TextKey(
    "Ctrl+C: the programmers stop after the blocks in flight (what a programmer runs by itself ends first); "
    "Ctrl+C again ends the run at once.");

// A time-out or failure of any programmer outweighs a stop of another.
int ExitStatusOf(const std::vector<OperationOutcome>& outcomes) {
  bool failed = false;
  bool stopped = false;
  for (const OperationOutcome& o : outcomes) {
    if (o.timedOut) return kExitTimeout;
    stopped = stopped || o.stopped;
    failed = failed || (o.failed && !o.stopped);
  }
  return failed ? kExitFailed : stopped ? kExitStopped : kExitOk;
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
      {Operation::Read, "read", "Read the chip on programmer 1 into a file (binary, Intel HEX or S-records)", false,
       &TQNProgrammer::SpeedButtonRDClick},
      {Operation::ReadId, "id", "Read the chip's ID and status on programmer 1", false,
       &TQNProgrammer::ReadChipIDandStatus1Click},
  };
  return commands;
}

struct Session::Group {
  Group(EventLoop& loop, EventOutput& output, int firstBase) : view(output), programmer(loop, view), base(firstBase) {}
  CliView view;
  TQNProgrammer programmer;
  int base;  // programmer numbers base + 1 and base + 2
  bool running[2] = {false, false};
  std::vector<std::string> namedPorts;  // the ports the command line named for it, in order
};

Session::Session(EventOutput& output) : output_(output) {
  loop_.watchReadable(signals_.ReadFd(), [this] { TakeSignals(); });
  AddGroup();
}

Session::~Session() {
  Close();
  loop_.unwatch(signals_.ReadFd());
}

Session::Group& Session::AddGroup() {
  const int base = static_cast<int>(groups_.size()) * ProgrammerChannels::kChannelCount;
  Group& group = *groups_.emplace_back(std::make_unique<Group>(loop_, output_, base));
  group.view.controlsChanged = [this] { ShowProgress(); };
  group.programmer.ProgrammerNumberBase = base;
  // No log file unless one is asked for (Connect).
  group.programmer.LogCfg.CheckBoxLog.Checked = false;
  // Firmware is replaced only when asked for: velkor-cli upgrade.
  group.programmer.UpgradeWhenFound = false;
  if (groups_.size() > 1) group.programmer.FirmwareFileNamed = groups_.front()->programmer.FirmwareFileNamed;
  // One run, one job: every group's chips carry the first group's id, and
  // the station's name of the run.
  group.programmer.HoldJobId(groups_.front()->programmer.JobId());
  group.programmer.Controls.EditStation.Text = lineSettings_.station;
  return group;
}

TQNProgrammer& Session::Programmer() { return groups_.front()->programmer; }

void Session::ForEachGroup(const std::function<void(TQNProgrammer&, int base)>& visit) {
  for (const auto& group : groups_) visit(group->programmer, group->base);
}

void Session::TakeSignals() {
  for (const int signal : signals_.Take()) {
    if (signal == SIGINT && operationsRunning_ && !stopAsked_) {
      stopAsked_ = true;
      output_.Message(MessageKind::Warning, Tx(kStopping));
      for (const auto& group : groups_) group->programmer.RunCommand([&] { group->programmer.SpdBtnStopClick(); });
      continue;
    }
    // A closed terminal, a service's stop and a second Ctrl+C end the run
    // at once, cleanly: the chips under way are recorded as interrupted.
    if (interruptedBy_ == 0) interruptedBy_ = signal;
  }
}

bool Session::RunCommand(const std::function<void(TQNProgrammer&)>& command, bool allGroupsSpeak) {
  bool clean = true;
  for (const auto& group : groups_) {
    const bool speaks = allGroupsSpeak || group == groups_.front();
    group->view.echo = speaks;
    const int before = group->view.warnings;
    group->programmer.RunCommand([&] { command(group->programmer); });
    group->view.echo = true;
    clean = clean && group->view.warnings == before;
  }
  return clean;
}

void Session::ShowProgress() {
  for (const auto& group : groups_) {
    for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
      if (!group->running[n - 1]) continue;
      const GaugeControl& gauge = group->programmer.Gauge(n);
      output_.Progress(group->base + n, gauge.Progress, gauge.MaxValue, group->programmer.ProgressOf(n));
    }
  }
}

int Session::Connect(const ConnectOptions& options, const RecordOptions& records) {
  // Before any chip is touched: a record or log that cannot be written
  // would be found out only when the chips are done.
  for (const std::string& file : {records.recordFile, records.logFile}) {
    if (file.empty()) continue;
    const std::string error = CheckAppendable(std::filesystem::absolute(file));
    if (error.empty()) continue;
    output_.Message(MessageKind::Error, FormatText(Tx("Nothing was started: %s."), error.c_str()));
    return kExitRefused;
  }
  // The ports of the run, named or found; empty leaves the search of the
  // machine's adapters to the window's logic, as the window does.
  std::vector<std::string> ports;
  bool named = true;
  if (options.simulate) {
    std::vector<std::string> args = {"--count", std::to_string(options.simulatorCount)};
    args.insert(args.end(), options.simulatorOptions.begin(), options.simulatorOptions.end());
    std::string error;
    // What the simulator says about each frame is for its own users.
    simulator_ = SimulatorProcess::Start(FindSimulatorProgram(), args, options.simulatorCount, 10s, error,
                                         options.simulatorLog.empty() ? "/dev/null" : options.simulatorLog);
    if (!simulator_) {
      output_.Message(MessageKind::Error, FormatText(Tx(kSimulatorDidNotStart), error.c_str()));
      return kExitNoProgrammer;
    }
    ports = simulator_->Ports();
  } else if (!options.ports.empty()) {
    ports = options.ports;
  } else {
    // More than two adapters: each pair becomes a group.
    for (const PortCandidate& port : ScanUsbSerialPorts())
      if (port.access == PortCandidate::Access::Usable) ports.push_back(port.name);
    if (ports.size() <= ProgrammerChannels::kChannelCount) ports.clear();
    named = false;
  }
  if (ports.size() > static_cast<std::size_t>(kMostProgrammers)) {
    output_.Message(MessageKind::Error,
                    FormatText(Tx("%zu programmer ports: one run drives at most %d."), ports.size(), kMostProgrammers));
    return kExitUsage;
  }
  const std::size_t groupCount =
      std::max<std::size_t>(1, (ports.size() + ProgrammerChannels::kChannelCount - 1) / ProgrammerChannels::kChannelCount);
  while (groups_.size() < groupCount) AddGroup();

  for (const auto& group : groups_) {
    TQNProgrammer& p = group->programmer;
    const auto first = std::min(ports.size(), static_cast<std::size_t>(group->base));
    const auto last = std::min(ports.size(), first + ProgrammerChannels::kChannelCount);
    p.ExplicitPorts.assign(ports.begin() + static_cast<std::ptrdiff_t>(first),
                           ports.begin() + static_cast<std::ptrdiff_t>(last));
    if (named) group->namedPorts = p.ExplicitPorts;
    // The log file is the window's, written when the session closes; on
    // the command line only when asked for.
    LogCfgControls& log = p.LogCfg;
    log.CheckBoxLog.Checked = records.automaticLog || !records.logFile.empty();
    if (!records.logFile.empty()) {
      log.RadioGrpCreat.ItemIndex = kLogNamedFile;
      log.EditLogName.Text = std::filesystem::absolute(records.logFile).string();
      log.RadioGrpMod.ItemIndex = kLogAppend;
    }
    if (!records.recordFile.empty()) {
      p.Controls.ChkBoxRecord.Checked = true;
      p.Controls.EditRecordFile.Text = std::filesystem::absolute(records.recordFile).string();
    }
  }

  searchTime_ = std::chrono::milliseconds(options.searchMs);
  upgrading_ = options.upgrading;
  allowMissing_ = options.allowMissing;
  RunCommand([](TQNProgrammer& p) { p.FormShow(); });
  if (groups_.size() > 1) {
    // Each group writes its own part of a shared log: say whose it is.
    for (const auto& group : groups_)
      group->programmer.AppendInfo(FormatText(Tx("This part of the log is programmers %d and %d's (C1 and C2 below)."),
                                              group->base + 1, group->base + 2));
  }
  return AwaitSearch();
}

int Session::OpenLine(const LineSettings& settings) {
  // The station's name goes into the records also without a database.
  lineSettings_.station = settings.station;
  for (const auto& group : groups_) group->programmer.Controls.EditStation.Text = settings.station;
  if (!settings.Used()) return kExitOk;
  line_ = std::make_unique<store::StationLine>(
      [this](const std::string& text) { output_.Message(MessageKind::Warning, text); });
  if (const std::string error = line_->Use(settings); !error.empty()) {
    output_.Message(MessageKind::Error, FormatText(Tx("Nothing was started: %s."), error.c_str()));
    return kExitRefused;
  }
  lineSettings_ = settings;
  return kExitOk;
}

void Session::UseLine() {
  if (!line_) return;
  for (const auto& group : groups_) {
    TQNProgrammer& p = group->programmer;
    p.Line = line_.get();
    p.Controls.EditLineDb.Text = lineSettings_.database;
    p.Controls.EditStation.Text = lineSettings_.station;
    p.Controls.EditLinePool.Text = lineSettings_.pool;
  }
}

int Session::SearchAgain() {
  RunCommand([](TQNProgrammer& p) { p.BitBtnFindCOMClick(); });
  return AwaitSearch();
}

int Session::AwaitSearch() {
  std::size_t listed = 0;
  std::size_t expected = 0;
  for (const auto& group : groups_) {
    const TQNProgrammer& p = group->programmer;
    listed += p.Controls.ComboBoxCOM.Items.size();
    const auto& slots = p.SearchSlots;
    const std::size_t searched = std::min<std::size_t>(slots.size(), ProgrammerChannels::kChannelCount);
    expected += static_cast<std::size_t>(
        std::count_if(slots.begin(), slots.begin() + static_cast<std::ptrdiff_t>(searched),
                      [](const std::string& port) { return !port.empty(); }));
  }
  const auto answered = [this] {
    std::size_t count = 0;
    for (const auto& group : groups_)
      count += static_cast<std::size_t>(group->programmer.DevicesFound + ProgrammersWithoutFirmware(group->programmer));
    return count;
  };
  loop_.runUntil([&] { return Interrupted() || answered() >= expected; }, searchTime_);
  if (Interrupted()) return kExitFailed;

  int found = 0;
  int withoutFirmware = 0;
  int missing = 0;
  for (const auto& group : groups_) {
    TQNProgrammer& p = group->programmer;
    for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n)
      if (p.Channels.Channel(n).Identified)
        output_.ProgrammerFound(group->base + n, p.Channels.Port(n).CommName, p.DeviceName[n - 1]);
    if (!upgrading_) AdviseUpgrades(p, output_, group->base);
    missing += ReportMissingProgrammers(*group);
    found += p.DevicesFound;
    withoutFirmware += ProgrammersWithoutFirmware(p);
  }
  if (missing > 0 && !allowMissing_) {
    output_.Message(MessageKind::Error, FormatText(Tx("Programmers missing: %d of those named; nothing was started "
                                                      "(--allow-missing goes on with the others)."),
                                                   missing));
    return kExitNoProgrammer;
  }
  if (found > 0 || (upgrading_ && withoutFirmware > 0)) return kExitOk;
  // Adapters found but not usable are named with their reason.
  if (listed == 0 && groups_.front()->namedPorts.empty())
    for (const PortCandidate& port : ScanUsbSerialPorts())
      if (port.access != PortCandidate::Access::Usable) ReportPort(port, WhyUnusable(port));
  output_.Message(MessageKind::Error, listed == 0           ? Tx("No programmer port was found (see velkor-cli ports).")
                                      : withoutFirmware > 0 ? Tx("No programmer with firmware was found.")
                                                            : Tx("No programmer answered on the ports listed."));
  return kExitNoProgrammer;
}

int Session::ReportMissingProgrammers(Group& group) {
  TQNProgrammer& p = group.programmer;
  int missing = 0;
  const std::vector<PortCandidate> checked = CheckPorts(group.namedPorts);
  for (std::size_t i = 0; i < checked.size() && i < ProgrammerChannels::kChannelCount; ++i) {
    // Programmer numbers follow the places in the list.
    const PortCandidate& port = checked[i];
    const int n = static_cast<int>(i) + 1;
    const bool searched = p.Channels.Port(n).CommName == port.name;
    const bool bootLoaderOnly = searched && p.FirmwareFound[n - 1] == TQNProgrammer::FirmwareState::BootLoaderOnly;
    if (searched && (p.Channels.Channel(n).Identified || (upgrading_ && bootLoaderOnly))) continue;
    ++missing;
    // A port searched here reads as in use when this program still holds
    // it: it was opened and stayed silent.
    const std::string why = bootLoaderOnly ? Tx("the programmer on it holds its boot loader only, no firmware")
                            : searched     ? Tx("no programmer answered on it")
                                           : WhyUnusable(port);
    ReportPort(port, why);
  }
  return missing;
}

void Session::ReportPort(const PortCandidate& port, const std::string& why) {
  output_.Message(MessageKind::Error,
                  FormatText(Tx("Port %s (%s): %s."), port.name.c_str(), DevicePathOf(port.name).c_str(), why.c_str()));
}

std::string ChipNotFoundText(const std::string& name, const ChipLookup& lookup) {
  if (lookup.candidates.empty())
    return FormatText(Tx("No chip \"%s\" in the catalogue (velkor-cli chips lists them)."), name.c_str());
  std::string fits;
  for (std::size_t i = 0; i < lookup.candidates.size() && i < kListedCandidates; ++i)
    fits += " \"" + lookup.candidates[i]->caption + "\"";
  if (lookup.candidates.size() > kListedCandidates)
    fits += FormatText(Tx(" and %zu more"), lookup.candidates.size() - kListedCandidates);
  return FormatText(Tx("No chip \"%s\" in the catalogue; it fits more than one:%s."), name.c_str(), fits.c_str());
}

int Session::ChooseChip(const std::string& name) {
  const ChipLookup lookup = LookUpChip(name);
  if (!lookup.entry) {
    output_.Message(MessageKind::Error, ChipNotFoundText(name, lookup));
    return kExitUsage;
  }
  for (const auto& group : groups_) {
    group->view.chooseChip = [&p = group->programmer, entry = lookup.entry] {
      p.ChipSelectionFormShow();
      p.ChooseChip(*entry);
    };
  }
  bool confirmed = true;
  const bool clean = RunCommand([&confirmed](TQNProgrammer& p) {
    p.DevButtonClick();
    confirmed = confirmed && p.ChipConfirmed;
  });
  for (const auto& group : groups_) group->view.chooseChip = nullptr;
  return clean && confirmed ? kExitOk : kExitRefused;
}

int Session::LoadObjectFile(const std::string& named, FormatChoice format, bool allowTruncate) {
  // "-": standard input, kept in a file of its own while every group loads
  // it (the loaders read a file, some of them twice).
  std::optional<StandardInputFile> standardInput;
  const bool fromStandardInput = named == kStandardStreamName;
  if (fromStandardInput) {
    try {
      standardInput.emplace();
    } catch (const EInOutError& e) {
      output_.Message(MessageKind::Error, FormatText(Tx("Nothing was sent: %s"), e.what()));
      return kExitRefused;
    }
  }
  const std::string path = standardInput ? standardInput->Path() : named;
  std::vector<int> before;
  for (const auto& group : groups_) {
    group->view.fileAnswers = {path};
    group->programmer.LoadFormat = format;
    before.push_back(group->view.warnings);
  }
  RunCommand([](TQNProgrammer& p) { p.FileOpenBtnClick(); });
  TQNProgrammer& p = Programmer();
  for (const auto& group : groups_) {
    group->view.fileAnswers.clear();
    // The file's name the programmers are given with a download: not the
    // temporary copy's, which is gone when the run ends.
    if (fromStandardInput) {
      group->programmer.Controls.ProductEditX.Text = kStandardInputCaption;
      group->programmer.ImageFile = kStandardInputCaption;
    }
  }
  const bool truncated = DataBeyondChip(p.Image, p.Chip, path, p.Controls.MCUNameEdit.Text).has_value();
  if (truncated && !allowTruncate) {
    output_.Message(MessageKind::Error, Tx("Nothing was sent: --allow-truncate programs the chip's part of the data."));
    return kExitRefused;
  }
  // Every group loaded the same file; the one warning a truncation raises
  // is allowed when asked for.
  for (std::size_t g = 0; g < groups_.size(); ++g)
    if (groups_[g]->view.warnings - before[g] > (truncated ? 1 : 0)) return kExitRefused;
  const LoadOutcome& load = p.LastLoad;
  if (load.code != kRecordAccepted) {
    const bool binary = p.LastLoadFormat == ObjectFormat::Binary;
    output_.Message(MessageKind::Error, FormatText(binary ? Tx("%s: loading stopped at offset %u: %s (code %d).")
                                                          : Tx("%s: loading stopped at line %u: %s (code %d)."),
                                                   fromStandardInput ? Tx("standard input") : path.c_str(),
                                                   load.position, RecordCodeMessage(load.code), int{load.code}));
    return kExitRefused;
  }
  output_.ImageLoaded(fromStandardInput ? std::string(kStandardInputCaption) : named, p.Image.ChipStart, p.Image.ChipEnd,
                      p.LastDigest);
  return kExitOk;
}

int Session::LoadProject(const std::string& path) {
  for (const auto& group : groups_) group->view.fileAnswers = {path};
  bool confirmed = true;
  const bool clean = RunCommand([&](TQNProgrammer& p) {
    p.LoadFromOrvaneProjectClick();
    confirmed = confirmed && p.ChipConfirmed && p.LastProjectRefusal.empty();
  });
  for (const auto& group : groups_) group->view.fileAnswers.clear();
  if (!Programmer().LastProjectRefusal.empty()) {
    output_.Message(MessageKind::Error, Programmer().LastProjectRefusal);
    return kExitRefused;
  }
  return clean && confirmed ? kExitOk : kExitRefused;
}

int Session::LoadLockedJob(const std::string& path, const JobKey& key) {
  bool loaded = true;
  std::vector<std::string> differences;
  const bool clean = RunCommand([&](TQNProgrammer& p) {
    const TQNProgrammer::LockedJobOutcome outcome = p.LoadLockedJob(path, key);
    if (!outcome.loaded && differences.empty()) differences = outcome.differences;
    loaded = loaded && outcome.loaded;
  });
  if (!differences.empty()) {
    std::string text = FormatText(Tx("The locked job \"%s\" was refused; no chip was touched:"), path.c_str());
    for (const std::string& line : differences) text += "\n  " + line;
    output_.Message(MessageKind::Error, text);
    return kExitJobRefused;
  }
  return clean && loaded ? kExitOk : kExitRefused;
}

int Session::ApplyJob(const JobOptions& options) {
  for (const auto& group : groups_) {
    const std::string error = ApplyJobOptions(options, group->programmer);
    if (error.empty()) continue;
    output_.Message(MessageKind::Error, error);
    return kExitUsage;
  }
  // Several groups number their chips from one counter, or two chips of
  // one run would get the same number.
  TQNProgrammer& first = Programmer();
  // A generator's indices: each group takes every groups_.size()-th, so no
  // two chips of the run get the same index.
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    groups_[g]->programmer.GeneratorIndexFirst = g + 1;
    groups_[g]->programmer.GeneratorIndexStep = groups_.size();
  }
  const bool fromSource = !first.Controls.EditSNList.Text.empty() || !first.Controls.EditSNGenerator.Text.empty();
  if (groups_.size() > 1 && first.HostSerialNumbersOn() && !fromSource) {
    first.PrepareJob();
    sharedNumbers_ = std::make_unique<SharedCounter>(first.Job.SnValue, first.Job.SnStep);
    for (const auto& group : groups_) group->programmer.NumberSource = sharedNumbers_.get();
  }
  return kExitOk;
}

int Session::Run(const OperationCommand& operation) {
  const bool firstOnly = operation.kind == Operation::Read || operation.kind == Operation::ReadId;
  return Run([&operation](TQNProgrammer& p, int) { (p.*operation.handler)(); }, firstOnly);
}

int Session::Run(const std::function<void(TQNProgrammer&, int base)>& start, bool firstGroupOnly) {
  // A signal that came while the job was being set up: nothing starts.
  TakeSignals();
  if (Interrupted()) {
    output_.Message(MessageKind::Error,
                    FormatText(Tx("Interrupted by %s: nothing was started."), SignalName(interruptedBy_).c_str()));
    return kExitFailed;
  }
  std::vector<OperationOutcome> outcomes;
  const std::size_t groupCount = firstGroupOnly ? 1 : groups_.size();
  for (std::size_t g = 0; g < groupCount; ++g) {
    Group& group = *groups_[g];
    group.programmer.OperationEnded = [this, &group, &outcomes](const OperationOutcome& outcome) {
      if (!group.running[outcome.channel - 1]) return;
      group.running[outcome.channel - 1] = false;
      OperationOutcome numbered = outcome;
      numbered.channel = group.base + outcome.channel;
      outcomes.push_back(numbered);
      output_.Result(numbered, group.programmer.DeviceName[outcome.channel - 1]);
    };
  }
  bool clean = true;
  for (std::size_t g = 0; g < groupCount; ++g) {
    Group& group = *groups_[g];
    const int before = group.view.warnings;
    group.programmer.RunCommand([&] { start(group.programmer, group.base); });
    clean = clean && group.view.warnings == before;
  }
  // Programmers that have started and are not yet followed; with host-side
  // serial numbers a group's second one starts when its first has ended.
  const auto noteStarted = [this, groupCount] {
    for (std::size_t g = 0; g < groupCount; ++g) {
      Group& group = *groups_[g];
      for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
        const LinkChannel& channel = group.programmer.Channels.Channel(n);
        if (!channel.Busy || group.running[n - 1]) continue;
        group.running[n - 1] = true;
        output_.Started(group.base + n, OperationName(channel.Operation, channel.AutoRun != 0));
      }
    }
  };
  const auto anyRunning = [this, groupCount] {
    for (std::size_t g = 0; g < groupCount; ++g) {
      const Group& group = *groups_[g];
      if (group.running[0] || group.running[1] || group.programmer.NumberedRunPending()) return true;
    }
    return false;
  };
  const auto stopFollowing = [this] {
    for (const auto& group : groups_) group->programmer.OperationEnded = nullptr;
  };
  noteStarted();
  if (!anyRunning()) {
    stopFollowing();
    if (!clean) return kExitRefused;
    bool anyIdentified = false;
    for (std::size_t g = 0; g < groupCount; ++g)
      for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n)
        anyIdentified = anyIdentified || groups_[g]->programmer.Channels.Channel(n).Identified;
    output_.Message(MessageKind::Error, anyIdentified ? Tx("No programmer was free to start the operation.")
                                                      : Tx("No programmer is connected."));
    return anyIdentified ? kExitRefused : kExitNoProgrammer;
  }
  operationsRunning_ = true;
  stopAsked_ = false;
  loop_.runUntil(
      [&] {
        noteStarted();
        return Interrupted() || !anyRunning();
      },
      kOperationLimit);
  operationsRunning_ = false;
  // Every chip started gets its result and record line, also when a signal
  // stopped the run.
  if (Interrupted())
    for (std::size_t g = 0; g < groupCount; ++g) groups_[g]->programmer.InterruptOperations(SignalName(interruptedBy_));
  // The failure boxes follow the receive event that brought them.
  loop_.runFor(20ms);
  stopFollowing();
  if (Interrupted()) {
    output_.Message(MessageKind::Error, Tx("Interrupted: the operations under way were stopped and recorded, and the "
                                           "ports closed."));
    return kExitFailed;
  }
  const int status = ExitStatusOf(outcomes);
  // Chips that never started, as their serial numbers could not be had,
  // leave the job undone though every chip that started is good.
  for (std::size_t g = 0; g < groupCount; ++g)
    if (status == kExitOk && groups_[g]->programmer.NumberedRunCutShort) return kExitRefused;
  return status;
}

int Session::SaveImage(const std::string& path, FormatChoice format) {
  // The chip was read on programmer 1: the first group's image.
  Group& first = *groups_.front();
  TQNProgrammer& p = first.programmer;
  const bool toStandardOutput = path == kStandardStreamName;
  if (toStandardOutput || format != FormatChoice::Auto) {
    // What File › Save does, with the format given rather than taken from
    // the name, or to standard output: the bytes alone, no header text.
    if (!p.FileLoaded) {
      output_.Message(MessageKind::Error, Tx(kNothingToSave));
      return kExitFailed;
    }
    const std::optional<ObjectFormat> written = SaveFormatFor(toStandardOutput ? "" : path, format);
    if (!written) {
      output_.Message(MessageKind::Error, Tx("The text hex format is only read: save as bin, hex or srec."));
      return kExitFailed;
    }
    uint64_t bytes = 0;
    try {
      bytes = toStandardOutput ? WriteUsedRange(STDOUT_FILENO, Tx("standard output"), p.Image, *written, "")
                               : SaveUsedRangeAs(p.Image, path, *written);
    } catch (const EInOutError& e) {
      output_.Message(MessageKind::Error, e.what());
      return kExitFailed;
    }
    if (!toStandardOutput) output_.Message(MessageKind::Information, FileSavedMessage(path));
    output_.FileWritten("chip data", path, static_cast<std::size_t>(bytes), p.LastDigest);
    return kExitOk;
  }
  first.view.fileAnswers = {path};
  const int before = first.view.warnings;
  first.programmer.RunCommand([&first] { first.programmer.FileSaveBtnClick(); });
  first.view.fileAnswers.clear();
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (first.view.warnings != before || ec) return kExitFailed;
  output_.FileWritten("chip data", path, static_cast<std::size_t>(size), first.programmer.LastDigest);
  return kExitOk;
}

int Session::Close() {
  if (closed_) return kExitOk;
  closed_ = true;
  bool written = true;
  for (const auto& group : groups_) {
    TQNProgrammer& p = group->programmer;
    p.OperationEnded = nullptr;
    p.FormClose();
    // A chip without its record, or a run without its log, has not ended well.
    for (const std::string& failure : p.WriteFailures) output_.Message(MessageKind::Error, failure);
    written = written && p.WriteFailures.empty();
  }
  if (line_) {
    if (const std::size_t waiting = line_->Flush(); waiting > 0)
      output_.Message(MessageKind::Warning,
                      FormatText(Tx("%zu record(s) wait in %s for the line's database; the next run that reaches it "
                                    "writes them."),
                                 waiting, line_->PendingFile().c_str()));
  }
  return written ? kExitOk : kExitFailed;
}

}  // namespace velkor::cli
