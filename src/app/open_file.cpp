// Opening a file that comes without a dialog (dropped on the window, chosen
// from the recent files, named at start-up): whether it is a project or an
// object file is decided here, the load itself is the menu command's.
#include <algorithm>
#include <cctype>
#include <string_view>

#include "app/qn_programmer.hpp"
#include "data/object_file.hpp"
#include "data/project_file.hpp"

namespace velkor {

namespace {

// The file begins with a project file's two mark bytes and its name text.
// One that cannot be read is no project: the object load says why.
bool CarriesProjectMarks(const std::filesystem::path& path) {
  try {
    ProjectReader reader(path);
    uint8_t first = 0;
    uint8_t second = 0;
    std::string magic;
    return reader.GetByte(first) && reader.GetByte(second) && first == kProjectFirstByte &&
           second == kProjectSecondByte && reader.GetString(magic) && magic == kProjectMagic;
  } catch (const EInOutError&) {
    return false;
  }
}

}  // namespace

void TQNProgrammer::OpenDataFile(const std::string& path) {
  const bool project =
      HasProjectExtension(path) || (!KnownObjectExtension(path) && CarriesProjectMarks(path));
  if (project)
    LoadProjectFile(path);
  else
    LoadFile(path);
}

}  // namespace velkor
