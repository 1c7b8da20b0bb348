// Project files: the string masking, the byte layout against a file built by
// hand, the round trip of every field, the reader's checks, truncated files
// and the bounds of the data block.
#include "data/project_file.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>
#include <vector>

#include "link/commands.hpp"
#include "platform/text_encoding.hpp"
#include "support/files.hpp"

namespace velkor {
namespace {

using test::ReadFile;
using test::WriteFile;

// The format's constants as docs/file-formats.md gives them: files already
// written depend on them, so they are spelled out here on purpose.
constexpr uint8_t kDocumentedMask = 0x5C;
constexpr uint8_t kDocumentedKey1Substitute = 0x3B;
constexpr uint8_t kDocumentedKey2Substitute = 0xC6;

uint8_t DocumentedKey(std::size_t length) { return static_cast<uint8_t>(((length & 0xFF) ^ kDocumentedMask) | 0x80); }

ProjectRandom Always(uint32_t value) {
  return [value](uint32_t) { return value; };
}

// A record in which every field holds a value of its own.
ProjectRecord FullRecord() {
  ProjectRecord r;
  r.MCUNameEdit = "1M Bits(1M位)";
  r.ProductEditX = "/home/操作员/固件 v2.hex";
  r.AccSum16 = 0x1A2B;
  r.Crc16 = 0x3C4D;
  r.SizeKB = 0x0102;
  r.PageSize = 0x0210;
  r.ReservedWord3 = 0x2001;
  r.EraseTime = 0x1388;
  r.ChipStart = 0;
  r.ChipEnd = 0x0F;
  r.Size = 0x00020000;
  r.ReservedByte4 = 0x21;
  r.Family = 0x12;
  r.SubType = 0x34;
  r.StatusBytes = {0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88};
  r.ReservedByte2 = 0x92;
  r.ReservedByte1 = 0x91;
  r.EepromProtect = 0x8C;
  r.ReservedByte3 = 0x93;
  r.ReservedWord1 = 0xA1A2;
  r.ReservedWord2 = 0xB1B2;
  r.ReservedByte5 = 0x95;
  r.ReservedByte6 = 0x96;
  r.OptionBits = 0x35;
  r.AddrStyle = 0x04;
  r.DeviceAddress = 0xA6;
  r.IdByte1 = 0xC1;
  r.IdByte2 = 0xC2;
  r.CheckBoxAut = true;
  r.SpinEditIn = 700;
  r.SpinEditOut = 1900;
  r.RadioGroupSpd = 1;
  r.RadioGpVolt = 2;
  r.CheckBoxWRP = true;
  r.CheckBoxSN = true;
  r.ChkBoxPCSN = true;
  r.SNOrderChk = true;
  r.ChkBoxStrSN = true;
  r.SNEdit = "0x00ABCDEF";
  r.GainEdit = "0x10";
  r.AddrEdit = "0x0000FFF0";
  r.ChkBoxStrSNAgain = true;
  r.ChkBoxNumb = true;
  r.SpinEditNumb = 123450;
  return r;
}

std::vector<uint8_t> Counting(std::size_t count, uint8_t from = 0x10) {
  std::vector<uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(from + i * 7);
  return bytes;
}

// Offsets of the layout for a record's string lengths (docs/file-formats.md):
// P follows the object file path, Q the serial-number address string.
struct Layout {
  std::size_t P;
  std::size_t Q;
};
Layout LayoutOf(const ProjectRecord& r) {
  const std::size_t p = 30 + Utf8ToGbk(r.MCUNameEdit).size() + Utf8ToGbk(r.ProductEditX).size();
  return {p, p + 196 + r.SNEdit.size() + r.GainEdit.size() + r.AddrEdit.size()};
}

class ProjectFileTest : public ::testing::Test {
 protected:
  ProjectFileTest() {
    char pattern[] = "/tmp/velkor-project-XXXXXX";
    dir = mkdtemp(pattern);
  }
  ~ProjectFileTest() override { std::filesystem::remove_all(dir); }

  std::filesystem::path Write(const std::string& bytes, const char* name = "job.OVP") {
    const auto path = dir / name;
    WriteFile(path, bytes);
    return path;
  }

