// An image report that shows nothing: the benchmarks time the image
// routines, not the log.
#pragma once

#include <cstdint>
#include <string>

#include "data/image_report.hpp"

namespace velkor::bench {

class SilentReport final : public ImageReport {
 public:
  void AppendInfo(const std::string&) override {}
  void AppendPlain(const std::string&) override {}
  void SetStatusPanel(int, const std::string&) override {}
  void ShowHexView(uint32_t, uint32_t) override {}
  void Warn(const std::string&) override {}
  void SetBusy(bool) override {}
};

}  // namespace velkor::bench
