// The search of the chip menu: what the search field at the top of the menu
// lists while a person types. Every chip the menu offers can be found,
// wherever it lies in the menu, and comes with the way to it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "chips/catalogue.hpp"

namespace velkor {

struct ChipSearchMatch {
  const CatalogueEntry* entry = nullptr;
  std::vector<std::string> path;  // the submenus leading to the entry, outermost first
};

// The entries the menu offers (neither hidden nor in a hidden submenu) whose
// caption holds the query without regard to ASCII case, in menu order.
// Blanks at either end of the query are not part of it; a query of nothing
// but blanks finds nothing.
std::vector<ChipSearchMatch> SearchChipMenu(const std::vector<ChipMenuNode>& menu, std::string_view query);

// The same over the menu of the catalogue in use.
std::vector<ChipSearchMatch> SearchChipMenu(std::string_view query);

// The way to the entry as one line: "SPI  Flash › Winbond › W25x64xx"; for
// an entry at the top level just its caption.
std::string ChipMenuPathText(const ChipSearchMatch& match);

}  // namespace velkor
