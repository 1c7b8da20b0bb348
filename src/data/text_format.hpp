// printf-style formatting into a std::string. The program's convention is
// upper-case hexadecimal digits, so its formats use %X.
#pragma once

#include <cstdio>
#include <string>
#include <type_traits>

namespace velkor {

template <typename... Values>
std::string FormatText(const char* format, Values... values) {
  // A std::string passed for %s compiles and prints garbage: only numbers
  // and C strings may reach the format.
  static_assert(((std::is_arithmetic_v<Values> || std::is_pointer_v<Values> || std::is_enum_v<Values>) && ...),
                "FormatText takes numbers and C strings: pass text.c_str()");
  const int length = std::snprintf(nullptr, 0, format, values...);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, values...);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

}  // namespace velkor
