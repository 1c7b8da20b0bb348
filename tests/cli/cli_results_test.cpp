// What velkor-cli sends and what lands in the simulated chips, read from a
// raw capture of the line by a decoder of the tests' own: the settings it
// sends when none is given are the window's, "--whole-chip" covers the chip,
// a download of the 528-byte-page flash carries its spare area, data past
// the chip or ranges past 64 MiB are refused before anything is sent, and a
// file is loaded by what it holds when its extension says nothing.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli_run.hpp"
#include "link/firmware_file.hpp"
#include "e2e/simulated_programmers.hpp"
#include "platform/simulator_process.hpp"
#include "support/pty_pair.hpp"
#include "support/wire_decoder.hpp"

namespace velkor::test {
namespace {

using wire::Packet;

constexpr std::size_t kSmallFlash = 128 * 1024;  // W25x10xx

std::vector<uint32_t> Positions(const std::vector<Packet>& packets) {
  std::vector<uint32_t> positions;
  for (const Packet& p : packets) positions.push_back(p.Parameter() | static_cast<uint32_t>(p.Flags()) << 16);
  return positions;
}

std::vector<uint32_t> Steps(uint32_t first, uint32_t end, uint32_t step) {
  std::vector<uint32_t> positions;
  for (uint32_t at = first; at < end; at += step) positions.push_back(at);
  return positions;
}

class CliWireTest : public CliTest {
 protected:
  // The words that make the simulator capture what it receives.
  std::string Capture(const std::string& name) const { return Sim({"--capture", Path(name)}); }
  // The packets programmer n received in the capture called name.
  std::vector<Packet> Received(const std::string& name, int n = 1) const {
    return wire::Packets(wire::ReadCapture(directory / (name + "." + std::to_string(n))));
  }
  void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream(directory / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
};

// ------------------------------------------------ defaults of the window

// The window's logic and velkor-cli side by side, on programmers of their
// own, each with the same chip and file and no setting touched.
class SameJobTest : public SimulatedProgrammersTest {
 protected:
  void SetUp() override {
    const char* cli = std::getenv("VELKOR_CLI");
    ASSERT_NE(cli, nullptr) << "VELKOR_CLI names the program under test";
    program = cli;
  }
  std::string program;
};

TEST_F(SameJobTest, LeftOutOptionsSendTheWindowsDefaults) {
  struct Case {
    const char* chip;
    uint32_t dataBytes;
  };
  // One chip of each family.
  const Case cases[] = {{"W25x10xx", 5000}, {"24xx04", 512},         {"25xx160", 2048},
                        {"93xx66", 512},    {"GT34C02-xxx", 256},    {"AT45DB16E", 4000}};
  sim = StartSimulator(1, {"--capture", (directory / "window").string()});
  ASSERT_TRUE(sim);
  int downloads = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.chip);
    // A fresh window for each chip, as the command line starts fresh: a
    // chip's entry assigns only its own fields and leaves the others as the
    // chip chosen before it set them.
    programmer.reset();
    programmer = MakeProgrammer();
    ShowOn(sim->Ports(), 1);
    const std::string file = std::string("data-") + std::to_string(downloads) + ".bin";
    std::vector<uint8_t> data(k.dataBytes);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + downloads);
    std::ofstream(directory / file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));

    Choose(k.chip);
    programmer->LoadFile(file);
    programmer->SpdBtnDownLoadClick();
    ASSERT_TRUE(RunToIdle());
    ++downloads;

    const std::string capture = "cli-" + std::to_string(downloads);
    const CliRun run = RunCli(program, directory,
                              "--simulate --sim-count 1 --json --sim-option=--capture --sim-option=" +
                                  (directory / capture).string() + " download --chip " + k.chip + " --file " + file);
    ASSERT_EQ(run.status, 0) << run.out << run.err;

