#include "app/convert.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "app/headless_load.hpp"
#include "data/object_writer.hpp"
#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr std::size_t kCopyBlock = 1u << 20;
constexpr const char* kCannotKeepInput = TextKey("Cannot keep standard input in %s: %s");

}  // namespace

StandardInputFile::StandardInputFile() {
  if (::isatty(STDIN_FILENO))
    throw EInOutError(Tx("Standard input is a terminal: give the file's data through a pipe or a redirection."));
  std::string pattern = (std::filesystem::temp_directory_path() / "velkor-stdin-XXXXXX").string();
  if (!::mkdtemp(pattern.data()))
    throw EInOutError(FormatText(Tx(kCannotKeepInput), pattern.c_str(), std::strerror(errno)));
  folder_ = pattern;
  path_ = folder_ + "/standard-input";
  std::string failure;
  const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    failure = FormatText(Tx(kCannotKeepInput), path_.c_str(), std::strerror(errno));
  } else {
    std::vector<char> block(kCopyBlock);
    while (failure.empty()) {
      const ssize_t got = ::read(STDIN_FILENO, block.data(), block.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        failure = FormatText(Tx("Cannot read standard input: %s"), std::strerror(errno));
        break;
      }
      if (got == 0) break;
      for (ssize_t put = 0; put < got && failure.empty();) {
        const ssize_t n = ::write(fd, block.data() + put, static_cast<std::size_t>(got - put));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failure = FormatText(Tx(kCannotKeepInput), path_.c_str(), std::strerror(errno));
        if (n > 0) put += n;
      }
      size_ += static_cast<uint64_t>(got);
    }
    if (::close(fd) != 0 && failure.empty())
      failure = FormatText(Tx(kCannotKeepInput), path_.c_str(), std::strerror(errno));
  }
  if (!failure.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
    throw EInOutError(failure);
  }
}

StandardInputFile::~StandardInputFile() {
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

int ConvertObjectFile(const std::string& input, const std::string& output, const std::string& chipCaption,
                      std::ostream& log, std::ostream& errors, const ConvertOptions& options) {
  const CatalogueEntry* entry = FindChip(chipCaption);
  if (!entry || entry->hidden) {
    errors << FormatText(Tx("No chip \"%s\" in the selection menu (velkor350qn --list-chips lists them)."),
                         chipCaption.c_str())
           << "\n";
    return kConvertUnknownChip;
  }
  HeadlessLoad load(*entry, log, errors);

  const bool fromStandardInput = input == kStandardStreamName;
  const bool toStandardOutput = output == kStandardStreamName;
  const std::optional<ObjectFormat> saveFormat =
      SaveFormatFor(toStandardOutput ? std::filesystem::path() : std::filesystem::path(output), options.saveFormat);
  if (!saveFormat) {
    errors << Tx("The text hex format is only read: save as bin, hex or srec.") << "\n";
    return kConvertSaveFailed;
  }
  std::optional<StandardInputFile> standardInput;
  if (fromStandardInput) {
    try {
      standardInput.emplace();
    } catch (const EInOutError& e) {
      errors << e.what() << '\n';
      return kConvertLoadFailed;
    }
  }
  const std::string source = standardInput ? standardInput->Path() : input;
  const std::string inputName = fromStandardInput ? Tx("standard input") : input;

  if (!load.Load(source, inputName, options.format, options.allowTruncate)) return kConvertLoadFailed;
  const ImageBuffer& image = load.Programmer().Image;
  // The conversion ends with its save: the image's memory can serve the
  // output file's pages.
  load.Programmer().ReleaseImageAsSaved = true;

  // A project file: the chip with the window's settings for it and the
  // image, as Project › Save writes it (what `lock` makes a locked job of).
  if (!toStandardOutput && options.saveFormat == FormatChoice::Auto && HasProjectExtension(output)) {
    try {
      load.Programmer().SaveProject(output);
      errors << FileSavedMessage(output) << '\n';
    } catch (const EInOutError& e) {
      errors << e.what() << '\n';
      return kConvertSaveFailed;
    }
    return kConvertOk;
  }

  if (toStandardOutput || options.saveFormat != FormatChoice::Auto) {
    // The window's save goes by the name alone: the same range, written in
    // the format asked for, or to standard output (no name, no header text).
    try {
      if (toStandardOutput) {
        WriteUsedRange(STDOUT_FILENO, Tx("standard output"), image, *saveFormat, "");
      } else {
        SaveUsedRangeAs(image, output, *saveFormat, load.Programmer().SavedBytesRelease());
        errors << FileSavedMessage(output) << '\n';
      }
    } catch (const EInOutError& e) {
      errors << e.what() << '\n';
      return kConvertSaveFailed;
    }
    return kConvertOk;
  }
  return load.Save(output) ? kConvertOk : kConvertSaveFailed;
}

}  // namespace velkor
