// Chips written to files: the whole chip as it holds itself, complete or
// not at all.
#include "sim/chip_dump.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host_packets.hpp"
#include "sim/socket_chip.hpp"
#include "support/files.hpp"

namespace velkor::sim {
namespace {

TEST(ChipFile, HoldsThePageFlashPageAfterPage) {
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("velkor-sim-chip-file-" + std::to_string(getpid()));
  std::filesystem::create_directory(directory);
  SocketChip chip;
  chip.Insert({kFamilyDataFlash528, 0x10, kDataFlashPages * kDataFlashPageSize});
  const std::vector<uint8_t> block = testing::Pattern(kPageFlashBlockBytes, 51);
  chip.ProgramBlock(4, block);  // pages 8 to 15

  const std::filesystem::path file = directory / "programmer-1.bin";
  EXPECT_EQ(WriteChipFile(file.string(), chip.Memory()), "");
  const std::string written = test::ReadFile(file);
  ASSERT_EQ(written.size(), std::size_t{kDataFlashPages} * kDataFlashPageSize);
  std::vector<uint8_t> want(written.size(), 0xFF);
  std::copy(block.begin(), block.end(), want.begin() + 8 * kDataFlashPageSize);
  EXPECT_TRUE(std::vector<uint8_t>(written.begin(), written.end()) == want);
  // Nothing else is left in the directory, such as the temporary file.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory), std::filesystem::directory_iterator()), 1);
  std::filesystem::remove_all(directory);

  const std::string error = WriteChipFile((directory / "programmer-1.bin").string(), chip.Memory());
  EXPECT_NE(error.find("cannot write " + (directory / "programmer-1.bin").string() + ": "), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(directory));
}

}  // namespace
}  // namespace velkor::sim
