// A chip chosen as the chip menu chooses it and an object file loaded as
// File › Load loads it, with no screen: where the headless conversion and
// velkor-cli compare start, so that both see exactly the image the window
// would program. The information log goes to one stream, the boxes the
// window would show to another.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "app/qn_programmer.hpp"
#include "app/quiet_view.hpp"
#include "chips/catalogue.hpp"
#include "data/object_file.hpp"
#include "platform/event_loop.hpp"

namespace velkor {

// A view without a screen: log lines to one stream, boxes to another, file
// dialogs answered in turn, the chip menu choosing one entry.
class ConsoleView final : public QuietView {
 public:
  ConsoleView(std::ostream& log, std::ostream& errors) : log_(log), errors_(errors) {}

  std::deque<std::string> fileAnswers;
  std::function<void()> chooseChip;
  int warningsAndErrors = 0;

  void LogLineAppended(const std::string& line) override { log_ << line << '\n'; }
  void ShowMessage(MessageKind kind, const std::string& text) override;
  std::optional<std::string> AskOpenFile(const FileDialogOptions&) override { return NextAnswer(); }
  std::optional<std::string> AskSaveFile(const FileDialogOptions&) override { return NextAnswer(); }
  void ShowModal(DialogId dialog) override;

 private:
  std::optional<std::string> NextAnswer();

  std::ostream& log_;
  std::ostream& errors_;
};

class HeadlessLoad {
 public:
  // Starts the window's logic and applies the chip entry.
  HeadlessLoad(const CatalogueEntry& chip, std::ostream& log, std::ostream& errors);
  HeadlessLoad(const HeadlessLoad&) = delete;
  HeadlessLoad& operator=(const HeadlessLoad&) = delete;

  // Loads source, named inputName in messages. True when the whole file was
  // taken and no box was raised, but for the one warning of data past the
  // chip's end when allowTruncate; otherwise the errors stream says why.
  bool Load(const std::string& source, const std::string& inputName, FormatChoice format, bool allowTruncate);
  // File › Save to path; false when a box said it failed.
  bool Save(const std::string& path);

  TQNProgrammer& Programmer() { return programmer_; }

 private:
  const CatalogueEntry& chip_;
  std::ostream& errors_;
  EventLoop loop_;
  ConsoleView view_;
  TQNProgrammer programmer_;
};

}  // namespace velkor
