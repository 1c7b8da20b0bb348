#include "sim/adapter_latency.hpp"

#include <algorithm>

namespace velkor::sim {

void AdapterBuffer::Arrived(std::size_t count, Clock::time_point now) {
  if (count == 0) return;
  if (held_ == 0) timerStart_ = now;
  held_ += count;
}

std::size_t AdapterBuffer::Releasable(Clock::time_point now) const {
  if (held_ == 0) return 0;
  if (now >= timerStart_ + options_.latency) return held_;
  const std::size_t packet = std::max<std::size_t>(options_.packetBytes, 1);
  return held_ / packet * packet;
}

void AdapterBuffer::Released(std::size_t count, Clock::time_point now) {
  held_ -= std::min(count, held_);
  // Sending a packet starts the timer again.
  if (count > 0) timerStart_ = now;
}

AdapterBuffer::Clock::time_point AdapterBuffer::NextRelease() const {
  if (held_ == 0) return Clock::time_point::max();
  const std::size_t packet = std::max<std::size_t>(options_.packetBytes, 1);
  if (held_ >= packet) return Clock::time_point::min();
  return timerStart_ + options_.latency;
}

}  // namespace velkor::sim
