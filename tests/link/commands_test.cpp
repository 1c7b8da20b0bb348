#include "link/commands.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "link/checksum.hpp"
#include "platform/text_encoding.hpp"

namespace velkor {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Packet(const std::array<uint8_t, LinkChannel::kPacketCapacity>& buffer, std::size_t length) {
  return Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length));
}

uint16_t Get16(const Bytes& p, std::size_t at) { return static_cast<uint16_t>(p[at] | (p[at + 1] << 8)); }
uint32_t Get32(const Bytes& p, std::size_t at) {
  return static_cast<uint32_t>(p[at] | (p[at + 1] << 8) | (p[at + 2] << 16) | (uint32_t{p[at + 3]} << 24));
}

bool CheckValueIsRight(const Bytes& p) {
  return LinkCrc16(p.data(), 0, static_cast<uint32_t>(p.size() - 3)) == Get16(p, p.size() - 2);
}

class CommandsTest : public ::testing::Test {
 protected:
  CommandsTest() {
    chip.Family = 0x05;
    chip.SubType = 0x01;
    chip.Size = 0x200000;
    chip.SizeKB = 0x800;
    chip.PageSize = 0x0100;
    chip.AddrStyle = 0x02;
    chip.EraseTime = 2200;
    chip.IdByte1 = 0xC2;
    chip.IdByte2 = 0x15;
    chip.StatusBytes = {1, 2, 3, 4, 5, 6, 7, 8};
    chip.DeviceAddress = 0xA2;
    chip.EepromProtect = 0x0C;
    chip.ReservedWord1 = 0x1234;
    chip.ReservedWord2 = 0x5678;
    chip.ReservedByte1 = 0x9A;
    chip.ReservedByte2 = 0xBC;
    chip.ReservedByte3 = 0xDE;
    job.LatchedMode = 0x10;
    job.AutoDetect = 0x0F;
    job.OpFlags = 0x13;
    job.OptionBits = 0x44;
    job.ClockCode = 5;
    job.SnEnable = 0x0F;
    job.SnStep = 3;
    job.SnValue = 0x1000;
    job.SnAddress = 0xFFF0;
    job.LimitOn = 0x0F;
    job.LimitCount = 1000;
    job.PowerUpTime = 10;
    job.SettleTime = 100;
    job.RemoveTime = 246;
  }

  std::array<uint8_t, LinkChannel::kPacketCapacity> buffer{};
  ChipParams chip;
  JobSettings job;
  ImageChecksums sums{0xBEEF, 0xCAFE};
};

TEST_F(CommandsTest, FinishDownloadIsTheSameForEveryChip) {
  const std::size_t n = BuildFinish(buffer, kCmdFinishDownload);
  EXPECT_EQ(Packet(buffer, n), (Bytes{0x8A, 0x52, 0x45, 0x53, 0x54, 0xA8, 0x02, 0x00, 0x00, 0x00, 0xCD, 0x02}));
  const std::size_t m = BuildFinish(buffer, kCmdFinishAutoRun);
  ASSERT_EQ(m, 12u);
  EXPECT_EQ(buffer[0], 0x86);
  EXPECT_TRUE(CheckValueIsRight(Packet(buffer, m)));
}

