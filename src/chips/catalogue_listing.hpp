// A machine-readable listing of the chip catalogue, for scripts and for
// reviewing the table.
#pragma once

#include <ostream>

namespace velkor {

// Writes one JSON object per line for every catalogue entry, offered or
// hidden, in menu order:
//   {"menu":[...],"caption":"...","hidden":false,"fields":{"Family":7,...}}
// "fields" holds exactly the fields the entry assigns, in ChipField order,
// as integers. Strings are written as UTF-8.
void WriteCatalogueListing(std::ostream& out);

}  // namespace velkor
