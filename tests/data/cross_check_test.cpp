// Files written by independent tools (srec_cat of the srecord package,
// objcopy of binutils) load byte for byte as those tools themselves convert
// them to binary, and as the random image they were made from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "data/object_file.hpp"
#include "recording_report.hpp"

namespace velkor {
namespace {

using test::ImageFixture;

bool HaveTool(const char* name) { return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0; }

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

struct Segment {
  uint32_t address;
  std::vector<uint8_t> bytes;
};

enum class Layout {
  Scattered,        // gaps, data across 64 KiB and above 1 MiB
  Below64K,         // S1 records only
  Contiguous,       // one block across 1 MiB (objcopy takes one binary)
  AcrossHugePages,  // megabytes from an odd address across 2 and 4 MiB, where the loader's runs end
};

// Non-overlapping random segments in increasing address order.
std::vector<Segment> RandomSegments(Layout layout, uint32_t seed) {
  std::mt19937 rng(seed);
  auto bytes = [&](std::size_t count) {
    std::vector<uint8_t> b(count);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
  };
  auto between = [&](uint32_t low, uint32_t high) { return std::uniform_int_distribution<uint32_t>(low, high)(rng); };
  std::vector<Segment> segments;
  switch (layout) {
    case Layout::Scattered:
      segments.push_back({between(0, 0x100), bytes(between(1, 3000))});
      segments.push_back({between(0x2000, 0x3000), bytes(between(1, 40))});
      segments.push_back({0x10000 - between(1, 700), bytes(between(1400, 5000))});  // across 64 KiB
      segments.push_back({between(0x30000, 0x3FFFF), bytes(between(1, 9000))});
      segments.push_back({0x100000 - between(1, 300), bytes(between(600, 4000))});  // across 1 MiB
      segments.push_back({between(0x1F0000, 0x2F0000), bytes(between(1, 20000))});
      break;
    case Layout::Below64K:
      segments.push_back({between(0, 0x800), bytes(between(1, 2000))});
      segments.push_back({between(0x4000, 0x8000), bytes(between(1, 0x7000))});
      break;
    case Layout::Contiguous:
      segments.push_back({0x100000 - between(0x1000, 0x20000), bytes(between(0x30000, 0x50000))});
      break;
    case Layout::AcrossHugePages:
      segments.push_back({0x200000 - between(1, 0x5000), bytes(between(0x210000, 0x260000))});
      break;
  }
  return segments;
}

struct ToolCase {
  const char* name;
  const char* tool;
  Layout layout;
  const char* extension;
  // How the tool writes the file: {in} are the segment inputs, {out} the file.
  const char* command;
};
void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.name; }

class CrossCheckTest : public ImageFixture, public ::testing::WithParamInterface<ToolCase> {
 protected:
  void Run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

