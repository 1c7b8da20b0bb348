// The hex digit rule shared by the text parsers of object files: a letter
// 'A'..'Z' is worth its code - 55, 'a'..'z' its code - 87, any other
// character its code - 48. No character is refused; a pair of characters is
// (first * 16 + second) cut to 8 bits.
#pragma once

#include <array>
#include <cstdint>

namespace velkor {

inline constexpr std::array<int16_t, 256> kHexDigitValue = [] {
  std::array<int16_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    if (c >= 'A' && c <= 'Z') {
      table[c] = static_cast<int16_t>(c - 55);
    } else if (c >= 'a' && c <= 'z') {
      table[c] = static_cast<int16_t>(c - 87);
    } else {
      table[c] = static_cast<int16_t>(c - 48);
    }
  }
  return table;
}();

// Every pair of characters, indexed by first | second << 8: one look-up per
// byte instead of two (64 KiB, of which well-formed files touch a few
// cache lines). Filled when the program starts: as a compile-time constant
// it takes more evaluation steps than some compilers allow by default.
inline const std::array<uint8_t, 65536> kHexPairValue = [] {
  std::array<uint8_t, 65536> table{};
  for (int i = 0; i < 65536; ++i) {
    table[i] = static_cast<uint8_t>(static_cast<uint32_t>(kHexDigitValue[i & 0xFF]) * 16u +
                                    static_cast<uint32_t>(kHexDigitValue[i >> 8]));
  }
  return table;
}();

inline int32_t HexDigit(char c) { return kHexDigitValue[static_cast<unsigned char>(c)]; }

inline uint8_t HexPair(char first, char second) {
  return kHexPairValue[static_cast<unsigned char>(first) | static_cast<unsigned>(static_cast<unsigned char>(second)) << 8];
}

// The pair at p[0], p[1].
inline uint8_t HexPairAt(const char* p) { return HexPair(p[0], p[1]); }

// Decodes count pairs from text into out and returns the sum of their
// values.
inline uint32_t DecodePairs(const char* text, uint32_t count, uint8_t* out) {
  uint32_t sum = 0;
  for (uint32_t j = 0; j < count; ++j) {
    const uint8_t b = HexPairAt(text + 2 * j);
    out[j] = b;
    sum += b;
  }
  return sum;
}

}  // namespace velkor
