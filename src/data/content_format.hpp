// Recognising an object file by its content, for files whose extension is
// not one the loaders know (an Intel HEX file named fw.ihx, S-records named
// image.s3): loaded as binary, such a file would program its text.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "data/object_file.hpp"

namespace velkor {

// Intel HEX or Motorola S-records when every line of the file is a
// well-formed record of that format with a correct checksum (blank lines
// aside, at least one record); nothing otherwise. Reading stops at the
// first line that does not fit, so a binary file costs one block. Raises
// EInOutError when the file cannot be read.
std::optional<ObjectFormat> RecogniseRecordFile(const std::filesystem::path& path);

// One line as a complete record, checksum included.
bool IsIntelHexRecord(std::string_view line);
bool IsMotorolaRecord(std::string_view line);

}  // namespace velkor
