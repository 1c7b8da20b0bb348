// Project files (.OVP): a whole programming job in one file — the chip and
// its parameters, the operator's settings, the object file's name, the two
// checksums and the used part of the image. The layout, field by field, is
// in docs/file-formats.md; this unit writes it from and reads it into a
// plain record. Applying a record to the window is the main window's task.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "data/in_out_error.hpp"
#include "data/line_reader.hpp"
#include "text/text_table.hpp"

namespace velkor {

// --- The format's fixed values ---
inline constexpr uint8_t kProjectFirstByte = 0xA5;
inline constexpr uint8_t kProjectSecondByte = 0x5A;
inline constexpr const char* kProjectMagic = "VelkorPJV1-QN";
inline constexpr const char* kProjectDataMarker = "MAINFL";
// String masking: a string of L bytes is stored XOR K with
// K = ((L AND 0xFF) XOR kStringMask) OR 0x80.
inline constexpr uint8_t kStringMask = 0x5C;
// The data block's two keys are drawn at random from 0..254; a drawn 0 is
// replaced by these, so that the block is never stored in the clear.
inline constexpr uint8_t kKey1Substitute = 0x3B;
inline constexpr uint8_t kKey2Substitute = 0xC6;
// Filler bytes and keys are drawn from 0..kProjectRandomMax.
inline constexpr uint32_t kProjectRandomMax = 254;
// Stored in the serial-number settings; read and dropped.
inline constexpr uint8_t kProjectSerialWidth = 4;
inline constexpr const char* kProjectSerialConstant = "0x00000000";
// Random bytes after the data block; never read.
inline constexpr std::size_t kProjectTrailerSize = 1024;
// A string's length is one word.
inline constexpr std::size_t kProjectLongestString = 0xFFFF;

// --- Dialogs and operator texts ---
inline constexpr const char* kProjectOpenFilter = TextKey("All Orvane Project Files (*.OVP)|*.OVP");
inline constexpr const char* kProjectSaveFilter = TextKey("All Orvane Project Files(*.OVP)|*.OVP");
inline constexpr const char* kProjectSaveDefaultExtension = "*.OVP";
inline constexpr const char* kLoadProjectLine = TextKey("Load Project file \"%s\"");
inline constexpr const char* kProjectSavedText = TextKey("Orvane Project file of %s has been saved!");
// Appended to the information log as they are (no time stamp).
inline constexpr const char* kProjectBadFixedBytesLine = TextKey("> Invalid File format for Orvane Project file!");
inline constexpr const char* kProjectBadMagicLine = TextKey("> File is not the Orvane_QN Project file!");
inline constexpr const char* kProjectBadDataMarkerLine = TextKey("> Data is Corrupted 2!");

// Draws a value in 0..max (the program's random source).
using ProjectRandom = std::function<uint32_t(uint32_t max)>;

// The key a string of this many bytes is masked with.
uint8_t ProjectStringKey(std::size_t length);

// Everything a project file holds besides its fixed values and the data
// block. Texts are UTF-8 here and GBK in the file; the members named after
// controls hold what those controls show.
struct ProjectRecord {
  std::string MCUNameEdit;  // the chip name
  std::string ProductEditX;  // the object file's path
  uint16_t AccSum16 = 0;
  uint16_t Crc16 = 0;
  uint16_t SizeKB = 0;    // low 16 bits
  uint16_t PageSize = 0;  // low 16 bits
  uint16_t ReservedWord3 = 0;
  uint16_t EraseTime = 0;
  uint32_t ChipStart = 0;
  uint32_t ChipEnd = 0;
  uint32_t Size = 0;
  uint8_t ReservedByte4 = 0;
  uint8_t Family = 0;
  uint8_t SubType = 0;
  std::array<uint8_t, 8> StatusBytes{};
  uint8_t ReservedByte2 = 0;
  uint8_t ReservedByte1 = 0;
  uint8_t EepromProtect = 0;
  uint8_t ReservedByte3 = 0;
  uint16_t ReservedWord1 = 0;
  uint16_t ReservedWord2 = 0;
  uint8_t ReservedByte5 = 0;
  uint8_t ReservedByte6 = 0;
  uint8_t OptionBits = 0;
  uint8_t AddrStyle = 0;
  uint8_t DeviceAddress = 0;
  uint8_t IdByte1 = 0;
  uint8_t IdByte2 = 0;
  bool CheckBoxAut = false;
  uint16_t SpinEditIn = 0;
  uint16_t SpinEditOut = 0;
  uint8_t RadioGroupSpd = 0;
  uint8_t RadioGpVolt = 0;
  bool CheckBoxWRP = false;  // stored, never restored
  bool CheckBoxSN = false;
  bool ChkBoxPCSN = false;
  bool SNOrderChk = false;
  bool ChkBoxStrSN = false;
  std::string SNEdit;
  std::string GainEdit;
  std::string AddrEdit;
  bool ChkBoxStrSNAgain = false;  // the same box, stored a second time
  bool ChkBoxNumb = false;
  uint32_t SpinEditNumb = 0;

