// The chip's ID before it is programmed: read on the chip's own programmer
// and compared with the catalogue's two identification bytes, so that a
// wrong chip in the socket is refused before a byte is written to it.
#include "app/qn_programmer.hpp"
#include "data/text_format.hpp"
#include "link/frame.hpp"
#include "link/operation_codes.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr const char* kCheckingId = TextKey("芯片%d ：checking the chip's ID......");
constexpr const char* kIdMatches = TextKey("Chip ID 0x%02X 0x%02X matches %s.");
constexpr const char* kIdMismatch = TextKey("Chip ID 0x%02X 0x%02X does not match %s: 0x%02X 0x%02X");
constexpr const char* kNoIdToCompare =
    TextKey("The chip's ID is not checked: %s is not a flash chip, and has no ID to compare.");
constexpr int32_t kIdCheckRange = 500;

}  // namespace

bool TQNProgrammer::ChecksChipId(int n) {
  if (!Controls.ChkBoxCheckId.Checked) return false;
  if (Chip.Family < kFirstEepromFamily) return true;
  ChannelLog(n, FormatText(Tx(kNoIdToCompare), Controls.MCUNameEdit.Text.c_str()));
  return false;
}

void TQNProgrammer::StartIdCheck(int n, bool autoRun) {
  LinkChannel& ch = Channels.Channel(n);
  ch.AutoRun = autoRun ? 1 : 0;
  ch.Operation = kOpCheckId;
  ch.GaugeCreep = 1;
  AppendInfo(FormatText(Tx(kCheckingId), n));
  BeginOperation(n, kIdCheckRange);
  SendChipCommand(n, kCmdChipOperation, kSubOpReadIdAndStatus);
}

void TQNProgrammer::CheckIdReply(int n, uint16_t packetLength) {
  LinkChannel& ch = Channels.Channel(n);
  const uint8_t* payload = ch.PacketBuffer.data() + kPacketHeaderLength;
  if (packetLength < kPacketHeaderLength + 6 + 2) {
    ChannelLog(n, Tx(kTooFewIdBytes));
    EndOperation(n, true, {0, false, Tx(kTooFewIdBytes)});
    return;
  }
  const std::array<uint8_t, 2> found{payload[0], payload[1]};
  chipId_[n - 1] = found;
  chipStatus_[n - 1] = {payload[4], payload[5]};
  const std::string& name = Controls.MCUNameEdit.Text;
  if (found[0] != Chip.IdByte1 || found[1] != Chip.IdByte2) {
    const std::string text = FormatText(Tx(kIdMismatch), unsigned{found[0]}, unsigned{found[1]}, name.c_str(),
                                        unsigned{Chip.IdByte1}, unsigned{Chip.IdByte2});
    EndOperation(n, true, {0, false, text});
    ShowResultText(n, text);
    return;
  }
  ChannelLog(n, FormatText(Tx(kIdMatches), unsigned{found[0]}, unsigned{found[1]}, name.c_str()));
  if (EndIfStopped(n)) return;
  if (ch.AutoRun)
    BeginAuto(n);
  else
    BeginProgram(n);
}

}  // namespace velkor
