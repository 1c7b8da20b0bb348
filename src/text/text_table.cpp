#include "text/text_table.hpp"

#include <unordered_map>

#include "text/language.hpp"

namespace velkor {

std::span<const TextEntry> EnglishTexts();

namespace {

const std::unordered_map<std::string_view, const TextEntry*>& Index() {
  static const auto index = [] {
    std::unordered_map<std::string_view, const TextEntry*> map;
    for (const TextEntry& entry : EnglishTexts()) map.emplace(entry.original, &entry);
    return map;
  }();
  return index;
}

}  // namespace

std::span<const TextEntry> TextTable() { return EnglishTexts(); }

const TextEntry* FindText(std::string_view original) {
  const auto& index = Index();
  const auto found = index.find(original);
  return found == index.end() ? nullptr : found->second;
}

const char* Tx(const char* original) {
  if (CurrentLanguage() == Language::Original) return original;
  const TextEntry* entry = FindText(original);
  return entry && entry->english ? entry->english : original;
}

std::string_view Tx(std::string_view original) {
  if (CurrentLanguage() == Language::Original) return original;
  const TextEntry* entry = FindText(original);
  return entry && entry->english ? std::string_view(entry->english) : original;
}

}  // namespace velkor
