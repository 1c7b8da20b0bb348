// One run of velkor-cli against the programmers: the window's logic on the
// core's event loop, started, connected, given a chip, data and settings,
// and then driven through one operation, exactly as the window drives it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/qn_programmer.hpp"
#include "chips/chip_lookup.hpp"
#include "cli/cli_view.hpp"
#include "cli/event_output.hpp"
#include "cli/job_options.hpp"
#include "platform/event_loop.hpp"
#include "platform/signal_pipe.hpp"
#include "platform/serial_ports.hpp"
#include "platform/simulator_process.hpp"
#include "store/line_station.hpp"

namespace velkor::cli {

struct ConnectOptions {
  bool simulate = false;
  int simulatorCount = 2;
  std::vector<std::string> simulatorOptions;
  std::string simulatorLog;        // where the simulator's messages go (default: nowhere)
  std::vector<std::string> ports;  // empty: the machine's USB serial adapters
  int searchMs = 3000;             // how long the programmers have to answer
  // A named port whose programmer cannot be used fails the command unless
  // this is set (the run goes on with the others).
  bool allowMissing = false;
  // velkor-cli upgrade: a programmer with its boot loader only counts as
  // found, and no warning tells to run the upgrade.
  bool upgrading = false;
};

struct RecordOptions {
  std::string logFile;      // the information log appended to this file at the end
  bool automaticLog = false;  // the window's automatic log file in the Log folder
  std::string recordFile;   // the traceability record
};

// The operations a programmer carries out.
enum class Operation { Download, Auto, Program, Verify, Erase, BlankCheck, Read, ReadId };

struct OperationCommand {
  Operation kind;
  const char* command;  // the subcommand's name
  const char* help;
  bool needsFile;       // an object file (or project) must be loaded
  void (TQNProgrammer::*handler)();
};

// Every operation's subcommand, in the order --help lists them.
const std::vector<OperationCommand>& OperationCommands();

// Why name picks no chip: none fits it, or more than one (some named).
std::string ChipNotFoundText(const std::string& name, const ChipLookup& lookup);

// More than two programmers run as groups of two, each group the window's
// logic with its own image, all on one event loop; group g drives the
// programmers 2g + 1 and 2g + 2.
class Session {
 public:
  // The most programmers one run drives.
  static constexpr int kMostProgrammers = 16;

  explicit Session(EventOutput& output);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The first group's logic: programmers 1 and 2.
  TQNProgrammer& Programmer();
  // Every group's logic in order, with the number its programmer 1 is
  // given less one.
  void ForEachGroup(const std::function<void(TQNProgrammer&, int base)>& visit);

  // Starts the simulated programmers when asked, shows the window's logic
  // and waits for the programmers to answer. kExitNoProgrammer when none did.
  int Connect(const ConnectOptions& options, const RecordOptions& records);
  // The chip by name (exact caption or a unique case-insensitive match).
  int ChooseChip(const std::string& name);
  // Data past the chip's end is refused unless allowTruncate. "-" reads
  // the file from standard input.
  int LoadObjectFile(const std::string& path, FormatChoice format, bool allowTruncate);
  int LoadProject(const std::string& path);
  // A locked job, verified against its lock and loaded as its project;
  // kExitJobRefused, with every difference named, when it does not match.
  int LoadLockedJob(const std::string& path, const JobKey& key);
  int ApplyJob(const JobOptions& options);
  // Runs the operation on the programmers the window would run it on and
  // waits for each to end; one result line per programmer. Reads run on
  // programmer 1 only.
  int Run(const OperationCommand& operation);
  // The same for whatever start sets going on each group's programmers.
  int Run(const std::function<void(TQNProgrammer&, int base)>& start, bool firstGroupOnly = false);
  // Before any port is opened: the line's database and the pool, when
  // asked for; nothing starts when they cannot be used.
  int OpenLine(const LineSettings& settings);
  // After the job is set: every group uses the line as the window's
  // settings would (its records, the pool's numbers).
  void UseLine();
  // Searches for the programmers again, as "查找设备" does, and waits for
  // them as Connect does.
  int SearchAgain();
  // Saves the used range of the image after a read, as File › Save does
  // (the format by the name's extension), or in the format given; "-"
  // writes it to standard output (binary unless a format is given).
  int SaveImage(const std::string& path, FormatChoice format = FormatChoice::Auto);
  // Closes the ports and writes the log file, as the window does at exit.
  // kExitFailed when a record line or the log file could not be written
  // (each is reported), else kExitOk.
  int Close();

  // Whether the run is to end at once: SIGTERM or SIGHUP, a Ctrl+C while
  // no operation runs, or a second Ctrl+C.
  bool Interrupted() const { return interruptedBy_ != 0; }

 private:
  struct Group;
  Group& AddGroup();
  // Runs command on every group; false when a box warned. Only the first
  // group's boxes and log lines are shown while the job is set up: the
  // others would repeat them.
  bool RunCommand(const std::function<void(TQNProgrammer&)>& command, bool allGroupsSpeak = false);
  // Each named port without a usable programmer, with the reason; how many.
  int ReportMissingProgrammers(Group& group);
  // "Port NAME (PATH): why."
  void ReportPort(const PortCandidate& port, const std::string& why);
  // Waits for the search under way and names the programmers it found.
  int AwaitSearch();
  void ShowProgress();
  // The signals that arrived: the first Ctrl+C while operations run stops
  // them after the blocks in flight (SpdBtnStopClick on every group); any
  // other ends the run at once.
  void TakeSignals();

  EventOutput& output_;
  EventLoop loop_;
  SignalPipe signals_{SIGINT, SIGTERM, SIGHUP};
  bool operationsRunning_ = false;
  bool stopAsked_ = false;
  int interruptedBy_ = 0;  // the signal that ends the run at once
  std::vector<std::unique_ptr<Group>> groups_;
  std::unique_ptr<SimulatorProcess> simulator_;
  // Host-side serial numbers shared by the groups, so that no two chips of
  // a run get the same one.
  std::unique_ptr<SharedCounter> sharedNumbers_;
  // The production line's database, when one is used.
  std::unique_ptr<store::StationLine> line_;
  LineSettings lineSettings_;
  bool allowMissing_ = false;
  bool closed_ = false;
  std::chrono::milliseconds searchTime_{0};
  bool upgrading_ = false;
};

}  // namespace velkor::cli
