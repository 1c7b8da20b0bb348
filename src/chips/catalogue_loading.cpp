#include "chips/catalogue_loading.hpp"

#include <algorithm>
#include <map>
#include <system_error>

#include "app/qn_programmer.hpp"
#include "chips/catalogue_file.hpp"
#include "data/text_format.hpp"
#include "platform/text_file.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

// Far above any catalogue (the installed one is some 30 KB).
constexpr std::size_t kLargestFile = 4 * 1024 * 1024;

// The text of a file, or the reason it cannot be read.
std::string ReadText(const std::filesystem::path& path, std::string& text) {
  std::vector<uint8_t> bytes;
  std::string error = ReadRegularFile(path, kLargestFile, bytes);
  if (error.empty() && bytes.size() > kLargestFile) error = Tx("it is larger than 4 MiB");
  text.assign(bytes.begin(), bytes.end());
  return error;
}

std::string Where(const std::filesystem::path& path, std::size_t line) {
  return line == 0 ? path.string() : path.string() + ":" + std::to_string(line);
}


// The first catalogue file in the folders; empty when there is none.
std::filesystem::path FindCatalogueFile(const std::vector<std::filesystem::path>& folders) {
  std::error_code ec;
  for (const auto& folder : folders)
    if (!folder.empty() && std::filesystem::exists(folder / kCatalogueFileName, ec))
      return folder / kCatalogueFileName;
  return {};
}

// The user's chip files, in name order.
std::vector<std::filesystem::path> UserChipFiles(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  if (folder.empty() || !std::filesystem::is_directory(folder, ec)) return files;
  for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
       it.increment(ec))
    if (it->path().extension() == ".json") files.push_back(it->path());
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

CatalogueFolders StandardCatalogueFolders() {
  CatalogueFolders folders;
  std::error_code ec;
  folders.dataFolders.push_back(std::filesystem::current_path(ec));
  const std::filesystem::path user = UserDataFolder();
  if (!user.empty()) {
    folders.dataFolders.push_back(user);
    folders.userChips = user / "chips";
  }
  if (const std::filesystem::path installed = InstalledDataFolder(); !installed.empty())
    folders.dataFolders.push_back(installed);
  return folders;
}

CatalogueLoad LoadCatalogue(const CatalogueFolders& folders) {
  CatalogueLoad load;
  auto problem = [&](const std::string& line) {
    load.notes.push_back(line);
    load.problems.push_back(line);
  };

  const std::filesystem::path file = FindCatalogueFile(folders.dataFolders);
  bool fromFile = false;
  if (file.empty()) {
    std::string searched;
    for (const auto& folder : folders.dataFolders)
      if (!folder.empty()) searched += (searched.empty() ? "" : ", ") + folder.string();
    problem(FormatText(Tx("Chip catalogue: no %s in %s; the built-in table is used."), kCatalogueFileName,
                       searched.empty() ? Tx("any folder") : searched.c_str()));
  } else {
    std::string text;
    if (const std::string error = ReadText(file, text); !error.empty()) {
      problem(FormatText(Tx("Chip catalogue: %s cannot be read: %s; the built-in table is used."),
                         file.string().c_str(), error.c_str()));
    } else {
      CatalogueFileReading reading = ReadCatalogueFile(text);
      if (reading.catalogue) {
        load.catalogue = std::move(*reading.catalogue);
        fromFile = true;
      } else {
        for (const FileProblem& p : reading.problems)
          problem(FormatText(Tx("Chip catalogue: %s: %s."), Where(file, p.line).c_str(), p.reason.c_str()));
        problem(FormatText(Tx("Chip catalogue: %s is not used; the built-in table is."), file.string().c_str()));
      }
    }
  }
  if (!fromFile) load.catalogue = CompiledCatalogue();
  else
    load.notes.push_back(FormatText(
        load.catalogue.entries.size() == 1 ? Tx("Chip catalogue: %s, %zu chip.") : Tx("Chip catalogue: %s, %zu chips."),
        file.string().c_str(), load.catalogue.entries.size()));

  // Captions the user's files gave so far, and where.
  std::map<std::string, std::string> userCaptions;
  for (const std::filesystem::path& userFile : UserChipFiles(folders.userChips)) {
    std::string text;
    if (const std::string error = ReadText(userFile, text); !error.empty()) {
      problem(FormatText(Tx("User chips: %s cannot be read: %s; the file is not used."), userFile.string().c_str(),
                         error.c_str()));
      continue;
    }
    UserChipFileReading reading = ReadUserChipFile(text, userFile.string());
    for (const UserChip& chip : reading.chips)
      if (const auto earlier = userCaptions.find(chip.entry.caption); earlier != userCaptions.end())
        reading.problems.push_back({chip.line, FormatText(Tx("chip \"%s\" is already defined in %s"),
                                                          chip.entry.caption.c_str(), earlier->second.c_str())});
    if (!reading.problems.empty()) {
      for (const FileProblem& p : reading.problems)
        problem(FormatText(Tx("User chips: %s: %s."), Where(userFile, p.line).c_str(), p.reason.c_str()));
      problem(FormatText(Tx("User chips: %s is not used."), userFile.string().c_str()));
      continue;
    }
    for (const UserChip& chip : reading.chips)
      userCaptions.emplace(chip.entry.caption, Where(userFile, chip.line));
    const std::size_t replaced = AddUserChips(load.catalogue, reading.chips);
    const std::size_t added = reading.chips.size() - replaced;
    load.notes.push_back(FormatText(added == 1 ? Tx("User chips: %s: %zu chip added, %zu replaced.")
                                               : Tx("User chips: %s: %zu chips added, %zu replaced."),
                                    userFile.string().c_str(), added, replaced));
  }
  return load;
}

CatalogueLoad LoadAndUseCatalogue(const CatalogueFolders& folders) {
  CatalogueLoad load = LoadCatalogue(folders);
  UseCatalogue(load.catalogue, load.notes);
  return load;
}

}  // namespace velkor
