// Evidence of what a chip holds, end to end on simulated programmers whose
// chips have cells stuck at known values: where a failed verify or blank
// check differs, the verify by read-back, and the chip's ID checked before
// it is programmed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "data/text_format.hpp"
#include "simulated_programmers.hpp"
#include "support/files.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

class ReadBackTest : public test::SimulatedProgrammersTest {
 protected:
  void SetUp() override {
    SimulatedProgrammersTest::SetUp();
    RecordOutcomes();
  }
  void RunToEnd(void (TQNProgrammer::*command)()) {
    view.lines.clear();
    view.messages.clear();
    outcomes.clear();
    programmer->RunCommand([&] { (programmer.get()->*command)(); });
    ASSERT_TRUE(RunToIdle(60s));
    loop.runFor(20ms);  // a failure's box comes after the receive event
  }
  // The image holds data from 0, as a load of it would leave it.
  void LoadImage(const std::vector<uint8_t>& data) {
    std::copy(data.begin(), data.end(), programmer->Image.Data.get());
    programmer->FileLoaded = true;
    programmer->RecomputeImage();
  }
};

struct Stuck {
  uint32_t address;
  uint8_t value;
};

std::vector<std::string> StuckOptions(const std::vector<Stuck>& cells, std::vector<std::string> more = {}) {
  for (const Stuck& s : cells) {
    more.push_back("--stuck-byte");
    more.push_back(FormatText("0x%X=0x%02X", s.address, unsigned{s.value}));
  }
  return more;
}

// The data every test programs: no byte of it is 0xFF or 0x00, so that a
// cell stuck at either differs wherever it lies.
std::vector<uint8_t> Pattern(std::size_t size) {
  std::vector<uint8_t> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(1 + (i * 7 + i / 251) % 253);
  return data;
}

TEST_F(ReadBackTest, AFailedVerifyNamesTheStuckCellsWithBothBytesOnEveryProgrammer) {
  // Ten cells: more than the list holds, one at the last byte of the range.
  std::vector<Stuck> cells = {{0x0000, 0x00}, {0x1234, 0xFF}, {0x1235, 0x00}, {0x8000, 0x5A}, {0xFFFF, 0x00}};
  for (uint32_t a = 0x9000; a < 0x9005; ++a) cells.push_back({a, 0x00});
  Connect(2, StuckOptions(cells));
  Choose("W25x10xx");
  const std::vector<uint8_t> data = Pattern(64 * 1024);
  LoadImage(data);
  programmer->Controls.EnEraseChk.Checked = true;

  RunToEnd(&TQNProgrammer::SpdBtnAutoPClick);
  std::vector<Stuck> sorted = cells;
  std::sort(sorted.begin(), sorted.end(), [](const Stuck& a, const Stuck& b) { return a.address < b.address; });
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    const OperationOutcome& o = OutcomeOf(n);
    EXPECT_TRUE(o.failed);
    EXPECT_EQ(o.operation, "auto");
    EXPECT_EQ(o.status, 0x31);
    EXPECT_EQ(o.text, "数据校验错误！");
    ASSERT_TRUE(o.differences);
    EXPECT_EQ(o.differences->compared, data.size());
    EXPECT_EQ(o.differences->count, cells.size());
    ASSERT_EQ(o.differences->listed.size(), kListedDifferences);
    for (std::size_t i = 0; i < kListedDifferences; ++i) {
      const ByteDifference& d = o.differences->listed[i];
      EXPECT_EQ(d.address, sorted[i].address);
      EXPECT_EQ(d.expected, data[sorted[i].address]);
      EXPECT_EQ(d.found, sorted[i].value);
    }
    EXPECT_TRUE(LoggedLine(ChannelLine(n, "Read back 0x00000000-0x0000FFFF: 10 bytes differ, the first at 0x00000000.")));
    EXPECT_TRUE(LoggedLine(ChannelLine(n, FormatText("  0x00001234: expected 0x%02X, found 0xFF", unsigned{data[0x1234]}))));
    EXPECT_TRUE(LoggedLine(ChannelLine(n, "  ... and 2 more.")));
  }
  EXPECT_EQ(programmer->FailCount, 2u);
  EXPECT_EQ(programmer->BurnCount, 0u);
  // One box per programmer, naming the first address with both bytes.
  ASSERT_EQ(view.messages.size(), 2u);
  for (const auto& m : view.messages)
    EXPECT_EQ(m.text, FormatText("数据校验错误！\nFirst difference at 0x00000000: expected 0x%02X, found 0x00; 10 bytes "
                                 "differ, the first at 0x00000000.",
                                 unsigned{data[0]}));
  EXPECT_EQ(programmer->LastDifference, 0u);

  // Switched off, the verify fails as it always did: no read-back.
  programmer->Controls.ChkBoxLocate.Checked = false;
  RunToEnd(&TQNProgrammer::SpdBtnVerifyClick);
  EXPECT_FALSE(Logged("Read back"));
  for (int n = 1; n <= 2; ++n) {
    EXPECT_TRUE(OutcomeOf(n).failed);
    EXPECT_FALSE(OutcomeOf(n).differences);
  }
}

