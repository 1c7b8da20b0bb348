// Loading object files: every result code of the record parsers, the edge
// cases of each format, refused data beyond the image, and the binary save.
#include "data/object_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <random>
#include <sstream>

#include "record_text.hpp"
#include "recording_report.hpp"

namespace velkor {
namespace {

using test::ImageFixture;
using test::IntelLine;
using test::SLine;
using test::WrongChecksum;

struct Span {
  uint32_t address;
  std::vector<uint8_t> bytes;
};

struct LoadCase {
  const char* name;
  const char* fileName;  // its extension picks the parser
  std::string content;
  uint8_t code;
  uint64_t line;  // where the load stopped (code != 0)
  uint32_t fileStart;
  uint32_t fileEnd;
  std::vector<Span> loaded;
  std::vector<uint32_t> erased;  // addresses that must still be 0xFF
  bool warned = false;
};
void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string LongLine(std::size_t length, char fill) { return std::string(length, fill); }

const std::string kD0 = IntelLine(0, 0x0000, {1, 2, 3, 4});
const std::string kEnd = ":00000001FF";

std::vector<uint8_t> Counting(std::size_t count) {
  std::vector<uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i);
  return bytes;
}

std::string SpacedPairs(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (uint8_t b : bytes) text += test::HexBytes({b}) + " ";
  return text;
}

using BinaryLoadTest = ImageFixture;
using HexTextLoadTest = ImageFixture;
using RecordLoadTest = ImageFixture;

const std::vector<LoadCase> kIntelCases = {
    {"ExtendedLinearThenData", "a.hex", Lines({":020000040001F9", ":040000001122334452", kEnd}), 0, 0, 0x10000,
     0x10003, {{0x10000, {0x11, 0x22, 0x33, 0x44}}}, {0x0, 0x10004}},
    {"ExtendedSegmentThenData", "a.HEX", Lines({IntelLine(2, 0, {0x10, 0x00}), IntelLine(0, 0x0010, {0xAB})}), 0, 0,
     0x10010, 0x10010, {{0x10010, {0xAB}}}, {0x10}},
    {"BadDataChecksumLandsAndStops", "a.hex", Lines({WrongChecksum(kD0), IntelLine(0, 0x10, {9})}), 4, 1, 0, 3,
     {{0, {1, 2, 3, 4}}}, {0x10}},
    {"LowerCaseEndRecordDoesNotStop", "a.hex", Lines({kD0, ":00000001ff", IntelLine(0, 0x20, {7})}), 0, 0, 0, 0x20,
     {{0, {1, 2, 3, 4}}, {0x20, {7}}}, {}},
    {"EndRecordEndsReading", "a.hex", Lines({kD0, kEnd, "garbage", IntelLine(0, 0x20, {7})}), 0, 0, 0, 3,
     {{0, {1, 2, 3, 4}}}, {0x20}},
    {"StartRecordsIgnoreTheirChecksum", "a.hex",
     Lines({WrongChecksum(IntelLine(3, 0, {0, 0, 0x10, 0})), WrongChecksum(IntelLine(5, 0, {0, 0, 0x10, 0})), kD0}), 0,
     0, 0, 3, {{0, {1, 2, 3, 4}}}, {}},
    {"UnknownRecordType", "a.hex", Lines({kD0, IntelLine(6, 0, {}), IntelLine(0, 0x20, {7})}), 5, 2, 0, 3,
     {{0, {1, 2, 3, 4}}}, {0x20}},
    {"LineWithoutColon", "a.hex", Lines({kD0, IntelLine(0, 0x20, {7}).substr(1)}), 1, 2, 0, 3, {}, {0x20}},
    {"EmptyLineEndsTheLoad", "a.hex", Lines({kD0, "", IntelLine(0, 0x20, {7})}), 1, 2, 0, 3, {}, {0x20}},
    {"ExtendedRecordWithNonZeroAddress", "a.hex", Lines({":020010040001E9", kD0}), 3, 1, kNoFileStart, kNoFileEnd, {},
     {0}},
    {"ExtendedRecordWithBadChecksum", "a.hex", Lines({WrongChecksum(IntelLine(4, 0, {0, 1})), kD0}), 4, 1,
     kNoFileStart, kNoFileEnd, {}, {0}},
    {"DataAddressAbove1FFFFFFF", "a.hex", Lines({kD0, IntelLine(4, 0, {0x20, 0x00}), IntelLine(0, 0, {9})}), 6, 3, 0,
     3, {{0, {1, 2, 3, 4}}}, {}, true},
    {"DataOnTheLastImageByteThenBeyond", "a.hex",
     Lines({IntelLine(4, 0, {0x08, 0x20}), IntelLine(0, 0, {0xAA}), IntelLine(0, 1, {0xBB})}), 7, 3, 0x8200000,
     0x8200000, {{0x8200000, {0xAA}}}, {}, true},
    {"RecordReachingPastTheImage", "a.hex", Lines({IntelLine(4, 0, {0x08, 0x1F}), IntelLine(0, 0xFFFF, {1, 2, 3})}), 7,
     2, kNoFileStart, kNoFileEnd, {}, {0x81FFFFF, 0x8200000}, true},
    {"AddressesNearTheTopOfTheAddressSpace", "a.hex",
     Lines({IntelLine(4, 0, {0xFF, 0xFF}), IntelLine(0, 0xFFF8, std::vector<uint8_t>(16, 0x5A))}), 6, 2,
     kNoFileStart, kNoFileEnd, {}, {}, true},
    {"RecordShorterThanItsCount", "a.hex", Lines({kD0, ":10000000AABB"}), 2, 2, 0, 3, {{0, {1, 2, 3, 4}}}, {4}},
    {"ExtendedRecordCutShort", "a.hex", Lines({":02000004"}), 2, 1, kNoFileStart, kNoFileEnd, {}, {}},
    {"HeaderCutShort", "a.hex", Lines({":0000"}), 2, 1, kNoFileStart, kNoFileEnd, {}, {}},
    {"ZeroCountDataRecordWritesNothing", "a.hex", Lines({":0000000000", IntelLine(0, 0x100, {5})}), 0, 0, 0x100,
     0x100, {{0x100, {5}}}, {0}},
    {"BinaryGarbage", "a.hex", std::string("\x00\x01\xFF\xFE:\x80\x00", 7) + "\n" + kD0 + "\n", 1, 1, kNoFileStart,
     kNoFileEnd, {}, {0}},
    {"RecordWithAHundredThousandTrailingCharacters", "a.hex",
     kD0 + LongLine(100000, 'A') + "\n" + IntelLine(0, 0x10, {9}) + "\n", 0, 0, 0, 0x10, {{0, {1, 2, 3, 4}}, {0x10, {9}}},
     {}},
    {"LineOfAHundredThousandCharacters", "a.hex", ":" + LongLine(100000, 'F') + "\n", 5, 1, kNoFileStart, kNoFileEnd,
     {}, {}},
    {"LineLongerThanTheReadBlock", "a.hex",
     kD0 + LongLine(3 << 20, '0') + "\n" + IntelLine(0, 0x10, {9}) + "\nbad\n", 1, 3, 0, 0x10,
     {{0, {1, 2, 3, 4}}, {0x10, {9}}}, {}},
    {"CrLfAndLoneCrLineEnds", "a.hex",
     kD0 + "\r\n" + IntelLine(0, 0x10, {9}) + "\r" + IntelLine(0, 0x20, {8}) + "\r\n" + kEnd + "\r\n", 0, 0, 0, 0x20,
     {{0, {1, 2, 3, 4}}, {0x10, {9}}, {0x20, {8}}}, {}},
};

const std::vector<LoadCase> kMotorolaCases = {
    {"S1WithHeaderCountAndEnd", "a.s19",
     Lines({SLine(0, 0, {'h', 'd', 'r'}), SLine(1, 0x1000, {1, 2, 3}), SLine(1, 0x1003, {4}), SLine(5, 2, {}),
            SLine(9, 0, {}), "garbage"}),
     0, 0, 0x1000, 0x1003, {{0x1000, {1, 2, 3, 4}}}, {0x1004}},
    {"S2AndS3Addresses", "a.S28", Lines({SLine(2, 0x123456, {0xAA}), SLine(3, 0x01000000, {0xBB}), SLine(8, 0, {})}),
     0, 0, 0x123456, 0x1000000, {{0x123456, {0xAA}}, {0x1000000, {0xBB}}}, {}},
    {"S6CountAndS7End", "a.s37", Lines({SLine(3, 0x10, {1}), SLine(6, 1, {}), SLine(7, 0, {})}), 0, 0, 0x10, 0x10,
     {{0x10, {1}}}, {}},
    {"MotExtension", "a.mot", Lines({SLine(1, 0x20, {7}), SLine(9, 0, {})}), 0, 0, 0x20, 0x20, {{0x20, {7}}}, {}},
    {"SrecExtension", "a.SREC", Lines({SLine(1, 0x20, {7})}), 0, 0, 0x20, 0x20, {{0x20, {7}}}, {}},
    {"SRecordBadChecksumLandsAndStops", "a.s19", Lines({WrongChecksum(SLine(1, 0, {1, 2})), SLine(1, 0x10, {3})}), 4,
     1, 0, 1, {{0, {1, 2}}}, {0x10}},
    {"SRecordCountMismatch", "a.s19", Lines({SLine(1, 0, {1}), SLine(5, 2, {}), SLine(1, 0x10, {3})}), 8, 2, 0, 0,
     {{0, {1}}}, {0x10}},
    {"SRecordS4IsUnknown", "a.s19", Lines({SLine(1, 0, {1}), "S4030000FC"}), 5, 2, 0, 0, {{0, {1}}}, {}},
    {"SRecordTypeNotADigit", "a.s19", Lines({"SX030000FC"}), 5, 1, kNoFileStart, kNoFileEnd, {}, {}},
    {"SRecordLowerCaseMark", "a.s19", Lines({"s" + SLine(1, 0, {1}).substr(1)}), 1, 1, kNoFileStart, kNoFileEnd, {},
     {0}},
    {"SRecordEmptyLine", "a.s19", Lines({SLine(1, 0, {1}), "", SLine(1, 0x10, {3})}), 1, 2, 0, 0, {{0, {1}}}, {0x10}},
    {"SRecordCountBelowItsAddress", "a.s19", Lines({"S1020000"}), 2, 1, kNoFileStart, kNoFileEnd, {}, {}},
    {"SRecordShorterThanItsCount", "a.s19", Lines({"S1130000AABB"}), 2, 1, kNoFileStart, kNoFileEnd, {}, {0}},
    {"SRecordAddressAbove1FFFFFFF", "a.s19", Lines({SLine(3, 0x20000000, {1})}), 6, 1, kNoFileStart, kNoFileEnd, {},
     {}, true},
    {"SRecordBeyondTheImage", "a.s19", Lines({SLine(3, 0x08200000, {1, 2})}), 7, 1, kNoFileStart, kNoFileEnd, {},
     {0x8200000}, true},
    {"SRecordEndWithBadChecksum", "a.s19", Lines({SLine(1, 0, {1}), WrongChecksum(SLine(9, 0, {}))}), 4, 2, 0, 0,
     {{0, {1}}}, {}},
};

const std::vector<LoadCase> kHexTextCases = {
    {"AddressDataAndQuit", "a.txt", Lines({"@1000", "AA BB", "q", "CC"}), 0, 0, 0x1000, 0xFFFF,
     {{0x1000, {0xAA, 0xBB}}}, {0x1002}},
    {"DataWithoutAddressStartsAtZero", "a.TXT", Lines({"01 02", "03"}), 0, 0, kNoFileStart, 0xFFFF, {{0, {1, 2, 3}}},
     {}},
    {"LowestAddressIsTheFileStart", "a.txt", Lines({"@200", "11", "@100", "22"}), 0, 0, 0x100, 0xFFFF,
     {{0x200, {0x11}}, {0x100, {0x22}}}, {}},
    {"LeadingBlanksAndLettersPastF", "a.txt", Lines({"  @10", "   GG aa", "  q", "11"}), 0, 0, 0x10, 0xFFFF,
     {{0x10, {0x10, 0xAA}}}, {0x12}},
    // Every character after '@' is a digit, a blank too: 0x10 * 16 - 16.
    {"AddressWithATrailingBlank", "a.txt", Lines({"@10 ", "AA"}), 0, 0, 0xF0, 0xFFFF, {{0xF0, {0xAA}}}, {0x10}},
    {"LinesLongerThan255CharactersAreTakenWhole", "a.txt", Lines({"@0", SpacedPairs(Counting(300))}), 0, 0, 0, 0xFFFF,
     {{0, Counting(300)}}, {300}},
    {"ByteWithOneDigitEndsTheLoad", "a.txt", Lines({"AB CD E", "FF"}), 9, 1, kNoFileStart, 0xFFFF, {{0, {0xAB, 0xCD}}},
     {2}},
    {"TextDataBeyondTheImage", "a.txt", Lines({"@8200000", "AABB"}), 7, 2, 0x8200000, 0xFFFF, {{0x8200000, {0xAA}}},
     {}, true},
    {"TextCrLfLineEnds", "a.txt", "@10\r\nAA\r\nq\r\nBB\r\n", 0, 0, 0x10, 0xFFFF, {{0x10, {0xAA}}}, {0x11}},
    {"TextLineNumbersCountCrLfOnce", "a.txt", "@10\r\nAA\r\n\rB\r\nCC\n", 9, 4, 0x10, 0xFFFF, {{0x10, {0xAA}}},
     {0x11}},
};

class LoadTest : public ImageFixture, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadTest, ImageRangeAndOutcome) {
  const LoadCase& c = GetParam();
  ChipParams chip;
  chip.Size = 0x400000;
  const auto path = Write(c.fileName, c.content);
  const LoadOutcome outcome = LoadObjectFile(path, image, chip, report);
  EXPECT_EQ(int{outcome.code}, int{c.code});
  EXPECT_EQ(image.FileStart, c.fileStart);
  EXPECT_EQ(image.FileEnd, c.fileEnd);
  for (const Span& s : c.loaded) {
    EXPECT_EQ(Bytes(s.address, static_cast<uint32_t>(s.bytes.size())), s.bytes) << "at " << s.address;
  }
  for (uint32_t a : c.erased) EXPECT_EQ(image.Data[a], 0xFF) << "at " << a;
  EXPECT_EQ(report.warnings.size(), c.warned ? 1u : 0u);
  if (c.code == 0) {
    EXPECT_TRUE(report.log.empty());
  } else {
    EXPECT_EQ(outcome.position, c.line);
    ASSERT_EQ(report.log.size(), 1u);
    const std::string expected = "I Loading stopped at line " + std::to_string(c.line) + ": " +
                                 RecordCodeMessage(c.code) + " (code " + std::to_string(c.code) + ").";
    EXPECT_EQ(report.log[0], expected);
  }
  // The chip range was reset to the whole chip before parsing.
  EXPECT_EQ(image.ChipEnd, 0x3FFFFFu);
  EXPECT_EQ(chip.SizeKB, 4096u);
}

