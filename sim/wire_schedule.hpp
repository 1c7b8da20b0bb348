// When the bytes a simulated programmer sends may go out: at once, or split
// into small writes with a pause between them, or at the pace of the real
// line (1,000,000 baud, 8 data bits and 2 stop bits: 11 us per byte), with
// the time the chip takes per 4 KB block on top. A plain function of the
// times it is given, so that the front end can poll with a deadline and
// never wait in a loop.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace velkor::sim {

struct LineOptions {
  std::size_t splitBytes = 0;  // 0: every write as large as the output allows
  std::chrono::microseconds splitDelay{1000};
  bool paced = false;
  std::chrono::microseconds blockTime{0};  // per 4 KB block the chip reads or programs
};

inline constexpr std::chrono::microseconds kByteTime{11};
// Paced output goes out in pieces of this many bytes (about 2.8 ms), each
// once its last byte would have arrived on the line: the host never sees a
// byte sooner than a real line would bring it. The line carries the bytes
// back to back from when they are ready, whatever the simulator's own
// wake-ups, so a late wake-up sends what has arrived meanwhile.
inline constexpr std::size_t kPacedPiece = 256;

class WireSchedule {
 public:
  using Clock = std::chrono::steady_clock;

  explicit WireSchedule(const LineOptions& options) : options_(options) {}

  // How many of the pending bytes may be written now; 0 until NextWrite.
  // Bytes registered with Queued count only once their chip time is over.
  // A paced line carries only bytes registered with Queued, each once it
  // has crossed the line.
  std::size_t Allowance(Clock::time_point now, std::size_t pending) const;
  // Records that count bytes were written at now.
  void Wrote(std::size_t count, Clock::time_point now);
  // Records that count bytes from the host were read at now. On a paced
  // line they take the line's time to arrive, and what answers them cannot
  // start before their last byte is in: the host's side of a transfer
  // costs what it would on the wire, although the pseudo-terminal hands
  // its bytes over at once.
  void Received(std::size_t count, Clock::time_point now);
  // Records count bytes of output, queued at now, that follow the chip's
  // work on blocks 4 KB blocks: they may go out once the chip is through
  // with them. The chip works on one block after the other, so the blocks of
  // a streamed read become ready one by one, each its own block time after
  // the one before, while the line sends those already read.
  void Queued(std::size_t count, uint32_t blocks, Clock::time_point now);
  // The earliest time anything pending may be written; on a paced line, when
  // the next piece will have crossed it.
  Clock::time_point NextWrite() const;

 private:
  struct Segment {
    std::size_t bytes;  // not yet written
    Clock::time_point readyAt;
  };
  // On a paced line: the bytes of the pending output that have crossed the
  // line by now, from when it is free (nextWrite_), and when the last of
  // the first limit of them arrives.
  struct Crossing {
    std::size_t bytes = 0;
    Clock::time_point lastArrival{};
  };
  Crossing Crossed(Clock::time_point now, std::size_t limit) const;

  LineOptions options_;
  // When output may go on: after the split delay, or on a paced line when
  // the line is free again (its last byte written has arrived, or the
  // request being answered is in).
  Clock::time_point nextWrite_{};
  Clock::time_point receivedUntil_{};  // when the last byte read would be in
  Clock::time_point chipFreeAt_{};     // when the chip is through with the blocks queued so far
  std::deque<Segment> segments_;       // the queued output, oldest first
};

}  // namespace velkor::sim