TEST_F(ReadBackTest, ABlankCheckNamesTheOneProgrammedByteByStreamedAndBlockReads) {
  struct Case {
    const char* capability;  // above 0x32 the programmer streams chip reads
    Stuck cell;
  };
  const Case cases[] = {{"0x33", {0x1FFFF, 0x7E}}, {"0x32", {0x0800, 0x00}}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.capability);
    sim.reset();
    programmer = MakeProgrammer();
    RecordOutcomes();
    Connect(1, StuckOptions({k.cell}, {"--capability", k.capability}));
    Choose("W25x10xx");  // 128 KB: the whole chip is read, not only a file's range
    RunToEnd(&TQNProgrammer::SpdBtnEraseClick);
    RunToEnd(&TQNProgrammer::BlankCheck1Click);
    EXPECT_TRUE(LoggedLine(ChannelLine(1, "Chip is Not Blank!")));
    const OperationOutcome& o = OutcomeOf(1);
    EXPECT_EQ(o.operation, "blank");
    EXPECT_TRUE(o.failed);
    ASSERT_TRUE(o.differences);
    EXPECT_EQ(o.differences->compared, 128u * 1024);
    EXPECT_EQ(o.differences->count, 1u);
    ASSERT_EQ(o.differences->listed.size(), 1u);
    EXPECT_EQ(o.differences->listed[0], (ByteDifference{k.cell.address, 0xFF, k.cell.value}));
    EXPECT_TRUE(LoggedLine(ChannelLine(1, FormatText("Read back 0x00000000-0x0001FFFF: 1 byte differs, at 0x%08X.",
                                                     k.cell.address))));
    EXPECT_TRUE(view.messages.empty()) << "a blank check that finds data says so in the log only";
  }
}

TEST_F(ReadBackTest, AChipAbove16MiBIsNotReadBackWithoutBeingAsked) {
  Connect(1, StuckOptions({{0x100, 0x00}}));
  Choose("W25x256xx");
  RunToEnd(&TQNProgrammer::BlankCheck1Click);
  const OperationOutcome& o = OutcomeOf(1);
  EXPECT_TRUE(o.failed);
  EXPECT_FALSE(o.differences);
  EXPECT_TRUE(Logged("The chip is not read back to find where it differs: 0x2000000 bytes are more than 16 MiB."));
}

TEST_F(ReadBackTest, VerifyByReadBackComparesOnTheHostAndAgreesWithTheChip) {
  Connect(2, StuckOptions({{0x9000, 0x00}}));
  Choose("W25x10xx");
  const std::vector<uint8_t> data = Pattern(32 * 1024);
  LoadImage(data);
  RunToEnd(&TQNProgrammer::SpdBtnProgClick);

  // The stuck cell lies beyond the file's 32 KB: the range verifies.
  RunToEnd(&TQNProgrammer::ReadbackVerifyClick);
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    const OperationOutcome& o = OutcomeOf(n);
    EXPECT_EQ(o.operation, "verify");
    EXPECT_FALSE(o.failed) << o.text;
    ASSERT_TRUE(o.differences);
    EXPECT_EQ(o.differences->compared, data.size());
    EXPECT_EQ(o.differences->count, 0u);
    EXPECT_TRUE(LoggedLine(ChannelLine(n, "Verified by read-back: the chip holds the image.")));
  }
  EXPECT_TRUE(view.messages.empty());

  // One byte changed in the image: both programmers' chips now differ there.
  const uint8_t changed = static_cast<uint8_t>(~data[0x10]);
  programmer->Image.Data[0x10] = changed;
  programmer->RecomputeImage();
  RunToEnd(&TQNProgrammer::ReadbackVerifyClick);
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    const OperationOutcome& o = OutcomeOf(n);
    EXPECT_TRUE(o.failed);
    EXPECT_EQ(o.text, "数据校验错误！");
    ASSERT_TRUE(o.differences);
    EXPECT_EQ(o.differences->count, 1u);
    ASSERT_FALSE(o.differences->listed.empty());
    EXPECT_EQ(o.differences->listed[0], (ByteDifference{0x10, changed, data[0x10]}));
  }
  EXPECT_EQ(view.messages.size(), 2u);
}

