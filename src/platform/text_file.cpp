#include "platform/text_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr const char* kIsADirectory = TextKey("it is a directory");
constexpr const char* kNotARegularFile = TextKey("it is not a regular file (a FIFO or a device)");
constexpr const char* kPathNotRegular = TextKey("%s: not a regular file");

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

int OpenRegularFile(const std::filesystem::path& path, std::string& reason) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    reason = std::strerror(errno);
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    reason = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(info.st_mode)) {
    reason = S_ISDIR(info.st_mode) ? Tx(kIsADirectory) : Tx(kNotARegularFile);
    ::close(fd);
    return -1;
  }
  // Reads of a regular file never block; the flag goes for plain reads.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

std::string ReadRegularFile(const std::filesystem::path& path, std::size_t most, std::vector<uint8_t>& bytes) {
  std::string error;
  const int fd = OpenRegularFile(path, error);
  if (fd < 0) return error;
  // Room for the size the file has (one byte more sees its end in one
  // read), growing should it be longer, up to most + 1: a limit of
  // megabytes must not cost megabytes of zeroed memory for a small file.
  struct stat info {};
  const std::size_t sized = ::fstat(fd, &info) == 0 ? static_cast<std::size_t>(info.st_size) + 1 : 0;
  bytes.assign(std::min(most + 1, std::max<std::size_t>(sized, 4096)), 0);
  std::size_t got = 0;
  for (;;) {
    if (got == bytes.size()) {
      if (bytes.size() > most) break;
      bytes.resize(std::min(most + 1, bytes.size() * 2));
    }
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = std::strerror(errno);
      break;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  bytes.resize(got);
  return error;
}

std::string ReplaceFile(const std::filesystem::path& named, const std::function<std::string(int fd)>& write) {
  // A symbolic link is saved through: its target gets the content and the
  // link stays. What is there must be a regular file, whose mode (and owner,
  // where the program may set it) the new content keeps.
  std::error_code ec;
  std::filesystem::path path = named;
  if (std::filesystem::is_symlink(named, ec)) {
    path = std::filesystem::weakly_canonical(named, ec);
    if (ec) return Describe(named, ec.value());
  }
  struct stat existing {};
  const bool exists = ::stat(path.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode))
    return FormatText(Tx("%s: %s; nothing was saved"), path.string().c_str(),
                      S_ISDIR(existing.st_mode) ? Tx(kIsADirectory) : Tx(kNotARegularFile));
  const std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  // ".NAME.XXXXXX" beside the target, the name cut so that the whole stays
  // within the 255 bytes a file name may have.
  std::string tempName = ".";
  tempName += path.filename().string().substr(0, 200);
  tempName += ".XXXXXX";
  std::string temp = (dir / tempName).string();
  const int fd = mkstemp(temp.data());
  if (fd < 0) return Describe(path, errno);
  if (exists) {
    (void)!fchown(fd, existing.st_uid, existing.st_gid);  // only where allowed
    fchmod(fd, existing.st_mode & 07777);
  } else {
    // A new file gets the usual permissions rather than mkstemp's 0600.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  std::string failure = write(fd);
  // A file that takes the place of another goes to the disk before the
  // rename: after a crash the name then holds the old content or the new,
  // never an empty file. A new file takes no good one's place, and is not
  // waited for: writing 64 MiB out to the disk can take longer than the
  // whole conversion that made them.
  if (failure.empty() && exists && fsync(fd) != 0) failure = Describe(path, errno);
  if (!failure.empty()) {
    ::close(fd);
    ::unlink(temp.c_str());
    return failure;
  }
  if (::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    return Describe(path, error);
  }
  return {};
}

std::string WriteFileAtomically(const std::filesystem::path& path, std::string_view content) {
  return ReplaceFile(path, [&](int fd) { return WriteAll(fd, content) ? std::string() : Describe(path, errno); });
}

std::string CheckAppendable(const std::filesystem::path& path) {
  std::error_code ec;
  const bool existed = std::filesystem::exists(path, ec);
  if (existed && !std::filesystem::is_regular_file(path, ec))
    return FormatText(Tx(kPathNotRegular), path.string().c_str());
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return Describe(path, errno);
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  if (!existed) ::unlink(path.c_str());
  if (!regular) return FormatText(Tx(kPathNotRegular), path.string().c_str());
  return {};
}

std::string AppendToFile(const std::filesystem::path& path, std::string_view content,
                         std::string_view headerIfNew) {
  // Without blocking: a FIFO in the file's place must not hang the program.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return Describe(path, errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = errno;
    ::close(fd);
    return S_ISREG(info.st_mode) ? Describe(path, error) : FormatText(Tx(kPathNotRegular), path.string().c_str());
  }
  std::string block;
  block.reserve(headerIfNew.size() + 1 + content.size());
  if (info.st_size == 0) {
    block.append(headerIfNew);
  } else {
    char last = '\n';
    const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (reader >= 0) {
      if (::pread(reader, &last, 1, info.st_size - 1) != 1) last = '\n';
      ::close(reader);
    }
    if (last != '\n') block.push_back('\n');
  }
  block.append(content);
  // One write: the block lands whole after whatever others appended.
  ssize_t written;
  do {
    written = ::write(fd, block.data(), block.size());
  } while (written < 0 && errno == EINTR);
  std::string error;
  if (written < 0) {
    error = Describe(path, errno);
  } else if (static_cast<std::size_t>(written) != block.size()) {
    const int why = errno;
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    if (end >= written) (void)!::ftruncate(fd, end - written);
    const long long took = written;
    error = why != 0 ? FormatText(Tx("%s: the disk took only %lld of %zu bytes (%s); the part written was removed"),
                                  path.string().c_str(), took, block.size(), std::strerror(why))
                     : FormatText(Tx("%s: the disk took only %lld of %zu bytes; the part written was removed"),
                                  path.string().c_str(), took, block.size());
  } else if (::fsync(fd) != 0) {
    error = Describe(path, errno);
  }
  ::close(fd);
  return error;
}

}  // namespace velkor
