#include "sim/wire_schedule.hpp"

#include <algorithm>

namespace velkor::sim {

std::size_t WireSchedule::Allowance(Clock::time_point now, std::size_t pending) const {
  if (now < nextWrite_) return 0;
  std::size_t allowed = pending;
  if (options_.splitBytes > 0) allowed = std::min(allowed, options_.splitBytes);
  if (options_.paced) allowed = std::min(allowed, kPacedPiece);
  return allowed;
}

void WireSchedule::Wrote(std::size_t count, Clock::time_point now) {
  Clock::time_point next = now;
  if (options_.paced) next = std::max(nextWrite_, now - kPacingSlack) + kByteTime * static_cast<int64_t>(count);
  if (options_.splitBytes > 0) next = std::max(next, now + options_.splitDelay);
  nextWrite_ = next;
}

void WireSchedule::Received(std::size_t count, Clock::time_point now) {
  if (!options_.paced || count == 0) return;
  receivedUntil_ = std::max(receivedUntil_, now) + kByteTime * static_cast<int64_t>(count);
  nextWrite_ = std::max(nextWrite_, receivedUntil_);
}

void WireSchedule::ChipBusy(uint32_t blocks, Clock::time_point now) {
  if (blocks == 0 || options_.blockTime.count() == 0) return;
  nextWrite_ = std::max(nextWrite_, now) + options_.blockTime * static_cast<int64_t>(blocks);
}

}  // namespace velkor::sim