    const auto window = wire::PacketsWithCode(wire::Packets(wire::ReadCapture(directory / "window.1")),
                                              wire::kStartDownload);
    const auto cli = wire::PacketsWithCode(wire::Packets(wire::ReadCapture(directory / (capture + ".1"))),
                                           wire::kStartDownload);
    ASSERT_EQ(window.size(), static_cast<std::size_t>(downloads));
    ASSERT_EQ(cli.size(), 1u);
    ASSERT_TRUE(cli[0].CheckValueOk());
    EXPECT_EQ(wire::StartPacketMeaning(cli[0]), wire::StartPacketMeaning(window.back()));
    // The window's defaults as its controls show them: program and verify
    // ticked, erase and blank check not; a sensor chip unprotected.
    const wire::ParamBlock sent = wire::ReadParamBlock(cli[0], 0x0C);
    EXPECT_EQ(sent.opFlags & 0x8F, 0) << "step flags 0x" << std::hex << int{sent.opFlags};
  }
}

// ------------------------------------------------ whole chip

TEST_F(CliWireTest, WholeChipProgramsEveryBlockOfTheChipWithAFile) {
  WriteRandom("small.bin", 1000);
  struct Case {
    const char* extra;
    std::vector<uint32_t> positions;
  };
  const Case cases[] = {{"", {0}}, {" --whole-chip", Steps(0, kSmallFlash / 1024, 4)}};
  int run = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.extra);
    const std::string name = "wire-" + std::to_string(++run);
    const CliRun done =
        Cli("--simulate --sim-count 1 --json" + Capture(name) + " program --chip W25x10xx --file small.bin" + k.extra);
    ASSERT_EQ(done.status, 0) << done.out << done.err;
    EXPECT_EQ(Positions(wire::PacketsWithCode(Received(name), wire::kProgramBlock)), k.positions);
  }
}

// ------------------------------------------------ 528-byte-page flash

TEST_F(CliWireTest, DownloadOfThePageFlashCarriesItsSpareArea) {
  constexpr uint32_t kPages = 4096, kPage = 528, kMain = 512, kSpare = 16;
  std::vector<uint8_t> file(kPages * kPage);
  for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>((i * 131) >> 3);
  WriteBytes("pages.bin", file);
  // The image the programmer must hold: the pages' data first, then the
  // sixteen spare bytes of every page from 2 MiB on.
  std::vector<uint8_t> expected(kPages * kPage);
  for (uint32_t p = 0; p < kPages; ++p) {
    std::copy_n(file.begin() + p * kPage, kMain, expected.begin() + p * kMain);
    std::copy_n(file.begin() + p * kPage + kMain, kSpare, expected.begin() + kPages * kMain + p * kSpare);
  }

  const CliRun run = Cli("--simulate --sim-count 1 --json" + Capture("wire") + " download --chip AT45DB16E --file pages.bin");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const auto packets = Received("wire");
  const auto start = wire::PacketsWithCode(packets, wire::kStartDownload);
  ASSERT_EQ(start.size(), 1u);
  const wire::ParamBlock announced = wire::ReadParamBlock(start[0], 0x0C);
  EXPECT_EQ(announced.sizeKB, 2112);
  EXPECT_EQ(announced.crc, wire::CheckValue(expected.data(), expected.size()));

  const auto blocks = wire::PacketsWithCode(packets, wire::kDownloadBlock);
  ASSERT_EQ(Positions(blocks), Steps(0, 2112, 4));
  std::vector<uint8_t> sent;
  for (const Packet& b : blocks) {
    ASSERT_TRUE(b.CheckValueOk());
    const auto payload = b.Payload(0, 4096);
    sent.insert(sent.end(), payload.begin(), payload.end());
  }
  EXPECT_TRUE(sent == expected) << "the download blocks are not the image, spare area included";
}

// ------------------------------------------------ data past the chip

TEST_F(CliWireTest, DataPastTheChipIsRefusedUnlessTruncationIsAllowed) {
  const auto data = WriteRandom("big.bin", 100000);
  fs::create_directories(directory / "chips");
  const CliRun refused = Cli("--simulate --sim-count 1 --json" + Capture("refused") + " program --chip 24xx02 --file big.bin");
  EXPECT_EQ(refused.status, 4) << refused.out << refused.err;
  EXPECT_TRUE(Received("refused").empty()) << "nothing may reach the programmer";
  const std::string said = refused.out + refused.err;
  EXPECT_NE(said.find("0x0001869F"), std::string::npos) << said;  // the file's end
  EXPECT_NE(said.find("0x000000FF"), std::string::npos) << said;  // the chip's end
  EXPECT_NE(said.find("--allow-truncate"), std::string::npos) << said;

  const CliRun allowed = Cli("--simulate --sim-count 1 --json" + Sim({"--dump-chips", Path("chips")}) +
                             " program --chip 24xx02 --file big.bin --allow-truncate");
  ASSERT_EQ(allowed.status, 0) << allowed.out << allowed.err;
  const auto chip = ReadBytes(directory / "chips" / "programmer-1.bin");
  ASSERT_EQ(chip.size(), 256u);
  EXPECT_TRUE(std::equal(chip.begin(), chip.end(), data.begin()));

  EXPECT_EQ(Cli("convert big.bin out.bin --chip 24xx02").status, 4);
  ASSERT_EQ(Cli("convert big.bin out.bin --chip 24xx02 --allow-truncate").status, 0);
  EXPECT_EQ(ReadBytes(directory / "out.bin"), std::vector<uint8_t>(data.begin(), data.begin() + 256));
}

