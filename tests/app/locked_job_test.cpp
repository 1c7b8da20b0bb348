// Locked jobs: saved by one window logic and verified and loaded by
// another; every kind of change made to the file afterwards (a setting,
// one byte of the image, the lock itself, the key) is refused with its
// reason and leaves the loading side untouched; the project path still
// loads a locked job as a plain project.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "data/job_lock_block.hpp"
#include "programmer_fixture.hpp"
#include "support/files.hpp"

namespace velkor {
namespace {

using test::FixedClock;
using test::ProgrammerFixture;
using test::ReadFile;
using test::RecordingView;
using test::WriteFile;

const JobKey kPassphrase{JobLockKind::Passphrase, "line 3 qualified"};
constexpr uint32_t kBurnLimit = 777777;  // 0x000BDE31, found in the file by its bytes

struct Peer {
  explicit Peer(EventLoop& loop) : programmer(loop, view, std::make_unique<FixedClock>(test::kTime, test::kDate)) {
    programmer.FormShow();
  }
  RecordingView view;
  TQNProgrammer programmer;
};

class LockedJobTest : public ProgrammerFixture {
 protected:
  LockedJobTest() {
    programmer->FormShow();
    Choose("24xx02");
    std::string bytes(256, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    WriteFile(directory / "data.bin", bytes);
    programmer->LoadFile((directory / "data.bin").string());
    auto& c = programmer->Controls;
    c.SNEdit.Text = "0x00ABCDEF";
    c.SpinEditNumb.Value = kBurnLimit;
    job = directory / "line3.ovp";
  }

  void Lock(const JobKey& key) { programmer->SaveLockedJob(job.string(), key); }

  // The outcome of loading the job into a fresh window logic, which must
  // be left as it was when the job is refused.
  TQNProgrammer::LockedJobOutcome LoadIntoPeer(const JobKey& key) {
    Peer peer(loop);
    const auto outcome = peer.programmer.LoadLockedJob(job.string(), key);
    if (outcome.loaded) {
      EXPECT_TRUE(peer.programmer.FileLoaded);
      EXPECT_EQ(peer.programmer.Controls.MCUNameEdit.Text, "24xx02");
      EXPECT_EQ(std::memcmp(peer.programmer.Image.Data.get(), programmer->Image.Data.get(), 256), 0);
      EXPECT_EQ(peer.programmer.Controls.SpinEditNumb.Value, static_cast<int>(kBurnLimit));
      EXPECT_EQ(peer.programmer.LockedJobPath, job.string());
    } else {
      EXPECT_FALSE(peer.programmer.FileLoaded);
      EXPECT_FALSE(peer.programmer.ChipConfirmed);
      EXPECT_NE(peer.programmer.Controls.MCUNameEdit.Text, "24xx02");
      EXPECT_TRUE(peer.programmer.LockedJobPath.empty());
    }
    return outcome;
  }

  std::filesystem::path job;
};

TEST_F(LockedJobTest, ALockedJobLoadsWithItsKeyAndNamesItsLock) {
  for (const JobKey& key : {kPassphrase, JobKey{}, JobKey{JobLockKind::KeyFile, std::string("\x00\x01\xFF", 3)}}) {
    SCOPED_TRACE(JobLockKindWord(key.kind));
    Lock(key);
    Peer peer(loop);
    const auto outcome = peer.programmer.LoadLockedJob(job.string(), key);
    EXPECT_TRUE(outcome.loaded);
    EXPECT_TRUE(outcome.differences.empty());
    const ParsedLockedJob parsed = ParseLockedJob(ReadFile(job));
    EXPECT_EQ(peer.programmer.LockedJobLock, std::string(JobLockKindWord(key.kind)) + " " + parsed.block.lockValue);
    // The image's digest is the data's own, computed apart from the lock.
    std::string data(256, '\0');
    std::memcpy(data.data(), programmer->Image.Data.get(), 256);
    EXPECT_EQ(parsed.block.imageSha256, Sha256Hex(data));
    const auto lines = peer.programmer.Info.Lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find("Locked job \"" + job.string() + "\" verified") != std::string::npos &&
             line.find(parsed.block.lockValue) != std::string::npos;
    }));
  }
}

// Each change to a locked file, as the file's bytes, and the reasons its
// refusal must give (all of them, and no other).
struct Change {
  const char* name;
  std::function<void(std::string& file, const ParsedLockedJob& parsed)> edit;
  JobKey loadKey;
  std::vector<std::string> reasons;
};

constexpr const char* kLockReason =
    "lock: does not match (the file was changed after it was locked, or the passphrase is wrong)";

void ChangeBurnLimit(std::string& file) {
  const std::string was("\x31\xDE\x0B\x00", 4);
  const std::size_t at = file.find(was);
  ASSERT_LT(at, 400u);  // in the project's header
  file.replace(at, 4, std::string("\x32\xDE\x0B\x00", 4));  // 777778
}

