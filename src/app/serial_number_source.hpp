// Where host-side serial numbers come from when the window's own edit box
// does not hand them out: a counter shared by several groups of programmers
// on one computer, a pool shared by the stations of a production line, a
// list file or a generator program (serial_list.hpp, serial_generator.hpp).
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velkor {

// How the chip that took a number ended.
enum class NumberEnd { Good, Failed, NotUsed };

// One chip's serial number: a four-byte number, written in the byte order
// the serial-number settings choose, or bytes written as they are (a MAC
// address, a generator's output). text names it in the log and the records.
struct SerialValue {
  std::optional<uint32_t> number;
  std::vector<uint8_t> bytes;
  std::string text;

  static SerialValue Number(uint32_t number);
  bool operator==(const SerialValue&) const = default;
};

// What the programmer asks of any source of serial numbers.
class SerialValueSource {
 public:
  virtual ~SerialValueSource() = default;
  // The value for the chip about to start on programmer channel, or
  // nothing, with error saying why (the run then stops).
  virtual std::optional<SerialValue> TakeValue(int channel, std::string& error) = 0;
  // The chip that took value has ended.
  virtual void DoneValue(int channel, const SerialValue& value, NumberEnd end) = 0;
};

// A source of four-byte numbers.
class SerialNumberSource : public SerialValueSource {
 public:
  std::optional<SerialValue> TakeValue(int channel, std::string& error) final;
  void DoneValue(int channel, const SerialValue& value, NumberEnd end) final;
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