// ------------------------------------------------ format by content

TEST_F(CliWireTest, AFileWithAnUnknownExtensionIsLoadedByItsContent) {
  const auto data = WriteRandom("data.bin", 3000);
  // The record files come from srec_cat, not from this program.
  ASSERT_EQ(std::system(("srec_cat '" + Path("data.bin") + "' -binary -o '" + Path("fw.ihx") + "' -intel").c_str()), 0);
  ASSERT_EQ(std::system(("srec_cat '" + Path("data.bin") + "' -binary -o '" + Path("fw.s3rec") + "' -motorola").c_str()),
            0);
  const auto hexText = ReadBytes(directory / "fw.ihx");
  struct Case {
    const char* file;
    const char* extra;
    std::vector<uint8_t> chipStartsWith;
    const char* logged;  // a log line that says how it was read
  };
  const Case cases[] = {
      {"fw.ihx", "", data, "is loaded as Intel HEX"},
      {"fw.s3rec", "", data, "is loaded as S-records"},
      {"fw.ihx", " --format bin", hexText, nullptr},  // asked for: the text's bytes
      {"data.bin", " --format auto", data, nullptr},
  };
  int run = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.file) + k.extra);
    const std::string chips = "chips-" + std::to_string(++run);
    fs::create_directories(directory / chips);
    const CliRun done = Cli("--simulate --sim-count 1 --json --log" + Sim({"--dump-chips", Path(chips)}) +
                            " program --chip W25x10xx --file " + k.file + k.extra);
    ASSERT_EQ(done.status, 0) << done.out << done.err;
    const auto chip = ReadBytes(directory / chips / "programmer-1.bin");
    ASSERT_GE(chip.size(), k.chipStartsWith.size());
    EXPECT_TRUE(std::equal(k.chipStartsWith.begin(), k.chipStartsWith.end(), chip.begin()));
    if (k.logged) {
      EXPECT_NE(done.out.find(k.logged), std::string::npos) << done.out;
    }
  }
  // A binary file with an unknown name stays binary.
  WriteBytes("image.img", data);
  fs::create_directories(directory / "chips-img");
  ASSERT_EQ(Cli("--simulate --sim-count 1 --json" + Sim({"--dump-chips", Path("chips-img")}) +
                " program --chip W25x10xx --file image.img")
                .status,
            0);
  const auto chip = ReadBytes(directory / "chips-img" / "programmer-1.bin");
  EXPECT_TRUE(std::equal(data.begin(), data.end(), chip.begin()));
}

// ------------------------------------------------ 64 MiB and more