auto CaseName = [](const auto& tc) { return std::string(tc.param.name); };
INSTANTIATE_TEST_SUITE_P(IntelHex, LoadTest, ::testing::ValuesIn(kIntelCases), CaseName);
INSTANTIATE_TEST_SUITE_P(Motorola, LoadTest, ::testing::ValuesIn(kMotorolaCases), CaseName);
INSTANTIATE_TEST_SUITE_P(HexText, LoadTest, ::testing::ValuesIn(kHexTextCases), CaseName);

TEST_F(HexTextLoadTest, LargeFileAcrossReadBlocks) {
  // About 2 MiB of CR LF lines, so that lines, pairs and CR LF pairs are
  // split at every kind of place by the reader's blocks.
  std::string text = "@0\r\n";
  std::vector<uint8_t> expected;
  for (int line = 0; line < 40000; ++line) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 16 + line % 5; ++i) bytes.push_back(static_cast<uint8_t>(line * 31 + i));
    text += SpacedPairs(bytes) + "\r\n";
    expected.insert(expected.end(), bytes.begin(), bytes.end());
  }
  text += "q\r\n";
  ChipParams chip;
  EXPECT_EQ(LoadObjectFile(Write("big.txt", text), image, chip, report), LoadOutcome{});
  EXPECT_EQ(Bytes(0, static_cast<uint32_t>(expected.size())), expected);
  EXPECT_EQ(image.Data[expected.size()], 0xFF);
}

