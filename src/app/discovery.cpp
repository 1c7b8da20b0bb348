// Finding the programmers: the port list, the search over its first two
// ports, the identification replies, the firmware version check, the
// programmer's serial-number settings, and the loss of a port.
#include <grp.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/qn_programmer.hpp"
#include "data/text_format.hpp"
#include "link/operation_codes.hpp"
#include "link/identification.hpp"
#include "link/identify_query.hpp"
#include "platform/serial_device.hpp"
#include "platform/serial_ports.hpp"
#include "platform/usb_identity.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr const char* kSearching = TextKey("Searching Devices............");
constexpr const char* kNoDevice = TextKey("No Device Avalible");
constexpr const char* kChoosePort = TextKey("请选择通讯口......");
constexpr const char* kSettingsRule = ">---------------------------------------------------------------";
constexpr int16_t kIdentifyTicks = 500;
constexpr const char* kPortWentAway = TextKey("The programmer's port went away and was closed.");
// While an operation runs, the search after a plug event waits this long
// before it looks again.
constexpr std::chrono::milliseconds kBusyRetry{1000};
constexpr const char* kLatencyHint = TextKey(
    "Its adapter holds short replies for %d ms before passing them on (latency_timer), which slows every exchange, "
    "and this user may not lower it. The udev rule in the examples of the documentation "
    "(/usr/share/doc/velkor350qn/examples/70-velkor350qn.rules) sets it to 1 ms as the adapter is plugged in: %s");
constexpr std::size_t kCapabilityByte = 19;
constexpr std::size_t kVersionTextLimit = 31;
constexpr int kUpgradeNeeded = 3;
// The serial-number settings block ends the identification reply; its
// fields are counted back from the reply length L.
constexpr uint16_t kSettingsBlock = 60;
constexpr uint16_t kSnEnabledAt = 59, kSnIncrementAt = 57, kSnAddressLowAt = 55, kSnAddressHighAt = 53,
                   kSnInitialAt = 51, kSnCurrentAt = 23;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24));
}

// The group that may open a device, for the hint to a user who may not.
std::string DeviceGroup(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return "dialout";
  const group* g = getgrgid(info.st_gid);
  return g ? g->gr_name : std::to_string(info.st_gid);
}

}  // namespace

void TQNProgrammer::ListSerialPorts() {
  const bool named = !ExplicitPorts.empty();
  const std::vector<PortCandidate> candidates = named ? CheckPorts(ExplicitPorts, Devices) : ScanUsbSerialPorts(Devices);
  auto& list = Controls.ComboBoxCOM;
  list.Items.clear();
  SearchSlots.clear();
  for (const PortCandidate& port : candidates) {
    const bool usable = port.access == PortCandidate::Access::Usable;
    if (usable) list.Items.push_back(DescribePort(port));
    // A port found below another /dev than the system's is opened by its path.
    const std::string slot = named || Devices.IsSystem() ? port.name : port.path;
    if (usable || named) SearchSlots.push_back(usable ? slot : std::string());
    if (usable) continue;
    const std::string path = port.path.empty() ? port.name : port.path;
    if (port.access == PortCandidate::Access::NoPermission) {
      AppendInfo(
          FormatText(Tx("Port %s cannot be opened: permission denied. Serial devices belong to the group \"%s\": "
                        "add your user to it (sudo usermod -aG %s $USER) and log in again."),
                     path.c_str(), DeviceGroup(path).c_str(), DeviceGroup(path).c_str()));
    } else {
      AppendInfo(FormatText(Tx("Port %s is not searched: %s."), path.c_str(), WhyUnusable(port).c_str()));
    }
  }
  if (list.Items.empty()) {
    list.ItemIndex = -1;
    list.Text = Tx(kNoDevice);
  } else {
    list.ItemIndex = static_cast<int>(list.Items.size()) - 1;
    list.Text.clear();
  }
}