TEST_F(CliWireTest, RangesOf64MiBAndMoreNeedExtendedAddressing) {
  // A few bytes just past 64 MiB: the used range reaches 64 MiB + 4 KB.
  const auto tail = WriteRandom("tail.bin", 16, 3);
  ASSERT_EQ(std::system(("srec_cat '" + Path("tail.bin") + "' -binary -offset 0x4000100 -o '" + Path("high.hex") +
                         "' -intel -address-length=4")
                            .c_str()),
            0);
  for (const char* operation : {"program", "download", "verify"}) {
    SCOPED_TRACE(operation);
    const std::string name = std::string("refused-") + operation;
    const CliRun refused =
        Cli("--simulate --sim-count 1 --json" + Capture(name) + " " + operation + " --chip GD55B01GE --file high.hex");
    EXPECT_EQ(refused.status, 4) << refused.out << refused.err;
    EXPECT_TRUE(Received(name).empty()) << "nothing may reach the programmer";
    EXPECT_NE((refused.out + refused.err).find("64 MiB or more"), std::string::npos) << refused.out << refused.err;
  }

  const CliRun extended = Cli("--simulate --sim-count 1 --json" + Capture("extended") +
                              " program --chip GD55B01GE --file high.hex --extended-addressing");
  ASSERT_EQ(extended.status, 0) << extended.out << extended.err;
  const auto blocks = wire::PacketsWithCode(Received("extended"), wire::kProgramBlock);
  ASSERT_EQ(Positions(blocks), Steps(0, 65540, 4));
  const Packet& last = blocks.back();
  EXPECT_EQ(last.Parameter(), 0);
  EXPECT_EQ(last.Flags(), 1);
  // Its data is the image's from 64 MiB on, not the lower half's.
  EXPECT_EQ(last.Payload(48 + 0x100, tail.size()), tail);
  const wire::ParamBlock header = wire::ReadParamBlock(last, 0x08);
  EXPECT_EQ(header.sizeKB | static_cast<uint32_t>(header.spareHigh) << 16, 65540u);
}

// ------------------------------------------------ records

TEST_F(CliWireTest, ARecordThatCannotBeWrittenIsRefusedBeforeAnyChipOrFailsTheRun) {
  WriteRandom("data.bin", 512);
  // Refused before anything is sent: a folder that does not exist, a
  // folder in the file's place.
  fs::create_directories(directory / "a-folder");
  int run = 0;
  struct Case {
    const char* option;
    const char* path;
  };
  for (const Case& k : {Case{"--record", "missing/trace.jsonl"}, Case{"--record", "a-folder"},
                        Case{"--log-file", "missing/run.log"}}) {
    SCOPED_TRACE(k.path);
    const std::string name = "refused-" + std::to_string(++run);
    const CliRun refused = Cli("--simulate --sim-count 1 --json " + std::string(k.option) + " " + k.path +
                               Capture(name) + " program --chip 24xx04 --file data.bin");
    EXPECT_EQ(refused.status, 4) << refused.out << refused.err;
    EXPECT_TRUE(Received(name).empty()) << "nothing may reach the programmer";
    EXPECT_NE((refused.out + refused.err).find(k.path), std::string::npos);
  }

  // A record that stops growing during the run (a full disk, here the
  // file-size limit of 140 MiB, above the image's memory, and a sparse
  // record already past it): the run ends non-zero and says where and why,
  // and the record keeps no fragment.
  const std::uintmax_t earlier = 141u << 20;
  std::ofstream(directory / "trace.jsonl").close();
  fs::resize_file(directory / "trace.jsonl", earlier);
  const CliRun full = RunCli(program, directory,
                             "--simulate --sim-count 1 --json --record trace.jsonl program --chip 24xx04 --file data.bin",
                             "ulimit -f 286720");
  EXPECT_EQ(full.status, 1) << full.out << full.err;
  ASSERT_EQ(full.Events("result").size(), 1u);
  EXPECT_EQ(full.Events("result")[0]["result"], "ok") << "the chip itself is fine";
  EXPECT_NE((full.out + full.err).find("The traceability record could not be written"), std::string::npos)
      << full.out << full.err;
  EXPECT_NE((full.out + full.err).find("trace.jsonl"), std::string::npos);
  EXPECT_EQ(fs::file_size(directory / "trace.jsonl"), earlier);
}

// ------------------------------------------------ signals