TEST_F(CommandsTest, BlankCheckIs58BytesWithTheParameterBlock) {
  chip.PageSize = 0x0100;
  const Bytes p = Packet(buffer, BuildChipCommand(buffer, kCmdChipOperation, kSubOpBlankCheck, chip, job, sums));
  ASSERT_EQ(p.size(), 58u);
  EXPECT_EQ(Bytes(p.begin(), p.begin() + 8), (Bytes{0x93, 0x35, 0x00, 0x00, 0x05, 0x01, 0x30, 0x00}));
  EXPECT_TRUE(CheckValueIsRight(p));
  // The parameter block, field by field.
  const Bytes expected{0x00, 0x10, 0x02, 0x20, 0x05, 0x01, 0x00, 0x0F,  // 0x08
                       0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x98, 0x08,  // 0x10 page size, zeros, erase time
                       0x00, 0x00, 0x20, 0x00, 0x00, 0x08, 0xA2, 0x13,  // 0x18 size, size KB, address, op flags
                       0x44, 0x05, 0xEF, 0xBE, 0xFE, 0xCA, 0xC2, 0x15,  // 0x20 options, clock, CRC, ACC, ids
                       1,    2,    3,    4,    5,    6,    7,    8,     // 0x28 status bytes
                       0x34, 0x12, 0x0C, 0xDE, 0x78, 0x56, 0x9A, 0xBC};  // 0x30 reserved, protection
  EXPECT_EQ(Bytes(p.begin() + 8, p.begin() + 56), expected);
}

TEST_F(CommandsTest, StartDownloadCarriesTextsIncrementsAndInnerChecks) {
  const RandomSource highest = [](uint32_t max) { return max; };
  struct Case {
    int channel;
    uint8_t devices;
    uint16_t increment;
    uint32_t firstSerial;
  };
  for (const Case& k : {Case{1, 1, 3, 0x1000}, Case{2, 2, 6, 0x1003}, Case{1, 2, 6, 0x1000}}) {
    const std::string longPath(60, 'p');
    const Bytes p = Packet(
        buffer, BuildStartDownload(buffer, k.channel, chip, job, sums, k.devices, {"", longPath}, highest));
    ASSERT_EQ(p.size(), 270u);
    EXPECT_EQ(Bytes(p.begin(), p.begin() + 8), (Bytes{0x53, 0x00, 0x00, 0x20, 0x05, 0x01, 0x04, 0x01}));
    EXPECT_EQ(Bytes(p.begin() + 8, p.begin() + 12), (Bytes{'N', 'Q', 'K', 'V'}));
    EXPECT_EQ(Get16(p, 0x3E), k.increment);
    EXPECT_EQ(Get32(p, 0x44), k.firstSerial);
    EXPECT_EQ(Get32(p, 0x40), 0xFFF0u);
    EXPECT_EQ(p[0x5C], '?');
    EXPECT_EQ(Bytes(p.begin() + 0x5D, p.begin() + 0x6C), Bytes(15, 0));
    EXPECT_EQ(Bytes(p.begin() + 0x6C, p.begin() + 0x9C), Bytes(48, 'p'));
    EXPECT_EQ(Bytes(p.begin() + 0x101, p.begin() + 0x108), Bytes(7, 0));
    EXPECT_EQ(p[0x12], 254);
    EXPECT_EQ(Get16(p, 0x16), 65534);
    EXPECT_EQ(p[0x9C], 254);
    EXPECT_EQ(Get16(p, 0x108), LinkCrc16(p.data(), 0x08, 0x107));
    const uint16_t sum = static_cast<uint16_t>(std::accumulate(p.begin() + 0x08, p.begin() + 0x10A, 0u));
    EXPECT_EQ(Get16(p, 0x10A), sum);
    EXPECT_TRUE(CheckValueIsRight(p));
    // The parameter block is the chip command's, four bytes further on.
    EXPECT_EQ(Get32(p, 0x1C), chip.Size);
    EXPECT_EQ(p[0x22], chip.DeviceAddress);
    EXPECT_EQ(p[0x3B], chip.ReservedByte2);
    EXPECT_EQ(p[0x4C], 0x0F);
    EXPECT_EQ(Get32(p, 0x4E), 1000u);
    EXPECT_EQ(Get16(p, 0x54), 246);
  }
}

