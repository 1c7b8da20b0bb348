// Writes the seed corpus of the fuzz targets into DIR/TARGET/: small valid
// inputs of every format, made with the program's own writers where it has
// them (project files, firmware files, frames).
//   write_seeds DIR
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "chips/catalogue.hpp"
#include "data/project_file.hpp"
#include "link/operation_codes.hpp"
#include "sim/identification.hpp"
#include "tests/support/firmware.hpp"
#include "tests/support/packets.hpp"

namespace {

using namespace velkor;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

fs::path g_root;

void Put(const std::string& target, const std::string& name, std::string_view bytes) {
  const fs::path dir = g_root / target;
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
void Put(const std::string& target, const std::string& name, const Bytes& bytes) {
  Put(target, name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string HexPair(unsigned value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value & 0xFF);
  return text;
}

// One Intel HEX record with its checksum.
std::string Intel(uint8_t type, uint16_t address, const Bytes& data, const char* eol = "\n") {
  unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
  std::string line = ":" + HexPair(static_cast<unsigned>(data.size())) + HexPair(address >> 8) + HexPair(address) +
                     HexPair(type);
  for (uint8_t b : data) {
    line += HexPair(b);
    sum += b;
  }
  return line + HexPair(0x100 - (sum & 0xFF)) + eol;
}

// One S-record with its count and checksum; addressBytes from its type.
std::string SRecord(char type, uint32_t address, unsigned addressBytes, const Bytes& data, const char* eol = "\n") {
  const unsigned count = addressBytes + static_cast<unsigned>(data.size()) + 1;
  unsigned sum = count;
  std::string line = std::string("S") + type + HexPair(count);
  for (unsigned k = addressBytes; k-- > 0;) {
    const unsigned b = (address >> (8 * k)) & 0xFF;
    line += HexPair(b);
    sum += b;
  }
  for (uint8_t b : data) {
    line += HexPair(b);
    sum += b;
  }
  return line + HexPair(~sum) + eol;
}

void ObjectFiles() {
  const Bytes sixteen{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  const std::string end = ":00000001FF\n";
  Put("intel_hex", "data_and_end.hex", Intel(0, 0, sixteen) + Intel(0, 0x10, {0x10, 0x11, 0x12, 0x13}) + end);
  Put("intel_hex", "extended_linear.hex",
      Intel(4, 0, {0x00, 0x01}, "\r\n") + Intel(0, 0, {'H', 'e', 'l', 'l', 'o'}, "\r\n") +
          Intel(5, 0, {0, 0, 0, 0xF0}, "\r\n") + ":00000001FF\r\n");
  Put("intel_hex", "extended_segment.hex", Intel(2, 0, {0x10, 0x00}) + Intel(0, 0x20, {0xAA, 0xBB, 0xCC}) + end);

  Put("srecord", "s1_s9.s19",
      SRecord('0', 0, 2, {'h', 'd', 'r'}) + SRecord('1', 0, 2, sixteen) + SRecord('1', 0x10, 2, {1, 2}) +
          SRecord('5', 2, 2, {}) + SRecord('9', 0, 2, {}));
  Put("srecord", "s2_s8.s19", SRecord('2', 0x000100, 3, {0x41, 0x42, 0x43, 0x44}) + SRecord('6', 1, 3, {}) +
                                  SRecord('8', 0, 3, {}));
  Put("srecord", "s3_s7.s19",
      SRecord('3', 0x200, 4, {0xDE, 0xAD, 0xBE, 0xEF}, "\r\n") + SRecord('7', 0, 4, {}, "\r\n"));

  Put("hex_text", "two_sections.txt",
      "@0000\n"
      "00 01 02 03 04 05 06 07\n"
      "@0100\r\n"
      "AA BB CC DD\r\n"
      "q\n");
  Put("hex_text", "no_address.txt", "11 22 33 44 55 66 77 88 99\n  AABB\nq");

  Bytes counting(300);
  for (std::size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<uint8_t>(i);
  Put("binary", "counting.bin", counting);
  Put("binary", "erased_and_data.bin", Bytes{0xFF, 0xFF, 0x00, 0x12, 0x34, 0xFF});
}

void ProjectFiles() {
  uint32_t seed = 1;
  const ProjectRandom random = [&seed](uint32_t max) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % (max + 1);
  };
  Bytes image(1024);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 + 1);

  ProjectRecord record;
  record.MCUNameEdit = "24xx02";
  record.ProductEditX = "/home/operator/image.hex";
  record.Family = kFamilyI2cEeprom;
  record.Size = 256;
  record.PageSize = 8;
  record.ChipStart = 0;
  record.ChipEnd = 255;
  record.SNEdit = "0x00000001";
  record.GainEdit = "1";
  record.AddrEdit = "0x000000";
  Put("project_file", "eeprom.OVP", ProjectFileBytes(record, image.data(), image.size(), random));

  ProjectRecord flash = record;
  flash.MCUNameEdit = "W25x64xx";
  flash.Family = 0x10;
  flash.Size = 8u << 20;
  flash.SizeKB = 1;
  flash.ChipStart = 0;
  flash.ChipEnd = 1023;
  flash.CheckBoxAut = true;
  flash.CheckBoxSN = true;
  Put("project_file", "flash.OVP", ProjectFileBytes(flash, image.data(), image.size(), random));
}

void FirmwareFiles() {
  Put("firmware_file", "two_chunks.VFR", test::PackFirmware(test::FirmwareImage(2, 3), "V3.10"));
  Put("firmware_file", "one_chunk.VFR", test::PackFirmware(test::FirmwareImage(1, 5), "V1.00"));
}

// Set-up bytes of the link_receive target (see link_receive_fuzz.cpp).
Bytes Setup(bool program, bool identified, uint8_t operationIndex, std::size_t chipIndex, uint16_t blocks) {
  const uint8_t first = static_cast<uint8_t>((program ? 1 : 0) | (identified ? 2 : 0) | operationIndex << 3 |
                                             (chipIndex >> 8) << 6);
  return {first, static_cast<uint8_t>(chipIndex), static_cast<uint8_t>(blocks >> 8), static_cast<uint8_t>(blocks)};
}

std::size_t ChipIndex(const std::string& caption) {
  const auto& catalogue = ChipCatalogue();
  for (std::size_t i = 0; i < catalogue.size(); ++i)
    if (catalogue[i].caption == caption) return i;
  std::fprintf(stderr, "no chip %s in the catalogue\n", caption.c_str());
  std::exit(1);
}

void LinkReceive() {
  using test::Concat;
  using test::FrameOf;
  using test::MakePacket;
  using test::MakeStatusPacket;
  const auto id = sim::BuildIdentificationReply({});
  const Bytes identification = FrameOf(Bytes(id.begin(), id.end()));
  sim::ProgrammerOptions shortName;
  shortName.name = "VelkorQN";
  const auto idShort = sim::BuildIdentificationReply(shortName);
  const Bytes progress = FrameOf(Bytes{0xFD, 0x40, 0x00, 0x00, 0x00, 0x10, 0x00, 0xB3});
  const Bytes ok = FrameOf(MakeStatusPacket(0x95, 0x00));
  const Bytes failed = FrameOf(MakeStatusPacket(0x95, 0x2D));
  Bytes block(4096);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
  // Every delimiter and escape value in the data, so the escapes are seeded.
  block[0] = 0xC0;
  block[1] = 0xDB;
  const Bytes readBlock = FrameOf(MakePacket(0x9B, block));
  const Bytes readId = FrameOf(MakePacket(0x93, Bytes{0xEF, 0x40, 0x00, 0x00, 0x02, 0x00}));
  const Bytes noise{0xC0, 0x12, 0xC0, 0xC0, 0xDB, 0x00, 0xC0};

  Put("link_receive", "decoder_identify.bin",
      Concat({Setup(false, false, 0, 0, 1), identification, ok}));
  Put("link_receive", "decoder_short_name.bin",
      Concat({Setup(false, false, 0, 0, 2), FrameOf(Bytes(idShort.begin(), idShort.end()))}));
  Put("link_receive", "decoder_replies.bin",
      Concat({Setup(false, true, 0, 0, 3), noise, ok, progress, readId, failed}));
  Put("link_receive", "decoder_older_scanner.bin",
      Concat({Bytes{0x06, 0, 0, 4}, noise, ok, noise, readId}));
  const std::size_t small = ChipIndex("24xx16");
  Put("link_receive", "program_read_block.bin",
      Concat({Setup(true, true, 0, small, 5), progress, readBlock, ok}));
  Put("link_receive", "program_read_block_flash.bin",
      Concat({Setup(true, true, 0, ChipIndex("W25x64xx"), 6), readBlock, readBlock, failed}));
  Put("link_receive", "program_streamed_read.bin",
      Concat({Setup(true, true, 1, small, 7), readBlock}));
  Put("link_receive", "program_read_id.bin",
      Concat({Setup(true, true, 2, ChipIndex("W25x64xx"), 8), readId}));
  Put("link_receive", "program_blank_check.bin",
      Concat({Setup(true, true, 3, small, 9), FrameOf(MakeStatusPacket(0x95, 0x15))}));
  Put("link_receive", "program_identify.bin",
      Concat({Setup(true, false, 7, small, 10), identification, ok}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  g_root = argv[1];
  ObjectFiles();
  ProjectFiles();
  FirmwareFiles();
  LinkReceive();
  return 0;
}
