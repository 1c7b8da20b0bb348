// velkor-fwpack run as its users run it: the file it writes is read back
// with the host's own reader, and what it refuses leaves no file behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "link/firmware_file.hpp"
#include "support/files.hpp"

extern char** environ;

namespace velkor {
namespace {

namespace fs = std::filesystem;

struct PackerRun {
  int status = -1;  // the exit status, -1 when the packer did not run or end normally
  std::string out;
  std::string err;
};

// A directory of its own for one test, removed with everything in it.
class Scratch {
 public:
  Scratch() {
    std::string name = (fs::temp_directory_path() / "velkor-fwpack-test-XXXXXX").string();
    if (mkdtemp(name.data()) != nullptr) path_ = name;
  }
  ~Scratch() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  fs::path operator/(const std::string& name) const { return path_ / name; }
  const fs::path& Path() const { return path_; }

  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    test::WriteFile(path_ / name, std::string(bytes.begin(), bytes.end()));
    return (path_ / name).string();
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  // Runs the packer with these arguments, its output captured here.
  PackerRun Pack(std::vector<std::string> args) const {
    const fs::path out = path_ / ".stdout";
    const fs::path err = path_ / ".stderr";
    args.insert(args.begin(), VELKOR_FWPACK_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    PackerRun run;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = test::ReadFile(out);
    run.err = test::ReadFile(err);
    fs::remove(out);
    fs::remove(err);
    return run;
  }

  std::vector<uint8_t> Bytes(const std::string& name) const {
    const std::string text = test::ReadFile(path_ / name);
    return std::vector<uint8_t>(text.begin(), text.end());
  }

 private:
  fs::path path_;
};

std::vector<uint8_t> Image(std::size_t length, uint32_t seed) {
  std::vector<uint8_t> bytes(length);
  uint32_t x = seed;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return bytes;
}

TEST(FirmwarePacker, PackedFileReadsBackWithTheImageAndTheVersion) {
  Scratch dir;
  ASSERT_FALSE(dir.Path().empty());
  struct Case {
    const char* name;
    std::size_t length;
    std::string version;
  };
  // One chunk, a usual image, and the largest the file takes.
  const Case cases[] = {{"one chunk", 2048, "V0.01"}, {"eight chunks", 16384, "V3.20"},
                        {"the largest image", 29 * 2048, std::string("V") + std::string(21, '9')}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> image = Image(c.length, static_cast<uint32_t>(c.length));
    const std::string input = dir.Write("image.bin", image);
    const PackerRun run = dir.Pack({"--image", input, "--version", c.version, "--output", (dir / "out.vfr").string(),
                              "--seed", "11"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_NE(run.out.find("firmware " + c.version), std::string::npos) << run.out;

    const FirmwareFile read = ReadFirmwareFile(dir.Bytes("out.vfr"));
    ASSERT_TRUE(read.ready) << read.problem;
    EXPECT_EQ(read.version, c.version);
    EXPECT_EQ(read.start, 0x2000);
    EXPECT_EQ(read.end, 0x2000 + c.length / 2 - 1);
    EXPECT_EQ(FirmwareChunkCount(read), c.length / 2048);
    ASSERT_GE(read.image.size(), c.length);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), read.image.begin()));
  }
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"image.bin", "out.vfr"})) << "a temporary file was left behind";
}

TEST(FirmwarePacker, TheSeedMakesTheFileRepeatable) {
  Scratch dir;
  ASSERT_FALSE(dir.Path().empty());
  const std::string input = dir.Write("image.bin", Image(8192, 5));
  const auto pack = [&](const std::string& output, std::vector<std::string> more) {
    std::vector<std::string> args = {"--image", input, "--version", "V2.00", "--output", (dir / output).string()};
    args.insert(args.end(), more.begin(), more.end());
    const PackerRun run = dir.Pack(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return dir.Bytes(output);
  };
  const std::vector<uint8_t> first = pack("a.vfr", {"--seed", "7"});
  EXPECT_EQ(pack("b.vfr", {"--seed", "7"}), first);
  const std::vector<uint8_t> otherSeed = pack("c.vfr", {"--seed", "8"});
  const std::vector<uint8_t> noSeed = pack("d.vfr", {});
  EXPECT_NE(otherSeed, first);
  EXPECT_NE(noSeed, first);
  // Different bytes, the same firmware.
  for (const auto& bytes : {otherSeed, noSeed}) {
    const FirmwareFile read = ReadFirmwareFile(bytes);
    EXPECT_TRUE(read.ready);
    EXPECT_EQ(read.image, ReadFirmwareFile(first).image);
  }
}

TEST(FirmwarePacker, BadInputIsRefusedAndLeavesTheOutputAsItWas) {
  Scratch dir;
  ASSERT_FALSE(dir.Path().empty());
  const std::string good = dir.Write("good.bin", Image(4096, 1));
  const std::string output = (dir / "out.vfr").string();
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* mentioned;
  };
  const Case cases[] = {
      {"missing image", {"--image", (dir / "none.bin").string(), "--version", "V1", "--output", output}, 1,
       "cannot read"},
      {"a directory as the image", {"--image", dir.Path().string(), "--version", "V1", "--output", output}, 1,
       "directory"},
      {"a FIFO as the image (refused, not waited on)",
       {"--image", test::MakeFifo(dir.Path() / "fifo.bin"), "--version", "V1", "--output", output}, 1,
       "not a regular file"},
      {"empty image", {"--image", dir.Write("empty.bin", {}), "--version", "V1", "--output", output}, 1,
       "(0 bytes)"},
      {"not whole chunks", {"--image", dir.Write("odd.bin", Image(3000, 2)), "--version", "V1", "--output", output},
       1, "(3000 bytes)"},
      {"one chunk too many",
       {"--image", dir.Write("large.bin", Image(30 * 2048, 3)), "--version", "V1", "--output", output}, 1,
       "(61440 bytes)"},
      {"far too large",
       {"--image", dir.Write("huge.bin", Image(200000, 4)), "--version", "V1", "--output", output}, 1,
       "(200000 bytes)"},
      {"a blank in the version", {"--image", good, "--version", "V 1", "--output", output}, 1, "version text"},
      {"an empty version", {"--image", good, "--version", "", "--output", output}, 1, "must begin with \"V\""},
      {"a version without its V", {"--image", good, "--version", "3.20", "--output", output}, 1,
       "must begin with \"V\""},
      {"a version of 23 characters",
       {"--image", good, "--version", std::string(23, 'V'), "--output", output}, 1, "version text"},
      {"an output in no directory",
       {"--image", good, "--version", "V1", "--output", (dir / "none" / "out.vfr").string()}, 1, "cannot write"},
      {"a directory as the output", {"--image", good, "--version", "V1", "--output", dir.Path().string()}, 1,
       "cannot write"},
      {"the image as the output", {"--image", good, "--version", "V1", "--output", good}, 1, "the image itself"},
      {"no output named", {"--image", good, "--version", "V1"}, 2, "--output"},
      {"a negative seed", {"--image", good, "--version", "V1", "--output", output, "--seed", "-1"}, 2, "--seed"},
  };
  const std::vector<uint8_t> previous = {'o', 'l', 'd'};
  dir.Write("out.vfr", previous);
  const std::vector<std::string> before = dir.Names();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PackerRun run = dir.Pack(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.mentioned), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_EQ(dir.Bytes("out.vfr"), previous);
    EXPECT_EQ(dir.Bytes("good.bin"), Image(4096, 1));
    EXPECT_EQ(dir.Names(), before);
  }
}

}  // namespace
}  // namespace velkor
