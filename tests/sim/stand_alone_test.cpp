// The programmer's stand-alone cycle, on jobs downloaded with the host's
// own packets.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "host_packets.hpp"
#include "sim/identification.hpp"

namespace velkor::sim {
namespace {

using namespace testing;

constexpr uint8_t kFlash = 0x05;
constexpr uint8_t kI2cEeprom = 0xA0;
constexpr uint8_t kSensor = 0xD0;
constexpr uint8_t kOn = 0x0F;

struct Report {
  uint8_t stage = 0;
  uint8_t result = 0;
  uint16_t done = 0;
  uint16_t total = 0;
  bool operator==(const Report&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Report& r) {
  return out << "{stage 0x" << std::hex << int{r.stage} << ", result 0x" << int{r.result} << std::dec << ", "
             << r.done << "/" << r.total << "}";
}

// Everything the programmer sent, each packet a progress report whose eight
// bytes sum to 0.
std::vector<Report> Reports(ModelHarness& programmer) {
  std::vector<Report> reports;
  for (const Packet& p : DecodeFrames(programmer.TakeAll())) {
    if (p.size() != 8 || p[0] != 0xFD) {
      ADD_FAILURE() << "a packet of " << p.size() << " bytes that is no progress report";
      continue;
    }
    uint8_t sum = 0;
    for (uint8_t b : p) sum = static_cast<uint8_t>(sum + b);
    EXPECT_EQ(sum, 0) << "check byte of the report of stage 0x" << std::hex << int{p[1]};
    reports.push_back({p[1], p[2], static_cast<uint16_t>(p[3] | p[4] << 8), static_cast<uint16_t>(p[5] | p[6] << 8)});
  }
  return reports;
}

std::vector<uint8_t> Stages(const std::vector<Report>& reports) {
  std::vector<uint8_t> stages;
  for (const Report& r : reports) stages.push_back(r.stage);
  return stages;
}

// The host's download: the start packet, the blocks of the used range (at
// least one), the finish.
void Download(ModelHarness& programmer, const ChipParams& chip, const JobSettings& job,
              std::span<const uint8_t> image, int channel = 1, uint8_t devicesFound = 1) {
  ASSERT_EQ(programmer.Status(StartDownload(chip, job, {"CHIP", "job.bin"}, channel, devicesFound)), 0x00u);
  const uint32_t end = std::max<uint32_t>(chip.SizeKB, 2);
  for (uint32_t position = 0; position < end; position += 4)
    ASSERT_EQ(programmer.Status(DownloadBlock(position, chip, image)), 0x00u) << "block at " << position << " KB";
  ASSERT_TRUE(programmer.Send(Finish(kCmdFinishDownload)).empty());
}

// The image the host holds for a chip: whole blocks, so that every block it
// sends is complete.
std::vector<uint8_t> HostImage(const ChipParams& chip, uint32_t seed) {
  return Pattern((std::max<uint32_t>(chip.Size, chip.SizeKB * 1024) + kBlockBytes - 1) / kBlockBytes * kBlockBytes,
                 seed);
}

// The whole memory of the chip in the socket, as the chip holds it.
std::vector<uint8_t> Held(ModelHarness& programmer) {
  const ChipMemory& memory = programmer.Model().Chip().Memory();
  std::vector<uint8_t> bytes(memory.Size());
  memory.Read(0, bytes);
  return bytes;
}

// A chip programmed from the host's image: the page flash page by page (512
// data bytes, then the page's 16 spare bytes), every other chip its first
// programmed bytes as they are and the rest erased.
std::vector<uint8_t> ProgrammedChip(const ChipParams& chip, const std::vector<uint8_t>& image,
                                    std::size_t programmed) {
  if (chip.Family == kFamilyDataFlash528) {
    std::vector<uint8_t> pages;
    for (std::size_t p = 0; p < kDataFlashPages; ++p) {
      pages.insert(pages.end(), image.begin() + p * 512, image.begin() + p * 512 + 512);
      const auto spare = image.begin() + kDataFlashSpareBase + p * 16;
      pages.insert(pages.end(), spare, spare + 16);
    }
    return pages;
  }
  std::vector<uint8_t> bytes(chip.Size, 0xFF);
  std::copy_n(image.begin(), std::min<std::size_t>(programmed, chip.Size), bytes.begin());
  return bytes;
}

uint32_t CurrentSerialNumber(ModelHarness& programmer) {
  const auto replies = programmer.SendBytes(kQueryFrame);
  if (replies.size() != 1 || replies[0].size() != kIdentificationReplyLength) {
    ADD_FAILURE() << "no identification reply";
    return 0;
  }
  const Packet& id = replies[0];
  const std::size_t L = id.size();
  return static_cast<uint32_t>(id[L - 23] | id[L - 22] << 8 | id[L - 21] << 16) |
         static_cast<uint32_t>(id[L - 20]) << 24;
}

JobSettings SerialNumberJob(uint32_t address, uint32_t value, uint16_t step, bool mostSignificantFirst) {
  JobSettings job;
  job.SnEnable = kOn;
  job.SnAddress = address;
  job.SnValue = value;
  job.SnStep = step;
  if (mostSignificantFirst) job.OptionBits = kOptionSerialBigEndian;
  return job;
}

std::vector<Report> Programming(uint16_t total) {
  std::vector<Report> reports = {{0x40, 0, 0, total}};
  for (uint16_t done = 16; done < total; done = static_cast<uint16_t>(done + 16))
    reports.push_back({0x40, 0, done, total});
  reports.push_back({0x40, 0, total, total});
  return reports;
}

TEST(StandAloneCycle, ProgramsTheJobWithItsSerialNumberAndVerifiesIt) {
  const auto sizedKB = [](ChipParams chip, uint32_t sizeKB) {
    chip.SizeKB = sizeKB;
    return chip;
  };
  struct Case {
    const char* name;
    ChipParams chip;
    uint32_t serialAddress;
    bool mostSignificantFirst;
    uint16_t blocks;
  };
  const Case cases[] = {
      {"flash, whole chip, serial number at its end", Chip(kFlash, 64 << 10), 0xFFFC, false, 16},
      {"flash, used range of 18 blocks", sizedKB(Chip(kFlash, 128 << 10), 72), 72 * 1024 - 4, false, 18},
      {"I2C EEPROM, most significant byte first", Chip(kI2cEeprom, 2 << 10), 0x10, true, 1},
      {"I2C EEPROM below 1 KB", Chip(kI2cEeprom, 256), 252, false, 1},
      {"page flash, serial number in a data area", PageFlashChip(), 0x1234, true, 512},
      {"page flash, serial number in the spare area", PageFlashChip(), kDataFlashSpareBase + 5 * 16 + 2, false, 512},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModelHarness programmer;
    const std::vector<uint8_t> image = HostImage(c.chip, 31);
    Download(programmer, c.chip, SerialNumberJob(c.serialAddress, 0x12345678, 3, c.mostSignificantFirst), image);
    ASSERT_TRUE(programmer.Model().Job()->complete);

    const CycleOutcome outcome = programmer.Model().RunStandAloneCycle();
    EXPECT_TRUE(outcome.ran);
    EXPECT_EQ(outcome.number, 1u);
    EXPECT_EQ(outcome.result, 0x06);
    EXPECT_TRUE(outcome.chipInserted);

    std::vector<Report> expected = {{0x10, 0, 0, 0}};
    for (const Report& r : Programming(c.blocks)) expected.push_back(r);
    expected.push_back({0x70, 0, 0, 0});
    expected.push_back({0xF0, 0x06, 0, 0});
    EXPECT_EQ(Reports(programmer), expected);

    std::vector<uint8_t> withSerial = image;
    const std::vector<uint8_t> serial = c.mostSignificantFirst ? std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}
                                                               : std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12};
    std::copy(serial.begin(), serial.end(), withSerial.begin() + c.serialAddress);
    const std::vector<uint8_t> held = Held(programmer);
    const std::vector<uint8_t> want = ProgrammedChip(c.chip, withSerial, std::size_t{c.blocks} * kBlockBytes);
    ASSERT_EQ(held.size(), want.size());
    const auto differs = std::mismatch(held.begin(), held.end(), want.begin());
    EXPECT_TRUE(differs.first == held.end()) << "first difference at chip byte " << differs.first - held.begin();

