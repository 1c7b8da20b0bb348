// The loaders read from a path, so each fuzz input is written to a file of
// this process first: in /dev/shm where it exists (memory only), else in
// the temporary directory. The file is reused for every run and removed at
// exit.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace velkor::fuzz {

class InputFile {
 public:
  // extension chooses the loader, as the file name does in the program.
  explicit InputFile(const std::string& extension) {
    std::error_code ec;
    const std::filesystem::path dir =
        std::filesystem::is_directory("/dev/shm", ec) ? std::filesystem::path("/dev/shm")
                                                      : std::filesystem::temp_directory_path();
    path_ = dir / ("velkor-fuzz-" + std::to_string(::getpid()) + extension);
  }
  ~InputFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }

  const std::filesystem::path& Write(const uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
      std::perror(path_.c_str());
      std::abort();  // no input file means no run: stop loudly
    }
    return path_;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace velkor::fuzz
