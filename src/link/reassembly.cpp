#include "link/reassembly.hpp"

#include <cstring>

#include "link/frame.hpp"

namespace velkor {

namespace {

void AppendBlock(LinkChannel& channel, const uint8_t* block, uint16_t count) {
  constexpr std::size_t capacity = LinkChannel::kRxCapacity;
  if (count > capacity) {
    // Only the newest bytes can still hold the start of a good frame.
    channel.RxDiscardedBytes += channel.RxCount + (count - capacity);
    block += count - capacity;
    count = static_cast<uint16_t>(capacity);
    channel.RxCount = 0;
  } else if (channel.RxCount + count > capacity) {
    channel.RxDiscardedBytes += channel.RxCount;
    channel.RxCount = 0;
  }
  std::memcpy(channel.RxBuffer.data() + channel.RxCount, block, count);
  channel.RxCount = static_cast<uint16_t>(channel.RxCount + count);
}

}  // namespace

void ReceiveData(LinkChannel& channel, const uint8_t* block, uint16_t count, FrameConsumer& consumer) {
  channel.TimeoutTicks = kReceiveTimeoutTicks;
  AppendBlock(channel, block, count);

  uint16_t scan = 0;
  uint16_t restart = 0;
  for (;;) {
    restart = scan;
    uint16_t frameLength = 0;
    const ScanResult found = ExtractFrame(channel, scan, frameLength);
    if (found == ScanResult::NotFound) break;
    if (found == ScanResult::Overlong) {
      ++channel.OverlongFrames;
      continue;
    }
    const uint16_t extracted = frameLength;
    const bool packet = channel.Identified ? consumer.DispatchReply(channel, frameLength)
                                           : consumer.IdentifyReply(channel, frameLength);
    if (!packet && extracted >= 2) --scan;
    if (scan > channel.RxCount) break;  // a handler reset the channel
  }

  if (restart < channel.RxCount) {
    const uint16_t rest = static_cast<uint16_t>(channel.RxCount - restart);
    std::memmove(channel.RxBuffer.data(), channel.RxBuffer.data() + restart, rest);
    channel.RxCount = rest;
  } else {
    channel.RxCount = 0;
  }
}

void ReceiveError(LinkChannel& channel) {
  // The operation under way stays busy: its reply may still come, and if it
  // does not, the time-out ends it.
  channel.RxCount = 0;
}

}  // namespace velkor
