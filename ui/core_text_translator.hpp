// Qt's translation system fed from the program's one text table: the
// window's own texts (tr) are translated like the core's, whatever class
// or context asks.
#pragma once

#include <QTranslator>

namespace velkor::ui {

class CoreTextTranslator final : public QTranslator {
 public:
  using QTranslator::QTranslator;
  QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                    int n = -1) const override;
  bool isEmpty() const override { return false; }
};

}  // namespace velkor::ui
