#include "link/frame.hpp"

#include <algorithm>
#include <cstring>

namespace velkor {

std::size_t EncodeFrame(std::span<const uint8_t> packet, std::span<uint8_t> out) {
  if (packet.empty()) return 0;
  // Count first so that a frame that does not fit writes nothing at all.
  std::size_t needed = 2 + kFrameTrailerLength + packet.size();
  for (uint8_t b : packet) needed += (b == kFrameDelimiter || b == kFrameEscape) ? 1 : 0;
  if (needed > out.size()) return 0;

  std::size_t n = 0;
  out[n++] = kFrameDelimiter;
  for (uint8_t b : packet) {
    if (b == kFrameDelimiter) {
      out[n++] = kFrameEscape;
      out[n++] = kEscapedDelimiter;
    } else if (b == kFrameEscape) {
      out[n++] = kFrameEscape;
      out[n++] = kEscapedEscape;
    } else {
      out[n++] = b;
    }
  }
  out[n++] = kFrameDelimiter;
  for (std::size_t i = 0; i < kFrameTrailerLength; ++i) out[n++] = kFrameTrailerByte;
  return n;
}

ScanResult ExtractFrame(std::span<const uint8_t> rx, std::size_t& scanPos, std::span<uint8_t> frame,
                        std::size_t& frameLength, DelimiterRun runs) {
  std::size_t p = scanPos;
  std::size_t f = 0;
  const std::size_t end = rx.size();
  if (frame.size() < 2) return ScanResult::NotFound;

  // Search phase: skip everything up to an opening delimiter.
  bool opened = false;
  while (p < end && !opened) {
    if (rx[p] != kFrameDelimiter) {
      ++p;
      continue;
    }
    frame[f++] = kFrameDelimiter;
    ++p;
    if (p < end && rx[p] == kFrameDelimiter) {
      f = 0;
      if (runs == DelimiterRun::PairsAreEmptyFrames) opened = true;  // the second one becomes the whole frame
    } else {
      opened = true;
    }
  }

  // Copy phase: up to and including the closing delimiter.
  while (p < end) {
    const uint8_t c = rx[p];
    if (f == frame.size()) {
      // Too long for any packet: skip to its closing delimiter and leave that
      // delimiter in place, so that it can open the next frame.
      const auto close = std::find(rx.begin() + static_cast<std::ptrdiff_t>(p), rx.end(), kFrameDelimiter);
      if (close == rx.end()) break;
      scanPos = static_cast<std::size_t>(close - rx.begin());
      frameLength = 0;
      return ScanResult::Overlong;
    }
    frame[f++] = c;
    ++p;
    if (c == kFrameDelimiter) {
      scanPos = p;
      frameLength = f;
      return ScanResult::Found;
    }
  }
  scanPos = p;
  frameLength = f;
  return ScanResult::NotFound;
}

ScanResult ExtractFrame(LinkChannel& channel, uint16_t& scanPos, uint16_t& frameLength) {
  std::size_t pos = scanPos;
  std::size_t length = 0;
  const ScanResult result = ExtractFrame(std::span<const uint8_t>(channel.RxBuffer.data(), channel.RxCount), pos,
                                         channel.FrameBuffer, length, channel.DelimiterRuns);
  scanPos = static_cast<uint16_t>(pos);
  frameLength = static_cast<uint16_t>(length);
  return result;
}

namespace {

// Drops frame[0, consumed) by moving the rest to the front.
void DropConsumed(std::span<uint8_t> frame, uint16_t& frameLength, std::size_t consumed) {
  if (consumed >= frameLength) {
    frameLength = 0;
    return;
  }
  const std::size_t rest = frameLength - consumed;
  std::memmove(frame.data(), frame.data() + consumed, rest);
  frameLength = static_cast<uint16_t>(rest);
}

}  // namespace

DecodeResult DecodeFrame(std::span<uint8_t> frame, uint16_t& frameLength, std::span<uint8_t> packet) {
  const std::size_t m = std::min<std::size_t>(frameLength, frame.size());
  std::size_t i = 0;
  while (i < m && frame[i] != kFrameDelimiter) ++i;
  if (i < m) {
    ++i;
    if (i < m && frame[i] == kFrameDelimiter) ++i;
  }

  std::size_t k = 0;
  bool escape = false;
  for (; i < m; ++i) {
    const uint8_t c = frame[i];
    if (c == kFrameDelimiter) {
      DropConsumed(frame, frameLength, i + 1);
      const uint8_t code = k < kPacketHeaderLength ? kResultBadFrame : kResultOk;
      return {code, static_cast<uint16_t>(k)};
    }
    uint8_t decoded;
    if (escape) {
      escape = false;
      if (c == kEscapedDelimiter) {
        decoded = kFrameDelimiter;
      } else if (c == kEscapedEscape) {
        decoded = kFrameEscape;
      } else {
        DropConsumed(frame, frameLength, i + 1);
        return {kResultBadFrame, 0};
      }
    } else if (c == kFrameEscape) {
      escape = true;
      continue;
    } else {
      decoded = c;
    }
    if (k == packet.size()) {
      // No packet of this link is that long: refuse it rather than write past
      // the packet buffer.
      DropConsumed(frame, frameLength, i + 1);
      return {kResultBadFrame, 0};
    }
    packet[k++] = decoded;
  }
  return {kResultIncomplete, 0};
}

}  // namespace velkor
