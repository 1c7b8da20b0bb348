// Stop, end to end on simulated programmers: a block transfer ends after the
// block in flight, as stopped, and the wire and the chips show that nothing
// followed it; what a programmer runs by itself ends on its own; the
// programmer takes its next operation as usual.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "data/text_format.hpp"
#include "link/operation_codes.hpp"
#include "simulated_programmers.hpp"
#include "support/files.hpp"
#include "support/wire_decoder.hpp"

namespace velkor::test {
namespace {

constexpr uint32_t kChipBytes = 128 * 1024;  // W25x10xx
constexpr uint32_t kBlocks = kChipBytes / 4096;

class StopTest : public SimulatedProgrammersTest {
 protected:
  void SetUp() override {
    SimulatedProgrammersTest::SetUp();
    RecordOutcomes();
    std::filesystem::create_directories(directory / "chips");
  }
  // Each programmer's capture and its chip at the simulator's end, with
  // each 4 KB block taking this long in the chip: long enough for a test to
  // find a transfer under way.
  std::vector<std::string> Recording(std::vector<std::string> more = {}) {
    more.insert(more.end(), {"--block-time-us", "3000", "--capture", (directory / "wire").string(), "--dump-chips",
                             (directory / "chips").string()});
    return more;
  }
  void Start(void (TQNProgrammer::*command)()) {
    view.lines.clear();
    outcomes.clear();
    programmer->RunCommand([&] { (programmer.get()->*command)(); });
  }
  // Runs until every listed programmer is at least blocks into its
  // transfer (a block of it is in flight), and gives the position in flight.
  std::vector<uint32_t> RunUntilInFlight(std::vector<int> channels, uint32_t blocks) {
    const auto under = [&] {
      return std::all_of(channels.begin(), channels.end(), [&](int n) {
        const LinkChannel& ch = programmer->Channels.Channel(n);
        return ch.Busy && ch.BlockPos >= blocks * 4;
      });
    };
    EXPECT_TRUE(loop.runUntil(under, 20s));
    std::vector<uint32_t> inFlight;
    for (const int n : channels) inFlight.push_back(programmer->Channels.Channel(n).BlockPos);
    return inFlight;
  }
  void Stop() { programmer->RunCommand([&] { programmer->FormKeyPress(TQNProgrammer::kEscapeKey); }); }
  void RunToEnd() {
    ASSERT_TRUE(RunToIdle());
    loop.runFor(20ms);  // a failure's box comes after the receive event
  }
  std::vector<wire::Packet> Received(int n) const {
    return wire::Packets(wire::ReadCapture(directory / ("wire." + std::to_string(n))));
  }
  static std::vector<uint32_t> Positions(const std::vector<wire::Packet>& packets, uint8_t code) {
    std::vector<uint32_t> found;
    for (const wire::Packet& p : wire::PacketsWithCode(packets, code)) found.push_back(p.Parameter());
    return found;
  }
  static std::vector<uint32_t> Ascending(uint32_t lastKB) {
    std::vector<uint32_t> positions;
    for (uint32_t kb = 0; kb <= lastKB; kb += 4) positions.push_back(kb);
    return positions;
  }
};

TEST_F(StopTest, ProgrammingStopsAfterTheBlockInFlightOnBothProgrammers) {
  Connect(2, Recording());
  Choose("W25x10xx");
  const std::vector<uint8_t> data = LoadRandom(kChipBytes);
  programmer->Controls.ChkBoxRecord.Checked = true;
  programmer->Controls.EditRecordFile.Text = "records.jsonl";
  EXPECT_FALSE(programmer->Controls.SpdBtnStop.Usable()) << "nothing to stop yet";

  Start(&TQNProgrammer::SpdBtnProgClick);
  const std::vector<uint32_t> inFlight = RunUntilInFlight({1, 2}, 3);
  EXPECT_TRUE(programmer->Controls.SpdBtnStop.Usable());
  EXPECT_TRUE(programmer->Controls.Stop1.Usable());
  Stop();
  RunToEnd();

  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    const uint32_t position = inFlight[static_cast<std::size_t>(n - 1)];
    const uint32_t done = position / 4 + 1;
    const std::string stopped =
        FormatText("Stopped after block %u of %u: 0x00000000-0x%08X programmed.", done, kBlocks, done * 4096 - 1);
    EXPECT_TRUE(LoggedLine(
        ChannelLine(n, FormatText("Stop: block %u of %u is in flight; the programming stops once it is answered.",
                                  done, kBlocks))));
    EXPECT_TRUE(LoggedLine(ChannelLine(n, stopped)));
    EXPECT_FALSE(LoggedLine(ChannelLine(n, "操作失败！")));
    EXPECT_FALSE(LoggedLine(ChannelLine(n, "操作成功！")));
    const OperationOutcome& o = OutcomeOf(n);
    EXPECT_TRUE(o.stopped);
    EXPECT_FALSE(o.timedOut);
    EXPECT_EQ(o.operation, "program");
    EXPECT_EQ(o.text, stopped);
    EXPECT_STREQ(OutcomeResult(o), "stopped");
    const GaugeControl& gauge = programmer->Gauge(n);
    EXPECT_EQ(gauge.Colour, GaugeColour::Grey);
    EXPECT_LT(gauge.Progress, gauge.MaxValue);
    EXPECT_EQ(programmer->Channels.Channel(n).Operation, 0xF0);
    EXPECT_FALSE(programmer->StopAsked(n));

    // On the wire: the blocks up to the one in flight, in order, and
    // nothing after them; no finishing packet.
    const std::vector<wire::Packet> packets = Received(n);
    EXPECT_EQ(Positions(packets, wire::kProgramBlock), Ascending(position));
    EXPECT_TRUE(wire::PacketsWithCode(packets, wire::kFinishAutoRun).empty());
    EXPECT_TRUE(wire::PacketsWithCode(packets, wire::kFinishDownload).empty());
  }
  // Ready for the next job: nothing busy, nothing held, nothing counted.
  for (Control* locked : programmer->JobLockedControls()) EXPECT_FALSE(locked->LockedByJob);
  EXPECT_FALSE(programmer->Controls.SpdBtnStop.Usable());
  EXPECT_EQ(programmer->BurnCount, 0u);
  EXPECT_EQ(programmer->FailCount, 0u);
  EXPECT_EQ(programmer->Controls.StatusPanel3.Caption, "烧写NG总数: 0");
  EXPECT_TRUE(view.messages.empty()) << view.messages.front().text;

