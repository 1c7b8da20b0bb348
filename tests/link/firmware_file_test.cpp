// The firmware file: what the packer writes reads back whole, every damage
// is refused with its reason, and the chunks carry the image re-keyed.
#include "link/firmware_file.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "link/checksum.hpp"
#include "support/firmware.hpp"

namespace velkor {
namespace {

uint16_t Get16(const std::vector<uint8_t>& b, std::size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

// Rewrites the sum at the end after a change, so that only the change is
// wrong with the file.
void Reseal(std::vector<uint8_t>& file) {
  uint32_t sum = 0;
  for (std::size_t i = 0; i < file.size() - 4; ++i)
    if (i != 8 && i != 9) sum += file[i];
  for (int i = 0; i < 4; ++i) file[file.size() - 4 + i] = static_cast<uint8_t>(sum >> (8 * i));
}

TEST(FirmwareFileTest, PackedFileReadsBackWithItsImageVersionAndRange) {
  const std::vector<uint8_t> image = test::FirmwareImage(8, 3);
  const std::vector<uint8_t> file = test::PackFirmware(image, "V3.20");
  ASSERT_EQ(file.size(), kFirmwareHeaderBytes + image.size() + kFirmwareTrailerBytes + 4);
  const FirmwareFile f = ReadFirmwareFile(file);
  EXPECT_TRUE(f.ready) << f.problem;
  EXPECT_EQ(f.version, "V3.20");
  EXPECT_EQ(f.start, 0x2000);
  EXPECT_EQ(f.end, 0x3FFF);
  EXPECT_EQ(FirmwareChunkCount(f), 8);
  ASSERT_GE(f.image.size(), image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), f.image.begin()));
  // The marker is not stored in the clear, and the payload is scrambled.
  EXPECT_NE(std::string(file.begin(), file.begin() + 8), "KT2xFmWr");
  EXPECT_FALSE(std::equal(image.begin(), image.end(), file.begin() + kFirmwareHeaderBytes));
  EXPECT_NE(test::PackFirmware(image, "V3.20", 8), file) << "another seed, other keys";
}

TEST(FirmwareFileTest, DamagedFilesAreRefusedWithTheirReason) {
  const std::vector<uint8_t> good = test::PackFirmware(test::FirmwareImage(8, 3), "V3.20");
  const uint16_t mask = Get16(good, 32);
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* problem;
    bool versionKept;
  };
  const Case cases[] = {
      {"marker", [](auto& f) { f[3] ^= 0x01; }, "marker", false},
      {"payload byte", [](auto& f) { f[kFirmwareHeaderBytes + 100] ^= 0x40; }, "checksum is wrong", true},
      {"trailer byte", [](auto& f) { f[f.size() - 10] ^= 0x01; }, "checksum is wrong", true},
      {"stored sum", [](auto& f) { f[f.size() - 1] ^= 0x80; }, "checksum is wrong", true},
      {"larger than the buffer", [](auto& f) { f.resize(kFirmwareBufferBytes + 1); }, "more than the 65536", false},
      {"cut short", [](auto& f) { f.resize(f.size() - 100); }, "do not end the file", true},
      {"header only", [](auto& f) { f.resize(3000); }, "fewer than its header", false},
      {"range past the payload",
       [mask](auto& f) {
         const uint16_t end = 0x5FFF ^ mask;
         f[34] = static_cast<uint8_t>(end);
         f[35] = static_cast<uint8_t>(end >> 8);
         Reseal(f);
       },
       "range needs 32768 image bytes; the payload holds 16384", true},
      {"range before its start",
       [mask](auto& f) {
         const uint16_t end = 0x1000 ^ mask;
         f[34] = static_cast<uint8_t>(end);
         f[35] = static_cast<uint8_t>(end >> 8);
         Reseal(f);
       },
       "before its start", true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::vector<uint8_t> file = good;
    k.damage(file);
    const FirmwareFile f = ReadFirmwareFile(file);
    EXPECT_FALSE(f.ready);
    EXPECT_NE(f.problem.find(k.problem), std::string::npos) << f.problem;
    EXPECT_EQ(f.version, k.versionKept ? "V3.20" : "");
  }
}

TEST(FirmwareFileTest, PackerRefusesWhatTheFormatCannotHold) {
  std::string error;
  const auto random = [] { return uint8_t{1}; };
  EXPECT_TRUE(PackFirmwareFile(std::vector<uint8_t>(2047), "V1", random, error).empty());
  EXPECT_NE(error.find("whole chunks"), std::string::npos);
  EXPECT_TRUE(PackFirmwareFile(std::vector<uint8_t>(30 * 2048), "V1", random, error).empty());
  EXPECT_TRUE(PackFirmwareFile(std::vector<uint8_t>(2048), "V 1", random, error).empty());
  EXPECT_NE(error.find("version text"), std::string::npos);
  EXPECT_TRUE(PackFirmwareFile(std::vector<uint8_t>(2048), std::string(23, 'V'), random, error).empty());
  // The largest image the buffer holds: 29 chunks.
  const std::vector<uint8_t> largest = PackFirmwareFile(test::FirmwareImage(29, 1), "V9", random, error);
  ASSERT_FALSE(largest.empty()) << error;
  EXPECT_TRUE(ReadFirmwareFile(largest).ready);
}

TEST(FirmwareFileTest, ChunksCarryTheImageReKeyedWithoutEveryFourthByte) {
  const std::vector<uint8_t> image = test::FirmwareImage(8, 5);
  FirmwareFile f = ReadFirmwareFile(test::PackFirmware(image, "V3.20"));
  ASSERT_TRUE(f.ready);
  const auto& keys = FirmwareChunkKeys();
  std::vector<uint8_t> packet(kFirmwareChunkPacket + 10);
  for (uint16_t chunk = 0; chunk < 8; ++chunk) {
    SCOPED_TRACE(chunk);
    const auto address = static_cast<uint16_t>(0x2000 + chunk * 1024);
    ASSERT_EQ(BuildFirmwareChunk(packet, address, f), 2058u);
    EXPECT_EQ(std::vector<uint8_t>(packet.begin(), packet.begin() + 8),
              (std::vector<uint8_t>{0xB7, 0x00, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(chunk), 8,
                                    0x0F, 0x00, 0x08}));
    // Chunks 0 and 1 share a key pair, 2 and 3 the next one, ...
    const uint8_t k0 = keys[chunk & 0xFE], k1 = keys[(chunk & 0xFE) + 1];
    for (std::size_t unit = 0; unit < 512; ++unit) {
      const uint8_t* from = image.data() + chunk * 2048 + 4 * unit;
      const uint8_t* sent = packet.data() + 8 + 4 * unit;
      ASSERT_EQ(sent[0], from[0] ^ k0) << unit;
      ASSERT_EQ(sent[1], from[1] ^ k1) << unit;
      ASSERT_EQ(sent[2], from[2] ^ k0) << unit;
      ASSERT_EQ(sent[3], k1) << unit;
    }
    EXPECT_EQ(Get16(packet, 2056), LinkCrc16(packet.data(), 0, 2055));
  }
  EXPECT_NE(keys[0], keys[2]);

  // An end of 0x3C00 takes seven chunks; the count byte still says eight.
  f.end = 0x3C00;
  EXPECT_EQ(FirmwareChunkCount(f), 7);
  ASSERT_EQ(BuildFirmwareChunk(packet, 0x2000, f), 2058u);
  EXPECT_EQ(packet[4], 8);
  EXPECT_EQ(BuildFirmwareChunk(packet, 0x1C00, f), 0u) << "below the start";
  EXPECT_EQ(BuildFirmwareChunk(std::span<uint8_t>(packet.data(), 2000), 0x2000, f), 0u) << "packet too small";
}

}  // namespace
}  // namespace velkor
