// Headless conversion of an object file into the image that would be
// programmed: the chip is chosen as the menu chooses it, the file loaded as
// the load command loads it and the used range saved as the save command
// saves it, with the information log written to a stream.
#pragma once

#include <cstdint>
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
  // How the image is saved: Auto by the output's extension, as File › Save
  // does; IntelHex, MotorolaS or Binary whatever the name.
  FormatChoice saveFormat = FormatChoice::Auto;
};

// The name that stands for standard input (as IN) or standard output (as
// OUT). Standard output takes the image alone: the caller sends the log
// elsewhere.
inline constexpr const char* kStandardStreamName = "-";
// The object file's name shown and sent with a download for data that came
// from standard input.
inline constexpr const char* kStandardInputCaption = "stdin";

// Standard input read whole into a file of its own, in a private folder
// under the temporary directory that goes with the object, so that the
// loaders can read it as they read any file: once to recognise its format,
// once per load. Raises EInOutError when standard input is a terminal or
// cannot be read, or the copy cannot be written.
class StandardInputFile {
 public:
  StandardInputFile();
  ~StandardInputFile();
  StandardInputFile(const StandardInputFile&) = delete;
  StandardInputFile& operator=(const StandardInputFile&) = delete;

  const std::string& Path() const { return path_; }
  uint64_t Size() const { return size_; }

 private:
  std::string folder_;
  std::string path_;
  uint64_t size_ = 0;
};

// Returns one of the statuses above; the log lines go to log, messages that
// the window would show in a box go to errors. An input of "-" is read from
// standard input whole first (Intel HEX and S-records are recognised by
// their content, or named by options.format); an output of "-" is written
// to standard output, in binary unless options.saveFormat names another.
int ConvertObjectFile(const std::string& input, const std::string& output, const std::string& chipCaption,
                      std::ostream& log, std::ostream& errors, const ConvertOptions& options = {});

}  // namespace velkor
