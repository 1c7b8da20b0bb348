// The simulated programmer's side of the link, without any I/O: bytes from
// the host go in through Receive in any split, the frames the programmer
// sends come out of TakeOutput.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "link/link_channel.hpp"
#include "sim/programmer_options.hpp"
#include "sim/reply_packets.hpp"

namespace velkor::sim {

using LogSink = std::function<void(std::string_view)>;

struct ModelCounters {
  uint32_t framesReceived = 0;  // every complete frame, good or bad
  uint32_t repliesSent = 0;     // identification and status replies
  uint32_t progressReportsSent = 0;
  uint32_t undecodableFrames = 0;  // bad escape, too short or too long, not the query
  uint32_t checkValueErrors = 0;
  uint32_t lengthFieldErrors = 0;
  uint32_t discardedBytes = 0;  // received bytes dropped because the receive buffer was full
};

class ProgrammerModel {
 public:
  explicit ProgrammerModel(ProgrammerOptions options, LogSink log = {});

  // Takes bytes from the host and answers every complete frame among them.
  void Receive(std::span<const uint8_t> bytes);

  // Queues a progress report, as the programmer sends during a cycle of its own.
  void QueueProgressReport(uint8_t stage, uint8_t result, uint16_t done, uint16_t total);

  // Hands over the bytes queued for the host since the last call.
  std::vector<uint8_t> TakeOutput();

  // Logs every frame received and sent, not only the unexpected ones.
  void SetFrameTrace(bool on) { traceFrames_ = on; }

  const ModelCounters& Counters() const { return counters_; }

 private:
  void ExtractFrames();
  void KeepUnconsumed(std::size_t from);
  // Returns whether the frame held a packet or the query; a frame that did
  // not lets its closing delimiter open the next frame.
  bool HandleFrame(std::size_t frameLength);
  void HandlePacket(std::span<const uint8_t> packet);
  void SendPacket(std::span<const uint8_t> packet);
  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void TraceBytes(const char* what, std::span<const uint8_t> bytes);

  ProgrammerOptions options_;
  LogSink log_;
  bool traceFrames_ = false;
  ModelCounters counters_;

  std::array<uint8_t, LinkChannel::kRxCapacity> rx_{};
  std::size_t rxCount_ = 0;
  std::array<uint8_t, LinkChannel::kFrameCapacity> frame_{};
  std::array<uint8_t, LinkChannel::kPacketCapacity> packet_{};
  std::vector<uint8_t> output_;
};

}  // namespace velkor::sim
