#include "app/programmer_channels.hpp"

#include "link/frame.hpp"
#include "link/identification.hpp"
#include "link/identify_query.hpp"
#include "link/reply_check.hpp"

namespace velkor {

ProgrammerChannels::ProgrammerChannels(MainLoop& loop, LogSink log) : loop_(loop), log_(std::move(log)) {
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
    port->OnReceiveData = [this, ch](TComm&, const uint8_t* buffer, uint16_t length) {
      ReceiveData(*ch, buffer, length, *this);
    };
    port->OnReceiveError = [ch](TComm&, uint32_t) { ReceiveError(*ch); };
    port->OnRequestHangup = [this, number](TComm&) { Hangup(number); };
  }
}

ProgrammerChannels::~ProgrammerChannels() { CloseAll(); }

void ProgrammerChannels::CloseAll() {
  for (int number = 1; number <= kChannelCount; ++number) {
    Port(number).ClosePort();
    Channel(number).Identified = 0;
    Channel(number).Busy = 0;
    Channel(number).RxCount = 0;
    names_[static_cast<std::size_t>(number - 1)].clear();
  }
}

void ProgrammerChannels::Probe(const std::vector<std::string>& ports) {
  CloseAll();
  for (std::size_t i = 0; i < ports.size() && i < kChannelCount; ++i) {
    const int number = static_cast<int>(i) + 1;
    log_(0, "Checking Device " + std::to_string(number) + " In " + ports[i] + "............");
    TComm& port = Port(number);
    port.CommName = ports[i];
    try {
      port.OpenPort();
    } catch (const ECommsError& e) {
      log_(number, e.what());
      continue;
    }
    loop_.singleShot(kQueryDelay, [this, number] {
      if (Port(number).IsOpen()) IdentifyQuery(Channel(number));
    });
  }
}

int ProgrammerChannels::DevicesFound() const {
  int found = 0;
  for (const auto& channel : channels_) found += channel->Identified ? 1 : 0;
  return found;
}

bool ProgrammerChannels::IdentifyReply(LinkChannel& channel, uint16_t& frameLength) {
  const Identification id = ClassifyIdentificationFrame(channel, frameLength);
  switch (id.outcome) {
    case IdentifyOutcome::NotDecoded:
      return false;
    case IdentifyOutcome::ProgressReport:
    case IdentifyOutcome::Ignored:
      return true;
    case IdentifyOutcome::Model:
      channel.Identified = 1;
      channel.Operation = 0xF0;
      names_[static_cast<std::size_t>(channel.Number - 1)] = id.name.data();
      log_(channel.Number, std::string("Find Device: ") + id.name.data() + "!");
      return true;
    case IdentifyOutcome::ShortString:
      log_(channel.Number, std::string("Find Device: ") + id.name.data() + "! Its firmware must be upgraded.");
      return true;
    case IdentifyOutcome::NoMatch:
      log_(channel.Number, "No Device Found!");
      return true;
  }
  return false;
}

bool ProgrammerChannels::DispatchReply(LinkChannel& channel, uint16_t& frameLength) {
  const DecodeResult decoded = DecodeFrame(channel.FrameBuffer, frameLength, channel.PacketBuffer);
  if (decoded.code != kResultOk) return false;
  if (channel.PacketBuffer[0] == kProgressReportCode) return true;
  return CheckReply(channel, decoded.packetLength) != kResultCheckMismatch;
}

void ProgrammerChannels::Hangup(int number) {
  Port(number).ClosePort();
  Channel(number).Identified = 0;
  names_[static_cast<std::size_t>(number - 1)].clear();
  log_(number, "The programmer's port went away and was closed.");
}

}  // namespace velkor
