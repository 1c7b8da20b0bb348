// What a simulated programmer says about itself: its name, firmware version,
// capability and the serial-number settings it holds.
#pragma once

#include <cstdint>
#include <string>

namespace velkor::sim {

struct SerialNumberSettings {
  bool enabled = false;
  uint16_t increment = 1;
  uint32_t startAddress = 0;
  uint32_t initial = 0;
  uint32_t current = 0;
};

struct ProgrammerOptions {
  std::string name = "Velkor350QN";
  std::string version = "V3.10";
  // Above 0x32 ('2') the programmer announces the streamed chip read.
  uint8_t capability = 0x33;
  SerialNumberSettings serialNumbers;
};

// The name the programmer reports: the model name, a blank, the version.
inline std::string FullName(const ProgrammerOptions& options) { return options.name + " " + options.version; }

}  // namespace velkor::sim
