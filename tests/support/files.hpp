// Whole files for tests.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace velkor::test {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// A FIFO with no writer: a reader that opens it blocking waits for ever.
inline std::string MakeFifo(const std::filesystem::path& path) {
  ::mkfifo(path.c_str(), 0600);
  return path.string();
}

}  // namespace velkor::test
