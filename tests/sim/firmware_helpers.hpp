// Firmware files and the host's firmware chunks, for the boot loader's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host_packets.hpp"
#include "link/firmware_file.hpp"
#include "sim/identification.hpp"

namespace velkor::sim::testing {

// The bytes of a firmware file packed from a pattern image of this many chunks.
inline std::vector<uint8_t> PackedFirmware(std::size_t chunks, const std::string& version, uint32_t seed = 3) {
  const std::vector<uint8_t> image = Pattern(chunks * kFirmwareChunkPayload, seed);
  uint32_t state = seed;
  std::string error;
  const std::vector<uint8_t> file = PackFirmwareFile(
      image, version,
      [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<uint8_t>(state >> 24);
      },
      error);
  EXPECT_FALSE(file.empty()) << error;
  return file;
}

// The file as the host reads it.
inline FirmwareFile ReadyFirmware(std::size_t chunks, const std::string& version, uint32_t seed = 3) {
  FirmwareFile firmware = ReadFirmwareFile(PackedFirmware(chunks, version, seed));
  EXPECT_TRUE(firmware.ready) << firmware.problem;
  return firmware;
}

// The chunk the host sends for this address.
inline Packet FirmwareChunk(uint16_t address, const FirmwareFile& firmware) {
  return BuildWith([&](std::span<uint8_t> p) { return BuildFirmwareChunk(p, address, firmware); });
}

// The addresses of the host's chunks: from the start, 1024 apart, while
// below the end.
inline std::vector<uint16_t> HostChunkAddresses(const FirmwareFile& firmware) {
  std::vector<uint16_t> addresses;
  uint32_t position = firmware.start;
  do {
    addresses.push_back(static_cast<uint16_t>(position));
    position += kFirmwareChunkAddresses;
  } while (position < firmware.end);
  return addresses;
}

// The full name the programmer reports in its identification reply.
inline std::string ReportedName(ModelHarness& programmer) {
  const auto replies = programmer.SendBytes(kQueryFrame);
  if (replies.size() != 1 || replies[0].size() != kIdentificationReplyLength) {
    ADD_FAILURE() << "no identification reply";
    return {};
  }
  return std::string(reinterpret_cast<const char*>(replies[0].data() + kNameOffset));
}

}  // namespace velkor::sim::testing