TEST_F(CliWireTest, AStopSignalRecordsEveryStartedChipAndALostOutputFailsTheRun) {
  WriteRandom("data.bin", 4096);
  const std::string run = "'" + program + "' --simulate --plain --sim-option=--pace --sim-option=--block-time-us "
                          "--sim-option=20000 --sim-option=--capture --sim-option=wire --record rec.jsonl --log-file run.log "
                          "program --chip W25x10xx "
                          "--file data.bin --whole-chip";
  // Waits until both programmers have taken a few program blocks.
  const std::string started =
      "for i in $(seq 1 600); do [ $(stat -c %s wire.1 2>/dev/null || echo 0) -gt 20000 ] && "
      "[ $(stat -c %s wire.2 2>/dev/null || echo 0) -gt 20000 ] && break; sleep 0.1; done;";
  struct Case {
    const char* name;
    std::string script;  // prints the exit status last
    int status;
    const char* recorded;  // in each record line
  };
  const Case cases[] = {
      {"SIGHUP", run + " >out.txt 2>&1 & pid=$!; " + started + " kill -HUP $pid; wait $pid; echo $?", 1,
       "Interrupted by SIGHUP"},
      {"SIGTERM", run + " >out.txt 2>&1 & pid=$!; " + started + " kill -TERM $pid; wait $pid; echo $?", 1,
       "Interrupted by SIGTERM"},
      // The reader of the output goes away at once: the chips are still
      // programmed and recorded, and the run does not end as a success.
      {"closed output",
       "(" + run + " 2>/dev/null; echo $? >status.txt) | true; "
                   "for i in $(seq 1 600); do [ -s status.txt ] && break; sleep 0.1; done; cat status.txt",
       1,
       "\"result\":\"ok\""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    fs::remove(directory / "rec.jsonl");
    fs::remove(directory / "status.txt");
    fs::remove(directory / "wire.1");
    fs::remove(directory / "wire.2");
    // Not "cd && script": the background job would be the whole list.
    const std::string command = "cd '" + directory.string() + "' || exit 9; " + k.script;
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[256];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    ::pclose(pipe);
    // The script's last line is the program's exit status.
    while (!out.empty() && out.back() == '\n') out.pop_back();
    const std::string last = out.substr(out.rfind('\n') == std::string::npos ? 0 : out.rfind('\n') + 1);
    EXPECT_EQ(last, std::to_string(k.status)) << out;
    std::ifstream record(directory / "rec.jsonl");
    int lines = 0;
    for (std::string line; std::getline(record, line); ++lines) {
      const Json parsed = Json::parse(line);  // every line whole JSON
      EXPECT_NE(line.find(k.recorded), std::string::npos) << line;
      EXPECT_EQ(parsed["programmer_id"], "Velkor350QN V3.10");
    }
    EXPECT_EQ(lines, 2) << "one line per started chip";
    EXPECT_TRUE(fs::exists(directory / "run.log"));
  }
}

// ------------------------------------------------ named ports

TEST_F(CliWireTest, ANamedPortWithoutAProgrammerIsNamedAndFailsTheCommand) {
  std::string error;
  const auto sim = SimulatorProcess::Start(FindSimulatorProgram(), {"--count", "1"}, 1, std::chrono::seconds(10), error,
                                           "/dev/null");
  ASSERT_TRUE(sim) << error;
  PtyPair silent;
  // Held as a terminal program holds its port.
  PtyPair held;
  const int holder = ::open(held.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  const std::string heldBy = held.SlavePath() + "): it is in use by PID " + std::to_string(::getpid());
  struct Case {
    std::string ports;
    bool allowMissing;
    int status;
    std::string named;  // in the messages; empty: none missing
    std::size_t detected;
    int number = 1;  // the found programmer's number
  };
  const Case cases[] = {
      {sim->Ports()[0], false, 0, "", 1},
      {sim->Ports()[0] + ",/nonexistent/ttyUSB7", false, 3, "/nonexistent/ttyUSB7 (/nonexistent/ttyUSB7): it does not exist",
       0},
      {sim->Ports()[0] + "," + silent.SlavePath(), false, 3, silent.SlavePath() + "): no programmer answered on it", 0},
      {sim->Ports()[0] + ",/dev/null", false, 3, "/dev/null (/dev/null): it is not a serial device", 0},
      {sim->Ports()[0] + "," + held.SlavePath(), false, 3, heldBy, 0},
      {sim->Ports()[0] + ",/nonexistent/ttyUSB7", true, 0, "/nonexistent/ttyUSB7", 1},
      // An unusable first port keeps its place: the second is programmer 2.
      {"/nonexistent/ttyUSB7," + sim->Ports()[0], true, 0, "/nonexistent/ttyUSB7", 1, 2},
      {"/nonexistent/ttyUSB7," + sim->Ports()[0], false, 3, "/nonexistent/ttyUSB7", 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.ports + (k.allowMissing ? " --allow-missing" : ""));
    const CliRun run =
        Cli("--json --search-ms 1500 --ports " + k.ports + (k.allowMissing ? " --allow-missing" : "") + " detect");
    EXPECT_EQ(run.status, k.status) << run.out << run.err;
    if (!k.named.empty()) {
      EXPECT_NE(run.out.find(k.named), std::string::npos) << run.out;
    }
    EXPECT_EQ(run.Events("detected").size(), k.detected) << run.out;
    const auto found = run.Events("programmer");
    if (k.status == 0) {
      ASSERT_EQ(found.size(), 1u) << run.out;
      EXPECT_EQ(found[0]["programmer"], k.number);
      EXPECT_EQ(found[0]["port"], sim->Ports()[0]);
    }
  }
  // The port listing gives the same reason.
  const CliRun listing = Cli("--json --ports " + held.SlavePath() + " ports");
  ASSERT_EQ(listing.Events("port").size(), 1u) << listing.out;
  EXPECT_EQ(listing.Events("port")[0]["access"], "in use");
  EXPECT_EQ(std::string(listing.Events("port")[0]["why"]).rfind("it is in use by PID " + std::to_string(::getpid()), 0),
            0u);
  ::close(holder);
}

// ------------------------------------------------ refusals

TEST_F(CliWireTest, EveryRefusalNamesTheFileTheReasonAndWhatWasKept) {
  const auto write = [this](const std::string& name, const std::string& text) {
    std::ofstream(directory / name, std::ios::binary) << text;
  };
  write("empty.bin", "");
  write("empty.hex", "");
  write("end-only.hex", ":00000001FF\n");
  write("header-only.s19", "S00600004844521B\nS9030000FC\n");
  write("blank.txt", "\n\n");
  write("garbage.vpj", "not a project\n");
  struct Case {
    std::string words;
    int status;
    std::vector<std::string> said;
  };
  const std::string noData = "holds no data (";
  const Case cases[] = {
      {"program --chip 24xx04 --file empty.bin", 4, {"empty.bin\" " + noData + "it is empty)"}},
      {"program --chip 24xx04 --file empty.hex", 4, {"empty.hex\" " + noData + "no data records)"}},
      {"auto --chip 24xx04 --file end-only.hex", 4, {"end-only.hex\" " + noData + "no data records)"}},
      {"program --chip W25x10xx --file header-only.s19", 4, {noData + "no data records)"}},
      {"program --chip 24xx04 --file blank.txt --format txt", 4, {noData + "no data records)"}},
      {"program --chip 24xx04 --file missing.bin", 4, {"Read File Data Error!", "missing.bin: No such file"}},
      {"program --project garbage.vpj", 4,
       {"garbage.vpj\" was refused: it does not begin with a project file's two mark bytes; nothing was taken"}},
  };
  int run = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.words);
    const std::string name = "refused-" + std::to_string(++run);
    const CliRun refused = Cli("--simulate --sim-count 1 --json" + Capture(name) + " " + k.words);
    EXPECT_EQ(refused.status, k.status) << refused.out << refused.err;
    const std::string messages = refused.MessageTexts();
    for (const std::string& text : k.said) EXPECT_NE(messages.find(text), std::string::npos) << text << "\n" << messages;
    EXPECT_TRUE(Received(name).empty()) << "nothing may reach the programmer";
  }

  // A programmer holding its boot loader only, beside a firmware file that
  // cannot be used: it answered, and the file is what is wrong.
  WriteRandom(kFirmwareFileName, 1000);
  const CliRun bare = Cli("--simulate --sim-count 1" + Sim({"--name", "VelkorQN"}) + " detect");
  EXPECT_EQ(bare.status, 3) << bare.out << bare.err;
  const std::string said = bare.out + bare.err;
  EXPECT_EQ(said.find("no programmer answered"), std::string::npos) << said;
  EXPECT_NE(said.find("holds its boot loader only"), std::string::npos) << said;
  EXPECT_NE(said.find("the firmware file cannot be used (the file holds only 1000 bytes"), std::string::npos) << said;
}

