// The packets a programmer sends besides the identification reply: the
// status reply to a command, the data reply to a read, and the progress
// report of a programming cycle.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace velkor::sim {

// Status codes of the status reply.
inline constexpr uint8_t kStatusOk = 0x00;
inline constexpr uint8_t kStatusBadPacket = 0x20;
inline constexpr uint8_t kStatusCheckMismatch = 0x23;
inline constexpr uint8_t kStatusUnknownCommand = 0x25;
inline constexpr uint8_t kStatusCompareFailed = 0x31;
inline constexpr uint8_t kStatusCommandFailed = 0x45;
// The blank check's answer for a chip that holds data.
inline constexpr uint8_t kStatusNotBlank = 0x15;

inline constexpr std::size_t kStatusReplyLength = 12;
using StatusReply = std::array<uint8_t, kStatusReplyLength>;

// The reply to a command, built from the command's header: its code,
// parameter, family and subtype echoed, flags 0, a two-byte payload holding
// the status and a zero, then the check value.
StatusReply BuildStatusReply(std::span<const uint8_t, 8> commandHeader, uint8_t status);

struct ReplyHeader {
  uint8_t code = 0;
  uint16_t parameter = 0;
  uint8_t flags = 0;
  uint8_t family = 0;
  uint8_t subtype = 0;
};

// Completes a data reply whose payload the caller has already written from
// packet byte 8: writes the header in front of it and the check value
// behind it, and returns the packet's length.
std::size_t SealDataReply(std::span<uint8_t> packet, const ReplyHeader& header, std::size_t payloadLength);

inline constexpr uint8_t kProgressReportCode = 0xFD;
inline constexpr std::size_t kProgressReportLength = 8;
using ProgressReport = std::array<uint8_t, kProgressReportLength>;

// Stages of a programming cycle as the host shows them.
inline constexpr uint8_t kStageStart = 0x10;
inline constexpr uint8_t kStageBlankCheck = 0x20;
inline constexpr uint8_t kStageErase = 0x30;
inline constexpr uint8_t kStageMainFlashProgramming = 0x40;
inline constexpr uint8_t kStageMainFlashVerification = 0x70;
inline constexpr uint8_t kStageCompleted = 0xF0;

// Results of a cycle, in its stage 0xF0 report.
inline constexpr uint8_t kCycleSucceeded = 0x06;
inline constexpr uint8_t kCycleNotBlank = kStatusNotBlank;         // the blank check found data
inline constexpr uint8_t kCycleCompareFailed = kStatusCompareFailed;  // the chip differs from the job
inline constexpr uint8_t kCycleNoJob = kStatusCommandFailed;       // no complete job downloaded
inline constexpr uint8_t kCycleBurnLimitReached = 0x4C;

struct ProgressStep {
  uint8_t stage;
  uint8_t result;
  uint16_t done;
  uint16_t total;
};

// FD, stage, result, done, total, and a check byte that makes the eight
// bytes sum to 0 modulo 256.
ProgressReport BuildProgressReport(const ProgressStep& step);

}  // namespace velkor::sim
