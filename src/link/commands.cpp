#include "link/commands.hpp"

#include <algorithm>
#include <cstring>
#include <random>

#include "link/checksum.hpp"
#include "link/comm.hpp"
#include "link/frame.hpp"

namespace velkor {

namespace {

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void WriteHeader(uint8_t* p, uint8_t code, uint16_t parameter, uint8_t flags, const ChipParams& chip,
                 uint16_t length) {
  p[0] = code;
  Put16(p + 1, parameter);
  p[3] = flags;
  p[4] = chip.Family;
  p[5] = chip.SubType;
  Put16(p + 6, length);
}

// Closes a packet of 8 + payload bytes with its check value.
std::size_t Close(uint8_t* p, std::size_t payloadLength) {
  const std::size_t body = kPacketHeaderLength + payloadLength;
  Put16(p + body, LinkCrc16(p, 0, static_cast<uint32_t>(body - 1)));
  return body + 2;
}

bool Fits(std::span<uint8_t> packet, std::size_t payloadLength) {
  return packet.size() >= kPacketHeaderLength + payloadLength + 2;
}

// Copies count image bytes from offset, or refuses a range beyond the image.
bool CopyImage(uint8_t* to, std::span<const uint8_t> image, uint64_t offset, std::size_t count) {
  if (offset + count > image.size()) return false;
  std::memcpy(to, image.data() + offset, count);
  return true;
}

// A text field of the start packet: the text cut to the field, zeros after;
// an empty text is sent as "?".
void PutText(uint8_t* field, std::size_t width, const std::string& text) {
  std::memset(field, 0, width);
  const std::string& shown = text.empty() ? std::string("?") : text;
  std::memcpy(field, shown.data(), std::min(width, shown.size()));
}

}  // namespace

RandomSource MakeRandomSource() {
  auto engine = std::make_shared<std::mt19937>(std::random_device{}());
  return [engine](uint32_t max) { return std::uniform_int_distribution<uint32_t>(0, max)(*engine); };
}

void WriteParamHeader(uint8_t* h, const ChipParams& chip, const JobSettings& job, ImageChecksums sums) {
  // h points at packet offset 0x08; the comments give packet offsets.
  h[0x00] = 0x00;                                         // 0x08
  h[0x01] = job.LatchedMode;                              // 0x09
  h[0x02] = chip.AddrStyle;                               // 0x0A
  h[0x03] = 0x20;                                         // 0x0B
  h[0x04] = chip.Family;                                  // 0x0C
  h[0x05] = chip.SubType;                                 // 0x0D
  h[0x06] = 0x00;                                         // 0x0E
  h[0x07] = job.AutoDetect;                               // 0x0F
  Put16(h + 0x08, static_cast<uint16_t>(chip.PageSize));  // 0x10
  // Of the four spare bytes the last two carry the used size's bits above
  // 16 (a used range of 64 MiB or more) when extended addressing is on;
  // otherwise all four are 0, as a programmer without the extension expects.
  Put16(h + 0x0A, 0);                                     // 0x12
  Put16(h + 0x0C, job.ExtendedAddressing ? static_cast<uint16_t>(chip.SizeKB >> 16) : 0);  // 0x14
  Put16(h + 0x0E, chip.EraseTime);                        // 0x16
  Put32(h + 0x10, chip.Size);                             // 0x18
  Put16(h + 0x14, static_cast<uint16_t>(chip.SizeKB));    // 0x1C
  h[0x16] = chip.DeviceAddress;                           // 0x1E
  h[0x17] = job.OpFlags;                                  // 0x1F
  h[0x18] = job.OptionBits;                               // 0x20
  h[0x19] = job.ClockCode;                                // 0x21
  Put16(h + 0x1A, sums.Crc16);                            // 0x22
  Put16(h + 0x1C, sums.AccSum16);                         // 0x24
  h[0x1E] = chip.IdByte1;                                 // 0x26
  h[0x1F] = chip.IdByte2;                                 // 0x27
  std::copy(chip.StatusBytes.begin(), chip.StatusBytes.end(), h + 0x20);  // 0x28
  Put16(h + 0x28, chip.ReservedWord1);                    // 0x30
  h[0x2A] = chip.EepromProtect;                           // 0x32
  h[0x2B] = chip.ReservedByte3;                           // 0x33
  Put16(h + 0x2C, chip.ReservedWord2);                    // 0x34
  h[0x2E] = chip.ReservedByte1;                           // 0x36
  h[0x2F] = chip.ReservedByte2;                           // 0x37
}

std::size_t BuildChipCommand(std::span<uint8_t> packet, uint8_t code, uint32_t parameter, const ChipParams& chip,
                             const JobSettings& job, ImageChecksums sums) {
  if (!Fits(packet, kParamHeaderLength)) return 0;
  uint8_t* p = packet.data();
  // Only the block read carries a position; with extended addressing its
  // bits above 16 go into the flags. Without it a position that does not
  // fit would address another block: nothing is built.
  const bool read = code == kCmdReadBlock;
  if (read && !job.ExtendedAddressing && parameter >= kPlainAddressableKB) return 0;
  const uint8_t flags = read ? PositionHigh(parameter) : 0;
  WriteHeader(p, code, PositionLow(parameter), flags, chip, kParamHeaderLength);
  WriteParamHeader(p + kPacketHeaderLength, chip, job, sums);
  return Close(p, kParamHeaderLength);
}

std::size_t BuildDownloadBlock(std::span<uint8_t> packet, uint32_t blockPos, const ChipParams& chip,
                               std::span<const uint8_t> image, uint32_t dataOffset, uint8_t paramByteOr) {
  if (!Fits(packet, kBlockBytes)) return 0;
  uint8_t* p = packet.data();
  WriteHeader(p, kCmdDownloadBlock, PositionLow(blockPos), PositionHigh(blockPos), chip, kBlockBytes);
  p[2] |= paramByteOr;
  if (!CopyImage(p + kPacketHeaderLength, image, uint64_t{blockPos} * 1024 + dataOffset, kBlockBytes)) return 0;
  return Close(p, kBlockBytes);
}

std::size_t BuildProgramBlock(std::span<uint8_t> packet, uint32_t blockPos, const ChipParams& chip,
                              const JobSettings& job, ImageChecksums sums, std::span<const uint8_t> image) {
  const bool pages = chip.Family == kFamilyDataFlash528;
  const std::size_t dataLength = pages ? 8 * kDataFlashPageSize : kBlockBytes;
  const std::size_t payload = kParamHeaderLength + dataLength;
  if (!Fits(packet, payload)) return 0;
  if (!job.ExtendedAddressing && blockPos >= kPlainAddressableKB) return 0;
  uint8_t* p = packet.data();
  WriteHeader(p, kCmdProgramBlock, PositionLow(blockPos), PositionHigh(blockPos), chip,
              static_cast<uint16_t>(payload));
  WriteParamHeader(p + kPacketHeaderLength, chip, job, sums);
  uint8_t* data = p + kPacketHeaderLength + kParamHeaderLength;
  const uint64_t base = uint64_t{blockPos} * 1024;
  if (!pages) {
    if (!CopyImage(data, image, base, kBlockBytes)) return 0;
  } else {
    for (uint32_t page = 0; page < 8; ++page) {
      uint8_t* out = data + page * kDataFlashPageSize;
      if (!CopyImage(out, image, base + page * kDataFlashMainSize, kDataFlashMainSize) ||
          !CopyImage(out + kDataFlashMainSize, image,
                     kDataFlashSpareBase + uint64_t{blockPos} * 32 + page * kDataFlashSpareSize, kDataFlashSpareSize))
        return 0;
    }
  }
  return Close(p, payload);
}

std::size_t BuildStartDownload(std::span<uint8_t> packet, int channel, const ChipParams& chip,
                               const JobSettings& job, ImageChecksums sums, uint8_t devicesFound,
                               const StartTexts& texts, const RandomSource& random) {
  if (!Fits(packet, kStartDownloadPayload)) return 0;
  uint8_t* p = packet.data();
  std::memset(p, 0, kPacketHeaderLength + kStartDownloadPayload + 2);
  WriteHeader(p, kCmdStartDownload, 0, 0x20, chip, kStartDownloadPayload);
  const auto randomByte = [&random] { return static_cast<uint8_t>(random(254)); };

  std::memcpy(p + 0x08, kStartSignature, sizeof kStartSignature);
  // The parameter block, four bytes further on, with two fields random.
  WriteParamHeader(p + 0x0C, chip, job, sums);
  p[0x12] = randomByte();
  Put16(p + 0x16, static_cast<uint16_t>(random(65534)));

  p[0x3C] = job.SnEnable;
  p[0x3D] = job.SnWidth;
  Put16(p + 0x3E, static_cast<uint16_t>(devicesFound * job.SnStep));
  Put32(p + 0x40, job.SnAddress);
  // The second programmer starts one step above the first.
  Put32(p + 0x44, channel == 2 ? job.SnValue + job.SnStep : job.SnValue);
  for (int i = 0; i < 4; ++i) p[0x48 + i] = randomByte();
  p[0x4C] = job.LimitOn;
  p[0x4D] = job.PowerUpTime;
  Put32(p + 0x4E, job.LimitCount);
  Put16(p + 0x52, job.SettleTime);
  Put16(p + 0x54, job.RemoveTime);
  for (int i = 0; i < 6; ++i) p[0x56 + i] = randomByte();
  PutText(p + 0x5C, 16, texts.chipNameGbk);
  PutText(p + 0x6C, 48, texts.fileNameGbk);
  for (int i = 0; i < 101; ++i) p[0x9C + i] = randomByte();
  // 0x101 to 0x107 carry nothing and stay zero.

  Put16(p + 0x108, LinkCrc16(p, 0x08, 0x107));
  uint16_t sum = 0;
  for (std::size_t i = 0x08; i <= 0x109; ++i) sum = static_cast<uint16_t>(sum + p[i]);
  Put16(p + 0x10A, sum);
  return Close(p, kStartDownloadPayload);
}

std::size_t BuildFinish(std::span<uint8_t> packet, uint8_t code) {
  if (!Fits(packet, 2)) return 0;
  uint8_t* p = packet.data();
  p[0] = code;
  std::memcpy(p + 1, kFinishSignature, sizeof kFinishSignature);
  Put16(p + 6, 2);
  p[8] = 0;
  p[9] = 0;
  return Close(p, 2);
}

bool SendPacket(LinkChannel& channel, std::size_t packetLength) {
  if (packetLength == 0 || !channel.Port) return false;
  const std::size_t frame =
      EncodeFrame(std::span<const uint8_t>(channel.PacketBuffer.data(), packetLength), channel.TxBuffer);
  if (frame == 0) return false;
  return channel.Port->SendData(channel.TxBuffer.data(), static_cast<uint16_t>(frame));
}

}  // namespace velkor
