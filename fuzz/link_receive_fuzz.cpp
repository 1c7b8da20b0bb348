// The receive path of a programmer channel: byte blocks as the serial
// thread delivers them (1 to 2048 bytes), reassembled into frames and
// handed to a consumer.
//
// Input: byte 0 chooses the set-up, byte 1 (with bits 6-7 of byte 0 above
// it) the catalogue entry of the chip (full dispatch only), bytes 2-3 seed
// the block sizes, the rest is the wire.
//   byte 0 bit 0   0: the decoder path alone (frame decoder, reply check,
//                     identification); 1: the program's own dispatch
//                     (TQNProgrammer as the consumer, channel 1 reading)
//          bit 1   the channel starts identified
//          bit 2   the older delimiter scanner (pairs are empty frames)
//          bits 3-5 the operation under way (full dispatch; 0 = block read)
//          bits 6-7 the high bits of the chip's catalogue index
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "app/qn_programmer.hpp"
#include "app/quiet_view.hpp"
#include "chips/catalogue.hpp"
#include "link/frame.hpp"
#include "link/identification.hpp"
#include "link/operation_codes.hpp"
#include "link/reassembly.hpp"
#include "link/reply_check.hpp"
#include "platform/event_loop.hpp"

namespace {

using namespace velkor;

constexpr std::size_t kSetupBytes = 4;
constexpr uint16_t kLargestBlock = 2048;

// The frame consumer without the program around it: what the program's
// handlers do with a frame before they look at its meaning.
class DecoderConsumer : public FrameConsumer {
 public:
  bool IdentifyReply(LinkChannel& channel, uint16_t& frameLength) override {
    Bounded(frameLength);
    const Identification id = ClassifyIdentificationFrame(channel, frameLength);
    if (id.outcome == IdentifyOutcome::Model) channel.Identified = 1;
    return id.outcome != IdentifyOutcome::NotDecoded;
  }
  bool DispatchReply(LinkChannel& channel, uint16_t& frameLength) override {
    Bounded(frameLength);
    const DecodeResult decoded = DecodeFrame(channel.FrameBuffer, frameLength, channel.PacketBuffer);
    if (decoded.code != kResultOk) return false;
    if (decoded.packetLength > channel.PacketBuffer.size() || decoded.packetLength < kPacketHeaderLength) std::abort();
    return CheckReply(channel, decoded.packetLength) != kResultCheckMismatch;
  }

 private:
  static void Bounded(uint16_t frameLength) {
    if (frameLength > LinkChannel::kFrameCapacity) std::abort();
  }
};


struct Program {
  EventLoop loop;
  QuietView view;
  TQNProgrammer programmer{loop, view};
};

constexpr uint8_t kOperations[8] = {kOpReadBlocks, kOpReadStream, kOpReadId, kOpBlankCheck,
                                    kOpVerify,     kOpProgram,    kOpErase,  kOpIdle};

// Sets channel 1 up as the operation commands do before the first reply.
LinkChannel& PrepareProgram(Program& p, uint8_t setup, std::size_t chipIndex) {
  TQNProgrammer& qn = p.programmer;
  // Each input is a session of its own: the session log keeps every line
  // of a session, so it must not carry the lines of millions of inputs.
  qn.Info = InfoLog{};
  const auto& catalogue = ChipCatalogue();
  qn.ChipSelectionFormShow();
  qn.ChooseChip(catalogue[chipIndex % catalogue.size()]);
  LinkChannel& ch = qn.Channels.Channel(1);
  ch.RxCount = 0;
  ch.Identified = (setup & 2) ? 1 : 0;
  ch.DelimiterRuns = (setup & 4) ? DelimiterRun::PairsAreEmptyFrames : DelimiterRun::LastOpens;
  ch.AutoRun = 0;
  ch.Operation = kOperations[(setup >> 3) & 7];
  qn.BeginOperation(1, qn.Chip.SizeKB);
  return ch;
}

// Block sizes from a small generator, so that an input is always cut the
// same way.
uint16_t NextBlock(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return static_cast<uint16_t>(1 + state % kLargestBlock);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < kSetupBytes) return 0;
  const uint8_t setup = data[0];
  uint32_t state = 0x9E3779B9u ^ (uint32_t{data[2]} << 8 | data[3]);

  static DecoderConsumer decoder;
  static std::unique_ptr<Program> program;  // built on first use: 130 MiB of image
  LinkChannel plain(1);
  LinkChannel* channel = &plain;
  FrameConsumer* consumer = &decoder;
  if (setup & 1) {
    if (!program) program = std::make_unique<Program>();
    channel = &PrepareProgram(*program, setup, static_cast<std::size_t>(setup >> 6) << 8 | data[1]);
    consumer = &program->programmer;
  } else {
    plain.Identified = (setup & 2) ? 1 : 0;
    plain.DelimiterRuns = (setup & 4) ? DelimiterRun::PairsAreEmptyFrames : DelimiterRun::LastOpens;
  }

  const uint8_t* wire = data + kSetupBytes;
  std::size_t left = size - kSetupBytes;
  while (left > 0) {
    const uint16_t count = static_cast<uint16_t>(std::min<std::size_t>(NextBlock(state), left));
    ReceiveData(*channel, wire, count, *consumer);
    if (channel->RxCount > LinkChannel::kRxCapacity) std::abort();
    wire += count;
    left -= count;
  }
  // What the handlers posted (result boxes) runs after the receive event.
  if (program) program->loop.runFor(std::chrono::milliseconds(0));
  return 0;
}
