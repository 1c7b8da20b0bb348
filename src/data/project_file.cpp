#include "data/project_file.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "data/text_format.hpp"
#include "platform/text_encoding.hpp"
#include "platform/text_file.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr std::size_t kReadBlock = 64 * 1024;
// Bytes of the data block handled at a time (an even number: whole pairs).
constexpr std::size_t kDataChunk = 1 << 20;

// The fields before the data block, in file order. Both the writer and the
// reader walk this one sequence; Io decides whether a field is put or got.
// R is a const record for the writer and a plain one for the reader.
template <typename Io, typename R>
void WalkHeader(Io& io, R& r) {
  io.Fixed({kProjectFirstByte, kProjectSecondByte});  // 1-2
  io.Done(ProjectPart::FixedBytes);
  io.Tag(kProjectMagic, ProjectHeaderStatus::BadMagic);  // 3
  io.Done(ProjectPart::Magic);
  io.Filler(6);             // 4
  io.Text(r.MCUNameEdit);   // 5
  io.Text(r.ProductEditX);  // 6
  io.Done(ProjectPart::Names);
  io.Word(r.AccSum16);       // 7
  io.Word(r.Crc16);          // 8
  io.Zeros(6 * 2);           // 9
  io.Word(r.SizeKB);         // 10
  io.Word(r.PageSize);       // 11
  io.Word(r.ReservedWord3);  // 12
  io.Zeros(4 * 2);           // 13
  io.Word(r.EraseTime);      // 14
  io.DWord(r.ChipStart);     // 15
  io.DWord(r.ChipEnd);       // 16
  io.DWord(r.Size);          // 17
  io.Zeros(3 * 4);           // 18
  io.Done(ProjectPart::ImageFields);
  io.Filler(4);              // 19
  io.Byte(r.ReservedByte4);  // 20
  io.Byte(r.Family);         // 21
  io.Byte(r.SubType);        // 22
  io.Done(ProjectPart::ChipCodes);
  for (auto& status : r.StatusBytes) io.Byte(status);  // 23
  io.Zeros(1);               // 24
  io.Byte(r.ReservedByte2);  // 25
  io.Byte(r.ReservedByte1);  // 26
  io.Byte(r.EepromProtect);  // 27
  io.Byte(r.ReservedByte3);  // 28
  io.Word(r.ReservedWord1);  // 29
  io.Word(r.ReservedWord2);  // 30
  io.Filler(32);             // 31
  io.Byte(r.ReservedByte5);  // 32
  io.Byte(r.ReservedByte6);  // 33
  io.Byte(r.OptionBits);     // 34
  io.Byte(r.AddrStyle);      // 35
  io.Byte(r.DeviceAddress);  // 36
  io.Zeros(1);               // 37
  io.Byte(r.IdByte1);        // 38
  io.Byte(r.IdByte2);        // 39
  io.Done(ProjectPart::ChipDetails);
  io.Flag(r.CheckBoxAut);    // 40
  io.Word(r.SpinEditIn);     // 41
  io.Word(r.SpinEditOut);    // 42
  io.Zeros(2);               // 43
  io.Byte(r.RadioGroupSpd);  // 44
  io.Byte(r.RadioGpVolt);    // 45
  io.Done(ProjectPart::Detection);
  io.Zeros(2);               // 46
  io.Flag(r.CheckBoxWRP);    // 47
  io.Zeros(4);               // 48
  io.Filler(32);             // 49
  io.Done(ProjectPart::Ignored);
  io.Flag(r.CheckBoxSN);                   // 50
  io.Constant(kProjectSerialWidth);        // 51
  io.Flag(r.ChkBoxPCSN);                   // 52
  io.Zeros(1);                             // 53
  io.Flag(r.SNOrderChk);                   // 54
  io.Flag(r.ChkBoxStrSN);                  // 55
  io.Text(r.SNEdit);                       // 56
  io.ConstantText(kProjectSerialConstant);  // 57
  io.Text(r.GainEdit);                     // 58
  io.Text(r.AddrEdit);                     // 59
  io.Flag(r.ChkBoxStrSNAgain);             // 60
  io.Zeros(1);                             // 61
  io.Flag(r.ChkBoxNumb);                   // 62
  io.DWord(r.SpinEditNumb);                // 63
  io.Zeros(2);                             // 64
  io.Filler(16);                           // 65
  io.Done(ProjectPart::SerialNumbers);
  io.Tag(kProjectDataMarker, ProjectHeaderStatus::BadDataMarker);  // 66
  io.Done(ProjectPart::DataMarker);
  io.Keys();  // 67-68
  io.Done(ProjectPart::Keys);
}

