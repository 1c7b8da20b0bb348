// What a channel is doing: the operation its next reply belongs to.
#pragma once

#include <cstdint>

namespace velkor {

inline constexpr uint8_t kOpReadBlocks = 0x00;
inline constexpr uint8_t kOpDownload = 0x03;
inline constexpr uint8_t kOpErase = 0x05;
inline constexpr uint8_t kOpProgram = 0x07;
inline constexpr uint8_t kOpVerify = 0x09;
inline constexpr uint8_t kOpBlankCheck = 0x0E;
inline constexpr uint8_t kOpReadStream = 0x20;
inline constexpr uint8_t kOpReadId = 0x30;
inline constexpr uint8_t kOpFirmware = 0xA0;
inline constexpr uint8_t kOpIdle = 0xF0;

}  // namespace velkor
