#include "sim/chip_dump.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace velkor::sim {

namespace {

// Memory is read out in pieces of this many bytes.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

bool WriteAll(int fd, const uint8_t* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t n = write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string Failure(const std::string& what, const std::string& path) {
  return "cannot " + what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::string WriteChipFile(const std::string& path, const ChipMemory& memory) {
  // Beside the final name, so that the rename stays within the directory;
  // the process number keeps two simulators sharing a directory apart.
  const std::size_t slash = path.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::string temporary =
      path.substr(0, nameStart) + "." + path.substr(nameStart) + "." + std::to_string(getpid()) + ".part";

  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return Failure("write", path);
  std::vector<uint8_t> piece(static_cast<std::size_t>(std::min<uint64_t>(memory.Size(), kPieceBytes)));
  std::string error;
  for (uint64_t at = 0; at < memory.Size() && error.empty(); at += piece.size()) {
    const std::size_t length = static_cast<std::size_t>(std::min<uint64_t>(piece.size(), memory.Size() - at));
    memory.Read(at, std::span<uint8_t>(piece).first(length));
    if (!WriteAll(fd, piece.data(), length)) error = Failure("write", path);
  }
  if (close(fd) != 0 && error.empty()) error = Failure("write", path);
  if (error.empty() && rename(temporary.c_str(), path.c_str()) != 0)
    error = Failure("rename " + temporary + " to", path);
  if (!error.empty()) unlink(temporary.c_str());
  return error;
}

}  // namespace velkor::sim
