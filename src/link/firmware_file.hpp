// The programmer's firmware file "VelkorQN_EDF.VFR": its layout, the
// fixed masks and key tables of the format, the reader the host uses at
// start-up, the packer that builds such a file from a plain image, and the
// chunk packets that carry the image to a programmer's boot loader.
//
// Layout (16-bit fields little-endian):
//   0     8     marker "KT2xFmWr", every byte XOR kMarkerMask
//   8     2     not read
//   10    22    version text, zero-filled
//   32    2     field mask M
//   34    2     FirmwareEnd XOR M
//   36    4     two further header words XOR M (unused)
//   40    2     payload length P XOR M
//   42    64    descriptive text, every byte XOR kDescriptionMask
//   106   3240  key table K of the file
//   3346  P rounded up to 16: the payload, 16-byte groups of four 4-byte
//               units; unit n (counting from 0, stepping by 2 modulo 2048
//               per unit) holds b0^K[2n], b1^K[2n+1], b2^K[2n], b3^K[2n+1];
//               positions past K count as zero
//   then  838   trailer
//   then  4     sum of every byte before it except bytes 8-9, 32 bits
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>
#include "text/text_table.hpp"

namespace velkor {

inline constexpr const char* kFirmwareFileName = "VelkorQN_EDF.VFR";
// The box that says the firmware file is missing.
inline constexpr const char* kFirmwareNotFoundBox = TextKey("文件\"VelkorQN_EDF.VFR\"没有找到，请确认！");
// A firmware file and why it cannot be used.
inline constexpr const char* kUnusableFirmwareFile = TextKey("The firmware file \"%s\" cannot be used: %s.");

inline constexpr char kFirmwareMarker[] = "KT2xFmWr";
inline constexpr uint8_t kMarkerMask = 0x5C;
inline constexpr uint8_t kDescriptionMask = 0xA7;

inline constexpr std::size_t kFirmwareBufferBytes = 65536;
inline constexpr uint16_t kFirmwareStart = 0x2000;
inline constexpr std::size_t kFirmwareHeaderBytes = 3346;
inline constexpr std::size_t kFirmwareKeyOffset = 106;
inline constexpr std::size_t kFirmwareKeyBytes = 3240;
inline constexpr std::size_t kFirmwareTrailerBytes = 838;
inline constexpr std::size_t kFirmwareVersionBytes = 22;

// Each chunk carries 1024 addresses: 512 four-byte units, 2048 bytes.
inline constexpr uint16_t kFirmwareChunkAddresses = 1024;
inline constexpr std::size_t kFirmwareChunkPayload = 2048;
inline constexpr std::size_t kFirmwareChunkPacket = 8 + kFirmwareChunkPayload + 2;

// The key table chunks are re-keyed with: chunk c uses the pair at
// (c AND 0xFE) and the byte after it.
const std::array<uint8_t, 256>& FirmwareChunkKeys();

struct FirmwareFile {
  // Marker matched and the sum was right.
  bool ready = false;
  // Taken once the marker matched, whatever the sum says.
  std::string version;
  uint16_t start = kFirmwareStart;
  uint16_t end = 0;
  // The unpacked image from offset 0; address A's unit lies at 2 x (A - start).
  std::vector<uint8_t> image;
  // Empty when ready; else why not.
  std::string problem;
};

// Reads a firmware file's bytes. Files larger than the firmware buffer, and
// ranges whose chunks would read past it, are refused with a reason.
FirmwareFile ReadFirmwareFile(std::span<const uint8_t> bytes);

// Builds a firmware file from an image (its length a multiple of 4, at
// least one chunk's worth and no more than the buffer holds) and a version
// text; random gives the mask, keys and fill. The image's last address is
// start + length / 2 - 1.
using FirmwareRandom = std::function<uint8_t()>;
std::vector<uint8_t> PackFirmwareFile(std::span<const uint8_t> image, const std::string& version,
                                      const FirmwareRandom& random, std::string& error);

// Chunks: how many the range takes, and the packet of the chunk at address
// (header, 2048 re-keyed bytes, check value) written to packet; returns its
// length, 0 when the packet or the image is too small.
uint16_t FirmwareChunkCount(const FirmwareFile& firmware);
std::size_t BuildFirmwareChunk(std::span<uint8_t> packet, uint16_t address, const FirmwareFile& firmware);

}  // namespace velkor