// Records that write addresses written before: the later one wins, whether
// the earlier bytes are still being gathered, already in the image, in a
// long run given pages of its own, or on the far side of a huge-page
// boundary (2 MiB) that a record crosses. Checked against the records
// applied in order to a plain array.
TEST_F(RecordLoadTest, LaterRecordsWinOverEarlierOnesWhereverTheyLie) {
  struct Rewrite {
    uint32_t address;
    uint32_t count;
  };
  const Rewrite writes[] = {
      {0x1FFFF8, 0x400},   // across 2 MiB, records crossing it
      {0x1FFFFC, 16},      // back into the run just gathered, across 2 MiB again
      {0x100, 16},         // far back
      {0x10000, 0x20000},  // a long run of whole pages
      {0x10010, 40},       // into it
      {0x0FFF0, 0x30},     // across the long run's start
      {0x200004, 8},       // the second huge page again
  };
  std::vector<uint8_t> expected(0x210000, 0xFF);
  std::string text;
  uint32_t upper = 0;
  uint8_t value = 1;
  for (const Rewrite& w : writes) {
    for (uint32_t done = 0; done < w.count;) {
      const uint32_t address = w.address + done;
      const uint32_t count = std::min<uint32_t>(16, w.count - done);
      if (address >> 16 != upper) {
        upper = address >> 16;
        text += IntelLine(4, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)}) + "\n";
      }
      // A record stays within its 64 KiB segment.
      const uint32_t fits = std::min(count, 0x10000 - (address & 0xFFFF));
      std::vector<uint8_t> data(fits);
      for (uint8_t& b : data) b = value++;
      text += IntelLine(0, static_cast<uint16_t>(address), data) + "\n";
      std::copy(data.begin(), data.end(), expected.begin() + address);
      done += fits;
    }
  }
  text += ":00000001FF\n";
  ChipParams chip;
  chip.Size = 0x400000;
  EXPECT_EQ(LoadObjectFile(Write("rewrites.hex", text), image, chip, report), LoadOutcome{});
  EXPECT_EQ(Bytes(0, static_cast<uint32_t>(expected.size())), expected);
}

