#include "sim/programmer_model.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "frame_helpers.hpp"
#include "host_packets.hpp"
#include "link/reply_check.hpp"
#include "sim/identification.hpp"

namespace velkor::sim {
namespace {

using testing::Append;
using testing::CommandFields;
using testing::DecodeFrames;
using testing::Frame;
using testing::HostCheckReply;
using testing::kQueryFrame;
using testing::MakeCommand;
using testing::Reseal;

class ModelTest : public ::testing::Test {
 protected:
  ModelTest() : model_(ProgrammerOptions{}, [this](std::string_view line) { log_.emplace_back(line); }) {}

  // Feeds bytes in pieces of chunk bytes (0: all at once) and returns the
  // decoded packets the model sent.
  std::vector<std::vector<uint8_t>> Exchange(std::span<const uint8_t> bytes, std::size_t chunk = 0) {
    if (chunk == 0) chunk = std::max<std::size_t>(bytes.size(), 1);
    for (std::size_t at = 0; at < bytes.size(); at += chunk)
      model_.Receive(bytes.subspan(at, std::min(chunk, bytes.size() - at)));
    const std::vector<uint8_t> out = model_.TakeOutput();
    return DecodeFrames(out);
  }

  bool Logged(const std::string& text) const {
    return std::any_of(log_.begin(), log_.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  }

  static bool IsIdentification(const std::vector<uint8_t>& packet) {
    IdentityName name = MakeIdentityName("Velkor350QN");
    return packet.size() == kIdentificationReplyLength && MatchIdentity(packet, name, kIdentityNameOffset) == 0 &&
           std::string(name.data()) == "Velkor350QN V3.10";
  }

  std::vector<std::string> log_;
  ProgrammerModel model_;
};

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) Append(all, p);
  return all;
}

TEST_F(ModelTest, IdentificationQueryIsAnsweredHoweverItArrives) {
  const std::vector<uint8_t> noise = {0xFF, 0x00, 0x12, 0xFF, 0xFF};
  struct Case {
    const char* name;
    std::vector<uint8_t> input;
    std::size_t chunk;
    std::size_t queries;
  };
  const Case cases[] = {
      {"whole", kQueryFrame, 0, 1},
      {"byte by byte", kQueryFrame, 1, 1},
      {"without trailer", {0xC0, 0xA3, 0xA5, 0x35, 0xC0}, 0, 1},
      {"noise around and between", Concat({noise, kQueryFrame, noise, kQueryFrame, noise}), 0, 2},
      {"noise between, byte by byte", Concat({noise, kQueryFrame, noise, kQueryFrame}), 1, 2},
      {"run of delimiters in front", Concat({{0xC0, 0xC0, 0xC0}, kQueryFrame}), 1, 1},
      {"three at once", Concat({kQueryFrame, kQueryFrame, kQueryFrame}), 0, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto replies = Exchange(c.input, c.chunk);
    ASSERT_EQ(replies.size(), c.queries);
    for (const auto& reply : replies) EXPECT_TRUE(IsIdentification(reply));
  }
}

TEST_F(ModelTest, FramesSplitAtAnyByteAreEachAnsweredOnce) {
  const std::vector<uint8_t> stream = Concat({kQueryFrame, Frame(MakeCommand({.code = 0x93, .parameter = 0x35})),
                                              Frame(MakeCommand({.code = 0x55, .payloadLength = 300}))});
  for (std::size_t split = 1; split < stream.size(); ++split) {
    SCOPED_TRACE("split at " + std::to_string(split));
    model_.Receive(std::span(stream).first(split));
    model_.Receive(std::span(stream).subspan(split));
    const auto replies = DecodeFrames(model_.TakeOutput());
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_TRUE(IsIdentification(replies[0]));
    EXPECT_EQ(replies[1][0], 0x93);
    EXPECT_EQ(replies[2][0], 0x55);
  }
}

TEST_F(ModelTest, EveryCommandGetsOneStatusReplyEchoingItsHeader) {
  // Sent in this order: the download blocks follow their start packet.
  const ChipParams flash = testing::Chip(0x20, 8u << 20, 0x03);
  const ChipParams pageFlash = testing::PageFlashChip();
  const std::vector<uint8_t> image(0x210000, 0xA5);
  std::vector<uint8_t> chunk = MakeCommand({.code = 0xB7, .parameter = 0x2400, .flags = 0x01, .family = 0x08,
                                            .subtype = 0x0F, .payloadLength = 2048});
  struct Case {
    const char* name;
    std::vector<uint8_t> packet;
    uint8_t status;
  };
  const Case cases[] = {
      {"start download", testing::StartDownload(flash, JobSettings{}, {"W25Q64", "image.bin"}), 0x00},
      {"download block", testing::DownloadBlock(0x07FC, flash, std::vector<uint8_t>(8u << 20, 0x11)), 0x00},
      {"blank check", testing::ChipCommand(0x93, 0x35, flash), 0x00},
      {"program block", testing::ProgramBlock(0x0100, flash, image), 0x00},
      {"program block, page flash", testing::ProgramBlock(0x00C0, pageFlash, image), 0x00},
      {"firmware chunk", chunk, 0x00},
      {"not a command of the programmer", MakeCommand({.code = 0x54, .payloadLength = 2}), 0x25},
      {"code 0 without payload", MakeCommand({.code = 0x00, .payloadLength = 0}), 0x25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto replies = Exchange(Frame(c.packet));
    ASSERT_EQ(replies.size(), 1u);
    const auto& r = replies[0];
    ASSERT_EQ(r.size(), 12u);
    EXPECT_EQ(HostCheckReply(r), c.status);
    EXPECT_EQ(r[0], c.packet[0]);
    EXPECT_EQ(r[1], c.packet[1]);
    EXPECT_EQ(r[2], c.packet[2]);
    EXPECT_EQ(r[3], 0);
    EXPECT_EQ(r[4], c.packet[4]);
    EXPECT_EQ(r[5], c.packet[5]);
    EXPECT_EQ(r[6], 2);
    EXPECT_EQ(r[7], 0);
    EXPECT_EQ(r[8], c.status);
    EXPECT_EQ(r[9], 0);
  }
  EXPECT_EQ(model_.Counters().repliesSent, std::size(cases));
  EXPECT_TRUE(Logged("unknown command 0x54"));
}

TEST_F(ModelTest, DamagedCommandsAreAnsweredWithAnErrorStatusAndLogged) {
  struct Case {
    const char* name;
    void (*damage)(std::vector<uint8_t>&);
    uint8_t status;
    const char* logged;
  };
  const Case cases[] = {
      {"bit flipped in the payload", [](std::vector<uint8_t>& p) { p[20] ^= 0x04; }, 0x23, "check value"},
      {"bit flipped in the header", [](std::vector<uint8_t>& p) { p[1] ^= 0x80; }, 0x23, "check value"},
      {"bit flipped in the check value", [](std::vector<uint8_t>& p) { p.back() ^= 0x01; }, 0x23, "check value"},
      {"length field too large",
       [](std::vector<uint8_t>& p) {
         p[6] = 49;
         Reseal(p);
       },
       0x20, "length field says 49"},
      {"length field too small",
       [](std::vector<uint8_t>& p) {
         p[6] = 0;
         Reseal(p);
       },
       0x20, "length field says 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear();
    std::vector<uint8_t> packet = MakeCommand({.code = 0x93, .parameter = 0x33, .payloadLength = 48});
    c.damage(packet);
    const auto replies = Exchange(Frame(packet));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(HostCheckReply(replies[0]), c.status);
    EXPECT_EQ(replies[0][0], 0x93);
    EXPECT_TRUE(Logged(c.logged));
  }
  EXPECT_EQ(model_.Counters().checkValueErrors, 3u);
  EXPECT_EQ(model_.Counters().lengthFieldErrors, 2u);
}

TEST_F(ModelTest, CheckValueErrorLogNamesBothValues) {
  std::vector<uint8_t> packet = MakeCommand({.code = 0x93, .payloadLength = 48});
  const uint16_t good = static_cast<uint16_t>(packet[56] | packet[57] << 8);
  packet[56] ^= 0x01;
  const uint16_t bad = static_cast<uint16_t>(packet[56] | packet[57] << 8);
  Exchange(Frame(packet));
  char expected[16];
  char received[16];
  std::snprintf(expected, sizeof expected, "0x%04X", good);
  std::snprintf(received, sizeof received, "0x%04X", bad);
  EXPECT_TRUE(Logged(expected)) << "expected value missing from the log";
  EXPECT_TRUE(Logged(received)) << "received value missing from the log";
}

TEST_F(ModelTest, FinishingCommandsAreLoggedButNeverAnswered) {
  // The finish-download packet exactly as the host sends it.
  const std::vector<uint8_t> finishDownload = {0x8A, 0x52, 0x45, 0x53, 0x54, 0xA8, 0x02, 0x00, 0x00, 0x00, 0xCD, 0x02};
  std::vector<uint8_t> finishAutoRun = finishDownload;
  finishAutoRun[0] = 0x86;
  Reseal(finishAutoRun);
  std::vector<uint8_t> damaged = finishDownload;
  damaged[8] = 0x01;

  struct Case {
    const char* name;
    std::vector<uint8_t> packet;
    const char* logged;
  };
  const Case cases[] = {
      {"finish download", finishDownload, "finish download (0x8A) received"},
      {"finish automatic run", finishAutoRun, "finish automatic run (0x86) received"},
      {"finish download with a bad check value", damaged, "check value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear();
    // A query behind it shows that nothing was sent in between.
    const auto replies = Exchange(Concat({Frame(c.packet), kQueryFrame}));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(IsIdentification(replies[0]));
    EXPECT_TRUE(Logged(c.logged));
  }
  EXPECT_EQ(model_.Counters().framesReceived, 6u);
  EXPECT_EQ(model_.Counters().repliesSent, 3u);
}

TEST_F(ModelTest, BrokenInputDoesNotHideTheNextQuery) {
  const std::vector<uint8_t> trailer(5, 0xFF);
  std::vector<uint8_t> overlong = {0xC0};
  overlong.insert(overlong.end(), LinkChannel::kFrameCapacity + 100, 0x11);
  overlong.push_back(0xC0);
  std::vector<uint8_t> neverClosed = {0xC0};
  neverClosed.insert(neverClosed.end(), LinkChannel::kRxCapacity + 4000, 0x22);

  struct Case {
    const char* name;
    std::vector<uint8_t> before;
    uint32_t undecodable;
    bool discards;
  };
  const Case cases[] = {
      {"bad escape", Concat({{0xC0, 0x01, 0xDB, 0x41, 0x02, 0xC0}, trailer}), 1, false},
      {"escape at the end", {0xC0, 0x01, 0x02, 0xDB, 0xC0}, 1, false},
      {"seven-byte packet", Concat({{0xC0, 1, 2, 3, 4, 5, 6, 7, 0xC0}, trailer}), 1, false},
      {"nine-byte packet", Concat({{0xC0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xC0}, trailer}), 1, false},
      // A stray delimiter in noise pairs with the query's opening delimiter.
      {"stray delimiter", {0x12, 0xC0, 0x34, 0x56}, 1, false},
      // Fill after a broken frame must not be taken for a packet.
      {"long fill after a broken frame", Concat({{0xC0, 0xDB, 0x41, 0xC0}, std::vector<uint8_t>(12, 0xFF)}), 1, false},
      {"frame longer than any packet", Concat({overlong, trailer}), 1, false},
      {"unclosed frame larger than the receive buffer", neverClosed, 0, true},
      // Noise is dropped as it comes, not kept until it fills the buffer.
      {"noise longer than the receive buffer", std::vector<uint8_t>(LinkChannel::kRxCapacity + 100, 0x5A), 0, false},
  };
  for (const std::size_t chunk : {std::size_t{0}, std::size_t{3}}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (chunk ? ", in pieces" : ", whole"));
      log_.clear();
      ProgrammerModel model(ProgrammerOptions{}, [this](std::string_view line) { log_.emplace_back(line); });
      const std::vector<uint8_t> input = Concat({c.before, kQueryFrame});
      const std::size_t step = chunk ? chunk : input.size();
      for (std::size_t at = 0; at < input.size(); at += step)
        model.Receive(std::span(input).subspan(at, std::min(step, input.size() - at)));

      const auto replies = DecodeFrames(model.TakeOutput());
      ASSERT_EQ(replies.size(), 1u);
      EXPECT_TRUE(IsIdentification(replies[0]));
      EXPECT_EQ(model.Counters().undecodableFrames, c.undecodable);
      EXPECT_EQ(model.Counters().discardedBytes > 0, c.discards);
      EXPECT_EQ(log_.size() > 1, c.undecodable > 0 || c.discards) << "the fault must be logged";
    }
  }
}

TEST_F(ModelTest, ProgressReportsSumToZeroAndSurviveEscaping) {
  struct Case {
    uint8_t stage, result;
    uint16_t done, total;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {0x40, 0x00, 0, 16, {0xFD, 0x40, 0x00, 0x00, 0x00, 0x10, 0x00, 0xB3}},
      // Check byte 0xC0: escaped on the wire.
      {0x40, 0x00, 3, 0, {0xFD, 0x40, 0x00, 0x03, 0x00, 0x00, 0x00, 0xC0}},
      {0xF0, 0x06, 0x1234, 0xDBC0, {0xFD, 0xF0, 0x06, 0x34, 0x12, 0xC0, 0xDB, 0x2C}},
  };
  for (const Case& c : cases) {
    model_.QueueProgressReport(c.stage, c.result, c.done, c.total);
    const auto reports = DecodeFrames(model_.TakeOutput());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], c.bytes);
    EXPECT_EQ(std::accumulate(reports[0].begin(), reports[0].end(), 0u) % 256, 0u);
  }
  EXPECT_EQ(model_.Counters().progressReportsSent, std::size(cases));
}

TEST_F(ModelTest, FrameTraceLogsEveryFrameBothWays) {
  model_.SetFrameTrace(true);
  Exchange(Frame(testing::ChipCommand(0x93, 0x35, testing::Chip(0x05, 2u << 20))));
  EXPECT_TRUE(Logged("received frame (")) << "incoming frame not traced";
  EXPECT_TRUE(Logged("sent frame (19 bytes): C0 93 35 00 00 05 01 02 00 00 00 1E 30 C0 FF")) << "reply not traced";
}

}  // namespace
}  // namespace velkor::sim
