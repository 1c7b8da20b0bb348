// velkor-cli lock and run: a project made into a locked job, run on
// simulated programmers, with what lands in the simulated chip checked;
// a job changed after it was locked is refused before any chip is touched.
#include "cli_run.hpp"
#include "window_project.hpp"

#include <algorithm>

#include "data/job_lock_block.hpp"
#include "data/project_file.hpp"
#include "store/line_store.hpp"

namespace velkor::test {
namespace {

class CliLockedJobTest : public CliTest {
 protected:
  // A project saved by the window's logic: a 24xx04 with 300 bytes of data.
  std::vector<uint8_t> SaveProject(const std::string& name) {
    const auto data = WriteRandom("data.bin", 300);
    test::SaveProjectFromWindow("24xx04", Path("data.bin"), Path(name));
    return data;
  }

  // Runs the job on one simulated programmer; its chip lands in chips/.
  CliRun RunJob(const std::string& key) {
    fs::remove_all(directory / "chips");
    fs::create_directories(directory / "chips");
    return Cli("--simulate --sim-count 1 --json" + Sim({"--dump-chips", Path("chips")}) +
               " --record trace.jsonl run line3.job " + key);
  }
  std::vector<uint8_t> Chip() const { return ReadBytes(directory / "chips" / "programmer-1.bin"); }
};

TEST_F(CliLockedJobTest, ALockedJobRunsAndItsRecordNamesTheLock) {
  const auto data = SaveProject("job.OVP");
  std::ofstream(directory / "pass.txt") << "line 3 qualified\n";
  const CliRun locked = Cli("--json lock job.OVP line3.job --passphrase-file pass.txt");
  ASSERT_EQ(locked.status, 0) << locked.out << locked.err;

  const CliRun run = RunJob("--passphrase-file pass.txt");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const auto chip = Chip();
  ASSERT_EQ(chip.size(), 512u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), chip.begin()));

  std::ifstream record(directory / "trace.jsonl");
  std::string line;
  ASSERT_TRUE(std::getline(record, line));
  const Json chipRecord = Json::parse(line);
  std::ifstream jobFile(directory / "line3.job", std::ios::binary);
  const std::string job{std::istreambuf_iterator<char>(jobFile), {}};
  EXPECT_EQ(chipRecord["locked_job"], "line3.job");
  EXPECT_EQ(chipRecord["job_lock"], "hmac-sha256-passphrase " + ParseLockedJob(job).block.lockValue);
}

