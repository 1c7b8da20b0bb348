// Appending records and logs: one write at the file's end, never a fragment
// left behind, every line on a line of its own, and a clear reason when the
// disk refuses. A full disk is made with the file-size limit of the process
// (RLIMIT_FSIZE), which fails a write part way as a full disk does.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/text_file.hpp"
#include "support/files.hpp"

namespace velkor {
namespace {

namespace fs = std::filesystem;

class FileWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velkor-append-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory = pattern;
  }
  void TearDown() override { fs::remove_all(directory); }
  fs::path directory;
};

// While alive, files of this process may not grow beyond limit bytes.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previousHandler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit saved_{};
  sighandler_t previousHandler_;
};

TEST_F(FileWriteTest, AWriteTheDiskTakesOnlyPartOfIsCutBack) {
  const fs::path record = directory / "trace.jsonl";
  const std::string first = "{\"n\":1}\n";
  ASSERT_EQ(AppendToFile(record, first), "");
  const std::string long_line = "{\"text\":\"" + std::string(200, 'x') + "\"}\n";
  {
    FileSizeLimit full(first.size() + 20);
    const std::string error = AppendToFile(record, long_line);
    EXPECT_NE(error.find(record.string()), std::string::npos) << error;
    EXPECT_NE(error.find("took only 20 of"), std::string::npos) << error;
  }
  EXPECT_EQ(test::ReadFile(record), first) << "a fragment was left behind";
  ASSERT_EQ(AppendToFile(record, "{\"n\":2}\n"), "");
  EXPECT_EQ(test::ReadFile(record), first + "{\"n\":2}\n");
}

TEST_F(FileWriteTest, LinesStartOnALineOfTheirOwnAndANewFileGetsItsHeader) {
  struct Case {
    const char* name;
    const char* before;  // nullptr: no file
    const char* header;
    const char* after;
  };
  const Case cases[] = {
      {"new file", nullptr, "Header!\n", "Header!\nline\n"},
      {"empty file", "", "Header!\n", "Header!\nline\n"},
      {"whole lines", "old\n", "Header!\n", "old\nline\n"},
      {"a fragment a crash left", "{\"time\":\"10:2", "", "{\"time\":\"10:2\nline\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const fs::path file = directory / "log.txt";
    fs::remove(file);
    if (k.before) test::WriteFile(file, k.before);
    ASSERT_EQ(AppendToFile(file, "line\n", k.header), "");
    EXPECT_EQ(test::ReadFile(file), k.after);
  }
}

TEST_F(FileWriteTest, AppendingWritesInPlaceSoThatOtherWritersKeepTheirLines) {
  // Another program holding the same log open sees the lines arrive in the
  // same file: nothing replaces the file (which would drop whatever the
  // other appended meanwhile), and nothing reads it whole first.
  const fs::path file = directory / "shared.log";
  ASSERT_EQ(AppendToFile(file, "run A\n"), "");
  const int other = ::open(file.c_str(), O_RDWR | O_APPEND);
  ASSERT_GE(other, 0);
  struct stat before {};
  ASSERT_EQ(::fstat(other, &before), 0);
  ASSERT_EQ(::write(other, "run B\n", 6), 6);
  ASSERT_EQ(AppendToFile(file, "run A again\n"), "");
  struct stat after {};
  ASSERT_EQ(::stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
  ::close(other);
  EXPECT_EQ(test::ReadFile(file), "run A\nrun B\nrun A again\n");
}

TEST_F(FileWriteTest, WhatCannotBeAppendedToIsNamedBeforehand) {
  EXPECT_EQ(CheckAppendable(directory / "new.jsonl"), "");
  EXPECT_FALSE(fs::exists(directory / "new.jsonl")) << "the check leaves no empty file";
  EXPECT_NE(CheckAppendable(directory / "missing" / "x.jsonl").find("No such file"), std::string::npos);
  EXPECT_NE(CheckAppendable(directory).find(directory.string()), std::string::npos);
  ASSERT_EQ(mkfifo((directory / "fifo").c_str(), 0600), 0);
  EXPECT_NE(CheckAppendable(directory / "fifo").find("not a regular file"), std::string::npos);
  // A FIFO is refused at once, not waited on for a reader.
  EXPECT_NE(AppendToFile(directory / "fifo", "line\n").find((directory / "fifo").string()), std::string::npos);
}

TEST_F(FileWriteTest, SavingWritesThroughLinksKeepsTheModeAndRefusesWhatIsNotAFile) {
  // A link to a file elsewhere: the target gets the content, the link stays.
  fs::create_directories(directory / "elsewhere");
  test::WriteFile(directory / "elsewhere" / "image.bin", "old");
  fs::create_symlink(directory / "elsewhere" / "image.bin", directory / "link.bin");
  ASSERT_EQ(WriteFileAtomically(directory / "link.bin", "new"), "");
  EXPECT_TRUE(fs::is_symlink(directory / "link.bin"));
  EXPECT_EQ(test::ReadFile(directory / "elsewhere" / "image.bin"), "new");

  // A private file stays private.
  test::WriteFile(directory / "private.bin", "old");
  ASSERT_EQ(::chmod((directory / "private.bin").c_str(), 0600), 0);
  ASSERT_EQ(WriteFileAtomically(directory / "private.bin", "new"), "");
  struct stat info {};
  ASSERT_EQ(::stat((directory / "private.bin").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(test::ReadFile(directory / "private.bin"), "new");

  // A FIFO or a folder in the way: refused, left as it is, no file beside it.
  test::MakeFifo(directory / "fifo.bin");
  fs::create_directories(directory / "folder.bin");
  for (const char* name : {"fifo.bin", "folder.bin"}) {
    SCOPED_TRACE(name);
    const std::string error = WriteFileAtomically(directory / name, "new");
    EXPECT_NE(error.find("nothing was saved"), std::string::npos) << error;
    EXPECT_FALSE(fs::is_regular_file(directory / name));
  }
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(directory)) ++files;
  EXPECT_EQ(files, 5u) << "a temporary file was left";  // elsewhere, link, private, fifo, folder
}

// Reading a whole file: its every byte up to the limit, and one more to
// tell a file that is too large, whether it is shorter or longer than the
// room its reported size suggests (files under /proc report 0 bytes).
TEST_F(FileWriteTest, ReadingTakesTheWholeFileUpToOneByteBeyondTheLimit) {
  struct Case {
    std::size_t size;
    std::size_t most;
    std::size_t expected;
  };
  for (const Case& c : {Case{0, 100, 0}, Case{1, 100, 1}, Case{100, 100, 100}, Case{101, 100, 101},
                        Case{10000, 100, 101}, Case{70000, 1 << 20, 70000}, Case{70000, 65536, 65537}}) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes, at most " + std::to_string(c.most));
    std::string content(c.size, '\0');
    for (std::size_t i = 0; i < c.size; ++i) content[i] = static_cast<char>('a' + i % 23);
    test::WriteFile(directory / "file.bin", content);
    std::vector<uint8_t> bytes = {1, 2, 3};
    ASSERT_EQ(ReadRegularFile(directory / "file.bin", c.most, bytes), "");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), content.substr(0, c.expected));
  }
  std::vector<uint8_t> bytes;
  ASSERT_EQ(ReadRegularFile("/proc/self/maps", 1 << 20, bytes), "");
  const std::string maps(bytes.begin(), bytes.end());
  EXPECT_GT(maps.size(), 4096u) << "a file that reports 0 bytes was cut to the first room";
  EXPECT_EQ(maps.back(), '\n');
}

}  // namespace
}  // namespace velkor
