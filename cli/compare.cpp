#include "cli/compare.hpp"

#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/convert.hpp"
#include "app/headless_load.hpp"
#include "chips/chip_lookup.hpp"
#include "cli/exit_status.hpp"
#include "cli/session.hpp"
#include "data/image_compare.hpp"
#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor::cli {

namespace {

using Json = nlohmann::ordered_json;

// The kept bytes of one side for programs: "12AB" (the range's length says
// whether more follow).
std::string HexBytes(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (const uint8_t byte : bytes) text += FormatText("%02X", unsigned{byte});
  return text;
}

Json ComparisonJson(const ImageComparison& c, const CompareOptions& options, const std::string& chip) {
  Json ranges = Json::array();
  for (const DifferingRange& range : c.ranges)
    ranges.push_back(Json{{"address", range.address},
                          {"length", range.length},
                          {"a", HexBytes(range.firstOfA)},
                          {"b", HexBytes(range.firstOfB)}});
  return Json{{"event", "comparison"},
              {"chip", chip},
              {"a", options.a},
              {"b", options.b},
              {"first", c.first},
              {"last", c.last},
              {"compared", c.compared},
              {"equal", c.Equal()},
              {"differing_bytes", c.differingBytes},
              {"range_count", c.rangeCount},
              {"truncated", c.truncated},
              {"ranges", ranges}};
}

}  // namespace

int RunCompare(const CompareOptions& options, bool json, bool logLines) {
  const ChipLookup lookup = LookUpChip(options.chip);
  if (!lookup.entry) {
    std::cerr << "velkor-cli: " << ChipNotFoundText(options.chip, lookup) << '\n';
    return kExitUsage;
  }
  if (options.a == kStandardStreamName && options.b == kStandardStreamName) {
    std::cerr << "velkor-cli: " << Tx("compare reads at most one of its files from standard input.") << '\n';
    return kExitUsage;
  }
  std::ostream discarded(nullptr);
  std::ostream& log = logLines ? std::cerr : discarded;

  // Each file in an image of its own, loaded and checked as the window loads.
  std::unique_ptr<HeadlessLoad> images[2];
  const std::string* names[2] = {&options.a, &options.b};
  std::optional<StandardInputFile> standardInput;
  for (int side = 0; side < 2; ++side) {
    const std::string& name = *names[side];
    if (name == kStandardStreamName) {
      try {
        standardInput.emplace();
      } catch (const EInOutError& e) {
        std::cerr << "velkor-cli: " << e.what() << '\n';
        return kExitRefused;
      }
    }
    const bool fromStandardInput = name == kStandardStreamName;
    images[side] = std::make_unique<HeadlessLoad>(*lookup.entry, log, std::cerr);
    if (!images[side]->Load(fromStandardInput ? standardInput->Path() : name,
                            fromStandardInput ? Tx("standard input") : name, options.format, options.allowTruncate))
      return kExitRefused;
  }

  // The whole chip: what programming leaves in it, a byte no file wrote
  // being erased, whatever range each file's own data covers.
  const uint32_t chipSize = images[0]->Programmer().Chip.Size;
  const ImageComparison comparison =
      CompareImages(images[0]->Programmer().Image.Data.get(), images[1]->Programmer().Image.Data.get(), 0,
                    chipSize - 1, options.maxRanges);
  if (json) {
    std::cout << ComparisonJson(comparison, options, lookup.entry->caption)
                     .dump(-1, ' ', false, Json::error_handler_t::replace)
              << '\n';
  } else {
    for (const DifferingRange& range : comparison.ranges) std::cout << DifferingRangeLine(range) << '\n';
    std::cout << ComparisonSummary(comparison) << '\n';
  }
  return comparison.Equal() ? kExitOk : kExitFailed;
}

}  // namespace velkor::cli
