#include "cli/cli_view.hpp"
#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor::cli {

void CliView::ShowMessage(MessageKind kind, const std::string& text) {
  if (kind != MessageKind::Information) ++warnings;
  if (echo) output_.Message(kind, text);
}

bool CliView::AskQuestion(const std::string& text) {
  // The subcommand says all that is done: a step that would need a Yes is
  // left undone, and a warning says which.
  ShowMessage(MessageKind::Warning,
              FormatText(Tx("Not done, as nobody answers on the command line: %s"), text.c_str()));
  return false;
}

std::optional<std::string> CliView::NextAnswer() {
  if (fileAnswers.empty()) return std::nullopt;
  std::string answer = fileAnswers.front();
  fileAnswers.pop_front();
  return answer;
}

}  // namespace velkor::cli
