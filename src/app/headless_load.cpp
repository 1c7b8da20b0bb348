#include "app/headless_load.hpp"

#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

void ConsoleView::ShowMessage(MessageKind kind, const std::string& text) {
  if (kind != MessageKind::Information) ++warningsAndErrors;
  errors_ << text << '\n';
}

void ConsoleView::ShowModal(DialogId dialog) {
  if (dialog == DialogId::ChipSelection && chooseChip) chooseChip();
}

std::optional<std::string> ConsoleView::NextAnswer() {
  if (fileAnswers.empty()) return std::nullopt;
  std::string answer = fileAnswers.front();
  fileAnswers.pop_front();
  return answer;
}

HeadlessLoad::HeadlessLoad(const CatalogueEntry& chip, std::ostream& log, std::ostream& errors)
    : chip_(chip), errors_(errors), view_(log, errors), programmer_(loop_, view_) {
  programmer_.StartupReset();
  view_.chooseChip = [this] {
    programmer_.ChipSelectionFormShow();
    programmer_.ChooseChip(chip_);
  };
  programmer_.RunCommand([this] { programmer_.DevButtonClick(); });
}

bool HeadlessLoad::Load(const std::string& source, const std::string& inputName, FormatChoice format,
                        bool allowTruncate) {
  view_.fileAnswers = {source};
  programmer_.LoadFormat = format;
  const int before = view_.warningsAndErrors;
  programmer_.RunCommand([this] { programmer_.FileOpenBtnClick(); });
  const bool truncated = DataBeyondChip(programmer_.Image, programmer_.Chip, source, chip_.caption).has_value();
  // The one warning a truncation raises is allowed when asked for.
  const int tolerated = truncated && allowTruncate ? 1 : 0;
  if (view_.warningsAndErrors - before > tolerated) return false;
  if (programmer_.LastLoad.code != kRecordAccepted) {
    const char* stop = programmer_.LastLoadFormat == ObjectFormat::Binary
                           ? Tx("%s: loading stopped at offset %llu: %s (code %d).")
                           : Tx("%s: loading stopped at line %llu: %s (code %d).");
    errors_ << FormatText(stop, inputName.c_str(), static_cast<unsigned long long>(programmer_.LastLoad.position),
                          RecordCodeMessage(programmer_.LastLoad.code), int{programmer_.LastLoad.code})
            << "\n";
    return false;
  }
  return true;
}

bool HeadlessLoad::Save(const std::string& path) {
  view_.fileAnswers = {path};
  const int before = view_.warningsAndErrors;
  programmer_.RunCommand([this] { programmer_.FileSaveBtnClick(); });
  return view_.warningsAndErrors == before;
}

}  // namespace velkor
