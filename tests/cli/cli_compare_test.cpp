// velkor-cli compare: two files loaded for one chip and compared over the
// whole chip. The differences the test makes are known to it beforehand;
// record files come from the test's own writer or from srec_cat.
#include <algorithm>
#include <cstdio>
#include <random>

#include "cli/cli_run.hpp"

namespace velkor::test {
namespace {

constexpr uint32_t kChipSize = 0x20000;  // W25x10xx
constexpr const char* kChip = " --chip W25x10xx";

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

struct ByteRun {
  uint32_t address;
  uint32_t length;
  bool operator==(const ByteRun&) const = default;
};

class CliCompareTest : public CliTest {
 protected:
  void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream(directory / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  // The "@"/"q" text hex format: an address line, then lines of byte pairs.
  void WriteTextHex(const std::string& name, uint32_t address, const std::vector<uint8_t>& bytes) const {
    std::ofstream out(directory / name);
    char line[16];
    std::snprintf(line, sizeof line, "@%04X\n", address);
    out << line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      std::snprintf(line, sizeof line, "%02X%c", bytes[i], (i % 16 == 15 || i + 1 == bytes.size()) ? '\n' : ' ');
      out << line;
    }
    out << "q\n";
  }
  // The copy of bytes with every byte of the runs changed.
  static std::vector<uint8_t> Patched(std::vector<uint8_t> bytes, const std::vector<ByteRun>& runs) {
    for (const ByteRun& run : runs)
      for (uint32_t i = 0; i < run.length; ++i) bytes[run.address + i] ^= static_cast<uint8_t>(0x5A + i);
    return bytes;
  }
  // The ranges of the lines compare prints ("0x00001000  3 bytes  A: ...").
  static std::vector<ByteRun> PrintedRanges(const std::string& out) {
    std::vector<ByteRun> ranges;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      unsigned address = 0;
      unsigned length = 0;
      if (std::sscanf(line.c_str(), "0x%8X %u byte", &address, &length) == 2) ranges.push_back({address, length});
    }
    return ranges;
  }
  static std::string LastLine(const std::string& out) {
    std::string text = out;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') + 1);
  }
};

// The same bytes as binary and as text hex: the binary from address 0 with
// erased bytes up to the data, the text hex from the data's address; the
// rest of the chip is erased in both.
TEST_F(CliCompareTest, TheSameDataInDifferentFormatsComparesEqual) {
  const std::vector<uint8_t> data = WriteRandom("data.raw", 5000);
  std::vector<uint8_t> fromZero(0x1000 + data.size(), 0xFF);
  std::copy(data.begin(), data.end(), fromZero.begin() + 0x1000);
  WriteBytes("data.bin", fromZero);
  WriteTextHex("data.txt", 0x1000, data);
  std::vector<std::string> pairs = {"data.bin data.txt", "data.txt data.bin", "- data.txt <data.bin"};
  if (HaveTool("srec_cat")) {
    ASSERT_EQ(std::system(("srec_cat '" + Path("data.raw") + "' -binary -offset 0x1000 -o '" + Path("data.hex") +
                           "' -intel").c_str()),
              0);
    pairs.push_back("data.hex data.txt");
    pairs.push_back("data.bin data.hex");
  }
  for (const std::string& files : pairs) {
    SCOPED_TRACE(files);
    const CliRun run = Cli("compare " + files + kChip);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, "The images are equal over 0x00000000-0x0001FFFF (131072 bytes compared).\n");
  }
}

// Differences at the chip's first and last byte, a run over a 4 KiB
// boundary, and data in one file where the other leaves the chip erased.
TEST_F(CliCompareTest, DifferingFilesPrintTheirRangesAndExitOne) {
  const std::vector<uint8_t> a = WriteRandom("a.bin", kChipSize);
  const std::vector<ByteRun> patched = {{0x0, 1}, {0x0FFE, 5}, {0x1FFFF, 1}};
  WriteBytes("b.bin", Patched(a, patched));
  const CliRun run = Cli("compare a.bin b.bin" + std::string(kChip));
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(PrintedRanges(run.out), patched);
  EXPECT_EQ(LastLine(run.out),
            "The images differ over 0x00000000-0x0001FFFF: 7 of 131072 bytes differ; differing ranges: 3.");
  char first[64];
  std::snprintf(first, sizeof first, "0x00000000  1 byte  A: %02X  B: %02X\n", a[0], a[0] ^ 0x5A);
  EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1), first);

  // The short file leaves the chip erased past its end: every byte of a
  // that is not 0xFF differs there.
  std::vector<uint8_t> shortFile(a.begin(), a.begin() + 0x10000);
  WriteBytes("short.bin", shortFile);
  uint64_t notErased = 0;
  uint32_t firstNotErased = kChipSize;
  for (uint32_t i = 0x10000; i < kChipSize; ++i) {
    if (a[i] == 0xFF) continue;
    ++notErased;
    firstNotErased = std::min(firstNotErased, i);
  }
  const CliRun shorter = Cli("compare a.bin short.bin --json" + std::string(kChip));
  EXPECT_EQ(shorter.status, 1) << shorter.err;
  ASSERT_EQ(shorter.events.size(), 1u) << shorter.out;
  EXPECT_EQ(shorter.events[0]["differing_bytes"], notErased);
  EXPECT_EQ(shorter.events[0]["ranges"][0]["address"], firstNotErased);
}

