#include "data/checksum_follow.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "data/image_checksums.hpp"
#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr uint16_t kLinkCrcFeedback = 0x4A12;

// A linear map of the 16-bit register, as the images of its 16 unit vectors.
using RegisterMap = std::array<uint16_t, 16>;

uint16_t ApplyMap(const RegisterMap& map, uint16_t reg) {
  uint16_t result = 0;
  for (int bit = 0; bit < 16; ++bit)
    if (reg >> bit & 1u) result ^= map[static_cast<std::size_t>(bit)];
  return result;
}

// One zero byte into the register: LinkCrc16's step with a zero input.
uint16_t ZeroStep(uint16_t reg) { return static_cast<uint16_t>(((reg & 1u) ? kLinkCrcFeedback : 0) ^ (reg >> 1)); }

// The step applied 2^k times, for k = 0..63.
const std::array<RegisterMap, 64>& StepPowers() {
  static const std::array<RegisterMap, 64> powers = [] {
    std::array<RegisterMap, 64> p{};
    for (int bit = 0; bit < 16; ++bit) p[0][static_cast<std::size_t>(bit)] = ZeroStep(static_cast<uint16_t>(1u << bit));
    for (std::size_t k = 1; k < p.size(); ++k)
      for (std::size_t bit = 0; bit < 16; ++bit) p[k][bit] = ApplyMap(p[k - 1], ApplyMap(p[k - 1], static_cast<uint16_t>(1u << bit)));
    return p;
  }();
  return powers;
}

}  // namespace

uint16_t AdvanceLinkCrc(uint16_t reg, uint64_t zeroBytes) {
  const auto& powers = StepPowers();
  for (std::size_t k = 0; zeroBytes != 0; ++k, zeroBytes >>= 1)
    if (zeroBytes & 1u) reg = ApplyMap(powers[k], reg);
  return reg;
}

void FollowEditInChecksums(ImageBuffer& image, const AppliedEdit& edit, ImageReport& report) {
  if (!image.SumsComputed || edit.before.empty()) return;
  const uint64_t first = std::max<uint64_t>(edit.address, image.SumFirst);
  const uint64_t last = std::min<uint64_t>(uint64_t{edit.address} + edit.before.size() - 1, image.SumLast);
  if (last < first) return;
  const uint8_t* now = image.Data.get();
  const uint8_t* was = edit.before.data() + (first - edit.address);
  const std::size_t length = static_cast<std::size_t>(last - first + 1);

  // The sum of the range changes by the sum of the new bytes less the old.
  const uint32_t added = ByteSum32Wide(now, static_cast<uint32_t>(first), static_cast<uint32_t>(last));
  const uint32_t removed = ByteSum32Wide(was, 0, static_cast<uint32_t>(length - 1));
  image.AccSum16 = static_cast<uint16_t>(image.AccSum16 - (added - removed));

  if (image.CrcComputed) {
    std::vector<uint8_t> difference(length);
    for (std::size_t i = 0; i < length; ++i) difference[i] = static_cast<uint8_t>(now[first + i] ^ was[i]);
    const uint16_t contribution = LinkCrc16Sliced(difference.data(), 0, static_cast<uint32_t>(length - 1));
    image.Crc16 ^= AdvanceLinkCrc(contribution, image.SumLast - last);
  }
  report.SetStatusPanel(kAccPanel, FormatText(Tx(kAccPanelText), unsigned{image.AccSum16}));
  report.SetStatusPanel(kCrcPanel, FormatText(Tx(kCrcPanelText), unsigned{image.Crc16}));
}

}  // namespace velkor
