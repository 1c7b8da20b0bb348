// A comparison of two images kept up to date as one of them is edited: the
// differing runs that touch the edit are compared as they were and as they
// are, and the counts and the list change by the difference. An edit costs
// what its own bytes and the runs around it cost, not what the image does.
#pragma once

#include <cstdint>

#include "data/hex_edit.hpp"
#include "data/image_compare.hpp"

namespace velkor {

// Image a was changed by edit (its bytes were edit.before); comparison (of
// a with b) becomes what CompareImages would now give, listing up to
// maxRanges ranges.
void FollowEditInComparison(ImageComparison& comparison, const uint8_t* a, const uint8_t* b, const AppliedEdit& edit,
                            std::size_t maxRanges);

}  // namespace velkor
