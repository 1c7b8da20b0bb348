// Well-formed Intel HEX and S-record lines for tests, with their checksums.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace velkor::test {

inline std::string HexBytes(const std::vector<uint8_t>& bytes) {
  std::string text;
  char pair[3];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    text += pair;
  }
  return text;
}

// ":" count address type data checksum
inline std::string IntelLine(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> body = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                               static_cast<uint8_t>(address), type};
  body.insert(body.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : body) sum = static_cast<uint8_t>(sum + b);
  body.push_back(static_cast<uint8_t>(0x100 - sum));
  return ":" + HexBytes(body);
}

// "S" type count address data checksum; address width from the type.
inline std::string SLine(int type, uint32_t address, const std::vector<uint8_t>& data) {
  static const int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
  const int width = kAddressBytes[type];
  std::vector<uint8_t> body = {static_cast<uint8_t>(width + data.size() + 1)};
  for (int k = width - 1; k >= 0; --k) body.push_back(static_cast<uint8_t>(address >> (8 * k)));
  body.insert(body.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : body) sum = static_cast<uint8_t>(sum + b);
  body.push_back(static_cast<uint8_t>(~sum));
  return "S" + std::to_string(type) + HexBytes(body);
}

// The same line with its checksum pair replaced by one that is wrong.
inline std::string WrongChecksum(std::string line) {
  char& last = line[line.size() - 1];
  last = last == '0' ? '1' : '0';
  return line;
}

}  // namespace velkor::test
