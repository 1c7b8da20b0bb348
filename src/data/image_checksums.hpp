// Checksums over large parts of the image (up to 128 MiB), written to run
// several bytes per step. Both give exactly the values of the link's
// reference routines (link/checksum.hpp) over the same bytes; the tests
// compare them on random data.
#pragma once

#include <cstdint>

namespace velkor {

// The link's 16-bit shift register (LinkCrc16) over buffer[first..last],
// eight bytes per step through tables. Unlike LinkCrc16 it has no upper
// bound on the range: it returns 0 only when last < first.
uint16_t LinkCrc16Sliced(const uint8_t* buffer, uint32_t first, uint32_t last);

// The wrapping 32-bit byte sum (ByteSum32) of buffer[first..last], summed in
// blocks into wide lanes so that the compiler can vectorise it; 0 when
// last < first.
uint32_t ByteSum32Wide(const uint8_t* buffer, uint32_t first, uint32_t last);

}  // namespace velkor
