// Chips written to files (--dump-chips): the whole memory of a chip, as the
// chip holds it (the page flash: its 528-byte pages one after the other).
#pragma once

#include <string>

#include "sim/chip_memory.hpp"

namespace velkor::sim {

// Writes every byte of memory to path. The bytes go to a temporary file in
// the same directory first, which then takes the final name, so that a
// reader finds either the whole file or none. Returns an empty text, or
// what went wrong (nothing is left behind then).
std::string WriteChipFile(const std::string& path, const ChipMemory& memory);

}  // namespace velkor::sim