TEST_F(CliLockedJobTest, AChangedJobIsRefusedBeforeAnyChipIsTouched) {
  SaveProject("job.OVP");
  std::ofstream(directory / "pass.txt") << "line 3 qualified\n";
  std::ofstream(directory / "wrong.txt") << "line 3 qualifiec\n";
  ASSERT_EQ(Cli("lock job.OVP line3.job --passphrase-file pass.txt").status, 0);
  std::ifstream in(directory / "line3.job", std::ios::binary);
  const std::string job{std::istreambuf_iterator<char>(in), {}};
  const ParsedLockedJob parsed = ParseLockedJob(job);
  ASSERT_TRUE(parsed.hasBlock);

  struct Case {
    const char* name;
    std::string file;
    const char* key;
    const char* reason;
  };
  std::string imageChanged = job;
  imageChanged[parsed.projectBytes - kProjectTrailerSize - 100] ^= 0x40;
  const Case cases[] = {
      {"one byte of the image", imageChanged, "--passphrase-file pass.txt", "image: SHA-256 locked"},
      {"the wrong passphrase", job, "--passphrase-file wrong.txt", "lock: does not match"},
      {"no passphrase", job, "", "lock: the job is locked with a passphrase"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(directory / "line3.job", std::ios::binary | std::ios::trunc) << c.file;
    const CliRun run = RunJob(c.key);
    EXPECT_EQ(run.status, 7) << run.out << run.err;
    EXPECT_NE(run.MessageTexts().find(c.reason), std::string::npos) << run.MessageTexts();
    // The simulator leaves an empty file for a programmer that never had a
    // chip in its socket: no operation reached it.
    ASSERT_TRUE(fs::exists(directory / "chips" / "programmer-1.bin"));
    EXPECT_TRUE(Chip().empty());
    EXPECT_FALSE(fs::exists(directory / "trace.jsonl"));
  }
}

// The command line's whole way from an object file to a run: convert makes
// the project, lock locks it, run programs it; the log carries the session
// with the program's version, the programmer's firmware, the lock and the
// counts.
TEST_F(CliLockedJobTest, AConvertedProjectLocksAndItsRunLogsTheSession) {
  const auto data = WriteRandom("data.bin", 300);
  const CliRun converted = Cli("convert data.bin job.ovp --chip 24xx04");
  ASSERT_EQ(converted.status, 0) << converted.out << converted.err;
  // A project, not a binary copy under the project's name.
  const std::vector<uint8_t> project = ReadBytes(directory / "job.ovp");
  ASSERT_GE(project.size(), 2u);
  EXPECT_EQ(project[0], 0xA5);
  EXPECT_EQ(project[1], 0x5A);
  ASSERT_EQ(Cli("lock job.ovp line3.job").status, 0);

  fs::create_directories(directory / "chips");
  const CliRun run =
      Cli("--simulate --sim-count 1 --log" + Sim({"--dump-chips", Path("chips")}) + " run line3.job");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const auto chip = Chip();
  ASSERT_EQ(chip.size(), 512u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), chip.begin()));

  std::ifstream jobFile(directory / "line3.job", std::ios::binary);
  const ParsedLockedJob parsed = ParseLockedJob(std::string{std::istreambuf_iterator<char>(jobFile), {}});
  const std::size_t started = run.out.find("Session started: program version " VELKOR_VERSION);
  ASSERT_NE(started, std::string::npos) << run.out;
  const std::string startLine = run.out.substr(started, run.out.find('\n', started) - started);
  for (const std::string& part : {std::string("\"line3.job\" (sha256 ") + parsed.block.lockValue + ")",
                                  std::string("chip 24xx04"), "image SHA-256 " + parsed.block.imageSha256,
                                  std::string("programmer 1 \""), std::string(", firmware V")})
    EXPECT_NE(startLine.find(part), std::string::npos) << part << " in " << startLine;
  EXPECT_NE(run.out.find("Session ended: 1 good, 0 failed chips of job "), std::string::npos) << run.out;
}

// With a line database, the session is kept there too: both programmers
// with their firmware, the lock, and the counts once the run has ended.
TEST_F(CliLockedJobTest, ARunsSessionIsKeptInTheLineDatabase) {
  SaveProject("job.OVP");
  ASSERT_EQ(Cli("lock job.OVP line3.job").status, 0);
  const CliRun run = Cli("--simulate --sim-count 2 --db " + Path("line.db") + " run line3.job");
  ASSERT_EQ(run.status, 0) << run.out << run.err;

  std::string error;
  const auto store = store::OpenLineStore(Path("line.db"), error);
  ASSERT_NE(store, nullptr) << error;
  const auto sessions = store->Sessions(store::Clock::time_point{});
  ASSERT_TRUE(sessions) << sessions.error;
  ASSERT_EQ(sessions->size(), 1u);
  const store::StoredSession& session = sessions->front();
  std::ifstream jobFile(directory / "line3.job", std::ios::binary);
  const ParsedLockedJob parsed = ParseLockedJob(std::string{std::istreambuf_iterator<char>(jobFile), {}});
  EXPECT_EQ(session.lockedJob, "line3.job");
  EXPECT_EQ(session.jobLock, "sha256 " + parsed.block.lockValue);
  EXPECT_EQ(session.imageSha256, parsed.block.imageSha256);
  EXPECT_EQ(session.chip, "24xx04");
  EXPECT_EQ(session.programVersion, VELKOR_VERSION);
  EXPECT_TRUE(session.ended.has_value());
  EXPECT_EQ(session.good, 2u);
  EXPECT_EQ(session.failed, 0u);
  ASSERT_EQ(session.programmers.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(session.programmers[i].programmer, static_cast<int>(i + 1));
    EXPECT_EQ(session.programmers[i].firmware, "V3.10");
    EXPECT_NE(session.programmers[i].programmerId.find("V3.10"), std::string::npos);
  }
  // The chips' records in the database name the lock too.
  const auto records = store->Records(store::Clock::time_point{});
  ASSERT_TRUE(records) << records.error;
  ASSERT_EQ(records->size(), 2u);
  for (const store::StoredRecord& record : *records) EXPECT_EQ(record.jobLock, session.jobLock);
}

}  // namespace
}  // namespace velkor::test
