// Where host-side serial numbers come from when the window's own edit box
// does not hand them out: a counter shared by several groups of programmers
// on one computer, or a pool shared by the stations of a production line.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace velkor {

// How the chip that took a number ended.
enum class NumberEnd { Good, Failed, NotUsed };

class SerialNumberSource {
 public:
  virtual ~SerialNumberSource() = default;
  // The number for the chip about to start on programmer channel, or
  // nothing, with error saying why.
  virtual std::optional<uint32_t> Take(int channel, std::string& error) = 0;
  // The chip that took number has ended.
  virtual void Done(int channel, uint32_t number, NumberEnd end) = 0;
};

// Numbers first, first + step, … up to 0xFFFFFFFF for every programmer of
// one run. A failed chip's number (or one taken and not used) goes to the
// next chip, as the window's own numbering does: the lowest such number is
// handed out before a fresh one.
class SharedCounter final : public SerialNumberSource {
 public:
  SharedCounter(uint32_t first, uint32_t step) : next_(first), step_(step == 0 ? 1 : step) {}
  std::optional<uint32_t> Take(int channel, std::string& error) override;
  void Done(int channel, uint32_t number, NumberEnd end) override;

 private:
  uint64_t next_;
  uint32_t step_;
  std::set<uint32_t> returned_;
};

}  // namespace velkor