  // One record line per chip, each saying it was stopped.
  std::ifstream records(directory / "records.jsonl");
  int lines = 0;
  for (std::string line; std::getline(records, line); ++lines) {
    EXPECT_NE(line.find("\"result\":\"stopped\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"operation\":\"program\""), std::string::npos) << line;
  }
  EXPECT_EQ(lines, 2);

  // The chips hold exactly the blocks that were sent, and erased bytes after.
  sim.reset();
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    const std::string chip = ReadFile(directory / "chips" / ("programmer-" + std::to_string(n) + ".bin"));
    ASSERT_EQ(chip.size(), kChipBytes);
    const std::size_t written = (inFlight[static_cast<std::size_t>(n - 1)] + 4) * 1024;
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(written),
                           reinterpret_cast<const uint8_t*>(chip.data())));
    EXPECT_TRUE(std::all_of(chip.begin() + static_cast<std::ptrdiff_t>(written), chip.end(),
                            [](char b) { return static_cast<uint8_t>(b) == 0xFF; }));
  }
}

TEST_F(StopTest, AStoppedProgrammerTakesItsNextDownloadProgramAndVerify) {
  Connect(2, Recording());
  Choose("W25x10xx");
  LoadRandom(kChipBytes);

  // A download stopped halfway is not finished: the programmer is not told
  // to take a half-sent job as its own.
  Start(&TQNProgrammer::SpdBtnDownLoadClick);
  const std::vector<uint32_t> downloadInFlight = RunUntilInFlight({1, 2}, 2);
  Stop();
  RunToEnd();
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    EXPECT_TRUE(OutcomeOf(n).stopped);
    EXPECT_EQ(OutcomeOf(n).operation, "download");
    EXPECT_TRUE(LoggedLine(ChannelLine(
        n, "The programmer holds no complete job now: download again before it programs chips by itself.")));
    const std::vector<wire::Packet> packets = Received(n);
    EXPECT_EQ(wire::PacketsWithCode(packets, wire::kStartDownload).size(), 1u);
    EXPECT_EQ(Positions(packets, wire::kDownloadBlock), Ascending(downloadInFlight[static_cast<std::size_t>(n - 1)]));
    EXPECT_TRUE(wire::PacketsWithCode(packets, wire::kFinishDownload).empty());
  }

  // The next download runs whole and is finished.
  Start(&TQNProgrammer::SpdBtnDownLoadClick);
  RunToEnd();
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    EXPECT_FALSE(OutcomeOf(n).failed) << OutcomeOf(n).text;
    const std::vector<wire::Packet> packets = Received(n);
    EXPECT_EQ(wire::PacketsWithCode(packets, wire::kStartDownload).size(), 2u);
    EXPECT_EQ(wire::PacketsWithCode(packets, wire::kFinishDownload).size(), 1u);
    EXPECT_EQ(packets.back().Code(), wire::kFinishDownload);
  }

  // Programming stopped, then programmed whole and verified by the
  // programmers themselves.
  Start(&TQNProgrammer::SpdBtnProgClick);
  const std::vector<uint32_t> programInFlight = RunUntilInFlight({1, 2}, 2);
  Stop();
  RunToEnd();
  for (int n = 1; n <= 2; ++n) {
    EXPECT_TRUE(OutcomeOf(n).stopped) << n;
    EXPECT_EQ(Positions(Received(n), wire::kProgramBlock), Ascending(programInFlight[static_cast<std::size_t>(n - 1)]));
  }
  Start(&TQNProgrammer::SpdBtnProgClick);
  RunToEnd();
  Start(&TQNProgrammer::SpdBtnVerifyClick);
  RunToEnd();
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(OutcomeOf(n).operation, "verify");
    EXPECT_FALSE(OutcomeOf(n).failed) << OutcomeOf(n).text;
    EXPECT_TRUE(LoggedLine(ChannelLine(n, "操作成功！")));
    // The second programming went from the first block to the last.
    std::vector<uint32_t> expected = Ascending(programInFlight[static_cast<std::size_t>(n - 1)]);
    const std::vector<uint32_t> whole = Ascending(kChipBytes / 1024 - 4);
    expected.insert(expected.end(), whole.begin(), whole.end());
    EXPECT_EQ(Positions(Received(n), wire::kProgramBlock), expected);
  }
  EXPECT_TRUE(view.messages.empty()) << view.messages.front().text;
}

