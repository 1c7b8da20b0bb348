// The chip catalogue: every chip the programmer knows, with its place in the
// selection menu and the parameters it assigns. An entry assigns exactly the
// fields it lists; every other field keeps the value it had.
#pragma once

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
};

struct CatalogueEntry {
  std::vector<std::string> menu;  // the submenus leading to it; empty at the top level
  std::string caption;            // the chip name shown and sent
  bool hidden = false;            // never offered in the menu
  std::vector<FieldAssignment> fields;
};

// Every entry, in menu order.
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

// The top level of the menu, in order.
const std::vector<ChipMenuNode>& ChipMenu();

}  // namespace velkor
