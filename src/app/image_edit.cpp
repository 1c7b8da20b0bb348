// Editing the image in the hex views: the commands the views send, each
// refused while a programmer works (its job is built from the image), and
// what follows every edit: the checksums, the grid's rows, the status bar.
#include "app/integer_text.hpp"
#include "app/qn_programmer.hpp"
#include "data/checksum_follow.hpp"
#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr const char* kEditingAction = TextKey("editing the image");
constexpr const char* kFilledLine = TextKey("Filled 0x%08X-0x%08X with %s.");
constexpr const char* kPastedLine = TextKey("Pasted %u bytes at 0x%08X.");
constexpr const char* kNotHexBytes = TextKey("Not hex bytes: %s.");
constexpr const char* kNotFoundLine = TextKey("%s not found.");
constexpr const char* kFoundLine = TextKey("%s found at 0x%08X.");
constexpr const char* kEditedStatus = TextKey("Edited: %llu bytes");
constexpr const char* kFillTitle = TextKey("Fill Selection");
constexpr const char* kFillLabel = TextKey("Fill 0x%08X-0x%08X with the hex bytes (repeated):");
constexpr const char* kGoToTitle = TextKey("Go to Address");
constexpr const char* kGoToLabel = TextKey("Address (0x%08X-0x%08X), decimal or hex after 0x:");

}  // namespace

bool TQNProgrammer::EditRefused() {
  if (!ChipConfirmed || !Editor.HasRange()) return true;
  return RefusedJobChange(Tx(kEditingAction));
}

void TQNProgrammer::ImageEdited(const std::optional<AppliedEdit>& edit) {
  if (!edit) return;
  FollowEditInChecksums(Image, *edit, *this);
  FileLoaded = true;
  const ByteRange range = edit->Range();
  FollowEditInComparison(*edit);
  view_.HexBytesChanged(range.first, range.last);
  ShowEditStatus();
}

void TQNProgrammer::ShowEditStatus() {
  std::string text;
  if (Editor.HasEdits())
    text = FormatText(Tx(kEditedStatus), static_cast<unsigned long long>(Editor.EditedBytes()));
  const std::string differences = ComparisonStatus();
  if (!differences.empty()) text += (text.empty() ? "" : " · ") + differences;
  Controls.StatusPanel4.Caption = text;
}

void TQNProgrammer::ImageReplaced() {
  Editor.Forget();
  const uint32_t last = std::min<uint32_t>(Image.ChipEnd, kImageCapacity - 1);
  if (Image.ChipStart <= last) Editor.SetRange({Image.ChipStart, last});
  // The other side of a comparison stays; the image's side is new.
  if (Comparison && comparedImage_ && ChipConfirmed) {
    CompareWith(*comparedImage_, ComparedWith);
    return;
  }
  ShowEditStatus();
}

void TQNProgrammer::TypeIntoImage(char32_t key) {
  if (EditRefused()) return;
  ImageEdited(Editor.Type(key));
}

void TQNProgrammer::UndoImageEdit() {
  if (EditRefused()) return;
  ImageEdited(Editor.Undo());
}

void TQNProgrammer::RedoImageEdit() {
  if (EditRefused()) return;
  ImageEdited(Editor.Redo());
}

void TQNProgrammer::FillSelection(const std::string& hexText) {
  if (EditRefused()) return;
  std::string error;
  const auto pattern = ParseHexBytes(hexText, error);
  if (!pattern) {
    Warn(FormatText(Tx(kNotHexBytes), error.c_str()));
    return;
  }
  const auto edit = Editor.Fill(Editor.Selection(), *pattern);
  if (!edit) return;
  const ByteRange range = edit->Range();
  AppendInfo(FormatText(Tx(kFilledLine), range.first, range.last, HexBytesText(*pattern).c_str()));
  ImageEdited(edit);
}

