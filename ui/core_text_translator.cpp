#include "core_text_translator.hpp"

#include <string_view>

#include "text/text_table.hpp"

namespace velkor::ui {

QString CoreTextTranslator::translate(const char* /*context*/, const char* sourceText, const char* /*disambiguation*/,
                                      int /*n*/) const {
  if (sourceText == nullptr) return {};
  const std::string_view original(sourceText);
  const std::string_view shown = Tx(original);
  // An empty answer tells Qt to show the source text itself.
  if (shown.data() == original.data()) return {};
  return QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
}

}  // namespace velkor::ui
