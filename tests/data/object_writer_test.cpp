// Ranges of the image written as Intel HEX, S-records and binary come back
// byte for byte: through this program's loaders, and through srec_cat and
// objcopy, which share nothing with them. A save that fails leaves the file
// that was there as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <random>

#include "data/object_writer.hpp"
#include "recording_report.hpp"

namespace velkor {
namespace {

using test::ImageFixture;

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

struct RangeCase {
  const char* name;
  uint32_t first;
  std::size_t count;
  char sRecordType;  // the data records' type: '1', '2' or '3'
};
void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.name; }

const RangeCase kRanges[] = {
    {"FromZero", 0, 5000, '1'},
    {"OddStart", 0x1235, 777, '1'},
    {"Across64KiB", 0xFFF3, 0x40, '2'},
    {"Above16MiB", 0x1000005, 300, '3'},
    {"OneErasedByte", 0x7, 1, '1'},
    // More than 65,535 records: the count goes into an S6 record.
    {"ManyRecords", 0x10, 0x200005, '2'},
};

class ObjectWriterTest : public ImageFixture, public ::testing::WithParamInterface<RangeCase> {
 protected:
  // Random bytes over the range with a run of erased bytes in the middle
  // and at both ends, which must be written like any other byte.
  std::vector<uint8_t> FillRange(const RangeCase& c) {
    std::mt19937 random(static_cast<unsigned>(c.first + c.count));
    std::vector<uint8_t> bytes(c.count);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    for (std::size_t i = c.count / 3; i < c.count / 3 + std::min<std::size_t>(c.count / 4, 100); ++i) bytes[i] = 0xFF;
    bytes.front() = 0xFF;
    bytes.back() = 0xFF;
    std::copy(bytes.begin(), bytes.end(), image.Data.get() + c.first);
    return bytes;
  }
  std::filesystem::path WriteRange(const RangeCase& c, const char* name, ObjectFormat format) {
    const auto path = dir / name;
    WriteObjectFile(path, image.Data.get() + c.first, c.first, c.count, format);
    return path;
  }
  // Loads path with this program's loader into the erased image and returns
  // the range's bytes.
  std::vector<uint8_t> LoadBack(const std::filesystem::path& path, const RangeCase& c) {
    image.Erase();
    ChipParams chip;
    chip.Size = 0x2000000;
    EXPECT_EQ(LoadObjectFile(path, image, chip, report), LoadOutcome{});
    EXPECT_EQ(image.FileStart, c.first);
    EXPECT_EQ(image.FileEnd, c.first + c.count - 1);
    return Bytes(c.first, static_cast<uint32_t>(c.count));
  }
  void Run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }
};

TEST_P(ObjectWriterTest, IntelHexComesBackByteForByte) {
  const RangeCase& c = GetParam();
  const auto expected = FillRange(c);
  const auto path = WriteRange(c, "range.hex", ObjectFormat::IntelHex);
  EXPECT_EQ(LoadBack(path, c), expected);

  if (!HaveTool("srec_cat") || !HaveTool("objcopy")) GTEST_SKIP() << "srec_cat or objcopy is not installed";
  // srec_cat places the data at its address less the range's start.
  const auto bySrecCat = dir / "srec_cat.bin";
  Run("srec_cat '" + path.string() + "' -intel -offset -" + Hex(c.first) + " -o '" + bySrecCat.string() +
      "' -binary");
  EXPECT_EQ(ReadAll(bySrecCat), expected);
  // objcopy's binary starts at the lowest address.
  const auto byObjcopy = dir / "objcopy.bin";
  Run("objcopy -I ihex -O binary '" + path.string() + "' '" + byObjcopy.string() + "'");
  EXPECT_EQ(ReadAll(byObjcopy), expected);
}

