// velkor-chips-json FILE: writes the catalogue file (chips.json) from the
// table compiled into the program, when the program is built. The file is
// read back before it is written: what the program reads from it must be
// the compiled table, entry by entry.
#include <cstdio>

#include "chips/catalogue.hpp"
#include "chips/catalogue_file.hpp"
#include "platform/text_file.hpp"

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velkor-chips-json FILE\n");
    return 2;
  }
  const velkor::Catalogue& compiled = velkor::CompiledCatalogue();
  const std::string text = velkor::WriteCatalogueFile(compiled);
  const velkor::CatalogueFileReading reading = velkor::ReadCatalogueFile(text);
  for (const velkor::FileProblem& p : reading.problems)
    std::fprintf(stderr, "velkor-chips-json: line %zu: %s\n", p.line, p.reason.c_str());
  if (!reading.catalogue || reading.catalogue->entries != compiled.entries ||
      reading.catalogue->separators != compiled.separators ||
      reading.catalogue->hiddenSubmenus != compiled.hiddenSubmenus) {
    std::fprintf(stderr, "velkor-chips-json: the file would not read back as the compiled table\n");
    return 1;
  }
  if (const std::string error = velkor::WriteFileAtomically(argv[1], text); !error.empty()) {
    std::fprintf(stderr, "velkor-chips-json: %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  return 0;
}