void TQNProgrammer::BitBtnFreshClick() {
  if (RefusedWhileBusy(Tx("refreshing the port list"))) return;
  Controls.ComboBoxCOM.Items.clear();
  DevicesFound = 0;
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
    Channels.Port(n).ClosePort();
    Channels.Channel(n).Identified = 0;
    Channels.Channel(n).Busy = 0;
    DeviceName[n - 1].clear();
    FirmwareFound[n - 1] = FirmwareState::Unknown;
  }
  ListSerialPorts();
}

void TQNProgrammer::BitBtnFindCOMClick() {
  if (RefusedWhileBusy(Tx("searching for programmers"))) return;
  DevicesFound = 0;
  Controls.ComboBoxCOM.Items.clear();
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
    LinkChannel& channel = Channels.Channel(n);
    channel.RxCount = 0;
    channel.Busy = 0;
    GaugeControl& gauge = Gauge(n);
    gauge.Enabled = false;
    gauge.SetProgress(0);
    gauge.Colour = GaugeColour::Blue;
    Channels.Port(n).ClosePort();
    channel.Identified = 0;
    DeviceName[n - 1].clear();
    FirmwareFound[n - 1] = FirmwareState::Unknown;
  }
  ListSerialPorts();
  for (std::size_t i = 0; i < SearchSlots.size() && i < ProgrammerChannels::kChannelCount; ++i) {
    const int n = static_cast<int>(i) + 1;
    Channels.Port(n).CommName = SearchSlots[i];
    if (SearchSlots[i].empty()) continue;
    LinkChannel& channel = Channels.Channel(n);
    channel.TimeoutTicks = kIdentifyTicks;
    channel.Identified = 0;
    Controls.InfoPanel.Caption = Tx(kSearching);
    AppendInfo(FormatText(Tx("Checking Device %d In %s............"), n, SearchSlots[i].c_str()));
    TComm& port = Channels.Port(n);
    port.OpenPort();  // an error ends the search and is shown to the operator
    ShowPortAdapter(n);
    // The adapter needs a moment after opening before it listens.
    identifyTimers_[n - 1] = loop_.singleShot(std::chrono::milliseconds(50), [this, n] {
      if (Channels.Port(n).IsOpen()) IdentifyQuery(Channels.Channel(n));
    });
  }
  ShowControls();
}

bool TQNProgrammer::IdentifyReply(LinkChannel& channel, uint16_t& frameLength) {
  const int n = channel.Number;
  const Identification id = ClassifyIdentificationFrame(channel, frameLength);
  switch (id.outcome) {
    case IdentifyOutcome::NotDecoded:
      return false;
    case IdentifyOutcome::ProgressReport:
      ShowProgressReport(n);
      return true;
    case IdentifyOutcome::Ignored:
      return true;
    case IdentifyOutcome::NoMatch:
      channel.Identified = 0;
      ChannelLog(n, Tx("No Device Found!"));
      ShowControls();
      return true;
    case IdentifyOutcome::ShortString:
      DeviceName[n - 1] = id.name.data();
      FirmwareFound[n - 1] = FirmwareState::BootLoaderOnly;
      if (UpgradeWhenFound) {
        StartUpgrade(n);
      } else {
        // Without firmware it can run no operation: it is not counted.
        ChannelLog(n, FormatText(Tx("\"%s\" answers: the programmer holds its boot loader only, no firmware; it is not "
                                    "upgraded now."),
                                 DeviceName[n - 1].c_str()));
        ShowControls();
      }
      return true;
    case IdentifyOutcome::Model:
      break;
  }
  const std::string name = id.name.data();
  const bool older = CheckFirmwareVersion(name) != 0;
  FirmwareFound[n - 1] = older ? FirmwareState::Older : FirmwareState::Current;
  if (older && UpgradeWhenFound) {
    DeviceName[n - 1] = name;
    StartUpgrade(n);
    return true;
  }
  channel.Identified = 1;
  ++DevicesFound;
  channel.Operation = kOpIdle;
  channel.TimeoutTicks = kIdentifyTicks;
  Gauge(n).Enabled = true;
  DeviceName[n - 1] = name;
  if (n == 1) Controls.InfoPanel.Caption = name;
  ChannelLog(n, FormatText(Tx("Find Device: %s!"), name.c_str()));
  if (older)
    ChannelLog(n, FormatText(Tx("Its firmware %s is older than the firmware file's %s; it is not upgraded now."),
                             FirmwareVersionOf(name).c_str(), FirmwareVersion.c_str()));
  Reported[n - 1] = ProgrammerReport{};
  Reported[n - 1].capability = id.packetLength > kCapabilityByte ? channel.PacketBuffer[kCapabilityByte] : 0;
  // Chips are read on programmer 1 only: its capability decides how, not
  // that of whichever programmer answered last.
  if (n == 1)
    FastReadCapable = id.packetLength > kCapabilityByte && channel.PacketBuffer[kCapabilityByte] > kStreamedReadCapability;
  ReportSerialSettings(n, id.packetLength);
  ShowControls();
  return true;
}