// One JSON object with every field; --max-ranges cuts the list, not the
// counts.
TEST_F(CliCompareTest, JsonHoldsTheRangesTheCountsAndWhetherTheListWasCut) {
  std::vector<uint8_t> a(0x3000, 0x00);
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>(i * 7);
  WriteBytes("a.bin", a);
  const std::vector<ByteRun> patched = {{0x10, 12}, {0x200, 2}, {0x2FFF, 1}};
  std::vector<uint8_t> b = Patched(a, patched);
  WriteBytes("b.bin", b);
  const CliRun run = Cli("--json compare a.bin b.bin --max-ranges 2" + std::string(kChip));
  EXPECT_EQ(run.status, 1) << run.err;
  ASSERT_EQ(run.events.size(), 1u) << run.out;
  EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << "one line";
  const Json& c = run.events[0];
  EXPECT_EQ(c["event"], "comparison");
  EXPECT_EQ(c["chip"], "W25x10xx");
  EXPECT_EQ(c["a"], "a.bin");
  EXPECT_EQ(c["b"], "b.bin");
  EXPECT_EQ(c["first"], 0);
  EXPECT_EQ(c["last"], kChipSize - 1);
  EXPECT_EQ(c["compared"], kChipSize);
  EXPECT_EQ(c["equal"], false);
  EXPECT_EQ(c["differing_bytes"], 15);
  EXPECT_EQ(c["range_count"], 3);
  EXPECT_EQ(c["truncated"], true);
  ASSERT_EQ(c["ranges"].size(), 2u);
  auto hex = [](const std::vector<uint8_t>& bytes, uint32_t from, uint32_t count) {
    std::string text;
    char pair[3];
    for (uint32_t i = 0; i < count; ++i) {
      std::snprintf(pair, sizeof pair, "%02X", bytes[from + i]);
      text += pair;
    }
    return text;
  };
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const Json& range = c["ranges"][i];
    const uint32_t kept = std::min<uint32_t>(patched[i].length, 8);
    EXPECT_EQ(range["address"], patched[i].address);
    EXPECT_EQ(range["length"], patched[i].length);
    EXPECT_EQ(range["a"], hex(a, patched[i].address, kept));
    EXPECT_EQ(range["b"], hex(b, patched[i].address, kept));
  }
  const CliRun equal = Cli("--json compare a.bin a.bin" + std::string(kChip));
  EXPECT_EQ(equal.status, 0);
  ASSERT_EQ(equal.events.size(), 1u);
  EXPECT_EQ(equal.events[0]["equal"], true);
  EXPECT_EQ(equal.events[0]["differing_bytes"], 0);
  EXPECT_EQ(equal.events[0]["truncated"], false);
  EXPECT_TRUE(equal.events[0]["ranges"].empty());
}

// S-records written by srec_cat from a copy the test patched at random
// places: compare names exactly those places.
TEST_F(CliCompareTest, SRecordsFromSrecCatShowExactlyThePatchedRanges) {
  if (!HaveTool("srec_cat")) GTEST_SKIP() << "srec_cat is not installed";
  const std::vector<uint8_t> base = WriteRandom("base.bin", kChipSize, 3);
  std::mt19937 random(17);
  std::vector<ByteRun> patched;
  for (uint32_t at = random() % 64; at < kChipSize;) {
    const uint32_t length = std::min<uint32_t>(1 + random() % 40, kChipSize - at);
    patched.push_back({at, length});
    at += length + 1 + random() % 2000;
  }
  WriteBytes("patched.bin", Patched(base, patched));
  ASSERT_EQ(std::system(("srec_cat '" + Path("patched.bin") + "' -binary -o '" + Path("patched.s37") +
                         "' -motorola -address-length=4").c_str()),
            0);
  const CliRun run = Cli("compare base.bin patched.s37 --max-ranges 100000" + std::string(kChip));
  EXPECT_EQ(run.status, 1) << run.err;
  ASSERT_GT(patched.size(), 50u);
  EXPECT_EQ(PrintedRanges(run.out), patched);
}

TEST_F(CliCompareTest, BadChipsAndFilesEndWithTheirStatus) {
  WriteRandom("a.bin", 0x100);
  WriteRandom("big.bin", 0x200);
  struct Case {
    std::string words;
    int status;
    const char* error;  // part of standard error
  };
  const Case cases[] = {
      {"compare a.bin a.bin --chip NoSuchChip", 2, "No chip \"NoSuchChip\""},
      {"compare a.bin a.bin", 2, "--chip"},
      {"compare - - --chip 24xx02 <a.bin", 2, "at most one"},
      {"compare a.bin missing.bin --chip 24xx02", 4, "missing.bin"},
      {"compare a.bin big.bin --chip 24xx02", 4, "beyond the end of the chip"},
      {"compare a.bin big.bin --chip 24xx02 --allow-truncate", 0, "beyond the end of the chip"},
      {"compare a.bin a.bin --chip 24xx02 --max-ranges -1", 2, "max-ranges"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    const CliRun run = Cli(c.words);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace velkor::test
