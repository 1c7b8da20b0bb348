// The two programmer channels with their serial ports, as the main window
// owns them: opens the ports it is given as channel 1 and channel 2, sends
// each the identification query and recognises the programmers that answer.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/comm.hpp"
#include "link/link_channel.hpp"
#include "link/reassembly.hpp"
#include "platform/main_loop.hpp"

namespace velkor {

class ProgrammerChannels final : public FrameConsumer {
 public:
  static constexpr int kChannelCount = 2;
  // The programmer needs a moment after its port opens before it listens.
  static constexpr std::chrono::milliseconds kQueryDelay{50};

  // channel is 1 or 2, or 0 for a line about no particular programmer.
  using LogSink = std::function<void(int channel, const std::string& text)>;

  ProgrammerChannels(MainLoop& loop, LogSink log);
  ~ProgrammerChannels() override;

  // Closes both channels, then opens the first two ports and queries them.
  // Opening errors are logged; the other channel is still probed.
  void Probe(const std::vector<std::string>& ports);
  void CloseAll();

  LinkChannel& Channel(int number) { return *channels_[static_cast<std::size_t>(number - 1)]; }
  TComm& Port(int number) { return *ports_[static_cast<std::size_t>(number - 1)]; }
  // The full identification text of an identified programmer, else empty.
  std::string DeviceName(int number) const { return names_[static_cast<std::size_t>(number - 1)]; }
  int DevicesFound() const;

  bool IdentifyReply(LinkChannel& channel, uint16_t& frameLength) override;
  bool DispatchReply(LinkChannel& channel, uint16_t& frameLength) override;

 private:
  void Hangup(int number);

  MainLoop& loop_;
  LogSink log_;
  std::array<std::unique_ptr<LinkChannel>, kChannelCount> channels_;
  std::array<std::unique_ptr<TComm>, kChannelCount> ports_;
  std::array<std::string, kChannelCount> names_;
};

}  // namespace velkor