TEST(ObjectFormatTest, ExtensionPicksTheParserInAnyCase) {
  struct Case {
    const char* name;
    ObjectFormat format;
  };
  for (const Case& c : {Case{"a.hex", ObjectFormat::IntelHex}, Case{"/d/x.Hex", ObjectFormat::IntelHex},
                        Case{".hex", ObjectFormat::IntelHex}, Case{"a.s19", ObjectFormat::MotorolaS},
                        Case{"a.S28", ObjectFormat::MotorolaS}, Case{"a.s37", ObjectFormat::MotorolaS},
                        Case{"a.SRec", ObjectFormat::MotorolaS}, Case{"a.mot", ObjectFormat::MotorolaS},
                        Case{"a.txt", ObjectFormat::HexText}, Case{"a.bin", ObjectFormat::Binary},
                        Case{"a.s1", ObjectFormat::Binary}, Case{"a.hex.bak", ObjectFormat::Binary},
                        Case{"noextension", ObjectFormat::Binary}, Case{"dir.hex/file", ObjectFormat::Binary}}) {
    EXPECT_EQ(ObjectFormatForPath(c.name), c.format) << c.name;
  }
}


TEST_F(BinaryLoadTest, FileGoesToAddressZero) {
  std::string content(1000, '\0');
  for (int i = 0; i < 1000; ++i) content[i] = static_cast<char>(i * 7);
  ChipParams chip;
  const LoadOutcome outcome = LoadObjectFile(Write("a.bin", content), image, chip, report);
  EXPECT_EQ(outcome, LoadOutcome{});
  EXPECT_EQ(image.FileStart, 0u);
  EXPECT_EQ(image.FileEnd, 999u);
  EXPECT_EQ(Bytes(0, 1000), std::vector<uint8_t>(content.begin(), content.end()));
  EXPECT_EQ(image.Data[1000], 0xFF);
  EXPECT_TRUE(report.log.empty());
  EXPECT_TRUE(report.warnings.empty());
}

