#include "sim/parameter_block.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/checksum.hpp"

namespace velkor::sim {

namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

std::string Describe(const char* format, unsigned a, unsigned b = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// In the download start packet the block carries random values where the
// chip commands have zeros: its byte 6 and bytes 10-11.
enum class Fill { Zeros, Random };

// Reads the 48 bytes from b; returns what is wrong with the fixed fields.
std::string ReadBlock(const uint8_t* b, Fill fill, ParameterBlock& out) {
  ChipParams& chip = out.chip;
  JobSettings& job = out.job;
  job.LatchedMode = b[0x01];
  chip.AddrStyle = b[0x02];
  chip.Family = b[0x04];
  chip.SubType = b[0x05];
  job.AutoDetect = b[0x07];
  chip.PageSize = Get16(b + 0x08);
  chip.EraseTime = Get16(b + 0x0E);
  chip.Size = Get32(b + 0x10);
  chip.SizeKB = Get16(b + 0x14) | static_cast<uint32_t>(Get16(b + 0x0C)) << 16;
  chip.DeviceAddress = b[0x16];
  job.OpFlags = b[0x17];
  job.OptionBits = b[0x18];
  job.ClockCode = b[0x19];
  out.sums.Crc16 = Get16(b + 0x1A);
  out.sums.AccSum16 = Get16(b + 0x1C);
  chip.IdByte1 = b[0x1E];
  chip.IdByte2 = b[0x1F];
  std::copy(b + 0x20, b + 0x28, chip.StatusBytes.begin());
  chip.ReservedWord1 = Get16(b + 0x28);
  chip.EepromProtect = b[0x2A];
  chip.ReservedByte3 = b[0x2B];
  chip.ReservedWord2 = Get16(b + 0x2C);
  chip.ReservedByte1 = b[0x2E];
  chip.ReservedByte2 = b[0x2F];

  if (b[0x00] != 0x00) return Describe("parameter byte 0 is 0x%02X, not 0x00", b[0x00]);
  if (b[0x03] != 0x20) return Describe("parameter byte 3 is 0x%02X, not 0x20", b[0x03]);
  // Bytes 10-11 are spare (random in the start packet); bytes 12-13 hold the
  // used size's high bits.
  if (fill == Fill::Zeros) {
    if (b[0x06] != 0) return Describe("parameter byte 6 is 0x%02X, not 0x00", b[0x06]);
    for (std::size_t i = 0x0A; i < 0x0C; ++i)
      if (b[i] != 0) return Describe("parameter byte %u is 0x%02X, not 0x00", static_cast<unsigned>(i), b[i]);
  }
  return {};
}

std::string ReadText(const uint8_t* field, std::size_t width) {
  const uint8_t* end = std::find(field, field + width, 0);
  return std::string(reinterpret_cast<const char*>(field), static_cast<std::size_t>(end - field));
}

}  // namespace

ParameterBlockReading ReadParameterBlock(std::span<const uint8_t, kParamHeaderLength> bytes) {
  ParameterBlockReading reading;
  reading.problem = ReadBlock(bytes.data(), Fill::Zeros, reading.block);
  return reading;
}

StartPacketReading ReadStartPacket(std::span<const uint8_t, kStartDownloadPayload> payload) {
  // Offsets below are payload offsets: packet offset - 8.
  const uint8_t* p = payload.data();
  StartPacketReading reading;
  if (std::memcmp(p, kStartSignature, sizeof kStartSignature) != 0) {
    reading.fault = StartPacketFault::Signature;
    reading.problem = "the payload does not begin with the signature NQKV";
    return reading;
  }
  const uint16_t innerCheck = LinkCrc16(p, 0x00, 0xFF);
  if (Get16(p + 0x100) != innerCheck) {
    reading.fault = StartPacketFault::InnerCheck;
    reading.problem = Describe("inner check value 0x%04X received, 0x%04X expected", Get16(p + 0x100), innerCheck);
    return reading;
  }
  uint16_t sum = 0;
  for (std::size_t i = 0; i <= 0x101; ++i) sum = static_cast<uint16_t>(sum + p[i]);
  if (Get16(p + 0x102) != sum) {
    reading.fault = StartPacketFault::InnerCheck;
    reading.problem = Describe("inner sum 0x%04X received, 0x%04X expected", Get16(p + 0x102), sum);
    return reading;
  }

  StartPacketJob& job = reading.job;
  reading.problem = ReadBlock(p + 0x04, Fill::Random, job.parameters);
  if (!reading.problem.empty()) {
    reading.fault = StartPacketFault::Fields;
    return reading;
  }
  JobSettings& settings = job.parameters.job;
  settings.SnEnable = p[0x34];
  settings.SnWidth = p[0x35];
  settings.SnStep = Get16(p + 0x36);
  settings.SnAddress = Get32(p + 0x38);
  settings.SnValue = Get32(p + 0x3C);
  settings.LimitOn = p[0x44];
  settings.PowerUpTime = p[0x45];
  settings.LimitCount = Get32(p + 0x46);
  settings.SettleTime = Get16(p + 0x4A);
  settings.RemoveTime = Get16(p + 0x4C);
  job.chipName = ReadText(p + 0x54, 16);
  job.fileName = ReadText(p + 0x64, 48);
  return reading;
}

}  // namespace velkor::sim
