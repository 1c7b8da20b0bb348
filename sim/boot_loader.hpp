// The programmer's boot loader as the simulator plays it: the firmware
// chunks of an upgrade, each checked against the firmware file the
// programmer expects to receive, and the finish-download command that ends
// the upgrade.
//
// The chunks must come in order: the first at the file's start address,
// every further one 1024 addresses behind the last chunk taken. A chunk at
// the start address always begins the upgrade anew. A refused chunk is not
// taken, so the boot loader still waits for the same address. The upgrade
// succeeds when finish download arrives after every chunk of the file was
// taken; either way finish download ends it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "link/firmware_file.hpp"

namespace velkor::sim {

struct ChunkVerdict {
  // kStatusOk for a chunk that matches the file, else the status to answer.
  uint8_t status = 0;
  // What differed, when refused: the field or the first payload byte, with
  // what was received and what the file gives.
  std::string problem;
};

class BootLoader {
 public:
  // expected must be a file ReadFirmwareFile found ready.
  explicit BootLoader(FirmwareFile expected);

  // Checks a whole chunk packet (2058 bytes, its size and check value
  // already found right) against the file. Any chunk, good or bad, puts an
  // upgrade under way.
  ChunkVerdict Check(std::span<const uint8_t> packet);
  // Takes a chunk Check found good.
  void Take(std::span<const uint8_t> packet);

  // Chunks arrived since the last finish download (or since the start).
  bool UnderWay() const { return underWay_; }
  uint16_t ChunksTaken() const { return taken_; }
  uint16_t ChunksExpected() const { return chunks_; }

  // Finish download: true when every chunk of the file was taken. Ends the
  // upgrade either way; the next one starts at the start address.
  bool Finish();

  const FirmwareFile& Expected() const { return expected_; }

 private:
  FirmwareFile expected_;
  uint16_t chunks_ = 0;
  uint16_t taken_ = 0;  // the next chunk expected lies at start + taken_ x 1024
  bool underWay_ = false;
};

}  // namespace velkor::sim