// Loads one after the other, each after the erase a load starts with: a
// file's bytes, and nothing of a larger file before it beyond its end.
// Sizes around a page, the smallest range given pages of its own, a huge
// page, and more.
TEST_F(BinaryLoadTest, EachLoadHoldsItsFileAndErasedBytesBeyondIt) {
  std::mt19937 random(7);
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t sizes[] = {(std::size_t{3} << 20) + 5, 1000, page, 65536 + page + 1, std::size_t{2} << 20, 1};
  const std::size_t checked = (std::size_t{4} << 20) + page;
  ChipParams chip;
  for (const std::size_t size : sizes) {
    SCOPED_TRACE(size);
    std::string content(size, '\0');
    for (char& c : content) c = static_cast<char>(random());
    image.Erase();
    EXPECT_EQ(LoadObjectFile(Write("a.bin", content), image, chip, report), LoadOutcome{});
    EXPECT_EQ(image.FileEnd, size - 1);
    ASSERT_EQ(Bytes(0, static_cast<uint32_t>(size)), std::vector<uint8_t>(content.begin(), content.end()));
    const std::vector<uint8_t> beyond = Bytes(static_cast<uint32_t>(size), static_cast<uint32_t>(checked - size));
    EXPECT_EQ(std::count(beyond.begin(), beyond.end(), 0xFF), static_cast<std::ptrdiff_t>(beyond.size()));
  }
}

