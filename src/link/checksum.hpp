// Check values and sums of the programmer link.
//
// All three routines take a buffer and an inclusive byte range [first, last],
// the form every caller of the link and of the image checksums uses.
#pragma once

#include <cstdint>

namespace velkor {

// The packet check value: a 16-bit shift register peculiar to this link
// (feedback 0x4A12, no initial or final inversion). It is not one of the
// published CRCs, so it must never be swapped for a library routine.
// Returns 0 for an empty range or a range beyond 0xFFFFFF.
uint16_t LinkCrc16(const uint8_t* buffer, uint32_t first, uint32_t last);

// 0x10000 minus the 16-bit byte sum of the range (0x10000 when the sum is 0
// or the range is empty); 0 for a range beyond 0xFFFFFF. Callers keep the
// low 16 bits.
uint32_t NegSum16(const uint8_t* buffer, uint32_t first, uint32_t last);

// Plain wrapping 32-bit byte sum; 0 for an empty range.
uint32_t ByteSum32(const uint8_t* buffer, uint32_t first, uint32_t last);

}  // namespace velkor