TEST_F(CommandsTest, UsedSizesOf64MiBAndMoreCarryTheirHighBitsOnlyWithExtendedAddressing) {
  const RandomSource lowest = [](uint32_t) { return 0u; };
  struct Case {
    uint32_t sizeKB;
    uint16_t low, high;
  };
  chip.Size = 0x8000000;
  for (const bool extended : {false, true}) {
    job.ExtendedAddressing = extended;
    for (const Case& k : {Case{0x800, 0x800, 0}, Case{0x10000, 0, 1}, Case{0x19004, 0x9004, 1}, Case{0x20000, 0, 2}}) {
      SCOPED_TRACE(::testing::Message() << k.sizeKB << (extended ? " extended" : " plain"));
      chip.SizeKB = k.sizeKB;
      const uint16_t high = extended ? k.high : 0;
      const Bytes read = Packet(buffer, BuildChipCommand(buffer, kCmdReadStream, 0, chip, job, sums));
      EXPECT_EQ(Get16(read, 0x1C), k.low);
      EXPECT_EQ(Get16(read, 0x14), high);
      EXPECT_EQ(Get16(read, 0x12), 0) << "the first two spare bytes stay zero";
      const Bytes start = Packet(buffer, BuildStartDownload(buffer, 1, chip, job, sums, 1, {"", ""}, lowest));
      EXPECT_EQ(Get16(start, 0x20), k.low);
      EXPECT_EQ(Get16(start, 0x18), high);
    }
  }
}

TEST_F(CommandsTest, StartDownloadRandomFieldsChangeFromPacketToPacket) {
  const RandomSource random = MakeRandomSource();
  const Bytes a = Packet(buffer, BuildStartDownload(buffer, 1, chip, job, sums, 1, {"W25x64xx", "f.hex"}, random));
  const Bytes b = Packet(buffer, BuildStartDownload(buffer, 1, chip, job, sums, 1, {"W25x64xx", "f.hex"}, random));
  EXPECT_NE(Bytes(a.begin() + 0x9C, a.begin() + 0x101), Bytes(b.begin() + 0x9C, b.begin() + 0x101));
  for (std::size_t i = 0x9C; i <= 0x100; ++i) EXPECT_NE(a[i], 0xFF);
  EXPECT_EQ(std::string(a.begin() + 0x5C, a.begin() + 0x64), "W25x64xx");
}

class BlockCommandsTest : public CommandsTest {
 protected:
  BlockCommandsTest() : image(136314881 / 64) {
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 31 + (i >> 12));
  }
  Bytes image;
};

TEST_F(BlockCommandsTest, DownloadBlockCarriesFourKilobytesFromItsPosition) {
  const Bytes p = Packet(buffer, BuildDownloadBlock(buffer, 2044, chip, image));
  ASSERT_EQ(p.size(), 4106u);
  EXPECT_EQ(Bytes(p.begin(), p.begin() + 8), (Bytes{0x55, 0xFC, 0x07, 0x00, 0x05, 0x01, 0x00, 0x10}));
  EXPECT_EQ(Bytes(p.begin() + 8, p.end() - 2), Bytes(image.begin() + 2044 * 1024, image.begin() + 2048 * 1024));
  EXPECT_TRUE(CheckValueIsRight(p));
}

