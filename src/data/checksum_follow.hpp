// The image's two checksums brought up to date after an edit, at a cost that
// depends on the edit's length, not the image's: the byte sum by the
// difference of the edited bytes, the CRC by the contribution of the
// difference, which the link's shift register (linear, no inversion) shifts
// along as if the rest of the range were zero bytes.
#pragma once

#include <cstdint>

#include "data/hex_edit.hpp"
#include "data/image_buffer.hpp"
#include "data/image_report.hpp"

namespace velkor {

// The register of LinkCrc16 after `zeroBytes` more zero bytes.
uint16_t AdvanceLinkCrc(uint16_t reg, uint64_t zeroBytes);

// The bytes of edit.Range() were edit.before and now hold the image's
// bytes: AccSum16 and Crc16 become what UpdateChecksums would compute over
// the same range, and the status bar shows them.
void FollowEditInChecksums(ImageBuffer& image, const AppliedEdit& edit, ImageReport& report);

}  // namespace velkor