    EXPECT_EQ(CurrentSerialNumber(programmer), 0x12345678u + 3);
    EXPECT_EQ(programmer.Counters().successfulBurns, 1u);
  }
}

TEST(StandAloneCycle, SerialNumberStepsFromChipToChipAndWrapsAround) {
  // Programmer 2 of two: its first number is one step above the host's, and
  // its increment covers both programmers. Its second cycle fails on purpose.
  ProgrammerOptions options;
  options.faults.cycleFailures = {{2, 0x2C}};
  ModelHarness programmer(options);
  const ChipParams chip = Chip(kFlash, 16 << 10);
  const std::vector<uint8_t> image = HostImage(chip, 32);
  Download(programmer, chip, SerialNumberJob(0x100, 0xFFFFFFFC, 1, false), image, 2, 2);

  struct Cycle {
    uint8_t result;
    uint32_t written;  // the number in the chip afterwards
    uint32_t current;  // the number the identification reports afterwards
  };
  const Cycle cycles[] = {
      {0x06, 0xFFFFFFFD, 0xFFFFFFFF},
      {0x2C, 0xFFFFFFFD, 0xFFFFFFFF},  // failed: nothing programmed, no step
      {0x06, 0xFFFFFFFF, 0x00000001},
      {0x06, 0x00000001, 0x00000003},
  };
  EXPECT_EQ(CurrentSerialNumber(programmer), 0xFFFFFFFDu);
  for (std::size_t i = 0; i < std::size(cycles); ++i) {
    SCOPED_TRACE("cycle " + std::to_string(i + 1));
    const CycleOutcome outcome = programmer.Model().RunStandAloneCycle();
    EXPECT_EQ(outcome.number, i + 1);
    EXPECT_EQ(outcome.result, cycles[i].result);
    const std::vector<Report> reports = Reports(programmer);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), (Report{0xF0, cycles[i].result, 0, 0}));
    if (cycles[i].result != 0x06) {
      EXPECT_EQ(reports, (std::vector<Report>{{0x10, 0, 0, 0}, {0xF0, cycles[i].result, 0, 0}}));
      EXPECT_FALSE(outcome.chipInserted);
    }
    const std::vector<uint8_t> held = Held(programmer);
    const uint32_t written = static_cast<uint32_t>(held[0x100] | held[0x101] << 8 | held[0x102] << 16) |
                             static_cast<uint32_t>(held[0x103]) << 24;
    EXPECT_EQ(written, cycles[i].written);
    EXPECT_EQ(CurrentSerialNumber(programmer), cycles[i].current);
  }
  EXPECT_EQ(programmer.Counters().successfulBurns, 3u);
  EXPECT_EQ(programmer.Counters().failuresInjected, 1u);
  EXPECT_TRUE(programmer.Logged("stand-alone cycle 2 fails on purpose with result 0x2C"));
}