void TQNProgrammer::PasteIntoImage(const std::string& text) {
  if (EditRefused()) return;
  std::vector<uint8_t> bytes;
  if (Editor.Pane() == HexPane::Hex) {
    std::string error;
    const auto parsed = ParseHexBytes(text, error);
    if (!parsed) {
      Warn(FormatText(Tx(kNotHexBytes), error.c_str()));
      return;
    }
    bytes = *parsed;
  } else {
    bytes.assign(text.begin(), text.end());
  }
  const auto edit = Editor.Overwrite(Editor.Cursor(), bytes);
  if (!edit) return;
  AppendInfo(FormatText(Tx(kPastedLine), static_cast<unsigned>(edit->before.size()), edit->address));
  ImageEdited(edit);
}

std::string TQNProgrammer::SelectionAsText() const {
  if (!Editor.HasRange()) return {};
  const ByteRange s = Editor.Selection();
  return HexBytesText({Image.Data.get() + s.first, static_cast<std::size_t>(s.Length())});
}

void TQNProgrammer::GoToImageAddress(const std::string& text) {
  if (!Editor.HasRange()) return;
  const uint32_t address = static_cast<uint32_t>(StrToInt(text));
  Editor.MoveTo(address);
  view_.ShowImageAddress(Editor.Cursor());
}

bool TQNProgrammer::FindInImage(const FindRequest& request) {
  if (!Editor.HasRange()) return false;
  std::vector<uint8_t> pattern;
  std::string shown;
  if (request.hexBytes) {
    std::string error;
    const auto parsed = ParseHexBytes(request.text, error);
    if (!parsed) {
      Warn(FormatText(Tx(kNotHexBytes), error.c_str()));
      return false;
    }
    pattern = *parsed;
    shown = HexBytesText(pattern);
  } else {
    if (request.text.empty()) return false;
    pattern.assign(request.text.begin(), request.text.end());
    shown = "\"" + request.text + "\"";
  }
  LastFind = request;
  // From the byte after the cursor, or before it, so that find again moves
  // on from the match it selected.
  const ByteRange range = Editor.Range();
  const uint32_t here = Editor.Selection().first;
  const bool forward = request.direction == SearchDirection::Forward;
  std::optional<uint32_t> found;
  if (forward ? here < range.last : here > range.first)
    found = FindBytes(Image.Data.get(), range, pattern, forward ? here + 1 : here - 1, request.direction, request.wrap);
  else if (request.wrap)
    found = FindBytes(Image.Data.get(), range, pattern, forward ? range.first : range.last, request.direction, false);
  if (!found) {
    AppendInfo(FormatText(Tx(kNotFoundLine), shown.c_str()));
    return false;
  }
  Editor.MoveTo(*found);
  Editor.MoveTo(static_cast<uint32_t>(*found + pattern.size() - 1), true);
  AppendInfo(FormatText(Tx(kFoundLine), shown.c_str(), *found));
  view_.ShowImageAddress(*found);
  return true;
}

void TQNProgrammer::CopyBytes1Click() {
  if (Editor.HasRange()) view_.CopyToClipboard(SelectionAsText());
}

void TQNProgrammer::PasteBytes1Click() { PasteIntoImage(view_.ClipboardText()); }

void TQNProgrammer::SelectAllBytes1Click() {
  if (!Editor.HasRange()) return;
  Editor.SelectAll();
  view_.ImageMarksChanged();
}

void TQNProgrammer::FillSelection1Click() {
  if (EditRefused()) return;
  const ByteRange s = Editor.Selection();
  const auto text = view_.AskText(Tx(kFillTitle), FormatText(Tx(kFillLabel), s.first, s.last), "FF");
  if (text) FillSelection(*text);
}

void TQNProgrammer::GoToAddress1Click() {
  if (!Editor.HasRange()) return;
  const ByteRange r = Editor.Range();
  const auto text = view_.AskText(Tx(kGoToTitle), FormatText(Tx(kGoToLabel), r.first, r.last),
                                  FormatText("0x%08X", Editor.Cursor()));
  if (text) GoToImageAddress(*text);
}

void TQNProgrammer::Find1Click() {
  if (!Editor.HasRange()) return;
  const auto request = view_.AskFind(LastFind.value_or(FindRequest{}));
  if (request) FindInImage(*request);
}

bool TQNProgrammer::FindAgain(SearchDirection direction) {
  if (!LastFind) return false;
  FindRequest request = *LastFind;
  request.direction = direction;
  return FindInImage(request);
}

}  // namespace velkor
