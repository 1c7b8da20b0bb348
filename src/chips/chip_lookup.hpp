// Finding a chip by the name a person types: the exact caption, or failing
// that a unique case-insensitive match, so that "w25q64" finds "W25Q64xx"
// on a command line while "w25q" names no single chip.
#pragma once

#include <string_view>
#include <vector>

#include "chips/catalogue.hpp"

namespace velkor {

struct ChipLookup {
  // The chip, when the name picks exactly one offered entry.
  const CatalogueEntry* entry = nullptr;
  // Otherwise the offered entries the name fits (empty: none at all).
  std::vector<const CatalogueEntry*> candidates;
};

// Only entries the selection menu offers are found. In order: the exact
// caption; the caption without regard to case; the captions that contain
// the name without regard to case, when there is exactly one.
ChipLookup LookUpChip(std::string_view name);

// The offered entries whose caption or menu path contains text without
// regard to case (every offered entry for an empty text), in menu order.
std::vector<const CatalogueEntry*> SearchChips(std::string_view text);

}  // namespace velkor