// Puts each field.
class HeaderWriter {
 public:
  explicit HeaderWriter(ProjectWriter& out) : out_(out) {}
  void Fixed(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) out_.PutByte(b);
  }
  void Tag(const char* text, ProjectHeaderStatus) { out_.PutString(text); }
  void Done(ProjectPart) {}
  void Filler(std::size_t count) { out_.PutFiller(count); }
  void Zeros(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) out_.PutByte(0);
  }
  void Constant(uint8_t value) { out_.PutByte(value); }
  void ConstantText(const char* text) { out_.PutString(text); }
  void Byte(uint8_t value) { out_.PutByte(value); }
  void Word(uint16_t value) { out_.PutWord(value); }
  void DWord(uint32_t value) { out_.PutDWord(value); }
  void Flag(bool value) { out_.PutFlag(value); }
  // The program's UTF-8 as GBK, cut (between characters) to the longest
  // string a length word can count.
  void Text(const std::string& utf8) { out_.PutString(GbkPrefix(Utf8ToGbk(utf8), kProjectLongestString)); }
  void Keys() {
    key1 = Key(kKey1Substitute);
    key2 = Key(kKey2Substitute);
    out_.PutByte(key1);
    out_.PutByte(key2);
  }

  uint8_t key1 = 0;
  uint8_t key2 = 0;

 private:
  uint8_t Key(uint8_t substitute) {
    const uint8_t drawn = out_.Draw();
    return drawn == 0 ? substitute : drawn;
  }
  ProjectWriter& out_;
};

// Gets each field while the file lasts and its checks pass; after the first
// failure every further step does nothing, so the record keeps what was read
// and header.reached names the last part read whole.
class HeaderReader {
 public:
  HeaderReader(ProjectReader& in, ProjectHeader& header) : in_(in), header_(header) {}
  void Fixed(std::initializer_list<uint8_t> bytes) {
    for (uint8_t expected : bytes) {
      uint8_t b = 0;
      if (!Got(in_.GetByte(b))) return;
      if (b != expected) mismatch_ = true;
    }
    if (mismatch_) Fail(ProjectHeaderStatus::BadFixedBytes);
  }
  void Tag(const char* text, ProjectHeaderStatus failure) {
    std::string bytes;
    if (Got(in_.GetString(bytes)) && bytes != text) Fail(failure);
  }
  void Done(ProjectPart part) {
    if (!failed_) header_.reached = part;
  }
  void Filler(std::size_t count) { Got(in_.Skip(count)); }
  void Zeros(std::size_t count) { Got(in_.Skip(count)); }
  void Constant(uint8_t) { Got(in_.Skip(1)); }
  void ConstantText(const char*) {
    std::string ignored;
    Got(in_.GetString(ignored));
  }
  void Byte(uint8_t& value) { Read(value, &ProjectReader::GetByte); }
  void Word(uint16_t& value) { Read(value, &ProjectReader::GetWord); }
  void DWord(uint32_t& value) { Read(value, &ProjectReader::GetDWord); }
  void Flag(bool& value) { Read(value, &ProjectReader::GetFlag); }
  void Text(std::string& utf8) {
    std::string bytes;
    if (Got(in_.GetString(bytes))) utf8 = GbkToUtf8(bytes);
  }
  void Keys() {
    uint8_t k1 = 0;
    uint8_t k2 = 0;
    if (Got(in_.GetByte(k1)) && Got(in_.GetByte(k2))) {
      header_.key1 = k1;
      header_.key2 = k2;
      header_.status = ProjectHeaderStatus::Complete;
    }
  }

 private:
  template <typename T>
  void Read(T& target, bool (ProjectReader::*get)(T&)) {
    T value{};
    if (Got((in_.*get)(value))) target = value;
  }
  // False (and the load marked as ended) when the file ended or an earlier
  // step failed.
  bool Got(bool ok) {
    if (failed_) return false;
    if (!ok) Fail(ProjectHeaderStatus::Truncated);
    return ok;
  }
  void Fail(ProjectHeaderStatus status) {
    if (failed_) return;
    failed_ = true;
    header_.status = status;
  }

  ProjectReader& in_;
  ProjectHeader& header_;
  bool failed_ = false;
  bool mismatch_ = false;
};

}  // namespace

uint8_t ProjectStringKey(std::size_t length) {
  return static_cast<uint8_t>(((length & 0xFF) ^ kStringMask) | 0x80);
}

uint32_t ProjectSizeKB(const ProjectRecord& record) {
  if (record.ChipEnd < record.ChipStart) return record.SizeKB;
  const uint64_t rangeKB = (uint64_t{record.ChipEnd} - record.ChipStart + 1) >> 10;
  if ((rangeKB & 0xFFFF) == record.SizeKB && rangeKB <= 0xFFFFFFFF) return static_cast<uint32_t>(rangeKB);
  return record.SizeKB;
}

