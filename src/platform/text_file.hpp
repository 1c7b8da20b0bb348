// Files the program writes: always through a temporary file beside the
// target and a rename, so that a failure never leaves a truncated file in
// place of a good one.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velkor {

// Replaces (or creates) path with content. Returns an empty string on
// success, otherwise what went wrong.
std::string WriteFileAtomically(const std::filesystem::path& path, std::string_view content);

// Appends content to path (creating it with header first when it does not
// exist), also through a temporary file and a rename.
std::string AppendFileAtomically(const std::filesystem::path& path, std::string_view content,
                                 std::string_view headerIfNew);

}  // namespace velkor
