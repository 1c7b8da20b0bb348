// Serial numbers from a generator program: run once for each chip with the
// chip's index, it prints the bytes to write as hexadecimal text.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "app/serial_list.hpp"
#include "app/serial_number_source.hpp"

namespace velkor {

// The most bytes a generator may give one chip.
inline constexpr std::size_t kMostGeneratedBytes = 16;

// A generator's output as bytes: hexadecimal digit pairs, which may be
// separated by blanks, ':' or '-', on one line; nothing, with error saying
// why, for anything else or more than kMostGeneratedBytes.
std::optional<std::vector<uint8_t>> ParseGeneratedBytes(std::string_view output, std::string& error);

class SerialGenerator final : public SerialValueSource {
 public:
  // Runs program INDEX (INDEX also in VELKOR_SN_INDEX) for each chip, INDEX
  // counting firstIndex, firstIndex + indexStep, …, and gives it limit to
  // answer.
  SerialGenerator(std::string program, std::chrono::milliseconds limit, FailedValuePolicy policy,
                  uint64_t firstIndex = 1, uint64_t indexStep = 1)
      : program_(std::move(program)),
        limit_(limit),
        policy_(policy),
        nextIndex_(firstIndex),
        indexStep_(indexStep == 0 ? 1 : indexStep) {}

  std::optional<SerialValue> TakeValue(int channel, std::string& error) override;
  void DoneValue(int channel, const SerialValue& value, NumberEnd end) override;

 private:
  std::string program_;
  std::chrono::milliseconds limit_;
  FailedValuePolicy policy_;
  uint64_t nextIndex_;
  uint64_t indexStep_;
  // Values given back, handed out again before the program is asked anew.
  std::set<std::vector<uint8_t>> returned_;
};

}  // namespace velkor
