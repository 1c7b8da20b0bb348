// The hex digit rule shared by the text parsers of object files: a letter
// 'A'..'Z' is worth its code - 55, 'a'..'z' its code - 87, any other
// character its code - 48. No character is refused; a pair of characters is
// (first * 16 + second) cut to 8 bits.
#pragma once

#include <array>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
// Sixteen pairs (32 characters) at text into out by the same rule, sixteen
// characters at a time; returns the sum of the sixteen values.
inline uint32_t DecodeSixteenPairs(const char* text, uint8_t* out) {
  // The digit values: code - 48, less 7 more for 'A'..'Z' and 39 more for
  // 'a'..'z', all modulo 256. Bytes from 0x80 on compare as negative, so
  // they are no letters, as the rule has it.
  const auto digits = [](__m128i c) {
    const auto within = [c](char low, char high) {
      return _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8(static_cast<char>(low - 1))),
                           _mm_cmplt_epi8(c, _mm_set1_epi8(static_cast<char>(high + 1))));
    };
    const __m128i upper = within('A', 'Z');
    const __m128i lower = within('a', 'z');
    __m128i v = _mm_sub_epi8(c, _mm_set1_epi8('0'));
    v = _mm_sub_epi8(v, _mm_and_si128(upper, _mm_set1_epi8(7)));
    return _mm_sub_epi8(v, _mm_and_si128(lower, _mm_set1_epi8(39)));
  };
  // Each 16-bit lane holds a pair, its first digit in the low byte: first *
  // 16 + second, cut to 8 bits.
  const auto pairs = [](__m128i v) {
    const __m128i first = _mm_and_si128(v, _mm_set1_epi16(0x00FF));
    const __m128i second = _mm_srli_epi16(v, 8);
    return _mm_and_si128(_mm_add_epi16(_mm_slli_epi16(first, 4), second), _mm_set1_epi16(0x00FF));
  };
  const __m128i low = pairs(digits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text))));
  const __m128i high = pairs(digits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16))));
  const __m128i bytes = _mm_packus_epi16(low, high);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
  const __m128i sums = _mm_sad_epu8(bytes, _mm_setzero_si128());
  return static_cast<uint32_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
}
#endif

// Decodes count pairs from text into out and returns the sum of their
// values.
inline uint32_t DecodePairs(const char* text, uint32_t count, uint8_t* out) {
  uint32_t sum = 0;
  uint32_t j = 0;
#if defined(__SSE2__)
  for (; j + 16 <= count; j += 16) sum += DecodeSixteenPairs(text + 2 * j, out + j);
#endif
  for (; j < count; ++j) {
    const uint8_t b = HexPairAt(text + 2 * j);
    out[j] = b;
    sum += b;
  }
  return sum;
}

}  // namespace velkor
