#include "data/job_lock_block.hpp"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <charconv>
#include <stdexcept>

#include "data/text_format.hpp"
#include "platform/text_file.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

// A passphrase or key file larger than this is surely the wrong file.
constexpr std::size_t kLargestKeyFile = 1 << 20;

struct KindWord {
  JobLockKind kind;
  const char* word;
};
constexpr std::array<KindWord, 3> kKindWords{{
    {JobLockKind::Digest, "sha256"},
    {JobLockKind::Passphrase, "hmac-sha256-passphrase"},
    {JobLockKind::KeyFile, "hmac-sha256-key-file"},
}};

std::string Hex(const unsigned char* bytes, std::size_t count) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * count);
  for (std::size_t i = 0; i < count; ++i) {
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  return text;
}

std::string Number(uint64_t value) { return std::to_string(value); }
std::string Byte(uint8_t value) { return FormatText("0x%02X", unsigned{value}); }
std::string Word(uint16_t value) { return FormatText("0x%04X", unsigned{value}); }
std::string DWord(uint32_t value) { return FormatText("0x%08X", value); }
std::string Flag(bool value) { return value ? "1" : "0"; }

// One setting of the record: its name and its value's text.
struct SettingField {
  const char* name;
  std::string (*text)(const ProjectRecord&);
};
constexpr SettingField kSettingFields[] = {
    {"MCUNameEdit", [](const ProjectRecord& r) { return r.MCUNameEdit; }},
    {"ProductEditX", [](const ProjectRecord& r) { return r.ProductEditX; }},
    {"AccSum16", [](const ProjectRecord& r) { return Word(r.AccSum16); }},
    {"Crc16", [](const ProjectRecord& r) { return Word(r.Crc16); }},
    {"SizeKB", [](const ProjectRecord& r) { return Number(r.SizeKB); }},
    {"PageSize", [](const ProjectRecord& r) { return Number(r.PageSize); }},
    {"ReservedWord3", [](const ProjectRecord& r) { return Word(r.ReservedWord3); }},
    {"EraseTime", [](const ProjectRecord& r) { return Number(r.EraseTime); }},
    {"ChipStart", [](const ProjectRecord& r) { return DWord(r.ChipStart); }},
    {"ChipEnd", [](const ProjectRecord& r) { return DWord(r.ChipEnd); }},
    {"Size", [](const ProjectRecord& r) { return Number(r.Size); }},
    {"ReservedByte4", [](const ProjectRecord& r) { return Byte(r.ReservedByte4); }},
    {"Family", [](const ProjectRecord& r) { return Byte(r.Family); }},
    {"SubType", [](const ProjectRecord& r) { return Byte(r.SubType); }},
    {"StatusBytes",
     [](const ProjectRecord& r) {
       std::string text;
       for (uint8_t b : r.StatusBytes) {
         if (!text.empty()) text += ' ';
         text += Byte(b);
       }
       return text;
     }},
    {"ReservedByte2", [](const ProjectRecord& r) { return Byte(r.ReservedByte2); }},
    {"ReservedByte1", [](const ProjectRecord& r) { return Byte(r.ReservedByte1); }},
    {"EepromProtect", [](const ProjectRecord& r) { return Byte(r.EepromProtect); }},
    {"ReservedByte3", [](const ProjectRecord& r) { return Byte(r.ReservedByte3); }},
    {"ReservedWord1", [](const ProjectRecord& r) { return Word(r.ReservedWord1); }},
    {"ReservedWord2", [](const ProjectRecord& r) { return Word(r.ReservedWord2); }},
    {"ReservedByte5", [](const ProjectRecord& r) { return Byte(r.ReservedByte5); }},
    {"ReservedByte6", [](const ProjectRecord& r) { return Byte(r.ReservedByte6); }},
    {"OptionBits", [](const ProjectRecord& r) { return Byte(r.OptionBits); }},
    {"AddrStyle", [](const ProjectRecord& r) { return Byte(r.AddrStyle); }},
    {"DeviceAddress", [](const ProjectRecord& r) { return Byte(r.DeviceAddress); }},
    {"IdByte1", [](const ProjectRecord& r) { return Byte(r.IdByte1); }},
    {"IdByte2", [](const ProjectRecord& r) { return Byte(r.IdByte2); }},
    {"CheckBoxAut", [](const ProjectRecord& r) { return Flag(r.CheckBoxAut); }},
    {"SpinEditIn", [](const ProjectRecord& r) { return Number(r.SpinEditIn); }},
    {"SpinEditOut", [](const ProjectRecord& r) { return Number(r.SpinEditOut); }},
    {"RadioGroupSpd", [](const ProjectRecord& r) { return Number(r.RadioGroupSpd); }},
    {"RadioGpVolt", [](const ProjectRecord& r) { return Number(r.RadioGpVolt); }},
    {"CheckBoxWRP", [](const ProjectRecord& r) { return Flag(r.CheckBoxWRP); }},
    {"CheckBoxSN", [](const ProjectRecord& r) { return Flag(r.CheckBoxSN); }},
    {"ChkBoxPCSN", [](const ProjectRecord& r) { return Flag(r.ChkBoxPCSN); }},
    {"SNOrderChk", [](const ProjectRecord& r) { return Flag(r.SNOrderChk); }},
    {"ChkBoxStrSN", [](const ProjectRecord& r) { return Flag(r.ChkBoxStrSN); }},
    {"SNEdit", [](const ProjectRecord& r) { return r.SNEdit; }},
    {"GainEdit", [](const ProjectRecord& r) { return r.GainEdit; }},
    {"AddrEdit", [](const ProjectRecord& r) { return r.AddrEdit; }},
    {"ChkBoxStrSNAgain", [](const ProjectRecord& r) { return Flag(r.ChkBoxStrSNAgain); }},
    {"ChkBoxNumb", [](const ProjectRecord& r) { return Flag(r.ChkBoxNumb); }},
    {"SpinEditNumb", [](const ProjectRecord& r) { return Number(r.SpinEditNumb); }},
};

