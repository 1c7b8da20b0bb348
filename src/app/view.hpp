// Everything the main window's logic asks of a person or a screen. The Qt
// window implements it; tests use a recording view that answers dialogs from
// a script.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "data/byte_search.hpp"

namespace velkor {

enum class MessageKind { Warning, Error, Information };

// What a file dialog is for: the window opens each kind where the last one
// of its kind was answered.
enum class FileDialogPurpose { Other, ObjectLoad, ObjectSave, Project, LogSave, LogFile };

struct FileDialogOptions {
  std::string filter;  // "Description|*.ext;*.ext2|Description|*.x"
  int filterIndex = 1;  // 1-based, as the filter lists them
  std::string defaultExtension;
  FileDialogPurpose purpose = FileDialogPurpose::Other;
};

// What the find dialog asks for.
struct FindRequest {
  std::string text;
  bool hexBytes = true;  // hex bytes, or the text's own characters
  SearchDirection direction = SearchDirection::Forward;
  bool wrap = true;
};

enum class DialogId { ChipSelection, LogConfig, ConfigSN, DataView, About };

class ProgrammerView {
 public:
  virtual ~ProgrammerView() = default;

  // Some control state changed: show it again.
  virtual void ControlsChanged() = 0;
  // A line was appended to the information log, or the log was emptied.
  virtual void LogLineAppended(const std::string& line) = 0;
  virtual void LogCleared() = 0;

  // A modal message box with one OK button (and a beep); returns when closed.
  virtual void ShowMessage(MessageKind kind, const std::string& text) = 0;
  // A modal question with Yes and No; true for Yes. Asked before a step
  // that cannot be taken back (a firmware upgrade).
  virtual bool AskQuestion(const std::string& text) = 0;
  // File dialogs; nothing when cancelled.
  virtual std::optional<std::string> AskOpenFile(const FileDialogOptions& spec) = 0;
  virtual std::optional<std::string> AskSaveFile(const FileDialogOptions& spec) = 0;
  virtual void CopyToClipboard(const std::string& text) = 0;
  // The clipboard's text (empty when it holds none).
  virtual std::string ClipboardText() { return {}; }
  // A line of text asked for with a title and a label, starting as initial;
  // nothing when cancelled.
  virtual std::optional<std::string> AskText(const std::string& /*title*/, const std::string& /*label*/,
                                             const std::string& /*initial*/) {
    return std::nullopt;
  }
  // A secret (a passphrase) asked for with a title and a label, its
  // characters hidden as they are typed; nothing when cancelled.
  virtual std::optional<std::string> AskSecret(const std::string& /*title*/, const std::string& /*label*/) {
    return std::nullopt;
  }
  // The find dialog, filled with the last request; nothing when cancelled.
  virtual std::optional<FindRequest> AskFind(const FindRequest& /*last*/) { return std::nullopt; }

  // Shows a dialog modally; returns when it closes.
  virtual void ShowModal(DialogId dialog) = 0;
  // Closes a dialog shown with ShowModal.
  virtual void CloseDialog(DialogId dialog) = 0;
  virtual void FocusControl(const std::string& name) = 0;
  // The hourglass cursor while a long step runs.
  virtual void SetBusy(bool busy) = 0;
  // The data page's hex grid now shows another range (HexViewFirst/Last of
  // the logic), or some of its bytes changed.
  virtual void HexViewChanged() = 0;
  virtual void HexBytesChanged(uint32_t first, uint32_t last) = 0;
  // The data page comes to the front with the grid at this address of the
  // image (a view without one ignores it).
  virtual void ShowImageAddress(uint32_t /*address*/) {}
  // The hex views' cursor, selection, marks or comparison changed: draw
  // them again (the bytes themselves come with HexBytesChanged).
  virtual void ImageMarksChanged() {}
  // Ends the program's window.
  virtual void CloseMainWindow() = 0;
  // The sound of an operation's end, when the operator asked for one: one
  // short beep when it passed, a pattern of beeps when it failed.
  virtual void Signal(bool passed) = 0;
};

}  // namespace velkor
