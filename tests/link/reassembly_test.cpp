#include "link/reassembly.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/frame.hpp"
#include "support/packets.hpp"

namespace velkor {
namespace {

using test::Bytes;
using test::Concat;
using test::FrameOf;
using test::MakePacket;
using test::MakeStatusPacket;

// Decodes and checks every frame as the real handlers do and records the
// packets that pass, and which handler got them. An identification packet
// (code 0xA3) identifies the channel, as a matching reply would.
struct RecordingConsumer : FrameConsumer {
  struct Seen {
    bool identified;  // went to the dispatcher
    Bytes packet;
  };
  std::vector<Seen> seen;
  int rejected = 0;  // decoded, but with a wrong check value

  bool Take(LinkChannel& channel, uint16_t& frameLength, bool dispatched) {
    const DecodeResult r = DecodeFrame(channel.FrameBuffer, frameLength, channel.PacketBuffer);
    if (r.code != kResultOk) return false;
    const uint8_t* p = channel.PacketBuffer.data();
    if (LinkCrc16(p, 0, r.packetLength - 3u) != (p[r.packetLength - 2] | (p[r.packetLength - 1] << 8))) {
      ++rejected;
      return false;
    }
    seen.push_back({dispatched, Bytes(channel.PacketBuffer.begin(), channel.PacketBuffer.begin() + r.packetLength)});
    if (!dispatched && channel.PacketBuffer[0] == 0xA3) channel.Identified = 1;
    return true;
  }
  bool IdentifyReply(LinkChannel& channel, uint16_t& frameLength) override {
    return Take(channel, frameLength, false);
  }
  bool DispatchReply(LinkChannel& channel, uint16_t& frameLength) override {
    return Take(channel, frameLength, true);
  }
  std::vector<Bytes> Packets() const {
    std::vector<Bytes> out;
    for (const auto& s : seen) out.push_back(s.packet);
    return out;
  }
};

class ReassemblyTest : public ::testing::Test {
 protected:
  void Feed(const Bytes& bytes) { ReceiveData(channel, bytes.data(), static_cast<uint16_t>(bytes.size()), consumer); }
  void FeedInBlocks(const Bytes& bytes, std::size_t blockSize) {
    for (std::size_t i = 0; i < bytes.size(); i += blockSize) {
      const std::size_t n = std::min(blockSize, bytes.size() - i);
      ReceiveData(channel, bytes.data() + i, static_cast<uint16_t>(n), consumer);
    }
  }

