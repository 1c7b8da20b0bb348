#include "data/object_file.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "data/content_format.hpp"
#include "data/load_stop.hpp"
#include "data/text_format.hpp"
#include "platform/text_file.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr std::array<const char*, 11> kRecordCodeMessages = {
    TextKey("record accepted"),
    TextKey("the line does not start a record"),
    TextKey("the record is shorter than its byte count or its type needs"),
    TextKey("extended address record with a non-zero address field"),
    TextKey("checksum wrong"),
    TextKey("unknown record type"),
    TextKey("data address beyond 0x1FFFFFFF"),
    TextKey("data beyond the image buffer"),
    TextKey("the record count does not match the data records"),
    TextKey("a byte value lacks its second hex digit"),
    TextKey("the file could not be read"),
};

std::string UpperExtension(const std::filesystem::path& path) {
  // From the last dot of the name, so that a name like ".hex" counts too.
  const std::string name = path.filename().string();
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return {};
  std::string extension = name.substr(dot);
  for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return extension;
}

}  // namespace

std::string LoadObjectFileLine(const std::string& path) { return FormatText(Tx(kLoadObjectFileLine), path.c_str()); }

std::string FileSavedMessage(const std::string& path) { return FormatText(Tx(kFileSavedMessage), path.c_str()); }

const char* RecordCodeMessage(uint8_t code) {
  return Tx(code < kRecordCodeMessages.size() ? kRecordCodeMessages[code] : TextKey("unknown result"));
}

void ReportLineStop(const LoadOutcome& outcome, ImageReport& report) {
  if (outcome.code == kRecordAccepted) return;
  const auto line = static_cast<unsigned long long>(outcome.position);
  report.AppendInfo(FormatText(Tx(kLoadStoppedAtLine), line, RecordCodeMessage(outcome.code), unsigned{outcome.code}));
  if (outcome.code == kRecordAddressTooHigh || outcome.code == kRecordBeyondImage) {
    report.Warn(FormatText(Tx(kBeyondImageAtLine), kImageCapacity - 1, line));
  }
}

namespace {

struct ExtensionFormat {
  std::string_view extension;
  ObjectFormat format;
  // Whether a load goes by this name. The others only name the format a
  // save writes: a load recognises such a file by its content, as it does
  // any name it does not know.
  bool loadsByName;
};
constexpr std::array<ExtensionFormat, 11> kExtensions = {{
    {".HEX", ObjectFormat::IntelHex, true},
    {".TXT", ObjectFormat::HexText, true},
    {".S19", ObjectFormat::MotorolaS, true},
    {".S28", ObjectFormat::MotorolaS, true},
    {".S37", ObjectFormat::MotorolaS, true},
    {".SREC", ObjectFormat::MotorolaS, true},
    {".MOT", ObjectFormat::MotorolaS, true},
    {".BIN", ObjectFormat::Binary, true},
    {".IHX", ObjectFormat::IntelHex, false},
    {".IHEX", ObjectFormat::IntelHex, false},
    {".S", ObjectFormat::MotorolaS, false},
}};

const ExtensionFormat* FindExtension(const std::filesystem::path& path) {
  const std::string extension = UpperExtension(path);
  for (const ExtensionFormat& e : kExtensions)
    if (e.extension == extension) return &e;
  return nullptr;
}

const ExtensionFormat* FindLoadExtension(const std::filesystem::path& path) {
  const ExtensionFormat* found = FindExtension(path);
  return found && found->loadsByName ? found : nullptr;
}

struct ChoiceWord {
  std::string_view word;
  FormatChoice choice;
};
constexpr std::array<ChoiceWord, 5> kChoiceWords = {{
    {"auto", FormatChoice::Auto},
    {"hex", FormatChoice::IntelHex},
    {"srec", FormatChoice::MotorolaS},
    {"txt", FormatChoice::HexText},
    {"bin", FormatChoice::Binary},
}};

}  // namespace

ObjectFormat ObjectFormatForPath(const std::filesystem::path& path) {
  const ExtensionFormat* known = FindLoadExtension(path);
  return known ? known->format : ObjectFormat::Binary;
}

bool KnownObjectExtension(const std::filesystem::path& path) { return FindLoadExtension(path) != nullptr; }