  std::filesystem::path dir;
};

// ---------------------------------------------------------------- strings

TEST(ProjectStringTest, KeyDependsOnlyOnTheLowByteOfTheLengthAndHasBit7) {
  for (std::size_t length : {0u, 1u, 6u, 13u, 127u, 128u, 255u, 256u, 257u, 511u, 0xFF00u, 0xFFFFu}) {
    SCOPED_TRACE(length);
    EXPECT_EQ(ProjectStringKey(length), DocumentedKey(length));
    EXPECT_EQ(ProjectStringKey(length) & 0x80, 0x80);
    if (length + 256 <= 0xFFFF) {
      EXPECT_EQ(ProjectStringKey(length), ProjectStringKey(length + 256));
    }
  }
}

TEST(ProjectStringTest, SameLengthSameKeyAndTheEmptyStringIsThreeZeros) {
  ProjectWriter out(Always(0));
  out.PutString("");
  EXPECT_EQ(out.Bytes(), std::string("\0\0\0", 3));

  // Three bytes and 259 bytes: the same key masks the same character.
  ProjectWriter a(Always(0)), b(Always(0)), c(Always(0));
  a.PutString("ABC");
  b.PutString("XYZ");
  c.PutString("A" + std::string(258, 'q'));
  const uint8_t key = DocumentedKey(3);
  EXPECT_EQ(a.Bytes(), std::string({3, 0, char('A' ^ key), char('B' ^ key), char('C' ^ key), 0}));
  EXPECT_EQ(static_cast<uint8_t>(b.Bytes()[2]), 'X' ^ key);
  EXPECT_EQ(c.Bytes().substr(0, 3), std::string({3, 1, char('A' ^ key)}));
  EXPECT_EQ(c.Bytes().size(), 2u + 259u + 1u);
}

TEST_F(ProjectFileTest, TextsLongerThanALengthWordCanCountAreCutBetweenCharacters) {
  ProjectRecord record;
  record.MCUNameEdit = std::string(70000, 'a');
  // 32,768 characters of two GBK bytes each: one too many for 65,535 bytes.
  for (int i = 0; i < 32768; ++i) record.ProductEditX += "位";
  const uint8_t pair[2] = {};
  ProjectReader reader(Write(ProjectFileBytes(record, pair, 2, Always(1))));
  ProjectRecord read;
  EXPECT_EQ(ReadProjectHeader(reader, read).status, ProjectHeaderStatus::Complete);
  EXPECT_EQ(read.MCUNameEdit, std::string(65535, 'a'));
  EXPECT_EQ(read.ProductEditX.size(), 32767u * 3u);  // UTF-8 again
}

// ---------------------------------------------------------------- layout

// A file built by hand from the field table, with a scripted random source:
// 0x11 for the 90 filler bytes before the keys, 0 for both keys (so the
// substitutes are used), 0x22 for the trailer.
TEST_F(ProjectFileTest, BytesFollowTheFieldTableExactly) {
  ProjectRecord r = FullRecord();
  r.MCUNameEdit = "位X";  // GBK CE BB 58
  r.ProductEditX = "";
  r.ChipEnd = 4;  // three pairs: bytes 0..5
  const std::vector<uint8_t> data = Counting(8);
  int draws = 0;
  const ProjectRandom scripted = [&draws](uint32_t max) -> uint32_t {
    EXPECT_EQ(max, 254u);
    ++draws;
    return draws <= 90 ? 0x11 : draws <= 92 ? 0 : 0x22;
  };
  const std::string bytes = ProjectFileBytes(r, data.data(), data.size(), scripted);

  std::string e;
  auto byte = [&e](uint32_t v) { e.push_back(static_cast<char>(v)); };
  auto word = [&](uint32_t v) { byte(v & 0xFF), byte(v >> 8 & 0xFF); };
  auto dword = [&](uint32_t v) { word(v & 0xFFFF), word(v >> 16); };
  auto string = [&](const std::string& s) {
    word(static_cast<uint32_t>(s.size()));
    for (char c : s) byte(static_cast<uint8_t>(c) ^ DocumentedKey(s.size()));
    byte(0);
  };
  auto repeat = [&](std::size_t n, uint8_t v) { e.append(n, static_cast<char>(v)); };
  byte(0xA5), byte(0x5A), string("VelkorPJV1-QN"), repeat(6, 0x11);
  string("\xCE\xBB" "X"), string("");
  word(r.AccSum16), word(r.Crc16), repeat(12, 0), word(r.SizeKB), word(r.PageSize), word(r.ReservedWord3);
  repeat(8, 0), word(r.EraseTime), dword(r.ChipStart), dword(r.ChipEnd), dword(r.Size), repeat(12, 0);
  repeat(4, 0x11), byte(r.ReservedByte4), byte(r.Family), byte(r.SubType);
  for (uint8_t s : r.StatusBytes) byte(s);
  byte(0), byte(r.ReservedByte2), byte(r.ReservedByte1), byte(r.EepromProtect), byte(r.ReservedByte3);
  word(r.ReservedWord1), word(r.ReservedWord2), repeat(32, 0x11), byte(r.ReservedByte5), byte(r.ReservedByte6);
  byte(r.OptionBits), byte(r.AddrStyle), byte(r.DeviceAddress), byte(0), byte(r.IdByte1), byte(r.IdByte2);
  byte(1), word(r.SpinEditIn), word(r.SpinEditOut), word(0), byte(r.RadioGroupSpd), byte(r.RadioGpVolt);
  repeat(2, 0), byte(1), repeat(4, 0), repeat(32, 0x11);
  byte(1), byte(4), byte(1), byte(0), byte(1), byte(1);
  string(r.SNEdit), string("0x00000000"), string(r.GainEdit), string(r.AddrEdit);
  byte(1), byte(0), byte(1), dword(r.SpinEditNumb), repeat(2, 0), repeat(16, 0x11);
  string("MAINFL"), byte(kDocumentedKey1Substitute), byte(kDocumentedKey2Substitute);
  for (int i = 0; i < 6; ++i) byte(data[i] ^ (i % 2 ? kDocumentedKey2Substitute : kDocumentedKey1Substitute));
  repeat(1024, 0x22);
  ASSERT_EQ(bytes.size(), e.size());
  EXPECT_EQ(bytes, e);
  EXPECT_EQ(draws, 90 + 2 + 1024);

  // The offsets the documentation gives, relative to P and Q.
  const Layout at = LayoutOf(r);
  auto u8 = [&bytes](std::size_t offset) { return static_cast<uint8_t>(bytes[offset]); };
  EXPECT_EQ(u8(at.P + 32), r.ChipStart);
  EXPECT_EQ(u8(at.P + 36), r.ChipEnd);
  EXPECT_EQ(u8(at.P + 61), r.Family);
  EXPECT_EQ(u8(at.P + 116), r.DeviceAddress);
  EXPECT_EQ(u8(at.P + 128), r.RadioGpVolt);
  EXPECT_EQ(u8(at.P + 168), 1);  // CheckBoxSN
  EXPECT_EQ(u8(at.P + 169), 4);
  EXPECT_EQ(u8(at.Q + 3), r.SpinEditNumb & 0xFF);
  EXPECT_EQ(u8(at.Q + 25), 6);  // the marker's length
  EXPECT_EQ(u8(at.Q + 34), kDocumentedKey1Substitute);
  EXPECT_EQ(bytes.size(), at.Q + 36 + 6 + 1024);
}

TEST_F(ProjectFileTest, KeysThatAreNotZeroAreKept) {
  ProjectRecord r;
  r.ChipEnd = 1;
  const std::vector<uint8_t> data = {0x00, 0xFF};
  const std::string bytes = ProjectFileBytes(r, data.data(), data.size(), Always(0x7E));
  const Layout at = LayoutOf(r);
  EXPECT_EQ(static_cast<uint8_t>(bytes[at.Q + 34]), 0x7E);
  EXPECT_EQ(static_cast<uint8_t>(bytes[at.Q + 35]), 0x7E);
  EXPECT_EQ(static_cast<uint8_t>(bytes[at.Q + 36]), 0x7E);
  EXPECT_EQ(static_cast<uint8_t>(bytes[at.Q + 37]), 0x81);
}

// ---------------------------------------------------------------- round trip

TEST_F(ProjectFileTest, EveryFieldAndTheDataComeBack) {
  const ProjectRecord written = FullRecord();
  const std::vector<uint8_t> data = Counting(16);
  const auto path = Write(ProjectFileBytes(written, data.data(), data.size(), MakeRandomSource()));

  ProjectReader reader(path);
  ProjectRecord read;
  const ProjectHeader header = ReadProjectHeader(reader, read);
  EXPECT_EQ(header.status, ProjectHeaderStatus::Complete);
  EXPECT_EQ(header.reached, ProjectPart::Keys);
  EXPECT_EQ(read, written);
  EXPECT_NE(header.key1, 0);
  EXPECT_NE(header.key2, 0);

  std::vector<uint8_t> image(16, 0x00);
  const ProjectDataOutcome outcome = ReadProjectData(reader, header, read, 0, 0x0F, image.data(), image.size());
  EXPECT_EQ(outcome.restored, 8u);
  EXPECT_EQ(outcome.erased, 0u);
  EXPECT_FALSE(outcome.fileEnded);
  EXPECT_EQ(image, data);
}

TEST_F(ProjectFileTest, SavingTwiceGivesDifferentFilesThatReadTheSame) {
  const ProjectRecord written = FullRecord();
  const std::vector<uint8_t> data = Counting(16);
  const ProjectRandom random = MakeRandomSource();
  const std::string first = ProjectFileBytes(written, data.data(), data.size(), random);
  const std::string second = ProjectFileBytes(written, data.data(), data.size(), random);
  EXPECT_NE(first, second);
  for (const std::string& bytes : {first, second}) {
    ProjectReader reader(Write(bytes));
    ProjectRecord read;
    const ProjectHeader header = ReadProjectHeader(reader, read);
    EXPECT_EQ(read, written);
    std::vector<uint8_t> image(16, 0x00);
    ReadProjectData(reader, header, read, 0, 0x0F, image.data(), image.size());
    EXPECT_EQ(image, data);
  }
}

TEST_F(ProjectFileTest, AFlagByteAboveZeroReadsAsSet) {
  ProjectRecord r;
  const uint8_t pair[2] = {};
  std::string bytes = ProjectFileBytes(r, pair, 2, Always(3));
  const Layout at = LayoutOf(r);
  bytes[at.P + 120] = static_cast<char>(0x80);  // CheckBoxAut
  bytes[at.Q + 2] = 2;                          // ChkBoxNumb
  ProjectReader reader(Write(bytes));
  ProjectRecord read;
  ReadProjectHeader(reader, read);
  EXPECT_TRUE(read.CheckBoxAut);
  EXPECT_TRUE(read.ChkBoxNumb);
  EXPECT_FALSE(read.CheckBoxSN);
}

// ---------------------------------------------------------------- checks

struct DamageCase {
  const char* name;
  std::function<void(std::string&, const Layout&)> damage;
  ProjectHeaderStatus status;
  ProjectPart reached;
};
void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class ProjectDamageTest : public ProjectFileTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(ProjectDamageTest, StopsWithItsStatusAfterTheLastPartReadWhole) {
  const ProjectRecord written = FullRecord();
  const std::vector<uint8_t> data = Counting(16);
  std::string bytes = ProjectFileBytes(written, data.data(), data.size(), Always(9));
  const Layout at = LayoutOf(written);
  GetParam().damage(bytes, at);
  ProjectReader reader(Write(bytes));
  ProjectRecord read;
  const ProjectHeader header = ReadProjectHeader(reader, read);
  EXPECT_EQ(header.status, GetParam().status);
  EXPECT_EQ(header.reached, GetParam().reached);
  // What was read before the stop is in the record.
  if (header.reached >= ProjectPart::Names) {
    EXPECT_EQ(read.ProductEditX, written.ProductEditX);
  }
  if (header.reached >= ProjectPart::SerialNumbers) {
    EXPECT_EQ(read.SpinEditNumb, written.SpinEditNumb);
  } else {
    EXPECT_EQ(read.SNEdit, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Damaged, ProjectDamageTest,
    ::testing::Values(
        DamageCase{"FixedBytesSwapped", [](std::string& b, const Layout&) { std::swap(b[0], b[1]); },
                   ProjectHeaderStatus::BadFixedBytes, ProjectPart::None},
        DamageCase{"SecondFixedByteWrong", [](std::string& b, const Layout&) { b[1] = 0x5B; },
                   ProjectHeaderStatus::BadFixedBytes, ProjectPart::None},
        DamageCase{"MagicCharacterWrong", [](std::string& b, const Layout&) { b[4] ^= 0x01; },
                   ProjectHeaderStatus::BadMagic, ProjectPart::FixedBytes},
        DamageCase{"MagicLengthWrong", [](std::string& b, const Layout&) { b[2] = 12; },
                   ProjectHeaderStatus::BadMagic, ProjectPart::FixedBytes},
        DamageCase{"DataMarkerCharacterWrong", [](std::string& b, const Layout& at) { b[at.Q + 27] ^= 0x20; },
                   ProjectHeaderStatus::BadDataMarker, ProjectPart::SerialNumbers},
        DamageCase{"MarkerClosingByteIsIgnored", [](std::string& b, const Layout& at) { b[at.Q + 33] = 0x55; },
                   ProjectHeaderStatus::Complete, ProjectPart::Keys}),
    [](const auto& c) { return std::string(c.param.name); });

struct CutCase {
  const char* name;
  std::function<std::size_t(const Layout&)> length;
  ProjectPart reached;
};
void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }

class ProjectCutTest : public ProjectFileTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(ProjectCutTest, ATruncatedHeaderSaysHowFarItGot) {
  const ProjectRecord written = FullRecord();
  const std::vector<uint8_t> data = Counting(16);
  const std::string bytes = ProjectFileBytes(written, data.data(), data.size(), Always(9));
  const Layout at = LayoutOf(written);
  const std::size_t length = GetParam().length(at);
  ProjectReader reader(Write(bytes.substr(0, length)));
  ProjectRecord read;
  const ProjectHeader header = ReadProjectHeader(reader, read);
  EXPECT_EQ(header.status, ProjectHeaderStatus::Truncated);
  EXPECT_EQ(header.reached, GetParam().reached);
  EXPECT_EQ(header.offset, length);
}

INSTANTIATE_TEST_SUITE_P(
    Cut, ProjectCutTest,
    ::testing::Values(CutCase{"Empty", [](const Layout&) { return 0; }, ProjectPart::None},
                      CutCase{"OneFixedByte", [](const Layout&) { return 1; }, ProjectPart::None},
                      CutCase{"InsideTheMagic", [](const Layout&) { return 10; }, ProjectPart::FixedBytes},
                      CutCase{"InsideThePath", [](const Layout& at) { return at.P - 2; }, ProjectPart::Magic},
                      CutCase{"AfterThePath", [](const Layout& at) { return at.P; }, ProjectPart::Names},
                      CutCase{"InsideTheRange", [](const Layout& at) { return at.P + 38; }, ProjectPart::Names},
                      CutCase{"AfterTheFamily", [](const Layout& at) { return at.P + 63; }, ProjectPart::ChipCodes},
                      CutCase{"InsideTheVoltage", [](const Layout& at) { return at.P + 127; },
                              ProjectPart::ChipDetails},
                      CutCase{"InsideTheSerialTexts", [](const Layout& at) { return at.P + 180; },
                              ProjectPart::Ignored},
                      CutCase{"InsideTheMarker", [](const Layout& at) { return at.Q + 30; },
                              ProjectPart::SerialNumbers},
                      CutCase{"BetweenTheKeys", [](const Layout& at) { return at.Q + 35; }, ProjectPart::DataMarker}),
    [](const auto& c) { return std::string(c.param.name); });

// Bytes in memory read exactly as the same bytes in a file, across the
// reader's 64 KiB blocks and at a cut.
TEST_F(ProjectFileTest, BytesInMemoryReadAsTheSameFile) {
  ProjectRecord written = FullRecord();
  written.ChipEnd = 0x2FFFF;
  std::vector<uint8_t> data(0x30000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 16));
  const std::string bytes = ProjectFileBytes(written, data.data(), data.size(), MakeRandomSource());

  for (const std::size_t length : {bytes.size(), bytes.size() / 2}) {
    SCOPED_TRACE(length);
    const std::string kept = bytes.substr(0, length);
    ProjectReader fromFile(Write(kept));
    ProjectReader fromMemory = ProjectReader::OfBytes(kept);
    ProjectRecord readFromFile;
    ProjectRecord readFromMemory;
    const ProjectHeader fileHeader = ReadProjectHeader(fromFile, readFromFile);
    const ProjectHeader memoryHeader = ReadProjectHeader(fromMemory, readFromMemory);
    EXPECT_EQ(memoryHeader.status, ProjectHeaderStatus::Complete);
    EXPECT_EQ(readFromMemory, written);
    EXPECT_EQ(readFromMemory, readFromFile);
    EXPECT_EQ(memoryHeader.key1, fileHeader.key1);

    std::vector<uint8_t> imageFromFile(data.size(), 0x00);
    std::vector<uint8_t> imageFromMemory(data.size(), 0x00);
    const auto fileOutcome = ReadProjectData(fromFile, fileHeader, readFromFile, 0, 0x2FFFF, imageFromFile.data(),
                                             imageFromFile.size());
    const auto memoryOutcome = ReadProjectData(fromMemory, memoryHeader, readFromMemory, 0, 0x2FFFF,
                                               imageFromMemory.data(), imageFromMemory.size());
    EXPECT_EQ(memoryOutcome.restored, fileOutcome.restored);
    EXPECT_EQ(memoryOutcome.fileEnded, length != bytes.size());
    EXPECT_EQ(fromMemory.Offset(), fromFile.Offset());
    EXPECT_EQ(imageFromMemory, imageFromFile);
    if (length == bytes.size()) {
      EXPECT_EQ(imageFromMemory, data);
    }
  }
}

TEST_F(ProjectFileTest, AMissingFileRaisesAnInputOutputError) {
  EXPECT_THROW(ProjectReader(dir / "absent.OVP"), EInOutError);
}

// ---------------------------------------------------------------- data block

TEST(ProjectDataPairsTest, CountsThePairsOfTheFormula) {
  struct Case {
    uint32_t start, end;
    uint64_t pairs;
  };
  for (const Case& c : {Case{0, 0, 1}, Case{0, 1, 1}, Case{0, 2, 2}, Case{0, 0xFF, 128}, Case{0, 0xFFFF, 32768},
                        Case{0, 0x7FFFFFF, 0x4000000}, Case{2, 10, 3}, Case{6, 10, 0}, Case{5, 3, 0},
                        Case{0, 0xFFFFFFFF, 0x80000000}}) {
    EXPECT_EQ(ProjectDataPairs(c.start, c.end), c.pairs) << c.start << ".." << c.end;
  }
}

TEST_F(ProjectFileTest, ARangeEndingAt0xFFFFStoresAllOf65536Bytes) {
  ProjectRecord r;
  r.ChipEnd = 0xFFFF;
  std::vector<uint8_t> data = Counting(0x10000);
  const std::string bytes = ProjectFileBytes(r, data.data(), data.size(), Always(5));
  EXPECT_EQ(bytes.size(), LayoutOf(r).Q + 36 + 65536 + 1024);
}

TEST_F(ProjectFileTest, TheWriterRefusesADataBlockBeyondTheImage) {
  ProjectRecord r;
  r.ChipEnd = 15;
  const std::vector<uint8_t> data(10, 0xAA);
  EXPECT_THROW(ProjectFileBytes(r, data.data(), data.size(), Always(5)), EInOutError);
  EXPECT_THROW(WriteProjectFile(dir / "no.OVP", r, data.data(), data.size(), Always(5)), EInOutError);
  EXPECT_FALSE(std::filesystem::exists(dir / "no.OVP"));
}

struct DataCase {
  const char* name;
  uint32_t storedStart, storedEnd;  // the range saved with the data
  uint32_t start, end;              // the range in force when loading
  std::size_t capacity;             // image bytes the reader may write
  std::size_t cutDataBytes;         // the file ends after this many data bytes (SIZE_MAX: whole)
  uint64_t restored, erased;
  bool fileEnded, beyondImage;
};
void PrintTo(const DataCase& c, std::ostream* os) { *os << c.name; }

class ProjectDataTest : public ProjectFileTest, public ::testing::WithParamInterface<DataCase> {};

// The image is 32 bytes of 0x00, so that restored bytes, bytes set to 0xFF
// and untouched bytes can all be told apart; the saved image counts up.
TEST_P(ProjectDataTest, RestoresWhatTheFileHoldsWithinTheImage) {
  const DataCase& c = GetParam();
  ProjectRecord r;
  r.ChipStart = c.storedStart;
  r.ChipEnd = c.storedEnd;
  const std::vector<uint8_t> saved = Counting(32);
  std::string bytes = ProjectFileBytes(r, saved.data(), saved.size(), Always(0x5D));
  const std::size_t blockAt = LayoutOf(r).Q + 36;
  if (c.cutDataBytes != SIZE_MAX) bytes.resize(blockAt + c.cutDataBytes);
  ProjectReader reader(Write(bytes));
  ProjectRecord read;
  const ProjectHeader header = ReadProjectHeader(reader, read);
  ASSERT_EQ(header.status, ProjectHeaderStatus::Complete);

  std::vector<uint8_t> image(32, 0x00);
  const ProjectDataOutcome outcome = ReadProjectData(reader, header, read, c.start, c.end, image.data(), c.capacity);
  EXPECT_EQ(outcome.restored, c.restored);
  EXPECT_EQ(outcome.erased, c.erased);
  EXPECT_EQ(outcome.fileEnded, c.fileEnded);
  EXPECT_EQ(outcome.beyondImage, c.beyondImage);
  EXPECT_EQ(outcome.expected, ProjectDataPairs(c.start, c.end));
  EXPECT_EQ(outcome.stored, ProjectDataPairs(c.storedStart, c.storedEnd));

  // Byte by byte: restored from the file (the stored block starts at
  // 2 x storedStart in the saved image), 0xFF, or untouched.
  const std::size_t first = 2 * std::size_t{c.start};
  for (std::size_t i = 0; i < image.size(); ++i) {
    uint8_t expected = 0x00;
    if (i >= first && i < first + 2 * c.restored)
      expected = saved[2 * std::size_t{c.storedStart} + (i - first)];
    else if (i >= first + 2 * c.restored && i < first + 2 * (c.restored + c.erased))
      expected = 0xFF;
    EXPECT_EQ(image[i], expected) << "offset " << i;
  }
  EXPECT_LE(first + 2 * (c.restored + c.erased), std::max(c.capacity, first));
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ProjectDataTest,
    ::testing::Values(
        DataCase{"SameRange", 0, 9, 0, 9, 32, SIZE_MAX, 5, 0, false, false},
        DataCase{"OddEndTakesTheWholeLastPair", 0, 8, 0, 8, 32, SIZE_MAX, 5, 0, false, false},
        DataCase{"TrimmedRangeIntoTheWholeChip", 0, 3, 0, 15, 32, SIZE_MAX, 2, 6, false, false},
        DataCase{"MoreStoredThanTheRangeTakes", 0, 15, 0, 3, 32, SIZE_MAX, 2, 0, false, false},
        DataCase{"FileEndsInsideThePairs", 0, 15, 0, 15, 32, 5, 2, 6, true, false},
        DataCase{"FileEndsBeforeTheBlock", 0, 15, 0, 15, 32, 0, 0, 8, true, false},
        DataCase{"RangeBeyondTheImage", 0, 31, 0, 31, 10, SIZE_MAX, 5, 0, false, true},
        DataCase{"StartBeyondTheImage", 8, 31, 8, 31, 16, SIZE_MAX, 0, 0, false, true},
        DataCase{"NonZeroStart", 2, 10, 2, 10, 32, SIZE_MAX, 3, 0, false, false},
        DataCase{"EndBelowStart", 0, 3, 5, 3, 32, SIZE_MAX, 0, 0, false, false}),
    [](const auto& c) { return std::string(c.param.name); });

// ---------------------------------------------------------------- sizes

TEST(ProjectSizeKBTest, TheRangeSuppliesTheBitsAboveTheStoredWord) {
  struct Case {
    uint16_t stored;
    uint32_t end;
    uint32_t sizeKB;
  };
  for (const Case& c : {Case{0x0000, 0x7FFFFFF, 0x20000}, Case{0x0000, 0x3FFFFFF, 0x10000},
                        Case{0x0800, 0x1FFFFF, 0x800}, Case{0x0004, 0x3FFF, 0x0004}, Case{0x1234, 0x7FFFFFF, 0x1234},
                        Case{0x0000, 0xFF, 0}}) {
    ProjectRecord r;
    r.SizeKB = c.stored;
    r.ChipEnd = c.end;
    EXPECT_EQ(ProjectSizeKB(r), c.sizeKB) << std::hex << c.stored << " " << c.end;
  }
}

}  // namespace
}  // namespace velkor
