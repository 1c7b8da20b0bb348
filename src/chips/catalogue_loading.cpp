#include "chips/catalogue_loading.hpp"

#include <algorithm>
#include <map>
#include <system_error>

#include "app/qn_programmer.hpp"
#include "chips/catalogue_file.hpp"
#include "platform/text_file.hpp"

namespace velkor {

namespace {

// Far above any catalogue (the installed one is some 30 KB).
constexpr std::size_t kLargestFile = 4 * 1024 * 1024;

// The text of a file, or the reason it cannot be read.
std::string ReadText(const std::filesystem::path& path, std::string& text) {
  std::vector<uint8_t> bytes;
  std::string error = ReadRegularFile(path, kLargestFile, bytes);
  if (error.empty() && bytes.size() > kLargestFile) error = "it is larger than 4 MiB";
  text.assign(bytes.begin(), bytes.end());
  return error;
}

std::string Where(const std::filesystem::path& path, std::size_t line) {
  return line == 0 ? path.string() : path.string() + ":" + std::to_string(line);
}

std::string Count(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
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
    problem(std::string("Chip catalogue: no ") + kCatalogueFileName + " in " + (searched.empty() ? "any folder" : searched) +
            "; the built-in table is used.");
  } else {
    std::string text;
    if (const std::string error = ReadText(file, text); !error.empty()) {
      problem("Chip catalogue: " + file.string() + " cannot be read: " + error + "; the built-in table is used.");
    } else {
      CatalogueFileReading reading = ReadCatalogueFile(text);
      if (reading.catalogue) {
        load.catalogue = std::move(*reading.catalogue);
        fromFile = true;
      } else {
        for (const FileProblem& p : reading.problems)
          problem("Chip catalogue: " + Where(file, p.line) + ": " + p.reason + ".");
        problem("Chip catalogue: " + file.string() + " is not used; the built-in table is.");
      }
    }
  }
  if (!fromFile) load.catalogue = CompiledCatalogue();
  else
    load.notes.push_back("Chip catalogue: " + file.string() + ", " +
                         Count(load.catalogue.entries.size(), "chip", "chips") + ".");

  // Captions the user's files gave so far, and where.
  std::map<std::string, std::string> userCaptions;
  for (const std::filesystem::path& userFile : UserChipFiles(folders.userChips)) {
    std::string text;
    if (const std::string error = ReadText(userFile, text); !error.empty()) {
      problem("User chips: " + userFile.string() + " cannot be read: " + error + "; the file is not used.");
      continue;
    }
    UserChipFileReading reading = ReadUserChipFile(text, userFile.string());
    for (const UserChip& chip : reading.chips)
      if (const auto earlier = userCaptions.find(chip.entry.caption); earlier != userCaptions.end())
        reading.problems.push_back({chip.line, "chip \"" + chip.entry.caption + "\" is already defined in " +
                                                   earlier->second});
    if (!reading.problems.empty()) {
      for (const FileProblem& p : reading.problems) problem("User chips: " + Where(userFile, p.line) + ": " + p.reason + ".");
      problem("User chips: " + userFile.string() + " is not used.");
      continue;
    }
    for (const UserChip& chip : reading.chips)
      userCaptions.emplace(chip.entry.caption, Where(userFile, chip.line));
    const std::size_t replaced = AddUserChips(load.catalogue, reading.chips);
    load.notes.push_back("User chips: " + userFile.string() + ": " +
                         Count(reading.chips.size() - replaced, "chip", "chips") + " added, " +
                         std::to_string(replaced) + " replaced.");
  }
  return load;
}

CatalogueLoad LoadAndUseCatalogue(const CatalogueFolders& folders) {
  CatalogueLoad load = LoadCatalogue(folders);
  UseCatalogue(load.catalogue, load.notes);
  return load;
}

}  // namespace velkor
