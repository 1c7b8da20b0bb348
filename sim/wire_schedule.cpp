#include "sim/wire_schedule.hpp"

#include <algorithm>

namespace velkor::sim {

WireSchedule::Crossing WireSchedule::Crossed(Clock::time_point now, std::size_t limit) const {
  Crossing c;
  c.lastArrival = nextWrite_;
  Clock::time_point lineFree = nextWrite_;
  const auto take = [&](std::size_t bytes, Clock::time_point readyAt) {
    const Clock::time_point start = std::max(lineFree, readyAt);
    if (now < start) return false;
    const auto arrived = static_cast<std::size_t>((now - start) / kByteTime);
    const std::size_t n = std::min({bytes, arrived, limit - c.bytes});
    c.bytes += n;
    lineFree = start + kByteTime * static_cast<int64_t>(n);
    if (n > 0) c.lastArrival = lineFree;
    return n == bytes;
  };
  for (const Segment& s : segments_)
    if (!take(s.bytes, s.readyAt) || c.bytes == limit) break;
  return c;
}

std::size_t WireSchedule::Allowance(Clock::time_point now, std::size_t pending) const {
  if (now < nextWrite_) return 0;
  if (options_.paced) {
    std::size_t allowed = Crossed(now, std::min(pending, kPacedPiece)).bytes;
    if (options_.splitBytes > 0) allowed = std::min(allowed, options_.splitBytes);
    return allowed;
  }
  // Only what the chip is through with: the segments ready by now.
  std::size_t ready = 0;
  for (const Segment& s : segments_) {
    if (s.readyAt > now) break;
    ready += s.bytes;
  }
  std::size_t allowed = segments_.empty() ? pending : std::min(pending, ready);
  if (options_.splitBytes > 0) allowed = std::min(allowed, options_.splitBytes);
  return allowed;
}

void WireSchedule::Wrote(std::size_t count, Clock::time_point now) {
  // The line's own time goes on from where the written bytes arrived, not
  // from when the simulator woke up to write them.
  const Clock::time_point lineFree = options_.paced ? Crossed(now, count).lastArrival : now;
  for (std::size_t left = count; left > 0 && !segments_.empty();) {
    Segment& front = segments_.front();
    const std::size_t taken = std::min(left, front.bytes);
    front.bytes -= taken;
    left -= taken;
    if (front.bytes == 0) segments_.pop_front();
  }
  Clock::time_point next = lineFree;
  if (options_.splitBytes > 0) next = std::max(next, now + options_.splitDelay);
  nextWrite_ = next;
}

void WireSchedule::Received(std::size_t count, Clock::time_point now) {
  if (!options_.paced || count == 0) return;
  receivedUntil_ = std::max(receivedUntil_, now) + kByteTime * static_cast<int64_t>(count);
  nextWrite_ = std::max(nextWrite_, receivedUntil_);
}

void WireSchedule::Queued(std::size_t count, uint32_t blocks, Clock::time_point now) {
  Clock::time_point readyAt = now;
  if (blocks > 0 && options_.blockTime.count() > 0) {
    chipFreeAt_ = std::max(chipFreeAt_, now) + options_.blockTime * static_cast<int64_t>(blocks);
    readyAt = chipFreeAt_;
  }
  // Output never overtakes output queued before it.
  if (!segments_.empty()) readyAt = std::max(readyAt, segments_.back().readyAt);
  if (count > 0) segments_.push_back({count, readyAt});
}

WireSchedule::Clock::time_point WireSchedule::NextWrite() const {
  if (segments_.empty()) return nextWrite_;
  const Segment& front = segments_.front();
  const Clock::time_point start = std::max(nextWrite_, front.readyAt);
  if (!options_.paced) return start;
  return start + kByteTime * static_cast<int64_t>(std::min(front.bytes, kPacedPiece));
}

}  // namespace velkor::sim
