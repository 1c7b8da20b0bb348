// Frames on the wire: 0xC0, the packet with 0xC0 and 0xDB escaped, 0xC0,
// then five 0xFF bytes. The scanner and the decoder are plain functions of
// their buffers, bounded by the buffers they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/link_channel.hpp"

namespace velkor {

inline constexpr uint8_t kFrameDelimiter = 0xC0;
inline constexpr uint8_t kFrameEscape = 0xDB;
inline constexpr uint8_t kEscapedDelimiter = 0xDC;
inline constexpr uint8_t kEscapedEscape = 0xDD;
inline constexpr std::size_t kFrameTrailerLength = 5;
inline constexpr uint8_t kFrameTrailerByte = 0xFF;
inline constexpr std::size_t kPacketHeaderLength = 8;

// Result codes shared by the decoder and the reply check.
inline constexpr uint8_t kResultOk = 0x00;
inline constexpr uint8_t kResultIncomplete = 0x20;
inline constexpr uint8_t kResultCheckMismatch = 0x23;
inline constexpr uint8_t kResultBadFrame = 0x2A;

// The room a frame of a packet of n bytes may need: every byte escaped,
// two delimiters and the trailer.
constexpr std::size_t MaxEncodedLength(std::size_t packetLength) {
  return 2 * packetLength + 2 + kFrameTrailerLength;
}

// Writes the frame of the packet into out and returns its length, or 0 when
// the packet is empty or the frame would not fit into out.
std::size_t EncodeFrame(std::span<const uint8_t> packet, std::span<uint8_t> out);

enum class ScanResult {
  NotFound,  // no closing delimiter yet; scanPos is unchanged in meaning
  Found,     // frame holds both delimiters and everything between them
  Overlong,  // a frame longer than the frame buffer was skipped; scanPos
             // rests on its closing delimiter, which may open the next frame
};

// Scans rx from scanPos for the next complete frame and copies it into
// frame; scanPos is advanced in place.
ScanResult ExtractFrame(std::span<const uint8_t> rx, std::size_t& scanPos, std::span<uint8_t> frame,
                        std::size_t& frameLength, DelimiterRun runs);

// The same on a channel's receive and frame buffers.
ScanResult ExtractFrame(LinkChannel& channel, uint16_t& scanPos, uint16_t& frameLength);

struct DecodeResult {
  uint8_t code;           // kResultOk, kResultIncomplete or kResultBadFrame
  uint16_t packetLength;  // bytes decoded; 0 after a bad escape or an oversized packet
};

// Decodes the first frame in frame[0, frameLength) into packet. On success
// or a bad escape, the bytes behind the consumed part are moved to the start
// of frame and frameLength becomes their number; an incomplete frame is left
// as it is. A packet shorter than the header, or longer than packet, is
// reported as a bad frame.
DecodeResult DecodeFrame(std::span<uint8_t> frame, uint16_t& frameLength, std::span<uint8_t> packet);

}  // namespace velkor
