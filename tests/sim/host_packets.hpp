// The host's packets, built with the host's own builders, and a harness
// that passes them to one simulated programmer and returns its replies, so
// that both sides of the link are tested against each other.
#pragma once

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "chips/chip_params.hpp"
#include "data/image_checksums.hpp"
#include "frame_helpers.hpp"
#include "link/commands.hpp"
#include "link/reassembly.hpp"
#include "sim/programmer_model.hpp"

namespace velkor::sim::testing {

inline ChipParams Chip(uint8_t family, uint32_t size, uint8_t subtype = 0x01) {
  ChipParams chip;
  chip.Family = family;
  chip.SubType = subtype;
  chip.Size = size;
  chip.SizeKB = size / 1024;
  chip.IdByte1 = 0xC8;
  chip.IdByte2 = 0x40;
  return chip;
}

inline ChipParams PageFlashChip() {
  return Chip(kFamilyDataFlash528, kDataFlashPages * kDataFlashPageSize, 0x10);
}

using Packet = std::vector<uint8_t>;

// The simulated programmer reads the extension bytes of positions and sizes
// from 64 MiB on, so the host's packets for it are built with them.
inline JobSettings ExtendedJob() {
  JobSettings job;
  job.ExtendedAddressing = true;
  return job;
}

template <typename Build>
Packet BuildWith(Build build) {
  Packet packet(LinkChannel::kPacketCapacity);
  const std::size_t length = build(std::span<uint8_t>(packet));
  EXPECT_NE(length, 0u) << "the host's builder refused the packet";
  packet.resize(length);
  return packet;
}

inline Packet ChipCommand(uint8_t code, uint32_t parameter, const ChipParams& chip, ImageChecksums sums = {}) {
  return BuildWith(
      [&](std::span<uint8_t> p) { return BuildChipCommand(p, code, parameter, chip, ExtendedJob(), sums); });
}

inline Packet ProgramBlock(uint32_t position, const ChipParams& chip, std::span<const uint8_t> image) {
  return BuildWith(
      [&](std::span<uint8_t> p) { return BuildProgramBlock(p, position, chip, ExtendedJob(), {}, image); });
}

inline Packet DownloadBlock(uint32_t position, const ChipParams& chip, std::span<const uint8_t> image) {
  return BuildWith([&](std::span<uint8_t> p) { return BuildDownloadBlock(p, position, chip, image); });
}

inline Packet StartDownload(const ChipParams& chip, const JobSettings& job, const StartTexts& texts, int channel = 1,
                            uint8_t devicesFound = 1) {
  const RandomSource random = MakeRandomSource();
  return BuildWith([&](std::span<uint8_t> p) {
    return BuildStartDownload(p, channel, chip, job, {}, devicesFound, texts, random);
  });
}

inline Packet Finish(uint8_t code) {
  return BuildWith([&](std::span<uint8_t> p) { return BuildFinish(p, code); });
}

// The checksums the host puts in the parameter block for the first length
// bytes of its image.
inline ImageChecksums HostChecksums(std::span<const uint8_t> image, uint32_t length) {
  if (length == 0) return {};
  const uint32_t sum = ByteSum32Wide(image.data(), 0, length - 1);
  return {LinkCrc16Sliced(image.data(), 0, length - 1), static_cast<uint16_t>((0x10000u - (sum & 0xFFFFu)) & 0xFFFFu)};
}

// An erased image as large as the host's, of which only the pages a test
// writes take memory.
class LargeImage {
 public:
  explicit LargeImage(std::size_t size) : size_(size) {
    void* at = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (at != MAP_FAILED) data_ = static_cast<uint8_t*>(at);
  }
  ~LargeImage() {
    if (data_) munmap(data_, size_);
  }
  LargeImage(const LargeImage&) = delete;
  LargeImage& operator=(const LargeImage&) = delete;

  bool Mapped() const { return data_ != nullptr; }
  std::span<uint8_t> Bytes() { return {data_, size_}; }

