#include "app/serial_number_source.hpp"

#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

SerialValue SerialValue::Number(uint32_t number) {
  return SerialValue{number, {}, FormatText("0x%08X", number)};
}

std::optional<SerialValue> SerialNumberSource::TakeValue(int channel, std::string& error) {
  const std::optional<uint32_t> number = Take(channel, error);
  if (!number) return std::nullopt;
  return SerialValue::Number(*number);
}

void SerialNumberSource::DoneValue(int channel, const SerialValue& value, NumberEnd end) {
  if (value.number) Done(channel, *value.number, end);
}

std::optional<uint32_t> SharedCounter::Take(int, std::string& error) {
  if (!returned_.empty()) {
    const uint32_t number = *returned_.begin();
    returned_.erase(returned_.begin());
    return number;
  }
  if (next_ > 0xFFFFFFFFu) {
    error = Tx("The serial numbers are used up: the next one would not fit into the chip's four bytes.");
    return std::nullopt;
  }
  const auto number = static_cast<uint32_t>(next_);
  next_ += step_;
  return number;
}

void SharedCounter::Done(int, uint32_t number, NumberEnd end) {
  if (end != NumberEnd::Good) returned_.insert(number);
}

}  // namespace velkor
