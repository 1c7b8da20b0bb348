// printf-style formatting into a std::string. The program's convention is
// upper-case hexadecimal digits, so its formats use %X.
#pragma once

#include <cstdio>
#include <string>

namespace velkor {

template <typename... Values>
std::string FormatText(const char* format, Values... values) {
  const int length = std::snprintf(nullptr, 0, format, values...);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, values...);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

}  // namespace velkor
