// The programmer's firmware: the file read once at start-up, the upgrade of
// a programmer chunk by chunk (started by discovery, or on request: from the
// menu once the operator has confirmed it, or by the command line), and the
// replies that pace it.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "app/qn_programmer.hpp"
#include "data/text_format.hpp"
#include "link/frame.hpp"
#include "link/operation_codes.hpp"
#include "platform/text_file.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr const char* kFirmwareNotFoundLine = TextKey("File of \"VelkorQN_EDF.VFR\" not Found!");
constexpr const char* kNoDeviceBox = TextKey("No Device is Connected!");
constexpr int16_t kFirstChunkTicks = 500;

}  // namespace

FirmwareFile ReadFirmwareFileAt(const std::filesystem::path& path) {
  // One byte more than the buffer holds tells a file that is too large; a
  // FIFO named like the file is refused rather than waited on.
  std::vector<uint8_t> bytes;
  const std::string error = ReadRegularFile(path, kFirmwareBufferBytes, bytes);
  if (!error.empty())
    return FirmwareFile{false, {}, kFirmwareStart, 0, {}, FormatText(Tx("it cannot be read: %s"), error.c_str())};
  return ReadFirmwareFile(bytes);
}

std::vector<std::filesystem::path> TQNProgrammer::FirmwareFolders() const {
  // Before the window is shown (the command line checks its file before it
  // starts), the directory it will start in is the current one.
  std::error_code ec;
  std::vector<std::filesystem::path> folders{startDirectory_.empty() ? std::filesystem::current_path(ec)
                                                                     : startDirectory_};
  for (const auto& folder : {UserDataFolder(), InstalledFolder})
    if (!folder.empty()) folders.push_back(folder);
  return folders;
}

std::filesystem::path TQNProgrammer::FindFirmwareFile() const {
  std::error_code ec;
  for (const auto& folder : FirmwareFolders())
    if (std::filesystem::exists(folder / kFirmwareFileName, ec)) return folder / kFirmwareFileName;
  return {};
}

void TQNProgrammer::CheckFirmwareFile() {
  firmwarePath_ = FirmwareFileNamed.empty() ? FindFirmwareFile() : FirmwareFileNamed;
  if (!firmwarePath_.empty()) {
    AppendInfo(FormatText(Tx("Firmware file: %s"), firmwarePath_.string().c_str()));
    LoadFirmwareFile(firmwarePath_);
    return;
  }
  FirmwareReady = false;
  Firmware.problem = Tx("it was missing when the program started; the program reads it when it starts");
  AppendInfo(Tx(kFirmwareNotFoundLine));
  std::string searched;
  for (const auto& folder : FirmwareFolders()) searched += (searched.empty() ? "" : ", ") + folder.string();
  AppendInfo(FormatText(Tx("Looked for it in: %s."), searched.c_str()));
  // The box comes once the search for programmers has started, so that they
  // are found while it is open.
  firmwareBoxDue_ = true;
}

void TQNProgrammer::LoadFirmwareFile(const std::filesystem::path& path) {
  Firmware = ReadFirmwareFileAt(path);
  FirmwareVersion = Firmware.version;
  FirmwareReady = Firmware.ready;
  if (!FirmwareReady)
    AppendInfo(FormatText(Tx(kUnusableFirmwareFile), path.filename().string().c_str(), Firmware.problem.c_str()));
}

void TQNProgrammer::StartUpgrade(int n) {
  LinkChannel& ch = Channels.Channel(n);
  if (!FirmwareReady) {
    if (Firmware.problem.empty())
      ChannelLog(n, Tx("The programmer's firmware must be upgraded, but no usable firmware file was loaded."));
    else
      ChannelLog(n, FormatText(Tx("The programmer's firmware must be upgraded, but no usable firmware file was loaded "
                                  "(%s)."),
                               Firmware.problem.c_str()));
    ShowControls();
    return;
  }
  ch.Identified = 1;
  ch.Operation = kOpFirmware;
  ch.GaugeCreep = 0;
  ch.Busy = 1;
  ch.TimeoutTicks = kFirstChunkTicks;
  // The upgrade's result tells how long it took; no chip gets a number.
  operationStart_[n - 1] = SteadyNow();
  serialNumber_[n - 1].reset();
  serialValue_[n - 1].reset();
  ch.BlockPos = Firmware.start;
  ch.BlockEnd = static_cast<uint32_t>((Firmware.end - Firmware.start) / kFirmwareChunkAddresses + 1);
  GaugeControl& gauge = Gauge(n);
  gauge.Enabled = true;
  gauge.SetMax(static_cast<int>(ch.BlockEnd));
  gauge.SetProgress(2);
  gauge.Colour = GaugeColour::Blue;
  AppendInfo(FormatText(Tx("开始升级编程器%d固件......"), n));
  SendFirmwareChunk(n, static_cast<uint16_t>(ch.BlockPos));
  ShowControls();
}

