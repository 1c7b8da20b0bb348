// The chip catalogue as JSON text: the catalogue file installed with the
// program (chips.json, written from the compiled table when the program is
// built) and the user's own chip files, which add chips or replace chips
// by name. docs/chips.md describes both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chips/catalogue.hpp"

namespace velkor {

// The name of the catalogue file in the data folders.
inline constexpr const char* kCatalogueFileName = "chips.json";
// The value of its "format" member.
inline constexpr int kCatalogueFileFormat = 1;
// The submenu user chips go to when their file names none.
inline constexpr const char* kUserChipMenu = "User";

// What is wrong with a file, and where: line 1 is the first; 0 when the
// problem is the file as a whole.
struct FileProblem {
  std::size_t line = 0;
  std::string reason;

  bool operator==(const FileProblem&) const = default;
};

// The text of a catalogue file holding this catalogue, one item a line.
std::string WriteCatalogueFile(const Catalogue& catalogue);

struct CatalogueFileReading {
  std::optional<Catalogue> catalogue;  // set only when the file has no problem at all
  std::vector<FileProblem> problems;
};

// Reads a catalogue file. Its entries assign exactly the fields they list.
CatalogueFileReading ReadCatalogueFile(std::string_view text);

// A chip a user's file adds, or puts in place of the entry of the same name.
struct UserChip {
  CatalogueEntry entry;    // origin: the file's name
  bool menuGiven = false;  // the file names the submenu (else "User", or the replaced entry's place)
  std::size_t line = 0;    // where its item begins in the file
};

struct UserChipFileReading {
  std::vector<UserChip> chips;  // empty when the file has any problem
  std::vector<FileProblem> problems;
};

// Reads a user's chip file; origin names it in the entries. A chip names
// its family and every field that family needs (see FamilyRulesFor).
UserChipFileReading ReadUserChipFile(std::string_view text, const std::string& origin);

// Puts the user's chips into the catalogue: a chip whose caption an entry
// already has takes that entry's place (and visibility) unless it names a
// submenu, where it is moved to; any other chip is added at the end of its
// submenu ("User" by default, made at the end of the top level). Returns
// how many entries were replaced.
std::size_t AddUserChips(Catalogue& catalogue, const std::vector<UserChip>& chips);

// What a user's chip of one family must, may and need not give, taken from
// the compiled table's entries of that family: a field all of them assign
// with different values is required, one they all assign with the same
// value takes that value when left out, one only some of them assign may
// be given. Size is always required, and for flash families EraseTime too.
struct FamilyRules {
  uint8_t family = 0;
  const char* kind = "";  // "SPI NOR flash", "I2C EEPROM", ...
  std::vector<ChipField> required;        // besides Family
  std::vector<FieldAssignment> defaults;  // assigned when the file leaves them out
  std::vector<ChipField> optional;        // assigned only when given
  uint32_t smallestSize = 0;
  uint32_t largestSize = 0;
  uint32_t sizeStep = 1;  // Size is a multiple of it
};

// The rules of a family code the compiled table uses, or null.
const FamilyRules* FamilyRulesFor(uint32_t family);
// Every family code the compiled table uses, in ascending order.
const std::vector<FamilyRules>& AllFamilyRules();

}  // namespace velkor
