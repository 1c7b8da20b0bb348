// Serial numbers from a generator program: small scripts stand in for the
// user's program.
#include "app/serial_generator.hpp"

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "support/scratch_directory.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

class SerialGeneratorTest : public ::testing::Test {
 protected:
  test::ScratchStartDirectory scratch{"velkor-sn-generator"};

  std::string Script(const std::string& name, const std::string& body) {
    const std::filesystem::path path = scratch.Path() / name;
    test::WriteFile(path, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0700);
    return path.string();
  }
};

TEST_F(SerialGeneratorTest, WritesTheProgramsBytesAndGivesAFailedChipsValueBackByThePolicy) {
  // The index comes as the argument and in the environment; the calls file
  // shows how often the program ran.
  const std::string program =
      Script("mac.sh", "echo \"$1 $VELKOR_SN_INDEX\" >> calls\nprintf '00:1A:2B:3C:4D:%02X\\n' \"$1\"\n");
  for (const FailedValuePolicy policy : {FailedValuePolicy::Reuse, FailedValuePolicy::Void}) {
    SCOPED_TRACE(policy == FailedValuePolicy::Reuse ? "reuse" : "void");
    std::filesystem::remove(scratch.Path() / "calls");
    SerialGenerator generator(program, 5000ms, policy, 7);
    std::string error;
    const std::optional<SerialValue> first = generator.TakeValue(1, error);
    ASSERT_TRUE(first) << error;
    EXPECT_EQ(first->bytes, (std::vector<uint8_t>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x07}));
    EXPECT_FALSE(first->number);
    EXPECT_EQ(first->text, "001A2B3C4D07");
    generator.DoneValue(1, *first, NumberEnd::Failed);
    const std::optional<SerialValue> second = generator.TakeValue(2, error);
    ASSERT_TRUE(second) << error;
    const uint8_t expected = policy == FailedValuePolicy::Reuse ? 0x07 : 0x08;
    EXPECT_EQ(second->bytes.back(), expected);
    EXPECT_EQ(test::ReadFile(scratch.Path() / "calls"), policy == FailedValuePolicy::Reuse ? "7 7\n" : "7 7\n8 8\n");
  }
}

TEST_F(SerialGeneratorTest, StopsWithAMessageWhenTheProgramFailsHangsOrPrintsTheWrongThing) {
  struct Case {
    const char* name;
    std::string body;
    const char* message;
  };
  const Case cases[] = {
      {"fails.sh", "echo 0011\nexit 3\n", "it ended with exit status 3"},
      {"hangs.sh", "echo $$ > pid\nexec sleep 30\n", "it did not answer within 300 ms and was stopped"},
      {"hangs-silent.sh", "echo $$ > pid\nexec 1>&-\nexec sleep 30\n", "it did not answer within 300 ms"},
      {"too-many.sh", "echo 00112233445566778899AABBCCDDEEFF10\n", "it printed 17 bytes, more than the 16"},
      {"flood.sh", "echo $$ > pid\nexec yes 00\n", "it printed more than the 16 bytes a serial number may have"},
      {"words.sh", "echo hello\n", "it printed something other than hexadecimal digits"},
      {"odd.sh", "echo 123\n", "odd number of hexadecimal digits"},
      {"empty.sh", "exit 0\n", "it printed no bytes"},
      {"lines.sh", "echo 12\necho 34\n", "it printed more than one line"},
      {"killed.sh", "kill -TERM $$\n", "it was ended by signal 15"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(scratch.Path() / "pid");
    const std::string program = Script(c.name, c.body);
    SerialGenerator generator(program, 300ms, FailedValuePolicy::Void);
    std::string error;
    EXPECT_FALSE(generator.TakeValue(1, error));
    EXPECT_NE(error.find("The serial-number generator " + program + " gave no number for chip 1: "),
              std::string::npos)
        << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    // A program stopped for its time or its output is gone, not left running
    // or as a zombie.
    if (std::filesystem::exists(scratch.Path() / "pid")) {
      const pid_t pid = std::stoi(test::ReadFile(scratch.Path() / "pid"));
      EXPECT_EQ(::kill(pid, 0), -1);
      EXPECT_EQ(errno, ESRCH);
    }
  }
  SerialGenerator missing((scratch.Path() / "no-such-program").string(), 300ms, FailedValuePolicy::Void);
  std::string error;
  EXPECT_FALSE(missing.TakeValue(1, error));
  EXPECT_NE(error.find("it could not be started"), std::string::npos) << error;
}

}  // namespace
}  // namespace velkor