TEST_P(ObjectWriterTest, SRecordsComeBackByteForByte) {
  const RangeCase& c = GetParam();
  const auto expected = FillRange(c);
  const auto path = WriteRange(c, "range.srec", ObjectFormat::MotorolaS);
  // The loader also checks the S5/S6 count against the data records.
  EXPECT_EQ(LoadBack(path, c), expected);

  // The narrowest address field that holds the last address, in every
  // data record.
  std::ifstream text(path);
  std::string line;
  std::getline(text, line);
  EXPECT_EQ(line.substr(0, 2), "S0");
  std::getline(text, line);
  EXPECT_EQ(line[1], c.sRecordType) << line;

  if (!HaveTool("srec_cat") || !HaveTool("objcopy")) GTEST_SKIP() << "srec_cat or objcopy is not installed";
  const auto bySrecCat = dir / "srec_cat.bin";
  Run("srec_cat '" + path.string() + "' -motorola -offset -" + Hex(c.first) + " -o '" + bySrecCat.string() +
      "' -binary");
  EXPECT_EQ(ReadAll(bySrecCat), expected);
  const auto byObjcopy = dir / "objcopy.bin";
  Run("objcopy -I srec -O binary '" + path.string() + "' '" + byObjcopy.string() + "'");
  EXPECT_EQ(ReadAll(byObjcopy), expected);
}

TEST_P(ObjectWriterTest, BinaryHoldsTheBytesAlone) {
  const RangeCase& c = GetParam();
  const auto expected = FillRange(c);
  EXPECT_EQ(ReadAll(WriteRange(c, "range.bin", ObjectFormat::Binary)), expected);
}

INSTANTIATE_TEST_SUITE_P(Ranges, ObjectWriterTest, ::testing::ValuesIn(kRanges),
                         [](const ::testing::TestParamInfo<RangeCase>& range) { return std::string(range.param.name); });

// The used range is saved as the binary save always saved it, whatever
// the format, and the format follows the name.
class ObjectSaveTest : public ImageFixture {};

TEST_F(ObjectSaveTest, UsedRangeIsSavedInTheFormatOfTheName) {
  for (uint32_t i = 0; i < 0x300; ++i) image.Data[i] = static_cast<uint8_t>(i * 13);
  image.ChipStart = 0;
  image.ChipEnd = 0x3FF;  // the last 0x100 bytes are erased
  const std::vector<uint8_t> expected(image.Data.get(), image.Data.get() + 0x400);
  struct Case {
    const char* name;
    ObjectFormat format;
  };
  const Case cases[] = {
      {"a.bin", ObjectFormat::Binary},      {"a.HEX", ObjectFormat::IntelHex}, {"a.ihx", ObjectFormat::IntelHex},
      {"a.s19", ObjectFormat::MotorolaS},   {"a.S37", ObjectFormat::MotorolaS}, {"a.srec", ObjectFormat::MotorolaS},
      {"a.s", ObjectFormat::MotorolaS},     {"a.txt", ObjectFormat::Binary},   {"a.dat", ObjectFormat::Binary},
      {"noextension", ObjectFormat::Binary},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SaveFormatForPath(c.name), c.format);
    const auto path = dir / c.name;
    SaveUsedRangeAs(image, path, SaveFormatForPath(path));
    // Read back in the format the name stands for.
    test::RecordingReport r;
    ChipParams chip;
    chip.Size = 0x400;
    image.Erase();
    const FormatChoice choice = c.format == ObjectFormat::IntelHex    ? FormatChoice::IntelHex
                                : c.format == ObjectFormat::MotorolaS ? FormatChoice::MotorolaS
                                                                      : FormatChoice::Binary;
    EXPECT_EQ(LoadObjectFile(path, image, chip, r, choice), LoadOutcome{});
    EXPECT_EQ(Bytes(0, 0x400), expected);
    std::copy(expected.begin(), expected.end(), image.Data.get());
    image.ChipStart = 0;
    image.ChipEnd = 0x3FF;
  }
  // A load by name still goes by content for names only a save knows.
  EXPECT_EQ(ObjectFormatForPath("a.ihx"), ObjectFormat::Binary);
  EXPECT_FALSE(KnownObjectExtension("a.s"));
}

