// An image report that only counts what it is told, so that the loaders'
// report paths (log lines, warnings, the hex view) run without a window.
#pragma once

#include <string>

#include "data/image_report.hpp"

namespace velkor::fuzz {

class CountingReport : public ImageReport {
 public:
  void AppendInfo(const std::string& text) override { characters += text.size(); }
  void AppendPlain(const std::string& text) override { characters += text.size(); }
  void SetStatusPanel(int, const std::string& text) override { characters += text.size(); }
  void ShowHexView(uint32_t, uint32_t) override {}
  void Warn(const std::string& text) override {
    ++warnings;
    characters += text.size();
  }
  void SetBusy(bool) override {}

  std::size_t characters = 0;
  std::size_t warnings = 0;
};

}  // namespace velkor::fuzz