TEST(StandAloneCycle, SerialNumberOutsideTheUsedRangeIsNotWritten) {
  ChipParams chip = Chip(kFlash, 64 << 10);
  chip.SizeKB = 16;
  struct Case {
    uint32_t address;
    bool written;
  };
  for (const Case& c : {Case{16 * 1024 - 4, true}, Case{16 * 1024 - 3, false}, Case{0xFFFFFFFF, false}}) {
    SCOPED_TRACE(c.address);
    ModelHarness programmer;
    const std::vector<uint8_t> image = HostImage(chip, 33);
    Download(programmer, chip, SerialNumberJob(c.address, 0, 1, false), image);
    EXPECT_EQ(programmer.Model().RunStandAloneCycle().result, 0x06);
    std::vector<uint8_t> want = ProgrammedChip(chip, image, 16 * 1024);
    if (c.written) std::fill_n(want.begin() + c.address, 4, 0x00);
    EXPECT_TRUE(Held(programmer) == want);
    EXPECT_EQ(programmer.Logged("does not lie inside the used range"), !c.written);
  }
}

TEST(StandAloneCycle, BurnLimitEndsTheJobAfterItsCount) {
  struct Case {
    const char* name;
    uint8_t limitOn;
    uint32_t limit;
    std::vector<uint8_t> results;
  };
  const Case cases[] = {
      {"limit of 2", kOn, 2, {0x06, 0x06, 0x4C, 0x4C}},
      {"limit of 0 refuses every chip", kOn, 0, {0x4C}},
      {"limit off", 0x00, 1, {0x06, 0x06, 0x06}},
  };
  const ChipParams chip = Chip(kFlash, 16 << 10);
  const std::vector<uint8_t> image = HostImage(chip, 34);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModelHarness programmer;
    JobSettings job;
    job.LimitOn = c.limitOn;
    job.LimitCount = c.limit;
    Download(programmer, chip, job, image);
    uint32_t burns = 0;
    for (const uint8_t result : c.results) {
      const CycleOutcome outcome = programmer.Model().RunStandAloneCycle();
      EXPECT_EQ(outcome.result, result);
      if (result == 0x4C) {
        EXPECT_EQ(Reports(programmer), (std::vector<Report>{{0x10, 0, 0, 0}, {0xF0, 0x4C, 0, 0}}));
        EXPECT_FALSE(outcome.chipInserted);
      } else {
        ++burns;
        programmer.TakeAll();
      }
    }
    EXPECT_EQ(programmer.Counters().successfulBurns, burns);
    EXPECT_EQ(programmer.Logged("burn limit reached"), c.limitOn != 0);
  }

  // The limit counts the burns of one download: the next download starts anew.
  ModelHarness programmer;
  JobSettings job;
  job.LimitOn = kOn;
  job.LimitCount = 1;
  Download(programmer, chip, job, image);
  EXPECT_EQ(programmer.Model().RunStandAloneCycle().result, 0x06);
  EXPECT_EQ(programmer.Model().RunStandAloneCycle().result, 0x4C);
  programmer.TakeAll();
  Download(programmer, chip, job, image);
  EXPECT_EQ(programmer.Model().RunStandAloneCycle().result, 0x06);
}

