// The edit model of the hex views: a cursor and a selection over a range of
// the image, overwriting typed bytes (as two hex digits or as characters of
// the text column), filling and pasting, undo and redo, and the marks of the
// bytes edited since the image was last saved or replaced. It knows nothing
// of widgets: a view turns its keys into calls and draws what it reads back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "data/byte_range.hpp"
#include "data/range_counts.hpp"

namespace velkor {

// One change of the image as the caller must follow it (checksums, views):
// the bytes at address were `before` and are now the bytes in the image.
struct AppliedEdit {
  uint32_t address = 0;
  std::vector<uint8_t> before;
  ByteRange Range() const {
    return {address, static_cast<uint32_t>(address + before.size() - 1)};
  }
};

enum class HexPane { Hex, Text };
enum class HexMove { Left, Right, Up, Down, PageUp, PageDown, RowStart, RowEnd, RangeStart, RangeEnd };

// How many bytes of undo history are kept (the bytes each step replaced);
// the oldest steps go first when a new one would pass it.
inline constexpr std::size_t kUndoHistoryBytes = 512u << 20;

class HexEditor {
 public:
  static constexpr uint32_t kRowBytes = 16;

  explicit HexEditor(uint8_t* image) : image_(image) {}

  // The bytes the views show and edit, first..last; the grid's rows start at
  // first. The cursor stays where it was when it still lies inside.
  void SetRange(ByteRange range);
  ByteRange Range() const { return range_; }
  bool HasRange() const { return hasRange_; }
  // The number of rows a page key moves.
  void SetPageRows(uint32_t rows) { pageRows_ = rows == 0 ? 1 : rows; }

  // --- Cursor and selection ---
  uint32_t Cursor() const { return cursor_; }
  // In the hex column, true once the first digit of the byte was typed.
  bool AtLowDigit() const { return lowDigit_; }
  HexPane Pane() const { return pane_; }
  void SetPane(HexPane pane);
  // Moves to address (clamped into the range); with extend the selection
  // runs from where it was anchored to the new place.
  void MoveTo(uint32_t address, bool extend = false);
  void Move(HexMove move, bool extend = false);
  void SelectAll();
  void ClearSelection() { anchor_.reset(); }
  // The selected bytes; with no selection, the byte at the cursor.
  ByteRange Selection() const;
  bool HasSelection() const { return anchor_.has_value(); }
  bool Selected(uint32_t address) const;

  // --- Edits (each is one step of the undo history) ---
  // A key typed at the cursor: a hex digit in the hex column, a printable
  // ASCII character in the text column. Anything else changes nothing.
  std::optional<AppliedEdit> Type(char32_t key);
  // Overwrites from address on with bytes, cut at the end of the range.
  std::optional<AppliedEdit> Overwrite(uint32_t address, std::span<const uint8_t> bytes);
  // Repeats pattern over range (cut to the editable range).
  std::optional<AppliedEdit> Fill(ByteRange range, std::span<const uint8_t> pattern);
  std::optional<AppliedEdit> Undo();
  std::optional<AppliedEdit> Redo();
  bool CanUndo() const { return done_ > 0; }
  bool CanRedo() const { return done_ < steps_.size(); }

  // --- Marks ---
  // The byte differs, by an edit, from the image as last saved or replaced.
  bool Edited(uint32_t address) const;
  // Bytes marked as edited.
  uint64_t EditedBytes() const;
  bool HasEdits() const { return marks_.CoveredBytes() > 0; }
  // The image was saved: its bytes are the saved ones now.
  void MarkSaved();
  // The image was replaced (a load, a chip read): history and marks go.
  void Forget();

 private:
  struct Step {
    uint32_t address = 0;
    std::vector<uint8_t> before;
    std::vector<uint8_t> pattern;  // repeated from address over before.size() bytes
  };

  std::optional<AppliedEdit> Apply(Step step);
  void Write(uint32_t address, std::size_t length, std::span<const uint8_t> pattern);
  void DropOldestSteps();
  static ByteRange RangeOf(const Step& step) {
    return {step.address, static_cast<uint32_t>(step.address + step.before.size() - 1)};
  }

  uint8_t* image_;
  ByteRange range_;
  bool hasRange_ = false;
  uint32_t pageRows_ = 16;
  uint32_t cursor_ = 0;
  bool lowDigit_ = false;
  HexPane pane_ = HexPane::Hex;
  std::optional<uint32_t> anchor_;

  std::vector<Step> steps_;
  std::size_t done_ = 0;  // steps_[0..done_) are applied
  std::size_t historyBytes_ = 0;
  // The image as saved is the state after steps_[0..savedAt_). The marks
  // count the ranges of the steps between that state and the image's
  // (steps_[savedAt_..done_) or steps_[done_..savedAt_)), and of steps that
  // left the history (a redo branch cut, the oldest dropped) while they
  // stood between the two: those differ from the saved image for good.
  std::size_t savedAt_ = 0;
  RangeCounts marks_;
  // The last step is a byte whose first hex digit was just typed: the
  // second digit completes it rather than making a step of its own.
  bool typingOpen_ = false;
};

}  // namespace velkor
