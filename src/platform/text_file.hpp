// Files the program writes: whole files through a temporary file beside the
// target and a rename, so that a failure never leaves a truncated file in
// place of a good one; records and logs appended in one write, cut back to
// where they began when the write fails part way.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velkor {

// Replaces (or creates) path with content. Returns an empty string on
// success, otherwise what went wrong.
std::string WriteFileAtomically(const std::filesystem::path& path, std::string_view content);

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
