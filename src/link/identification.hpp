// What a frame received on a channel whose programmer is not identified yet
// turns out to be.
#pragma once

#include <cstdint>

#include "link/link_channel.hpp"
#include "link/reply_check.hpp"

namespace velkor {

inline constexpr const char* kModelName = "Velkor350QN";
inline constexpr const char* kShortIdentification = "VelkorQN";
inline constexpr uint8_t kProgressReportCode = 0xFD;
inline constexpr uint8_t kIgnoredReplyCode = 0xFA;

enum class IdentifyOutcome {
  NotDecoded,      // the frame held no packet
  ProgressReport,  // a progress report the programmer sent by itself
  Ignored,         // a reply the identification does not look at
  Model,           // a programmer of this model; name holds its full text
  ShortString,     // a programmer that identifies with the short string: its firmware must be replaced
  NoMatch,         // some other device
};

struct Identification {
  IdentifyOutcome outcome = IdentifyOutcome::NotDecoded;
  IdentityName name{};      // the full identification text on a match
  uint16_t packetLength = 0;
};

// Decodes the frame in the channel's FrameBuffer into its PacketBuffer and
// classifies it.
Identification ClassifyIdentificationFrame(LinkChannel& channel, uint16_t& frameLength);

}  // namespace velkor
