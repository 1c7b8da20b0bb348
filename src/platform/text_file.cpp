#include "platform/text_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace velkor {

namespace {

std::string Describe(const std::filesystem::path& path, int error) {
  return path.string() + ": " + std::strerror(error);
}

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::string WriteFileAtomically(const std::filesystem::path& path, std::string_view content) {
  const std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  std::string tempName = ".";
  tempName += path.filename().string();
  tempName += ".XXXXXX";
  std::string temp = (dir / tempName).string();
  const int fd = mkstemp(temp.data());
  if (fd < 0) return Describe(path, errno);
  // A new file gets the usual permissions rather than mkstemp's 0600.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  if (!WriteAll(fd, content) || fsync(fd) != 0) {
    const int error = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    return Describe(path, error);
  }
  if (::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    return Describe(path, error);
  }
  return {};
}

std::string AppendFileAtomically(const std::filesystem::path& path, std::string_view content,
                                 std::string_view headerIfNew) {
  std::string whole;
  std::error_code ec;
  const bool exists = std::filesystem::exists(path, ec);
  std::ifstream existing(path, std::ios::binary);
  if (exists && !existing) return Describe(path, EACCES);
  if (exists) {
    std::ostringstream old;
    old << existing.rdbuf();
    if (existing.bad()) return Describe(path, EIO);
    whole = old.str();
  } else {
    whole = headerIfNew;
  }
  whole += content;
  return WriteFileAtomically(path, whole);
}

}  // namespace velkor
