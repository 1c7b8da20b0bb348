// The two programmer channels with their serial ports, as the main window
// owns them. Each port's events are wired to its channel: received bytes go
// through the reassembly to the frame consumer, a line error discards the
// partial frame, a hang-up is reported to the owner.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include "link/comm.hpp"
#include "link/link_channel.hpp"
#include "link/reassembly.hpp"
#include "platform/main_loop.hpp"

namespace velkor {

class ProgrammerChannels {
 public:
  static constexpr int kChannelCount = 2;

  ProgrammerChannels(MainLoop& loop, FrameConsumer& consumer, std::function<void(int channel)> onHangup);

  LinkChannel& Channel(int number) { return *channels_[static_cast<std::size_t>(number - 1)]; }
  const LinkChannel& Channel(int number) const { return *channels_[static_cast<std::size_t>(number - 1)]; }
  TComm& Port(int number) { return *ports_[static_cast<std::size_t>(number - 1)]; }

 private:
  std::array<std::unique_ptr<LinkChannel>, kChannelCount> channels_;
  std::array<std::unique_ptr<TComm>, kChannelCount> ports_;
};

}  // namespace velkor
