// velkor-cli: the programmers from the command line, for scripts and
// production lines. `velkor-cli --help` is the whole usage.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "app/convert.hpp"
#include "chips/catalogue.hpp"
#include "chips/catalogue_listing.hpp"
#include "chips/catalogue_loading.hpp"
#include "chips/chip_lookup.hpp"
#include "cli/compare.hpp"
#include "cli/exit_status.hpp"
#include "cli/line_commands.hpp"
#include "cli/locked_job_commands.hpp"
#include "cli/session.hpp"
#include "cli/upgrade.hpp"
#include "data/text_format.hpp"
#include "platform/event_loop.hpp"
#include "platform/hotplug_monitor.hpp"
#include "platform/serial_device.hpp"
#include "platform/serial_ports.hpp"
#include "platform/simulator_process.hpp"
#include "text/language.hpp"
#include "text/text_table.hpp"

namespace {

using namespace velkor;
using namespace velkor::cli;
using Json = nlohmann::ordered_json;

constexpr const char* kDescription =
    "Drives Velkor350QN serial-memory programmers from the command line: the same operations,\n"
    "checks and messages as the window, for scripts and production lines.\n\n"
    "Exit status: 0 every programmer succeeded, 1 an operation failed, 2 usage error,\n"
    "3 no programmer found, 4 a precondition refused the operation, 5 a time-out,\n"
    "6 stopped by Ctrl+C (a second Ctrl+C, SIGTERM or SIGHUP end the run at once, status 1),\n"
    "7 a locked job differs from its lock (nothing was programmed).";

constexpr const char* kFooter =
    "Examples:\n"
    "  velkor-cli detect\n"
    "  velkor-cli auto --chip W25x64xx --file firmware.hex --record trace.jsonl\n"
    "  velkor-cli read --chip 24xx512 --output chip.bin\n"
    "  velkor-cli read --chip W25x64xx -o - | sha256sum   (the chip's bytes on standard output)\n"
    "  velkor-cli upgrade --firmware VelkorQN_EDF.VFR\n"
    "  velkor-cli lock job.OVP line3.job --passphrase-file pass.txt   (the engineer locks the job)\n"
    "  velkor-cli run line3.job --passphrase-file pass.txt --record trace.jsonl   (the operator runs it)\n"
    "  velkor-cli --simulate auto --chip W25x10xx --file data.bin   (no hardware needed)\n\n"
    "Ports: --ports ttyUSB0,ttyUSB1 (or VELKOR_PORTS); a port may also be named by its link in\n"
    "/dev/serial/by-id or by its adapter's USB serial number (usb-serial:FT1234AB); without them the\n"
    "USB serial adapters are searched.";

struct Common {
  bool simulate = false;
  int simulatorCount = 2;
  std::vector<std::string> simulatorOptions;
  std::string simulatorLog;
  std::string ports;
  bool allowMissing = false;
  int searchMs = 3000;
  bool json = false;
  bool plain = false;
  bool log = false;
  std::string logFile;
  bool automaticLog = false;
  std::string recordFile;
  std::string db;
  std::string station;
  std::string language;
};

struct Target {
  std::string chip;
  std::string file;
  std::string project;
  std::string output;
  bool trim = false;
  std::string format = "auto";
  std::string saveFormat = "auto";  // read: how --output is written
  bool allowTruncate = false;
  std::string pool;
  JobOptions job;
};

// dataOnStandardOutput: standard output carries the data ("read -o -"),
// so every event, progress and log line goes to standard error instead.
EventOutput MakeOutput(const Common& common, bool dataOnStandardOutput = false) {
  if (!dataOnStandardOutput) {
    const OutputStyle style = common.json ? OutputStyle::Json : common.plain ? OutputStyle::Plain : DefaultOutputStyle();
    return EventOutput(style, common.log);
  }
  const OutputStyle style = common.json              ? OutputStyle::Json
                            : common.plain           ? OutputStyle::Plain
                            : ::isatty(STDERR_FILENO) ? OutputStyle::Terminal
                                                     : OutputStyle::Plain;
  return EventOutput(style, common.log, stderr, stderr);
}

ConnectOptions ConnectionOf(const Common& common) {
  ConnectOptions c;
  c.simulate = common.simulate;
  c.simulatorCount = common.simulatorCount;
  c.simulatorOptions = common.simulatorOptions;
  c.simulatorLog = common.simulatorLog;
  std::string ports = common.ports;
  if (ports.empty())
    if (const char* fromEnvironment = std::getenv("VELKOR_PORTS")) ports = fromEnvironment;
  c.ports = SplitPortList(ports);
  c.searchMs = common.searchMs;
  c.allowMissing = common.allowMissing;
  return c;
}

// The database named, or the one VELKOR_DB names.
std::string DatabaseOf(const Common& common) {
  if (!common.db.empty()) return common.db;
  const char* fromEnvironment = std::getenv("VELKOR_DB");
  return fromEnvironment ? fromEnvironment : "";
}

RecordOptions RecordsOf(const Common& common) { return {common.logFile, common.automaticLog, common.recordFile}; }

int Finish(EventOutput& output, int status) {
  output.Finished(status);
  return status;
}

// ---------------------------------------------------------------- commands

// The adapter of a USB serial port, for the port and detected events; null
// for a port without one.
Json UsbJson(const UsbIdentity& usb) {
  if (!usb.Known()) return nullptr;
  return Json{{"by_id", usb.byId.empty() ? Json(nullptr) : Json(usb.byId)},
              {"vid", usb.vendorId},
              {"pid", usb.productId},
              {"manufacturer", usb.manufacturer},
              {"product", usb.product},
              {"serial", usb.serial.empty() ? Json(nullptr) : Json(usb.serial)},
              {"driver", usb.driver}};
}

int RunPorts(const Common& common) {
  EventOutput output = MakeOutput(common);
  const ConnectOptions connection = ConnectionOf(common);
  // The word of JSON output; the listing for people shows it through the text table.
  static const char* const kAccess[] = {TextKey("usable"), TextKey("in use"), TextKey("no permission"),
                                        TextKey("absent")};
  std::unique_ptr<SimulatorProcess> simulator;
  std::vector<PortCandidate> ports;
  if (connection.simulate) {
    std::string error;
    simulator = SimulatorProcess::Start(FindSimulatorProgram(), {"--count", std::to_string(connection.simulatorCount)},
                                        connection.simulatorCount, std::chrono::seconds(10), error, "/dev/null");
    if (!simulator) {
      output.Message(MessageKind::Error, FormatText(Tx("The simulated programmers did not start: %s"), error.c_str()));
      return Finish(output, kExitNoProgrammer);
    }
    ports = CheckPorts(simulator->Ports());
  } else {
    ports = connection.ports.empty() ? ScanUsbSerialPorts(DeviceRoots{}) : CheckPorts(connection.ports);
  }
  for (const PortCandidate& port : ports) {
    const char* access = kAccess[static_cast<int>(port.access)];
    const std::string why = WhyUnusable(port);
    Json event{{"event", "port"},
               {"name", port.name},
               {"path", port.path.empty() ? Json(nullptr) : Json(port.path)},
               {"access", access},
               {"usb", UsbJson(port.usb)}};
    if (!why.empty()) event["why"] = why;
    std::string line = FormatText("%-16s %-24s %s%s%s", port.name.c_str(), port.path.c_str(), Tx(access),
                                  why.empty() ? "" : ": ", why.c_str());
    if (port.usb.Known()) {
      line += "\n    " + DescribeUsbIdentity(port.usb);
      if (!port.usb.byId.empty()) line += "\n    " + port.usb.byId;
    }
    output.Listing(line, event.dump(-1, ' ', false, Json::error_handler_t::replace));
  }
  if (ports.empty()) output.Message(MessageKind::Error, Tx("No USB serial port was found."));
  return Finish(output, ports.empty() ? kExitNoProgrammer : kExitOk);
}

// The programmers of one group, numbered from base + 1.
void ListDetected(TQNProgrammer& p, int base, EventOutput& output) {
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
    if (!p.Channels.Channel(n).Identified) continue;
    const std::string& id = p.DeviceName[n - 1];
    const std::size_t blank = id.rfind(' ');
    const std::string name = blank == std::string::npos ? id : id.substr(0, blank);
    const std::string version = blank == std::string::npos ? "" : id.substr(blank + 1);
    const auto& r = p.Reported[n - 1];
    const bool streamed = r.capability > 0x32;
    Json json{{"event", "detected"},      {"programmer", base + n},          {"port", p.Channels.Port(n).CommName},
              {"name", name},             {"version", version},       {"capability", r.capability},
              {"streamed_read", streamed}, {"usb", UsbJson(p.PortAdapter[n - 1])}};
    std::string human = FormatText(Tx("programmer %d: %s, firmware %s, capability 0x%02X (%s)"), base + n, name.c_str(),
                                   version.c_str(), unsigned{r.capability},
                                   streamed ? Tx("streamed chip read") : Tx("block reads only"));
    if (!r.settingsReported) {
      json["serial_numbers"] = nullptr;
      human += Tx("; serial-number settings not reported");
    } else if (!r.serialNumbersOn) {
      json["serial_numbers"] = Json{{"enabled", false}};
      human += Tx("; serial numbers off");
    } else {
      json["serial_numbers"] = Json{{"enabled", true},
                                    {"increment", r.increment},
                                    {"address", r.startAddress},
                                    {"initial", r.initial},
                                    {"current", r.current}};
      human += FormatText(Tx("; serial numbers on: initial 0x%08X, increment %u, address 0x%08X, current 0x%08X"),
                          r.initial, unsigned{r.increment}, r.startAddress, r.current);
    }
    output.Listing(human, json.dump(-1, ' ', false, Json::error_handler_t::replace));
  }
}

