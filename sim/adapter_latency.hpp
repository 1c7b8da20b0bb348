// The USB serial adapter between the programmer's line and the host. The
// adapter collects what the line delivers into USB packets: a full packet
// goes to the host at once, a partial one only when the adapter's latency
// timer runs out (FTDI adapters: 16 ms unless lowered). So a short reply
// costs the timer's time, however fast the line.
//
// The model is the pessimistic one: the timer starts when the first byte
// of a partial packet arrives, and again after every packet sent. A real
// adapter's timer runs freely, so a short reply there waits anything from
// nothing to the timer's full time.
#pragma once

#include <chrono>
#include <cstddef>

namespace velkor::sim {

struct AdapterOptions {
  std::chrono::milliseconds latency{0};  // 0: no adapter in the way
  std::size_t packetBytes = 62;          // FT232R: 64-byte packets, 2 of them status
};

class AdapterBuffer {
 public:
  using Clock = std::chrono::steady_clock;

  explicit AdapterBuffer(const AdapterOptions& options) : options_(options) {}

  bool Active() const { return options_.latency.count() > 0; }
  // Bytes the line delivered that the host has not been given yet.
  std::size_t Held() const { return held_; }

  // count bytes arrived from the line at now.
  void Arrived(std::size_t count, Clock::time_point now);
  // How many of the held bytes may go to the host now: the full packets,
  // and the partial one once the timer has run out.
  std::size_t Releasable(Clock::time_point now) const;
  // count bytes went to the host at now.
  void Released(std::size_t count, Clock::time_point now);
  // When the held bytes go at the latest; Clock::time_point::max() when
  // none are held.
  Clock::time_point NextRelease() const;

 private:
  AdapterOptions options_;
  std::size_t held_ = 0;
  Clock::time_point timerStart_{};
};

}  // namespace velkor::sim