TEST_F(StopTest, ABlockReadStopsAndLeavesAnImageThatIsNoFilesAnyMore) {
  // The chip holds other data than the image, so that what was read shows.
  std::string content(kChipBytes, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 + i / 4096);
  WriteFile(directory / "content.bin", content);
  Connect(1, Recording({"--capability", "0x32", "--chip-content", (directory / "content.bin").string()}));
  Choose("W25x10xx");
  const std::vector<uint8_t> loaded = LoadRandom(kChipBytes);
  programmer->Controls.ChkBoxCPES.Checked = true;

  Start(&TQNProgrammer::SpeedButtonRDClick);
  const uint32_t position = RunUntilInFlight({1}, 3)[0];
  Stop();
  RunToEnd();
  const uint32_t readKB = position + 4;
  EXPECT_TRUE(OutcomeOf(1).stopped);
  EXPECT_EQ(OutcomeOf(1).operation, "read");
  EXPECT_EQ(Positions(Received(1), wire::kReadBlock), Ascending(position));
  EXPECT_TRUE(wire::PacketsWithCode(Received(1), wire::kReadStream).empty());
  EXPECT_TRUE(LoggedLine(ChannelLine(
      1, FormatText("The image holds the first %u KB read from the chip and is no file's now: read the chip again or "
                    "load a file before programming.",
                    readKB))));
  // The blocks read are in the image, the rest is as it was; programming
  // from this mixture needs a file or a whole read first.
  const uint8_t* image = programmer->Image.Data.get();
  EXPECT_TRUE(std::equal(content.begin(), content.begin() + readKB * 1024, reinterpret_cast<const char*>(image)));
  EXPECT_TRUE(std::equal(loaded.begin() + readKB * 1024, loaded.end(), image + readKB * 1024));
  EXPECT_FALSE(programmer->FileLoaded);
  view.messages.clear();
  programmer->RunCommand([&] { programmer->SpdBtnProgClick(); });
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "请加载目标文件！");
  EXPECT_TRUE(Idle(1));
}

