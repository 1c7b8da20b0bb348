#include "sim/identification.hpp"

#include <algorithm>
#include <cstring>

#include "link/reply_check.hpp"

namespace velkor::sim {

namespace {

constexpr std::size_t L = kIdentificationReplyLength;
constexpr std::size_t kSerialEnabledOffset = L - 59;
constexpr std::size_t kSerialWidthOffset = L - 58;
constexpr std::size_t kSerialIncrementOffset = L - 57;
constexpr std::size_t kSerialAddressOffset = L - 55;
constexpr std::size_t kSerialInitialOffset = L - 51;
constexpr std::size_t kSerialCurrentOffset = L - 23;
constexpr uint8_t kSerialNumberWidth = 4;

static_assert(L <= 0xFF, "byte 3 carries the length and must not be 0");
static_assert(kNameOffset + kLongestFullName < L - 60, "the name must end before the serial-number block");

void PutLittleEndian(IdentificationReply& reply, std::size_t offset, uint32_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) reply[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

IdentificationReply BuildIdentificationReply(const ProgrammerOptions& options) {
  IdentificationReply reply{};
  std::copy(std::begin(kIdentitySignature), std::end(kIdentitySignature), reply.begin());
  PutLittleEndian(reply, 3, L, 2);
  reply[kCapabilityOffset] = options.capability;

  const std::string name = FullName(options);
  std::memcpy(reply.data() + kNameOffset, name.data(), std::min(name.size(), kLongestFullName));

  const SerialNumberSettings& sn = options.serialNumbers;
  reply[kSerialEnabledOffset] = sn.enabled ? 1 : 0;
  reply[kSerialWidthOffset] = kSerialNumberWidth;
  PutLittleEndian(reply, kSerialIncrementOffset, sn.increment, 2);
  PutLittleEndian(reply, kSerialAddressOffset, sn.startAddress, 4);
  PutLittleEndian(reply, kSerialInitialOffset, sn.initial, 4);
  PutLittleEndian(reply, kSerialCurrentOffset, sn.current, 4);
  return reply;
}

bool IsIdentificationQuery(const uint8_t* packet, std::size_t length) {
  return length == sizeof kIdentitySignature && std::memcmp(packet, kIdentitySignature, length) == 0;
}

}  // namespace velkor::sim
