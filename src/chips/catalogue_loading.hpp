// Where the program finds its chip catalogue when it starts: the catalogue
// file chips.json in the data folders (the start directory, the user's
// data folder, the installed data folder; the first one found), else the
// table compiled into the program; then the user's own chip files in
// $XDG_DATA_HOME/velkor350qn/chips (*.json, in name order).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "chips/catalogue.hpp"

namespace velkor {

struct CatalogueFolders {
  std::vector<std::filesystem::path> dataFolders;  // searched for chips.json, in order
  std::filesystem::path userChips;                 // the user's chip files; empty: none
};

// The start directory (the current one), the user's data folder and the
// installed data folder; the user's chip files in the user's data folder.
CatalogueFolders StandardCatalogueFolders();

struct CatalogueLoad {
  Catalogue catalogue;
  // Every line for the information log: where the catalogue came from,
  // each user file taken, each file refused.
  std::vector<std::string> notes;
  // The lines of notes that tell of a problem: a refused file (with its
  // name, line and reason), or no catalogue file found.
  std::vector<std::string> problems;
};

// Reads the catalogue from these folders. A catalogue file with any problem
// is not used (the compiled table is); a user file with any problem is not
// used, and the others are.
CatalogueLoad LoadCatalogue(const CatalogueFolders& folders);

// LoadCatalogue, then UseCatalogue with its notes. Returns the load.
CatalogueLoad LoadAndUseCatalogue(const CatalogueFolders& folders = StandardCatalogueFolders());

}  // namespace velkor
