// The identification query: not a packet, but a frame holding the three
// signature bytes, sent as it stands when a port has been opened.
#pragma once

#include <array>
#include <cstdint>

#include "link/link_channel.hpp"

namespace velkor {

inline constexpr std::array<uint8_t, 10> kIdentifyQueryFrame = {0xC0, 0xA3, 0xA5, 0x35, 0xC0,
                                                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// Sends the query on the channel's port; returns what SendData returned.
bool IdentifyQuery(LinkChannel& channel);

}  // namespace velkor