TEST_F(BinaryLoadTest, EmptyFileHoldsNoData) {
  ChipParams chip;
  EXPECT_EQ(LoadObjectFile(Write("empty.dat", ""), image, chip, report).code, 0);
  EXPECT_EQ(image.FileStart, kNoFileStart);
  EXPECT_EQ(image.FileEnd, kNoFileEnd);
}

TEST_F(BinaryLoadTest, AFifoIsRefusedWhateverItsNameNotWaitedOn) {
  ChipParams chip;
  for (const char* name : {"fifo.bin", "fifo.hex", "fifo.txt", "fifo.s19", "fifo.ihx"}) {
    SCOPED_TRACE(name);
    const std::filesystem::path path = dir / name;
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    test::RecordingReport r;
    std::string refusal;
    try {
      const LoadOutcome outcome = LoadObjectFile(path, image, chip, r);
      EXPECT_EQ(outcome.code, kRecordReadError);
      for (const std::string& line : r.log) refusal += line;
    } catch (const EInOutError& e) {
      refusal = e.what();
    }
    EXPECT_NE(refusal.find("not a regular file"), std::string::npos) << refusal;
    EXPECT_NE(refusal.find(path.string()), std::string::npos) << refusal;
  }
}

TEST_F(BinaryLoadTest, UnreadableFileWarnsAndLoadsNothing) {
  ChipParams chip;
  std::filesystem::create_directory(dir / "folder.bin");
  for (const auto& path : {dir / "missing.bin", dir / "folder.bin"}) {
    test::RecordingReport r;
    const LoadOutcome outcome = LoadObjectFile(path, image, chip, r);
    EXPECT_EQ(outcome.code, kRecordReadError) << path;
    ASSERT_EQ(r.warnings.size(), 1u);
    // The box keeps its words and names the file and the reason below them.
    EXPECT_EQ(r.warnings[0].rfind("Read File Data Error!\n" + path.string() + ": ", 0), 0u) << r.warnings[0];
    ASSERT_EQ(r.log.size(), 2u);
    EXPECT_EQ(r.log[0], "I Loading stopped at offset 0x00000000: the file could not be read (code 10).");
    // Which file, and why.
    EXPECT_EQ(r.log[1].rfind("I " + path.string() + ": ", 0), 0u) << r.log[1];
    EXPECT_EQ(image.FileStart, kNoFileStart);
    EXPECT_EQ(image.FileEnd, kNoFileEnd);
  }
}