// A save that gives the image's memory back as it goes (a one-shot
// conversion): binary output tells each block once it is written, the
// blocks follow one another over the whole range, and the file holds every
// byte although the image reads erased behind the writer. The record
// formats tell nothing.
TEST_F(ObjectSaveTest, ABinarySaveTellsEachWrittenBlockAndTheImageMayGoAfterIt) {
  constexpr std::size_t kCount = (std::size_t{20} << 20) + 12345;  // three blocks, the last one short
  std::mt19937 random(7);
  for (std::size_t i = 0; i < kCount; ++i) image.Data[i] = static_cast<uint8_t>(random());
  image.ChipStart = 0;
  image.ChipEnd = static_cast<uint32_t>(kCount - 1);
  const std::vector<uint8_t> expected(image.Data.get(), image.Data.get() + kCount);

  std::vector<std::pair<std::size_t, std::size_t>> told;
  const BytesWritten release = [&](std::size_t offset, std::size_t count) {
    told.emplace_back(offset, count);
    EraseWholePages(image.Data, offset, count);
  };
  SaveUsedRangeAs(image, dir / "out.bin", ObjectFormat::Binary, release);
  EXPECT_EQ(ReadAll(dir / "out.bin"), expected);
  ASSERT_GE(told.size(), 2u);
  std::size_t next = 0;
  for (const auto& [offset, count] : told) {
    EXPECT_EQ(offset, next);
    next = offset + count;
  }
  EXPECT_EQ(next, kCount);
  EXPECT_EQ(image.Data[kCount / 2], 0xFF) << "the image's memory was not given back";

  told.clear();
  SaveUsedRangeAs(image, dir / "out.hex", ObjectFormat::IntelHex, release);
  EXPECT_TRUE(told.empty());
}

// A save whose write fails part way (here the file-size limit, as a full
// disk would) raises, and leaves the file of that name as it was, with no
// temporary file beside it; a folder that cannot be written is refused
// the same way.
TEST_F(ObjectSaveTest, AFailedSaveKeepsTheOldFileAndSaysWhy) {
  const auto kept = dir / "kept.hex";
  std::ofstream(kept) << "the old content\n";
  for (uint32_t i = 0; i < 0x100000; ++i) image.Data[i] = static_cast<uint8_t>(i);
  image.ChipStart = 0;
  image.ChipEnd = 0xFFFFF;

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 * 1024, 64 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    int status = 1;
    try {
      SaveUsedRangeAs(image, kept, ObjectFormat::IntelHex);
    } catch (const EInOutError& e) {
      status = std::string(e.what()).find(kept.string()) != std::string::npos ? 0 : 2;
    }
    std::_Exit(status);
  }
  int wait = 0;
  ASSERT_EQ(::waitpid(child, &wait, 0), child);
  ASSERT_TRUE(WIFEXITED(wait));
  EXPECT_EQ(WEXITSTATUS(wait), 0) << "1: the save did not fail; 2: the error did not name the file";
  std::ifstream in(kept);
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "the old content");
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    EXPECT_EQ(entry.path().filename(), "kept.hex") << "left behind: " << entry.path();

  if (::geteuid() != 0) {
    const auto locked = dir / "locked";
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_THROW(SaveUsedRangeAs(image, locked / "x.hex", ObjectFormat::IntelHex), EInOutError);
    EXPECT_FALSE(std::filesystem::exists(locked / "x.hex"));
  }
  EXPECT_THROW(SaveUsedRangeAs(image, dir / "no-such-folder" / "x.srec", ObjectFormat::MotorolaS), EInOutError);
  EXPECT_THROW(SaveUsedRangeAs(image, dir, ObjectFormat::Binary), EInOutError);  // a folder at the name
}

// The save dialog keeps its binary filter first, as it always read.
TEST(SaveDialogTest, BinaryFilterComesFirstUnchanged) {
  const std::string filters = kSaveDialogFormatFilter;
  EXPECT_EQ(filters.rfind(std::string(kSaveDialogFilter) + "|", 0), 0u) << filters;
}

}  // namespace
}  // namespace velkor
