// Files the program writes: whole files through a temporary file beside the
// target and a rename, so that a failure never leaves a truncated file in
// place of a good one; records and logs appended in one write, cut back to
// where they began when the write fails part way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velkor {

// Opens path for reading when it is a regular file; a FIFO, a device or a
// folder is refused at once (never waited on for a writer). Returns the
// descriptor, or -1 with reason set ("it is a directory", the system's
// reason, ...); the caller names the file.
int OpenRegularFile(const std::filesystem::path& path, std::string& reason);

// The bytes of a regular file, at most most + 1 of them (one more than
// most tells a file that is too large). An empty string, or the reason it
// could not be read.
std::string ReadRegularFile(const std::filesystem::path& path, std::size_t most, std::vector<uint8_t>& bytes);

// Replaces (or creates) path with content. Returns an empty string on
// success, otherwise what went wrong.
std::string WriteFileAtomically(const std::filesystem::path& path, std::string_view content);
// The same for content that write(fd) puts into the open file, returning
// what went wrong (empty: all of it written). The file is written beside
// path and renamed over it only when everything succeeded, so a failure
// leaves the old file as it was; when there is an old file, the new one is
// on the disk (fsync) before it takes its place. A symbolic link is written
// through, and an existing file's mode and owner are kept.
std::string ReplaceFile(const std::filesystem::path& path, const std::function<std::string(int fd)>& write);

// Appends content to path in one write at the file's end (O_APPEND), so
// that programs appending to the same file never lose each other's lines;
// a new or empty file gets headerIfNew first, and content that would follow
// a last line without its line end (left by a crash) starts on a line of
// its own. A write the disk takes only part of is cut back, so the file
// never keeps a fragment. Returns an empty string on success, otherwise the
// path and what went wrong.
// Whether content could be appended to path now: opened for appending (and
// removed again when this made it); an empty string, or the path and why not.
std::string CheckAppendable(const std::filesystem::path& path);

std::string AppendToFile(const std::filesystem::path& path, std::string_view content,
                         std::string_view headerIfNew = {});

}  // namespace velkor