  bool operator==(const ProjectRecord&) const = default;
};

// SizeKB as restored: the stored low 16 bits, completed by the bits above
// from the stored range's own size in KB when its low bits agree (a used
// range of 64 MiB or more).
uint32_t ProjectSizeKB(const ProjectRecord& record);

// The byte pairs of the data block for a used range: pair i holds Data[2i]
// and Data[2i+1] for i = chipStart … (chipEnd − chipStart) / 2, so the block
// starts at 2 × chipStart. 0 when chipEnd lies below chipStart.
uint64_t ProjectDataPairs(uint32_t chipStart, uint32_t chipEnd);

// --- Writing ---
// The primitives of the writer, into a byte string.
class ProjectWriter {
 public:
  explicit ProjectWriter(ProjectRandom random) : random_(std::move(random)) {}
  void PutByte(uint8_t value) { bytes_.push_back(static_cast<char>(value)); }
  void PutWord(uint16_t value);
  void PutDWord(uint32_t value);
  void PutFlag(bool value) { PutByte(value ? 1 : 0); }
  // Length word, masked bytes, a closing 0x00. Bytes beyond
  // kProjectLongestString are not stored.
  void PutString(std::string_view bytes);
  void PutFiller(std::size_t count);
  // A random value 0..254.
  uint8_t Draw();
  std::string& Bytes() { return bytes_; }

 private:
  ProjectRandom random_;
  std::string bytes_;
};

// The whole file: the record's fields, then the data block of
// data[2 × ChipStart …] over the record's range, then the trailer. Raises
// EInOutError when the data block would reach beyond dataSize bytes.
std::string ProjectFileBytes(const ProjectRecord& record, const uint8_t* data, std::size_t dataSize,
                             const ProjectRandom& random);
// ProjectFileBytes written through a temporary file and a rename; failures
// raise EInOutError.
void WriteProjectFile(const std::filesystem::path& path, const ProjectRecord& record, const uint8_t* data,
                      std::size_t dataSize, const ProjectRandom& random);

// Whether the path ends in .OVP, in any case: the project files' extension.
bool HasProjectExtension(const std::filesystem::path& path);

// --- Reading ---
// The primitives of the reader. Each returns false once the file has ended
// before the value was complete; the reader then stays ended.
class ProjectReader {
 public:
  // Raises EInOutError when the file cannot be opened.
  explicit ProjectReader(const std::filesystem::path& path);
  // Reads bytes already in memory (which outlive the reader): a file that
  // was checked as a whole is then read exactly as it was checked.
  static ProjectReader OfBytes(std::string_view bytes) { return ProjectReader(InMemory{}, bytes); }
  bool GetByte(uint8_t& value);
  bool GetWord(uint16_t& value);
  bool GetDWord(uint32_t& value);
  bool GetFlag(bool& value);
  // The unmasked bytes of a string; its closing byte is read and ignored.
  bool GetString(std::string& bytes);
  bool Skip(std::size_t count);
  // Up to count bytes; fewer only at the end of the file.
  std::size_t GetBlock(uint8_t* into, std::size_t count);
  // Bytes consumed so far.
  uint64_t Offset() const { return offset_; }

 private:
  struct InMemory {};
  ProjectReader(InMemory, std::string_view bytes);
  bool Fill();

  std::optional<FileReader> file_;
  std::string_view memory_;
  std::unique_ptr<uint8_t[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  uint64_t offset_ = 0;
  bool ended_ = false;
};

// The parts of the file before the data block, in file order; a load applies
// each part once it has been read whole.
enum class ProjectPart : uint8_t {
  None,           // nothing read whole
  FixedBytes,     // 0xA5, 0x5A
  Magic,          // the magic string
  Names,          // filler, chip name, object file path
  ImageFields,    // checksums, sizes, times, the used range
  ChipCodes,      // filler, a reserved byte, Family, SubType
  ChipDetails,    // status bytes … IdByte2
  Detection,      // automatic detection, its times, clock, voltage
  Ignored,        // write protection and spare bytes (not restored)
  SerialNumbers,  // serial numbers and the burn limit, filler
  DataMarker,     // the data marker
  Keys,           // the data block's two keys
};

enum class ProjectHeaderStatus : uint8_t {
  Complete,       // everything up to the keys read; the data block follows
  BadFixedBytes,  // the first two bytes are not 0xA5, 0x5A
  BadMagic,       // the magic string differs
  BadDataMarker,  // the data marker differs
  Truncated,      // the file ends before the keys
};

struct ProjectHeader {
  ProjectHeaderStatus status = ProjectHeaderStatus::Truncated;
  ProjectPart reached = ProjectPart::None;  // the last part read whole
  uint64_t offset = 0;                      // where reading stopped
  uint8_t key1 = 0;
  uint8_t key2 = 0;
};

// Reads everything before the data block into record, as far as the file
// allows and its checks pass.
ProjectHeader ReadProjectHeader(ProjectReader& reader, ProjectRecord& record);

// What a part holds, for messages ("serial-number settings"); a text of the
// text table, shown through Tx.
const char* ProjectPartName(ProjectPart part);
// The part that follows part (the one a truncated file ended in).
ProjectPart NextProjectPart(ProjectPart part);

// How the data block was restored.
struct ProjectDataOutcome {
  uint64_t expected = 0;  // pairs the range in force takes
  uint64_t stored = 0;    // pairs the writer stored (from the stored range)
  uint64_t restored = 0;  // pairs read into the image
  uint64_t erased = 0;    // pairs of the range in force set to 0xFF instead
  bool fileEnded = false;    // the file ended inside the stored pairs
  bool beyondImage = false;  // the range in force reaches beyond the image
};

// Reads the data block into data[2 × chipStart …] for the range in force
// (chipStart, chipEnd), undoing the keys. Never reads more pairs than the
// writer stored (the record's range), so the trailer is never taken for
// data, and never writes at or beyond dataSize. Pairs of the range in force
// that the file does not hold are set to 0xFF.
ProjectDataOutcome ReadProjectData(ProjectReader& reader, const ProjectHeader& header, const ProjectRecord& record,
                                   uint32_t chipStart, uint32_t chipEnd, uint8_t* data, std::size_t dataSize);

}  // namespace velkor
