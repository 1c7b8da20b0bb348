// Serial numbers from a list file: one value per line, each handed to one
// chip only. A journal beside the list (LIST.used) records every value taken
// and what became of it, so that a later run goes on where this one stopped,
// and so that several programs may share one list.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/serial_number_source.hpp"

namespace velkor {

// What becomes of a failed chip's value, as with a line's pools: voided
// (never handed out again) or reused (the next chip gets it).
enum class FailedValuePolicy { Void, Reuse };
// Their names, in the order of the enum.
inline constexpr const char* kFailedValuePolicyNames[] = {"void", "reuse"};

// "void" or "reuse"; nothing for anything else.
std::optional<FailedValuePolicy> ParseFailedValuePolicy(std::string_view name);

// One list value: "1234" or "0x1A2B" (a four-byte number), or a MAC address
// "00:1A:2B:3C:4D:5E" (or with '-'), whose six bytes go as written.
std::optional<SerialValue> ParseSerialValue(std::string_view text);

class SerialListSource final : public SerialValueSource {
 public:
  // Reads the list and its journal. Nothing, with error naming the file and
  // line, when a line is not a value, a value comes twice, or the journal
  // does not fit the list (the list was edited after values were taken).
  static std::unique_ptr<SerialListSource> Open(const std::filesystem::path& list, FailedValuePolicy policy,
                                                std::string& error);

  // The journal of list.
  static std::filesystem::path JournalOf(const std::filesystem::path& list);

  std::optional<SerialValue> TakeValue(int channel, std::string& error) override;
  void DoneValue(int channel, const SerialValue& value, NumberEnd end) override;

  // Values still to be handed out (fresh ones and ones given back).
  std::size_t Remaining() const { return entries_.size() - next_ + returned_.size(); }

 private:
  struct Entry {
    int line;
    SerialValue value;
  };

  SerialListSource(std::filesystem::path list, FailedValuePolicy policy) : list_(std::move(list)), policy_(policy) {}
  std::string ReadList();
  std::string ReplayJournal();
  std::string Journal(std::string_view event, const Entry& entry);

  std::filesystem::path list_;
  FailedValuePolicy policy_;
  std::vector<Entry> entries_;
  std::map<int, std::size_t> byLine_;
  // Entries from next_ on were never taken; returned_ holds the earlier ones
  // to hand out again, the first in the list first.
  std::size_t next_ = 0;
  std::set<std::size_t> returned_;
};

}  // namespace velkor