std::string FirmwareVersionOf(const std::string& identification) {
  const std::size_t at = identification.find(" V");
  return at == std::string::npos ? std::string() : identification.substr(at + 1, kVersionTextLimit);
}

int TQNProgrammer::CheckFirmwareVersion(const std::string& identification) {
  const std::string version = FirmwareVersionOf(identification);
  if (version.empty()) {
    AppendInfo(
        FormatText(Tx("\"%s\" carries no version text: its firmware is left as it is."), identification.c_str()));
    return 0;
  }
  // Character by character; the file's text ends with zeros, so a longer
  // programmer text sorts higher. A programmer text that is the file's cut
  // short ("V3" or "V3.2" against "V3.20") sorts lower: it is older.
  for (std::size_t i = 0; i < version.size(); ++i) {
    const auto mine = static_cast<unsigned char>(version[i]);
    const auto file = i < FirmwareVersion.size() ? static_cast<unsigned char>(FirmwareVersion[i]) : 0u;
    if (mine != file) return mine < file ? kUpgradeNeeded : 0;
  }
  return version.size() < FirmwareVersion.size() ? kUpgradeNeeded : 0;
}

void TQNProgrammer::ReportSerialSettings(int channel, uint16_t replyLength) {
  const uint8_t* reply = Channels.Channel(channel).PacketBuffer.data();
  const uint16_t length = Le16(reply + 3);
  AppendPlain(kSettingsRule);
  if (length < kSettingsBlock || length > replyLength) {
    AppendPlain(FormatText(Tx("编程器%d ：the identification reply holds no serial-number settings."), channel));
  } else if (reply[length - kSnEnabledAt] != 0) {
    const uint16_t increment = Le16(reply + length - kSnIncrementAt);
    // The programmer reports the start address in two halves.
    const uint32_t address = Le16(reply + length - kSnAddressLowAt) |
                             (uint32_t{Le16(reply + length - kSnAddressHighAt)} << 16);
    ProgrammerReport& report = Reported[channel - 1];
    report.settingsReported = true;
    report.serialNumbersOn = true;
    report.increment = increment == 0 ? 1 : increment;
    report.startAddress = address;
    report.initial = Le32(reply + length - kSnInitialAt);
    report.current = Le32(reply + length - kSnCurrentAt);
    AppendPlain(FormatText(Tx("编程器%d ：有设定序列号烧写功能!"), channel));
    AppendPlain(FormatText(Tx(" 序列号初始值设定为：0x%08X.  增量为: %u"), Le32(reply + length - kSnInitialAt),
                       increment == 0 ? 1u : unsigned{increment}));
    AppendPlain(FormatText(Tx(" 序列号的起始地址为：0x%08X"), address));
    AppendPlain(FormatText(Tx(" 当前序列号为：      0x%08X"), Le32(reply + length - kSnCurrentAt)));
  } else {
    Reported[channel - 1].settingsReported = true;
    AppendPlain(FormatText(Tx("编程器%d ：没有设定序列号烧写功能！"), channel));
  }
  AppendPlain(kSettingsRule);
}