struct DetectOptions {
  bool wait = false;
  int waitSeconds = 60;
};

// Whether the ports a search would use are there: every named port usable
// (one is enough with --allow-missing), else any USB serial adapter's.
bool PortsPresent(const ConnectOptions& connection) {
  if (connection.ports.empty()) {
    for (const PortCandidate& port : ScanUsbSerialPorts(DeviceRoots{}))
      if (port.access == PortCandidate::Access::Usable) return true;
    return false;
  }
  int usable = 0;
  for (const PortCandidate& port : CheckPorts(connection.ports))
    usable += port.access == PortCandidate::Access::Usable ? 1 : 0;
  return connection.allowMissing ? usable > 0 : usable == static_cast<int>(connection.ports.size());
}

// Waits until the ports are there: woken by the kernel's device events
// where they can be had, and looking again twice a second in any case
// (named paths, containers without the events).
bool WaitForPorts(const ConnectOptions& connection, std::chrono::seconds limit, EventOutput& output) {
  if (PortsPresent(connection)) return true;
  output.Message(MessageKind::Information, FormatText(Tx("Waiting up to %lld s for a programmer to be plugged in..."),
                                                      static_cast<long long>(limit.count())));
  EventLoop loop;
  bool changed = false;
  std::string error;
  const auto monitor = HotplugMonitor::Start(loop, [&changed](const HotplugEvent&) { changed = true; }, error);
  const auto deadline = EventLoop::Clock::now() + limit;
  constexpr std::chrono::milliseconds kLookAgain{500};
  while (EventLoop::Clock::now() < deadline) {
    changed = false;
    loop.runUntil([&changed] { return changed; }, std::min(deadline, EventLoop::Clock::now() + kLookAgain));
    // A new adapter's node and links take a moment to be set up.
    if (changed) loop.runFor(std::chrono::milliseconds(300));
    if (PortsPresent(connection)) return true;
  }
  return false;
}