uint64_t ProjectDataPairs(uint32_t chipStart, uint32_t chipEnd) {
  if (chipEnd < chipStart) return 0;
  const uint64_t lastPair = (chipEnd - chipStart) / 2;
  return lastPair >= chipStart ? lastPair - chipStart + 1 : 0;
}

// ---------------------------------------------------------------- writing

void ProjectWriter::PutWord(uint16_t value) {
  PutByte(static_cast<uint8_t>(value));
  PutByte(static_cast<uint8_t>(value >> 8));
}

void ProjectWriter::PutDWord(uint32_t value) {
  PutWord(static_cast<uint16_t>(value));
  PutWord(static_cast<uint16_t>(value >> 16));
}

void ProjectWriter::PutString(std::string_view bytes) {
  if (bytes.size() > kProjectLongestString) bytes = bytes.substr(0, kProjectLongestString);
  const uint8_t key = ProjectStringKey(bytes.size());
  PutWord(static_cast<uint16_t>(bytes.size()));
  for (char c : bytes) PutByte(static_cast<uint8_t>(static_cast<uint8_t>(c) ^ key));
  PutByte(0);
}

uint8_t ProjectWriter::Draw() {
  return static_cast<uint8_t>(std::min<uint32_t>(random_(kProjectRandomMax), kProjectRandomMax));
}

void ProjectWriter::PutFiller(std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) PutByte(Draw());
}

namespace {

// The last image offset the data block of the record's range reads, plus one.
uint64_t DataBlockEnd(const ProjectRecord& record) {
  return 2 * uint64_t{record.ChipStart} + 2 * ProjectDataPairs(record.ChipStart, record.ChipEnd);
}

}  // namespace

std::string ProjectFileBytes(const ProjectRecord& record, const uint8_t* data, std::size_t dataSize,
                             const ProjectRandom& random) {
  const uint64_t pairs = ProjectDataPairs(record.ChipStart, record.ChipEnd);
  const uint64_t first = 2 * uint64_t{record.ChipStart};
  if (pairs > 0 && DataBlockEnd(record) > dataSize) {
    throw EInOutError(FormatText(Tx("The project's data block (0x%08llX to 0x%08llX) reaches beyond the image buffer."),
                                 static_cast<unsigned long long>(first),
                                 static_cast<unsigned long long>(DataBlockEnd(record) - 1)));
  }
  ProjectWriter out(random);
  HeaderWriter fields(out);
  WalkHeader(fields, record);

  std::string& bytes = out.Bytes();
  const std::size_t blockAt = bytes.size();
  bytes.resize(blockAt + 2 * pairs);
  char* block = bytes.data() + blockAt;
  const uint8_t* source = data + first;
  for (uint64_t i = 0; i < 2 * pairs; i += 2) {
    block[i] = static_cast<char>(source[i] ^ fields.key1);
    block[i + 1] = static_cast<char>(source[i + 1] ^ fields.key2);
  }
  out.PutFiller(kProjectTrailerSize);
  return std::move(bytes);
}

void WriteProjectFile(const std::filesystem::path& path, const ProjectRecord& record, const uint8_t* data,
                      std::size_t dataSize, const ProjectRandom& random) {
  const std::string bytes = ProjectFileBytes(record, data, dataSize, random);
  const std::string error = WriteFileAtomically(path, bytes);
  if (!error.empty()) throw EInOutError(FormatText(Tx("Cannot save the project file: %s"), error.c_str()));
}