constexpr std::string_view kSettingPrefix = "setting.";

// A value on one line: control bytes, DEL and '%' as %XX.
std::string Escaped(std::string_view value) {
  std::string text;
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '%')
      text += FormatText("%%%02X", unsigned{byte});
    else
      text += c;
  }
  return text;
}

std::optional<std::string> Unescaped(std::string_view text) {
  std::string value;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      value += text[i];
      continue;
    }
    unsigned byte = 0;
    if (i + 2 >= text.size()) return std::nullopt;
    const auto [end, error] = std::from_chars(text.data() + i + 1, text.data() + i + 3, byte, 16);
    if (error != std::errc{} || end != text.data() + i + 3) return std::nullopt;
    value += static_cast<char>(byte);
    i += 2;
  }
  return value;
}

std::string SettingLines(const LockedSettings& settings) {
  std::string lines;
  for (const auto& [name, value] : settings) lines += std::string(kSettingPrefix) + name + "=" + Escaped(value) + "\n";
  return lines;
}

bool IsDigest(std::string_view text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace

const char* JobLockKindWord(JobLockKind kind) {
  for (const KindWord& k : kKindWords)
    if (k.kind == kind) return k.word;
  return "";
}

std::optional<JobLockKind> JobLockKindOfWord(std::string_view word) {
  for (const KindWord& k : kKindWords)
    if (word == k.word) return k.kind;
  return std::nullopt;
}

std::optional<JobKey> ReadJobKey(JobLockKind kind, const std::filesystem::path& path, std::string& error) {
  std::vector<uint8_t> bytes;
  const std::string reason = ReadRegularFile(path, kLargestKeyFile, bytes);
  if (!reason.empty()) {
    error = FormatText(Tx("The key file \"%s\" cannot be read: %s."), path.c_str(), reason.c_str());
    return std::nullopt;
  }
  if (bytes.size() > kLargestKeyFile) {
    error = FormatText(Tx("The key file \"%s\" is larger than %u bytes."), path.c_str(),
                       static_cast<unsigned>(kLargestKeyFile));
    return std::nullopt;
  }
  std::string text(bytes.begin(), bytes.end());
  // A passphrase is a line of text: an editor's line end is no part of it.
  if (kind == JobLockKind::Passphrase) text = text.substr(0, text.find_first_of("\r\n"));
  if (text.empty()) {
    error = FormatText(Tx("The key file \"%s\" holds no key."), path.c_str());
    return std::nullopt;
  }
  return JobKey{kind, std::move(text)};
}

std::optional<JobKey> JobKeyOfOptions(const std::string& passphraseFile, const std::string& keyFile,
                                      std::string& error) {
  if (!keyFile.empty()) return ReadJobKey(JobLockKind::KeyFile, keyFile, error);
  if (!passphraseFile.empty()) return ReadJobKey(JobLockKind::Passphrase, passphraseFile, error);
  return JobKey{};
}

LockedSettings ProjectSettingsOf(const ProjectRecord& record) {
  LockedSettings settings;
  for (const SettingField& field : kSettingFields) settings.emplace_back(field.name, field.text(record));
  return settings;
}

std::string Sha256Hex(std::string_view bytes) {
  unsigned char sha[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), sha, &length, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 could not be computed");
  return Hex(sha, length);
}

std::string SettingsDigest(const LockedSettings& settings) { return Sha256Hex(SettingLines(settings)); }

std::string JobLockValue(const JobKey& key, std::string_view bytes) {
  if (key.kind == JobLockKind::Digest) return Sha256Hex(bytes);
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!HMAC(EVP_sha256(), key.bytes.data(), static_cast<int>(key.bytes.size()),
            reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), mac, &length))
    throw std::runtime_error("HMAC-SHA256 could not be computed");
  return Hex(mac, length);
}