  std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
};

TEST_P(CrossCheckTest, LoadsAsTheToolConvertsIt) {
  const ToolCase& c = GetParam();
  if (!HaveTool(c.tool) || !HaveTool("srec_cat")) GTEST_SKIP() << c.tool << " or srec_cat is not installed";
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    image.Erase();
    const std::vector<Segment> segments = RandomSegments(c.layout, seed);
    std::string inputs;
    for (std::size_t i = 0; i < segments.size(); ++i) {
      const std::string bin = (dir / ("seg" + std::to_string(i) + ".bin")).string();
      std::ofstream(bin, std::ios::binary)
          .write(reinterpret_cast<const char*>(segments[i].bytes.data()),
                 static_cast<std::streamsize>(segments[i].bytes.size()));
      inputs += c.tool == std::string("objcopy") ? "--change-addresses " + Hex(segments[i].address) + " " + bin
                                                  : bin + " -binary -offset " + Hex(segments[i].address) + " ";
    }
    const auto file = dir / (std::string("image") + c.extension);
    std::string command = c.command;
    command.replace(command.find("{in}"), 4, inputs);
    command.replace(command.find("{out}"), 5, file.string());
    Run(command);

    const uint32_t first = segments.front().address;
    const uint32_t last = segments.back().address + static_cast<uint32_t>(segments.back().bytes.size()) - 1;
    // The tool's own binary of its file, gaps filled with the erased state.
    const auto reference = dir / "reference.bin";
    const char* format = c.extension == std::string(".hex") ? "-intel" : "-motorola";
    Run("srec_cat " + file.string() + " " + format + " -fill 0xFF 0 " + Hex(last + 1) + " -o " + reference.string() +
        " -binary");
    const std::string expected = Read(reference);
    ASSERT_EQ(expected.size(), std::size_t{last} + 1);

    ChipParams chip;
    chip.Size = 0x400000;
    const LoadOutcome outcome = LoadObjectFile(file, image, chip, report);
    EXPECT_EQ(outcome, LoadOutcome{});
    EXPECT_TRUE(report.log.empty()) << report.log.front();
    EXPECT_EQ(image.FileStart, first);
    EXPECT_EQ(image.FileEnd, last);
    ASSERT_EQ(Bytes(0, last + 1), std::vector<uint8_t>(expected.begin(), expected.end()));
    for (const Segment& s : segments) {
      ASSERT_EQ(Bytes(s.address, static_cast<uint32_t>(s.bytes.size())), s.bytes);
    }
    EXPECT_EQ(image.Data[last + 1], 0xFF);
    // Pages the load gave fresh memory read erased again after the erase.
    image.Erase();
    ASSERT_EQ(Bytes(0, last + 1), std::vector<uint8_t>(std::size_t{last} + 1, 0xFF));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tools, CrossCheckTest,
    ::testing::Values(
        // 16, 32, 19 and 255 data bytes per record; extended linear (04) records.
        ToolCase{"SrecCatIntel16", "srec_cat", Layout::Scattered, ".hex", "srec_cat {in} -o {out} -intel -line-length 44"},
        ToolCase{"SrecCatIntel32", "srec_cat", Layout::Scattered, ".hex", "srec_cat {in} -o {out} -intel -line-length 76"},
        ToolCase{"SrecCatIntel19", "srec_cat", Layout::Scattered, ".hex", "srec_cat {in} -o {out} -intel -line-length 50"},
        ToolCase{"SrecCatIntel255", "srec_cat", Layout::Scattered, ".hex",
                 "srec_cat {in} -o {out} -intel -line-length 521"},
        ToolCase{"SrecCatMotorolaS1", "srec_cat", Layout::Below64K, ".s19", "srec_cat {in} -execution-start-address 0 -o {out} -motorola"},
        ToolCase{"SrecCatMotorolaS2", "srec_cat", Layout::Scattered, ".s28",
                 "srec_cat {in} -execution-start-address 0x100 -o {out} -motorola -line-length 50"},
        ToolCase{"SrecCatMotorolaS3", "srec_cat", Layout::Scattered, ".s37",
                 "srec_cat {in} -execution-start-address 0 -o {out} -motorola -address-length=4 -line-length 300"},
        // objcopy writes extended segment (02) records below 1 MiB and
        // extended linear (04) records above, and a start record.
        ToolCase{"SrecCatIntel16AcrossHugePages", "srec_cat", Layout::AcrossHugePages, ".hex",
                 "srec_cat {in} -o {out} -intel -line-length 44"},
        ToolCase{"SrecCatIntel255AcrossHugePages", "srec_cat", Layout::AcrossHugePages, ".hex",
                 "srec_cat {in} -o {out} -intel -line-length 521"},
        ToolCase{"SrecCatMotorolaS3AcrossHugePages", "srec_cat", Layout::AcrossHugePages, ".s37",
                 "srec_cat {in} -execution-start-address 0 -o {out} -motorola -address-length=4 -line-length 74"},
        ToolCase{"ObjcopyIhex", "objcopy", Layout::Contiguous, ".hex", "objcopy -I binary -O ihex {in} {out}"},
        ToolCase{"ObjcopyIhexAcrossHugePages", "objcopy", Layout::AcrossHugePages, ".hex",
                 "objcopy -I binary -O ihex {in} {out}"},
        ToolCase{"ObjcopySrec", "objcopy", Layout::Contiguous, ".srec", "objcopy -I binary -O srec --srec-len 40 {in} {out}"},
        ToolCase{"ObjcopySrecS3", "objcopy", Layout::Contiguous, ".mot",
                 "objcopy -I binary -O srec --srec-forceS3 {in} {out}"}),
    [](const auto& tc) { return std::string(tc.param.name); });

}  // namespace
}  // namespace velkor
