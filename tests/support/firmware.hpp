// Firmware files for tests, packed the way the packer tool packs them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "link/firmware_file.hpp"

namespace velkor::test {

// A firmware image of the given number of chunks, different for every seed.
inline std::vector<uint8_t> FirmwareImage(std::size_t chunks, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> image(chunks * kFirmwareChunkPayload);
  for (auto& b : image) b = static_cast<uint8_t>(random());
  return image;
}

inline std::vector<uint8_t> PackFirmware(const std::vector<uint8_t>& image, const std::string& version,
                                         uint32_t seed = 7) {
  std::mt19937 random(seed);
  std::string error;
  return PackFirmwareFile(image, version, [&random] { return static_cast<uint8_t>(random()); }, error);
}

// Writes "VelkorQN_EDF.VFR" of this version into directory.
inline void WriteFirmwareFile(const std::filesystem::path& directory, const std::string& version,
                              std::size_t chunks = 8) {
  const std::vector<uint8_t> file = PackFirmware(FirmwareImage(chunks, 1), version);
  std::ofstream(directory / kFirmwareFileName, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

}  // namespace velkor::test