int RunDetect(const Common& common, const DetectOptions& detect) {
  EventOutput output = MakeOutput(common);
  const ConnectOptions connection = ConnectionOf(common);
  if (detect.wait && !connection.simulate && !WaitForPorts(connection, std::chrono::seconds(detect.waitSeconds), output)) {
    output.Message(MessageKind::Error, FormatText(Tx("No programmer port appeared within %d s (see velkor-cli ports)."),
                                                  detect.waitSeconds));
    return Finish(output, kExitNoProgrammer);
  }
  Session session(output);
  const int status = session.Connect(connection, RecordsOf(common));
  if (status != kExitOk) return Finish(output, status);
  session.ForEachGroup([&output](TQNProgrammer& p, int base) { ListDetected(p, base, output); });
  return Finish(output, session.Close());
}

int RunChips(const Common& common, const std::string& search) {
  EventOutput output = MakeOutput(common);
  const auto found = SearchChips(search);
  for (const CatalogueEntry* entry : found) {
    ChipParams chip;
    uint8_t optionBits = 0;
    ApplyCatalogueEntry(*entry, chip, optionBits);
    std::string menu;
    for (const std::string& submenu : entry->menu) menu += (menu.empty() ? "" : " > ") + submenu;
    if (!entry->origin.empty()) menu += "  (" + CatalogueOrigin(*entry) + ")";
    output.Listing(FormatText(Tx("%-24s %10u bytes  family 0x%02X  %s"), entry->caption.c_str(), chip.Size,
                              unsigned{chip.Family}, menu.c_str()),
                   Json{{"event", "chip"},
                        {"caption", entry->caption},
                        {"menu", entry->menu},
                        {"size", chip.Size},
                        {"family", chip.Family},
                        {"origin", CatalogueOrigin(*entry)}}
                       .dump(-1, ' ', false, Json::error_handler_t::replace));
  }
  return Finish(output, found.empty() ? kExitUsage : kExitOk);
}

