#include "sim/identification.hpp"

#include <gtest/gtest.h>

#include <string>

#include "link/reply_check.hpp"

namespace velkor::sim {
namespace {

uint32_t ReadLe(const IdentificationReply& r, std::size_t offset, std::size_t width) {
  uint32_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value |= uint32_t{r[offset + i]} << (8 * i);
  return value;
}

// The host locates the serial-number settings from the length in bytes 3-4.
std::size_t ReportedLength(const IdentificationReply& r) { return ReadLe(r, 3, 2); }

TEST(IdentificationReply, DefaultReplyIsRecognisedAsTheModelWithItsVersion) {
  const IdentificationReply reply = BuildIdentificationReply({});
  EXPECT_EQ(reply[0], 0xA3);
  EXPECT_EQ(reply[1], 0xA5);
  EXPECT_EQ(reply[2], 0x35);
  EXPECT_EQ(ReportedLength(reply), reply.size());
  EXPECT_EQ(reply[19], 0x33);

  IdentityName expected = MakeIdentityName("Velkor350QN");
  ASSERT_EQ(MatchIdentity(reply, expected, kIdentityNameOffset), 0);
  EXPECT_STREQ(expected.data(), "Velkor350QN V3.10");
}

TEST(IdentificationReply, ShortNameMatchesOnlyTheShortString) {
  ProgrammerOptions options;
  options.name = "VelkorQN";
  options.version = "V1.00";
  const IdentificationReply reply = BuildIdentificationReply(options);

  IdentityName model = MakeIdentityName("Velkor350QN");
  EXPECT_NE(MatchIdentity(reply, model, kIdentityNameOffset), 0);
  EXPECT_STREQ(model.data(), "Velkor350QN");

  IdentityName shortName = MakeIdentityName("VelkorQN");
  ASSERT_EQ(MatchIdentity(reply, shortName, kIdentityNameOffset), 0);
  EXPECT_STREQ(shortName.data(), "VelkorQN V1.00");
}

TEST(IdentificationReply, CapabilityByteIsSentAsGiven) {
  for (const uint8_t capability : {0x00, 0x32, 0x33, 0xFF}) {
    ProgrammerOptions options;
    options.capability = capability;
    const IdentificationReply reply = BuildIdentificationReply(options);
    EXPECT_EQ(reply[19], capability);
    for (std::size_t i = 5; i < kNameOffset; ++i) {
      if (i != 19) {
        EXPECT_EQ(reply[i], 0) << "byte " << i;
      }
    }
  }
}

TEST(IdentificationReply, SerialNumberSettingsAreFoundFromTheReportedLength) {
  struct Case {
    SerialNumberSettings settings;
    uint8_t enabledByte;
  };
  const Case cases[] = {
      {{}, 0},
      {{true, 0x1234, 0x89ABCDEF, 0xC0DBC0DB, 0x01020304}, 1},
      {{true, 0, 0xFFFFFFFF, 0, 0xFFFFFFFF}, 1},
  };
  for (const Case& c : cases) {
    ProgrammerOptions options;
    options.serialNumbers = c.settings;
    const IdentificationReply reply = BuildIdentificationReply(options);
    const std::size_t L = ReportedLength(reply);
    ASSERT_EQ(L, reply.size());
    EXPECT_EQ(reply[L - 60], 0);
    EXPECT_EQ(reply[L - 59], c.enabledByte);
    EXPECT_EQ(reply[L - 58], 4);
    EXPECT_EQ(ReadLe(reply, L - 57, 2), c.settings.increment);
    EXPECT_EQ(ReadLe(reply, L - 55, 2), c.settings.startAddress & 0xFFFF);
    EXPECT_EQ(ReadLe(reply, L - 53, 2), c.settings.startAddress >> 16);
    EXPECT_EQ(ReadLe(reply, L - 51, 4), c.settings.initial);
    EXPECT_EQ(ReadLe(reply, L - 23, 4), c.settings.current);
    for (std::size_t i = L - 47; i <= L - 24; ++i) EXPECT_EQ(reply[i], 0) << "byte L-" << L - i;
    for (std::size_t i = L - 19; i < L; ++i) EXPECT_EQ(reply[i], 0) << "byte L-" << L - i;
  }
}

TEST(IdentificationReply, NameIsKeptOutOfTheSerialNumberBlock) {
  struct Case {
    std::string version;
    std::string sent;  // what the host reads back
  };
  const std::string name = "Velkor350QN";
  const std::string longest(kLongestFullName - name.size() - 1, 'V');
  const Case cases[] = {
      {longest, name + " " + longest},
      {longest + "XYZ", name + " " + longest},
  };
  for (const Case& c : cases) {
    ProgrammerOptions options;
    options.version = c.version;
    options.serialNumbers = {true, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    const IdentificationReply reply = BuildIdentificationReply(options);

    IdentityName expected = MakeIdentityName("Velkor350QN");
    ASSERT_EQ(MatchIdentity(reply, expected, kIdentityNameOffset), 0);
    EXPECT_EQ(std::string(expected.data()), c.sent);
    EXPECT_EQ(reply[kNameOffset + kLongestFullName], 0) << "the name must stay terminated";
    EXPECT_EQ(reply[reply.size() - 60], 0);
    EXPECT_EQ(reply[reply.size() - 59], 1);
  }
}

}  // namespace
}  // namespace velkor::sim
