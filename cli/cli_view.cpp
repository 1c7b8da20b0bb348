#include "cli/cli_view.hpp"

namespace velkor::cli {

void CliView::ShowMessage(MessageKind kind, const std::string& text) {
  if (kind != MessageKind::Information) ++warnings;
  output_.Message(kind, text);
}

std::optional<std::string> CliView::NextAnswer() {
  if (fileAnswers.empty()) return std::nullopt;
  std::string answer = fileAnswers.front();
  fileAnswers.pop_front();
  return answer;
}

}  // namespace velkor::cli
