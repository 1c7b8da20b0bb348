#include "chips/chip_lookup.hpp"

#include <algorithm>
#include <string>

namespace velkor {

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c); });
  return lower;
}

bool Contains(std::string_view haystack, const std::string& lowerNeedle) {
  return Lower(haystack).find(lowerNeedle) != std::string::npos;
}

}  // namespace

ChipLookup LookUpChip(std::string_view name) {
  ChipLookup result;
  if (const CatalogueEntry* exact = FindChip(name); exact && !exact->hidden) {
    result.entry = exact;
    return result;
  }
  const std::string wanted = Lower(name);
  std::vector<const CatalogueEntry*> sameLetters;
  for (const CatalogueEntry& entry : ChipCatalogue()) {
    if (entry.hidden) continue;
    if (Lower(entry.caption) == wanted) sameLetters.push_back(&entry);
    if (!wanted.empty() && Contains(entry.caption, wanted)) result.candidates.push_back(&entry);
  }
  // A caption may appear in more than one submenu; they are the same chip
  // only if they are the same entry.
  if (sameLetters.size() == 1) {
    result.entry = sameLetters.front();
    result.candidates.clear();
  } else if (sameLetters.empty() && result.candidates.size() == 1) {
    result.entry = result.candidates.front();
    result.candidates.clear();
  } else if (!sameLetters.empty()) {
    result.candidates = sameLetters;
  }
  return result;
}

std::vector<const CatalogueEntry*> SearchChips(std::string_view text) {
  const std::string wanted = Lower(text);
  std::vector<const CatalogueEntry*> found;
  for (const CatalogueEntry& entry : ChipCatalogue()) {
    if (entry.hidden) continue;
    bool fits = Contains(entry.caption, wanted);
    for (const std::string& submenu : entry.menu) fits = fits || Contains(submenu, wanted);
    if (fits) found.push_back(&entry);
  }
  return found;
}

}  // namespace velkor
