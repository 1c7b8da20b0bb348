// The simulated programmer's side of the link, without any I/O: bytes from
// the host go in through Receive in any split, the frames the programmer
// sends come out of TakeOutput. It holds the chip in its socket and the job
// downloaded into it, carries out every command on them, and makes the
// faults its options ask for.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/link_channel.hpp"
#include "sim/boot_loader.hpp"
#include "sim/chip_memory.hpp"
#include "sim/parameter_block.hpp"
#include "sim/programmer_options.hpp"
#include "sim/reply_packets.hpp"
#include "sim/socket_chip.hpp"

namespace velkor::sim {

using LogSink = std::function<void(std::string_view)>;

struct ModelCounters {
  uint32_t framesReceived = 0;  // every complete frame, good or bad
  uint32_t requests = 0;        // identification queries and packets, numbered as the faults count them
  uint32_t repliesSent = 0;     // identification, status and data replies
  uint32_t progressReportsSent = 0;

  // What was refused, by kind.
  uint32_t undecodableFrames = 0;      // bad escape, too short or too long, not the query
  uint32_t discardedBytes = 0;         // received bytes dropped because the receive buffer was full
  uint32_t checkValueErrors = 0;       // 0x23
  uint32_t lengthFieldErrors = 0;      // 0x20: length field and payload differ
  uint32_t wrongPacketSizes = 0;       // 0x20: not the command's size
  uint32_t unknownCommands = 0;        // 0x25
  uint32_t unknownSubOperations = 0;   // 0x25
  uint32_t headerFieldErrors = 0;      // 0x20: parameter, flags, family or finishing signature
  uint32_t parameterBlockErrors = 0;   // 0x20: fixed bytes, family or subtype unlike the header, oversized chip
  uint32_t startSignatureErrors = 0;   // 0x20
  uint32_t startCheckErrors = 0;       // 0x23: inner check value or sum of the start packet
  uint32_t positionsOutOfRange = 0;    // 0x45
  uint32_t blocksWithoutDownload = 0;  // 0x45: a download block before any start packet
  uint32_t requestsIgnored = 0;        // after the stall
  uint32_t firmwareChunksRefused = 0;  // 0x20, 0x45, 0x31: not the expected firmware's next chunk, or not its content

  // What was done.
  uint32_t blocksTransferred = 0;  // every 4 KB block programmed, read, streamed or downloaded
  uint32_t blocksProgrammed = 0;
  uint32_t blocksRead = 0;
  uint32_t blocksStreamed = 0;
  uint32_t streamsAbandoned = 0;  // a request arrived before the streamed read was through
  uint32_t downloadBlocksStored = 0;
  uint32_t downloadsCompleted = 0;
  uint32_t standAloneCycles = 0;  // every cycle the programmer began by itself, whatever its end
  uint32_t successfulBurns = 0;   // finished automatic runs of the host and successful stand-alone cycles
  uint32_t firmwareChunks = 0;    // taken: every well-formed one, or those that match the expected firmware file
  uint32_t firmwareUpgrades = 0;  // finish-download commands that completed an upgrade

  // Faults made on purpose.
  uint32_t failuresInjected = 0;
  uint32_t repliesDropped = 0;
  uint32_t repliesCorrupted = 0;
  uint32_t repliesSwapped = 0;  // answered with another command's reply
  uint32_t repliesCut = 0;      // broken off in the middle of the frame
  uint32_t garbageIdentifications = 0;
};

// The job downloaded into the programmer, for stand-alone programming.
struct StoredJob {
  StartPacketJob settings;
  ChipMemory image;  // laid out as the host's image
  bool complete = false;
  uint32_t burns = 0;  // stand-alone cycles that succeeded with this job, for its burn-count limit
};

// How a stand-alone cycle ended.
struct CycleOutcome {
  bool ran = false;           // false when the programmer has hung up or no automatic cycle was left
  uint32_t number = 0;        // the programmer's stand-alone cycles, counted from 1
  uint8_t result = 0;         // the result its stage 0xF0 report carries
  bool chipInserted = false;  // a fresh chip went into the socket; it still holds what the cycle left in it
};

class ProgrammerModel {
 public:
  explicit ProgrammerModel(ProgrammerOptions options, LogSink log = {});

  // Takes bytes from the host and answers every complete frame among them.
  void Receive(std::span<const uint8_t> bytes);

  // Queues a progress report, as the programmer sends during a cycle of its own.
  void QueueProgressReport(uint8_t stage, uint8_t result, uint16_t done, uint16_t total);

  // One programming cycle of the downloaded job on a fresh chip, as the
  // operator's start key or the automatic chip detection begins it, with
  // its progress reports queued as it goes. Does nothing once hung up.
  CycleOutcome RunStandAloneCycle();
  // The stand-alone cycles still to follow the last completed download
  // (options.autoCycles of them); a new download cancels them. When they
  // run is the caller's choice.
  uint32_t AutoCyclesLeft() const { return autoCyclesLeft_; }
  // Runs the next of them; runs nothing when none is left.
  CycleOutcome RunAutoCycle();

