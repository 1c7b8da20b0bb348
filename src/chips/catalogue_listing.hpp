// A machine-readable listing of the chip catalogue, for scripts and for
// reviewing the table.
#pragma once

#include <ostream>
#include <string>

#include "chips/catalogue.hpp"

namespace velkor {

// Writes one JSON object per line for every catalogue entry, offered or
// hidden, in menu order:
//   {"menu":[...],"caption":"...","hidden":false,"fields":{"Family":7,...},"origin":"built-in"}
// "fields" holds exactly the fields the entry assigns, in ChipField order,
// as integers; "origin" is CatalogueOrigin. Strings are written as UTF-8.
void WriteCatalogueListing(std::ostream& out);

// Where an entry comes from: "built-in", or "user: " and the user's file.
std::string CatalogueOrigin(const CatalogueEntry& entry);

}  // namespace velkor
