// The parameters of the selected chip, as the programmer receives them.
#pragma once

#include <array>
#include <cstdint>

namespace velkor {

// Family codes are compared against three thresholds across the program.
inline constexpr uint8_t kFirstEepromFamily = 0xA0;  // below: flash-like
inline constexpr uint8_t kFirstSensorFamily = 0xD0;  // from here: sensors and SPD EEPROMs
inline constexpr uint8_t kFamilyDataFlash528 = 0x40;
inline constexpr uint8_t kFamilyController = 0x80;
inline constexpr uint8_t kFamilyI2cEeprom = 0xA0;
inline constexpr uint8_t kFamilySpiEeprom = 0xB0;
inline constexpr uint8_t kFamilyMicrowire = 0xC0;
inline constexpr uint8_t kFamilySensor = 0xD0;

struct ChipParams {
  uint8_t Family = 0;
  uint8_t SubType = 0;
  uint32_t Size = 2048;
  uint32_t SizeKB = 0;
  uint32_t PageSize = 8;
  uint8_t AddrStyle = 0;
  uint8_t ModeFlags = 0;
  uint8_t IdByte1 = 0;
  uint8_t IdByte2 = 0;
  uint16_t EraseTime = 0;
  uint8_t LowVoltChip = 0;
  uint8_t ForceQe = 0;
  uint8_t PageFlash = 0;
  uint8_t HideProtect = 0;
  std::array<uint8_t, 8> StatusBytes{};
  uint8_t DeviceAddress = 0xA0;
  uint8_t EepromProtect = 0;
  uint8_t ProtectSetting = 0;
  uint16_t ReservedWord1 = 0;
  uint16_t ReservedWord2 = 0;
  uint8_t ReservedByte1 = 0;
  uint8_t ReservedByte2 = 0;
  uint8_t ReservedByte3 = 0;
  // Held only to be stored in and restored from project files; never sent.
  uint16_t ReservedWord3 = 0x2000;
  uint8_t ReservedByte4 = 0x20;
  uint8_t ReservedByte5 = 0;
  uint8_t ReservedByte6 = 0;

  bool operator==(const ChipParams&) const = default;
};

}  // namespace velkor
