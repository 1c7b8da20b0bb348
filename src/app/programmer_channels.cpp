#include "app/programmer_channels.hpp"

namespace velkor {

ProgrammerChannels::ProgrammerChannels(MainLoop& loop, FrameConsumer& consumer,
                                       std::function<void(int channel)> onHangup) {
  for (int i = 0; i < kChannelCount; ++i) {
    const int number = i + 1;
    auto& channel = channels_[static_cast<std::size_t>(i)];
    auto& port = ports_[static_cast<std::size_t>(i)];
    channel = std::make_unique<LinkChannel>(number);
    port = std::make_unique<TComm>(loop);
    channel->Port = port.get();
    port->SetLineSettings(CommLineSettings::ProgrammerChannel());
    port->SetTimeouts(CommTimeouts::ProgrammerChannel());
    LinkChannel* ch = channel.get();
    port->OnReceiveData = [ch, &consumer](TComm&, const uint8_t* buffer, uint16_t length) {
      ReceiveData(*ch, buffer, length, consumer);
    };
    port->OnReceiveError = [ch](TComm&, uint32_t) { ReceiveError(*ch); };
    port->OnRequestHangup = [onHangup, number](TComm&) { onHangup(number); };
  }
}

}  // namespace velkor
