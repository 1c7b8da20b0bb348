// Headless conversion of an object file into the image that would be
// programmed: the chip is chosen as the menu chooses it, the file loaded as
// the load command loads it and the used range saved as the save command
// saves it, with the information log written to a stream.
#pragma once

#include <ostream>
#include <string>

#include "data/object_file.hpp"

namespace velkor {

// Exit statuses of a conversion.
inline constexpr int kConvertOk = 0;
inline constexpr int kConvertUnknownChip = 2;
inline constexpr int kConvertLoadFailed = 3;
inline constexpr int kConvertSaveFailed = 4;

// How a conversion loads and what it tolerates.
struct ConvertOptions {
  FormatChoice format = FormatChoice::Auto;
  // Data past the chip's end is cut off with a warning instead of failing
  // the conversion.
  bool allowTruncate = false;
};

// Returns one of the statuses above; the log lines go to log, messages that
// the window would show in a box go to errors.
int ConvertObjectFile(const std::string& input, const std::string& output, const std::string& chipCaption,
                      std::ostream& log, std::ostream& errors, const ConvertOptions& options = {});

}  // namespace velkor
