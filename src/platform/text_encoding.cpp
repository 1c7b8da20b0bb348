#include "platform/text_encoding.hpp"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace velkor {

namespace {

std::size_t Utf8CharacterLength(unsigned char lead) {
  return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

std::size_t GbkCharacterLength(unsigned char lead) { return lead >= 0x81 ? 2 : 1; }

// Converts with iconv, replacing each input character that cannot be
// converted by replacement.
std::string Convert(const char* to, const char* from, const std::string& input, const std::string& replacement,
                    std::size_t (*characterLength)(unsigned char lead)) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return input;
  std::string out;
  char buffer[256];
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t done = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, sizeof buffer - outLeft);
    if (done != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: skip one character of the input.
    out += replacement;
    const std::size_t skip = std::min(characterLength(static_cast<unsigned char>(*in)), inLeft);
    in += skip;
    inLeft -= skip;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  iconv_close(cd);
  return out;
}

}  // namespace

std::string Utf8ToGbk(const std::string& utf8) { return Convert("GBK", "UTF-8", utf8, "?", Utf8CharacterLength); }

std::string GbkToUtf8(const std::string& gbk) {
  return Convert("UTF-8", "GBK", gbk, "\xEF\xBF\xBD", GbkCharacterLength);
}

std::string GbkPrefix(const std::string& gbk, std::size_t maxBytes) {
  std::size_t end = 0;
  while (end < gbk.size()) {
    const std::size_t width = GbkCharacterLength(static_cast<unsigned char>(gbk[end]));
    if (end + width > maxBytes || end + width > gbk.size()) break;
    end += width;
  }
  return gbk.substr(0, end);
}

}  // namespace velkor