// ------------------------------------------------ values

TEST_F(CliWireTest, ValuesOutOfTheirFieldsAreRefusedBeforeAnyPortIsOpened) {
  WriteRandom("data.bin", 512);
  struct Case {
    const char* words;
    int status;
    const char* named;
  };
  const Case cases[] = {
      {"program --chip 24xx04 --file data.bin --sn 1 --sn-step 0x10000", 2, "--sn-step"},
      {"program --chip 24xx04 --file data.bin --sn 1 --sn-step -1", 2, "--sn-step"},
      {"program --chip 24xx04 --file data.bin --sn 1 --sn-step 0", 2, "--sn-step"},
      {"program --chip 24xx04 --file data.bin --sn twelve", 2, "--sn"},
      {"program --chip 24xx04 --file data.bin --sn 1 --sn-address 0x1G", 2, "--sn-address"},
      {"program --chip 24xx04 --file data.bin --device-address 0x1FF", 2, "--device-address"},
      {"program --chip 24xx04 --file data.bin --device-address A0", 2, "--device-address"},
      {"read --chip 24xx04 --output missing/chip.bin", 4, "missing/chip.bin"},
  };
  int run = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.words);
    const std::string name = "values-" + std::to_string(++run);
    const CliRun refused = Cli("--simulate --sim-count 1 --json" + Capture(name) + " " + k.words);
    EXPECT_EQ(refused.status, k.status) << refused.out << refused.err;
    EXPECT_FALSE(fs::exists(directory / (name + ".1"))) << "the programmers were started";
    EXPECT_NE((refused.out + refused.err).find(k.named), std::string::npos) << refused.out << refused.err;
  }
  // The largest values of each field pass.
  const CliRun largest = Cli("--simulate --sim-count 1 --json program --chip 24xx04 --file data.bin --sn 0xFFFFFFFF "
                             "--sn-step 0xFFFF --sn-address 0x10 --device-address 0xAE");
  EXPECT_EQ(largest.status, 0) << largest.out << largest.err;
}

