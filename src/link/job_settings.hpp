// The operator's settings for the next job, sent with the chip parameters.
// Rebuilt from the window's controls at the start of every operation.
#pragma once

#include <cstdint>

namespace velkor {

// Option bits of a job.
inline constexpr uint8_t kOption5V = 0x01;
inline constexpr uint8_t kOption1V8 = 0x04;
inline constexpr uint8_t kOptionLowVoltChip = 0x20;
inline constexpr uint8_t kOptionSerialBigEndian = 0x30;
inline constexpr uint8_t kOptionErrorIfNotBlank = 0x40;
inline constexpr uint8_t kOptionPageFlash = 0x80;

struct JobSettings {
  uint8_t OpFlags = 0;
  uint8_t OptionBits = 0;
  uint8_t LatchedMode = 0;
  uint8_t AutoDetect = 0;
  uint8_t ClockCode = 0;
  uint8_t PowerUpTime = 0;
  uint16_t SettleTime = 0;
  uint16_t RemoveTime = 0;
  uint8_t SnEnable = 0;
  uint8_t SnWidth = 4;
  uint16_t SnStep = 0;
  uint32_t SnValue = 0;
  uint32_t SnAddress = 0xFFFFFFFF;
  uint8_t LimitOn = 0;
  uint32_t LimitCount = 0;
  // Not a field of the packets: whether block positions and used sizes of
  // 64 MiB and more are sent in the extension bytes (see the commands).
  bool ExtendedAddressing = false;
};

// Positions and used sizes in KB that fit the 16-bit fields of the packets.
inline constexpr uint32_t kPlainAddressableKB = 0x10000;

}  // namespace velkor
