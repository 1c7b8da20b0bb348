// Matching what a person types against chip names. Only ASCII letters are
// folded: chip names are part numbers, and the few that hold Chinese text
// are matched byte for byte.
#pragma once

#include <string>
#include <string_view>

namespace velkor {

// The text with ASCII capitals made small; every other byte as it is.
std::string FoldNameCase(std::string_view text);

// Whether name holds foldedPart (already folded) without regard to case.
bool NameContains(std::string_view name, std::string_view foldedPart);

}  // namespace velkor