int RunConvert(const std::string& input, const std::string& outputPath, const std::string& chipName,
               const ConvertOptions& options) {
  const ChipLookup lookup = LookUpChip(chipName);
  const std::string caption = lookup.entry ? lookup.entry->caption : chipName;
  // Standard output that carries the image takes nothing else.
  std::ostream& log = outputPath == kStandardStreamName ? std::cerr : std::cout;
  const int status = ConvertObjectFile(input, outputPath, caption, log, std::cerr, options);
  std::cout.flush();
  switch (status) {
    case kConvertOk: return kExitOk;
    case kConvertUnknownChip: return kExitUsage;
    case kConvertLoadFailed: return kExitRefused;
    default: return kExitFailed;
  }
}

int RunOperation(const Common& common, const OperationCommand& operation, Target& target) {
  const bool toStandardOutput = operation.kind == Operation::Read && target.output == kStandardStreamName;
  EventOutput output = MakeOutput(common, toStandardOutput);
  if (operation.needsFile && target.file.empty() && target.project.empty()) {
    output.Message(MessageKind::Error, FormatText(Tx("%s needs --file PATH or --project PATH."), operation.command));
    return Finish(output, kExitUsage);
  }
  if (target.chip.empty() && target.project.empty()) {
    output.Message(MessageKind::Error, FormatText(Tx("%s needs --chip NAME or --project PATH."), operation.command));
    return Finish(output, kExitUsage);
  }
  // Every value that needs no chip is checked before a port is opened.
  if (const std::string wrong = CheckJobValues(target.job); !wrong.empty()) {
    output.Message(MessageKind::Error, wrong);
    return Finish(output, kExitUsage);
  }
  if (target.file == kStandardStreamName && ::isatty(STDIN_FILENO)) {
    output.Message(MessageKind::Error, Tx("--file - reads the file from standard input, which is a terminal here: "
                                          "give the data through a pipe or a redirection."));
    return Finish(output, kExitUsage);
  }
  // Raw chip bytes would garble the terminal and show nothing useful.
  if (toStandardOutput && ::isatty(STDOUT_FILENO) && target.saveFormat != "hex" && target.saveFormat != "srec") {
    output.Message(MessageKind::Error, Tx("read -o - writes the chip's bytes to standard output, which is a terminal "
                                          "here: redirect it, pipe it, or give --format hex or srec."));
    return Finish(output, kExitUsage);
  }
  if (operation.kind == Operation::Read && !toStandardOutput) {
    const std::filesystem::path folder = std::filesystem::absolute(target.output).parent_path();
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec) || ::access(folder.c_str(), W_OK) != 0) {
      output.Message(MessageKind::Error,
                     FormatText(Tx("Nothing was read: the folder of %s does not exist or cannot be written."),
                                target.output.c_str()));
      return Finish(output, kExitRefused);
    }
  }
  if (!target.pool.empty()) {
    const JobOptions& j = target.job;
    if (j.serialStart || j.serialStep || j.serialAddress || j.serialBigEndian || j.serialHost) {
      output.Message(MessageKind::Error, Tx("--pool hands out the serial numbers and says where they go: leave out the "
                                            "--sn options."));
      return Finish(output, kExitUsage);
    }
  }
  Session session(output);
  // The line's database before any port: a station that cannot record
  // or number its chips does not start them.
  int status = session.OpenLine({DatabaseOf(common), common.station, target.pool});
  if (status != kExitOk) return Finish(output, status);
  // The window's start-up resets the chip and the image: connect first.
  status = session.Connect(ConnectionOf(common), RecordsOf(common));
  if (status == kExitOk && !target.project.empty()) status = session.LoadProject(target.project);
  if (status == kExitOk && !target.chip.empty()) status = session.ChooseChip(target.chip);
  // The settings come before the data, as in the window: "process by chip
  // size" decides how much of the chip a load covers.
  if (status == kExitOk) status = session.ApplyJob(target.job);
  if (status == kExitOk) session.UseLine();
  if (status == kExitOk && !target.file.empty())
    status = session.LoadObjectFile(target.file, *FormatChoiceOf(target.format), target.allowTruncate);
  // A read saves the whole chip unless asked to trim it to the data.
  if (status == kExitOk && operation.kind == Operation::Read && !target.trim)
    session.Programmer().Controls.ChkBoxCPES.Checked = true;
  // verify --readback: the host compares what each chip reads back.
  OperationCommand chosen = operation;
  if (target.job.readback) chosen.handler = &TQNProgrammer::ReadbackVerifyClick;
  if (status == kExitOk) status = session.Run(chosen);
  if (status == kExitOk && operation.kind == Operation::Read) status = session.SaveImage(target.output, *FormatChoiceOf(target.saveFormat));
  const int closing = session.Close();
  return Finish(output, status == kExitOk ? closing : status);
}

