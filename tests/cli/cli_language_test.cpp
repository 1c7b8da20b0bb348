// velkor-cli in the language asked for: --language, VELKOR_LANGUAGE, and the
// original texts by default.
#include <gtest/gtest.h>

#include "cli_run.hpp"
#include "support/chinese_text.hpp"

namespace velkor::test {
namespace {

TEST_F(CliTest, MessagesAndLogLinesAreInTheLanguageAsked) {
  WriteRandom("data.bin", 4096);
  struct Case {
    const char* name;
    const char* shell;   // the environment set before the run
    const char* option;  // the words before the command
    bool english;
  };
  const Case cases[] = {
      {"default", "unset VELKOR_LANGUAGE", "", false},
      {"option", "unset VELKOR_LANGUAGE", "--language en", true},
      {"environment", "export VELKOR_LANGUAGE=en", "", true},
      {"option over environment", "export VELKOR_LANGUAGE=en", "--language zh", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CliRun run =
        RunCli(program, directory,
               std::string("--simulate --plain --log ") + c.option + " auto --chip W25x10xx --file data.bin", c.shell);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string said = run.out + run.err;
    EXPECT_EQ(HasChinese(said), !c.english) << said;
    EXPECT_NE(said.find(c.english ? "Operation succeeded!" : "操作成功！"), std::string::npos) << said;
  }
}

TEST_F(CliTest, ALanguageThatIsNotOneIsAUsageError) {
  for (const auto& [shell, option] : {std::pair{"unset VELKOR_LANGUAGE", "--language fr"},
                                      std::pair{"export VELKOR_LANGUAGE=fr", ""}}) {
    const CliRun run = RunCli(program, directory, std::string("--simulate ") + option + " detect", shell);
    EXPECT_EQ(run.status, 2) << shell << " " << option;
    EXPECT_NE(run.err.find("\"fr\""), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace velkor::test