 private:
  std::size_t size_;
  uint8_t* data_ = nullptr;
};

inline std::vector<uint8_t> Pattern(std::size_t length, uint32_t seed) {
  std::vector<uint8_t> bytes(length);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return bytes;
}

// One simulated programmer driven as the host drives it.
class ModelHarness {
 public:
  explicit ModelHarness(ProgrammerOptions options = {})
      : model_(std::move(options), [this](std::string_view line) { log_.emplace_back(line); }) {}

  // Sends one packet and returns every packet the programmer sent back,
  // a streamed read to its end.
  std::vector<Packet> Send(std::span<const uint8_t> packet) { return SendBytes(Frame(packet)); }

  std::vector<Packet> SendBytes(std::span<const uint8_t> bytes) {
    model_.Receive(bytes);
    return DecodeFrames(TakeAll());
  }

  // Everything the programmer has to send, a streamed read to its end.
  std::vector<uint8_t> TakeAll() {
    std::vector<uint8_t> all;
    for (std::vector<uint8_t> out = model_.TakeOutput(); !out.empty(); out = model_.TakeOutput())
      Append(all, out);
    return all;
  }

  // The host's reading of the one reply to the packet: its status, or 0
  // for a data reply; 0xFFFF when there was not exactly one reply.
  unsigned Status(std::span<const uint8_t> packet) {
    const auto replies = Send(packet);
    if (replies.size() != 1) {
      ADD_FAILURE() << replies.size() << " replies to command 0x" << std::hex << int{packet[0]};
      return 0xFFFF;
    }
    return HostCheckReply(replies[0]);
  }

  // The payload of the one data reply to the packet.
  std::vector<uint8_t> Data(std::span<const uint8_t> packet) {
    const auto replies = Send(packet);
    if (replies.size() != 1 || replies[0].size() < 13 || HostCheckReply(replies[0]) != 0) {
      ADD_FAILURE() << "no single data reply to command 0x" << std::hex << int{packet[0]};
      return {};
    }
    return std::vector<uint8_t>(replies[0].begin() + 8, replies[0].end() - 2);
  }

  bool Logged(const std::string& text) const {
    return std::any_of(log_.begin(), log_.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  }

  ProgrammerModel& Model() { return model_; }
  const ModelCounters& Counters() const { return model_.Counters(); }
  std::vector<std::string>& Log() { return log_; }

 private:
  std::vector<std::string> log_;
  ProgrammerModel model_;
};

// The host's own receive path: reassembly, decoder and reply check. Keeps
// every packet that passes them.
class HostReceiver : public FrameConsumer {
 public:
  HostReceiver() { channel_->Identified = 1; }

  void Deliver(std::span<const uint8_t> bytes) {
    // The serial layer delivers at most 2048 bytes at a time.
    for (std::size_t at = 0; at < bytes.size(); at += 2048) {
      const std::size_t n = std::min<std::size_t>(2048, bytes.size() - at);
      ReceiveData(*channel_, bytes.data() + at, static_cast<uint16_t>(n), *this);
    }
  }

  bool IdentifyReply(LinkChannel& channel, uint16_t& frameLength) override {
    return DispatchReply(channel, frameLength);
  }
  bool DispatchReply(LinkChannel& channel, uint16_t& frameLength) override {
    const DecodeResult decoded = DecodeFrame(channel.FrameBuffer, frameLength, channel.PacketBuffer);
    if (decoded.code != kResultOk) return false;
    // Progress reports carry a check byte of their own instead of a check value.
    const bool report = channel.PacketBuffer[0] == kProgressReportCode;
    if (!report && CheckReply(channel, decoded.packetLength) == kResultCheckMismatch) {
      ++checkMismatches_;
      return true;
    }
    packets_.emplace_back(channel.PacketBuffer.begin(), channel.PacketBuffer.begin() + decoded.packetLength);
    return true;
  }

  const std::vector<Packet>& Packets() const { return packets_; }
  int CheckMismatches() const { return checkMismatches_; }

 private:
  std::unique_ptr<LinkChannel> channel_ = std::make_unique<LinkChannel>();
  std::vector<Packet> packets_;
  int checkMismatches_ = 0;
};

}  // namespace velkor::sim::testing