// How an object file is read, and whether data past the chip may be cut off.
void AddLoadOptions(CLI::App& command, std::string& format, bool& allowTruncate) {
  command
      .add_option("--format", format,
                   "auto (by extension; an unknown extension by content), bin, hex (Intel), srec (Motorola), "
                   "txt (@-text hex); default auto")
      ->check(CLI::IsMember({"auto", "bin", "hex", "srec", "txt"}));
  command.add_flag("--allow-truncate", allowTruncate,
                   "Go on when the file's data reaches past the chip's end (only the chip's part is used)");
}

// How a saved image is written.
CLI::Option* AddSaveFormatOption(CLI::App& command, const std::string& name, std::string& format) {
  return command
      .add_option(name, format,
                  "auto (by the output's extension: .hex .ihx .ihex Intel HEX; .srec .s19 .s28 .s37 .mot .s "
                  "S-records; anything else binary), bin, hex (Intel), srec (Motorola); default auto, and binary "
                  "on standard output")
      ->check(CLI::IsMember({"auto", "bin", "hex", "srec"}));
}

void AddConnectionOptions(CLI::App& app, Common& c) {
  const char* group = "Programmers and output";
  app.add_option("--ports,--port", c.ports, "Programmer ports, comma-separated, e.g. ttyUSB0,ttyUSB1 (or VELKOR_PORTS)")
      ->group(group);
  app.add_flag("--allow-missing", c.allowMissing,
               "Go on with the programmers found when a named port has none (each missing one is named)")
      ->group(group);
  app.add_flag("--simulate", c.simulate, "Start simulated programmers (velkor-sim) and use them")->group(group);
  app.add_option("--sim-count", c.simulatorCount, "How many simulated programmers: 1 to 8 (default 2)")
      ->check(CLI::Range(1, 8))
      ->group(group);
  app.add_option("--sim-option", c.simulatorOptions, "Pass this word on to velkor-sim (repeat for each word)")
      ->allow_extra_args(false)
      ->group(group);
  app.add_option("--sim-log", c.simulatorLog, "Append what the simulated programmers say to this file")
      ->group(group);
  app.add_option("--search-ms", c.searchMs, "How long the programmers have to answer the search (default 3000)")
      ->check(CLI::Range(100, 600000))
      ->group(group);
  app.add_flag("--json", c.json, "One JSON object per event on standard output")->group(group);
  app.add_flag("--plain", c.plain, "Plain lines instead of progress bars, even on a terminal")->group(group);
  app.add_flag("--log", c.log, "Show the information log's lines")->group(group);
  app.add_option("--log-file", c.logFile, "Append the information log to this file at the end")->group(group);
  app.add_flag("--log-auto", c.automaticLog, "Write the window's automatic log file into the Log folder")->group(group);
  app.add_option("--record", c.recordFile, "Append one JSON line per chip to this traceability record")->group(group);
  app.add_option("--language", c.language,
                 "The language of messages and log lines: zh (the original texts, the default) or en (or "
                 "VELKOR_LANGUAGE)")
      ->group(group);
  const char* line = "Production line";
  app.add_option("--db", c.db,
                 "The line's database: an SQLite file, or postgresql://... (or VELKOR_DB); every chip's record goes "
                 "there too")
      ->group(line);
  app.add_option("--station", c.station, "This station's name in the line's database (default: the host name)")
      ->group(line);
}

}  // namespace

