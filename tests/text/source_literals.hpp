// The string literals of C++ sources, read the way the compiler reads them:
// comments skipped, escapes decoded, adjacent literals joined. Each literal
// knows the name of the call it is the first argument of, so the texts the
// program marks for translation can be told from the others.
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
  // "Tx" for Tx("..."), "tr" for tr("..."); empty when the literal is not
  // the first thing in a call's parentheses.
  std::string call;
};

std::vector<SourceLiteral> LiteralsOf(const std::string& source, const std::filesystem::path& file = {});
// Every .cpp and .hpp below these folders.
std::vector<SourceLiteral> LiteralsBelow(const std::vector<std::filesystem::path>& folders);

}  // namespace velkor::test