void TQNProgrammer::SendFirmwareChunk(int n, uint16_t address) {
  LinkChannel& ch = Channels.Channel(n);
  SendPacket(ch, BuildFirmwareChunk(ch.PacketBuffer, address, Firmware));
}

void TQNProgrammer::FirmwareReply(int n) {
  LinkChannel& ch = Channels.Channel(n);
  Gauge(n).SetProgress(Gauge(n).Progress + 1);
  ch.BlockPos += kFirmwareChunkAddresses;
  if (ch.BlockPos < Firmware.end) {
    SendFirmwareChunk(n, static_cast<uint16_t>(ch.BlockPos));
    return;
  }
  SendFinish(n, kCmdFinishDownload);
  AppendInfo(FormatText(Tx("Firmware %d Upgrade Completed!"), n));
  EndOperation(n, false);
  // The firmware the programmer identified with is gone; the next search
  // finds out what it runs now.
  DeviceName[n - 1].clear();
  FirmwareFound[n - 1] = FirmwareState::Unknown;
}

bool TQNProgrammer::MayUpgrade(int n) {
  // A programmer at work keeps its operation: replacing its firmware now
  // would break the transfer under way.
  if (Channels.Channel(n).Busy) {
    ChannelLog(n, Tx("The programmer is busy; its firmware is not upgraded now."));
    return false;
  }
  if (!Channels.Port(n).IsOpen()) {
    ChannelLog(n, Tx("The programmer's port is closed; its firmware is not upgraded."));
    return false;
  }
  return true;
}

void TQNProgrammer::UpgradeProgrammers(const std::vector<int>& channels) {
  for (const int n : channels) {
    if (!MayUpgrade(n)) continue;
    Channels.Channel(n).RxCount = 0;
    StartUpgrade(n);
  }
}

std::string TQNProgrammer::UpgradeQuestion(const std::vector<int>& channels) const {
  std::string question;
  for (const int n : channels) {
    const std::string& name = DeviceName[n - 1];
    if (!question.empty()) question += '\n';
    question += FormatText(Tx("Upgrade the firmware of programmer %d (%s) to %s?"), n,
                           name.empty() ? Tx("not identified since its last upgrade") : name.c_str(),
                           FirmwareVersion.c_str());
  }
  return question;
}

void TQNProgrammer::DoFirmwareUpgrade1Click() {
  if (RefusedJobChange(Tx("upgrading firmware"))) return;
  // The file read at start-up must still be there; without one, any file
  // now in the folders says what to do next.
  std::error_code ec;
  const bool present =
      firmwarePath_.empty() ? !FindFirmwareFile().empty() : std::filesystem::exists(firmwarePath_, ec);
  if (!present) {
    FirmwareReady = false;
    if (!firmwarePath_.empty())
      Firmware.problem = Tx("it was missing when an upgrade was asked for; the program reads it again when it starts");
    view_.ShowMessage(MessageKind::Warning, Tx(kFirmwareNotFoundBox));
    return;
  }
  if (!FirmwareReady) {
    view_.ShowMessage(MessageKind::Warning,
                      FormatText(Tx(kUnusableFirmwareFile), kFirmwareFileName, Firmware.problem.c_str()));
    return;
  }
  // Exactly the programmers that identified themselves: a port that is
  // open but silent holds no programmer to upgrade.
  bool anyIdentified = false;
  std::vector<int> channels;
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
    if (!Channels.Channel(n).Identified) continue;
    anyIdentified = true;
    if (MayUpgrade(n)) channels.push_back(n);
  }
  if (!anyIdentified) {
    view_.ShowMessage(MessageKind::Warning, Tx(kNoDeviceBox));
    return;
  }
  if (channels.empty() || !view_.AskQuestion(UpgradeQuestion(channels))) return;
  UpgradeProgrammers(channels);
}

}  // namespace velkor