// How the block in flight is answered decides the end: never (its wait runs
// out) is still a stop; an error is a failure.
TEST_F(StopTest, TheAnswerToTheBlockInFlightDecidesBetweenStoppedAndFailed) {
  struct Case {
    std::vector<std::string> fault;  // for the block at 12 KB, request 5 after the search
    bool stopped;
    const char* text;
  };
  const Case cases[] = {
      {{"--drop-reply", "5"}, true, "Stopped: block 4 of 32, the one in flight, was not answered."},
      {{"--fail", "0x95@12=0x2D"}, false, "写Flash Memory错误！"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    sim.reset();
    programmer = MakeProgrammer();
    RecordOutcomes();
    Connect(1, Recording(c.fault));
    Choose("W25x10xx");
    LoadRandom(kChipBytes);
    Start(&TQNProgrammer::SpdBtnProgClick);
    ASSERT_TRUE(loop.runUntil([&] { return programmer->Channels.Channel(1).BlockPos == 12; }, 20s));
    Stop();
    // The wait for an answer that never comes, counted tick by tick.
    for (int tick = 0; tick < 2000 && !Idle(1); ++tick) {
      loop.runFor(1ms);
      if (!Idle(1)) programmer->Timer1Timer();
    }
    ASSERT_TRUE(Idle(1));
    const OperationOutcome& o = OutcomeOf(1);
    EXPECT_EQ(o.stopped, c.stopped);
    EXPECT_TRUE(o.failed);
    EXPECT_FALSE(o.timedOut);
    EXPECT_EQ(o.text, c.text);
    EXPECT_EQ(Positions(Received(1), wire::kProgramBlock), Ascending(12));
  }
}

// A read-back is read block by block (this programmer does not stream): a
// verify by read-back stops with no verdict; a read-back that only explains
// a failed verify stops, and the verify's failure stands.
TEST_F(StopTest, AReadBackStopsAfterTheBlockInFlightAndAFailureItExplainsStands) {
  Connect(1, Recording({"--capability", "0x32", "--stuck-byte", "0x10=0x00"}));
  Choose("W25x10xx");
  programmer->Controls.ChkBoxCPES.Checked = true;
  LoadRandom(kChipBytes);
  struct Case {
    void (TQNProgrammer::*command)();
    bool stopped;  // else the verify's failure stands
  };
  for (const Case& c :
       {Case{&TQNProgrammer::ReadbackVerifyClick, true}, Case{&TQNProgrammer::SpdBtnVerifyClick, false}}) {
    SCOPED_TRACE(c.stopped);
    const std::size_t readsBefore = wire::PacketsWithCode(Received(1), wire::kReadBlock).size();
    Start(c.command);
    const uint32_t position = RunUntilInFlight({1}, 3)[0];
    ASSERT_EQ(programmer->Channels.Channel(1).Operation, kOpReadBack);
    Stop();
    RunToEnd();
    const uint32_t done = position / 4 + 1;
    const std::string stopped = FormatText("Stopped after block %u of %u: 0x00000000-0x%08X read back.", done, kBlocks,
                                           done * 4096 - 1);
    const OperationOutcome& o = OutcomeOf(1);
    EXPECT_EQ(o.operation, "verify");
    EXPECT_EQ(o.stopped, c.stopped);
    EXPECT_TRUE(o.failed);
    EXPECT_EQ(o.text, c.stopped ? stopped : std::string("数据校验错误！"));
    if (!c.stopped)
      EXPECT_TRUE(LoggedLine(ChannelLine(1, "The read-back to find where the chip differs stopped: " + stopped)));
    const std::vector<uint32_t> reads = Positions(Received(1), wire::kReadBlock);
    EXPECT_EQ(std::vector<uint32_t>(reads.begin() + static_cast<std::ptrdiff_t>(readsBefore), reads.end()),
              Ascending(position));
  }
  EXPECT_EQ(programmer->FailCount, 0u);
}

// What the programmer does by itself after one command is not stopped; the
// automatic run stops at the step after it.
TEST_F(StopTest, WhatAProgrammerRunsByItselfEndsOnItsOwnAndTheAutomaticRunStopsAfterIt) {
  Connect(2, Recording({"--stuck-byte", "0x10=0x00"}));
  Choose("W25x10xx");
  LoadRandom(64 * 1024);
  struct Case {
    void (TQNProgrammer::*command)();
    const char* operation;
    const char* line;    // logged for each programmer at the stop
    bool failed;         // as the operation ends by itself
  };
  const Case cases[] = {
      {&TQNProgrammer::SpdBtnEraseClick, "erase",
       "Stop: the erase runs on the programmer itself and cannot be stopped from here; it ends on its own.", false},
      // The stuck cell makes both fail; a stop asked reads no chip back.
      {&TQNProgrammer::BlankCheck1Click, "blank",
       "Stop: the blank check runs on the programmer itself and cannot be stopped from here; it ends on its own.",
       true},
      {&TQNProgrammer::SpdBtnVerifyClick, "verify",
       "Stop: the verify runs on the programmer itself and cannot be stopped from here; it ends on its own.", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    Start(c.command);
    Stop();  // the command is on its way: its reply comes with the next events
    RunToEnd();
    for (int n = 1; n <= 2; ++n) {
      SCOPED_TRACE(n);
      EXPECT_TRUE(LoggedLine(ChannelLine(n, c.line)));
      const OperationOutcome& o = OutcomeOf(n);
      EXPECT_EQ(o.operation, c.operation);
      EXPECT_FALSE(o.stopped);
      EXPECT_EQ(o.failed, c.failed) << o.text;
      EXPECT_FALSE(o.differences) << "not read back after a stop";
    }
    EXPECT_FALSE(Logged("Reading the chip back"));
    EXPECT_EQ(wire::PacketsWithCode(Received(1), wire::kReadStream).size(), 0u);
  }

  // The automatic run's erase is the programmer's: it is finished, and the
  // programming after it does not start.
  programmer->Controls.EnEraseChk.Checked = true;
  const std::size_t programBlocksBefore = wire::PacketsWithCode(Received(1), wire::kProgramBlock).size();
  const uint32_t failedBefore = programmer->FailCount;
  Start(&TQNProgrammer::SpdBtnAutoPClick);
  Stop();
  RunToEnd();
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    EXPECT_TRUE(LoggedLine(ChannelLine(n,
                                       "Stop: the programmer erases the chip by itself and cannot be stopped from "
                                       "here; programming does not start after the erase.")));
    EXPECT_TRUE(LoggedLine(ChannelLine(n, "Stopped after the erase: the chip is erased and was not programmed.")));
    const OperationOutcome& o = OutcomeOf(n);
    EXPECT_EQ(o.operation, "auto");
    EXPECT_TRUE(o.stopped);
    const std::vector<wire::Packet> packets = Received(n);
    EXPECT_EQ(packets.back().Code(), wire::kChipOperation);
    EXPECT_EQ(packets.back().Parameter(), 0x03) << "the erase was the last command";
    EXPECT_TRUE(wire::PacketsWithCode(packets, wire::kFinishAutoRun).empty());
  }
  EXPECT_EQ(wire::PacketsWithCode(Received(1), wire::kProgramBlock).size(), programBlocksBefore);
  EXPECT_EQ(programmer->FailCount, failedBefore) << "a stopped chip is no failed burn";
  EXPECT_EQ(programmer->BurnCount, 0u);
}

// Host-side serial numbers: the programmers follow one another; after a
// stop none follows, and the stopped chip's number goes to the next chip.
TEST_F(StopTest, AStoppedNumberedRunStartsNoFurtherProgrammerAndKeepsItsNumber) {
  Connect(2, Recording());
  Choose("24xx512");
  LoadRandom(32 * 1024);
  MainControls& c = programmer->Controls;
  c.CheckBoxSN.Checked = true;
  programmer->CheckBoxSNClick();
  c.ChkBoxPCSN.Checked = true;
  c.SNEdit.Text = "0x00000100";
  c.AddrEdit.Text = "0x1000";

  Start(&TQNProgrammer::SpdBtnProgClick);
  ASSERT_TRUE(programmer->NumberedRunPending());
  RunUntilInFlight({1}, 2);
  Stop();
  ASSERT_TRUE(loop.runUntil([&] { return Idle(1) && Idle(2) && !programmer->NumberedRunPending(); }, 20s));
  loop.runFor(50ms);  // a follower would start after the event that ended the first
  EXPECT_TRUE(Idle(2));
  EXPECT_TRUE(LoggedLine(Line("Host-side serial numbers: programmer 2 does not follow, the run was stopped.")));
  EXPECT_TRUE(OutcomeOf(1).stopped);
  EXPECT_EQ(OutcomeOf(1).serialNumber, 0x100u);
  EXPECT_EQ(outcomes.size(), 1u);
  EXPECT_TRUE(wire::PacketsWithCode(Received(2), wire::kProgramBlock).empty());
  EXPECT_EQ(c.SNEdit.Text, "0x00000100") << "the stopped chip's number is not used up";

  // The next press gives the number to programmer 1's next chip, and the
  // next one to programmer 2.
  Start(&TQNProgrammer::SpdBtnProgClick);
  ASSERT_TRUE(loop.runUntil([&] { return Idle(1) && Idle(2) && !programmer->NumberedRunPending(); }, 30s));
  loop.runFor(20ms);
  ASSERT_EQ(outcomes.size(), 2u);
  for (const OperationOutcome& o : outcomes) {
    EXPECT_FALSE(o.failed) << o.text;
    EXPECT_EQ(o.serialNumber, 0x100u + static_cast<uint32_t>(o.channel - 1));
  }
  EXPECT_EQ(c.SNEdit.Text, "0x00000102");
}

TEST_F(StopTest, EscapeDoesNothingWhileNoProgrammerIsBusy) {
  Connect(1);
  Choose("W25x10xx");
  view.lines.clear();
  Stop();
  EXPECT_TRUE(view.lines.empty());
  EXPECT_FALSE(programmer->StopAsked(1));
  EXPECT_EQ(view.focus.back(), "Panel1");
}

}  // namespace
}  // namespace velkor::test