bool HasProjectExtension(const std::filesystem::path& path) {
  static constexpr std::string_view kProjectExtension = ".OVP";
  const std::string extension = path.extension().string();
  return std::equal(extension.begin(), extension.end(), kProjectExtension.begin(), kProjectExtension.end(),
                    [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
}

// ---------------------------------------------------------------- reading

ProjectReader::ProjectReader(const std::filesystem::path& path)
    : file_(std::in_place, path), buffer_(std::make_unique_for_overwrite<uint8_t[]>(kReadBlock)) {}

ProjectReader::ProjectReader(InMemory, std::string_view bytes)
    : memory_(bytes), buffer_(std::make_unique_for_overwrite<uint8_t[]>(kReadBlock)) {}

bool ProjectReader::Fill() {
  if (begin_ < end_) return true;
  if (ended_) return false;
  begin_ = 0;
  if (file_) {
    end_ = file_->Read(reinterpret_cast<char*>(buffer_.get()), kReadBlock);
  } else {
    end_ = std::min(memory_.size(), kReadBlock);
    std::memcpy(buffer_.get(), memory_.data(), end_);
    memory_.remove_prefix(end_);
  }
  if (end_ == 0) ended_ = true;
  return end_ > 0;
}

std::size_t ProjectReader::GetBlock(uint8_t* into, std::size_t count) {
  std::size_t got = 0;
  while (got < count && Fill()) {
    const std::size_t n = std::min(count - got, end_ - begin_);
    std::memcpy(into + got, buffer_.get() + begin_, n);
    begin_ += n;
    got += n;
  }
  offset_ += got;
  return got;
}

bool ProjectReader::GetByte(uint8_t& value) { return GetBlock(&value, 1) == 1; }

bool ProjectReader::GetWord(uint16_t& value) {
  uint8_t b[2];
  if (GetBlock(b, 2) != 2) return false;
  value = static_cast<uint16_t>(b[0] | b[1] << 8);
  return true;
}

bool ProjectReader::GetDWord(uint32_t& value) {
  uint16_t low = 0;
  uint16_t high = 0;
  if (!GetWord(low) || !GetWord(high)) return false;
  value = low | uint32_t{high} << 16;
  return true;
}

bool ProjectReader::GetFlag(bool& value) {
  uint8_t b = 0;
  if (!GetByte(b)) return false;
  value = b > 0;
  return true;
}

bool ProjectReader::GetString(std::string& bytes) {
  uint16_t length = 0;
  if (!GetWord(length)) return false;
  std::string text(length, '\0');
  if (GetBlock(reinterpret_cast<uint8_t*>(text.data()), length) != length) return false;
  const uint8_t key = ProjectStringKey(length);
  for (char& c : text) c = static_cast<char>(static_cast<uint8_t>(c) ^ key);
  if (!Skip(1)) return false;  // the closing byte, whatever it holds
  bytes = std::move(text);
  return true;
}

bool ProjectReader::Skip(std::size_t count) {
  uint8_t scratch[256];
  while (count > 0) {
    const std::size_t n = std::min(count, sizeof scratch);
    if (GetBlock(scratch, n) != n) return false;
    count -= n;
  }
  return true;
}

ProjectHeader ReadProjectHeader(ProjectReader& reader, ProjectRecord& record) {
  ProjectHeader header;
  HeaderReader fields(reader, header);
  WalkHeader(fields, record);
  header.offset = reader.Offset();
  return header;
}

const char* ProjectPartName(ProjectPart part) {
  switch (part) {
    case ProjectPart::None:
      return TextKey("beginning");
    case ProjectPart::FixedBytes:
      return TextKey("identification bytes");
    case ProjectPart::Magic:
      return TextKey("identification string");
    case ProjectPart::Names:
      return TextKey("chip name and object file name");
    case ProjectPart::ImageFields:
      return TextKey("checksums and address range");
    case ProjectPart::ChipCodes:
      return TextKey("chip family");
    case ProjectPart::ChipDetails:
      return TextKey("chip parameters");
    case ProjectPart::Detection:
      return TextKey("chip detection, clock and voltage settings");
    case ProjectPart::Ignored:
      return TextKey("write-protection settings");
    case ProjectPart::SerialNumbers:
      return TextKey("serial-number settings");
    case ProjectPart::DataMarker:
      return TextKey("data marker");
    case ProjectPart::Keys:
      return TextKey("data keys");
  }
  return TextKey("header");
}

ProjectPart NextProjectPart(ProjectPart part) {
  return part == ProjectPart::Keys ? part : static_cast<ProjectPart>(static_cast<uint8_t>(part) + 1);
}

ProjectDataOutcome ReadProjectData(ProjectReader& reader, const ProjectHeader& header, const ProjectRecord& record,
                                   uint32_t chipStart, uint32_t chipEnd, uint8_t* data, std::size_t dataSize) {
  ProjectDataOutcome outcome;
  outcome.expected = ProjectDataPairs(chipStart, chipEnd);
  outcome.stored = ProjectDataPairs(record.ChipStart, record.ChipEnd);
  const uint64_t first = 2 * uint64_t{chipStart};
  const uint64_t fitting = first < dataSize ? (dataSize - first) / 2 : 0;
  const uint64_t target = std::min(outcome.expected, fitting);
  outcome.beyondImage = target < outcome.expected;
  const uint64_t wanted = std::min(target, outcome.stored);

  // Whole pairs, a chunk at a time, straight into the image.
  uint8_t* const to = data + (target > 0 ? first : 0);
  uint64_t done = 0;  // bytes
  while (done < 2 * wanted) {
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(2 * wanted - done, kDataChunk));
    const std::size_t got = reader.GetBlock(to + done, n);
    const std::size_t whole = got & ~std::size_t{1};
    for (std::size_t i = 0; i < whole; i += 2) {
      to[done + i] ^= header.key1;
      to[done + i + 1] ^= header.key2;
    }
    done += whole;
    if (got < n) {
      outcome.fileEnded = true;
      break;
    }
  }
  outcome.restored = done / 2;
  outcome.erased = target - outcome.restored;
  if (outcome.erased > 0) {
    std::memset(to + 2 * outcome.restored, 0xFF, static_cast<std::size_t>(2 * outcome.erased));
  }
  return outcome;
}

}  // namespace velkor
