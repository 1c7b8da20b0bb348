// What a simulated programmer says about itself (its name, firmware version,
// capability and the serial-number settings it holds), what it answers for
// the chip in its socket, and the faults it is told to make.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/firmware_file.hpp"
#include "sim/socket_chip.hpp"

namespace velkor::sim {

struct SerialNumberSettings {
  bool enabled = false;
  uint16_t increment = 1;
  uint32_t startAddress = 0;
  uint32_t initial = 0;
  uint32_t current = 0;
};

// An error status the programmer answers instead of carrying out a command:
// every command with this code (and this sub-operation, for the chip
// operation; and this block position in KB, for the block commands and the
// blocks of a streamed read).
struct FailureRule {
  uint8_t code = 0;
  std::optional<uint16_t> subOperation;
  std::optional<uint32_t> position;
  uint8_t status = 0;
};

// A stand-alone cycle that fails on purpose: the programmer's cycle with
// this number (counted from 1 over all its stand-alone cycles) ends after
// its start with this result, nothing programmed.
struct CycleFailureRule {
  uint32_t cycle = 0;
  uint8_t result = 0;
};

// Faults of the device itself; those of the line (split writes, pacing) are
// the front end's. Requests are numbered from 1 in the order they arrive:
// identification queries and packets, good or damaged; frames that do not
// decode are not requests.
struct FaultOptions {
  std::vector<FailureRule> failures;
  std::vector<CycleFailureRule> cycleFailures;
  // The reply to each of these requests is lost.
  std::vector<uint32_t> dropReplyTo;
  // Replies that carry a check value are numbered from 1 as they are sent;
  // each of these goes out with a wrong check value.
  std::vector<uint32_t> corruptReply;
  // Sent in front of every frame.
  std::vector<uint8_t> noise;
  // After this many requests nothing more is answered.
  std::optional<uint32_t> stallAfterRequests;
  // After this many 4 KB blocks (programmed, read, streamed or downloaded)
  // the programmer goes away: the front end closes its pseudo-terminal.
  std::optional<uint32_t> hangUpAfterBlocks;
  // Each of these requests is carried out, but answered with the reply of
  // another command: a status reply turns into a block read's data reply,
  // a data or identification reply into a program block's status reply
  // saying "done".
  std::vector<uint32_t> wrongReplyTo;
  // The replies to these requests break off in the middle of their frames:
  // the rest is lost on the line, and the programmer goes on as before.
  std::vector<uint32_t> cutReplyTo;
  // The reply to this request breaks off in the middle of its frame, and
  // the programmer goes away as with hangUpAfterBlocks.
  std::optional<uint32_t> hangUpInReplyTo;
  // Identification queries are answered with bytes that are no
  // identification: unframed bytes, then a frame of garbage.
  bool garbageIdentification = false;
};

// Bytes every fresh chip holds when it goes into the socket, at this offset
// of the chip's memory as the chip holds it (for the 528-byte page flash,
// pages one after the other); bytes past the chip's end are dropped.
struct ChipContent {
  uint64_t offset = 0;
  std::vector<uint8_t> bytes;
};

struct ProgrammerOptions {
  std::string name = "Velkor350QN";
  std::string version = "V3.10";
  // Above 0x32 ('2') the programmer announces the streamed chip read.
  uint8_t capability = 0x33;
  SerialNumberSettings serialNumbers;
  // The two identification bytes the chip answers; without them, the two
  // the host expects (parameter block bytes 0x26 and 0x27).
  std::optional<std::array<uint8_t, 2>> chipId;
  std::array<uint8_t, 2> chipStatus = {0x00, 0x00};
  std::vector<ChipContent> chipContents;
  // Cells of every chip that hold their value whatever is written (offsets
  // of the chip's own layout).
  std::vector<StuckByte> stuckBytes;
  // After every completed download the programmer runs this many
  // stand-alone cycles by itself, as a line operator would start them; when
  // they run is the front end's choice.
  uint32_t autoCycles = 0;
  // The firmware file the programmer's boot loader expects to receive (read
  // and found ready). With it every firmware chunk is checked against the
  // file, and a complete upgrade makes the programmer report the model name
  // and the file's version; without it chunks are taken unchecked.
  std::optional<FirmwareFile> expectedFirmware;
  FaultOptions faults;
};

// The name the programmer reports: the model name, a blank, the version.
inline std::string FullName(const ProgrammerOptions& options) { return options.name + " " + options.version; }

}  // namespace velkor::sim