  // Hands over the bytes queued for the host since the last call. When
  // nothing is queued and a streamed read is under way, produces its next
  // block first, so that a streamed read goes out one block per call and
  // the caller decides the pace. Empty when there is nothing to send.
  std::vector<uint8_t> TakeOutput();

  bool Streaming() const { return stream_.has_value(); }
  // The programmer went away (the hang-up fault): it takes and sends nothing more.
  bool HungUp() const { return hungUp_; }

  // Logs every frame received and sent, not only the unexpected ones.
  void SetFrameTrace(bool on) { traceFrames_ = on; }

  const ModelCounters& Counters() const { return counters_; }
  const SocketChip& Chip() const { return chip_; }
  const std::optional<StoredJob>& Job() const { return job_; }
  // The serial-number settings the identification reply reports: those of
  // the options until a download brings its own.
  const SerialNumberSettings& SerialNumbers() const { return serialNumbers_; }

 private:
  struct StreamedRead {
    ReplyHeader header;  // code, family and subtype of every block's reply
    uint32_t nextKB = 0;
    uint32_t endKB = 0;
  };

  void ExtractFrames();
  void KeepUnconsumed(std::size_t from);
  // Returns whether the frame held a packet or the query; a frame that did
  // not lets its closing delimiter open the next frame.
  bool HandleFrame(std::size_t frameLength);
  // Numbers the request and applies the stall; false when it is not to be answered.
  bool BeginRequest();
  void HandlePacket(std::span<const uint8_t> packet);
  // Each returns the status to answer, or nothing when it sent its reply itself.
  std::optional<uint8_t> ChipCommand(std::span<const uint8_t> packet);
  std::optional<uint8_t> ChipOperation(std::span<const uint8_t> packet, const ParameterBlock& block);
  std::optional<uint8_t> StartDownload(std::span<const uint8_t> packet);
  std::optional<uint8_t> DownloadBlock(std::span<const uint8_t> packet);
  std::optional<uint8_t> FirmwareChunk(std::span<const uint8_t> packet);
  void FinishUpgrade();
  void Finish(std::span<const uint8_t> packet);
  // A fresh chip of this kind goes into the socket, holding the given content.
  void PutFreshChip(const ChipShape& shape, bool sameKindToo);

  // The stand-alone cycle's steps after its start report; returns its result.
  uint8_t CycleSteps(CycleOutcome& outcome);
  struct CycleRange;
  struct SerialPatch;
  CycleRange JobRange() const;
  std::optional<SerialPatch> CycleSerialNumber(const CycleRange& range, uint32_t cycle);
  // The bytes the job puts into the block at this position, serial number included.
  void JobBlock(uint32_t positionKB, const std::optional<SerialPatch>& serial, std::span<uint8_t> out) const;
  void ProgramJob(const CycleRange& range, const std::optional<SerialPatch>& serial);
  bool ChipHoldsJob(const CycleRange& range, const std::optional<SerialPatch>& serial, uint32_t cycle);

  // Counts the block and applies the hang-up; false when the programmer is gone.
  bool TakeBlock();
  std::optional<uint8_t> InjectedFailure(uint8_t code, std::optional<uint16_t> subOperation,
                                         std::optional<uint32_t> position);
  void SendStreamBlock();
  uint8_t Refuse(uint32_t& counter, uint8_t status, const char* format, ...) __attribute__((format(printf, 4, 5)));

  enum class Outgoing { Reply, UncheckedReply, Report };
  void SendPacket(std::span<const uint8_t> packet, Outgoing kind);
  void SendStatus(std::span<const uint8_t, 8> header, uint8_t status);
  // The reply of another command in place of this one (see wrongReplyTo).
  std::vector<uint8_t> OtherCommandsReply(std::span<const uint8_t> packet, Outgoing kind) const;
  void SendGarbageIdentification();
  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void TraceBytes(const char* what, std::span<const uint8_t> bytes);

  ProgrammerOptions options_;
  LogSink log_;
  bool traceFrames_ = false;
  ModelCounters counters_;
  SerialNumberSettings serialNumbers_;

  SocketChip chip_;
  std::optional<StoredJob> job_;
  uint32_t autoCyclesLeft_ = 0;
  std::optional<StreamedRead> stream_;
  std::optional<BootLoader> bootLoader_;  // with an expected firmware file
  bool answering_ = true;  // the packet being handled gets a reply
  bool dropThisReply_ = false;
  bool swapThisReply_ = false;
  bool cutThisReply_ = false;
  bool hangUpAfterCut_ = false;
  uint32_t checkedReplies_ = 0;
  bool hungUp_ = false;

  std::array<uint8_t, LinkChannel::kRxCapacity> rx_{};
  std::size_t rxCount_ = 0;
  std::array<uint8_t, LinkChannel::kFrameCapacity> frame_{};
  std::array<uint8_t, LinkChannel::kPacketCapacity> packet_{};
  std::array<uint8_t, LinkChannel::kPacketCapacity> reply_{};
  std::vector<uint8_t> output_;
};

}  // namespace velkor::sim
