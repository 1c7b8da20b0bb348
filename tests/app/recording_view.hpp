// A view for tests: records what the logic shows and answers dialogs from a
// script.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/info_log.hpp"
#include "app/view.hpp"

namespace velkor::test {

class RecordingView : public ProgrammerView {
 public:
  struct Message {
    MessageKind kind;
    std::string text;
    std::size_t linesBefore = 0;  // how many log lines there were when it was shown
  };

  std::vector<Message> messages;
  std::vector<std::string> lines;
  std::vector<DialogId> shown;
  std::vector<DialogId> closed;
  std::vector<std::string> focus;
  std::string clipboard;
  bool mainWindowClosed = false;
  // The end sounds asked for, in order: true for a pass.
  std::vector<bool> sounds;
  std::vector<bool> busyChanges;
  int hexViewChanges = 0;
  std::vector<std::pair<uint32_t, uint32_t>> hexBytesChanged;
  // Answers of the file dialogs, taken in order; nothing left means cancel.
  std::deque<std::optional<std::string>> fileAnswers;
  // What each file dialog was asked with, in order.
  std::vector<FileDialogOptions> fileRequests;
  // The questions asked, and their answers (true: Yes) taken in order;
  // nothing left means No.
  std::vector<std::string> questions;
  std::deque<bool> questionAnswers;
  // Answers of the text and find dialogs, taken in order; nothing left
  // means cancel. The labels the text dialogs were asked with.
  std::deque<std::optional<std::string>> textAnswers;
  std::vector<std::string> textLabels;
  std::deque<std::optional<FindRequest>> findAnswers;
  // Answers of the secret (passphrase) dialogs, taken in order; nothing
  // left means cancel. The labels they were asked with.
  std::deque<std::optional<std::string>> secretAnswers;
  std::vector<std::string> secretLabels;
  std::string clipboardText;  // what a paste finds
  int marksChanges = 0;
  std::vector<uint32_t> shownAddresses;
  // What happens while a dialog is open (for example choosing a chip).
  std::map<DialogId, std::function<void()>> whileShown;

  void ControlsChanged() override {}
  void LogLineAppended(const std::string& line) override { lines.push_back(line); }
  void LogCleared() override { lines.clear(); }
  void ShowMessage(MessageKind kind, const std::string& text) override {
    messages.push_back({kind, text, lines.size()});
  }
  bool AskQuestion(const std::string& text) override {
    questions.push_back(text);
    if (questionAnswers.empty()) return false;
    const bool yes = questionAnswers.front();
    questionAnswers.pop_front();
    return yes;
  }
  std::optional<std::string> AskOpenFile(const FileDialogOptions& request) override {
    fileRequests.push_back(request);
    return NextAnswer();
  }
  std::optional<std::string> AskSaveFile(const FileDialogOptions& request) override {
    fileRequests.push_back(request);
    return NextAnswer();
  }
  void CopyToClipboard(const std::string& text) override { clipboard = text; }
  std::string ClipboardText() override { return clipboardText; }
  std::optional<std::string> AskText(const std::string&, const std::string& label, const std::string&) override {
    textLabels.push_back(label);
    return Next(textAnswers);
  }
  std::optional<FindRequest> AskFind(const FindRequest&) override { return Next(findAnswers); }
  std::optional<std::string> AskSecret(const std::string&, const std::string& label) override {
    secretLabels.push_back(label);
    return Next(secretAnswers);
  }
  void ImageMarksChanged() override { ++marksChanges; }
  void ShowImageAddress(uint32_t address) override { shownAddresses.push_back(address); }
  void ShowModal(DialogId dialog) override {
    shown.push_back(dialog);
    if (auto it = whileShown.find(dialog); it != whileShown.end()) it->second();
  }
  void CloseDialog(DialogId dialog) override { closed.push_back(dialog); }
  void FocusControl(const std::string& name) override { focus.push_back(name); }
  void SetBusy(bool busy) override { busyChanges.push_back(busy); }
  void HexViewChanged() override { ++hexViewChanges; }
  void HexBytesChanged(uint32_t first, uint32_t last) override { hexBytesChanged.push_back({first, last}); }
  void CloseMainWindow() override { mainWindowClosed = true; }
  void Signal(bool passed) override { sounds.push_back(passed); }

 private:
  template <typename T>
  static std::optional<T> Next(std::deque<std::optional<T>>& answers) {
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<std::string> NextAnswer() {
    if (fileAnswers.empty()) return std::nullopt;
    auto answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
  }
};

// A clock that always reads the same, so that log lines can be compared.
class FixedClock : public LogClock {
 public:
  FixedClock(std::string time, std::string date) : time_(std::move(time)), date_(std::move(date)) {}
  std::string LongTime() const override { return time_; }
  std::string ShortDate() const override { return date_; }

 private:
  std::string time_;
  std::string date_;
};

}  // namespace velkor::test
