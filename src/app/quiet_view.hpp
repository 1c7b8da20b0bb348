// A view that shows nothing and answers every dialog with "cancel" and every
// question with No: without a person to ask, nothing that needs consent (a
// firmware upgrade from the menu) is done. The base of the views without a
// screen (the command line, the headless conversion, the soak and fuzz
// programs), which override only what they show.
#pragma once

#include "app/view.hpp"

namespace velkor {

class QuietView : public ProgrammerView {
 public:
  void ControlsChanged() override {}
  void LogLineAppended(const std::string&) override {}
  void LogCleared() override {}
  void ShowMessage(MessageKind, const std::string&) override {}
  bool AskQuestion(const std::string&) override { return false; }
  std::optional<std::string> AskOpenFile(const FileDialogOptions&) override { return std::nullopt; }
  std::optional<std::string> AskSaveFile(const FileDialogOptions&) override { return std::nullopt; }
  void CopyToClipboard(const std::string&) override {}
  void ShowModal(DialogId) override {}
  void CloseDialog(DialogId) override {}
  void FocusControl(const std::string&) override {}
  void SetBusy(bool) override {}
  void HexViewChanged() override {}
  void HexBytesChanged(uint32_t, uint32_t) override {}
  void CloseMainWindow() override {}
  void Signal(bool) override {}
};

}  // namespace velkor
