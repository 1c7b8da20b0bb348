#include "app/serial_generator.hpp"

#include <cctype>
#include <csignal>
#include <cstring>

#include "data/text_format.hpp"
#include "platform/program_run.hpp"
#include "text/text_table.hpp"

namespace velkor {
namespace {

// Room for the most bytes as pairs with separators and a line end; a
// generator printing more is stopped at once.
constexpr std::size_t kMostOutput = 3 * kMostGeneratedBytes + 2;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string HexText(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (const uint8_t b : bytes) text += FormatText("%02X", b);
  return text;
}

}  // namespace

std::optional<std::vector<uint8_t>> ParseGeneratedBytes(std::string_view output, std::string& error) {
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.remove_suffix(1);
  std::vector<uint8_t> bytes;
  int high = -1;
  for (const char c : output) {
    const int digit = HexDigit(c);
    if (digit < 0) {
      const bool separator = c == ' ' || c == '\t' || c == ':' || c == '-';
      if (separator && high < 0) continue;
      error = c == '\n' ? Tx("it printed more than one line") : Tx("it printed something other than hexadecimal digits");
      return std::nullopt;
    }
    if (high < 0) {
      high = digit;
      continue;
    }
    bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
    high = -1;
  }
  if (high >= 0) {
    error = Tx("it printed an odd number of hexadecimal digits");
    return std::nullopt;
  }
  if (bytes.empty()) {
    error = Tx("it printed no bytes");
    return std::nullopt;
  }
  if (bytes.size() > kMostGeneratedBytes) {
    error = FormatText(Tx("it printed %zu bytes, more than the %zu a serial number may have"), bytes.size(),
                       kMostGeneratedBytes);
    return std::nullopt;
  }
  return bytes;
}

std::optional<SerialValue> SerialGenerator::TakeValue(int, std::string& error) {
  if (!returned_.empty()) {
    const std::vector<uint8_t> bytes = *returned_.begin();
    returned_.erase(returned_.begin());
    return SerialValue{std::nullopt, bytes, HexText(bytes)};
  }
  const uint64_t index = nextIndex_;
  const std::string indexText = std::to_string(index);
  const ProgramRun run = RunProgram(program_, {indexText}, {"VELKOR_SN_INDEX=" + indexText}, limit_, kMostOutput);
  std::string what;
  switch (run.end) {
    case ProgramRun::End::NotStarted:
      what = FormatText(Tx("it could not be started (%s)"), run.reason.c_str());
      break;
    case ProgramRun::End::TimedOut:
      what = FormatText(Tx("it did not answer within %lld ms and was stopped"), static_cast<long long>(limit_.count()));
      break;
    case ProgramRun::End::TooMuchOutput:
      what = FormatText(Tx("it printed more than the %zu bytes a serial number may have, and was stopped"),
                        kMostGeneratedBytes);
      break;
    case ProgramRun::End::Signalled:
      what = FormatText(Tx("it was ended by signal %d (%s)"), run.signal, strsignal(run.signal));
      break;
    case ProgramRun::End::Exited:
      if (run.exitStatus != 0) what = FormatText(Tx("it ended with exit status %d"), run.exitStatus);
      break;
  }
  std::optional<std::vector<uint8_t>> bytes;
  if (what.empty()) bytes = ParseGeneratedBytes(run.output, what);
  if (!bytes) {
    error = FormatText(Tx("The serial-number generator %s gave no number for chip %llu: %s."), program_.c_str(),
                       static_cast<unsigned long long>(index), what.c_str());
    return std::nullopt;
  }
  nextIndex_ += indexStep_;
  return SerialValue{std::nullopt, *bytes, HexText(*bytes)};
}

void SerialGenerator::DoneValue(int, const SerialValue& value, NumberEnd end) {
  if (end == NumberEnd::NotUsed || (end == NumberEnd::Failed && policy_ == FailedValuePolicy::Reuse))
    returned_.insert(value.bytes);
}

}  // namespace velkor