void TQNProgrammer::RequestHangup(int channel) {
  Channels.Port(channel).ClosePort();
  Channels.Channel(channel).Identified = 0;
  ChannelLog(channel, Tx(kPortWentAway));
  if (const UsbIdentity& usb = PortAdapter[channel - 1]; usb.Known())
    ChannelLog(channel, FormatText(Tx("Its port was %s, adapter %s."), Channels.Port(channel).CommName.c_str(),
                                   DescribeUsbIdentity(usb).c_str()));
  // An operation under way has failed with its programmer; its record still
  // names the programmer it ran on.
  if (Channels.Channel(channel).Busy) EndOperation(channel, true, {0, false, Tx(kPortWentAway)});
  Gauge(channel).Enabled = false;
  DeviceName[channel - 1].clear();
  FirmwareFound[channel - 1] = FirmwareState::Unknown;
  auto& list = Controls.ComboBoxCOM;
  if (!list.Items.empty()) list.Items.erase(list.Items.begin());
  if (list.Items.empty()) {
    list.ItemIndex = -1;
    list.Text = Tx(kChoosePort);
  } else if (list.ItemIndex >= static_cast<int>(list.Items.size())) {
    list.ItemIndex = static_cast<int>(list.Items.size()) - 1;
  }
  ShowControls();
}

void TQNProgrammer::ShowPortAdapter(int channel) {
  const std::string path = DevicePathOf(Channels.Port(channel).CommName);
  const std::string kernelName = KernelNameOf(path);
  UsbIdentity& usb = PortAdapter[channel - 1];
  usb = ReadUsbIdentity(kernelName, Devices);
  if (!usb.Known()) return;
  if (usb.byId.empty())
    ChannelLog(channel, FormatText(Tx("Adapter %s."), DescribeUsbIdentity(usb).c_str()));
  else
    ChannelLog(channel, FormatText(Tx("Adapter %s (%s)."), DescribeUsbIdentity(usb).c_str(), usb.byId.c_str()));
  const LatencyTimer timer = LowerLatencyTimer(kernelName, Devices);
  if (timer.state == LatencyTimer::State::Lowered)
    ChannelLog(channel, FormatText(Tx("Its latency timer was %d ms; it is now 1 ms."), timer.before));
  else if (timer.state == LatencyTimer::State::Refused)
    ChannelLog(channel, FormatText(Tx(kLatencyHint), timer.before, kLatencyRule));
}

void TQNProgrammer::UsbPortsChanged(const HotplugEvent& event) {
  if (event.kind == HotplugEvent::Kind::Removed) {
    for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n) {
      TComm& port = Channels.Port(n);
      if (!port.IsOpen()) continue;
      // The kernel has removed the device node when it announces the
      // removal; a by-id link or a serial number then leads nowhere.
      const std::string path = DevicePathOf(port.CommName);
      std::error_code ec;
      const bool gone = path.empty() || !std::filesystem::exists(path, ec) || KernelNameOf(path) == event.deviceName;
      if (!gone) continue;
      ChannelLog(n, FormatText(Tx("Its USB serial adapter %s (%s) was unplugged."), event.deviceName.c_str(),
                               port.CommName.c_str()));
      RequestHangup(n);
    }
  }
  SearchWhenSettled(HotplugSettle);
}

void TQNProgrammer::SearchWhenSettled(std::chrono::milliseconds delay) {
  HotplugSearch.Start(loop_, delay, [this] {
    if (AnyProgrammerBusy()) {
      SearchWhenSettled(kBusyRetry);
      return;
    }
    AppendInfo(Tx("USB serial adapters were plugged in or out: searching for programmers again."));
    BitBtnFindCOMClick();
  });
}

}  // namespace velkor
