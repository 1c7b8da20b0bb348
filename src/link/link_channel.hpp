// The state of one programmer channel. Exactly two exist, one per
// programmer; nothing in them is allocated per packet.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace velkor {

class TComm;

// How the frame scanner treats two or more delimiters in a row.
enum class DelimiterRun : uint8_t {
  // The last delimiter of a run opens the frame that follows.
  LastOpens,
  // Each pair of delimiters is taken as a one-byte frame (which never
  // decodes); of an odd run the last delimiter opens the next frame, an even
  // run opens none. Kept for a programmer that relies on the older scanner.
  PairsAreEmptyFrames,
};

struct LinkChannel {
  // The largest packet of the protocol (a 4 KB block with the parameter
  // header) is 4282 bytes; every buffer is sized so that a packet of the
  // whole packet buffer, escaped byte for byte, still fits.
  static constexpr std::size_t kPacketCapacity = 6144;
  static constexpr std::size_t kFrameCapacity = 2 * kPacketCapacity + 2;
  static constexpr std::size_t kTxCapacity = 2 * kPacketCapacity + 7;
  static constexpr std::size_t kRxCapacity = 16384;
  static_assert(kRxCapacity <= 0xFFFF, "RxCount is 16 bits wide");
  static_assert(kRxCapacity >= kFrameCapacity + 2048, "a whole frame plus one receive block must fit");

  explicit LinkChannel(int number = 1) : Number(number) {}

  int Number;  // 1 or 2, as the operator reads it
  TComm* Port = nullptr;
  DelimiterRun DelimiterRuns = DelimiterRun::LastOpens;

  std::array<uint8_t, kRxCapacity> RxBuffer{};
  uint16_t RxCount = 0;
  std::array<uint8_t, kFrameCapacity> FrameBuffer{};
  std::array<uint8_t, kPacketCapacity> PacketBuffer{};
  std::array<uint8_t, kTxCapacity> TxBuffer{};

  uint8_t Identified = 0;
  // Wide enough for every time-out an operation is armed with (a blank
  // check of a 128 MiB chip counts 131,272 ticks).
  int32_t TimeoutTicks = 0;
  uint8_t Busy = 0;
  uint8_t Operation = 0xF0;
  uint32_t BlockPos = 0;
  uint32_t BlockEnd = 0;
  uint8_t DownloadPhase = 0;
  uint8_t GaugeCreep = 0;
  uint8_t AutoRun = 0;

  // Received bytes thrown away because they would have overflowed a buffer,
  // and frames too long for the frame buffer; kept for diagnostics.
  uint32_t RxDiscardedBytes = 0;
  uint32_t OverlongFrames = 0;
};

}  // namespace velkor
