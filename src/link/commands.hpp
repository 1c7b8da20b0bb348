// The commands the host sends to a programmer. Each builder writes one
// packet (header, payload, check value) into a packet buffer and returns its
// length; SendPacket frames it and hands it to the channel's port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "chips/chip_params.hpp"
#include "data/image_buffer.hpp"  // the page-flash layout of the image
#include "link/job_settings.hpp"
#include "link/link_channel.hpp"

namespace velkor {

// Command codes.
inline constexpr uint8_t kCmdStartDownload = 0x53;
inline constexpr uint8_t kCmdDownloadBlock = 0x55;
inline constexpr uint8_t kCmdChipOperation = 0x93;
inline constexpr uint8_t kCmdProgramBlock = 0x95;
inline constexpr uint8_t kCmdReadStream = 0x96;
inline constexpr uint8_t kCmdReadBlock = 0x9B;
inline constexpr uint8_t kCmdFinishDownload = 0x8A;
inline constexpr uint8_t kCmdFinishAutoRun = 0x86;
inline constexpr uint8_t kCmdFirmwareChunk = 0xB7;

// Sub-operations of the chip operation command.
inline constexpr uint16_t kSubOpErase = 0x03;
inline constexpr uint16_t kSubOpVerify = 0x33;
inline constexpr uint16_t kSubOpBlankCheck = 0x35;
inline constexpr uint16_t kSubOpReadIdAndStatus = 0x60;

inline constexpr std::size_t kBlockBytes = 4096;
inline constexpr uint32_t kBlockKB = 4;
inline constexpr std::size_t kParamHeaderLength = 48;
inline constexpr std::size_t kStartDownloadPayload = 260;
inline constexpr uint8_t kFinishSignature[5] = {'R', 'E', 'S', 'T', 0xA8};
inline constexpr uint8_t kStartSignature[4] = {'N', 'Q', 'K', 'V'};

// What the parameter block of every chip command carries besides the chip
// and the job: the image checksums.
struct ImageChecksums {
  uint16_t Crc16 = 0;
  uint16_t AccSum16 = 0;
};

// Random values of the start packet: a number from 0 to max inclusive.
using RandomSource = std::function<uint32_t(uint32_t max)>;
RandomSource MakeRandomSource();

// Block positions are in KB. The parameter field holds the low 16 bits. With
// extended addressing (JobSettings::ExtendedAddressing, for programmer
// firmware that reads it) the flags byte, which is 0 for block commands
// below 64 MiB, carries the bits above, so that the upper half of a 128 MiB
// chip is addressed as such; without it the host never sends a position
// from 64 MiB on.
inline uint16_t PositionLow(uint32_t blockPos) { return static_cast<uint16_t>(blockPos); }
inline uint8_t PositionHigh(uint32_t blockPos) { return static_cast<uint8_t>(blockPos >> 16); }

// Writes the 48-byte parameter block at payload (packet offset 8).
void WriteParamHeader(uint8_t* payload, const ChipParams& chip, const JobSettings& job, ImageChecksums sums);

// Chip operation (0x93), streamed read (0x96) or block read (0x9B): the
// parameter block alone. For the block read, parameter is the block position.
std::size_t BuildChipCommand(std::span<uint8_t> packet, uint8_t code, uint32_t parameter, const ChipParams& chip,
                             const JobSettings& job, ImageChecksums sums);

// One 4 KB block of the image at blockPos KB (plus dataOffset bytes) for the
// programmer's own memory; paramByteOr is OR-ed into parameter byte 2.
// Returns 0 when the block lies outside the image.
std::size_t BuildDownloadBlock(std::span<uint8_t> packet, uint32_t blockPos, const ChipParams& chip,
                               std::span<const uint8_t> image, uint32_t dataOffset = 0, uint8_t paramByteOr = 0);

// One 4 KB block to program, behind the parameter block; for the 528-byte
// page flash, eight pages of 512 data and 16 spare bytes. Returns 0 when the
// block lies outside the image.
std::size_t BuildProgramBlock(std::span<uint8_t> packet, uint32_t blockPos, const ChipParams& chip,
                              const JobSettings& job, ImageChecksums sums, std::span<const uint8_t> image);

// The texts of the start packet, already in the programmer's code page.
struct StartTexts {
  std::string chipNameGbk;
  std::string fileNameGbk;
};

// The download start packet (0x53) for channel 1 or 2.
std::size_t BuildStartDownload(std::span<uint8_t> packet, int channel, const ChipParams& chip,
                               const JobSettings& job, ImageChecksums sums, uint8_t devicesFound,
                               const StartTexts& texts, const RandomSource& random);

// The finishing commands 0x8A and 0x86.
std::size_t BuildFinish(std::span<uint8_t> packet, uint8_t code);

// Frames the packet held in the channel's packet buffer and sends it.
bool SendPacket(LinkChannel& channel, std::size_t packetLength);

}  // namespace velkor
