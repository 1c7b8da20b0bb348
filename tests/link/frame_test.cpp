#include "link/frame.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velkor {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(const Bytes& packet) {
  Bytes out(MaxEncodedLength(packet.size()));
  out.resize(EncodeFrame(packet, out));
  return out;
}

TEST(EncodeFrameTest, EscapesDelimiterAndEscapeAndAppendsTrailer) {
  EXPECT_EQ(Encode({0x01, 0xC0, 0xDB, 0x02}),
            (Bytes{0xC0, 0x01, 0xDB, 0xDC, 0xDB, 0xDD, 0x02, 0xC0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(EncodeFrameTest, WorstCaseFitsExactlyAndOneByteLessWritesNothing) {
  const Bytes packet(100, 0xC0);
  Bytes out(MaxEncodedLength(packet.size()), 0x11);
  EXPECT_EQ(EncodeFrame(packet, out), out.size());

  Bytes tooSmall(MaxEncodedLength(packet.size()) - 1, 0x11);
  EXPECT_EQ(EncodeFrame(packet, tooSmall), 0u);
  EXPECT_EQ(tooSmall, Bytes(tooSmall.size(), 0x11));
}

TEST(EncodeFrameTest, EmptyPacketGivesNoFrame) {
  Bytes out(16);
  EXPECT_EQ(EncodeFrame({}, out), 0u);
}

struct ScanCase {
  const char* name;
  DelimiterRun runs;
  Bytes rx;
  std::vector<Bytes> frames;  // frames found, in order, before NotFound
};

class ExtractFrameTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ExtractFrameTest, FindsTheFramesInOrder) {
  const ScanCase& c = GetParam();
  Bytes frame(64);
  std::size_t pos = 0;
  std::vector<Bytes> found;
  for (;;) {
    std::size_t length = 0;
    const ScanResult r = ExtractFrame(c.rx, pos, frame, length, c.runs);
    if (r == ScanResult::NotFound) break;
    ASSERT_EQ(r, ScanResult::Found);
    found.emplace_back(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(length));
  }
  EXPECT_EQ(found, c.frames);
}

constexpr auto kLast = DelimiterRun::LastOpens;
constexpr auto kPairs = DelimiterRun::PairsAreEmptyFrames;

INSTANTIATE_TEST_SUITE_P(
    Runs, ExtractFrameTest,
    ::testing::Values(
        ScanCase{"TripleRunLastOpens", kLast, {0xC0, 0xC0, 0xC0, 0x12, 0x34, 0xC0}, {{0xC0, 0x12, 0x34, 0xC0}}},
        ScanCase{"DoubleRunLastOpens", kLast, {0xC0, 0xC0, 0x12, 0x34, 0xC0}, {{0xC0, 0x12, 0x34, 0xC0}}},
        ScanCase{"TripleRunPairs", kPairs, {0xC0, 0xC0, 0xC0, 0x12, 0x34, 0xC0}, {{0xC0}, {0xC0, 0x12, 0x34, 0xC0}}},
        // The pair is one empty frame; the packet's bytes are skipped and its
        // closing delimiter is left waiting as an opening one.
        ScanCase{"DoubleRunPairs", kPairs, {0xC0, 0xC0, 0x12, 0x34, 0xC0}, {{0xC0}}},
        ScanCase{"NoiseBeforeDelimiter", kLast, {0xFF, 0xFF, 0x07, 0xC0, 0x12, 0xC0}, {{0xC0, 0x12, 0xC0}}},
        ScanCase{"TwoFramesWithTrailer", kLast,
                 {0xC0, 0x01, 0xC0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xC0, 0x02, 0xC0},
                 {{0xC0, 0x01, 0xC0}, {0xC0, 0x02, 0xC0}}},
        ScanCase{"Unfinished", kLast, {0xC0, 0x12, 0x34}, {}},
        ScanCase{"NoDelimiterAtAll", kLast, {0x12, 0x34, 0xFF}, {}},
        ScanCase{"LoneDelimiterAtEnd", kLast, {0x12, 0xC0}, {}}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST(ExtractFrameTest, OverlongFrameIsSkippedAndItsClosingDelimiterOpensTheNext) {
  // The frame buffer holds 8 bytes; the first frame needs 12.
  Bytes rx{0xC0};
  rx.insert(rx.end(), 10, 0x55);
  rx.insert(rx.end(), {0xC0, 0x66, 0xC0});
  Bytes frame(8);
  std::size_t pos = 0;
  std::size_t length = 0;
  EXPECT_EQ(ExtractFrame(rx, pos, frame, length, kLast), ScanResult::Overlong);
  EXPECT_EQ(pos, 11u);
  ASSERT_EQ(ExtractFrame(rx, pos, frame, length, kLast), ScanResult::Found);
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(length)), (Bytes{0xC0, 0x66, 0xC0}));
}

TEST(ExtractFrameTest, OverlongFrameWithoutClosingDelimiterWaits) {
  Bytes rx{0xC0};
  rx.insert(rx.end(), 20, 0x55);
  Bytes frame(8);
  std::size_t pos = 0;
  std::size_t length = 0;
  EXPECT_EQ(ExtractFrame(rx, pos, frame, length, kLast), ScanResult::NotFound);
}

struct DecodeCase {
  const char* name;
  Bytes frame;
  uint8_t code;
  Bytes packet;     // checked when code is kResultOk
  Bytes remaining;  // frame bytes left after the call
};

class DecodeFrameTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeFrameTest, DecodesOrRefuses) {
  const DecodeCase& c = GetParam();
  Bytes frame = c.frame;
  auto length = static_cast<uint16_t>(frame.size());
  Bytes packet(16, 0xEE);
  const DecodeResult r = DecodeFrame(frame, length, packet);
  EXPECT_EQ(r.code, c.code);
  if (c.code == kResultOk) {
    ASSERT_EQ(r.packetLength, c.packet.size());
    EXPECT_EQ(Bytes(packet.begin(), packet.begin() + r.packetLength), c.packet);
  }
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + length), c.remaining);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, DecodeFrameTest,
    ::testing::Values(
        DecodeCase{"Plain", {0xC0, 1, 2, 3, 4, 5, 6, 7, 8, 0xC0}, kResultOk, {1, 2, 3, 4, 5, 6, 7, 8}, {}},
        DecodeCase{"Escapes", {0xC0, 1, 0xDB, 0xDC, 0xDB, 0xDD, 4, 5, 6, 7, 8, 0xC0}, kResultOk,
                   {1, 0xC0, 0xDB, 4, 5, 6, 7, 8}, {}},
        DecodeCase{"LeadingDoubleDelimiter", {0xC0, 0xC0, 1, 2, 3, 4, 5, 6, 7, 8, 0xC0}, kResultOk,
                   {1, 2, 3, 4, 5, 6, 7, 8}, {}},
        DecodeCase{"BytesBehindAreKept", {0xC0, 1, 2, 3, 4, 5, 6, 7, 8, 0xC0, 0xAA, 0xBB}, kResultOk,
                   {1, 2, 3, 4, 5, 6, 7, 8}, {0xAA, 0xBB}},
        DecodeCase{"SevenBytesIsTooShort", {0xC0, 1, 2, 3, 4, 5, 6, 7, 0xC0}, kResultBadFrame, {}, {}},
        DecodeCase{"BadEscape", {0xC0, 1, 0xDB, 0x41, 5, 6, 0xC0}, kResultBadFrame, {}, {5, 6, 0xC0}},
        DecodeCase{"NoClosingDelimiter", {0xC0, 1, 2, 3}, kResultIncomplete, {}, {0xC0, 1, 2, 3}},
        DecodeCase{"OneByteFrame", {0xC0}, kResultIncomplete, {}, {0xC0}},
        DecodeCase{"LongerThanThePacketBuffer",
                   {0xC0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 0xC0},
                   kResultBadFrame, {}, {0xC0}}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST(DecodeFrameTest, RoundTripsEveryByteValue) {
  Bytes packet(512);
  for (std::size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<uint8_t>(i * 7);
  Bytes frame = Encode(packet);
  auto length = static_cast<uint16_t>(frame.size());
  Bytes decoded(LinkChannel::kPacketCapacity);
  const DecodeResult r = DecodeFrame(frame, length, decoded);
  ASSERT_EQ(r.code, kResultOk);
  EXPECT_EQ(Bytes(decoded.begin(), decoded.begin() + r.packetLength), packet);
  // What is left is the trailer.
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + length), Bytes(kFrameTrailerLength, 0xFF));
}

}  // namespace
}  // namespace velkor