// ------------------------------------------------ host-side numbers

TEST_F(CliWireTest, HostSideNumbersOnTwoProgrammersGiveEachChipItsOwn) {
  WriteRandom("data.bin", 512);
  fs::create_directories(directory / "chips");
  const CliRun run = Cli("--simulate --json" + Sim({"--dump-chips", Path("chips")}) +
                         " auto --chip 24xx04 --file data.bin --sn 0x10 --sn-address 0x10 --sn-host");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const auto results = run.Events("result");
  ASSERT_EQ(results.size(), 2u) << run.out;
  EXPECT_EQ(results[0]["serial_number"], 0x10);
  EXPECT_EQ(results[1]["serial_number"], 0x11);
  for (int n = 1; n <= 2; ++n) {
    const auto chip = ReadBytes(directory / "chips" / ("programmer-" + std::to_string(n) + ".bin"));
    ASSERT_GE(chip.size(), 0x14u);
    EXPECT_EQ(chip[0x10], 0x10 + n - 1) << "programmer " << n;
  }
}


// ------------------------------------------------ more than two programmers

TEST_F(CliWireTest, EightProgrammersRunAsGroupsAndNumberTheirChipsFromOneCounter) {
  const auto data = WriteRandom("data.bin", 60000);
  fs::create_directories(directory / "chips");
  const CliRun detect = Cli("--simulate --sim-count 8 --json detect");
  ASSERT_EQ(detect.status, 0) << detect.out << detect.err;
  std::vector<int> listed;
  for (const Json& d : detect.Events("detected")) listed.push_back(d["programmer"]);
  EXPECT_EQ(listed, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));

  constexpr uint32_t kFirst = 0x1000;
  constexpr uint32_t kStep = 3;
  constexpr uint32_t kAddress = 0x20;
  const CliRun run = Cli("--simulate --sim-count 8 --json --record rec.jsonl" + Sim({"--dump-chips", Path("chips")}) +
                         " auto --chip W25x05xx --file data.bin --sn 0x1000 --sn-step 3 --sn-address 0x20 --sn-host");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const auto results = run.Events("result");
  ASSERT_EQ(results.size(), 8u) << run.out;
  std::set<uint32_t> numbers;
  std::map<int, uint32_t> numberOf;
  for (const Json& r : results) {
    EXPECT_EQ(r["result"], "ok");
    numbers.insert(r["serial_number"].get<uint32_t>());
    numberOf[r["programmer"].get<int>()] = r["serial_number"].get<uint32_t>();
  }
  std::set<uint32_t> expected;
  for (uint32_t k = 0; k < 8; ++k) expected.insert(kFirst + k * kStep);
  EXPECT_EQ(numbers, expected) << "every chip its own number, none skipped";
  ASSERT_EQ(numberOf.size(), 8u) << "one result per programmer";

  // What landed in each simulated chip: the file, with that programmer's
  // number at its address, little-endian.
  for (const auto& [programmer, number] : numberOf) {
    SCOPED_TRACE(programmer);
    auto want = std::vector<uint8_t>(data.begin(), data.end());
    for (uint32_t i = 0; i < 4; ++i) want[kAddress + i] = static_cast<uint8_t>(number >> (8 * i));
    const auto chip = ReadBytes(directory / "chips" / ("programmer-" + std::to_string(programmer) + ".bin"));
    ASSERT_GE(chip.size(), want.size());
    EXPECT_TRUE(std::equal(want.begin(), want.end(), chip.begin()));
  }
  std::ifstream record(directory / "rec.jsonl");
  std::map<int, uint32_t> recorded;
  for (std::string line; std::getline(record, line);) {
    const Json parsed = Json::parse(line);
    recorded[parsed["programmer"].get<int>()] = parsed["serial_number"].get<uint32_t>();
  }
  EXPECT_EQ(recorded, numberOf) << "the record names each programmer by its number in the run";

  // A read runs on programmer 1 only, however many there are.
  const CliRun read = Cli("--simulate --sim-count 8 --json read --chip W25x05xx --output chip.bin");
  ASSERT_EQ(read.status, 0) << read.out << read.err;
  ASSERT_EQ(read.Events("result").size(), 1u);
  EXPECT_EQ(read.Events("result")[0]["programmer"], 1);
}

