// The window's view for the command line: log lines and message boxes go to
// the event output, file dialogs take the answers the command line gave,
// the chip menu chooses the chip named on it.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "app/quiet_view.hpp"
#include "cli/event_output.hpp"

namespace velkor::cli {

class CliView final : public QuietView {
 public:
  explicit CliView(EventOutput& output) : output_(output) {}

  // Answers of the file dialogs, in order; none left means cancel.
  std::deque<std::string> fileAnswers;
  // Runs while the chip selection is shown.
  std::function<void()> chooseChip;
  // Runs whenever the controls changed (the gauges moved).
  std::function<void()> controlsChanged;
  // Warning and error boxes shown so far.
  int warnings = 0;
  // Whether boxes and log lines reach the output (they are counted anyway).
  bool echo = true;

  void ControlsChanged() override {
    if (controlsChanged) controlsChanged();
  }
  void LogLineAppended(const std::string& line) override {
    if (echo) output_.LogLine(line);
  }
  void ShowMessage(MessageKind kind, const std::string& text) override;
  bool AskQuestion(const std::string& text) override;
  std::optional<std::string> AskOpenFile(const FileDialogOptions&) override { return NextAnswer(); }
  std::optional<std::string> AskSaveFile(const FileDialogOptions&) override { return NextAnswer(); }
  void ShowModal(DialogId dialog) override {
    if (dialog == DialogId::ChipSelection && chooseChip) chooseChip();
  }

 private:
  std::optional<std::string> NextAnswer();

  EventOutput& output_;
};

}  // namespace velkor::cli
