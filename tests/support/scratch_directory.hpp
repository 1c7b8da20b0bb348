// A scratch folder that a window or a program logic starts in: it makes its
// Log folder there and finds the programmers' firmware file there. The
// directory before comes back, and the folder goes, when it ends.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "support/firmware.hpp"

namespace velkor::test {

class ScratchStartDirectory {
 public:
  explicit ScratchStartDirectory(const std::string& prefix) : previous_(std::filesystem::current_path()) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a scratch folder " + pattern);
    path_ = pattern;
    std::filesystem::current_path(path_);
    WriteFirmwareFile(path_, "V3.10");
  }
  ~ScratchStartDirectory() {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchStartDirectory(const ScratchStartDirectory&) = delete;
  ScratchStartDirectory& operator=(const ScratchStartDirectory&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

}  // namespace velkor::test
