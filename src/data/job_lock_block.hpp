// The lock block of a locked job: a project file followed by text lines
// that name the program that locked it, the SHA-256 of the image the
// project carries, every setting it holds (name=value) with their digest,
// the kind of lock and the lock value over every byte before it. The
// project reader never reads past its own trailer, so a locked job still
// loads as a plain project file. The layout is in docs/file-formats.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/image_buffer.hpp"
#include "data/project_file.hpp"

namespace velkor {

inline constexpr const char* kJobLockMagic = "VELKOR-LOCKED-JOB";
inline constexpr int kJobLockFormat = 1;
// The file's last line says where the block begins, in a fixed width so
// that it is found from the end: "lock-block-at=" and 20 decimal digits.
inline constexpr std::string_view kJobLockFooterName = "lock-block-at=";
inline constexpr std::size_t kJobLockFooterSize = 14 + 20 + 1;

// How the lock value is made: a plain SHA-256 (shows accidental change
// only: anyone can make a new one) or an HMAC-SHA256 keyed by a passphrase
// or a key file's bytes (only who holds the key can lock).
enum class JobLockKind : uint8_t { Digest, Passphrase, KeyFile };

// The largest file a locked job can be: a project of the whole image, its
// trailer and a lock block.
inline constexpr std::size_t kLargestLockedJob = 2 * std::size_t{kImageCapacity} + (1 << 20);

struct JobKey {
  JobLockKind kind = JobLockKind::Digest;
  std::string bytes;  // empty for Digest
};

// The lock kind's word in the block ("sha256", "hmac-sha256-passphrase",
// "hmac-sha256-key-file"); nothing for a word no kind has.
const char* JobLockKindWord(JobLockKind kind);
std::optional<JobLockKind> JobLockKindOfWord(std::string_view word);

// A passphrase file's first line (without its line end) or a key file's
// bytes. Refuses an unreadable or empty one: error says why, with the path.
std::optional<JobKey> ReadJobKey(JobLockKind kind, const std::filesystem::path& path, std::string& error);

// The exit status of the window and of velkor-cli when a locked job
// differs from its lock or its key does not fit: nothing was programmed.
inline constexpr int kLockedJobRefusedStatus = 7;

// The key options of the window and the command line, with their help.
inline constexpr const char* kPassphraseFileOption = "passphrase-file";
inline constexpr const char* kKeyFileOption = "key-file";
inline constexpr const char* kPassphraseFileHelp =
    "The lock's passphrase: the first line of this file (an HMAC-SHA256 lock; without a key, a plain SHA-256)";
inline constexpr const char* kKeyFileHelp = "The lock's key: every byte of this file (an HMAC-SHA256 lock)";
// The key those options name: a passphrase file's, a key file's, or none
// (a plain lock) when both are empty. Nothing, with error, when the file
// cannot serve.
std::optional<JobKey> JobKeyOfOptions(const std::string& passphraseFile, const std::string& keyFile,
                                      std::string& error);

using LockedSettings = std::vector<std::pair<std::string, std::string>>;

// Every field of the record as name=value texts, in file order; a name is
// the field's own name.
LockedSettings ProjectSettingsOf(const ProjectRecord& record);

struct JobLockBlock {
  std::string programVersion;
  uint64_t imageBytes = 0;
  std::string imageSha256;
  LockedSettings settings;
  std::string settingsSha256;  // over the setting lines as written
  JobLockKind kind = JobLockKind::Digest;
  std::string lockValue;  // 64 lower-case hex digits
};

// 64 lower-case hex digits of the SHA-256 of bytes.
std::string Sha256Hex(std::string_view bytes);
// The settings' digest, as the block stores it.
std::string SettingsDigest(const LockedSettings& settings);
// The lock value over bytes: SHA-256, or HMAC-SHA256 with the key's bytes.
std::string JobLockValue(const JobKey& key, std::string_view bytes);

// The block's lines up to the lock value (which covers the project's
// bytes and these lines), then the lock line and the footer for a block
// that begins at blockStart.
std::string JobLockBlockBody(const JobLockBlock& block);
std::string JobLockBlockTail(const JobLockBlock& block, uint64_t blockStart);

// A locked job's file split into what its lock covers and its block.
struct ParsedLockedJob {
  bool hasBlock = false;       // false: no lock block at the end (a plain project)
  std::string formatProblem;   // set when the block is there but cannot be taken
  std::size_t lockedBytes = 0;  // bytes the lock value covers (from the file's start)
  std::size_t projectBytes = 0;  // the project file's bytes before the block
  JobLockBlock block;
};
ParsedLockedJob ParseLockedJob(std::string_view file);

}  // namespace velkor
