#include "link/identification.hpp"

#include "link/frame.hpp"

namespace velkor {

Identification ClassifyIdentificationFrame(LinkChannel& channel, uint16_t& frameLength) {
  Identification id;
  const DecodeResult decoded = DecodeFrame(channel.FrameBuffer, frameLength, channel.PacketBuffer);
  if (decoded.code != kResultOk) return id;
  id.packetLength = decoded.packetLength;
  const std::span<const uint8_t> reply(channel.PacketBuffer.data(), decoded.packetLength);

  if (reply[0] == kProgressReportCode) {
    id.outcome = IdentifyOutcome::ProgressReport;
  } else if (reply[0] == kIgnoredReplyCode) {
    id.outcome = IdentifyOutcome::Ignored;
  } else if (id.name = MakeIdentityName(kModelName); MatchIdentity(reply, id.name, kIdentityNameOffset) == 0) {
    id.outcome = IdentifyOutcome::Model;
  } else if (id.name = MakeIdentityName(kShortIdentification);
             MatchIdentity(reply, id.name, kIdentityNameOffset) == 0) {
    id.outcome = IdentifyOutcome::ShortString;
  } else {
    id.name = {};
    id.outcome = IdentifyOutcome::NoMatch;
  }
  return id;
}

}  // namespace velkor
