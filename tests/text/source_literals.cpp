#include "text/source_literals.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace velkor::test {

namespace {

bool IdentifierChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The escape at source[i] (just after the backslash), decoded; i moves past it.
void DecodeEscape(const std::string& source, std::size_t& i, std::string& out) {
  const char c = source[i++];
  switch (c) {
    case 'n': out += '\n'; return;
    case 't': out += '\t'; return;
    case 'r': out += '\r'; return;
    case '0': out += '\0'; return;
    case 'x': {
      unsigned value = 0;
      while (i < source.size() && std::isxdigit(static_cast<unsigned char>(source[i])))
        value = value * 16 + static_cast<unsigned>(std::stoi(std::string(1, source[i++]), nullptr, 16));
      out += static_cast<char>(value);
      return;
    }
    default: out += c;
  }
}

// The name of the call whose opening parenthesis is at position: the
// identifier before it, blanks between them skipped; empty for a
// parenthesis that opens no call ("(a + b)", a cast's "<int>(").
std::string CallOpenedAt(const std::string& source, std::size_t position) {
  std::size_t i = position;
  while (i > 0 && std::isspace(static_cast<unsigned char>(source[i - 1]))) --i;
  const std::size_t end = i;
  while (i > 0 && IdentifierChar(source[i - 1])) --i;
  return source.substr(i, end - i);
}

}  // namespace

std::vector<SourceLiteral> LiteralsOf(const std::string& source, const std::filesystem::path& file) {
  std::vector<SourceLiteral> literals;
  int line = 1;
  // The literal being joined with the ones that follow it.
  bool joining = false;
  // The calls whose parentheses enclose the scan, innermost last; a brace
  // opens a block (a lambda's body) whose literals belong to no call.
  std::vector<std::string> enclosing;
  std::size_t i = 0;
  while (i < source.size()) {
    const char c = source[i];
    if (c == '\n') ++line;
    if (c == '/' && i + 1 < source.size() && source[i + 1] == '/') {
      while (i < source.size() && source[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < source.size() && source[i + 1] == '*') {
      const std::size_t end = source.find("*/", i + 2);
      const std::size_t stop = end == std::string::npos ? source.size() : end + 2;
      line += static_cast<int>(
          std::count(source.begin() + static_cast<long>(i), source.begin() + static_cast<long>(stop), '\n'));
      i = stop;
      continue;
    }
    if (c == '\'') {
      // A character literal, or a digit separator (1'000'000).
      if (i > 0 && std::isxdigit(static_cast<unsigned char>(source[i - 1]))) {
        ++i;
        continue;
      }
      ++i;
      while (i < source.size() && source[i] != '\'') i += source[i] == '\\' ? 2 : 1;
      ++i;
      joining = false;
      continue;
    }
    if (c == '"') {
      const bool raw = i > 0 && source[i - 1] == 'R';
      std::string text;
      const int startLine = line;
      if (raw) {
        const std::size_t open = source.find('(', i);
        std::string closing = ")";
        closing.append(source, i + 1, open - i - 1);
        closing += '"';
        const std::size_t end = source.find(closing, open);
        text = source.substr(open + 1, end - open - 1);
        line += static_cast<int>(std::count(text.begin(), text.end(), '\n'));
        i = end + closing.size();
      } else {
        ++i;
        while (i < source.size() && source[i] != '"') {
          if (source[i] == '\\') {
            ++i;
            DecodeEscape(source, i, text);
          } else {
            text += source[i++];
          }
        }
        ++i;
      }
      if (joining) {
        literals.back().text += text;
      } else {
        literals.push_back({file, startLine, text, enclosing.empty() ? std::string() : enclosing.back()});
      }
      joining = true;
      continue;
    }
    if (c == '(') enclosing.push_back(CallOpenedAt(source, i));
    if (c == '{') enclosing.emplace_back();
    if ((c == ')' || c == '}') && !enclosing.empty()) enclosing.pop_back();
    if (!std::isspace(static_cast<unsigned char>(c))) joining = false;
    ++i;
  }
  return literals;
}

std::vector<SourceLiteral> LiteralsBelow(const std::vector<std::filesystem::path>& folders) {
  std::vector<std::filesystem::path> files;
  for (const std::filesystem::path& folder : folders)
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
      if (entry.is_regular_file() && (entry.path().extension() == ".cpp" || entry.path().extension() == ".hpp"))
        files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<SourceLiteral> all;
  for (const std::filesystem::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    std::vector<SourceLiteral> literals = LiteralsOf(content.str(), file);
    all.insert(all.end(), literals.begin(), literals.end());
  }
  return all;
}

}  // namespace velkor::test
