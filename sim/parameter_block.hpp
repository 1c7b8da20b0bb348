// The programmer's reading of the chip and job parameters the host sends:
// the 48-byte parameter block of every chip command, and the download start
// packet, which repeats that block four bytes further on and adds the job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "chips/chip_params.hpp"
#include "link/commands.hpp"
#include "link/job_settings.hpp"

namespace velkor::sim {

// What a parameter block says. Of the chip, only the fields the block
// carries are filled (SizeKB from its low and high halves); of the job, its mode,
// detection, step, option and clock fields.
struct ParameterBlock {
  ChipParams chip;
  JobSettings job;
  ImageChecksums sums;
};

struct ParameterBlockReading {
  ParameterBlock block;
  // Empty when the block is sound, else what is wrong with it.
  std::string problem;
};

// The bytes of the host's used range: SizeKB when the block gives it, the
// whole chip otherwise (chips below 1 KB, whose SizeKB is 0). The model
// refuses both above the largest chip, so that this fits.
inline uint32_t UsedBytes(const ChipParams& chip) { return chip.SizeKB != 0 ? chip.SizeKB * 1024 : chip.Size; }

// Reads the parameter block of a chip command (payload bytes 0-47).
ParameterBlockReading ReadParameterBlock(std::span<const uint8_t, kParamHeaderLength> bytes);

// The job as the download start packet describes it.
struct StartPacketJob {
  ParameterBlock parameters;  // the serial-number, limit and timing fields in parameters.job
  std::string chipName;       // in the host's code page, up to the first zero byte
  std::string fileName;
};

enum class StartPacketFault {
  None,
  Signature,    // the payload does not begin with "NQKV"
  InnerCheck,   // the inner check value or the sum over the payload is wrong
  Fields,       // a fixed field holds something else
};

struct StartPacketReading {
  StartPacketJob job;
  StartPacketFault fault = StartPacketFault::None;
  std::string problem;
};

// Reads the 260-byte payload of the download start packet.
StartPacketReading ReadStartPacket(std::span<const uint8_t, kStartDownloadPayload> payload);

}  // namespace velkor::sim