TEST_F(LockedJobTest, EachKindOfChangeIsRefusedWithItsReason) {
  const std::string burnLimit = "setting SpinEditNumb: locked \"777777\", now \"777778\"";
  const std::vector<Change> changes = {
      {"a setting's bytes in the project",
       [](std::string& file, const ParsedLockedJob&) { ChangeBurnLimit(file); },
       kPassphrase,
       {kLockReason, burnLimit}},
      {"one byte of the image",
       [](std::string& file, const ParsedLockedJob& parsed) {
         // The data block ends where the project's 1024-byte trailer begins.
         file[parsed.projectBytes - kProjectTrailerSize - 256 + 100] ^= 0x01;
       },
       kPassphrase,
       {kLockReason, "image: SHA-256"}},
      {"one digit of the lock value",
       [](std::string& file, const ParsedLockedJob& parsed) {
         char& digit = file[parsed.lockedBytes + 5];
         digit = digit == '0' ? '1' : '0';
       },
       kPassphrase,
       {kLockReason}},
      {"a setting's line in the lock block",
       [](std::string& file, const ParsedLockedJob& parsed) {
         const std::size_t at = file.find("setting.SNEdit=0x00ABCDEF", parsed.projectBytes);
         ASSERT_NE(at, std::string::npos);
         file[at + 24] = '0';
       },
       kPassphrase,
       {kLockReason, "setting SNEdit: locked \"0x00ABCDE0\", now \"0x00ABCDEF\"", "settings: SHA-256"}},
      {"a wrong passphrase", [](std::string&, const ParsedLockedJob&) {},
       JobKey{JobLockKind::Passphrase, "line 3 qualifiec"}, {kLockReason}},
      {"no key for a keyed lock", [](std::string&, const ParsedLockedJob&) {}, JobKey{},
       {"lock: the job is locked with a passphrase, but no key (a plain SHA-256 lock) was given"}},
      {"a setting changed and the job re-locked without the key",
       [](std::string& file, const ParsedLockedJob& parsed) {
         ChangeBurnLimit(file);
         // What anyone can do: a new plain digest over the changed bytes.
         file.resize(parsed.projectBytes);
         JobLockBlock block = parsed.block;
         block.kind = JobLockKind::Digest;
         file += JobLockBlockBody(block);
         block.lockValue = JobLockValue(JobKey{}, file);
         file += JobLockBlockTail(block, parsed.projectBytes);
       },
       kPassphrase,
       {"lock: the job is locked with no key (a plain SHA-256 lock), but a passphrase was given", burnLimit}},
      {"the lock block cut off",
       [](std::string& file, const ParsedLockedJob& parsed) { file.resize(parsed.projectBytes); },
       kPassphrase,
       {"file: it is not a locked job (it carries no lock block)"}},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    Lock(kPassphrase);
    std::string file = ReadFile(job);
    change.edit(file, ParseLockedJob(file));
    WriteFile(job, file);
    const auto outcome = LoadIntoPeer(change.loadKey);
    EXPECT_FALSE(outcome.loaded);
    ASSERT_EQ(outcome.differences.size(), change.reasons.size()) << ::testing::PrintToString(outcome.differences);
    for (std::size_t i = 0; i < change.reasons.size(); ++i)
      EXPECT_EQ(outcome.differences[i].rfind(change.reasons[i], 0), 0u) << outcome.differences[i];
  }
}

TEST_F(LockedJobTest, TheProjectPathLoadsALockedJobAsAPlainProject) {
  Lock(kPassphrase);
  Peer peer(loop);
  peer.programmer.LoadProjectFile(job.string());
  EXPECT_TRUE(peer.programmer.LastProjectRefusal.empty());
  EXPECT_TRUE(peer.programmer.FileLoaded);
  EXPECT_EQ(peer.programmer.Controls.MCUNameEdit.Text, "24xx02");
  EXPECT_EQ(peer.programmer.Controls.SNEdit.Text, "0x00ABCDEF");
  EXPECT_EQ(std::memcmp(peer.programmer.Image.Data.get(), programmer->Image.Data.get(), 256), 0);
  // Loaded that way, it is no locked job: its records name no lock.
  EXPECT_TRUE(peer.programmer.LockedJobPath.empty());
}

TEST_F(LockedJobTest, KeysAreReadFromFiles) {
  std::string error;
  WriteFile(directory / "pass.txt", "line 3 qualified\r\nsecond line\n");
  const auto passphrase = ReadJobKey(JobLockKind::Passphrase, directory / "pass.txt", error);
  ASSERT_TRUE(passphrase) << error;
  EXPECT_EQ(passphrase->bytes, "line 3 qualified");
  const auto keyFile = ReadJobKey(JobLockKind::KeyFile, directory / "pass.txt", error);
  ASSERT_TRUE(keyFile) << error;
  EXPECT_EQ(keyFile->bytes, "line 3 qualified\r\nsecond line\n");
  WriteFile(directory / "empty.txt", "\n");
  EXPECT_FALSE(ReadJobKey(JobLockKind::Passphrase, directory / "empty.txt", error));
  EXPECT_NE(error.find("holds no key"), std::string::npos);
  EXPECT_FALSE(ReadJobKey(JobLockKind::KeyFile, directory / "missing.key", error));
  EXPECT_NE(error.find("cannot be read"), std::string::npos);
}

}  // namespace
}  // namespace velkor
