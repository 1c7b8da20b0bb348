// Every text the program shows a person: captions, menus, messages, log
// lines, the command line's output. Each has one entry in the text table,
// the original with its English translation; Tx gives the text in the
// language of the run.
//
// A text with numbers in it is one printf-style format (FormatText(Tx(...),
// ...)), so a translation may word the sentence anew around the same
// conversions; the table's tests check that every translation keeps them in
// order.
#pragma once

#include <span>
#include <string_view>

namespace velkor {

struct TextEntry {
  const char* original;
  // Nothing when the English text is the original itself.
  const char* english = nullptr;
};

// The text in the language of the run; a text the table does not hold comes
// back as it is.
const char* Tx(const char* original);
// The same for a text held elsewhere (a control's caption): a view of the
// translation, or of original itself when there is none.
std::string_view Tx(std::string_view original);

// Marks a text of a table defined away from where it is shown, so that it is
// found as one of the program's texts; it is translated where it is shown.
constexpr const char* TextKey(const char* original) { return original; }

// The whole table, and the entry of one original.
std::span<const TextEntry> TextTable();
const TextEntry* FindText(std::string_view original);

}  // namespace velkor