TEST_F(BlockCommandsTest, PositionsFrom64MiBUpCarryTheirHighBitsAndTheirOwnData) {
  Bytes big(128u * 1024 * 1024, 0);
  for (std::size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<uint8_t>(i >> 26);  // 0 below 64 MiB, 1 above
  const uint32_t upper = 65536 + 4;
  const Bytes p = Packet(buffer, BuildDownloadBlock(buffer, upper, chip, big));
  ASSERT_EQ(p.size(), 4106u);
  EXPECT_EQ(Get16(p, 1), 4);
  EXPECT_EQ(p[3], 1) << "the position's bits above 16 travel in the flags byte";
  EXPECT_EQ(p[8], 1) << "the data comes from the upper half";

  // Blocks with a parameter block send such a position only with extended
  // addressing; without it nothing is built rather than another block.
  EXPECT_EQ(BuildChipCommand(buffer, kCmdReadBlock, 131068, chip, job, sums), 0u);
  EXPECT_EQ(BuildProgramBlock(buffer, upper, chip, job, sums, big), 0u);
  job.ExtendedAddressing = true;
  const Bytes last = Packet(buffer, BuildChipCommand(buffer, kCmdReadBlock, 131068, chip, job, sums));
  EXPECT_EQ(Get16(last, 1), 131068 & 0xFFFF);
  EXPECT_EQ(last[3], 1);
  const Bytes programmed = Packet(buffer, BuildProgramBlock(buffer, upper, chip, job, sums, big));
  EXPECT_EQ(Get16(programmed, 1), 4);
  EXPECT_EQ(programmed[3], 1);
  EXPECT_EQ(programmed[0x38], 1) << "the data comes from the upper half";
  const Bytes operation = Packet(buffer, BuildChipCommand(buffer, kCmdChipOperation, kSubOpVerify, chip, job, sums));
  EXPECT_EQ(operation[3], 0);
}

TEST_F(BlockCommandsTest, ProgramBlockOfPageFlashInterleavesDataAndSpareBytes) {
  chip.Family = kFamilyDataFlash528;
  const Bytes p = Packet(buffer, BuildProgramBlock(buffer, 4, chip, job, sums, image));
  ASSERT_EQ(p.size(), 4282u);
  EXPECT_EQ(Get16(p, 6), 0x10B0);
  for (std::size_t page = 0; page < 8; ++page) {
    const auto at = p.begin() + 0x38 + static_cast<std::ptrdiff_t>(page * 528);
    EXPECT_EQ(Bytes(at, at + 512), Bytes(image.begin() + static_cast<std::ptrdiff_t>(4096 + page * 512),
                                         image.begin() + static_cast<std::ptrdiff_t>(4096 + page * 512 + 512)));
    const auto spare = image.begin() + static_cast<std::ptrdiff_t>(0x200000 + 128 + page * 16);
    EXPECT_EQ(Bytes(at + 512, at + 528), Bytes(spare, spare + 16));
  }
  EXPECT_TRUE(CheckValueIsRight(p));
}

TEST_F(BlockCommandsTest, ProgramBlockOfOtherFamiliesFollowsTheParameterBlock) {
  const Bytes p = Packet(buffer, BuildProgramBlock(buffer, 8, chip, job, sums, image));
  ASSERT_EQ(p.size(), 4154u);
  EXPECT_EQ(Get16(p, 6), 0x1030);
  EXPECT_EQ(p[0x0C], chip.Family);
  EXPECT_EQ(Bytes(p.begin() + 0x38, p.end() - 2), Bytes(image.begin() + 8192, image.begin() + 12288));
}

TEST_F(BlockCommandsTest, BlocksBeyondTheImageAreRefused) {
  const uint32_t pastEnd = static_cast<uint32_t>(image.size() / 1024);
  EXPECT_EQ(BuildDownloadBlock(buffer, pastEnd, chip, image), 0u);
  EXPECT_EQ(BuildProgramBlock(buffer, pastEnd, chip, job, sums, image), 0u);
}

TEST(TextEncodingTest, ChipCaptionsRoundTripThroughGbk) {
  const std::string caption = "1M Bits(1M位)";
  const std::string gbk = Utf8ToGbk(caption);
  EXPECT_EQ(gbk, std::string("1M Bits(1M\xCE\xBB)"));
  EXPECT_EQ(GbkToUtf8(gbk), caption);
  EXPECT_EQ(Utf8ToGbk("ok \xF0\x9F\x98\x80!"), "ok ?!") << "a character GBK lacks becomes '?'";
  EXPECT_EQ(GbkPrefix(gbk, 11), "1M Bits(1M") << "the double-byte character is not cut in two";
  EXPECT_EQ(GbkPrefix(gbk, 12), gbk.substr(0, 12));
}

}  // namespace
}  // namespace velkor