// ------------------------------------------------ digests

// What sha256sum and gzip (whose trailer holds the CRC-32) say of a file.
std::pair<std::string, std::string> IndependentDigests(const fs::path& file) {
  const std::string command = "sha256sum '" + file.string() + "' | cut -c1-64; gzip -c '" + file.string() +
                              "' | tail -c8 | head -c4 | od -An -tx4 | tr -d ' \\n'";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string out;
  char buffer[256];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  ::pclose(pipe);
  const auto newline = out.find('\n');
  std::string crc = out.substr(newline + 1);
  for (char& c : crc) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return {out.substr(0, newline), "0x" + crc};
}

TEST_F(CliWireTest, ReadsAndRecordsCarryDigestsThatIndependentToolsAgreeWith) {
  WriteRandom("data.bin", 256);
  const auto [fileSha, fileCrc] = IndependentDigests(directory / "data.bin");
  ASSERT_EQ(fileSha.size(), 64u);
  const CliRun program = Cli("--simulate --json --record rec.jsonl program --chip 24xx02 --file data.bin");
  ASSERT_EQ(program.status, 0) << program.out << program.err;
  const auto loaded = program.Events("loaded");
  ASSERT_EQ(loaded.size(), 1u) << program.out;
  EXPECT_EQ(loaded[0]["sha256"], fileSha) << "the load names the digest of the whole file, the chip's 256 bytes";
  EXPECT_EQ(loaded[0]["crc32"], fileCrc);
  EXPECT_EQ(loaded[0]["end"], 255);
  std::ifstream record(directory / "rec.jsonl");
  int lines = 0;
  for (std::string line; std::getline(record, line); ++lines) {
    const Json parsed = Json::parse(line);
    EXPECT_EQ(parsed["sha256"], fileSha) << "the record's digest is the data the chip was given";
    EXPECT_EQ(parsed["crc32"], fileCrc);
  }
  EXPECT_EQ(lines, 2);

  const CliRun read = Cli("--simulate --json" + Sim({"--chip-content", Path("data.bin")}) +
                          " read --chip 24xx02 --output chip.bin");
  ASSERT_EQ(read.status, 0) << read.out << read.err;
  const auto written = read.Events("file");
  ASSERT_EQ(written.size(), 1u);
  const auto [readSha, readCrc] = IndependentDigests(directory / "chip.bin");
  EXPECT_EQ(written[0]["sha256"], readSha);
  EXPECT_EQ(written[0]["crc32"], readCrc);
  EXPECT_EQ(readSha, fileSha) << "the chip held the file";
}

}  // namespace
}  // namespace velkor::test
