#include "chips/chip_lookup.hpp"

#include <string>

#include "chips/name_match.hpp"

namespace velkor {

ChipLookup LookUpChip(std::string_view name) {
  ChipLookup result;
  if (const CatalogueEntry* exact = FindChip(name); exact && !exact->hidden) {
    result.entry = exact;
    return result;
  }
  const std::string wanted = FoldNameCase(name);
  std::vector<const CatalogueEntry*> sameLetters;
  for (const CatalogueEntry& entry : ChipCatalogue()) {
    if (entry.hidden) continue;
    if (FoldNameCase(entry.caption) == wanted) sameLetters.push_back(&entry);
    if (!wanted.empty() && NameContains(entry.caption, wanted)) result.candidates.push_back(&entry);
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
  const std::string wanted = FoldNameCase(text);
  std::vector<const CatalogueEntry*> found;
  for (const CatalogueEntry& entry : ChipCatalogue()) {
    if (entry.hidden) continue;
    bool fits = NameContains(entry.caption, wanted);
    for (const std::string& submenu : entry.menu) fits = fits || NameContains(submenu, wanted);
    if (fits) found.push_back(&entry);
  }
  return found;
}

}  // namespace velkor
