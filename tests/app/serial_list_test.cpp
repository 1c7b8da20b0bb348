// Serial numbers from a list file, with the journal that carries a run's
// progress to the next.
#include "app/serial_list.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "support/scratch_directory.hpp"

namespace velkor {
namespace {

using test::WriteFile;

TEST(ParseSerialValueTest, TakesNumbersOfFourBytesAndMacAddresses) {
  struct Case {
    const char* text;
    std::optional<uint32_t> number;
    std::vector<uint8_t> bytes;
  };
  const Case good[] = {
      {"1234", 1234u, {}},
      {"0x1A2B", 0x1A2Bu, {}},
      {"0XFFFFFFFF", 0xFFFFFFFFu, {}},
      {"4294967295", 0xFFFFFFFFu, {}},
      {"00:1A:2B:3C:4D:5E", std::nullopt, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}},
      {"a0-1b-2c-3d-4e-ff", std::nullopt, {0xA0, 0x1B, 0x2C, 0x3D, 0x4E, 0xFF}},
  };
  for (const Case& c : good) {
    SCOPED_TRACE(c.text);
    const std::optional<SerialValue> value = ParseSerialValue(c.text);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->number, c.number);
    EXPECT_EQ(value->bytes, c.bytes);
    EXPECT_EQ(value->text, c.text);
  }
  for (const char* bad : {"4294967296", "0x100000000", "0x", "-1", "+5", "12a", "0x12G", "00:1A-2B:3C:4D:5E",
                          "00:1A:2B:3C:4D", "00:1A:2B:3C:4D:5E:6F", "0:1A:2B:3C:4D:5E:", "1 2"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseSerialValue(bad));
  }
}

class SerialListTest : public ::testing::Test {
 protected:
  test::ScratchStartDirectory scratch{"velkor-sn-list"};
  std::filesystem::path list = scratch.Path() / "macs.txt";

  std::unique_ptr<SerialListSource> Open(FailedValuePolicy policy = FailedValuePolicy::Void) {
    std::string error;
    auto source = SerialListSource::Open(list, policy, error);
    EXPECT_TRUE(source) << error;
    return source;
  }
  static std::string Take(SerialListSource& source) {
    std::string error;
    const std::optional<SerialValue> value = source.TakeValue(1, error);
    return value ? value->text : "error: " + error;
  }
};

TEST_F(SerialListTest, HandsOutEachValueOnceAcrossARestart) {
  WriteFile(list, "# first batch\r\n1000\r\n\r\n0x1001\n  00:1A:2B:3C:4D:5E  \n# more\n00-1A-2B-3C-4D-5F");
  {
    auto source = Open();
    ASSERT_TRUE(source);
    EXPECT_EQ(source->Remaining(), 4u);
    EXPECT_EQ(Take(*source), "1000");
    source->DoneValue(1, *ParseSerialValue("1000"), NumberEnd::Good);
    EXPECT_EQ(Take(*source), "0x1001");
    // The run ends here with 0x1001's chip never finished (killed): its
    // value stays taken.
  }
  auto source = Open();
  ASSERT_TRUE(source);
  EXPECT_EQ(source->Remaining(), 2u);
  EXPECT_EQ(Take(*source), "00:1A:2B:3C:4D:5E");
  EXPECT_EQ(Take(*source), "00-1A-2B-3C-4D-5F");
  const std::string exhausted = Take(*source);
  EXPECT_NE(exhausted.find("is used up: all its 4 values have been taken"), std::string::npos) << exhausted;
  EXPECT_NE(exhausted.find(list.string()), std::string::npos) << exhausted;
}

TEST_F(SerialListTest, AFailedChipsValueIsReusedOrVoidedByThePolicyAlsoAfterARestart) {
  struct Case {
    FailedValuePolicy policy;
    // What the chips after a failed "1" and an unused "3" get, in this run
    // and in the next.
    std::vector<std::string> thisRun, nextRun;
  };
  const Case cases[] = {
      {FailedValuePolicy::Reuse, {"1", "3"}, {"4", "5"}},
      {FailedValuePolicy::Void, {"3", "4"}, {"5", "error"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.policy == FailedValuePolicy::Reuse ? "reuse" : "void");
    WriteFile(list, "1\n2\n3\n4\n5\n");
    std::filesystem::remove(SerialListSource::JournalOf(list));
    {
      auto source = Open(c.policy);
      ASSERT_TRUE(source);
      EXPECT_EQ(Take(*source), "1");
      EXPECT_EQ(Take(*source), "2");
      EXPECT_EQ(Take(*source), "3");
      source->DoneValue(1, *ParseSerialValue("1"), NumberEnd::Failed);
      source->DoneValue(2, *ParseSerialValue("2"), NumberEnd::Good);
      // Taken but never written into the image: always given back.
      source->DoneValue(1, *ParseSerialValue("3"), NumberEnd::NotUsed);
      EXPECT_EQ(Take(*source), c.thisRun[0]);
      // The restart happens with one value given back and not yet taken
      // again: the next run must hand it out first.
    }
    auto source = Open(c.policy);
    ASSERT_TRUE(source);
    EXPECT_EQ(Take(*source), c.thisRun[1]);
    EXPECT_EQ(Take(*source), c.nextRun[0]);
    EXPECT_EQ(Take(*source).substr(0, 5), c.nextRun[1].substr(0, 5));
  }
}

TEST_F(SerialListTest, TwoSourcesOnOneListNeverHandOutTheSameValue) {
  // Two groups of programmers, or two programs, on one list.
  WriteFile(list, "1\n2\n3\n4\n");
  auto one = Open();
  auto other = Open();
  ASSERT_TRUE(one && other);
  EXPECT_EQ(Take(*one), "1");
  EXPECT_EQ(Take(*other), "2");
  EXPECT_EQ(Take(*one), "3");
  EXPECT_EQ(Take(*other), "4");
  EXPECT_EQ(Take(*one).substr(0, 5), "error");
}

TEST_F(SerialListTest, RefusesAMalformedLineADoubleValueAndAJournalThatNoLongerFits) {
  struct Case {
    const char* list;
    const char* journal;  // nothing when none
    const char* message;
  };
  const Case cases[] = {
      {"1\n2\n\nzwei\n", nullptr, "macs.txt, line 4: \"zwei\" is not a serial number"},
      {"1\n0x10\n00:11:22:33:44:55\n0x1\n", nullptr, "macs.txt, line 4: \"0x1\" is the value of line 1 again"},
      {"0x10\n0x11\n", "taken 1 0x20\n", "macs.txt.used, line 1 does not fit the list"},
      {"0x10\n0x11\n", "taken 3 0x11\n", "macs.txt.used, line 1 does not fit the list"},
      {"0x10\n", "lost 1 0x10\n", "macs.txt.used, line 1 does not fit the list"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    WriteFile(list, c.list);
    std::filesystem::remove(SerialListSource::JournalOf(list));
    if (c.journal) WriteFile(SerialListSource::JournalOf(list), c.journal);
    std::string error;
    EXPECT_FALSE(SerialListSource::Open(list, FailedValuePolicy::Void, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
  std::string error;
  EXPECT_FALSE(SerialListSource::Open(scratch.Path() / "missing.txt", FailedValuePolicy::Void, error));
  EXPECT_NE(error.find("missing.txt cannot be read"), std::string::npos) << error;
}

}  // namespace
}  // namespace velkor
