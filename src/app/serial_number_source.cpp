#include "app/serial_number_source.hpp"

#include "text/text_table.hpp"

namespace velkor {

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
