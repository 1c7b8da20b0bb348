#include "app/serial_list.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>

#include "data/text_format.hpp"
#include "platform/file_lock.hpp"
#include "platform/text_file.hpp"
#include "text/text_table.hpp"

namespace velkor {
namespace {

constexpr std::size_t kMostListBytes = 64u << 20;
constexpr std::string_view kJournalHeader = "# Values of the serial-number list taken by velkor350qn\n";

// Journal lines: "<event> <list line> <value as written>".
constexpr std::string_view kTaken = "taken";
constexpr std::string_view kGood = "good";
constexpr std::string_view kVoided = "voided";
constexpr std::string_view kReturned = "returned";

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::optional<uint64_t> ParseDigits(std::string_view digits, int base) {
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (error != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::optional<std::vector<uint8_t>> ParseMac(std::string_view text) {
  if (text.size() != 17) return std::nullopt;
  const char separator = text[2];
  if (separator != ':' && separator != '-') return std::nullopt;
  std::vector<uint8_t> bytes;
  for (std::size_t i = 0; i < 6; ++i) {
    if (i > 0 && text[3 * i - 1] != separator) return std::nullopt;
    const std::string_view pair = text.substr(3 * i, 2);
    if (!std::all_of(pair.begin(), pair.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
      return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(*ParseDigits(pair, 16)));
  }
  return bytes;
}

// Lines of text without their line ends; the last may lack one.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool Ignored(std::string_view line) { return line.empty() || line.front() == '#'; }

}  // namespace

std::optional<FailedValuePolicy> ParseFailedValuePolicy(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kFailedValuePolicyNames); ++i)
    if (name == kFailedValuePolicyNames[i]) return static_cast<FailedValuePolicy>(i);
  return std::nullopt;
}

std::optional<SerialValue> ParseSerialValue(std::string_view text) {
  SerialValue value;
  value.text = std::string(text);
  if (auto mac = ParseMac(text)) {
    value.bytes = std::move(*mac);
    return value;
  }
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  // from_chars takes no sign, so "-1" or "+1" is refused with the rest.
  const std::optional<uint64_t> number = hex ? ParseDigits(text.substr(2), 16) : ParseDigits(text, 10);
  if (!number || *number > 0xFFFFFFFFu) return std::nullopt;
  value.number = static_cast<uint32_t>(*number);
  return value;
}

std::filesystem::path SerialListSource::JournalOf(const std::filesystem::path& list) {
  std::filesystem::path journal = list;
  journal += ".used";
  return journal;
}

std::unique_ptr<SerialListSource> SerialListSource::Open(const std::filesystem::path& list, FailedValuePolicy policy,
                                                         std::string& error) {
  std::unique_ptr<SerialListSource> source(new SerialListSource(list, policy));
  error = source->ReadList();
  if (error.empty()) error = source->ReplayJournal();
  if (!error.empty()) return nullptr;
  return source;
}

std::string SerialListSource::ReadList() {
  std::vector<uint8_t> bytes;
  const std::string reason = ReadRegularFile(list_, kMostListBytes, bytes);
  if (!reason.empty())
    return FormatText(Tx("The serial-number list %s cannot be read: %s"), list_.string().c_str(), reason.c_str());
  if (bytes.size() > kMostListBytes)
    return FormatText(Tx("The serial-number list %s is larger than %zu MiB."), list_.string().c_str(),
                      kMostListBytes >> 20);
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  // The line of each value seen so far: a list of many thousand values is
  // checked for repeats in one pass.
  std::map<std::pair<std::optional<uint32_t>, std::vector<uint8_t>>, int> seen;
  int lineNumber = 0;
  for (const std::string_view raw : Lines(text)) {
    ++lineNumber;
    const std::string_view line = Trim(raw);
    if (Ignored(line)) continue;
    std::optional<SerialValue> value = ParseSerialValue(line);
    if (!value)
      return FormatText(Tx("%s, line %d: \"%s\" is not a serial number (a decimal or 0x hexadecimal number of at "
                           "most four bytes, or a MAC address such as 00:1A:2B:3C:4D:5E)."),
                        list_.string().c_str(), lineNumber, std::string(line).c_str());
    const auto [same, fresh] = seen.emplace(std::make_pair(value->number, value->bytes), lineNumber);
    if (!fresh)
      return FormatText(Tx("%s, line %d: \"%s\" is the value of line %d again; every value goes to one chip only."),
                        list_.string().c_str(), lineNumber, std::string(line).c_str(), same->second);
    byLine_[lineNumber] = entries_.size();
    entries_.push_back({lineNumber, std::move(*value)});
  }
  return {};
}

std::string SerialListSource::ReplayJournal() {
  const std::filesystem::path journal = JournalOf(list_);
  std::error_code missing;
  if (!std::filesystem::exists(journal, missing)) return {};
  std::vector<uint8_t> bytes;
  const std::string reason = ReadRegularFile(journal, kMostListBytes, bytes);
  if (!reason.empty())
    return FormatText(Tx("The journal %s of the serial-number list cannot be read: %s"), journal.string().c_str(),
                      reason.c_str());
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  int lineNumber = 0;
  for (const std::string_view raw : Lines(text)) {
    ++lineNumber;
    const std::string_view line = Trim(raw);
    if (Ignored(line)) continue;
    const auto firstSpace = line.find(' ');
    const auto secondSpace = firstSpace == std::string_view::npos ? firstSpace : line.find(' ', firstSpace + 1);
    const std::string_view event = line.substr(0, firstSpace);
    const std::optional<uint64_t> listLine =
        secondSpace == std::string_view::npos ? std::nullopt
                                              : ParseDigits(line.substr(firstSpace + 1, secondSpace - firstSpace - 1), 10);
    const auto entry = listLine ? byLine_.find(static_cast<int>(*listLine)) : byLine_.end();
    const bool known = event == kTaken || event == kGood || event == kVoided || event == kReturned;
    if (!known || entry == byLine_.end() || entries_[entry->second].value.text != line.substr(secondSpace + 1))
      return FormatText(Tx("%s, line %d does not fit the list %s: was the list changed after values were taken? "
                           "Keep the list as it was, or move the journal away to start the list afresh."),
                        journal.string().c_str(), lineNumber, list_.string().c_str());
    const std::size_t index = entry->second;
    if (event == kTaken) {
      returned_.erase(index);
      next_ = std::max(next_, index + 1);
    } else if (event == kReturned) {
      returned_.insert(index);
    }
  }
  return {};
}

std::string SerialListSource::Journal(std::string_view event, const Entry& entry) {
  const std::string line =
      std::string(event) + ' ' + std::to_string(entry.line) + ' ' + entry.value.text + '\n';
  return AppendToFile(JournalOf(list_), line, kJournalHeader);
}

std::optional<SerialValue> SerialListSource::TakeValue(int, std::string& error) {
  // Other programs, and other groups of programmers of this one, may take
  // values of the same list: the journal, read anew under the list's lock,
  // says which are left.
  const FileLock lock(list_, error);
  if (!lock.Held()) {
    error = FormatText(Tx("The serial-number list cannot be locked: %s"), error.c_str());
    return std::nullopt;
  }
  next_ = 0;
  returned_.clear();
  error = ReplayJournal();
  if (!error.empty()) return std::nullopt;
  std::size_t index;
  if (!returned_.empty()) {
    index = *returned_.begin();
  } else if (next_ < entries_.size()) {
    index = next_;
  } else {
    error = FormatText(Tx("The serial-number list %s is used up: all its %zu values have been taken."),
                       list_.string().c_str(), entries_.size());
    return std::nullopt;
  }
  // A value is handed out only once the journal holds it, so that no restart
  // can hand it out again.
  const std::string failure = Journal(kTaken, entries_[index]);
  if (!failure.empty()) {
    error = FormatText(Tx("The journal of the serial-number list cannot be written: %s"), failure.c_str());
    return std::nullopt;
  }
  if (!returned_.empty())
    returned_.erase(returned_.begin());
  else
    ++next_;
  return entries_[index].value;
}

void SerialListSource::DoneValue(int, const SerialValue& value, NumberEnd end) {
  const auto entry =
      std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.value == value; });
  if (entry == entries_.end()) return;
  const bool giveBack = end == NumberEnd::NotUsed || (end == NumberEnd::Failed && policy_ == FailedValuePolicy::Reuse);
  const std::string_view event = end == NumberEnd::Good ? kGood : giveBack ? kReturned : kVoided;
  // A value the journal does not see returned stays taken: it is never
  // handed out twice, whatever became of the write.
  if (!Journal(event, *entry).empty() || !giveBack) return;
  returned_.insert(static_cast<std::size_t>(entry - entries_.begin()));
}

}  // namespace velkor