std::string JobLockBlockBody(const JobLockBlock& block) {
  return FormatText("\n%s %d\n", kJobLockMagic, kJobLockFormat) + "program=" + Escaped(block.programVersion) + "\n" +
         "image-bytes=" + std::to_string(block.imageBytes) + "\n" + "image-sha256=" + block.imageSha256 + "\n" +
         SettingLines(block.settings) + "settings-sha256=" + block.settingsSha256 + "\n" +
         "lock-kind=" + JobLockKindWord(block.kind) + "\n";
}

std::string JobLockBlockTail(const JobLockBlock& block, uint64_t blockStart) {
  return "lock=" + block.lockValue + "\n" + std::string(kJobLockFooterName) +
         FormatText("%020llu\n", static_cast<unsigned long long>(blockStart));
}

ParsedLockedJob ParseLockedJob(std::string_view file) {
  ParsedLockedJob parsed;
  if (file.size() < kJobLockFooterSize) return parsed;
  const std::string_view footer = file.substr(file.size() - kJobLockFooterSize);
  if (!footer.starts_with(kJobLockFooterName) || !footer.ends_with('\n')) return parsed;
  parsed.hasBlock = true;
  auto refuse = [&parsed](const char* why) {
    parsed.formatProblem = Tx(why);
    return parsed;
  };
  uint64_t start = 0;
  const std::string_view digits = footer.substr(kJobLockFooterName.size(), 20);
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), start);
  if (error != std::errc{} || end != digits.data() + digits.size() || start >= file.size() - kJobLockFooterSize)
    return refuse(TextKey("its last line does not say where its lock block begins"));
  parsed.projectBytes = static_cast<std::size_t>(start);

  const std::string_view body = file.substr(parsed.projectBytes, file.size() - kJobLockFooterSize - parsed.projectBytes);
  const std::string heading = FormatText("\n%s ", kJobLockMagic);
  if (!body.starts_with(heading)) return refuse(TextKey("its lock block does not begin with the lock's mark"));
  JobLockBlock& block = parsed.block;
  bool formatSeen = false, lockSeen = false, kindSeen = false;
  std::size_t at = 1;
  while (at < body.size()) {
    const std::size_t lineEnd = body.find('\n', at);
    if (lineEnd == std::string_view::npos) return refuse(TextKey("its lock block ends inside a line"));
    const std::string_view line = body.substr(at, lineEnd - at);
    const std::size_t lineStart = at;
    at = lineEnd + 1;
    if (!formatSeen) {
      formatSeen = true;
      if (line != FormatText("%s %d", kJobLockMagic, kJobLockFormat))
        return refuse(TextKey("its lock block is of a format this program does not know"));
      continue;
    }
    if (lockSeen) return refuse(TextKey("its lock block goes on after the lock value"));
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return refuse(TextKey("its lock block holds a line that is not name=value"));
    const std::string_view name = line.substr(0, equals);
    const std::string_view text = line.substr(equals + 1);
    const auto value = Unescaped(text);
    if (!value) return refuse(TextKey("its lock block holds a value that is not well formed"));
    if (name == "program") {
      block.programVersion = *value;
    } else if (name == "image-bytes") {
      const auto [e, err] = std::from_chars(text.data(), text.data() + text.size(), block.imageBytes);
      if (err != std::errc{} || e != text.data() + text.size())
        return refuse(TextKey("its lock block holds a value that is not well formed"));
    } else if (name == "image-sha256") {
      block.imageSha256 = *value;
    } else if (name.starts_with(kSettingPrefix)) {
      block.settings.emplace_back(std::string(name.substr(kSettingPrefix.size())), *value);
    } else if (name == "settings-sha256") {
      block.settingsSha256 = *value;
    } else if (name == "lock-kind") {
      const auto kind = JobLockKindOfWord(*value);
      if (!kind) return refuse(TextKey("its lock block names a kind of lock this program does not know"));
      block.kind = *kind;
      kindSeen = true;
    } else if (name == "lock") {
      if (!IsDigest(*value)) return refuse(TextKey("its lock value is not 64 hex digits"));
      block.lockValue = *value;
      lockSeen = true;
      parsed.lockedBytes = parsed.projectBytes + lineStart;
    } else {
      return refuse(TextKey("its lock block holds a line this program does not know"));
    }
  }
  if (!lockSeen || !kindSeen) return refuse(TextKey("its lock block has no lock value"));
  return parsed;
}

}  // namespace velkor
