// The program works in UTF-8. Texts that programmers and project files of
// the installed base hold in the GBK code page are converted at that
// boundary.
#pragma once

#include <string>

namespace velkor {

// Characters GBK cannot hold become '?'.
std::string Utf8ToGbk(const std::string& utf8);
// Bytes that are not valid GBK become U+FFFD.
std::string GbkToUtf8(const std::string& gbk);

// The longest prefix of a GBK text that fits maxBytes without cutting a
// double-byte character in two.
std::string GbkPrefix(const std::string& gbk, std::size_t maxBytes);

}  // namespace velkor
