// Locked jobs: the engineer saves the qualified job with its lock; the
// operator's load checks every part of the file against the lock before
// the project is taken, so that a changed job never reaches a chip.
#include <openssl/crypto.h>

#include <array>
#include <memory>

#include "app/qn_programmer.hpp"
#include "data/text_format.hpp"
#include "platform/text_file.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr const char* kLockDoesNotMatch =
    TextKey("lock: does not match (the file was changed after it was locked, or the passphrase is wrong)");

// What a key is, for the lines that say which one the job wants.
const char* KeyName(JobLockKind kind) {
  static constexpr std::array<const char*, 3> kNames{
      TextKey("no key (a plain SHA-256 lock)"), TextKey("a passphrase"), TextKey("a key file")};
  return Tx(kNames[static_cast<std::size_t>(kind)]);
}

std::string_view Bytes(const uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The image a project's data block holds, decoded by the project reader
// itself; the reader is just past the header.
std::optional<std::string> ProjectImageDigest(ProjectReader& reader, const ProjectHeader& header,
                                              const ProjectRecord& record, uint64_t& bytes) {
  const uint64_t pairs = ProjectDataPairs(record.ChipStart, record.ChipEnd);
  bytes = 2 * pairs;
  if (pairs == 0) return Sha256Hex({});
  // A block no image buffer could take is not a job's.
  if (2 * uint64_t{record.ChipStart} + bytes > kImageCapacity) return std::nullopt;
  auto data = std::make_unique_for_overwrite<uint8_t[]>(bytes);
  // The range 0 … 2(pairs − 1) reads exactly the pairs the writer stored.
  const ProjectDataOutcome read = ReadProjectData(reader, header, record, 0, static_cast<uint32_t>(2 * (pairs - 1)),
                                                  data.get(), static_cast<std::size_t>(bytes));
  if (read.fileEnded || read.restored != pairs) return std::nullopt;
  return Sha256Hex(Bytes(data.get(), static_cast<std::size_t>(bytes)));
}

// Each setting that differs between the lock and the project, by name.
void CompareSettings(const LockedSettings& locked, const LockedSettings& now, std::vector<std::string>& differences) {
  constexpr const char* kDiffers = TextKey("setting %s: locked %s, now %s");
  constexpr const char* kNone = TextKey("(none)");
  auto find = [](const LockedSettings& settings, const std::string& name) -> const std::string* {
    for (const auto& [n, value] : settings)
      if (n == name) return &value;
    return nullptr;
  };
  for (const auto& [name, value] : now) {
    const std::string* was = find(locked, name);
    if (!was || *was != value)
      differences.push_back(
          FormatText(Tx(kDiffers), name.c_str(), was ? ("\"" + *was + "\"").c_str() : Tx(kNone), ("\"" + value + "\"").c_str()));
  }
  for (const auto& [name, value] : locked)
    if (!find(now, name))
      differences.push_back(FormatText(Tx(kDiffers), name.c_str(), ("\"" + value + "\"").c_str(), Tx(kNone)));
}

}  // namespace

void TQNProgrammer::SaveLockedJob(const std::string& path, const JobKey& key) {
  const ProjectRecord record = GatherProject();
  std::string file = ProjectFileBytes(record, Image.Data.get(), kImageCapacity, random_);
  JobLockBlock block;
  block.programVersion = VELKOR_VERSION;
  // The bytes the data block holds (ProjectFileBytes has checked that they
  // lie inside the image).
  const uint64_t pairs = ProjectDataPairs(record.ChipStart, record.ChipEnd);
  block.imageBytes = 2 * pairs;
  block.imageSha256 = Sha256Hex(
      pairs == 0 ? std::string_view{}
                 : Bytes(Image.Data.get() + 2 * uint64_t{record.ChipStart}, static_cast<std::size_t>(block.imageBytes)));
  block.settings = ProjectSettingsOf(record);
  block.settingsSha256 = SettingsDigest(block.settings);
  block.kind = key.kind;
  const uint64_t blockStart = file.size();
  file += JobLockBlockBody(block);
  block.lockValue = JobLockValue(key, file);
  file += JobLockBlockTail(block, blockStart);
  if (const std::string error = WriteFileAtomically(path, file); !error.empty())
    throw EInOutError(FormatText(Tx("Cannot save the locked job: %s"), error.c_str()));
  AppendInfo(FormatText(Tx("Locked job \"%s\" saved: %s %s, image SHA-256 %s."), path.c_str(),
                        JobLockKindWord(block.kind), block.lockValue.c_str(), block.imageSha256.c_str()));
}

