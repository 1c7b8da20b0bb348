#include "sim/command_line.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "link/commands.hpp"
#include "link/firmware_file.hpp"
#include "platform/text_file.hpp"
#include "sim/identification.hpp"
#include "sim/reply_packets.hpp"
#include "sim/socket_chip.hpp"

namespace velkor::sim {

namespace {

// Decimal, or hexadecimal after "0x"; no sign, no octal.
std::optional<uint32_t> ParseUnsigned(std::string_view text, uint32_t least, uint32_t most) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size() || value < least || value > most) return std::nullopt;
  return value;
}

template <typename Number>
CLI::Option* AddNumber(CLI::App& app, const std::string& name, Number& target, uint32_t least, uint32_t most,
                       const std::string& description) {
  return app
      .add_option_function<std::string>(
          name,
          [&target, name, least, most](const std::string& text) {
            const auto value = ParseUnsigned(text, least, most);
            if (!value)
              throw CLI::ValidationError(name, "'" + text + "' is not a number from " + std::to_string(least) + " to " +
                                                   std::to_string(most) + " (decimal or 0x hexadecimal)");
            target = static_cast<Number>(*value);
          },
          description)
      ->type_name("NUMBER");
}

// Repeatable: every occurrence takes one value and adds it.
CLI::Option* AddRepeated(CLI::App& app, const std::string& name, std::function<void(const std::string&)> take,
                         const std::string& typeName, const std::string& description) {
  return app
      .add_option_function<std::vector<std::string>>(
          name,
          [take = std::move(take)](const std::vector<std::string>& texts) {
            for (const std::string& text : texts) take(text);
          },
          description)
      ->allow_extra_args(false)
      ->type_name(typeName);
}

uint32_t NumberOrThrow(const std::string& option, std::string_view text, uint32_t least, uint32_t most) {
  const auto value = ParseUnsigned(text, least, most);
  if (!value)
    throw CLI::ValidationError(option, "'" + std::string(text) + "' is not a number from " + std::to_string(least) +
                                           " to " + std::to_string(most) + " (decimal or 0x hexadecimal)");
  return *value;
}

// CODE[/SUB][@POSITION]=STATUS: the sub-operation only for the chip
// operation, the position only for the commands that move blocks.
FailureRule ParseFailureRule(const std::string& text) {
  const std::string option = "--fail";
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos)
    throw CLI::ValidationError(option, "'" + text + "' is not CODE[/SUB][@POSITION]=STATUS");
  std::string_view what = std::string_view(text).substr(0, equals);
  FailureRule rule;
  rule.status = static_cast<uint8_t>(NumberOrThrow(option, std::string_view(text).substr(equals + 1), 0, 0xFF));
  if (const std::size_t at = what.find('@'); at != std::string_view::npos) {
    rule.position = NumberOrThrow(option, what.substr(at + 1), 0, 0xFFFFFF);
    what = what.substr(0, at);
  }
  if (const std::size_t slash = what.find('/'); slash != std::string_view::npos) {
    rule.subOperation = static_cast<uint16_t>(NumberOrThrow(option, what.substr(slash + 1), 0, 0xFFFF));
    what = what.substr(0, slash);
  }
  rule.code = static_cast<uint8_t>(NumberOrThrow(option, what, 0, 0xFF));

  constexpr uint8_t kAnswered[] = {kCmdStartDownload, kCmdDownloadBlock, kCmdChipOperation, kCmdProgramBlock,
                                   kCmdReadStream,    kCmdReadBlock,     kCmdFirmwareChunk};
  if (std::find(std::begin(kAnswered), std::end(kAnswered), rule.code) == std::end(kAnswered))
    throw CLI::ValidationError(option, "'" + text + "': the programmer answers no command with this code");
  if (rule.subOperation && rule.code != kCmdChipOperation)
    throw CLI::ValidationError(option, "'" + text + "': only the chip operation 0x93 has sub-operations");
  const bool movesBlocks = rule.code == kCmdDownloadBlock || rule.code == kCmdProgramBlock ||
                           rule.code == kCmdReadStream || rule.code == kCmdReadBlock;
  if (rule.position && !movesBlocks)
    throw CLI::ValidationError(option, "'" + text + "': only 0x55, 0x95, 0x96 and 0x9B have block positions");
  return rule;
}

// N=RESULT: the programmer's Nth stand-alone cycle fails with RESULT.
CycleFailureRule ParseCycleFailure(const std::string& text) {
  const std::string option = "--fail-cycle";
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos) throw CLI::ValidationError(option, "'" + text + "' is not N=STATUS");
  CycleFailureRule rule;
  rule.cycle = NumberOrThrow(option, std::string_view(text).substr(0, equals), 1, UINT32_MAX);
  rule.result = static_cast<uint8_t>(NumberOrThrow(option, std::string_view(text).substr(equals + 1), 0, 0xFF));
  if (rule.result == kCycleSucceeded)
    throw CLI::ValidationError(option, "'" + text + "': 0x06 is the result of a successful cycle, not a failure");
  return rule;
}

