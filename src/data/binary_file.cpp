// Raw binary: the file's bytes go to the image from address 0, read in large
// blocks straight into the image, whose pages for the file's size get fresh
// memory in one step first.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "data/object_file.hpp"
#include "data/text_format.hpp"
#include "platform/text_file.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr std::size_t kReadBlock = 8u << 20;

void ReportOffsetStop(uint8_t code, uint64_t offset, ImageReport& report) {
  report.AppendInfo(FormatText(Tx(kLoadStoppedAtOffset), static_cast<unsigned long long>(offset),
                               RecordCodeMessage(code), unsigned{code}));
}

}  // namespace

LoadOutcome ReadBinary(const std::filesystem::path& path, ImageBuffer& image, ImageReport& report) {
  LoadOutcome outcome;
  std::size_t loaded = 0;
  std::string why;
  const int fd = OpenRegularFile(path, why);
  if (fd < 0) {
    why = path.string() + ": " + why;
    outcome = {kRecordReadError, 0};
  } else {
    uint8_t* const data = image.Data.get();
    bool ended = false;
    // Reads into [loaded, end) until the file ends; a failure goes to outcome.
    const auto readUpTo = [&](std::size_t end) {
      while (loaded < end) {
        const ssize_t n = ::read(fd, data + loaded, std::min(kReadBlock, end - loaded));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          why = path.string() + ": " + std::strerror(errno);
          outcome = {kRecordReadError, loaded};
          return;
        }
        if (n == 0) {
          ended = true;
          return;
        }
        loaded += static_cast<std::size_t>(n);
      }
    };
    // The size the file has now; should it shrink meanwhile, the pages it
    // no longer fills read erased, and should it grow, the rest is read as
    // any file's.
    struct stat info {};
    const std::size_t expected =
        ::fstat(fd, &info) == 0 ? std::min<std::size_t>(static_cast<std::size_t>(info.st_size), kImageCapacity) : 0;
    FillPages(image.Data, 0, expected, [&](uint8_t*, std::size_t count) {
      readUpTo(count);
      return loaded;
    });
    if (outcome.code == kRecordAccepted && !ended) readUpTo(kImageCapacity);
    if (outcome.code == kRecordAccepted && loaded == kImageCapacity) {
      // A full image: anything more in the file has no place.
      uint8_t extra;
      ssize_t n;
      do {
        n = ::read(fd, &extra, 1);
      } while (n < 0 && errno == EINTR);
      if (n > 0) outcome = {kRecordBeyondImage, loaded};
      if (n < 0) outcome = {kRecordReadError, loaded};
    }
    ::close(fd);
  }
  image.FileStart = loaded > 0 ? 0 : kNoFileStart;
  image.FileEnd = loaded > 0 ? static_cast<uint32_t>(loaded - 1) : kNoFileEnd;
  if (outcome.code != kRecordAccepted) {
    ReportOffsetStop(outcome.code, outcome.position, report);
    if (outcome.code == kRecordBeyondImage) {
      report.Warn(FormatText(Tx(kBeyondImageAtOffset), kImageCapacity, kImageCapacity));
    } else {
      // The box keeps its words and adds which file and why, as the log does.
      if (!why.empty()) report.AppendInfo(why);
      report.Warn(why.empty() ? std::string(Tx(kReadFileDataError))
                              : FormatText("%s\n%s", Tx(kReadFileDataError), why.c_str()));
    }
  }
  return outcome;
}

}  // namespace velkor
