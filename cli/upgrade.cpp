#include "cli/upgrade.hpp"

#include <filesystem>
#include <utility>
#include <vector>

#include "cli/exit_status.hpp"
#include "data/text_format.hpp"
#include "link/firmware_file.hpp"
#include "text/text_table.hpp"

namespace velkor::cli {

namespace {

using State = TQNProgrammer::FirmwareState;

std::string VersionOn(const TQNProgrammer& p, int n) {
  const std::string version = FirmwareVersionOf(p.DeviceName[n - 1]);
  return version.empty() ? std::string(Tx("without version text")) : version;
}

// The firmware file to send: the one named, or the first the window would
// read; empty, with an error saying why, when there is none that can be used.
std::filesystem::path UsableFirmwareFile(const TQNProgrammer& p, const std::string& named, EventOutput& output) {
  const std::filesystem::path path = named.empty() ? p.FindFirmwareFile() : std::filesystem::absolute(named);
  if (path.empty()) {
    std::string folders;
    for (const auto& folder : p.FirmwareFolders()) folders += (folders.empty() ? "" : ", ") + folder.string();
    output.Message(MessageKind::Error, FormatText(Tx("No firmware file \"%s\" in %s; name one with --firmware FILE."),
                                                  kFirmwareFileName, folders.c_str()));
    return {};
  }
  const FirmwareFile firmware = ReadFirmwareFileAt(path);
  if (!firmware.ready) {
    output.Message(MessageKind::Error,
                   FormatText(Tx(kUnusableFirmwareFile), path.string().c_str(), firmware.problem.c_str()));
    return {};
  }
  return path;
}

// Whether the programmer on channel n is upgraded, and the line that says
// so; it is programmer number to the user.
std::pair<bool, std::string> UpgradeDecision(const TQNProgrammer& p, int n, int number, bool force) {
  const std::string version = VersionOn(p, n);
  const char* file = p.FirmwareVersion.c_str();
  switch (p.FirmwareFound[n - 1]) {
    case State::Older:
      return {true, FormatText(Tx("programmer %d: firmware %s, file %s: upgrading"), number, version.c_str(), file)};
    case State::BootLoaderOnly:
      return {true, FormatText(Tx("programmer %d has no firmware: upgrading to %s"), number, file)};
    case State::Current:
      if (force)
        return {true, FormatText(Tx("programmer %d: firmware %s, file %s: upgrading (--force)"), number,
                                 version.c_str(), file)};
      return {false,
              FormatText(Tx("programmer %d: firmware %s, file %s: not older, left as it is (--force upgrades it)"),
                         number, version.c_str(), file)};
    case State::Unknown:
      break;
  }
  return {false, {}};
}

// After the search that follows the upgrades: each upgraded programmer must
// identify itself with the file's version.
int CheckUpgraded(TQNProgrammer& p, int base, const std::vector<int>& upgraded, EventOutput& output) {
  int status = kExitOk;
  for (const int n : upgraded) {
    const int number = base + n;
    const bool identified = p.Channels.Channel(n).Identified != 0;
    if (identified && FirmwareVersionOf(p.DeviceName[n - 1]) == p.FirmwareVersion) {
      output.Message(MessageKind::Information,
                     FormatText(Tx("programmer %d: firmware %s now"), number, p.FirmwareVersion.c_str()));
      continue;
    }
    output.Message(MessageKind::Error,
                   identified ? FormatText(Tx("programmer %d reports firmware %s after its upgrade, not %s"), number,
                                           VersionOn(p, n).c_str(), p.FirmwareVersion.c_str())
                              : FormatText(Tx("programmer %d was not found with firmware after its upgrade"), number));
    status = kExitFailed;
  }
  return status;
}

int Upgrade(Session& session, EventOutput& output, ConnectOptions connection, const RecordOptions& records,
            const UpgradeOptions& options) {
  // Nothing goes to a programmer before the file is known to be usable.
  const std::filesystem::path file = UsableFirmwareFile(session.Programmer(), options.firmware, output);
  if (file.empty()) return kExitRefused;
  connection.upgrading = true;
  // The groups that Connect adds read the first group's file.
  session.Programmer().FirmwareFileNamed = file;
  int status = session.Connect(connection, records);
  if (status != kExitOk) return status;
  const TQNProgrammer& first = session.Programmer();
  if (!first.FirmwareReady) {
    output.Message(MessageKind::Error,
                   FormatText(Tx(kUnusableFirmwareFile), file.string().c_str(), first.Firmware.problem.c_str()));
    return kExitRefused;
  }

  // Per group, in order: the channels chosen for the upgrade.
  std::vector<std::vector<int>> chosen;
  bool any = false;
  session.ForEachGroup([&](TQNProgrammer& p, int base) {
    auto& channels = chosen.emplace_back();
    for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
      const auto [upgrade, text] = UpgradeDecision(p, n, base + n, options.force);
      if (!text.empty()) output.Message(MessageKind::Information, text);
      if (upgrade) channels.push_back(n);
    }
    any = any || !channels.empty();
  });
  if (!any) return kExitOk;

