#include "data/image_difference.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "data/differing_slices.hpp"
#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

template <typename ExpectedAt>
void Walk(DifferenceReport& report, uint32_t address, std::span<const uint8_t> found, ExpectedAt expectedAt) {
  for (std::size_t i = 0; i < found.size(); ++i) {
    const uint8_t expected = expectedAt(i);
    if (found[i] == expected) continue;
    ++report.count;
    // The list keeps the lowest addresses, whatever order pieces come in
    // (a DataFlash block brings main and spare bytes of far-apart places).
    const ByteDifference difference{static_cast<uint32_t>(address + i), expected, found[i]};
    auto& listed = report.listed;
    if (listed.size() == kListedDifferences && difference.address > listed.back().address) continue;
    listed.insert(std::upper_bound(listed.begin(), listed.end(), difference,
                                   [](const ByteDifference& a, const ByteDifference& b) { return a.address < b.address; }),
                  difference);
    if (listed.size() > kListedDifferences) listed.pop_back();
  }
}

}  // namespace

void CompareBytes(DifferenceReport& report, uint32_t address, std::span<const uint8_t> expected,
                  std::span<const uint8_t> found) {
  const std::size_t length = std::min(expected.size(), found.size());
  ForEachDifferingSlice(expected.data(), found.data(), length, [&](std::size_t at, std::size_t n) {
    Walk(report, static_cast<uint32_t>(address + at), found.subspan(at, n),
         [&](std::size_t i) { return expected[at + i]; });
  });
  report.compared += length;
}

void CompareWithErased(DifferenceReport& report, uint32_t address, std::span<const uint8_t> found) {
  static const std::array<uint8_t, kCompareSlice> kErased = [] {
    std::array<uint8_t, kCompareSlice> erased;
    erased.fill(0xFF);
    return erased;
  }();
  for (std::size_t at = 0; at < found.size(); at += kCompareSlice) {
    const std::size_t n = std::min(kCompareSlice, found.size() - at);
    if (std::memcmp(kErased.data(), found.data() + at, n) == 0) continue;
    Walk(report, static_cast<uint32_t>(address + at), found.subspan(at, n), [](std::size_t) { return uint8_t{0xFF}; });
  }
  report.compared += found.size();
}

std::string DifferenceSummary(const DifferenceReport& report) {
  if (report.count == 0) return Tx("no byte differs");
  const uint32_t first = *report.FirstAddress();
  if (report.count == 1) return FormatText(Tx("1 byte differs, at 0x%08X"), first);
  return FormatText(Tx("%llu bytes differ, the first at 0x%08X"), static_cast<unsigned long long>(report.count), first);
}

std::string DifferenceLine(const ByteDifference& difference) {
  return FormatText(Tx("0x%08X: expected 0x%02X, found 0x%02X"), difference.address, unsigned{difference.expected},
                    unsigned{difference.found});
}

}  // namespace velkor
