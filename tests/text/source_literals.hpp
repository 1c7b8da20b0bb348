// The string literals of C++ sources, read the way the compiler reads them:
// comments skipped, escapes decoded, adjacent literals joined. Each literal
// knows the name of the innermost call whose parentheses hold it, so the
// texts the program marks for translation can be told from the others, and
// a text handed straight to a call that shows it can be found.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/chinese_text.hpp"

namespace velkor::test {

struct SourceLiteral {
  std::filesystem::path file;
  int line = 0;
  std::string text;
  // "Tx" for Tx("..."), "f" for f(a, "..."), "Tx" again for
  // f(a, Tx("...")); empty outside any call's parentheses, or in a block or
  // braced list inside them.
  std::string call;
};

std::vector<SourceLiteral> LiteralsOf(const std::string& source, const std::filesystem::path& file = {});
// Every .cpp and .hpp below these folders.
std::vector<SourceLiteral> LiteralsBelow(const std::vector<std::filesystem::path>& folders);

}  // namespace velkor::test
