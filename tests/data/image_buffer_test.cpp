// The image buffer's used range, recompute, checksums and DataFlash layout.
#include "data/image_buffer.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "link/checksum.hpp"
#include "recording_report.hpp"

namespace velkor {
namespace {

using test::ImageFixture;

ChipParams Chip(uint8_t family, uint32_t size) {
  ChipParams chip;
  chip.Family = family;
  chip.Size = size;
  return chip;
}

// Serial form of the register, for ranges beyond the reference's 16 MiB.
uint16_t SerialCrc(const uint8_t* data, uint32_t first, uint32_t last) {
  uint16_t r = 0;
  for (uint64_t i = first; i <= last; ++i) r = static_cast<uint16_t>((r >> 1) ^ data[i] ^ ((r & 1) ? 0x4A12 : 0));
  return r;
}

std::string Formatted(const char* format, unsigned value) {
  char text[96];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

using ImageBufferTest = ImageFixture;

TEST_F(ImageBufferTest, StartsErasedAndEraseRefillsAll) {
  ImageBuffer fresh;
  EXPECT_EQ(fresh.Data[0], 0xFF);
  EXPECT_EQ(fresh.Data[kImageCapacity - 1], 0xFF);
  EXPECT_EQ(fresh.FileStart, kNoFileStart);
  EXPECT_EQ(fresh.ChipEnd, 0u);
  fresh.Data[0] = 0;
  fresh.Data[kImageCapacity / 2] = 0x12;
  fresh.Data[kImageCapacity - 1] = 0;
  fresh.Erase();
  EXPECT_EQ(ByteSum32(fresh.Data.get(), 0, kImageCapacity - 1), static_cast<uint32_t>(uint64_t{0xFF} * kImageCapacity));
}

TEST_F(ImageBufferTest, ResetChipRangeCoversTheWholeChip) {
  struct Case {
    uint32_t size, sizeKB, end;
  };
  for (const Case& c : {Case{0x400000, 4096, 0x3FFFFF}, Case{1024, 1, 0x3FF}, Case{1023, 0, 0x3FE}, Case{256, 0, 0xFF}}) {
    ChipParams chip = Chip(0, c.size);
    image.ChipStart = 5;
    ResetChipRange(image, chip);
    EXPECT_EQ(chip.SizeKB, c.sizeKB) << c.size;
    EXPECT_EQ(image.ChipStart, 0u);
    EXPECT_EQ(image.ChipEnd, c.end);
  }
}

struct TrimCase {
  const char* name;
  uint32_t chipSize;
  std::vector<uint32_t> written;  // addresses set to 0x00
  uint32_t chipEnd;
  uint32_t sizeKB;
};
void PrintTo(const TrimCase& c, std::ostream* os) { *os << c.name; }

class TrimTest : public ImageFixture, public ::testing::WithParamInterface<TrimCase> {};

TEST_P(TrimTest, UsedRangeIsWholeBlocksUpToTheLastData) {
  const TrimCase& c = GetParam();
  ChipParams chip = Chip(0, c.chipSize);
  ResetChipRange(image, chip);
  for (uint32_t a : c.written) image.Data[a] = 0;
  TrimChipEnd(image, chip, report);
  EXPECT_EQ(image.ChipEnd, c.chipEnd);
  EXPECT_EQ(chip.SizeKB, c.sizeKB);
  EXPECT_EQ(report.log.back(), "P ");
  EXPECT_EQ(report.log[report.log.size() - 2], "I Actual Data Size (In KB)  = " + std::to_string(c.sizeKB) + " KB.");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrimTest,
    ::testing::Values(TrimCase{"DataEndingAt012345", 0x400000, {0x10, 0x012345}, 0x012FFF, 76},
                      TrimCase{"BlankImage", 0x400000, {}, 0xFFF, 4},
                      TrimCase{"DataOnlyInTheFirstBlock", 0x400000, {0x0FFF}, 0xFFF, 4},
                      TrimCase{"FirstByteOfSecondBlock", 0x400000, {0x1000}, 0x1FFF, 8},
                      TrimCase{"LastByteOfChip", 0x400000, {0x3FFFFF}, 0x3FFFFF, 4096},
                      TrimCase{"DataBeyondChipIsIgnored", 0x400000, {0x2000, 0x400000}, 0x2FFF, 12},
                      TrimCase{"ChipBelowOneBlockRoundsUp", 2048, {0x10}, 0xFFF, 4},
                      TrimCase{"LastByteOf128MiB", 0x8000000, {0x7FFFFFF}, 0x7FFFFFF, 131072}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST_F(ImageBufferTest, RecomputeOfATrimmedFlashImageLogsEveryLineInOrder) {
  ChipParams chip = Chip(0x00, 0x400000);
  ResetChipRange(image, chip);
  image.Data[0x012345] = 0x5A;
  image.FileStart = 0x012345;
  image.FileEnd = 0x012345;
  RecomputeImage(image, chip, true, false, report);
  const uint16_t crc = LinkCrc16(image.Data.get(), 0, 0x012FFF);
  const std::string accCrc = Formatted("I Chip ACC/CRC CheckSum  = 0x30A5/0x%04X.", crc);
  // "P  " is the line of one blank, "P " the empty line.
  EXPECT_EQ(report.log, (std::vector<std::string>{
                            "P  ",
                            "I 目标文件首地址 = 0x012345.",
                            "I 目标文件尾地址 = 0x012345.",
                            "I 目标芯片首地址 = 0x000000.",
                            "I 目标芯片尾地址 = 0x3FFFFF.",
                            "P  ",
                            "P ",
                            "I Actual Data Start Address = 0x000000.",
                            "I Actual Data End Address   = 0x012FFF.",
                            "I Actual Data Size (In KB)  = 76 KB.",
                            "P ",
                            "I File ACC CheckSum  = 0x0000005A.",
                            "I Chip ACC CheckSum  = 0x012ECF5B.",
                            accCrc,
                            "P ",
                        }));
  EXPECT_EQ(image.AccSum16, 0x30A5);
  EXPECT_EQ(image.Crc16, crc);
  EXPECT_EQ(report.panel[0], "ACC CheckSum : 0x30A5");
  EXPECT_EQ(report.panel[1], Formatted("CRC CheckSum : 0x%04X", crc));
  EXPECT_EQ(report.busy, (std::vector<bool>{true, false}));
  EXPECT_TRUE(report.hexViews.empty());
}

TEST_F(ImageBufferTest, ProcessByChipSizeKeepsTheWholeChipAndLogsNoActualData) {
  ChipParams chip = Chip(0x00, 0x400000);
  ResetChipRange(image, chip);
  image.Data[0x012345] = 0x5A;
  RecomputeImage(image, chip, true, true, report);
  EXPECT_EQ(image.ChipEnd, 0x3FFFFFu);
  EXPECT_EQ(chip.SizeKB, 4096u);
  for (const std::string& line : report.log) EXPECT_EQ(line.find("Actual Data"), std::string::npos) << line;
  EXPECT_EQ(image.AccSum16, static_cast<uint16_t>(0x10000 - ((0x3FFFFFu * 0xFF + 0x5A) & 0xFFFF)));
  EXPECT_EQ(image.Crc16, LinkCrc16(image.Data.get(), 0, 0x3FFFFF));
}

TEST_F(ImageBufferTest, UnconfirmedChipLogsNoChipRange) {
  ChipParams chip = Chip(0xA0, 256);
  ResetChipRange(image, chip);
  RecomputeImage(image, chip, false, false, report);
  EXPECT_EQ(report.log[0], "P  ");
  EXPECT_EQ(report.log[1], "I 目标文件首地址 = 0xFFFFFFFF.");
  EXPECT_EQ(report.log[2], "I 目标文件尾地址 = 0x000000.");
  EXPECT_EQ(report.log[3], "P  ");
  EXPECT_EQ(report.log[4], "I File ACC CheckSum  = 0x00000000.");
}

TEST_F(ImageBufferTest, FamilyDecidesTrimmingAndTheHexGrid) {
  struct Case {
    uint8_t family;
    bool trimmed;
    bool shown;
  };
  for (const Case& c : {Case{0x00, true, false}, Case{0x1F, true, false}, Case{0x20, false, true},
                        Case{0x40, false, false}, Case{0x80, false, false}, Case{0xA0, false, true},
                        Case{0xC0, false, true}, Case{0xD0, false, true}}) {
    test::RecordingReport r;
    ChipParams chip = Chip(c.family, 0x8000);
    ResetChipRange(image, chip);
    RecomputeImage(image, chip, true, false, r);
    EXPECT_EQ(image.ChipEnd, c.trimmed ? 0xFFFu : 0x7FFFu) << int{c.family};
    ASSERT_EQ(r.hexViews.size(), c.shown ? 1u : 0u) << int{c.family};
    if (c.shown) {
      EXPECT_EQ(r.hexViews[0].first, 0u);
      EXPECT_EQ(r.hexViews[0].last, 0x7FFFu);
    }
  }
}

TEST_F(ImageBufferTest, SmallFileForALargerEepromUsesTheWholeChip) {
  ChipParams chip = Chip(0xA0, 0x8000);
  ResetChipRange(image, chip);
  std::memset(image.Data.get(), 0x11, 1024);
  image.FileStart = 0;
  image.FileEnd = 1023;
  RecomputeImage(image, chip, true, false, report);
  EXPECT_EQ(image.ChipEnd, 0x7FFFu);
  const uint32_t chipSum = 1024 * 0x11 + (0x8000 - 1024) * 0xFF;
  EXPECT_EQ(image.AccSum16, static_cast<uint16_t>(0x10000 - (chipSum & 0xFFFF)));
  EXPECT_EQ(image.Crc16, LinkCrc16(image.Data.get(), 0, 0x7FFF));
}

struct SumCase {
  const char* name;
  std::vector<uint8_t> bytes;  // at offset 0, the rest erased
  uint32_t last;
  uint16_t acc;
  uint16_t crc;  // checked when not 0
};
void PrintTo(const SumCase& c, std::ostream* os) { *os << c.name; }

class ChecksumExampleTest : public ImageFixture, public ::testing::WithParamInterface<SumCase> {};

TEST_P(ChecksumExampleTest, AccAndCrcOfTheUsedRange) {
  const SumCase& c = GetParam();
  std::memcpy(image.Data.get(), c.bytes.data(), c.bytes.size());
  UpdateChecksums(image, 0, c.last, report);
  EXPECT_EQ(image.AccSum16, c.acc);
  EXPECT_EQ(report.panel[0], Formatted("ACC CheckSum : 0x%04X", c.acc));
  if (c.crc != 0) {
    EXPECT_EQ(image.Crc16, c.crc);
  }
}

std::vector<uint8_t> Filled(std::size_t count, uint8_t value, std::vector<uint8_t> tail) {
  std::vector<uint8_t> bytes(count, value);
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ChecksumExampleTest,
    ::testing::Values(
        // 0x124 * 0xFF + 0x69 = 0x12345
        SumCase{"SumOf12345", Filled(0x124, 0xFF, {0x69}), 0x124, 0xDCBB, 0},
        // 0x101 * 0xFF + 0x01 = 0x10000: low 16 bits 0
        SumCase{"SumWithZeroLow16Bits", Filled(0x101, 0xFF, {0x01}), 0x101, 0x0000, 0},
        SumCase{"Abc", {'a', 'b', 'c'}, 2, static_cast<uint16_t>(0x10000 - 0x126), 0x2543}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST_F(ImageBufferTest, FileSumCoversTheFileRangeOnly) {
  struct Case {
    uint32_t start, end;
    const char* line;
  };
  image.Data[0x10] = 0x42;
  image.Data[0x11] = 0x01;
  for (const Case& c : {Case{kNoFileStart, kNoFileEnd, "I File ACC CheckSum  = 0x00000000."},
                        // One byte is a file too.
                        Case{0x10, 0x10, "I File ACC CheckSum  = 0x00000042."},
                        Case{0x10, 0x11, "I File ACC CheckSum  = 0x00000043."}}) {
    test::RecordingReport r;
    image.FileStart = c.start;
    image.FileEnd = c.end;
    UpdateChecksums(image, 0, 0, r);
    EXPECT_EQ(r.log[0], c.line);
  }
}

TEST_F(ImageBufferTest, RangesBeyondTheImageAreCutAtItsEnd) {
  // A damaged range (as a project file could bring) must not read past the
  // image: everything is summed up to its last byte.
  image.FileStart = 0;
  image.FileEnd = 0xFFFFFFFF;
  image.ChipStart = 0;
  image.ChipEnd = 0xFFFFFFFF;
  UpdateChecksums(image, 0, 0xFFFFFFFF, report);
  const uint32_t whole = static_cast<uint32_t>(uint64_t{0xFF} * kImageCapacity);
  EXPECT_EQ(report.log[0], Formatted("I File ACC CheckSum  = 0x%08X.", whole));
  EXPECT_EQ(report.log[1], Formatted("I Chip ACC CheckSum  = 0x%08X.", whole));

  ChipParams chip = Chip(0x00, 0);
  TrimChipEnd(image, chip, report);
  EXPECT_EQ(image.ChipEnd, 0xFFFu);  // nothing but erased bytes up to the end
}

TEST_F(ImageBufferTest, CrcCoversUsedRangesBeyond16Mib) {
  ChipParams chip = Chip(0x00, 0x2000000);  // 32 MiB flash
  ResetChipRange(image, chip);
  image.Data[0x1800000] = 0x00;
  RecomputeImage(image, chip, true, false, report);
  EXPECT_EQ(image.ChipEnd, 0x1800FFFu);
  EXPECT_EQ(image.Crc16, SerialCrc(image.Data.get(), 0, 0x1800FFF));
  EXPECT_NE(image.Crc16, 0);
}

TEST_F(ImageBufferTest, DataFlashFileIsRearrangedIntoMainAndSpareAreas) {
  ChipParams chip = Chip(kFamilyDataFlash528, 0x210000);
  ResetChipRange(image, chip);
  // The file in the chip's page order: 528 bytes per page, main then spare.
  auto mainByte = [](uint32_t p, uint32_t i) { return static_cast<uint8_t>(p * 7 + i); };
  auto spareByte = [](uint32_t p, uint32_t j) { return static_cast<uint8_t>(0x80 ^ (p * 3 + j * 11)); };
  for (uint32_t p = 0; p < kDataFlashPages; ++p) {
    for (uint32_t i = 0; i < 512; ++i) image.Data[p * 528 + i] = mainByte(p, i);
    for (uint32_t j = 0; j < 16; ++j) image.Data[p * 528 + 512 + j] = spareByte(p, j);
  }
  image.FileStart = 0;
  image.FileEnd = 0x20FFFF;
  RecomputeAfterLoad(image, chip, true, false, report);
  for (uint32_t p = 0; p < kDataFlashPages; ++p) {
    for (uint32_t i = 0; i < 512; ++i) ASSERT_EQ(image.Data[p * 512 + i], mainByte(p, i)) << p << " " << i;
    for (uint32_t j = 0; j < 16; ++j) ASSERT_EQ(image.Data[0x200000 + p * 16 + j], spareByte(p, j)) << p << " " << j;
  }
  EXPECT_EQ(image.ChipEnd, 0x20FFFFu);  // no trimming for this family
  EXPECT_EQ(image.Crc16, LinkCrc16(image.Data.get(), 0, 0x20FFFF));
  ASSERT_EQ(report.hexViews.size(), 1u);
  EXPECT_EQ(report.hexViews[0].last, 0x20FFFFu);
  // The four address lines come whatever the chip state, with no blank line
  // after them.
  EXPECT_EQ(report.log[0], "P  ");
  EXPECT_EQ(report.log[3], "I 目标芯片首地址 = 0x000000.");
  EXPECT_EQ(report.log[4], "I 目标芯片尾地址 = 0x20FFFF.");
  EXPECT_EQ(report.log[5], Formatted("I File ACC CheckSum  = 0x%08X.", ByteSum32(image.Data.get(), 0, 0x20FFFF)));
  EXPECT_EQ(report.busy, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace velkor