TEST_F(ReadBackTest, AChipWhoseIdIsNotTheCataloguesIsRefusedBeforeAByteIsWritten) {
  const std::filesystem::path chips = directory / "chips";
  std::filesystem::create_directory(chips);
  Connect(2, {"--chip-id", "0xEF,0x17", "--dump-chips", chips.string()});
  Choose("W25x64xx");
  const ChipParams expected = programmer->Chip;
  const std::vector<uint8_t> data = Pattern(8 * 1024);
  LoadImage(data);
  programmer->Controls.ChkBoxCheckId.Checked = true;

  for (auto command : {&TQNProgrammer::SpdBtnProgClick, &TQNProgrammer::SpdBtnAutoPClick}) {
    RunToEnd(command);
    const std::string refusal = FormatText("Chip ID 0xEF 0x17 does not match W25x64xx: 0x%02X 0x%02X",
                                           unsigned{expected.IdByte1}, unsigned{expected.IdByte2});
    for (int n = 1; n <= 2; ++n) {
      SCOPED_TRACE(n);
      const OperationOutcome& o = OutcomeOf(n);
      EXPECT_TRUE(o.failed);
      EXPECT_EQ(o.text, refusal);
      EXPECT_EQ(o.operation, command == &TQNProgrammer::SpdBtnProgClick ? "program" : "auto");
      ASSERT_TRUE(o.chipId);
      EXPECT_EQ(*o.chipId, (std::array<uint8_t, 2>{0xEF, 0x17}));
      EXPECT_TRUE(Logged(refusal));
    }
    EXPECT_FALSE(Logged("开始芯片编程")) << "nothing was programmed";
  }
  EXPECT_EQ(programmer->FailCount, 2u) << "the automatic run's refused chips are failed burns";

  // Nothing reached the chips.
  sim.reset();
  for (int n = 1; n <= 2; ++n) {
    const std::string chip = test::ReadFile(chips / ("programmer-" + std::to_string(n) + ".bin"));
    EXPECT_TRUE(std::all_of(chip.begin(), chip.end(), [](char b) { return uint8_t(b) == 0xFF; })) << n;
  }
}

TEST_F(ReadBackTest, AChipWhoseIdMatchesIsProgrammedAfterTheCheck) {
  Connect(1);
  Choose("W25x10xx");
  const std::vector<uint8_t> data = Pattern(4 * 1024);
  LoadImage(data);
  programmer->Controls.ChkBoxCheckId.Checked = true;
  RunToEnd(&TQNProgrammer::SpdBtnAutoPClick);
  const OperationOutcome& o = OutcomeOf(1);
  EXPECT_FALSE(o.failed) << o.text;
  EXPECT_EQ(o.operation, "auto");
  ASSERT_TRUE(o.chipId);
  EXPECT_EQ(*o.chipId, (std::array<uint8_t, 2>{programmer->Chip.IdByte1, programmer->Chip.IdByte2}));
  EXPECT_TRUE(Logged("matches W25x10xx."));
  EXPECT_EQ(programmer->BurnCount, 1u);
}

}  // namespace
}  // namespace velkor

namespace velkor {
namespace {

TEST_F(ReadBackTest, TheImageComparedWithTheLastChipReadShowsTheCellsThatDidNotTake) {
  // Two cells of the chip stay at 0x00, one at 0x9000 stays at 0x5A.
  Connect(1, StuckOptions({{0x0100, 0x00}, {0x0101, 0x00}, {0x9000, 0x5A}}));
  Choose("W25x10xx");
  const std::vector<uint8_t> data = Pattern(64 * 1024);
  const std::filesystem::path file = directory / "pattern.bin";
  test::WriteFile(file, std::string(data.begin(), data.end()));
  programmer->LoadFile(file.string());
  programmer->Controls.EnEraseChk.Checked = true;
  RunToEnd(&TQNProgrammer::SpdBtnAutoPClick);
  RunToEnd(&TQNProgrammer::SpeedButtonRDClick);
  ASSERT_TRUE(programmer->ChipReadLast);

  // The file again, then the comparison with what the chip gave.
  programmer->LoadFile(file.string());
  programmer->CompareWithChipRead1Click();
  ASSERT_TRUE(programmer->Comparison);
  const ImageComparison& c = *programmer->Comparison;
  ASSERT_EQ(c.ranges.size(), 2u);
  EXPECT_EQ(c.ranges[0].address, 0x100u);
  EXPECT_EQ(c.ranges[0].length, 2u);
  EXPECT_EQ(c.ranges[0].firstOfA, (std::vector<uint8_t>{data[0x100], data[0x101]}));
  EXPECT_EQ(c.ranges[0].firstOfB, (std::vector<uint8_t>{0x00, 0x00}));
  EXPECT_EQ(c.ranges[1].address, 0x9000u);
  EXPECT_EQ(c.ranges[1].firstOfB, (std::vector<uint8_t>{0x5A}));
  EXPECT_EQ(c.differingBytes, 3u);
  EXPECT_EQ(c.last, 128u * 1024 - 1) << "the whole chip is compared";
}

}  // namespace
}  // namespace velkor