static int RunCommandLine(int argc, char* argv[]) {
  CLI::App app(kDescription, "velkor-cli");
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("velkor-cli ") + VELKOR_VERSION);
  app.require_subcommand(1, 1);
  app.fallthrough();
  Common common;
  AddConnectionOptions(app, common);

  app.add_subcommand("ports", "List the ports the programmers are searched on");
  CLI::App* detect =
      app.add_subcommand("detect", "Find the programmers; print name, version, capabilities and serial-number settings");
  DetectOptions detectOptions;
  detect->add_flag("--wait", detectOptions.wait,
                   "Wait for the programmers' ports to be plugged in (all named ports, else any USB serial adapter)");
  detect->add_option("--wait-timeout", detectOptions.waitSeconds, "How long --wait waits, in seconds (default 60)")
      ->check(CLI::Range(1, 86400));
  UpgradeOptions upgradeOptions;
  CLI::App* upgrade = AddUpgradeCommand(app, upgradeOptions);
  std::string chipSearch;
  CLI::App* chips = app.add_subcommand("chips", "List the chip catalogue, or the chips whose name contains TEXT");
  chips->add_option("TEXT", chipSearch, "Part of a chip name or menu name");
  std::string convertIn, convertOut, convertChip, convertFormat = "auto", convertSaveFormat = "auto";
  bool convertAllowTruncate = false;
  CLI::App* convert = app.add_subcommand(
      "convert", "Load an object file for a chip and save the image (binary, Intel HEX or S-records)");
  convert->add_option("IN", convertIn, "Intel HEX, S-record, text hex or binary file; - for standard input")
      ->required();
  convert->add_option("OUT", convertOut, "File to write, in the format of its extension; - for standard output")
      ->required();
  convert->add_option("--chip", convertChip, "Chip name")->required();
  AddLoadOptions(*convert, convertFormat, convertAllowTruncate);
  AddSaveFormatOption(*convert, "--output-format", convertSaveFormat);
  CompareOptions compareOptions;
  std::string compareFormat = "auto";
  CLI::App* compare = app.add_subcommand(
      "compare", "Load two object files for a chip and list where the images differ over the whole chip "
                 "(exit status 0 equal, 1 different)");
  compare->add_option("A", compareOptions.a, "The first object file; - for standard input")->required();
  compare->add_option("B", compareOptions.b, "The second object file; - for standard input")->required();
  compare->add_option("--chip", compareOptions.chip, "Chip name")->required();
  AddLoadOptions(*compare, compareFormat, compareOptions.allowTruncate);
  compare
      ->add_option("--max-ranges", compareOptions.maxRanges,
                   "List at most this many differing ranges, 0 to " + std::to_string(kMostListedRanges) +
                       " (the count goes on); default " + std::to_string(kDefaultListedRanges))
      ->check(CLI::Range(std::size_t{0}, kMostListedRanges));

  LineCommandOptions lineCommand;
  AddLineCommands(app, lineCommand);
  LockedJobOptions lockedJob;
  CLI::App* lock = AddLockCommand(app, lockedJob);
  CLI::App* run = AddRunCommand(app, lockedJob);

  Target target;
  std::vector<std::pair<const OperationCommand*, CLI::App*>> operations;
  for (const OperationCommand& operation : OperationCommands()) {
    CLI::App* command = app.add_subcommand(operation.command, operation.help);
    command->add_option("--chip", target.chip, "Chip name: the exact caption or a unique case-insensitive match");
    command->add_option("--project", target.project, "Load this project file (chip, settings, data) first");
    if (operation.needsFile) {
      command->add_option("--file", target.file,
                          "Object file: Intel HEX, S-record, text hex, binary; - for standard input");
      AddLoadOptions(*command, target.format, target.allowTruncate);
    }
    if (operation.kind == Operation::Read) {
      command
          ->add_option("--output,-o", target.output,
                       "File for the chip's data, in the format of its extension; - for standard output")
          ->required();
      AddSaveFormatOption(*command, "--format", target.saveFormat);
      command->add_flag("--trim", target.trim, "Save only up to the last 4 KB block that holds data (flash)");
    }
    if (operation.kind == Operation::Program || operation.kind == Operation::Auto)
      command->add_option("--pool", target.pool,
                          "Host-side serial numbers from this pool of the line's database (velkor-cli pool)");
    AddJobOptions(*command, target.job);
    operations.emplace_back(&operation, command);
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? kExitOk : kExitUsage;
  }
  // The language before the first text is made.
  const LanguageChoice languageChoice = ChooseLanguage(common.language);
  if (!languageChoice.error.empty()) {
    std::cerr << "velkor-cli: " << languageChoice.error << "\n";
    return kExitUsage;
  }
  UseLanguage(languageChoice.language);
  if (common.json && common.plain) {
    std::cerr << "velkor-cli: " << Tx("--json and --plain exclude each other.") << "\n" << app.help();
    return kExitUsage;
  }
  if (!common.simulate && (app.count("--sim-count") || !common.simulatorOptions.empty() || !common.simulatorLog.empty())) {
    std::cerr << "velkor-cli: " << Tx("--sim-count, --sim-option and --sim-log need --simulate.") << "\n";
    return kExitUsage;
  }

  // The chip catalogue: chips.json and the user's chip files; the files
  // refused are named on standard error.
  for (const std::string& line : LoadAndUseCatalogue().problems) std::cerr << "velkor-cli: " << line << '\n';

  if (app.got_subcommand("ports")) return RunPorts(common);
  if (app.got_subcommand("detect")) return RunDetect(common, detectOptions);
  if (upgrade->parsed()) {
    EventOutput output = MakeOutput(common);
    return Finish(output, RunUpgrade(output, ConnectionOf(common), RecordsOf(common), upgradeOptions));
  }
  if (app.got_subcommand("chips")) return RunChips(common, chipSearch);
  {
    EventOutput output = MakeOutput(common);
    lineCommand.db = DatabaseOf(common);
    int status = kExitOk;
    if (RunLineCommand(app, lineCommand, output, status)) return Finish(output, status);
  }
  if (app.got_subcommand(convert))
    return RunConvert(convertIn, convertOut, convertChip,
                      {*FormatChoiceOf(convertFormat), convertAllowTruncate, *FormatChoiceOf(convertSaveFormat)});
  if (lock->parsed()) {
    EventOutput output = MakeOutput(common);
    return Finish(output, RunLock(output, lockedJob));
  }
  if (run->parsed()) {
    EventOutput output = MakeOutput(common);
    return Finish(output, RunLockedJob(output, lockedJob, ConnectionOf(common), RecordsOf(common),
                                       {DatabaseOf(common), common.station, ""}));
  }
  if (compare->parsed()) {
    compareOptions.format = *FormatChoiceOf(compareFormat);
    return RunCompare(compareOptions, common.json, common.log);
  }
  for (auto& [operation, command] : operations)
    if (command->parsed()) return RunOperation(common, *operation, target);
  std::cerr << app.help();
  return kExitUsage;
}

int main(int argc, char* argv[]) {
  // A file that may not grow further, or a reader of the output that went
  // away, fails a write instead of ending the program in the middle of an
  // operation: the operation finishes, with its records and log.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  const int status = RunCommandLine(argc, argv);
  // Output that did not arrive is a failure too.
  std::cout.flush();
  const bool outputLost = !std::cout || std::fflush(stdout) != 0 || std::ferror(stdout);
  return status == kExitOk && outputLost ? kExitFailed : status;
}
