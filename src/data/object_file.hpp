// Object files: loading Intel HEX, Motorola S-records, the "@"/"q" text hex
// format and raw binary into the image, and saving the used range as raw
// binary. The parsers write straight into the image at offset = address
// and set the file range (FileStart, FileEnd) to what they wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "chips/chip_params.hpp"
#include "data/image_buffer.hpp"
#include "data/image_report.hpp"
#include "data/in_out_error.hpp"
#include "text/text_table.hpp"

namespace velkor {

// --- Dialogs and operator texts of loading and saving ---
inline constexpr const char* kOpenDialogFilter = TextKey(
    "All Files (*.*)|*.*|All Binary Files (*.Bin)|*.Bin|All Intel Hex Files (*.Hex)|*.Hex|"
    "All Motorola Hex Files(*.S19,*.Sxx)|*.S19;*.Sx|All Hex/Binary Files (*.Hex,*.S1*,*.Bin)|*.Hex;*.S1*;*.Bin");
inline constexpr int kOpenDialogFilterIndex = 5;
inline constexpr const char* kOpenDialogDefaultExtension = "*.Hex;*.S1*;*.Bin";
inline constexpr const char* kSaveDialogFilter = TextKey("All Binary Files(*.BIN)|*.BIN");
inline constexpr int kSaveDialogFilterIndex = 1;
inline constexpr const char* kSaveDialogDefaultExtension = "*.bin";

inline constexpr const char* kLoadObjectFileLine = TextKey("Load object file : %s");
inline constexpr const char* kNothingToSave = TextKey("没有数据需要保存!");
inline constexpr const char* kFileSavedMessage = TextKey("文件\"%s\"已保存！");
inline constexpr const char* kReadFileDataError = TextKey("Read File Data Error!");
// A file that parses whole but holds no byte of data: nothing counts as loaded.
inline constexpr const char* kNoDataInFile =
    TextKey("The file \"%s\" holds no data (%s): no file is loaded, and the image buffer is blank.");
// Why and where a load stopped early (information log).
inline constexpr const char* kLoadStoppedAtLine = TextKey("Loading stopped at line %llu: %s (code %u).");
inline constexpr const char* kLoadStoppedAtOffset = TextKey("Loading stopped at offset 0x%08llX: %s (code %u).");
// Warning box of data refused because it lies beyond the image buffer.
inline constexpr const char* kBeyondImageAtLine =
    TextKey("The file holds data beyond the image buffer (last address 0x%08X); loading stopped at line %llu.");
inline constexpr const char* kBeyondImageAtOffset =
    TextKey("The file is larger than the image buffer (%u bytes); only its first %u bytes were loaded.");

std::string LoadObjectFileLine(const std::string& path);
std::string FileSavedMessage(const std::string& path);

// --- Record results ---
// Every parser step returns one of these; 0 goes on, anything else ends the
// load where it stands.
enum RecordCode : uint8_t {
  kRecordAccepted = 0,           // record taken (or ignored)
  kRecordNoStartMark = 1,        // the line does not start with ':' (Intel) or 'S' (Motorola)
  kRecordTooShort = 2,           // shorter than its byte count or its type needs
  kRecordExtendedNonZero = 3,    // extended address record (type 2 or 4) with a non-zero address field
  kRecordBadChecksum = 4,        // checksum wrong
  kRecordUnknownType = 5,        // record type not known
  kRecordAddressTooHigh = 6,     // data address beyond 0x1FFFFFFF
  kRecordBeyondImage = 7,        // data would reach beyond the image buffer
  kRecordCountMismatch = 8,      // S5/S6 count differs from the data records read
  kRecordOddDigit = 9,           // text hex: a byte with a single digit at the end of a line
  kRecordReadError = 10,         // binary: the file could not be opened or read
};
const char* RecordCodeMessage(uint8_t code);

// How a load ended. position is the line number (text formats) or the byte
// offset (binary) where it stopped; code 0 means the whole file was taken.
struct LoadOutcome {
  uint8_t code = kRecordAccepted;
  uint64_t position = 0;
  bool operator==(const LoadOutcome&) const = default;
};

// --- Loading ---
enum class ObjectFormat { IntelHex, MotorolaS, HexText, Binary };

// By extension alone, in any case: .HEX Intel HEX; .S19 .S28 .S37 .SREC .MOT
// Motorola S-records; .TXT text hex; everything else raw binary.
ObjectFormat ObjectFormatForPath(const std::filesystem::path& path);
// Whether the extension is one of those above or .BIN.
bool KnownObjectExtension(const std::filesystem::path& path);
// The format a save writes for the name, in any case: .HEX .IHX .IHEX Intel
// HEX; .S19 .S28 .S37 .SREC .MOT .S Motorola S-records; everything else
// (.TXT included: the text hex format is only read) raw binary.
ObjectFormat SaveFormatForPath(const std::filesystem::path& path);

// How a load picks the parser: Auto by the extension, and for an extension
// the loaders do not know, by the content (a file whose every line is an
// Intel HEX or S-record with a correct checksum loads as such, and the log
// says so); the others force a format whatever the name.
enum class FormatChoice { Auto, IntelHex, MotorolaS, HexText, Binary };
// The words of the choices ("auto", "hex", "srec", "txt", "bin"), for
// options and settings; nothing for an unknown word.
std::optional<FormatChoice> FormatChoiceOf(std::string_view word);
// The format a save to path writes under choice: Auto goes by the name
// (SaveFormatForPath); nothing for HexText, which is never written.
std::optional<ObjectFormat> SaveFormatFor(const std::filesystem::path& path, FormatChoice choice);
inline constexpr const char* kRecognisedFormatLine = TextKey(
    "\"%s\": the extension is not one the loaders know, but every line is a well-formed %s with a correct "
    "checksum; the file is loaded as %s.");

// The format a load of path uses under choice; recognition reads the file.
ObjectFormat ChooseObjectFormat(const std::filesystem::path& path, FormatChoice choice, ImageReport& report);

// The whole parse of a load: file range preset, chip range reset to the
// whole chip (ResetChipRange), then the parser of the chosen format. The
// caller has erased the image before and runs RecomputeAfterLoad after.
// A text file that cannot be opened or read raises EInOutError; the image
// keeps what was parsed up to then.
LoadOutcome LoadObjectFile(const std::filesystem::path& path, ImageBuffer& image, ChipParams& chip,
                           ImageReport& report, FormatChoice choice = FormatChoice::Auto);
// The same with the format already chosen.
LoadOutcome LoadObjectFileAs(const std::filesystem::path& path, ObjectFormat format, ImageBuffer& image,
                             ChipParams& chip, ImageReport& report);

// Where the loaded data reaches past the chip's last byte: the text that
// names the file's end and the chip's end; nothing when it fits (or no
// data was loaded).
inline constexpr const char* kBeyondChipText = TextKey(
    "The data of \"%s\" ends at 0x%08X, beyond the end of the chip %s at 0x%08X: the bytes after 0x%08X are "
    "not programmed.");
std::optional<std::string> DataBeyondChip(const ImageBuffer& image, const ChipParams& chip, const std::string& path,
                                          const std::string& chipName);

// Each parser stops at the first record it cannot take, keeps what it wrote
// before (and the data of a record whose checksum is wrong), and says in the
// log where and why it stopped; refused data beyond the image also raises a
// warning box.
LoadOutcome ReadIntelHex(const std::filesystem::path& path, ImageBuffer& image, ImageReport& report);
LoadOutcome ReadSRecords(const std::filesystem::path& path, ImageBuffer& image, ImageReport& report);
LoadOutcome ReadHexText(const std::filesystem::path& path, ImageBuffer& image, ImageReport& report);
// Failures of a binary file are not raised: a warning box says
// TextKey("Read File Data Error!") with the file and the reason on a second line, and
// the bytes read so far stay.
LoadOutcome ReadBinary(const std::filesystem::path& path, ImageBuffer& image, ImageReport& report);

class ImageRunWriter;

// One Intel HEX line: base is the address set by the last extended address
// record; min and max collect the lowest and last address written; the data
// go to the image through out.
uint8_t ParseHexRecord(std::string_view line, uint32_t& base, uint32_t& min, uint32_t& max, ImageRunWriter& out);

// What the S-record parser carries from line to line.
struct SRecordState {
  uint32_t min = kNoFileStart;
  uint32_t max = kNoFileEnd;
  uint32_t dataRecords = 0;  // S1/S2/S3 records so far, for the S5/S6 count
  bool ended = false;        // an S7/S8/S9 end record was read
};
uint8_t ParseSRecord(std::string_view line, SRecordState& state, ImageRunWriter& out);

// --- Saving ---
// Writes source[0..lastIndex] to path through a temporary file beside it and
// a rename, so a failed save never leaves a truncated file. Raises
// EInOutError when the write fails or lastIndex lies beyond sourceSize.
void WriteBinary(const uint8_t* source, std::size_t sourceSize, const std::filesystem::path& path,
                 uint32_t lastIndex);
// The binary save of the used range: Data[0 .. ChipEnd - ChipStart].
void SaveUsedRange(const ImageBuffer& image, const std::filesystem::path& path);

}  // namespace velkor
