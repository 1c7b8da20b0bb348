#include "app/convert.hpp"

#include <deque>

#include "app/qn_programmer.hpp"
#include "app/quiet_view.hpp"
#include "platform/event_loop.hpp"

namespace velkor {

namespace {

// A view without a screen: log lines to one stream, boxes to another, file
// dialogs answered in turn, the chip menu choosing one entry.
class ConsoleView final : public QuietView {
 public:
  ConsoleView(std::ostream& log, std::ostream& errors) : log_(log), errors_(errors) {}

  std::deque<std::string> fileAnswers;
  std::function<void()> chooseChip;
  int warningsAndErrors = 0;

  void LogLineAppended(const std::string& line) override { log_ << line << '\n'; }
  void ShowMessage(MessageKind kind, const std::string& text) override {
    if (kind != MessageKind::Information) ++warningsAndErrors;
    errors_ << text << '\n';
  }
  std::optional<std::string> AskOpenFile(const FileDialogOptions&) override { return NextAnswer(); }
  std::optional<std::string> AskSaveFile(const FileDialogOptions&) override { return NextAnswer(); }
  void ShowModal(DialogId dialog) override {
    if (dialog == DialogId::ChipSelection && chooseChip) chooseChip();
  }

 private:
  std::optional<std::string> NextAnswer() {
    if (fileAnswers.empty()) return std::nullopt;
    std::string answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
  }

  std::ostream& log_;
  std::ostream& errors_;
};

}  // namespace

int ConvertObjectFile(const std::string& input, const std::string& output, const std::string& chipCaption,
                      std::ostream& log, std::ostream& errors, const ConvertOptions& options) {
  const CatalogueEntry* entry = FindChip(chipCaption);
  if (!entry || entry->hidden) {
    errors << "No chip \"" << chipCaption << "\" in the selection menu (velkor350qn --list-chips lists them).\n";
    return kConvertUnknownChip;
  }
  EventLoop loop;
  ConsoleView view(log, errors);
  TQNProgrammer programmer(loop, view);
  programmer.StartupReset();

  view.chooseChip = [&] {
    programmer.ChipSelectionFormShow();
    programmer.ChooseChip(*entry);
  };
  programmer.RunCommand([&] { programmer.DevButtonClick(); });

  view.fileAnswers = {input};
  programmer.LoadFormat = options.format;
  const int before = view.warningsAndErrors;
  programmer.RunCommand([&] { programmer.FileOpenBtnClick(); });
  const bool truncated = DataBeyondChip(programmer.Image, programmer.Chip, input, entry->caption).has_value();
  // The one warning a truncation raises is allowed when asked for.
  const int tolerated = truncated && options.allowTruncate ? 1 : 0;
  if (view.warningsAndErrors - before > tolerated) return kConvertLoadFailed;
  if (programmer.LastLoad.code != kRecordAccepted) {
    errors << input << ": loading stopped at " << (programmer.LastLoadFormat == ObjectFormat::Binary ? "offset " : "line ")
           << programmer.LastLoad.position << ": " << RecordCodeMessage(programmer.LastLoad.code) << " (code "
           << int{programmer.LastLoad.code} << ").\n";
    return kConvertLoadFailed;
  }

  view.fileAnswers = {output};
  const int afterLoad = view.warningsAndErrors;
  programmer.RunCommand([&] { programmer.FileSaveBtnClick(); });
  if (view.warningsAndErrors != afterLoad) return kConvertSaveFailed;
  return kConvertOk;
}

}  // namespace velkor
