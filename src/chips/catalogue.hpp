// The chip catalogue: every chip the programmer knows, with its place in the
// selection menu and the parameters it assigns. An entry assigns exactly the
// fields it lists; every other field keeps the value it had.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "chips/chip_params.hpp"

namespace velkor {

// The fields a catalogue entry can assign. OptionBits is not a chip field:
// its value is OR-ed into the job's option bits.
enum class ChipField : uint8_t {
  Family,
  SubType,
  Size,
  PageSize,
  AddrStyle,
  ModeFlags,
  IdByte1,
  IdByte2,
  EraseTime,
  LowVoltChip,
  ForceQe,
  PageFlash,
  HideProtect,
  OptionBits,
};

// The field's name as the listing and the documentation spell it.
const char* ChipFieldName(ChipField field);

struct FieldAssignment {
  ChipField field;
  uint32_t value;

  bool operator==(const FieldAssignment&) const = default;
};

struct CatalogueEntry {
  std::vector<std::string> menu;  // the submenus leading to it; empty at the top level
  std::string caption;            // the chip name shown and sent
  bool hidden = false;            // never offered in the menu
  std::vector<FieldAssignment> fields;  // in ChipField order, each field once
  std::string origin;             // empty for the program's own entries; else the user's file

  bool operator==(const CatalogueEntry&) const = default;
};

// A separator of the menu, placed in the submenu `menu` just before the
// catalogue entry with index `beforeEntry` (or at the end of that submenu
// when no later entry lives there).
struct MenuSeparator {
  std::vector<std::string> menu;
  std::size_t beforeEntry = 0;

  bool operator==(const MenuSeparator&) const = default;
};

// A whole catalogue: the entries in menu order, the separators between
// them and the submenus that are never offered (with all they hold).
struct Catalogue {
  std::vector<CatalogueEntry> entries;
  std::vector<MenuSeparator> separators;
  std::vector<std::vector<std::string>> hiddenSubmenus;
};

// The table compiled into the program. The catalogue file installed with
// the program (chips.json) is written from it when the program is built.
const Catalogue& CompiledCatalogue();

// Makes this catalogue the one that ChipCatalogue, FindChip and ChipMenu
// answer from, with the lines that tell where it came from. Meant for the
// start of a program, before any entry is used; entries and menu nodes
// handed out before stay valid. Until it is called, the compiled table
// is in use.
void UseCatalogue(Catalogue catalogue, std::vector<std::string> notes = {});

// The lines given with the catalogue in use (empty for the compiled table
// when UseCatalogue was never called).
const std::vector<std::string>& CatalogueNotes();

// Every entry of the catalogue in use, in menu order.
const std::vector<CatalogueEntry>& ChipCatalogue();

// The entry with exactly this caption, or null.
const CatalogueEntry* FindChip(std::string_view caption);

// Assigns the entry's fields and nothing else.
void ApplyCatalogueEntry(const CatalogueEntry& entry, ChipParams& chip, uint8_t& optionBits);

// The selection menu as a tree.
struct ChipMenuNode {
  enum class Kind { Submenu, Entry, Separator };
  Kind kind = Kind::Entry;
  std::string caption;               // submenu or entry caption; empty for a separator
  bool hidden = false;               // a hidden submenu hides all it holds
  const CatalogueEntry* entry = nullptr;  // for Kind::Entry
  std::vector<ChipMenuNode> children;     // for Kind::Submenu
};

// The top level of the menu of the catalogue in use, in order.
const std::vector<ChipMenuNode>& ChipMenu();

// The menu of any catalogue; its nodes point into catalogue.entries.
std::vector<ChipMenuNode> BuildChipMenu(const Catalogue& catalogue);

}  // namespace velkor
