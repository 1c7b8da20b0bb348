// An exclusive lock on a file, held while the object lives: programs (and
// objects of one program) that take the same lock take turns.
#pragma once

#include <filesystem>
#include <string>

namespace velkor {

class FileLock {
 public:
  // Waits for the lock on path (an existing file); error says why it could
  // not be taken, and Held() is then false.
  FileLock(const std::filesystem::path& path, std::string& error);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace velkor
