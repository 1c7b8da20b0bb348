#include "chips/name_match.hpp"

#include <algorithm>

namespace velkor {

std::string FoldNameCase(std::string_view text) {
  std::string folded(text);
  std::transform(folded.begin(), folded.end(), folded.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return folded;
}

bool NameContains(std::string_view name, std::string_view foldedPart) {
  return FoldNameCase(name).find(foldedPart) != std::string::npos;
}

}  // namespace velkor
