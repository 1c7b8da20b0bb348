// The faults a simulated programmer makes on purpose, and the pace of its
// line.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "host_packets.hpp"
#include "sim/wire_schedule.hpp"

namespace velkor::sim {
namespace {

using namespace testing;

const ChipParams kChip = Chip(0x05, 64 << 10);

template <typename Set>
ProgrammerOptions WithFaults(Set set) {
  ProgrammerOptions options;
  set(options.faults);
  return options;
}

FailureRule Fail(uint8_t code, std::optional<uint16_t> subOperation, std::optional<uint32_t> position,
                 uint8_t status) {
  FailureRule rule;
  rule.code = code;
  rule.subOperation = subOperation;
  rule.position = position;
  rule.status = status;
  return rule;
}

TEST(Faults, FailureRulesAnswerTheirStatusInsteadOfActing) {
  const std::vector<uint8_t> image = Pattern(64 << 10, 11);
  struct Step {
    Packet packet;
    unsigned status;
  };
  struct Case {
    const char* name;
    FailureRule rule;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"program block at one position",
       Fail(0x95, std::nullopt, 16, 0x2D),
       {{ProgramBlock(16, kChip, image), 0x2D},
        {ProgramBlock(12, kChip, image), 0x00},
        {ChipCommand(kCmdChipOperation, kSubOpBlankCheck, kChip), 0x15}}},
      {"one sub-operation",
       Fail(0x93, 0x35, std::nullopt, 0x60),
       {{ChipCommand(kCmdChipOperation, kSubOpBlankCheck, kChip), 0x60},
        {ChipCommand(kCmdChipOperation, kSubOpErase, kChip), 0x00}}},
      {"every chip operation",
       Fail(0x93, std::nullopt, std::nullopt, 0x40),
       {{ChipCommand(kCmdChipOperation, kSubOpErase, kChip), 0x40},
        {ChipCommand(kCmdChipOperation, kSubOpVerify, kChip), 0x40},
        {ProgramBlock(0, kChip, image), 0x00}}},
      {"every read block",
       Fail(0x9B, std::nullopt, std::nullopt, 0x45),
       {{ChipCommand(kCmdReadBlock, 0, kChip), 0x45}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModelHarness programmer(WithFaults([&](FaultOptions& f) { f.failures = {c.rule}; }));
    for (const Step& step : c.steps) EXPECT_EQ(programmer.Status(step.packet), step.status);
  }

  // The failed block was not programmed.
  ModelHarness programmer(WithFaults([](FaultOptions& f) { f.failures = {Fail(0x95, std::nullopt, 16, 0x2D)}; }));
  ASSERT_EQ(programmer.Status(ProgramBlock(16, kChip, image)), 0x2Du);
  EXPECT_EQ(programmer.Status(ChipCommand(kCmdChipOperation, kSubOpBlankCheck, kChip)), 0x00u);
  EXPECT_EQ(programmer.Counters().failuresInjected, 1u);
}

TEST(Faults, FailureInAStreamedReadEndsItWithTheStatus) {
  ChipParams chip = kChip;
  chip.SizeKB = 20;
  ModelHarness programmer(WithFaults([](FaultOptions& f) { f.failures = {Fail(0x96, std::nullopt, 8, 0x2C)}; }));
  const auto replies = programmer.Send(ChipCommand(kCmdReadStream, 0, chip));
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[0].size(), 8 + kBlockBytes + 2);
  EXPECT_EQ(replies[1].size(), 8 + kBlockBytes + 2);
  EXPECT_EQ(HostCheckReply(replies[2]), 0x2C);
  EXPECT_EQ(replies[2][1] | replies[2][2] << 8, 8) << "the status names the failed block";
  EXPECT_FALSE(programmer.Model().Streaming());
}

TEST(Faults, DroppedReplyIsTheOnlyOneLostAndTheCommandStillActs) {
  const std::vector<uint8_t> image = Pattern(64 << 10, 12);
  ModelHarness programmer(WithFaults([](FaultOptions& f) { f.dropReplyTo = {2}; }));
  EXPECT_EQ(programmer.SendBytes(kQueryFrame).size(), 1u);                // request 1
  EXPECT_TRUE(programmer.Send(ProgramBlock(4, kChip, image)).empty());    // request 2
  const std::vector<uint8_t> block(image.begin() + 4096, image.begin() + 8192);
  EXPECT_EQ(programmer.Data(ChipCommand(kCmdReadBlock, 4, kChip)), block);  // request 3
  EXPECT_EQ(programmer.Counters().repliesDropped, 1u);
}

TEST(Faults, CorruptedReplyFailsTheHostsCheckAndTheNextIsSound) {
  ModelHarness programmer(WithFaults([](FaultOptions& f) { f.corruptReply = {2, 3}; }));
  EXPECT_EQ(programmer.Status(ChipCommand(kCmdChipOperation, kSubOpBlankCheck, kChip)), 0x00u);
  EXPECT_EQ(programmer.Status(ChipCommand(kCmdReadBlock, 0, kChip)), 0x23u) << "a data reply";
  EXPECT_EQ(programmer.Status(ChipCommand(kCmdChipOperation, kSubOpErase, kChip)), 0x23u) << "a status reply";
  EXPECT_EQ(programmer.Data(ChipCommand(kCmdReadBlock, 0, kChip)).size(), kBlockBytes);
  EXPECT_EQ(programmer.Counters().repliesCorrupted, 2u);
}

TEST(Faults, NoiseBetweenFramesCostsTheHostNoReply) {
  const std::vector<uint8_t> noise = {0xC0, 0x12, 0xC0, 0xDB, 0x00, 0xFF, 0xC0};
  ModelHarness programmer(WithFaults([&](FaultOptions& f) { f.noise = noise; }));
  std::vector<uint8_t> sent;
  for (uint32_t position : {0u, 4u, 8u}) {
    programmer.Model().Receive(Frame(ChipCommand(kCmdReadBlock, position, kChip)));
    Append(sent, programmer.TakeAll());
  }
  programmer.Model().QueueProgressReport(0x10, 0, 0, 0);
  Append(sent, programmer.TakeAll());
  ASSERT_TRUE(std::equal(noise.begin(), noise.end(), sent.begin())) << "no noise in front of the first frame";

  HostReceiver host;
  host.Deliver(sent);
  ASSERT_EQ(host.Packets().size(), 4u);
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(host.Packets()[i][0], kCmdReadBlock);
    EXPECT_EQ(host.Packets()[i][1], 4 * i);
  }
  EXPECT_EQ(host.Packets()[3][0], kProgressReportCode);
  EXPECT_EQ(host.CheckMismatches(), 0);
}

TEST(Faults, StallLeavesEveryLaterRequestUnanswered) {
  ModelHarness programmer(WithFaults([](FaultOptions& f) { f.stallAfterRequests = 2; }));
  EXPECT_EQ(programmer.SendBytes(kQueryFrame).size(), 1u);
  EXPECT_EQ(programmer.Status(ChipCommand(kCmdChipOperation, kSubOpErase, kChip)), 0x00u);
  EXPECT_TRUE(programmer.SendBytes(kQueryFrame).empty());
  EXPECT_TRUE(programmer.Send(ChipCommand(kCmdChipOperation, kSubOpErase, kChip)).empty());
  EXPECT_EQ(programmer.Counters().requestsIgnored, 2u);
}

TEST(Faults, HangUpComesAfterTheGivenNumberOfBlocks) {
  const std::vector<uint8_t> image = Pattern(64 << 10, 13);
  {
    SCOPED_TRACE("block by block");
    ModelHarness programmer(WithFaults([](FaultOptions& f) { f.hangUpAfterBlocks = 2; }));
    EXPECT_EQ(programmer.Status(ProgramBlock(0, kChip, image)), 0x00u);
    EXPECT_EQ(programmer.Data(ChipCommand(kCmdReadBlock, 0, kChip)).size(), kBlockBytes);
    EXPECT_FALSE(programmer.Model().HungUp());
    EXPECT_TRUE(programmer.Send(ProgramBlock(4, kChip, image)).empty());
    EXPECT_TRUE(programmer.Model().HungUp());
    EXPECT_TRUE(programmer.SendBytes(kQueryFrame).empty()) << "a programmer that went away answered";
  }
  {
    SCOPED_TRACE("streamed");
    ModelHarness programmer(WithFaults([](FaultOptions& f) { f.hangUpAfterBlocks = 2; }));
    EXPECT_EQ(programmer.Send(ChipCommand(kCmdReadStream, 0, kChip)).size(), 2u);
    EXPECT_TRUE(programmer.Model().HungUp());
    EXPECT_FALSE(programmer.Model().Streaming());
  }
}

using Clock = WireSchedule::Clock;
using std::chrono::microseconds;

TEST(WireSchedule, WithoutOptionsEverythingGoesAtOnce) {
  WireSchedule wire(LineOptions{});
  const Clock::time_point t0{};
  EXPECT_EQ(wire.Allowance(t0, 100000), 100000u);
  wire.Wrote(100000, t0);
  EXPECT_EQ(wire.Allowance(t0, 5), 5u);
}

TEST(WireSchedule, SplitWritesAreSmallAndSpacedByTheDelay) {
  LineOptions options;
  options.splitBytes = 7;
  options.splitDelay = microseconds(300);
  WireSchedule wire(options);
  const Clock::time_point t0 = Clock::time_point{} + std::chrono::seconds(1);
  EXPECT_EQ(wire.Allowance(t0, 19), 7u);
  wire.Wrote(7, t0);
  EXPECT_EQ(wire.Allowance(t0 + microseconds(299), 12), 0u);
  EXPECT_EQ(wire.Allowance(t0 + microseconds(300), 12), 7u);
  EXPECT_EQ(wire.Allowance(t0 + microseconds(300), 3), 3u);
}

TEST(WireSchedule, PacedOutputKeepsTheLinesRate) {
  LineOptions options;
  options.paced = true;
  WireSchedule wire(options);
  const Clock::time_point start = Clock::time_point{} + std::chrono::seconds(1);
  Clock::time_point now = start;
  std::size_t left = 100000;
  wire.Queued(left, 0, start);
  while (left > 0) {
    // Every wake-up a little late, as poll's are.
    now = std::max(now, wire.NextWrite() + microseconds(150));
    const std::size_t n = wire.Allowance(now, left);
    ASSERT_GT(n, 0u);
    ASSERT_LE(n, kPacedPiece);
    wire.Wrote(n, now);
    left -= n;
  }
  // 100,000 bytes take 1.1 s on the line; lateness must not add up, and
  // the last byte never goes before its time.
  const auto lineTime = microseconds(11) * 100000;
  EXPECT_GE(now - start, lineTime);
  EXPECT_LE(now - start, lineTime + microseconds(1000));
}

// A piece goes to the host when its last byte would have crossed the line,
// not when its first byte starts: a short reply costs its whole line time.
TEST(WireSchedule, APacedPieceGoesWhenItsLastByteHasArrived) {
  LineOptions options;
  options.paced = true;
  WireSchedule wire(options);
  const Clock::time_point t0 = Clock::time_point{} + std::chrono::seconds(1);
  wire.Queued(10, 0, t0);
  EXPECT_EQ(wire.NextWrite(), t0 + microseconds(110));
  EXPECT_EQ(wire.Allowance(t0 + microseconds(109), 10), 9u) << "what has arrived may go";
  EXPECT_EQ(wire.Allowance(t0 + microseconds(110), 10), 10u);
  wire.Wrote(10, t0 + microseconds(110));

  // A longer reply, and the simulator wakes 5 ms late: what crossed the
  // line meanwhile (454 bytes) goes at once, a piece at a time, and the
  // line's time goes on from when the last of it arrived.
  const Clock::time_point ready = t0 + microseconds(110);
  wire.Queued(1000, 0, ready);
  const Clock::time_point late = ready + microseconds(5000);
  ASSERT_EQ(wire.Allowance(late, 1000), kPacedPiece);
  wire.Wrote(kPacedPiece, late);
  ASSERT_EQ(wire.Allowance(late, 1000 - kPacedPiece), 454u - kPacedPiece);
  wire.Wrote(454 - kPacedPiece, late);
  EXPECT_EQ(wire.Allowance(late, 546), 0u);
  EXPECT_EQ(wire.NextWrite(), ready + kByteTime * (454 + static_cast<int64_t>(kPacedPiece)));
}

TEST(WireSchedule, OnAPacedLineTheAnswerWaitsForTheRequestsLastByte) {
  LineOptions options;
  options.paced = true;
  WireSchedule wire(options);
  const Clock::time_point t0 = Clock::time_point{} + std::chrono::seconds(1);
  // A 4,100-byte frame read in two pieces: 45.1 ms of line time from the
  // first piece on, however quickly the pieces came.
  wire.Received(4000, t0);
  wire.Received(100, t0 + microseconds(20));
  wire.Queued(8, 0, t0 + microseconds(20));
  // The 8-byte answer then takes its own 88 us.
  EXPECT_EQ(wire.Allowance(t0 + microseconds(45099), 8), 0u);
  EXPECT_EQ(wire.Allowance(t0 + microseconds(45100 + 87), 8), 7u);
  EXPECT_EQ(wire.Allowance(t0 + microseconds(45100 + 88), 8), 8u);
  // After an idle gap the line's time counts from the new bytes.
  const Clock::time_point later = t0 + std::chrono::seconds(1);
  wire.Wrote(8, t0 + microseconds(45100 + 88));
  wire.Received(10, later);
  wire.Queued(8, 0, later);
  EXPECT_EQ(wire.Allowance(later + microseconds(110), 8), 0u);
  EXPECT_EQ(wire.Allowance(later + microseconds(110 + 88), 8), 8u);

  WireSchedule unpaced(LineOptions{});
  unpaced.Received(4000, t0);
  EXPECT_EQ(unpaced.Allowance(t0, 8), 8u) << "only a paced line takes time";
}

TEST(WireSchedule, ChipTimeHoldsTheAnswerBack) {
  LineOptions options;
  options.blockTime = microseconds(5000);
  WireSchedule wire(options);
  const Clock::time_point t0 = Clock::time_point{} + std::chrono::seconds(1);
  wire.Queued(12, 2, t0);  // an answer after two blocks of the chip's work
  EXPECT_EQ(wire.Allowance(t0 + microseconds(9999), 12), 0u);
  EXPECT_EQ(wire.NextWrite(), t0 + microseconds(10000));
  EXPECT_EQ(wire.Allowance(t0 + microseconds(10000), 12), 12u);
}

// A streamed read: the programmer reads block after block and sends each
// as soon as it is read, not the whole chip's time later. Block k is ready
// (k + 1) block times after the start, while the line sends the blocks
// before it.
TEST(WireSchedule, AStreamedReadSendsEachBlockWhenItsTimeHasPassed) {
  constexpr std::size_t kBlock = 4106;
  constexpr int kBlocks = 16;
  const auto blockTime = microseconds(100000);
  for (const bool paced : {false, true}) {
    SCOPED_TRACE(paced ? "paced" : "unpaced");
    LineOptions options;
    options.paced = paced;
    options.blockTime = blockTime;
    WireSchedule wire(options);
    const Clock::time_point t0 = Clock::time_point{} + std::chrono::seconds(1);
    // The front end queues a few blocks ahead of the line, as it does.
    int queued = 0;
    std::size_t pending = 0;
    const auto queueAhead = [&](Clock::time_point now) {
      while (queued < kBlocks && pending < 4 * kBlock) {
        wire.Queued(kBlock, 1, now);
        pending += kBlock;
        ++queued;
      }
    };
    std::vector<Clock::time_point> blockSent;  // when each block's last byte left
    std::size_t sentOfBlock = 0;
    Clock::time_point now = t0;
    queueAhead(now);
    while (blockSent.size() < static_cast<std::size_t>(kBlocks)) {
      now = std::max(now, wire.NextWrite());
      const std::size_t n = std::min(wire.Allowance(now, pending), kBlock - sentOfBlock);
      ASSERT_GT(n, 0u);
      wire.Wrote(n, now);
      pending -= n;
      sentOfBlock += n;
      if (sentOfBlock == kBlock) {
        blockSent.push_back(now);
        sentOfBlock = 0;
      }
      queueAhead(now);
    }
    const auto lineTime = paced ? kByteTime * static_cast<int64_t>(kBlock) : microseconds(0);
    for (int k = 0; k < kBlocks; ++k) {
      SCOPED_TRACE(k);
      // Read, then on the line: the block's last byte arrives exactly then.
      EXPECT_EQ(blockSent[static_cast<std::size_t>(k)], t0 + blockTime * (k + 1) + lineTime);
    }
  }
}

}  // namespace
}  // namespace velkor::sim
