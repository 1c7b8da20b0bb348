#include "sim/command_line.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>

#include "sim/identification.hpp"

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
      "programmer report a short programming cycle.",
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

  try {
    app.parse(argc, argv);
    sn.current = current->count() > 0 ? currentSerial : sn.initial;
    CheckName(p);
  } catch (const CLI::ParseError& e) {
    return {std::nullopt, app.exit(e, out, err)};
  }
  return {settings, 0};
}

}  // namespace velkor::sim
