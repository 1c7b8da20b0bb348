// Receive reassembly: turns the byte blocks that the serial port delivers
// into frames and hands each complete frame to the channel's consumer.
#pragma once

#include <cstdint>

#include "link/link_channel.hpp"

namespace velkor {

// Receives the frames of a channel. Each call gets the frame in the
// channel's FrameBuffer and its length (in/out, as the decoder uses it) and
// answers whether it took the frame as a packet of the link: decoded, and
// with a correct check value where the packet carries one.
class FrameConsumer {
 public:
  virtual ~FrameConsumer() = default;
  // Frames of a channel whose programmer is not identified yet.
  virtual bool IdentifyReply(LinkChannel& channel, uint16_t& frameLength) = 0;
  // Frames of an identified channel.
  virtual bool DispatchReply(LinkChannel& channel, uint16_t& frameLength) = 0;
};

// Reload of the reply time-out whenever bytes arrive (10 ms ticks).
inline constexpr int32_t kReceiveTimeoutTicks = 200;

// One delivered block of bytes: appended to the receive buffer, every
// complete frame passed on in order (the Identified flag is tested per
// frame), the unfinished rest kept for the next block.
//
// Input that would overflow the receive buffer is discarded: the unconsumed
// bytes already held are dropped (no complete frame was found in them) and
// the new block is kept, so that the next good frame is still understood.
// A frame that is not taken gives its closing delimiter a second chance as
// the opening delimiter of the next frame, so that a stray delimiter in line
// noise, or a frame cut short, does not shift the framing for good.
void ReceiveData(LinkChannel& channel, const uint8_t* block, uint16_t count, FrameConsumer& consumer);

// A line error: the partly received frame is discarded. The operation under
// way goes on and its time-out keeps running, so it still ends.
void ReceiveError(LinkChannel& channel);

}  // namespace velkor