// Two hexadecimal digits per byte, nothing between them.
std::vector<uint8_t> ParseHexBytes(const std::string& option, const std::string& text, std::size_t most) {
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<uint8_t> bytes;
  const bool wellFormed = !text.empty() && text.size() % 2 == 0 && text.size() / 2 <= most &&
                          std::all_of(text.begin(), text.end(), [&](char c) { return digit(c) >= 0; });
  if (!wellFormed)
    throw CLI::ValidationError(option, "'" + text + "' is not 1 to " + std::to_string(most) +
                                           " bytes of two hexadecimal digits each");
  for (std::size_t i = 0; i < text.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(digit(text[i]) << 4 | digit(text[i + 1])));
  return bytes;
}

// Two bytes, "FIRST,SECOND".
std::array<uint8_t, 2> ParseBytePair(const std::string& option, const std::string& text) {
  const std::size_t comma = text.find(',');
  if (comma == std::string::npos) throw CLI::ValidationError(option, "'" + text + "' is not two bytes FIRST,SECOND");
  return {static_cast<uint8_t>(NumberOrThrow(option, std::string_view(text).substr(0, comma), 0, 0xFF)),
          static_cast<uint8_t>(NumberOrThrow(option, std::string_view(text).substr(comma + 1), 0, 0xFF))};
}

// OFFSET=VALUE: a chip cell that always holds VALUE.
StuckByte ParseStuckByte(const std::string& text) {
  const std::string option = "--stuck-byte";
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos) throw CLI::ValidationError(option, "'" + text + "' is not OFFSET=VALUE");
  return {NumberOrThrow(option, std::string_view(text).substr(0, equals), 0, kLargestChipBytes - 1),
          static_cast<uint8_t>(NumberOrThrow(option, std::string_view(text).substr(equals + 1), 0, 0xFF))};
}

// A whole file's bytes, or its first more than most when it is longer (a
// device that never ends, say), for the caller to refuse. Reading through
// the stream's read keeps a read error (a directory, say) a failed read
// rather than an exception.
std::vector<uint8_t> ReadWholeFile(const std::string& option, const std::string& path, std::size_t most) {
  // A folder, FIFO or device is refused at once rather than waited on.
  std::vector<uint8_t> bytes;
  const std::string error = ReadRegularFile(path, most, bytes);
  if (!error.empty()) throw CLI::ValidationError(option, "cannot read '" + path + "': " + error);
  return bytes;
}

// FILE[@OFFSET]: the whole file, at OFFSET of the chip (0 without it). The
// last "@" followed by a number separates them, so a path may hold "@".
ChipContent ReadChipContent(const std::string& text) {
  const std::string option = "--chip-content";
  std::string path = text;
  ChipContent content;
  if (const std::size_t at = text.rfind('@'); at != std::string::npos) {
    if (const auto offset = ParseUnsigned(std::string_view(text).substr(at + 1), 0, kLargestChipBytes)) {
      content.offset = *offset;
      path = text.substr(0, at);
    }
  }
  content.bytes = ReadWholeFile(option, path, kLargestChipBytes);
  if (content.offset + content.bytes.size() > kLargestChipBytes)
    throw CLI::ValidationError(option, "'" + text + "' reaches past the largest chip (" +
                                           std::to_string(kLargestChipBytes) + " bytes)");
  return content;
}

// The firmware file the boot loader expects: it must read as ready, and its
// version text must be one the identification reply can carry.
FirmwareFile ReadExpectedFirmware(const std::string& path) {
  const std::string option = "--firmware-file";
  FirmwareFile firmware = ReadFirmwareFile(ReadWholeFile(option, path, kFirmwareBufferBytes));
  if (!firmware.ready)
    throw CLI::ValidationError(option, "'" + path + "' is not a usable firmware file: " + firmware.problem);
  const bool printable = std::all_of(firmware.version.begin(), firmware.version.end(),
                                     [](char c) { return c > 0x20 && c < 0x7F; });
  if (firmware.version.empty() || !printable)
    throw CLI::ValidationError(option, "'" + path +
                                           "': its version text is empty or holds blanks or unprintable characters, "
                                           "which the identification reply cannot carry");
  return firmware;
}

void CheckDumpDirectory(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_directory(path, error))
    throw CLI::ValidationError("--dump-chips", "'" + path + "' is not an existing directory");
}

bool IsPrintableAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

