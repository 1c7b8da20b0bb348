// The programmer's boot loader: firmware chunks built by the host's own
// builder, checked against the file the programmer expects, and the
// finish-download command that makes it take the new firmware.
#include "sim/boot_loader.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "firmware_helpers.hpp"
#include "frame_helpers.hpp"
#include "host_packets.hpp"
#include "link/commands.hpp"
#include "link/identification.hpp"

namespace velkor::sim {
namespace {

using testing::FirmwareChunk;
using testing::HostChunkAddresses;
using testing::ModelHarness;
using testing::Packet;
using testing::ReadyFirmware;
using testing::Reseal;
using testing::ReportedName;

constexpr uint16_t kStart = kFirmwareStart;
constexpr uint16_t kChunk = kFirmwareChunkAddresses;

ProgrammerOptions Expecting(const FirmwareFile& firmware, const std::string& name = "VelkorQN",
                            const std::string& version = "V3.10") {
  ProgrammerOptions options;
  options.name = name;
  options.version = version;
  options.expectedFirmware = firmware;
  return options;
}

// Sends the chunks at these addresses; every one must be taken.
void SendGoodChunks(ModelHarness& programmer, const FirmwareFile& firmware, const std::vector<uint16_t>& addresses) {
  for (const uint16_t address : addresses) {
    SCOPED_TRACE("chunk at " + std::to_string(address));
    EXPECT_EQ(programmer.Status(FirmwareChunk(address, firmware)), 0x00);
  }
}

// Finish download goes unanswered.
void SendFinish(ModelHarness& programmer) {
  EXPECT_TRUE(programmer.Send(testing::Finish(kCmdFinishDownload)).empty());
}

TEST(BootLoader, TheHostsWholeUpgradeGivesTheFilesVersion) {
  struct Case {
    const char* name;
    std::size_t chunks;
    std::string startName;
    std::string startVersion;
  };
  const Case cases[] = {
      {"short identification string, eight chunks", 8, "VelkorQN", "V3.10"},
      {"older version, a single chunk", 1, "Velkor350QN", "V1.00"},
      {"older version, the largest image", 29, "Velkor350QN", "V1.00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FirmwareFile firmware = ReadyFirmware(c.chunks, "V3.20");
    ModelHarness programmer(Expecting(firmware, c.startName, c.startVersion));
    EXPECT_EQ(ReportedName(programmer), c.startName + " " + c.startVersion);

    const std::vector<uint16_t> addresses = HostChunkAddresses(firmware);
    ASSERT_EQ(addresses.size(), c.chunks);
    SendGoodChunks(programmer, firmware, addresses);
    EXPECT_EQ(ReportedName(programmer), c.startName + " " + c.startVersion) << "the chunks alone change nothing";
    SendFinish(programmer);

    EXPECT_EQ(ReportedName(programmer), "Velkor350QN V3.20");
    EXPECT_EQ(programmer.Counters().firmwareChunks, c.chunks);
    EXPECT_EQ(programmer.Counters().firmwareChunksRefused, 0u);
    EXPECT_EQ(programmer.Counters().firmwareUpgrades, 1u);
    EXPECT_TRUE(programmer.Logged("firmware upgrade complete"));
  }
}

// Chunk 1 keyed with the key pair of chunk 2, as a host that paired the keys
// wrongly would send it.
Packet KeyedAsChunkTwo(const FirmwareFile& firmware) {
  Packet p = FirmwareChunk(kStart + kChunk, firmware);
  const auto& keys = FirmwareChunkKeys();
  for (std::size_t at = 0; at < kFirmwareChunkPayload; at += 4) {
    p[8 + at] ^= keys[0] ^ keys[2];
    p[8 + at + 1] ^= keys[1] ^ keys[3];
    p[8 + at + 2] ^= keys[0] ^ keys[2];
    p[8 + at + 3] ^= keys[1] ^ keys[3];
  }
  Reseal(p);
  return p;
}

// Chunk 1 with every unit's fourth image byte keyed and sent in place of the key byte.
Packet FourthBytesCarried(const FirmwareFile& firmware) {
  Packet p = FirmwareChunk(kStart + kChunk, firmware);
  const uint8_t k1 = FirmwareChunkKeys()[1];
  for (std::size_t at = 0; at < kFirmwareChunkPayload; at += 4)
    p[8 + at + 3] = firmware.image[2 * kChunk + at + 3] ^ k1;
  Reseal(p);
  return p;
}

Packet Changed(Packet p, std::size_t at, uint8_t value) {
  p[at] = value;
  Reseal(p);
  return p;
}

Packet Flipped(Packet p, std::size_t at, uint8_t bits) {
  p[at] ^= bits;
  Reseal(p);
  return p;
}

TEST(BootLoader, EachKindOfBadChunkIsRefusedAndNoFirmwareIsTaken) {
  const FirmwareFile firmware = ReadyFirmware(8, "V3.20");
  const auto chunk = [&](unsigned n) { return FirmwareChunk(static_cast<uint16_t>(kStart + n * kChunk), firmware); };
  struct Case {
    const char* name;
    std::vector<Packet> goodFirst;
    Packet bad;
    unsigned status;
    const char* logged;
  };
  const Case cases[] = {
      {"the first chunk missing", {}, chunk(1), 0x45, "0x2000 is the next expected"},
      {"a chunk skipped", {chunk(0)}, chunk(2), 0x45, "0x2400 is the next expected"},
      {"a chunk sent twice", {chunk(0), chunk(1)}, chunk(1), 0x45, "0x2800 is the next expected"},
      {"byte 5 not 0x0F", {chunk(0)}, Changed(chunk(1), 5, 0x0E), 0x20, "byte 5 is 0x0E, not 0x0F"},
      {"chunk number byte of another chunk", {chunk(0)}, Changed(chunk(1), 3, 0x02), 0x20, "chunk number byte 0x02"},
      {"chunk count byte one short", {chunk(0)}, Changed(chunk(1), 4, 0x07), 0x20, "count byte 0x07"},
      {"a payload byte flipped", {chunk(0)}, Flipped(chunk(1), 8 + 1001, 0x10), 0x31,
       "1 of 2048 payload bytes differ from the firmware; the first, byte 1001 (unit 250"},
      {"a fourth byte that is not the key", {chunk(0)}, Flipped(chunk(1), 8 + 43, 0x80), 0x31,
       "byte 43 (the fourth of unit 10)"},
      {"every fourth byte carrying the image", {chunk(0)}, FourthBytesCarried(firmware), 0x31, "the fourth of unit"},
      {"keyed with the next key pair", {chunk(0)}, KeyedAsChunkTwo(firmware), 0x31, "2048 of 2048 payload bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModelHarness programmer(Expecting(firmware));
    for (const Packet& good : c.goodFirst) EXPECT_EQ(programmer.Status(good), 0x00);
    const auto replies = programmer.Send(c.bad);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(testing::HostCheckReply(replies[0]), c.status);
    EXPECT_EQ(replies[0][0], 0xB7);
    EXPECT_TRUE(programmer.Logged(c.logged)) << programmer.Log().back();
    EXPECT_EQ(programmer.Counters().firmwareChunksRefused, 1u);
    EXPECT_EQ(programmer.Counters().firmwareChunks, c.goodFirst.size());

    SendFinish(programmer);
    EXPECT_EQ(ReportedName(programmer), "VelkorQN V3.10");
    EXPECT_EQ(programmer.Counters().firmwareUpgrades, 0u);
    EXPECT_TRUE(programmer.Logged("the firmware is not taken"));
  }
}

TEST(BootLoader, FinishBeforeTheLastChunkTakesNothingAndTheNextUpgradeStartsOver) {
  const FirmwareFile firmware = ReadyFirmware(8, "V3.20");
  const std::vector<uint16_t> all = HostChunkAddresses(firmware);
  ModelHarness programmer(Expecting(firmware, "Velkor350QN", "V1.00"));

  SendGoodChunks(programmer, firmware, std::vector<uint16_t>(all.begin(), all.end() - 1));
  SendFinish(programmer);
  EXPECT_EQ(ReportedName(programmer), "Velkor350QN V1.00");
  EXPECT_TRUE(programmer.Logged("after 7 of 8 chunks: the firmware is not taken"));

  // The last chunk now comes too late: the finish ended that upgrade.
  EXPECT_EQ(programmer.Status(FirmwareChunk(all.back(), firmware)), 0x45);
  SendFinish(programmer);
  EXPECT_EQ(programmer.Counters().firmwareUpgrades, 0u);

  SendGoodChunks(programmer, firmware, all);
  SendFinish(programmer);
  EXPECT_EQ(ReportedName(programmer), "Velkor350QN V3.20");
  EXPECT_EQ(programmer.Counters().firmwareUpgrades, 1u);
}

TEST(BootLoader, AnUpgradeGoesOnAfterARefusedChunkIsSentAgainOrAfterStartingAnew) {
  const FirmwareFile firmware = ReadyFirmware(8, "V3.20");
  const std::vector<uint16_t> all = HostChunkAddresses(firmware);
  const auto part = [&](std::size_t from, std::size_t to) {
    return std::vector<uint16_t>(all.begin() + static_cast<std::ptrdiff_t>(from),
                                 all.begin() + static_cast<std::ptrdiff_t>(to));
  };
  struct Case {
    const char* name;
    std::function<void(ModelHarness&)> send;
  };
  const Case cases[] = {
      {"a damaged chunk sent again",
       [&](ModelHarness& p) {
         SendGoodChunks(p, firmware, part(0, 3));
         EXPECT_EQ(p.Status(Flipped(FirmwareChunk(all[3], firmware), 8, 0x01)), 0x31);
         SendGoodChunks(p, firmware, part(3, 8));
       }},
      {"a chunk at the start address midway",
       [&](ModelHarness& p) {
         SendGoodChunks(p, firmware, part(0, 5));
         SendGoodChunks(p, firmware, all);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModelHarness programmer(Expecting(firmware));
    c.send(programmer);
    SendFinish(programmer);
    EXPECT_EQ(ReportedName(programmer), "Velkor350QN V3.20");
    EXPECT_EQ(programmer.Counters().firmwareUpgrades, 1u);
  }
}

TEST(BootLoader, AChunkPastTheLastIsRefused) {
  const FirmwareFile firmware = ReadyFirmware(2, "V3.20");
  ModelHarness programmer(Expecting(firmware));
  SendGoodChunks(programmer, firmware, HostChunkAddresses(firmware));
  Packet past = FirmwareChunk(kStart + 2 * kChunk, firmware);
  EXPECT_EQ(programmer.Status(past), 0x45);
  EXPECT_TRUE(programmer.Logged("lies past the firmware's 2 chunks"));
}

TEST(BootLoader, WithoutAFileChunksAreTakenUncheckedAndFinishChangesNothing) {
  ProgrammerOptions options;
  options.name = "VelkorQN";
  ModelHarness programmer(options);
  const FirmwareFile firmware = ReadyFirmware(8, "V3.20");
  // Out of order and damaged: nothing is compared without a file.
  EXPECT_EQ(programmer.Status(FirmwareChunk(kStart + 3 * kChunk, firmware)), 0x00);
  EXPECT_EQ(programmer.Status(Flipped(FirmwareChunk(kStart, firmware), 100, 0x5A)), 0x00);
  SendFinish(programmer);
  EXPECT_EQ(ReportedName(programmer), "VelkorQN V3.10");
  EXPECT_EQ(programmer.Counters().firmwareChunks, 2u);
  EXPECT_EQ(programmer.Counters().firmwareUpgrades, 0u);
}

TEST(BootLoader, FinishingAJobDownloadIsNotTakenForTheFirmware) {
  const FirmwareFile firmware = ReadyFirmware(8, "V3.20");
  ModelHarness programmer(Expecting(firmware));
  const ChipParams chip = testing::Chip(0x05, 64 << 10);
  EXPECT_EQ(programmer.Status(testing::StartDownload(chip, JobSettings{}, {"W25X05", "a.bin"})), 0x00);
  EXPECT_EQ(programmer.Status(testing::DownloadBlock(0, chip, std::vector<uint8_t>(64 << 10, 0x5A))), 0x00);
  SendFinish(programmer);
  EXPECT_EQ(programmer.Counters().downloadsCompleted, 1u);
  EXPECT_EQ(programmer.Counters().firmwareUpgrades, 0u);
  EXPECT_FALSE(programmer.Logged("firmware is not taken"));
}

}  // namespace
}  // namespace velkor::sim