TEST_F(BinaryLoadTest, FileLargerThanTheImageIsCutAtItsEnd) {
  // A sparse file of the image's size plus 16 bytes, with marks at both ends.
  const auto path = dir / "huge.bin";
  {
    std::ofstream out(path, std::ios::binary);
    out << 'A';
    out.seekp(kImageCapacity - 1);
    out << 'Z' << "beyond the image";
  }
  ChipParams chip;
  const LoadOutcome outcome = LoadObjectFile(path, image, chip, report);
  EXPECT_EQ(outcome, (LoadOutcome{kRecordBeyondImage, kImageCapacity}));
  EXPECT_EQ(image.Data[0], 'A');
  EXPECT_EQ(image.Data[1], 0);
  EXPECT_EQ(image.Data[kImageCapacity - 1], 'Z');
  EXPECT_EQ(image.FileStart, 0u);
  EXPECT_EQ(image.FileEnd, kImageCapacity - 1);
  ASSERT_EQ(report.warnings.size(), 1u);
  EXPECT_EQ(report.warnings[0],
            "The file is larger than the image buffer (136314881 bytes); only its first 136314881 bytes were loaded.");
  EXPECT_EQ(report.log, std::vector<std::string>{
                            "I Loading stopped at offset 0x08200001: data beyond the image buffer (code 7)."});
}

TEST_F(BinaryLoadTest, TextFileThatCannotBeReadRaises) {
  ChipParams chip;
  std::filesystem::create_directory(dir / "folder.hex");
  EXPECT_THROW(LoadObjectFile(dir / "missing.hex", image, chip, report), EInOutError);
  EXPECT_THROW(LoadObjectFile(dir / "folder.hex", image, chip, report), EInOutError);
  std::filesystem::create_directory(dir / "folder.s19");
  std::filesystem::create_directory(dir / "folder.txt");
  EXPECT_THROW(LoadObjectFile(dir / "folder.s19", image, chip, report), EInOutError);
  EXPECT_THROW(LoadObjectFile(dir / "folder.txt", image, chip, report), EInOutError);
}

using SaveTest = ImageFixture;

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST_F(SaveTest, UsedRangeIsWrittenWholeAndReplacesTheOldFile) {
  for (uint32_t i = 0; i < 0x3000; ++i) image.Data[i] = static_cast<uint8_t>(i * 13);
  image.ChipStart = 0;
  image.ChipEnd = 0x1FFF;
  const auto path = Write("out.bin", "an older and different file");
  SaveUsedRange(image, path);
  const std::string saved = ReadWhole(path);
  ASSERT_EQ(saved.size(), 0x2000u);
  EXPECT_EQ(std::vector<uint8_t>(saved.begin(), saved.end()), Bytes(0, 0x2000));
  // Nothing but the saved file is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
}

TEST_F(SaveTest, FailedSaveLeavesTheOldFileAndNoTemporaryFile) {
  const auto path = Write("out.bin", "the good old file");
  // Writes beyond 64 KiB fail (EFBIG instead of the signal).
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &previous);
  rlimit old = {};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 64 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  image.ChipEnd = 0xFFFFF;  // 1 MiB
  EXPECT_THROW(SaveUsedRange(image, path), EInOutError);
  setrlimit(RLIMIT_FSIZE, &old);
  sigaction(SIGXFSZ, &previous, nullptr);
  EXPECT_EQ(ReadWhole(path), "the good old file");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
}

TEST_F(SaveTest, RangeBeyondTheSourceIsRefused) {
  const uint8_t bytes[4] = {1, 2, 3, 4};
  EXPECT_THROW(WriteBinary(bytes, sizeof bytes, dir / "x.bin", 4), EInOutError);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.bin"));
  image.ChipStart = 0;
  image.ChipEnd = kImageCapacity;  // one past the image, as a damaged project could set
  EXPECT_THROW(SaveUsedRange(image, dir / "y.bin"), EInOutError);
  EXPECT_FALSE(std::filesystem::exists(dir / "y.bin"));
  WriteBinary(bytes, sizeof bytes, dir / "z.bin", 3);
  EXPECT_EQ(ReadWhole(dir / "z.bin"), std::string("\x01\x02\x03\x04", 4));
}

TEST(ObjectFileTextsTest, CommandTexts) {
  EXPECT_EQ(LoadObjectFileLine("/home/op/fw.hex"), "Load object file : /home/op/fw.hex");
  EXPECT_EQ(FileSavedMessage("/tmp/a.bin"), "文件\"/tmp/a.bin\"已保存！");
}

}  // namespace
}  // namespace velkor