TEST(StandAloneCycle, WithoutACompleteJobNothingHappens) {
  const ChipParams chip = Chip(kFlash, 16 << 10);
  struct Case {
    const char* name;
    bool start;
    const char* logged;
  };
  for (const Case& c : {Case{"nothing downloaded", false, "no job has been downloaded"},
                        Case{"download not finished", true, "the download of the job is not complete"}}) {
    SCOPED_TRACE(c.name);
    ModelHarness programmer;
    if (c.start) {
      ASSERT_EQ(programmer.Status(StartDownload(chip, JobSettings{}, {"CHIP", "job.bin"})), 0x00u);
      ASSERT_EQ(programmer.Status(DownloadBlock(0, chip, HostImage(chip, 35))), 0x00u);
    }
    const CycleOutcome outcome = programmer.Model().RunStandAloneCycle();
    EXPECT_EQ(outcome.result, 0x45);
    EXPECT_FALSE(outcome.chipInserted);
    EXPECT_EQ(Reports(programmer), (std::vector<Report>{{0x10, 0, 0, 0}, {0xF0, 0x45, 0, 0}}));
    EXPECT_TRUE(programmer.Logged(c.logged));
    EXPECT_EQ(programmer.Model().Chip().Memory().Size(), 0u) << "a chip went into the socket";
    EXPECT_EQ(programmer.Counters().successfulBurns, 0u);
  }
}

TEST(StandAloneCycle, TheJobsStepsShapeTheCycle) {
  enum class After { Job, Content, Erased, JobOverContent };
  struct Case {
    const char* name;
    uint8_t family;
    uint8_t opFlags;
    uint8_t optionBits;
    bool content;  // the fresh chip holds 16 zero bytes at 0x100
    std::vector<uint8_t> stages;
    uint8_t result;
    After after;
  };
  const Case cases[] = {
      {"blank check of a blank chip", kFlash, 0x02, 0x40, false, {0x10, 0x20, 0x40, 0x40, 0x70, 0xF0}, 0x06,
       After::Job},
      {"chip not blank, error asked for", kFlash, 0x02, 0x40, true, {0x10, 0x20, 0xF0}, 0x15, After::Content},
      {"EEPROM not blank, no error asked for", kI2cEeprom, 0x02, 0x00, true, {0x10, 0x20, 0x40, 0x40, 0x70, 0xF0},
       0x06, After::Job},
      {"flash not erased: the old bits stay", kFlash, 0x00, 0x00, true, {0x10, 0x40, 0x40, 0x70, 0xF0}, 0x31,
       After::JobOverContent},
      {"flash erased first", kFlash, 0x01, 0x00, true, {0x10, 0x30, 0x40, 0x40, 0x70, 0xF0}, 0x06, After::Job},
      {"blank check, then erase", kFlash, 0x03, 0x00, true, {0x10, 0x20, 0x30, 0x40, 0x40, 0x70, 0xF0}, 0x06,
       After::Job},
      {"no programming: the erased chip does not verify", kFlash, 0x84, 0x00, false, {0x10, 0x70, 0xF0}, 0x31,
       After::Erased},
      {"no programming, no verification", kFlash, 0x8C, 0x00, false, {0x10, 0xF0}, 0x06, After::Erased},
      {"0x04 alone also turns programming off", kFlash, 0x0C, 0x00, false, {0x10, 0xF0}, 0x06, After::Erased},
      {"no verification", kFlash, 0x08, 0x00, false, {0x10, 0x40, 0x40, 0xF0}, 0x06, After::Job},
      {"sensor: 0x80 is write protection, not a step", kSensor, 0x80, 0x00, false, {0x10, 0x40, 0x40, 0x70, 0xF0},
       0x06, After::Job},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgrammerOptions options;
    if (c.content) options.chipContents = {ChipContent{0x100, std::vector<uint8_t>(16, 0x00)}};
    ModelHarness programmer(options);
    const ChipParams chip = Chip(c.family, 16 << 10);
    const std::vector<uint8_t> image = HostImage(chip, 36);
    JobSettings job;
    job.OpFlags = c.opFlags;
    job.OptionBits = c.optionBits;
    Download(programmer, chip, job, image);

    const CycleOutcome outcome = programmer.Model().RunStandAloneCycle();
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_TRUE(outcome.chipInserted);
    const std::vector<Report> reports = Reports(programmer);
    EXPECT_EQ(Stages(reports), c.stages);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().result, c.result);

    std::vector<uint8_t> want = ProgrammedChip(chip, image, chip.Size);
    if (c.after == After::Erased || c.after == After::Content) std::fill(want.begin(), want.end(), 0xFF);
    if (c.after == After::Content || c.after == After::JobOverContent) std::fill_n(want.begin() + 0x100, 16, 0x00);
    EXPECT_TRUE(Held(programmer) == want);
    EXPECT_EQ(programmer.Counters().successfulBurns, c.result == 0x06 ? 1u : 0u);
  }
}

