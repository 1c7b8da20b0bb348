// velkor-cli compare: two object files loaded for one chip, each into its
// own image exactly as the window loads it, and compared over the whole
// chip, as programming would leave it.
#pragma once

#include <cstddef>
#include <string>

#include "data/image_compare.hpp"
#include "data/object_file.hpp"

namespace velkor::cli {

// The most ranges --max-ranges may ask to list: each costs a few dozen bytes.
inline constexpr std::size_t kMostListedRanges = 1000000;

struct CompareOptions {
  std::string a;
  std::string b;
  std::string chip;
  FormatChoice format = FormatChoice::Auto;
  bool allowTruncate = false;
  // How many differing ranges are listed; the count goes on past them.
  std::size_t maxRanges = kDefaultListedRanges;
};

// Loads both files, compares chip addresses 0 to size - 1 (a byte no file
// wrote is erased, 0xFF) and prints the differing ranges and a summary on
// standard output, or with json one JSON object holding them; load
// messages go to standard error, and the information log too with
// logLines. Returns kExitOk when the images are equal, kExitFailed when
// they differ, kExitUsage for an unknown chip or both files from standard
// input, kExitRefused when a file does not load.
int RunCompare(const CompareOptions& options, bool json, bool logLines);

}  // namespace velkor::cli
