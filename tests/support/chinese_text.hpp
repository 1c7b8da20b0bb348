// Whether a text holds Chinese: the check of the English texts.
#pragma once

#include <string>

namespace velkor::test {

// A Chinese character (U+2E80..U+9FFF: E2 BA.. to E9 in UTF-8) or
// full-width punctuation (U+FF00..U+FFEF: EF BC 80 to EF BF AF).
inline bool HasChinese(const std::string& text) {
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const auto next = static_cast<unsigned char>(text[i + 1]);
    const auto third = static_cast<unsigned char>(text[i + 2]);
    const bool cjk = (lead == 0xE2 && next >= 0xBA) || (lead >= 0xE3 && lead <= 0xE9);
    const bool fullWidth =
        lead == 0xEF && (next == 0xBC || next == 0xBD || next == 0xBE || (next == 0xBF && third < 0xB0));
    if (cjk || fullWidth) return true;
  }
  return false;
}

}  // namespace velkor::test
