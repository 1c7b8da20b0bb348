// Saved images in the format their name (or --format/--output-format)
// asks for, and "-" for standard output and standard input: checked by
// converting back with srec_cat, and against the bytes the simulated chip
// was given.
#include <algorithm>
#include <cstring>

#include "cli/cli_run.hpp"

namespace velkor::test {
namespace {

constexpr std::size_t kSmallFlash = 131072;  // W25x10xx

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

class CliFormatsTest : public CliTest {
 protected:
  // The chip's bytes after it was given content: content, then erased.
  static std::vector<uint8_t> ChipHolding(const std::vector<uint8_t>& content, std::size_t size) {
    std::vector<uint8_t> chip(size, 0xFF);
    std::copy(content.begin(), content.end(), chip.begin());
    return chip;
  }
  // srec_cat's binary of a record file (format "-intel" or "-motorola").
  std::vector<uint8_t> BackToBinary(const std::string& file, const char* format) const {
    const std::string out = Path(file + ".back.bin");
    const std::string command = "srec_cat '" + Path(file) + "' " + format + " -o '" + out + "' -binary";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return ReadBytes(out);
  }
  // The JSON events velkor-cli wrote to standard error (standard output
  // held the data).
  static std::vector<Json> ErrorEvents(const CliRun& run, const std::string& kind) {
    std::vector<Json> found;
    std::istringstream lines(run.err);
    for (std::string line; std::getline(lines, line);) {
      if (line.empty() || line.front() != '{') continue;
      const Json event = Json::parse(line);
      if (event.value("event", "") == kind) found.push_back(event);
    }
    return found;
  }
};

// read -o -: standard output holds the chip's bytes and nothing else, the
// same bytes read -o FILE saves; the events went to standard error.
TEST_F(CliFormatsTest, ReadToStandardOutputGivesExactlyTheChipsBytes) {
  const auto content = WriteRandom("content.bin", 70000);
  const std::string chip = "--simulate --sim-count 1" + Sim({"--chip-content", Path("content.bin")});
  for (const char* style : {" --json", " --plain", ""}) {
    SCOPED_TRACE(style);
    const CliRun piped = Cli(chip + style + " read --chip W25x10xx -o - >piped.bin");
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(ReadBytes(directory / "piped.bin"), ChipHolding(content, kSmallFlash));
    if (std::string(style) == " --json") {
      ASSERT_EQ(ErrorEvents(piped, "file").size(), 1u) << piped.err;
      EXPECT_EQ(ErrorEvents(piped, "file")[0]["path"], "-");
      EXPECT_EQ(ErrorEvents(piped, "file")[0]["bytes"], kSmallFlash);
      EXPECT_EQ(ErrorEvents(piped, "end").size(), 1u);
    }
  }
  const CliRun saved = Cli(chip + " --json read --chip W25x10xx -o saved.bin");
  ASSERT_EQ(saved.status, 0) << saved.out << saved.err;
  EXPECT_EQ(ReadBytes(directory / "saved.bin"), ReadBytes(directory / "piped.bin"));
}

// read -o NAME writes the format of NAME's extension, or the one --format
// forces; srec_cat reads every record file back to the chip's bytes.
TEST_F(CliFormatsTest, ReadWritesTheFormatOfTheNameOrTheOneAskedFor) {
  if (!HaveTool("srec_cat")) GTEST_SKIP() << "srec_cat is not installed";
  const auto content = WriteRandom("content.bin", 90000, 11);
  const auto expected = ChipHolding(content, kSmallFlash);
  struct Case {
    const char* words;     // after "read --chip W25x10xx"
    const char* file;      // what holds the data
    const char* recordFormat;  // srec_cat's input option; nullptr: binary
    const char* firstChars;    // how the file starts
  };
  const Case cases[] = {
      {" -o chip.hex", "chip.hex", "-intel", ":"},
      {" -o chip.ihx", "chip.ihx", "-intel", ":"},
      {" -o chip.s19", "chip.s19", "-motorola", "S0"},
      {" -o chip.SREC", "chip.SREC", "-motorola", "S0"},
      {" -o chip.dat --format hex", "chip.dat", "-intel", ":"},
      {" -o chip.hex --format bin", "chip.hex", nullptr, ""},
      {" -o - --format srec >piped.srec", "piped.srec", "-motorola", "S0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    const CliRun run = Cli("--simulate --sim-count 1 --json" + Sim({"--chip-content", Path("content.bin")}) +
                           " read --chip W25x10xx" + c.words);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const auto written = ReadBytes(directory / c.file);
    ASSERT_FALSE(written.empty());
    EXPECT_TRUE(std::equal(c.firstChars, c.firstChars + std::strlen(c.firstChars), written.begin()));
    EXPECT_EQ(c.recordFormat ? BackToBinary(c.file, c.recordFormat) : written, expected);
    fs::remove(directory / c.file);
  }
}

// convert - OUT: the file from standard input, Intel HEX and S-records
// recognised by their content (or named by --format); convert IN - writes
// standard output, binary unless --output-format names another. The record
// files given come from srec_cat.
TEST_F(CliFormatsTest, ConvertReadsStandardInputAndWritesStandardOutput) {
  if (!HaveTool("srec_cat")) GTEST_SKIP() << "srec_cat is not installed";
  const auto data = WriteRandom("data.bin", 200);
  ASSERT_EQ(std::system(("srec_cat '" + Path("data.bin") + "' -binary -offset 0x20 -o '" + Path("data.hex") +
                         "' -intel").c_str()),
            0);
  ASSERT_EQ(std::system(("srec_cat '" + Path("data.bin") + "' -binary -offset 0x20 -o '" + Path("data.s28") +
                         "' -motorola").c_str()),
            0);
  // A 24xx02 holds 256 bytes: the data from 0x20, erased around it.
  std::vector<uint8_t> expected(256, 0xFF);
  std::copy(data.begin(), data.end(), expected.begin() + 0x20);
  struct Case {
    const char* words;
    const char* file;
    const char* recordFormat;
  };
  const Case cases[] = {
      {"convert - out.bin --chip 24xx02 <data.hex", "out.bin", nullptr},
      {"convert - out.bin --chip 24xx02 <data.s28", "out.bin", nullptr},
      {"convert - out.bin --chip 24xx02 --format srec <data.s28", "out.bin", nullptr},
      {"convert data.hex - --chip 24xx02 >out.bin", "out.bin", nullptr},
      {"convert data.hex - --chip 24xx02 --output-format hex >out.hex", "out.hex", "-intel"},
      {"convert - - --chip 24xx02 --output-format srec <data.hex >out.srec", "out.srec", "-motorola"},
      {"convert data.s28 out.txt --chip 24xx02 --output-format hex", "out.txt", "-intel"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    const CliRun run = Cli(c.words);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(c.recordFormat ? BackToBinary(c.file, c.recordFormat) : ReadBytes(directory / c.file), expected);
    fs::remove(directory / c.file);
  }
  // program --file -: the chip gets the data from standard input.
  fs::create_directories(directory / "chips");
  const CliRun programmed =
      Cli("--simulate --sim-count 1 --json" + Sim({"--dump-chips", Path("chips")}) +
          " program --chip 24xx02 --file - <data.hex");
  ASSERT_EQ(programmed.status, 0) << programmed.out << programmed.err;
  EXPECT_EQ(ReadBytes(directory / "chips" / "programmer-1.bin"), expected);
}

// A save that cannot be written fails the command with the reason, never
// in silence.
TEST_F(CliFormatsTest, AWriteThatFailsFailsTheCommand) {
  WriteRandom("data.bin", 256);
  struct Case {
    const char* words;
    const char* why;
  };
  const Case cases[] = {
      {"convert data.bin - --chip 24xx02 >/dev/full", "No space left on device"},
      {"convert data.bin - --chip 24xx02 --output-format hex >/dev/full", "No space left on device"},
      {"convert data.bin no-folder/x.hex --chip 24xx02", "No such file or directory"},
      {"--simulate --sim-count 1 read --chip 24xx02 -o - >/dev/full", "No space left on device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    const CliRun run = Cli(c.words);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.err.find(c.why), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(directory / "no-folder"));
}

}  // namespace
}  // namespace velkor::test
