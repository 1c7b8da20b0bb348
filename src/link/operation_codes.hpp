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
// Host-side steps that are no command of their own: reading a chip back to
// compare it with the image, and reading its ID before it is programmed.
inline constexpr uint8_t kOpReadBack = 0x40;
inline constexpr uint8_t kOpCheckId = 0x50;
inline constexpr uint8_t kOpFirmware = 0xA0;
inline constexpr uint8_t kOpIdle = 0xF0;

// Statuses of a programmer's reply that the host acts on beyond their
// message: a chip that is not blank, and one that does not verify.
inline constexpr uint8_t kStatusNotBlank = 0x15;
inline constexpr uint8_t kStatusCompareFailed = 0x31;

}  // namespace velkor
