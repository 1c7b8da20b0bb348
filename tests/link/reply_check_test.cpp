#include "link/reply_check.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/packets.hpp"

namespace velkor {
namespace {

using test::Bytes;
using test::MakePacket;

struct CheckCase {
  const char* name;
  Bytes packet;
  int flipByte;  // -1: none
  uint8_t expected;
};

class CheckReplyTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckReplyTest, GivesStatusDataOrMismatch) {
  const CheckCase& c = GetParam();
  LinkChannel channel;
  Bytes packet = c.packet;
  if (c.flipByte >= 0) packet[static_cast<std::size_t>(c.flipByte)] ^= 0x10;
  std::copy(packet.begin(), packet.end(), channel.PacketBuffer.begin());
  EXPECT_EQ(CheckReply(channel, static_cast<uint16_t>(packet.size())), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, CheckReplyTest,
    ::testing::Values(CheckCase{"StatusOk", MakePacket(0x95, {0x00, 0x00}), -1, 0x00},
                      CheckCase{"StatusSix", MakePacket(0x95, {0x06, 0x00}), -1, 0x06},
                      CheckCase{"StatusError", MakePacket(0x93, {0x60, 0x00}), -1, 0x60},
                      CheckCase{"OneBytePayload", MakePacket(0x93, {0x15}), -1, 0x15},
                      CheckCase{"DataReplyIsSuccessWhateverByte8Holds", MakePacket(0x9B, {0x60, 0x01, 0x02}), -1, 0x00},
                      CheckCase{"FlippedPayloadBit", MakePacket(0x95, {0x00, 0x00}), 8, kResultCheckMismatch},
                      CheckCase{"FlippedCheckValueBit", MakePacket(0x95, {0x00, 0x00}), 11, kResultCheckMismatch},
                      CheckCase{"FlippedHeaderBit", MakePacket(0x95, {0x00, 0x00}), 0, kResultCheckMismatch},
                      CheckCase{"TooShortForAHeaderAndCheck", Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}, -1,
                                kResultCheckMismatch}),
    [](const auto& tc) { return std::string(tc.param.name); });

// An identification reply with the name text at offset 24.
Bytes IdentityReply(const std::string& name, uint8_t byte3 = 0x80, std::size_t length = 128) {
  Bytes r(length, 0x00);
  r[0] = 0xA3;
  r[1] = 0xA5;
  r[2] = 0x35;
  r[3] = byte3;
  const std::size_t fits = std::min(name.size(), length - kIdentityNameOffset);
  std::copy_n(name.begin(), fits, r.begin() + kIdentityNameOffset);
  return r;
}

struct IdentityCase {
  const char* name;
  Bytes reply;
  const char* expected;
  bool matches;
  const char* fullName;  // buffer content after a match
};

class MatchIdentityTest : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(MatchIdentityTest, MatchesAndTakesTheFullName) {
  const IdentityCase& c = GetParam();
  IdentityName buffer = MakeIdentityName(c.expected);
  const int result = MatchIdentity(c.reply, buffer, kIdentityNameOffset);
  if (c.matches) {
    EXPECT_EQ(result, 0);
    EXPECT_STREQ(buffer.data(), c.fullName);
  } else {
    EXPECT_NE(result, 0);
    EXPECT_STREQ(buffer.data(), c.expected) << "the expected name stays on a mismatch";
  }
}

Bytes WithByte(Bytes r, std::size_t at, uint8_t value) {
  r[at] = value;
  return r;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, MatchIdentityTest,
    ::testing::Values(
        IdentityCase{"ModelWithVersion", IdentityReply("Velkor350QN V3.10"), "Velkor350QN", true, "Velkor350QN V3.10"},
        IdentityCase{"ShortStringDoesNotMatchTheModel", IdentityReply("VelkorQN V1.0"), "Velkor350QN", false, ""},
        IdentityCase{"ShortString", IdentityReply("VelkorQN V1.0"), "VelkorQN", true, "VelkorQN V1.0"},
        IdentityCase{"OtherDevice", IdentityReply("Gadget 2000"), "Velkor350QN", false, ""},
        // Byte 3 bounds the text to byte 3 + 1 characters.
        IdentityCase{"NameCutByLengthByte", IdentityReply("Velkor350QN V3.10", 12), "Velkor350QN", true,
                     "Velkor350QN V"},
        IdentityCase{"NameTooShortForTheModel", IdentityReply("Velkor350QN V3.10", 4), "Velkor350QN", false, ""},
        // A byte from 0x80 up ends the text.
        IdentityCase{"HighByteEndsText", WithByte(IdentityReply("Velkor350QN V3.10"), 24 + 13, 0x80), "Velkor350QN",
                     true, "Velkor350QN V"},
        // The text never runs past the decoded reply.
        IdentityCase{"TextEndsWithTheReply", IdentityReply("Velkor350QN V3.10", 0x80, 24 + 13), "Velkor350QN", true,
                     "Velkor350QN V"}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST(MatchIdentityTest, WrongSignatureOrZeroLengthByteGives15) {
  IdentityName buffer = MakeIdentityName("Velkor350QN");
  EXPECT_EQ(MatchIdentity(IdentityReply("Velkor350QN V3.10", 0), buffer, kIdentityNameOffset), kIdentityBadSignature);
  EXPECT_EQ(MatchIdentity(WithByte(IdentityReply("Velkor350QN V3.10"), 2, 0x36), buffer, kIdentityNameOffset),
            kIdentityBadSignature);
  EXPECT_EQ(MatchIdentity(Bytes{0xA3, 0xA5}, buffer, kIdentityNameOffset), kIdentityBadSignature);
}

}  // namespace
}  // namespace velkor