  LinkChannel channel{1};
  RecordingConsumer consumer;
  const Bytes reply = MakePacket(0x9B, Bytes{0x10, 0xC0, 0xDB, 0x20, 0x30});  // escapes inside
  const Bytes replyFrame = FrameOf(reply);
};

TEST_F(ReassemblyTest, FrameSplitAnywhereIsDispatchedOnceAfterTheSecondBlock) {
  channel.Identified = 1;
  for (std::size_t split = 1; split < replyFrame.size(); ++split) {
    SCOPED_TRACE("split at " + std::to_string(split));
    consumer.seen.clear();
    channel.RxCount = 0;
    const Bytes first(replyFrame.begin(), replyFrame.begin() + static_cast<std::ptrdiff_t>(split));
    const Bytes second(replyFrame.begin() + static_cast<std::ptrdiff_t>(split), replyFrame.end());
    const bool closedInFirst = split > reply.size() + 3;  // past the escaped packet and both delimiters
    Feed(first);
    EXPECT_EQ(consumer.seen.size(), closedInFirst ? 1u : 0u);
    Feed(second);
    ASSERT_EQ(consumer.seen.size(), 1u);
    EXPECT_EQ(consumer.seen[0].packet, reply);
  }
}

TEST_F(ReassemblyTest, ByteByByteAndWholeGiveTheSamePackets) {
  channel.Identified = 1;
  const Bytes other = MakeStatusPacket(0x95, 0x06);
  const Bytes stream = Concat({replyFrame, FrameOf(other), replyFrame});
  FeedInBlocks(stream, 1);
  const auto oneByOne = consumer.Packets();
  consumer.seen.clear();
  Feed(stream);
  EXPECT_EQ(consumer.Packets(), oneByOne);
  EXPECT_EQ(oneByOne, (std::vector<Bytes>{reply, other, reply}));
  EXPECT_EQ(channel.RxCount, 5u) << "only the last trailer stays behind";
}

TEST_F(ReassemblyTest, FrameThatIdentifiesSendsTheNextFrameOfTheBlockToTheDispatcher) {
  const Bytes identity = MakePacket(0xA3, Bytes{1, 2, 3});
  Feed(Concat({FrameOf(identity), replyFrame}));
  ASSERT_EQ(consumer.seen.size(), 2u);
  EXPECT_FALSE(consumer.seen[0].identified);
  EXPECT_TRUE(consumer.seen[1].identified);
  EXPECT_EQ(consumer.seen[1].packet, reply);
}

TEST_F(ReassemblyTest, ArrivingBytesReloadTheTimeout) {
  channel.TimeoutTicks = 3;
  Feed({0xFF});
  EXPECT_EQ(channel.TimeoutTicks, kReceiveTimeoutTicks);
}

TEST_F(ReassemblyTest, NoiseAndTrailersBetweenFramesAreSkipped) {
  channel.Identified = 1;
  Feed(Concat({{0xFF, 0x00, 0x13}, replyFrame, {0x7E, 0x7E}, replyFrame}));
  EXPECT_EQ(consumer.Packets(), (std::vector<Bytes>{reply, reply}));
}

struct BadInputCase {
  const char* name;
  Bytes junk;
};

class ReassemblyBadInputTest : public ReassemblyTest, public ::testing::WithParamInterface<BadInputCase> {};

TEST_P(ReassemblyBadInputTest, NextGoodFrameIsStillUnderstood) {
  channel.Identified = 1;
  FeedInBlocks(Concat({GetParam().junk, replyFrame}), 2048);
  ASSERT_EQ(consumer.Packets(), std::vector<Bytes>{reply});
  EXPECT_LE(channel.RxCount, LinkChannel::kRxCapacity);
  // And the one after it, too.
  consumer.seen.clear();
  Feed(replyFrame);
  EXPECT_EQ(consumer.Packets(), std::vector<Bytes>{reply});
}

Bytes Repeat(uint8_t value, std::size_t count) { return Bytes(count, value); }

// The first part of a frame whose sender went away before finishing it.
Bytes HalfFrame() {
  Bytes frame = FrameOf(MakePacket(0x95, Bytes(100, 0x42)));
  frame.resize(50);
  return frame;
}

INSTANTIATE_TEST_SUITE_P(
    Junk, ReassemblyBadInputTest,
    ::testing::Values(
        BadInputCase{"StrayDelimiterInNoise", {0x11, 0xC0, 0x22, 0x33}},
        BadInputCase{"ShortFrame", {0xC0, 0x01, 0x02, 0xC0}},
        BadInputCase{"BadEscape", {0xC0, 0x01, 0xDB, 0x41, 0x02, 0xC0}},
        BadInputCase{"PeerGoneMidFrame", HalfFrame()},
        BadInputCase{"GarbageLongerThanTheBuffer", Repeat(0x5A, 40000)},
        BadInputCase{"OverlongFrame", Concat({{0xC0}, Repeat(0x5A, 13000), {0xC0}})},
        BadInputCase{"OverlongOpenFrame", Concat({{0xC0}, Repeat(0x5A, 15000)})}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST_F(ReassemblyTest, FlippedBitFrameReachesTheCheckAndTheNextFrameIsUnderstood) {
  channel.Identified = 1;
  Bytes damaged = replyFrame;
  damaged[3] ^= 0x01;
  Feed(Concat({damaged, replyFrame}));
  EXPECT_EQ(consumer.rejected, 1);
  EXPECT_EQ(consumer.Packets(), std::vector<Bytes>{reply});
}

TEST_F(ReassemblyTest, ReceiveErrorDropsThePartialFrameAndKeepsTheOperationSupervised) {
  channel.Identified = 1;
  channel.Busy = 1;
  Feed(Bytes(replyFrame.begin(), replyFrame.begin() + 6));
  ReceiveError(channel);
  EXPECT_EQ(channel.RxCount, 0u);
  EXPECT_EQ(channel.Busy, 1) << "a line error must not stop the time-out of the operation under way";
  Feed(Bytes(replyFrame.begin() + 6, replyFrame.end()));
  EXPECT_TRUE(consumer.seen.empty());
  Feed(replyFrame);
  EXPECT_EQ(consumer.Packets(), std::vector<Bytes>{reply});
}

TEST_F(ReassemblyTest, PairedDelimitersOnTheOlderScannerLoseOnlyThatPacket) {
  channel.DelimiterRuns = DelimiterRun::PairsAreEmptyFrames;
  channel.Identified = 1;
  const Bytes doubled = Concat({{0xC0}, replyFrame});  // C0 C0 packet C0 trailer
  Feed(Concat({doubled, replyFrame}));
  EXPECT_EQ(consumer.Packets(), std::vector<Bytes>{reply});
  consumer.seen.clear();
  channel.DelimiterRuns = DelimiterRun::LastOpens;
  channel.RxCount = 0;
  Feed(Concat({doubled, replyFrame}));
  EXPECT_EQ(consumer.Packets(), (std::vector<Bytes>{reply, reply}));
}

}  // namespace
}  // namespace velkor