TQNProgrammer::LockedJobOutcome TQNProgrammer::LoadLockedJob(const std::string& path, const JobKey& key) {
  LockedJobOutcome outcome;
  if (RefusedJobChange(Tx("loading a project"))) return outcome;
  std::vector<std::string>& differences = outcome.differences;
  auto refuse = [&] {
    AppendInfo(FormatText(Tx("Locked job \"%s\" refused:"), path.c_str()));
    for (const std::string& line : differences) AppendPlain("  " + line);
    return outcome;
  };

  std::vector<uint8_t> bytes;
  if (const std::string reason = ReadRegularFile(path, kLargestLockedJob, bytes); !reason.empty()) {
    differences.push_back(FormatText(Tx("file: cannot be read: %s"), reason.c_str()));
    return refuse();
  }
  const std::string_view file = Bytes(bytes.data(), bytes.size());
  const ParsedLockedJob parsed = ParseLockedJob(file);
  if (!parsed.hasBlock) {
    differences.push_back(Tx("file: it is not a locked job (it carries no lock block)"));
    return refuse();
  }
  if (!parsed.formatProblem.empty()) {
    differences.push_back(FormatText(Tx("file: %s"), parsed.formatProblem.c_str()));
    return refuse();
  }
  const JobLockBlock& block = parsed.block;

  // The lock first: whoever holds the key vouches for everything below.
  if (block.kind != key.kind) {
    differences.push_back(FormatText(Tx("lock: the job is locked with %s, but %s was given"), KeyName(block.kind),
                                     KeyName(key.kind)));
  } else {
    const std::string value = JobLockValue(key, file.substr(0, parsed.lockedBytes));
    if (CRYPTO_memcmp(value.data(), block.lockValue.data(), value.size()) != 0) differences.push_back(Tx(kLockDoesNotMatch));
  }

  // Then what the project part holds now against what was locked, so that
  // the refusal names what changed.
  ProjectReader reader = ProjectReader::OfBytes(file);
  ProjectRecord record;
  const ProjectHeader header = ReadProjectHeader(reader, record);
  if (header.status != ProjectHeaderStatus::Complete) {
    differences.push_back(Tx("project: its header is damaged"));
    return refuse();
  }
  const LockedSettings settings = ProjectSettingsOf(record);
  CompareSettings(block.settings, settings, differences);
  if (const std::string digest = SettingsDigest(block.settings); digest != block.settingsSha256)
    differences.push_back(FormatText(Tx("settings: SHA-256 locked %s, now %s"), block.settingsSha256.c_str(),
                                     digest.c_str()));
  uint64_t imageBytes = 0;
  const auto image = ProjectImageDigest(reader, header, record, imageBytes);
  if (!image)
    differences.push_back(Tx("image: the project's data block is incomplete or reaches beyond the image buffer"));
  else if (*image != block.imageSha256 || imageBytes != block.imageBytes)
    differences.push_back(FormatText(Tx("image: SHA-256 locked %s (%llu bytes), now %s (%llu bytes)"),
                                     block.imageSha256.c_str(), static_cast<unsigned long long>(block.imageBytes),
                                     image->c_str(), static_cast<unsigned long long>(imageBytes)));
  if (!differences.empty()) return refuse();

  // The bytes that were checked, not the path again: the file may have
  // been replaced since it was read.
  LoadProjectFile(path, file);
  if (!ChipConfirmed || !FileLoaded || !LastProjectRefusal.empty()) {
    differences.push_back(Tx("project: it was verified but did not load"));
    return refuse();
  }
  LockedJobPath = path;
  LockedJobLock = std::string(JobLockKindWord(block.kind)) + " " + block.lockValue;
  LockedJobImageSha256 = block.imageSha256;
  AppendInfo(FormatText(Tx("Locked job \"%s\" verified: %s %s, locked by version %s."), path.c_str(),
                        JobLockKindWord(block.kind), block.lockValue.c_str(), block.programVersion.c_str()));
  outcome.loaded = true;
  return outcome;
}

}  // namespace velkor
