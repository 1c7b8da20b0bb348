// The simulated programmer's commands, driven with the host's own packets.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "host_packets.hpp"
#include "link/checksum.hpp"
#include "sim/identification.hpp"

namespace velkor::sim {
namespace {

using namespace testing;

constexpr uint8_t kFlash = 0x05;
constexpr uint8_t kI2cEeprom = 0xA0;
constexpr uint8_t kSensor = 0xD0;

std::vector<uint8_t> Erased(std::size_t n) { return std::vector<uint8_t>(n, 0xFF); }

// The image bytes a program block carries, as the packet holds them.
std::vector<uint8_t> BlockData(const Packet& programBlock) {
  return std::vector<uint8_t>(programBlock.begin() + 8 + kParamHeaderLength, programBlock.end() - 2);
}

TEST(ChipCommands, BlankCheckSeesEveryWrittenByteAndEraseClearsThem) {
  struct Case {
    const char* name;
    ChipParams chip;
    uint32_t position;
    std::size_t byte;  // within the image block; -1: program nothing
    bool erase;
    unsigned blank;
  };
  const ChipParams pageFlash = PageFlashChip();
  const Case cases[] = {
      {"fresh flash", Chip(kFlash, 64 << 10), 0, SIZE_MAX, false, 0x00},
      {"one byte programmed", Chip(kFlash, 64 << 10), 60, 4095, false, 0x15},
      {"programmed, then erased", Chip(kFlash, 64 << 10), 8, 0, true, 0x00},
      {"EEPROM byte written", Chip(kI2cEeprom, 256), 0, 255, false, 0x15},
      {"page flash spare byte written", pageFlash, 8, 0x200000 + 8 * 32 + 7 * 16 + 15, false, 0x15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModelHarness programmer;
    std::vector<uint8_t> image = Erased(0x210000);
    if (c.byte != SIZE_MAX) {
      image[c.byte < 0x200000 ? c.position * 1024 + c.byte : c.byte] = 0x7E;
      ASSERT_EQ(programmer.Status(ProgramBlock(c.position, c.chip, image)), 0x00u);
    }
    if (c.erase) {
      EXPECT_EQ(programmer.Status(ChipCommand(kCmdChipOperation, kSubOpErase, c.chip)), 0x00u);
    }
    EXPECT_EQ(programmer.Status(ChipCommand(kCmdChipOperation, kSubOpBlankCheck, c.chip)), c.blank);
  }
}

TEST(ChipCommands, ProgrammingClearsBitsOnFlashAndOverwritesEeprom) {
  struct Case {
    const char* name;
    ChipParams chip;
    uint32_t position;
    bool flash;
  };
  const Case cases[] = {
      {"flash", Chip(kFlash, 64 << 10), 8, true},
      {"I2C EEPROM", Chip(kI2cEeprom, 32 << 10), 4, false},
      {"sensor EEPROM, smaller than a block", Chip(kSensor, 512), 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModelHarness programmer;
    std::vector<uint8_t> first = Erased(64 << 10);
    std::vector<uint8_t> second = Erased(64 << 10);
    const std::vector<uint8_t> a = Pattern(kBlockBytes, 1);
    const std::vector<uint8_t> b = Pattern(kBlockBytes, 2);
    std::copy(a.begin(), a.end(), first.begin() + c.position * 1024);
    std::copy(b.begin(), b.end(), second.begin() + c.position * 1024);
    ASSERT_EQ(programmer.Status(ProgramBlock(c.position, c.chip, first)), 0x00u);
    ASSERT_EQ(programmer.Status(ProgramBlock(c.position, c.chip, second)), 0x00u);

    std::vector<uint8_t> expected(kBlockBytes);
    for (std::size_t i = 0; i < kBlockBytes; ++i) expected[i] = c.flash ? a[i] & b[i] : b[i];
    // Bytes past a small chip's end are not kept and read as erased.
    const std::size_t kept = std::min<std::size_t>(kBlockBytes, c.chip.Size - c.position * 1024);
    std::fill(expected.begin() + static_cast<std::ptrdiff_t>(kept), expected.end(), 0xFF);
    EXPECT_EQ(programmer.Data(ChipCommand(kCmdReadBlock, c.position, c.chip)), expected);
    if (c.position > 0) {
      EXPECT_EQ(programmer.Data(ChipCommand(kCmdReadBlock, c.position - 4, c.chip)), Erased(kBlockBytes))
          << "the block before was touched";
    }
  }
}

TEST(ChipCommands, VerifyComparesTheChipWithTheHostsChecksums) {
  const std::vector<uint8_t> image = Pattern(16 << 10, 3);
  struct Case {
    const char* name;
    ChipParams chip;
    uint32_t sizeKB;      // the host's used range
    uint32_t summedBytes; // what the host's checksums cover
    int crcError, accError;
    unsigned status;
  };
  const Case cases[] = {
      {"whole chip", Chip(kFlash, 16 << 10), 16, 16 << 10, 0, 0, 0x00},
      {"CRC one off", Chip(kFlash, 16 << 10), 16, 16 << 10, 1, 0, 0x31},
      {"ACC one off", Chip(kFlash, 16 << 10), 16, 16 << 10, 0, 1, 0x31},
      {"shorter used range", Chip(kFlash, 16 << 10), 8, 8 << 10, 0, 0, 0x00},
      {"shorter used range, whole image summed", Chip(kFlash, 16 << 10), 8, 16 << 10, 0, 0, 0x31},
      {"EEPROM below 1 KB: the whole chip", Chip(kI2cEeprom, 128), 0, 128, 0, 0, 0x00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModelHarness programmer;
    for (uint32_t position = 0; position * 1024 < c.chip.Size; position += 4)
      ASSERT_EQ(programmer.Status(ProgramBlock(position, c.chip, image)), 0x00u);
    ChipParams chip = c.chip;
    chip.SizeKB = c.sizeKB;
    ImageChecksums sums = HostChecksums(image, c.summedBytes);
    sums.Crc16 = static_cast<uint16_t>(sums.Crc16 + c.crcError);
    sums.AccSum16 = static_cast<uint16_t>(sums.AccSum16 + c.accError);
    EXPECT_EQ(programmer.Status(ChipCommand(kCmdChipOperation, kSubOpVerify, chip, sums)), c.status);
  }
}

TEST(ChipCommands, PageFlashBlocksKeepTheChipsOwnLayout) {
  const ChipParams chip = PageFlashChip();
  // The host's image: data areas from 0, spare areas from 0x200000. Only
  // the block at 4 KB holds anything.
  std::vector<uint8_t> image = Erased(kDataFlashPages * kDataFlashPageSize);
  const std::vector<uint8_t> data = Pattern(kBlockBytes, 4);
  const std::vector<uint8_t> spare = Pattern(8 * kDataFlashSpareSize, 5);
  std::copy(data.begin(), data.end(), image.begin() + 4 * 1024);
  std::copy(spare.begin(), spare.end(), image.begin() + kDataFlashSpareBase + 4 * 32);

  ModelHarness programmer;
  const Packet program = ProgramBlock(4, chip, image);
  ASSERT_EQ(program.size(), 4282u);
  ASSERT_EQ(programmer.Status(program), 0x00u);

  // Read back: the same eight pages of 528 bytes, page by page.
  const std::vector<uint8_t> pages = programmer.Data(ChipCommand(kCmdReadBlock, 4, chip));
  ASSERT_EQ(pages.size(), 8 * kDataFlashPageSize);
  EXPECT_EQ(pages, BlockData(program));
  EXPECT_EQ(pages[kDataFlashMainSize], spare[0]) << "page 0's spare bytes follow its 512 data bytes";
  EXPECT_EQ(programmer.Data(ChipCommand(kCmdReadBlock, 0, chip)), Erased(8 * kDataFlashPageSize));

  // The chip's verify lays its pages out as the host's image does.
  ChipParams used = chip;
  used.SizeKB = chip.Size / 1024;
  EXPECT_EQ(programmer.Status(ChipCommand(kCmdChipOperation, kSubOpVerify, used, HostChecksums(image, chip.Size))),
            0x00u);

  // 4096 pages hold 2048 KB of data: the last block starts at 2044 KB.
  EXPECT_EQ(programmer.Data(ChipCommand(kCmdReadBlock, 2044, chip)).size(), 8 * kDataFlashPageSize);
  EXPECT_EQ(programmer.Status(ChipCommand(kCmdReadBlock, 2048, chip)), 0x45u);
  image.resize(0x220000, 0xFF);  // room for the spare bytes of the block at 2048 KB
  EXPECT_EQ(programmer.Status(ProgramBlock(2048, chip, image)), 0x45u);
  EXPECT_EQ(programmer.Counters().positionsOutOfRange, 2u);
}

TEST(ChipCommands, BlockAbove64MiBLandsAtItsOwnAddress) {
  LargeImage image(128u << 20);
  ASSERT_TRUE(image.Mapped());
  std::fill_n(image.Bytes().begin(), 128u << 20, 0xFF);
  const ChipParams chip = Chip(kFlash, 128u << 20);
  constexpr uint32_t kUpper = 65536 + 8;  // KB
  const std::vector<uint8_t> data = Pattern(kBlockBytes, 6);
  std::copy(data.begin(), data.end(), image.Bytes().begin() + uint64_t{kUpper} * 1024);

  ModelHarness programmer;
  const Packet program = ProgramBlock(kUpper, chip, image.Bytes());
  ASSERT_EQ(program[3], 0x01) << "the host carries position bit 16 in the flags byte";
  ASSERT_EQ(programmer.Status(program), 0x00u);
  EXPECT_EQ(programmer.Data(ChipCommand(kCmdReadBlock, kUpper, chip)), data);
  EXPECT_EQ(programmer.Data(ChipCommand(kCmdReadBlock, kUpper - 65536, chip)), Erased(kBlockBytes))
      << "the block landed in the lower half";
  EXPECT_EQ(programmer.Model().Chip().Memory().PagesHeld(), 1u) << "an unwritten chip must cost nothing";

  EXPECT_EQ(programmer.Data(ChipCommand(kCmdReadBlock, 131068, chip)).size(), kBlockBytes);
  EXPECT_EQ(programmer.Status(ChipCommand(kCmdReadBlock, 131072, chip)), 0x45u);
}

TEST(ChipCommands, GivenContentIsInEveryFreshChipAndUsedRangesAbove64MiBAreSummedWhole) {
  // 100 MiB used: the used size's low 16 bits alone would say 36 MiB.
  constexpr uint32_t kUsedKB = 100 * 1024;
  constexpr uint64_t kLastBlock = uint64_t{kUsedKB - 4} * 1024;
  ProgrammerOptions options;
  options.chipContents = {ChipContent{kLastBlock, Pattern(kBlockBytes, 9)}};
  const std::vector<uint8_t>& content = options.chipContents[0].bytes;
  ModelHarness programmer(options);

  LargeImage image(128u << 20);
  ASSERT_TRUE(image.Mapped());
  std::fill_n(image.Bytes().begin(), 128u << 20, 0xFF);
  std::copy(content.begin(), content.end(), image.Bytes().begin() + kLastBlock);
  ChipParams chip = Chip(kFlash, 128u << 20);
  chip.SizeKB = kUsedKB;
  const Packet verify = ChipCommand(kCmdChipOperation, kSubOpVerify, chip, HostChecksums(image.Bytes(), kUsedKB * 1024));
  ASSERT_EQ(verify[0x14], 0x01) << "the used size's bit 16 rides in the parameter block";
  EXPECT_EQ(programmer.Status(verify), 0x00u);
  EXPECT_EQ(programmer.Data(ChipCommand(kCmdReadBlock, kUsedKB - 4, chip)), content);

  // Another chip in the socket holds the same content; an erase clears it.
  const ChipParams small = Chip(kFlash, 64 << 10);
  EXPECT_EQ(programmer.Status(ChipCommand(kCmdChipOperation, kSubOpBlankCheck, small)), 0x00u)
      << "the content lies beyond this chip's end";
  EXPECT_EQ(programmer.Status(ChipCommand(kCmdChipOperation, kSubOpBlankCheck, chip)), 0x15u);
  EXPECT_EQ(programmer.Status(ChipCommand(kCmdChipOperation, kSubOpErase, chip)), 0x00u);
  EXPECT_EQ(programmer.Status(ChipCommand(kCmdChipOperation, kSubOpBlankCheck, chip)), 0x00u);
}

TEST(ChipCommands, StreamedReadSendsExactlyTheChipsBlocksInOrder) {
  struct Case {
    const char* name;
    ChipParams chip;
    uint32_t sizeKB;
    uint32_t blocks;
  };
  const Case cases[] = {
      {"20 KB", Chip(kFlash, 20 << 10), 20, 5},
      {"used range not a whole block", Chip(kFlash, 64 << 10), 10, 3},
      {"below 1 KB", Chip(kFlash, 128), 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModelHarness programmer;
    const std::vector<uint8_t> image = Pattern(64 << 10, 7);
    for (uint32_t position = 0; position * 1024 < c.chip.Size; position += 4)
      ASSERT_EQ(programmer.Status(ProgramBlock(position, c.chip, image)), 0x00u);
    ChipParams chip = c.chip;
    chip.SizeKB = c.sizeKB;

    const auto blocks = programmer.Send(ChipCommand(kCmdReadStream, 0, chip));
    ASSERT_EQ(blocks.size(), c.blocks);
    std::vector<uint8_t> expected(kBlockBytes);
    for (uint32_t i = 0; i < blocks.size(); ++i) {
      const Packet& b = blocks[i];
      ASSERT_EQ(b.size(), 8 + kBlockBytes + 2);
      EXPECT_EQ(HostCheckReply(b), 0x00);
      EXPECT_EQ(b[0], kCmdReadStream);
      EXPECT_EQ(b[1] | b[2] << 8 | b[3] << 16, static_cast<int>(4 * i)) << "block " << i;
      for (std::size_t k = 0; k < kBlockBytes; ++k) {
        const std::size_t at = 4 * i * 1024 + k;
        expected[k] = at < c.chip.Size ? image[at] : 0xFF;
      }
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), b.begin() + 8)) << "block " << i;
    }
    EXPECT_TRUE(programmer.TakeAll().empty());
    EXPECT_EQ(programmer.Counters().blocksStreamed, c.blocks);
  }
}

TEST(ChipCommands, RequestDuringAStreamedReadEndsIt) {
  ModelHarness programmer;
  const ChipParams chip = Chip(kFlash, 64 << 10);
  programmer.Model().Receive(Frame(ChipCommand(kCmdReadStream, 0, chip)));
  ASSERT_EQ(DecodeFrames(programmer.Model().TakeOutput()).size(), 1u);
  EXPECT_TRUE(programmer.Model().Streaming());

  EXPECT_EQ(programmer.Status(ChipCommand(kCmdChipOperation, kSubOpBlankCheck, chip)), 0x00u);
  EXPECT_FALSE(programmer.Model().Streaming());
  EXPECT_EQ(programmer.Counters().streamsAbandoned, 1u);
  EXPECT_EQ(programmer.Counters().blocksStreamed, 1u);
}

TEST(ChipCommands, ReadIdAndStatusAnswersTheChipsBytes) {
  struct Case {
    const char* name;
    ChipParams chip;
    std::optional<std::array<uint8_t, 2>> id;
    std::array<uint8_t, 2> status;
    std::vector<std::pair<std::size_t, uint8_t>> bytes;  // payload offset, value
  };
  const Case cases[] = {
      {"the ID the host expects", Chip(kFlash, 64 << 10), std::nullopt, {0x00, 0x00},
       {{0, 0xC8}, {1, 0x40}, {4, 0x00}, {5, 0x00}}},
      {"IDs and status set by options", Chip(kFlash, 64 << 10), std::array<uint8_t, 2>{0xEF, 0x17}, {0x02, 0x80},
       {{0, 0xEF}, {1, 0x17}, {4, 0x02}, {5, 0x80}}},
      {"SPI EEPROM: status and identification page", Chip(kFamilySpiEeprom, 8 << 10), std::nullopt, {0x8C, 0x00},
       {{0, 0x8C}, {2, 0x00}, {3, 0x01}, {129, 0x7F}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgrammerOptions options;
    options.chipId = c.id;
    options.chipStatus = c.status;
    ModelHarness programmer(options);
    const std::vector<uint8_t> payload = programmer.Data(ChipCommand(kCmdChipOperation, kSubOpReadIdAndStatus, c.chip));
    ASSERT_EQ(payload.size(), 130u) << "the host reads up to payload byte 129";
    for (const auto& [offset, value] : c.bytes) EXPECT_EQ(payload[offset], value) << "payload byte " << offset;
  }
}

// Makes the start packet's inner check values fit its payload again.
void ResealStart(Packet& packet) {
  const uint16_t inner = LinkCrc16(packet.data(), 0x08, 0x107);
  packet[0x108] = static_cast<uint8_t>(inner);
  packet[0x109] = static_cast<uint8_t>(inner >> 8);
  uint16_t sum = 0;
  for (std::size_t i = 0x08; i <= 0x109; ++i) sum = static_cast<uint16_t>(sum + packet[i]);
  packet[0x10A] = static_cast<uint8_t>(sum);
  packet[0x10B] = static_cast<uint8_t>(sum >> 8);
  Reseal(packet);
}

TEST(ChipCommands, StartDownloadChecksItsInnerCheckValues) {
  const ChipParams chip = Chip(kFlash, 16 << 10);
  struct Case {
    const char* name;
    void (*change)(Packet&);
    unsigned status;
    uint32_t ModelCounters::*counter;
  };
  const Case cases[] = {
      {"as the host builds it", [](Packet&) {}, 0x00, nullptr},
      {"a chip-name byte changed",
       [](Packet& p) {
         p[0x5C] ^= 0x20;
         Reseal(p);
       },
       0x23, &ModelCounters::startCheckErrors},
      {"inner check value refitted, sum not",
       [](Packet& p) {
         p[0x5C] ^= 0x20;
         const uint16_t inner = LinkCrc16(p.data(), 0x08, 0x107);
         p[0x108] = static_cast<uint8_t>(inner);
         p[0x109] = static_cast<uint8_t>(inner >> 8);
         Reseal(p);
       },
       0x23, &ModelCounters::startCheckErrors},
      {"another signature",
       [](Packet& p) {
         p[0x08] = 'M';
         ResealStart(p);
       },
       0x20, &ModelCounters::startSignatureErrors},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModelHarness programmer;
    Packet start = StartDownload(chip, JobSettings{}, {"CHIP", "image.bin"});
    c.change(start);
    EXPECT_EQ(programmer.Status(start), c.status);
    EXPECT_EQ(programmer.Model().Job().has_value(), c.status == 0x00);
    if (c.counter) {
      EXPECT_EQ(programmer.Counters().*c.counter, 1u);
    }
  }
}

TEST(ChipCommands, DownloadStoresTheJobAndItsBlocks) {
  const ChipParams chip = Chip(kI2cEeprom, 16 << 10, 0x03);
  JobSettings job;
  job.SnEnable = 0x0F;
  job.SnStep = 3;
  job.SnValue = 1000;
  job.SnAddress = 0x100;
  job.LimitOn = 0x0F;
  job.LimitCount = 500;
  job.PowerUpTime = 7;
  job.SettleTime = 40;
  job.RemoveTime = 60;
  job.OpFlags = 0x09;
  const std::vector<uint8_t> image = Pattern(16 << 10, 8);

  ModelHarness programmer;
  // Programmer 2 of two: the increment covers both, its first number is one step up.
  ASSERT_EQ(programmer.Status(StartDownload(chip, job, {"AT24C128", "/data/eeprom image.hex"}, 2, 2)), 0x00u);
  for (uint32_t position = 0; position < 16; position += 4)
    EXPECT_EQ(programmer.Status(DownloadBlock(position, chip, image)), 0x00u);
  EXPECT_TRUE(programmer.Send(Finish(kCmdFinishDownload)).empty());

  const auto& stored = programmer.Model().Job();
  ASSERT_TRUE(stored.has_value());
  EXPECT_TRUE(stored->complete);
  const StartPacketJob& s = stored->settings;
  EXPECT_EQ(s.chipName, "AT24C128");
  EXPECT_EQ(s.fileName, "/data/eeprom image.hex");
  EXPECT_EQ(s.parameters.chip.Family, kI2cEeprom);
  EXPECT_EQ(s.parameters.chip.SubType, 0x03);
  EXPECT_EQ(s.parameters.chip.Size, 16u << 10);
  EXPECT_EQ(s.parameters.job.OpFlags, 0x09);
  EXPECT_EQ(s.parameters.job.SnEnable, 0x0F);
  EXPECT_EQ(s.parameters.job.SnStep, 6);
  EXPECT_EQ(s.parameters.job.SnValue, 1003u);
  EXPECT_EQ(s.parameters.job.SnAddress, 0x100u);
  EXPECT_EQ(s.parameters.job.LimitOn, 0x0F);
  EXPECT_EQ(s.parameters.job.LimitCount, 500u);
  EXPECT_EQ(s.parameters.job.PowerUpTime, 7);
  EXPECT_EQ(s.parameters.job.SettleTime, 40);
  EXPECT_EQ(s.parameters.job.RemoveTime, 60);
  std::vector<uint8_t> held(16 << 10);
  stored->image.Read(0, held);
  EXPECT_EQ(held, image);
  EXPECT_EQ(programmer.Counters().downloadsCompleted, 1u);

  // The programmer now reports the job's serial-number settings.
  const auto replies = programmer.SendBytes(kQueryFrame);
  ASSERT_EQ(replies.size(), 1u);
  const Packet& id = replies[0];
  const std::size_t L = id.size();
  EXPECT_EQ(id[L - 59], 1);
  EXPECT_EQ(id[L - 57] | id[L - 56] << 8, 6);
  EXPECT_EQ(id[L - 51] | id[L - 50] << 8, 1003);

  // A block past the job's chip is refused.
  EXPECT_EQ(programmer.Status(DownloadBlock(16, chip, Pattern(32 << 10, 9))), 0x45u);
}

TEST(ChipCommands, FinishingCommandsAreCountedButNeverAnswered) {
  ModelHarness programmer;
  Packet damaged = Finish(kCmdFinishAutoRun);
  damaged[1] = 'r';
  Reseal(damaged);
  Packet badCheck = Finish(kCmdFinishAutoRun);
  badCheck.back() ^= 0x40;
  for (const Packet& p :
       {Finish(kCmdFinishAutoRun), Finish(kCmdFinishAutoRun), damaged, badCheck, Finish(kCmdFinishDownload)})
    EXPECT_TRUE(programmer.Send(p).empty());
  EXPECT_EQ(programmer.Counters().successfulBurns, 2u);
  EXPECT_EQ(programmer.Counters().headerFieldErrors, 1u);
  EXPECT_EQ(programmer.Counters().checkValueErrors, 1u);
  EXPECT_FALSE(programmer.Logged("; answered 0x")) << "the log claims an answer that was never sent";
  EXPECT_EQ(programmer.Counters().downloadsCompleted, 0u) << "no download was under way";
  EXPECT_TRUE(programmer.Logged("finish download without a download under way"));
  EXPECT_EQ(programmer.Counters().repliesSent, 0u);
}

uint32_t Rejections(const ModelCounters& c) {
  return c.checkValueErrors + c.lengthFieldErrors + c.wrongPacketSizes + c.unknownCommands + c.unknownSubOperations +
         c.headerFieldErrors + c.parameterBlockErrors + c.startSignatureErrors + c.startCheckErrors +
         c.positionsOutOfRange + c.blocksWithoutDownload;
}

TEST(ChipCommands, EveryRejectionIsAnsweredCountedAndLogged) {
  const ChipParams chip = Chip(kFlash, 64 << 10);
  const std::vector<uint8_t> image = Erased(64 << 10);
  const auto changed = [](Packet p, std::size_t at, uint8_t value) {
    p[at] = value;
    Reseal(p);
    return p;
  };
  Packet pageFlashHeader = ProgramBlock(0, chip, image);
  pageFlashHeader[4] = kFamilyDataFlash528;
  Reseal(pageFlashHeader);
  // A used range the size of no chip would size the verify's buffer and the streamed read.
  ChipParams oversizedRange = chip;
  oversizedRange.SizeKB = (128 << 10) + 1;
  Packet chunk = MakeCommand({.code = kCmdFirmwareChunk, .parameter = 0x2000, .payloadLength = 2048});
  chunk[5] = 0x0E;
  Reseal(chunk);

  struct Case {
    const char* name;
    Packet packet;
    unsigned status;
    uint32_t ModelCounters::*counter;
  };
  const Case cases[] = {
      {"chip operation one byte long", MakeCommand({.code = kCmdChipOperation, .payloadLength = 49}), 0x20,
       &ModelCounters::wrongPacketSizes},
      {"program block of 4154 bytes for the page flash", pageFlashHeader, 0x20, &ModelCounters::wrongPacketSizes},
      {"download block one byte short", MakeCommand({.code = kCmdDownloadBlock, .payloadLength = 4095}), 0x20,
       &ModelCounters::wrongPacketSizes},
      {"start download one byte short", MakeCommand({.code = kCmdStartDownload, .flags = 0x20, .payloadLength = 259}),
       0x20, &ModelCounters::wrongPacketSizes},
      {"firmware chunk one byte long", MakeCommand({.code = kCmdFirmwareChunk, .subtype = 0x0F, .payloadLength = 2049}),
       0x20, &ModelCounters::wrongPacketSizes},
      {"unknown command", MakeCommand({.code = 0x54}), 0x25, &ModelCounters::unknownCommands},
      {"unknown sub-operation", ChipCommand(kCmdChipOperation, 0x44, chip), 0x25,
       &ModelCounters::unknownSubOperations},
      {"chip operation with flags", changed(ChipCommand(kCmdChipOperation, kSubOpErase, chip), 3, 0x01), 0x20,
       &ModelCounters::headerFieldErrors},
      {"streamed read with a parameter", changed(ChipCommand(kCmdReadStream, 0, chip), 1, 0x04), 0x20,
       &ModelCounters::headerFieldErrors},
      {"start download without its flags",
       changed(StartDownload(chip, JobSettings{}, {"A", "B"}), 3, 0x00), 0x20, &ModelCounters::headerFieldErrors},
      {"firmware chunk without its marker", chunk, 0x20, &ModelCounters::headerFieldErrors},
      {"header names another family", changed(ChipCommand(kCmdChipOperation, kSubOpErase, chip), 4, 0x06), 0x20,
       &ModelCounters::parameterBlockErrors},
      {"header names another subtype", changed(ChipCommand(kCmdReadBlock, 0, chip), 5, 0x02), 0x20,
       &ModelCounters::parameterBlockErrors},
      {"parameter byte 3 not 0x20", changed(ChipCommand(kCmdReadBlock, 0, chip), 0x0B, 0x21), 0x20,
       &ModelCounters::parameterBlockErrors},
      {"a chip of 256 MiB", ChipCommand(kCmdChipOperation, kSubOpBlankCheck, Chip(kFlash, 256u << 20)), 0x20,
       &ModelCounters::parameterBlockErrors},
      {"a used range above 128 MiB", ChipCommand(kCmdChipOperation, kSubOpVerify, oversizedRange), 0x20,
       &ModelCounters::parameterBlockErrors},
      {"a streamed read of a used range above 128 MiB", ChipCommand(kCmdReadStream, 0, oversizedRange), 0x20,
       &ModelCounters::parameterBlockErrors},
      {"a job with a used range above 128 MiB", StartDownload(oversizedRange, ExtendedJob(), {"A", "B"}), 0x20,
       &ModelCounters::parameterBlockErrors},
      {"read at the chip's end", ChipCommand(kCmdReadBlock, 64, chip), 0x45, &ModelCounters::positionsOutOfRange},
      {"program past the chip's end", ProgramBlock(68, chip, Erased(128 << 10)), 0x45,
       &ModelCounters::positionsOutOfRange},
      {"download block before any start", DownloadBlock(0, chip, image), 0x45,
       &ModelCounters::blocksWithoutDownload},
      {"start download with a bad inner check",
       changed(StartDownload(chip, JobSettings{}, {"A", "B"}), 0x60, 0x01), 0x23, &ModelCounters::startCheckErrors},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModelHarness programmer;
    const auto replies = programmer.Send(c.packet);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(HostCheckReply(replies[0]), c.status);
    EXPECT_EQ(replies[0][0], c.packet[0]) << "the reply names the command";
    EXPECT_EQ(programmer.Counters().*c.counter, 1u);
    EXPECT_EQ(Rejections(programmer.Counters()), 1u) << "counted once, under one kind";
    char answered[32];
    std::snprintf(answered, sizeof answered, "answered 0x%02X", c.status);
    EXPECT_TRUE(programmer.Logged(answered));
    EXPECT_EQ(programmer.Counters().blocksTransferred, 0u) << "a refused command did something";
  }
}

}  // namespace
}  // namespace velkor::sim
