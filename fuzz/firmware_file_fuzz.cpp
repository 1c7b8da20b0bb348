// The firmware file as the program reads it at start-up, and, when it is
// usable, every chunk packet an upgrade would send from it.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "link/firmware_file.hpp"

using namespace velkor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const FirmwareFile firmware = ReadFirmwareFile(std::span<const uint8_t>(data, size));
  if (!firmware.ready) {
    if (firmware.problem.empty()) std::abort();  // a refused file always says why
    return 0;
  }

  // A file the reader accepts must yield every chunk of its range: the
  // upgrade sends the first chunk and then one per 1024 addresses while the
  // address lies below the end, exactly FirmwareChunkCount packets.
  static std::array<uint8_t, kFirmwareChunkPacket> packet;
  const uint16_t chunks = FirmwareChunkCount(firmware);
  for (uint32_t c = 0; c < chunks; ++c) {
    const auto address = static_cast<uint16_t>(firmware.start + c * kFirmwareChunkAddresses);
    if (BuildFirmwareChunk(packet, address, firmware) != kFirmwareChunkPacket) std::abort();
  }
  return 0;
}