  const auto groupOf = [](int base) { return static_cast<std::size_t>(base / ProgrammerChannels::kChannelCount); };
  status = session.Run([&](TQNProgrammer& p, int base) {
    if (!chosen[groupOf(base)].empty()) p.UpgradeProgrammers(chosen[groupOf(base)]);
  });
  if (status != kExitOk) return status;
  // The upgraded programmers run their new firmware: only a new search
  // tells what they are now.
  if (session.SearchAgain() == kExitFailed) return kExitFailed;
  status = kExitOk;
  session.ForEachGroup([&](TQNProgrammer& p, int base) {
    if (CheckUpgraded(p, base, chosen[groupOf(base)], output) != kExitOk) status = kExitFailed;
  });
  return status;
}

}  // namespace

CLI::App* AddUpgradeCommand(CLI::App& app, UpgradeOptions& options) {
  CLI::App* command = app.add_subcommand(
      "upgrade", "Upgrade the programmers' firmware from a firmware file: those older than the file (all with --force)");
  command->add_option("--firmware", options.firmware,
                      "Firmware file (default: " + std::string(kFirmwareFileName) +
                          " in the start directory, the user's data folder or the installed data folder)");
  command->add_flag("--force", options.force, "Upgrade every programmer found, also one as new as the file or newer");
  return command;
}

int RunUpgrade(EventOutput& output, ConnectOptions connection, const RecordOptions& records,
               const UpgradeOptions& options) {
  Session session(output);
  const int status = Upgrade(session, output, std::move(connection), records, options);
  const int closing = session.Close();
  return status == kExitOk ? closing : status;
}

void AdviseUpgrades(const TQNProgrammer& p, EventOutput& output, int base) {
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
    const int number = base + n;
    switch (p.FirmwareFound[n - 1]) {
      case State::Older:
        output.Message(MessageKind::Warning,
                       FormatText(Tx("programmer %d: firmware %s, file %s: run velkor-cli upgrade"), number,
                                  VersionOn(p, n).c_str(), p.FirmwareVersion.c_str()));
        break;
      case State::BootLoaderOnly:
        output.Message(MessageKind::Warning,
                       p.FirmwareReady
                           ? FormatText(Tx("programmer %d has no firmware: run velkor-cli upgrade"), number)
                           : FormatText(Tx("programmer %d has no firmware, and the firmware file cannot be used (%s): "
                                           "run velkor-cli upgrade --firmware FILE with a good one"),
                                        number, p.Firmware.problem.c_str()));
        break;
      case State::Current:
      case State::Unknown:
        break;
    }
  }
}

int ProgrammersWithoutFirmware(const TQNProgrammer& p) {
  int count = 0;
  for (const State state : p.FirmwareFound) count += state == State::BootLoaderOnly ? 1 : 0;
  return count;
}

}  // namespace velkor::cli