ObjectFormat SaveFormatForPath(const std::filesystem::path& path) {
  const ExtensionFormat* known = FindExtension(path);
  if (!known || known->format == ObjectFormat::HexText) return ObjectFormat::Binary;
  return known->format;
}

std::optional<ObjectFormat> SaveFormatFor(const std::filesystem::path& path, FormatChoice choice) {
  switch (choice) {
    case FormatChoice::Auto: return SaveFormatForPath(path);
    case FormatChoice::IntelHex: return ObjectFormat::IntelHex;
    case FormatChoice::MotorolaS: return ObjectFormat::MotorolaS;
    case FormatChoice::Binary: return ObjectFormat::Binary;
    case FormatChoice::HexText: break;
  }
  return std::nullopt;
}

std::optional<FormatChoice> FormatChoiceOf(std::string_view word) {
  for (const ChoiceWord& w : kChoiceWords)
    if (w.word == word) return w.choice;
  return std::nullopt;
}

ObjectFormat ChooseObjectFormat(const std::filesystem::path& path, FormatChoice choice, ImageReport& report) {
  switch (choice) {
    case FormatChoice::IntelHex: return ObjectFormat::IntelHex;
    case FormatChoice::MotorolaS: return ObjectFormat::MotorolaS;
    case FormatChoice::HexText: return ObjectFormat::HexText;
    case FormatChoice::Binary: return ObjectFormat::Binary;
    case FormatChoice::Auto: break;
  }
  if (KnownObjectExtension(path)) return ObjectFormatForPath(path);
  const std::optional<ObjectFormat> recognised = RecogniseRecordFile(path);
  if (!recognised) return ObjectFormat::Binary;
  const bool intel = *recognised == ObjectFormat::IntelHex;
  report.AppendInfo(FormatText(Tx(kRecognisedFormatLine), path.filename().c_str(),
                               intel ? Tx("Intel HEX record") : Tx("S-record"),
                               intel ? Tx("Intel HEX") : Tx("S-records")));
  return *recognised;
}

LoadOutcome LoadObjectFile(const std::filesystem::path& path, ImageBuffer& image, ChipParams& chip,
                           ImageReport& report, FormatChoice choice) {
  return LoadObjectFileAs(path, ChooseObjectFormat(path, choice, report), image, chip, report);
}

std::optional<std::string> DataBeyondChip(const ImageBuffer& image, const ChipParams& chip, const std::string& path,
                                          const std::string& chipName) {
  if (chip.Size == 0 || image.FileStart > image.FileEnd || image.FileEnd < chip.Size) return std::nullopt;
  return FormatText(Tx(kBeyondChipText), path.c_str(), image.FileEnd, chipName.c_str(), chip.Size - 1, chip.Size - 1);
}

LoadOutcome LoadObjectFileAs(const std::filesystem::path& path, ObjectFormat format, ImageBuffer& image,
                             ChipParams& chip, ImageReport& report) {
  image.FileStart = 0;
  image.FileEnd = 0xFFFFFF;
  ResetChipRange(image, chip);
  switch (format) {
    case ObjectFormat::IntelHex:
      return ReadIntelHex(path, image, report);
    case ObjectFormat::MotorolaS:
      return ReadSRecords(path, image, report);
    case ObjectFormat::HexText:
      return ReadHexText(path, image, report);
    case ObjectFormat::Binary:
      break;
  }
  return ReadBinary(path, image, report);
}

void WriteBinary(const uint8_t* source, std::size_t sourceSize, const std::filesystem::path& path,
                 uint32_t lastIndex) {
  if (lastIndex >= sourceSize) {
    throw EInOutError(FormatText(Tx("Cannot save \"%s\": the range ends at 0x%08X, beyond the image buffer."),
                                 path.c_str(), lastIndex));
  }
  const std::string error = WriteFileAtomically(
      path, std::string_view(reinterpret_cast<const char*>(source), std::size_t{lastIndex} + 1));
  if (!error.empty()) throw EInOutError(FormatText(Tx("Cannot save file: %s"), error.c_str()));
}

void SaveUsedRange(const ImageBuffer& image, const std::filesystem::path& path) {
  WriteBinary(image.Data.get(), kImageCapacity, path, image.ChipEnd - image.ChipStart);
}

}  // namespace velkor
