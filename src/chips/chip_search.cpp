#include "chips/chip_search.hpp"

#include "chips/name_match.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr std::string_view kBlanks = " \t\r\n\f\v";
constexpr std::string_view kPathStep = " › ";

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

void SearchLevel(const std::vector<ChipMenuNode>& level, const std::string& foldedQuery,
                 std::vector<std::string>& path, std::vector<ChipSearchMatch>& found) {
  for (const ChipMenuNode& node : level) {
    if (node.hidden) continue;
    switch (node.kind) {
      case ChipMenuNode::Kind::Separator:
        break;
      case ChipMenuNode::Kind::Submenu:
        path.push_back(node.caption);
        SearchLevel(node.children, foldedQuery, path, found);
        path.pop_back();
        break;
      case ChipMenuNode::Kind::Entry:
        if (node.entry != nullptr && !node.entry->hidden && NameContains(node.caption, foldedQuery))
          found.push_back({node.entry, path});
        break;
    }
  }
}

}  // namespace

std::vector<ChipSearchMatch> SearchChipMenu(const std::vector<ChipMenuNode>& menu, std::string_view query) {
  std::vector<ChipSearchMatch> found;
  const std::string foldedQuery = FoldNameCase(TrimBlanks(query));
  if (foldedQuery.empty()) return found;
  std::vector<std::string> path;
  SearchLevel(menu, foldedQuery, path, found);
  return found;
}

std::vector<ChipSearchMatch> SearchChipMenu(std::string_view query) { return SearchChipMenu(ChipMenu(), query); }

std::string ChipMenuPathText(const ChipSearchMatch& match) {
  std::string text;
  for (const std::string& submenu : match.path) {
    text += Tx(std::string_view(submenu));
    text += kPathStep;
  }
  if (match.entry != nullptr) text += match.entry->caption;
  return text;
}

}  // namespace velkor
