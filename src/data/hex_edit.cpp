#include "data/hex_edit.hpp"

#include <algorithm>
#include <cstring>


namespace velkor {

namespace {

uint32_t Clamp(uint64_t address, ByteRange range) {
  return static_cast<uint32_t>(std::clamp<uint64_t>(address, range.first, range.last));
}

std::optional<uint8_t> HexDigitValue(char32_t key) {
  if (key >= '0' && key <= '9') return static_cast<uint8_t>(key - '0');
  if (key >= 'A' && key <= 'F') return static_cast<uint8_t>(key - 'A' + 10);
  if (key >= 'a' && key <= 'f') return static_cast<uint8_t>(key - 'a' + 10);
  return std::nullopt;
}

bool PrintableAscii(char32_t key) { return key >= 0x20 && key < 0x7F; }

}  // namespace

void HexEditor::SetRange(ByteRange range) {
  range_ = range;
  hasRange_ = true;
  cursor_ = Clamp(cursor_, range_);
  lowDigit_ = false;
  typingOpen_ = false;
  if (anchor_) anchor_ = Clamp(*anchor_, range_);
}

void HexEditor::SetPane(HexPane pane) {
  if (pane == pane_) return;  // a byte half typed stays half typed
  pane_ = pane;
  lowDigit_ = false;
  typingOpen_ = false;
}

void HexEditor::MoveTo(uint32_t address, bool extend) {
  if (extend && !anchor_) anchor_ = cursor_;
  if (!extend) anchor_.reset();
  cursor_ = Clamp(address, range_);
  lowDigit_ = false;
  typingOpen_ = false;
}

void HexEditor::Move(HexMove move, bool extend) {
  const int64_t here = cursor_;
  const int64_t page = int64_t{kRowBytes} * pageRows_;
  const int64_t rowStart = range_.first + (here - range_.first) / kRowBytes * kRowBytes;
  int64_t to = here;
  switch (move) {
    case HexMove::Left: to = here - 1; break;
    case HexMove::Right: to = here + 1; break;
    case HexMove::Up: to = here - kRowBytes; break;
    case HexMove::Down: to = here + kRowBytes; break;
    case HexMove::PageUp: to = here - page; break;
    case HexMove::PageDown: to = here + page; break;
    case HexMove::RowStart: to = rowStart; break;
    case HexMove::RowEnd: to = rowStart + kRowBytes - 1; break;
    case HexMove::RangeStart: to = range_.first; break;
    case HexMove::RangeEnd: to = range_.last; break;
  }
  // An arrow that would leave the range keeps the cursor's column where it
  // can: Up in the first row and Down in the last stay put.
  if ((move == HexMove::Up && to < int64_t{range_.first}) || (move == HexMove::Down && to > int64_t{range_.last}))
    to = here;
  MoveTo(static_cast<uint32_t>(std::clamp<int64_t>(to, range_.first, range_.last)), extend);
}

void HexEditor::SelectAll() {
  anchor_ = range_.first;
  cursor_ = range_.last;
  lowDigit_ = false;
  typingOpen_ = false;
}

ByteRange HexEditor::Selection() const {
  if (!anchor_) return {cursor_, cursor_};
  return {std::min(*anchor_, cursor_), std::max(*anchor_, cursor_)};
}

bool HexEditor::Selected(uint32_t address) const {
  if (!anchor_) return false;
  const ByteRange s = Selection();
  return address >= s.first && address <= s.last;
}

std::optional<AppliedEdit> HexEditor::Type(char32_t key) {
  if (!hasRange_) return std::nullopt;
  uint8_t value = 0;
  if (pane_ == HexPane::Hex) {
    const auto digit = HexDigitValue(key);
    if (!digit) return std::nullopt;
    const uint8_t now = image_[cursor_];
    value = lowDigit_ ? static_cast<uint8_t>((now & 0xF0) | *digit) : static_cast<uint8_t>(*digit << 4 | (now & 0x0F));
  } else {
    if (!PrintableAscii(key)) return std::nullopt;
    value = static_cast<uint8_t>(key);
  }
  anchor_.reset();
  const uint32_t at = cursor_;
  std::optional<AppliedEdit> applied;
  if (lowDigit_ && typingOpen_ && done_ == steps_.size() && done_ > 0 && steps_.back().address == at) {
    // The second digit completes the byte its first digit began.
    applied = AppliedEdit{at, {image_[at]}};
    steps_.back().pattern = {value};
    image_[at] = value;
  } else {
    applied = Apply(Step{at, {image_[at]}, {value}});
  }
  const bool byteDone = pane_ == HexPane::Text || lowDigit_;
  typingOpen_ = !byteDone;
  lowDigit_ = !byteDone;
  if (byteDone && cursor_ < range_.last) ++cursor_;
  return applied;
}

std::optional<AppliedEdit> HexEditor::Overwrite(uint32_t address, std::span<const uint8_t> bytes) {
  if (!hasRange_ || bytes.empty() || address < range_.first || address > range_.last) return std::nullopt;
  const std::size_t length = static_cast<std::size_t>(std::min<uint64_t>(bytes.size(), uint64_t{range_.last} - address + 1));
  return Fill({address, static_cast<uint32_t>(address + length - 1)}, bytes.first(length));
}

std::optional<AppliedEdit> HexEditor::Fill(ByteRange range, std::span<const uint8_t> pattern) {
  if (!hasRange_ || pattern.empty() || range.last < range.first) return std::nullopt;
  const uint32_t first = std::max(range.first, range_.first);
  const uint32_t last = std::min(range.last, range_.last);
  if (last < first) return std::nullopt;
  Step step{first, std::vector<uint8_t>(image_ + first, image_ + uint64_t{last} + 1), {}};
  // A pattern longer than the range writes only its beginning.
  step.pattern.assign(pattern.begin(), pattern.begin() + std::min<uint64_t>(pattern.size(), uint64_t{last} - first + 1));
  return Apply(std::move(step));
}

std::optional<AppliedEdit> HexEditor::Apply(Step step) {
  // A new step cuts the steps that were undone. If the saved image lay
  // among them, their marks stay: what they changed differs from it for
  // good.
  savedAt_ = std::min(savedAt_, done_);
  for (std::size_t i = done_; i < steps_.size(); ++i) historyBytes_ -= steps_[i].before.size() + steps_[i].pattern.size();
  steps_.resize(done_);

  AppliedEdit applied{step.address, step.before};
  Write(step.address, step.before.size(), step.pattern);
  historyBytes_ += step.before.size() + step.pattern.size();
  steps_.push_back(std::move(step));
  done_ = steps_.size();
  typingOpen_ = false;
  marks_.Add(applied.Range());
  DropOldestSteps();
  return applied;
}

void HexEditor::Write(uint32_t address, std::size_t length, std::span<const uint8_t> pattern) {
  uint8_t* to = image_ + address;
  const std::size_t first = std::min(length, pattern.size());
  std::memcpy(to, pattern.data(), first);
  // Each copy doubles the part already written, so a long fill takes a
  // few dozen memcpy calls, whatever the pattern.
  for (std::size_t done = first; done < length;) {
    const std::size_t n = std::min(done - done % pattern.size(), length - done);
    std::memcpy(to + done, to, n);
    done += n;
  }
}

void HexEditor::DropOldestSteps() {
  std::size_t drop = 0;
  while (historyBytes_ > kUndoHistoryBytes && drop + 1 < steps_.size()) {
    historyBytes_ -= steps_[drop].before.size() + steps_[drop].pattern.size();
    ++drop;
  }
  if (drop == 0) return;
  // Dropped steps that came after the saved image keep their marks.
  savedAt_ = savedAt_ > drop ? savedAt_ - drop : 0;
  steps_.erase(steps_.begin(), steps_.begin() + static_cast<std::ptrdiff_t>(drop));
  done_ -= drop;
}

std::optional<AppliedEdit> HexEditor::Undo() {
  if (done_ == 0) return std::nullopt;
  const Step& step = steps_[done_ - 1];
  AppliedEdit applied{step.address, std::vector<uint8_t>(image_ + step.address, image_ + step.address + step.before.size())};
  Write(step.address, step.before.size(), step.before);
  --done_;
  // The step leaves the edits since the save, or joins those undone past it.
  if (done_ >= savedAt_)
    marks_.Remove(RangeOf(step));
  else
    marks_.Add(RangeOf(step));
  MoveTo(step.address);
  return applied;
}

std::optional<AppliedEdit> HexEditor::Redo() {
  if (done_ == steps_.size()) return std::nullopt;
  const Step& step = steps_[done_];
  AppliedEdit applied{step.address, step.before};
  Write(step.address, step.before.size(), step.pattern);
  if (done_ >= savedAt_)
    marks_.Add(RangeOf(step));
  else
    marks_.Remove(RangeOf(step));
  ++done_;
  MoveTo(step.address);
  return applied;
}

bool HexEditor::Edited(uint32_t address) const { return marks_.Covered(address); }

uint64_t HexEditor::EditedBytes() const { return marks_.CoveredBytes(); }

void HexEditor::MarkSaved() {
  savedAt_ = done_;
  marks_.Clear();
}

void HexEditor::Forget() {
  steps_.clear();
  done_ = 0;
  savedAt_ = 0;
  historyBytes_ = 0;
  marks_.Clear();
  anchor_.reset();
  lowDigit_ = false;
  typingOpen_ = false;
}

}  // namespace velkor