void CheckName(const ProgrammerOptions& options) {
  const std::string full = FullName(options);
  if (!IsPrintableAscii(full))
    throw CLI::ValidationError("--name/--version-text", "only printable ASCII characters can be sent");
  if (full.size() > kLongestFullName)
    throw CLI::ValidationError("--name/--version-text", "the full name \"" + full + "\" has " +
                                                            std::to_string(full.size()) +
                                                            " characters; the identification reply holds at most " +
                                                            std::to_string(kLongestFullName));
}

}  // namespace

CommandLineResult ParseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  SimulatorSettings settings;
  ProgrammerOptions& p = settings.programmer;
  SerialNumberSettings& sn = p.serialNumbers;

  CLI::App app(
      "Simulated Velkor350QN programmers on pseudo-terminals. Prints one port path per line on "
      "standard output and runs until standard input ends or SIGINT/SIGTERM; SIGUSR1 makes every "
      "programmer run one stand-alone programming cycle of its downloaded job. The fault and line options "
      "apply to every programmer.",
      "velkor-sim");
  AddNumber(app, "--count", settings.count, 1, kMostProgrammers, "number of programmers (default 1)");
  app.add_option("--name", p.name, "model name sent in the identification reply (default Velkor350QN)");
  app.add_option("--version-text", p.version, "firmware version sent after the name (default V3.10)");
  AddNumber(app, "--capability", p.capability, 0, 0xFF,
            "byte 19 of the identification reply; above 0x32 announces the streamed read (default 0x33)");
  app.add_flag("--sn-enabled", sn.enabled, "report serial-number writing as enabled");
  AddNumber(app, "--sn-increment", sn.increment, 0, 0xFFFF, "serial-number increment (default 1)");
  AddNumber(app, "--sn-address", sn.startAddress, 0, UINT32_MAX, "serial-number start address (default 0)");
  AddNumber(app, "--sn-initial", sn.initial, 0, UINT32_MAX, "initial serial number (default 0)");
  uint32_t currentSerial = 0;
  const CLI::Option* current =
      AddNumber(app, "--sn-current", currentSerial, 0, UINT32_MAX, "current serial number (default: the initial one)");
  app.add_flag("--verbose", settings.verbose, "log every frame received and sent");

  app.add_option_function<std::string>(
         "--chip-id", [&p](const std::string& text) { p.chipId = ParseBytePair("--chip-id", text); },
         "the chip's two identification bytes, FIRST,SECOND (default: those the host expects)")
      ->type_name("B0,B1");
  app.add_option_function<std::string>(
         "--chip-status", [&p](const std::string& text) { p.chipStatus = ParseBytePair("--chip-status", text); },
         "the chip's two status bytes, FIRST,SECOND (default 0,0)")
      ->type_name("S0,S1");

  AddRepeated(
      app, "--chip-content", [&p](const std::string& text) { p.chipContents.push_back(ReadChipContent(text)); },
      "FILE[@OFFSET]", "every fresh chip holds the bytes of FILE from OFFSET of its memory (default: erased); repeatable");

  AddRepeated(
      app, "--stuck-byte", [&p](const std::string& text) { p.stuckBytes.push_back(ParseStuckByte(text)); },
      "OFFSET=VALUE", "every chip holds VALUE at OFFSET of its memory, whatever is programmed or erased; repeatable");

  AddNumber(app, "--auto-cycles", p.autoCycles, 0, 1000000,
            "after every completed download, run N stand-alone cycles by itself (default 0)");
  uint32_t cycleInterval = 100;
  AddNumber(app, "--cycle-interval-ms", cycleInterval, 0, 3600000,
            "pause before each cycle of --auto-cycles, in milliseconds (default 100)");
  const CLI::Option* dump =
      app.add_option("--dump-chips", settings.dumpDirectory,
                     "write every chip a stand-alone cycle leaves, and each socket's chip at the end, to this "
                     "existing directory")
          ->type_name("DIR");

  app.add_option("--capture", settings.capturePrefix,
                 "append every byte each programmer receives from the host, raw, to FILE.N (N = 1, 2, ...); "
                 "the files are created anew")
      ->type_name("FILE");

  app.add_option_function<std::string>(
         "--firmware-file", [&p](const std::string& path) { p.expectedFirmware = ReadExpectedFirmware(path); },
         "the firmware file the boot loader expects: every firmware chunk is checked against it, and a complete "
         "upgrade makes the programmer report Velkor350QN and the file's version (default: chunks are not checked)")
      ->type_name("FILE");

  FaultOptions& faults = p.faults;
  AddRepeated(
      app, "--fail", [&faults](const std::string& text) { faults.failures.push_back(ParseFailureRule(text)); },
      "CODE[/SUB][@POS]=STATUS",
      "answer STATUS instead of carrying out the command CODE (with sub-operation SUB, at block position POS in KB); "
      "repeatable");
  AddRepeated(
      app, "--drop-reply",
      [&faults](const std::string& text) {
        faults.dropReplyTo.push_back(NumberOrThrow("--drop-reply", text, 1, UINT32_MAX));
      },
      "N", "lose the reply to the Nth request (queries included, counted from 1); repeatable");
  AddRepeated(
      app, "--corrupt-reply",
      [&faults](const std::string& text) {
        faults.corruptReply.push_back(NumberOrThrow("--corrupt-reply", text, 1, UINT32_MAX));
      },
      "N", "send the Nth reply that carries a check value with a wrong one; repeatable");
  app.add_option_function<std::string>(
         "--noise", [&faults](const std::string& text) { faults.noise = ParseHexBytes("--noise", text, 64); },
         "bytes sent in front of every frame, in hexadecimal, for example C0125A")
      ->type_name("HEX");
  AddRepeated(
      app, "--fail-cycle",
      [&faults](const std::string& text) { faults.cycleFailures.push_back(ParseCycleFailure(text)); },
      "N=STATUS", "the Nth stand-alone cycle (counted from 1) ends at its start with result STATUS; repeatable");
  uint32_t stallAfter = 0;
  const CLI::Option* stall = AddNumber(app, "--stall-after", stallAfter, 0, UINT32_MAX,
                                       "answer nothing after the first N requests");
  uint32_t hangUpAfter = 0;
  const CLI::Option* hangUp = AddNumber(app, "--hang-up-after", hangUpAfter, 0, UINT32_MAX,
                                        "close the pseudo-terminal instead of handling the block after the first N");
  uint32_t hangUpInReply = 0;
  const CLI::Option* hangUpCut =
      AddNumber(app, "--hang-up-in-reply", hangUpInReply, 1, UINT32_MAX,
                "send only the first half of the frame of the reply to the Nth request, then close the "
                "pseudo-terminal");
  AddRepeated(
      app, "--cut-reply",
      [&faults](const std::string& text) {
        faults.cutReplyTo.push_back(NumberOrThrow("--cut-reply", text, 1, UINT32_MAX));
      },
      "N", "send only the first half of the frame of the reply to the Nth request, then go on; repeatable");
  AddRepeated(
      app, "--wrong-reply",
      [&faults](const std::string& text) {
        faults.wrongReplyTo.push_back(NumberOrThrow("--wrong-reply", text, 1, UINT32_MAX));
      },
      "N",
      "carry out the Nth request but answer it with another command's reply: a status reply becomes a block read's "
      "data reply, a data or identification reply a program block's status reply; repeatable");
  app.add_flag("--garbage-identification", faults.garbageIdentification,
               "answer every identification query with garbage: unframed bytes, then a frame that is no "
               "identification");

  LineOptions& line = settings.line;
  AddNumber(app, "--split", line.splitBytes, 1, 65536, "write at most N bytes at a time");
  uint32_t splitDelay = 1000;
  AddNumber(app, "--split-delay-us", splitDelay, 0, 1000000,
            "pause between the writes of --split, in microseconds (default 1000)");
  app.add_flag("--wire-summary", settings.wireSummary,
               "write the bytes each programmer received and sent, and the requests it took, to standard error "
               "at the end and on SIGUSR2");
  app.add_flag("--pace", line.paced, "send at the line's speed: 11 us per byte (1,000,000 baud, 8N2)");
  uint32_t blockTime = 0;
  AddNumber(app, "--block-time-us", blockTime, 0, 10000000,
            "time the chip takes per 4 KB block before its answer goes out, in microseconds (default 0)");
  uint32_t adapterLatency = 0;
  AddNumber(app, "--adapter-latency-ms", adapterLatency, 0, 255,
            "put a USB serial adapter with this latency timer between the line and the host: a partial USB packet "
            "is held until the timer runs out (FTDI default 16; default 0, no adapter)");
  AddNumber(app, "--adapter-packet", settings.adapter.packetBytes, 1, 4096,
            "the adapter's USB packet payload in bytes (default 62, an FT232R's)");

  try {
    app.parse(argc, argv);
    sn.current = current->count() > 0 ? currentSerial : sn.initial;
    if (stall->count() > 0) faults.stallAfterRequests = stallAfter;
    if (hangUp->count() > 0) faults.hangUpAfterBlocks = hangUpAfter;
    if (hangUpCut->count() > 0) faults.hangUpInReplyTo = hangUpInReply;
    line.splitDelay = std::chrono::microseconds(splitDelay);
    line.blockTime = std::chrono::microseconds(blockTime);
    settings.adapter.latency = std::chrono::milliseconds(adapterLatency);
    settings.cycleInterval = std::chrono::milliseconds(cycleInterval);
    if (dump->count() > 0) CheckDumpDirectory(settings.dumpDirectory);
    CheckName(p);
  } catch (const CLI::ParseError& e) {
    return {std::nullopt, app.exit(e, out, err)};
  }
  return {settings, 0};
}

}  // namespace velkor::sim
