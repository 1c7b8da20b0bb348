// A comparison of two images kept up to date as one of them is edited: the
// ranges around the edit are compared again and spliced into the list, so
// an edit costs what its own bytes cost, not what the image does.
#pragma once

#include <cstdint>

#include "data/hex_edit.hpp"
#include "data/image_compare.hpp"

namespace velkor {

// a or b changed over edited; comparison (of a with b) becomes what
// CompareImages would now give, listing up to maxRanges ranges.
void FollowEditInComparison(ImageComparison& comparison, const uint8_t* a, const uint8_t* b, ByteRange edited,
                            std::size_t maxRanges);

}  // namespace velkor
