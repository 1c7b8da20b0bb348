// Where two copies of a chip's data differ: the first differing address, how
// many bytes differ, and the first few differences with both bytes. Fed in
// pieces as a chip is read back, so that a 16 MiB chip is compared without a
// second image of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velkor {

struct ByteDifference {
  uint32_t address = 0;
  uint8_t expected = 0;
  uint8_t found = 0;
  bool operator==(const ByteDifference&) const = default;
};

// How many differences a report lists one by one; the count goes on.
inline constexpr std::size_t kListedDifferences = 8;

struct DifferenceReport {
  uint64_t compared = 0;  // bytes compared
  uint64_t count = 0;     // of them, bytes that differ
  // The lowest addresses first, at most kListedDifferences of them.
  std::vector<ByteDifference> listed;

  std::optional<uint32_t> FirstAddress() const {
    return listed.empty() ? std::nullopt : std::optional<uint32_t>(listed.front().address);
  }
};

// Compares found with expected, byte for byte, at address and on (the
// shorter span's length). Pieces may come in any order: the list holds the
// lowest differing addresses of all compared.
void CompareBytes(DifferenceReport& report, uint32_t address, std::span<const uint8_t> expected,
                  std::span<const uint8_t> found);
// The same against erased memory: every byte that is not 0xFF differs.
void CompareWithErased(DifferenceReport& report, uint32_t address, std::span<const uint8_t> found);

// "3 bytes differ, the first at 0x00001000" (or "no byte differs"), for the
// log and the message box.
std::string DifferenceSummary(const DifferenceReport& report);
// "0x00001000: expected 0x5A, found 0xFF", one listed difference.
std::string DifferenceLine(const ByteDifference& difference);

}  // namespace velkor