TEST(StandAloneCycle, VerifyComparesTheUsedRangeOnly) {
  // 10 KB used: the third block is programmed whole, but only its first
  // 2 KB count. The chip is not erased, so old zero bits stay.
  ChipParams chip = Chip(kFlash, 16 << 10);
  chip.SizeKB = 10;
  struct Case {
    uint32_t oldBits;
    uint8_t result;
  };
  for (const Case& c : {Case{11 << 10, 0x06}, Case{9 << 10, 0x31}}) {
    SCOPED_TRACE(c.oldBits);
    ProgrammerOptions options;
    options.chipContents = {ChipContent{c.oldBits, std::vector<uint8_t>(16, 0x00)}};
    ModelHarness programmer(options);
    const std::vector<uint8_t> image = HostImage(chip, 39);
    Download(programmer, chip, JobSettings{}, image);
    EXPECT_EQ(programmer.Model().RunStandAloneCycle().result, c.result);
    std::vector<uint8_t> want = ProgrammedChip(chip, image, 12 << 10);
    std::fill_n(want.begin() + c.oldBits, 16, 0x00);
    EXPECT_TRUE(Held(programmer) == want);
  }
}

TEST(StandAloneCycle, AutomaticCyclesFollowEachDownloadUntilTheNextOne) {
  ProgrammerOptions options;
  options.autoCycles = 2;
  ModelHarness programmer(options);
  const ChipParams chip = Chip(kFlash, 16 << 10);
  const std::vector<uint8_t> image = HostImage(chip, 37);
  EXPECT_EQ(programmer.Model().AutoCyclesLeft(), 0u);
  EXPECT_FALSE(programmer.Model().RunAutoCycle().ran);

  Download(programmer, chip, JobSettings{}, image);
  EXPECT_EQ(programmer.Model().AutoCyclesLeft(), 2u);
  const CycleOutcome first = programmer.Model().RunAutoCycle();
  EXPECT_TRUE(first.ran);
  EXPECT_EQ(first.result, 0x06);
  EXPECT_EQ(programmer.Model().AutoCyclesLeft(), 1u);
  programmer.TakeAll();

  // A new download takes the cycle left away; its completion brings two more.
  ASSERT_EQ(programmer.Status(StartDownload(chip, JobSettings{}, {"CHIP", "next.bin"})), 0x00u);
  EXPECT_EQ(programmer.Model().AutoCyclesLeft(), 0u);
  EXPECT_TRUE(programmer.Logged("the 1 stand-alone cycles left of the previous job are cancelled"));
  EXPECT_FALSE(programmer.Model().RunAutoCycle().ran);
  EXPECT_TRUE(programmer.TakeAll().empty());
  Download(programmer, chip, JobSettings{}, image);
  EXPECT_EQ(programmer.Model().AutoCyclesLeft(), 2u);
  EXPECT_EQ(programmer.Model().RunAutoCycle().number, 2u) << "automatic cycles are numbered with the others";
}

TEST(StandAloneCycle, HungUpProgrammerRunsNoCycle) {
  ProgrammerOptions options;
  options.faults.hangUpAfterBlocks = 0;
  ModelHarness programmer(options);
  const ChipParams chip = Chip(kFlash, 16 << 10);
  programmer.Send(ProgramBlock(0, chip, HostImage(chip, 38)));
  ASSERT_TRUE(programmer.Model().HungUp());
  EXPECT_FALSE(programmer.Model().RunStandAloneCycle().ran);
  EXPECT_TRUE(programmer.TakeAll().empty());
  EXPECT_EQ(programmer.Counters().standAloneCycles, 0u);
}

}  // namespace
}  // namespace velkor::sim
