#include "chips/catalogue_file.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <utility>

#include "chips/chip_params.hpp"
#include "data/image_buffer.hpp"
#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

using Json = nlohmann::ordered_json;

constexpr uint32_t KiB = 1024;
constexpr uint32_t MiB = 1024 * 1024;
// The largest chip the image buffer and the programmer take.
constexpr uint32_t kLargestChip = 128 * MiB;
// Above this a flash chip needs 4-byte addresses (ModeFlags 0x10).
constexpr uint32_t kLargestThreeByteFlash = 16 * MiB;
constexpr uint32_t kFourByteAddresses = 0x10;
constexpr uint32_t kFlashBlock = 4 * KiB;
constexpr uint32_t kLargestPage = 256;  // the page-size box's largest value
constexpr std::size_t kLongestName = 64;
constexpr std::size_t kDeepestMenu = 4;
constexpr const char* kMissingMember = TextKey("missing member %s");

constexpr ChipField kAllFields[] = {
    ChipField::Family,    ChipField::SubType, ChipField::Size,      ChipField::PageSize,    ChipField::AddrStyle,
    ChipField::ModeFlags, ChipField::IdByte1, ChipField::IdByte2,   ChipField::EraseTime,   ChipField::LowVoltChip,
    ChipField::ForceQe,   ChipField::PageFlash, ChipField::HideProtect, ChipField::OptionBits};

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::optional<ChipField> FieldNamed(std::string_view name) {
  for (ChipField f : kAllFields)
    if (name == ChipFieldName(f)) return f;
  return std::nullopt;
}

// The largest value a field holds in the chip's parameters.
uint32_t LargestValue(ChipField field) {
  switch (field) {
    case ChipField::LowVoltChip:
    case ChipField::ForceQe:
    case ChipField::PageFlash:
    case ChipField::HideProtect: return 1;
    case ChipField::EraseTime: return 0xFFFF;
    case ChipField::Size: return kLargestChip;
    case ChipField::PageSize: return kLargestPage;
    default: return 0xFF;
  }
}

uint32_t SmallestValue(ChipField field) {
  return field == ChipField::Size || field == ChipField::PageSize ? 1 : 0;
}

// ---------------------------------------------------------------- text positions

// Where things are in a text that parsed as JSON: the line starts, the
// items of the top-level "chips" array, and keys repeated within an object
// (the parser keeps the last one silently).
struct TextIndex {
  std::vector<std::size_t> lineStarts{0};
  std::vector<std::size_t> chipItems;  // offset of each item's first character
  std::vector<std::pair<std::size_t, std::string>> repeatedKeys;
  std::size_t end = 0;

  std::size_t LineOf(std::size_t offset) const {
    return static_cast<std::size_t>(std::upper_bound(lineStarts.begin(), lineStarts.end(), offset) -
                                    lineStarts.begin());
  }
  // The line of "key": inside chip item i, else the item's own line.
  std::size_t LineOfKey(std::size_t item, std::string_view text, const std::string& key) const {
    const std::size_t from = chipItems.at(item);
    const std::size_t to = item + 1 < chipItems.size() ? chipItems[item + 1] : end;
    const std::string quoted = Quoted(key);
    for (std::size_t at = text.find(quoted, from); at != std::string_view::npos && at < to;
         at = text.find(quoted, at + 1)) {
      std::size_t next = at + quoted.size();
      while (next < to && (text[next] == ' ' || text[next] == '\t' || text[next] == '\r' || text[next] == '\n')) ++next;
      if (next < to && text[next] == ':') return LineOf(at);
    }
    return LineOf(from);
  }
};

TextIndex IndexText(std::string_view text) {
  TextIndex index;
  index.end = text.size();
  struct Frame {
    bool object;
    bool expectKey;
    std::set<std::string> keys;
  };
  std::vector<Frame> stack;
  std::string topKey;  // the member of the top-level object being read
  bool awaitingChip = false;
  auto inChips = [&] { return stack.size() == 2 && !stack[1].object && topKey == "chips"; };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') {
      index.lineStarts.push_back(i + 1);
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r') continue;
    if (awaitingChip && c != ']' && inChips()) {
      index.chipItems.push_back(i);
      awaitingChip = false;
    }
    switch (c) {
      case '"': {
        const std::size_t begin = i;
        for (++i; i < text.size() && text[i] != '"'; ++i)
          if (text[i] == '\\') ++i;
        const std::string raw(text.substr(begin + 1, i - begin - 1));
        if (!stack.empty() && stack.back().object && stack.back().expectKey) {
          stack.back().expectKey = false;
          if (!stack.back().keys.insert(raw).second) index.repeatedKeys.emplace_back(begin, raw);
          if (stack.size() == 1) topKey = raw;
        }
        break;
      }
      case '{': stack.push_back({true, true, {}}); break;
      case '[':
        stack.push_back({false, false, {}});
        awaitingChip = inChips();
        break;
      case '}':
      case ']':
        if (!stack.empty()) stack.pop_back();
        awaitingChip = false;
        break;
      case ',':
        if (!stack.empty() && stack.back().object) stack.back().expectKey = true;
        if (inChips()) awaitingChip = true;
        break;
      default: break;
    }
  }
  return index;
}

// The parser's reason without its own prefix ("[json.exception...] parse
// error at line 3, column 5: ").
std::string ParseReason(const nlohmann::json::parse_error& error) {
  std::string what = error.what();
  if (const std::size_t colon = what.find(": "); colon != std::string::npos) what = what.substr(colon + 2);
  return what;
}

// Parses text; on a syntax error returns nothing and the problem with its line.
std::optional<Json> Parse(std::string_view text, std::vector<FileProblem>& problems) {
  try {
    return Json::parse(text.begin(), text.end());
  } catch (const nlohmann::json::parse_error& error) {
    // The parser counts the bytes it read, the one it stopped at included.
    const std::size_t read = std::min<std::size_t>(error.byte > 0 ? error.byte - 1 : 0, text.size());
    const auto line = static_cast<std::size_t>(std::count(text.begin(), text.begin() + read, '\n')) + 1;
    problems.push_back({line, FormatText(Tx("not valid JSON: %s"), ParseReason(error).c_str())});
    return std::nullopt;
  }
}

// ---------------------------------------------------------------- values

// A whole number, or a string of hex digits after "0x".
std::optional<uint32_t> NumberOf(const Json& value, std::string& why) {
  if (value.is_number_unsigned()) {
    const uint64_t n = value.get<uint64_t>();
    if (n <= UINT32_MAX) return static_cast<uint32_t>(n);
    why = Tx("is too large");
    return std::nullopt;
  }
  if (value.is_number_integer()) {
    why = Tx("is negative");
    return std::nullopt;
  }
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() > 2 && text.size() <= 10 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
        text.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos)
      return static_cast<uint32_t>(std::stoul(text.substr(2), nullptr, 16));
  }
  why = Tx("is not a whole number (write it as 123 or \"0x7B\")");
  return std::nullopt;
}

// Why a caption or submenu name cannot be used; empty when it can.
std::string NameProblem(const Json& value) {
  if (!value.is_string()) return Tx("is not a text");
  const std::string& text = value.get_ref<const std::string&>();
  if (text.empty()) return Tx("is empty");
  if (text.size() > kLongestName) return FormatText(Tx("is longer than %zu bytes"), kLongestName);
  if (text.front() == ' ' || text.back() == ' ') return Tx("begins or ends with a blank");
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return Tx("holds a control character");
  return {};
}

// Reads "menu": a list of submenu names (an empty list: the top level).
std::optional<std::vector<std::string>> MenuOf(const Json& value, std::string& why) {
  if (!value.is_array()) {
    why = Tx("\"menu\" is not a list of submenu names");
    return std::nullopt;
  }
  if (value.size() > kDeepestMenu) {
    why = FormatText(Tx("\"menu\" is deeper than %zu submenus"), kDeepestMenu);
    return std::nullopt;
  }
  std::vector<std::string> menu;
  for (const Json& name : value) {
    if (const std::string problem = NameProblem(name); !problem.empty()) {
      why = FormatText(Tx("a submenu name in \"menu\" %s"), problem.c_str());
      return std::nullopt;
    }
    menu.push_back(name.get<std::string>());
  }
  return menu;
}

bool UnderHiddenMenu(const Catalogue& catalogue, const std::vector<std::string>& menu) {
  for (const auto& hidden : catalogue.hiddenSubmenus)
    if (hidden.size() <= menu.size() && std::equal(hidden.begin(), hidden.end(), menu.begin())) return true;
  return false;
}

void SortByLine(std::vector<FileProblem>& problems) {
  std::stable_sort(problems.begin(), problems.end(),
                   [](const FileProblem& a, const FileProblem& b) { return a.line < b.line; });
}

void SortFields(std::vector<FieldAssignment>& fields) {
  std::stable_sort(fields.begin(), fields.end(),
                   [](const FieldAssignment& a, const FieldAssignment& b) { return a.field < b.field; });
}

// Reads "fields" into assignments, each checked against the field's range.
// Problems go to report(line of the key, reason).
template <typename Report>
std::map<ChipField, uint32_t> FieldsOf(const Json& fields, Report&& report) {
  std::map<ChipField, uint32_t> assigned;
  for (const auto& [name, value] : fields.items()) {
    const std::optional<ChipField> field = FieldNamed(name);
    if (!field) {
      report(name, FormatText(Tx("unknown field %s"), Quoted(name).c_str()));
      continue;
    }
    std::string why;
    const std::optional<uint32_t> number = NumberOf(value, why);
    if (!number) {
      report(name, FormatText(Tx("the value of %s %s"), Quoted(name).c_str(), why.c_str()));
      continue;
    }
    if (*number < SmallestValue(*field) || *number > LargestValue(*field)) {
      report(name, FormatText(Tx("the value of %s (%s) is out of range (%s to %s)"), Quoted(name).c_str(),
                              std::to_string(*number).c_str(), std::to_string(SmallestValue(*field)).c_str(),
                              std::to_string(LargestValue(*field)).c_str()));
      continue;
    }
    assigned[*field] = *number;
  }
  return assigned;
}

// The problems of a repeated key inside item i.
void ReportRepeatedKeys(const TextIndex& index, std::vector<FileProblem>& problems) {
  for (const auto& [offset, key] : index.repeatedKeys)
    problems.push_back(
        {index.LineOf(offset), FormatText(Tx("%s is given twice in the same object"), Quoted(key).c_str())});
}

std::string KeyList(const std::vector<std::string>& keys) {
  std::string list;
  for (const std::string& key : keys) list += (list.empty() ? "" : ", ") + Quoted(key);
  return list;
}

// Problems with an object's members: the unknown ones, and the required
// ones that are missing.
template <typename Report>
void CheckMembers(const Json& object, const std::vector<std::string>& allowed, const std::vector<std::string>& required,
                  Report&& report) {
  for (const auto& item : object.items())
    if (std::find(allowed.begin(), allowed.end(), item.key()) == allowed.end())
      report(item.key(),
             FormatText(Tx("unknown member %s (known: %s)"), Quoted(item.key()).c_str(), KeyList(allowed).c_str()));
  for (const std::string& key : required)
    if (!object.contains(key)) report(std::string(), FormatText(Tx(kMissingMember), Quoted(key).c_str()));
}

// ---------------------------------------------------------------- family rules

const char* KindOf(uint8_t family) {
  if (family == kFamilyDataFlash528) return TextKey("flash with 528-byte pages");
  if (family == kFamilyController) return TextKey("controller with on-chip flash");
  if (family < kFirstEepromFamily) return TextKey("SPI NOR flash");
  if (family == kFamilyI2cEeprom) return TextKey("I2C EEPROM");
  if (family == kFamilySpiEeprom) return TextKey("SPI EEPROM");
  if (family == kFamilyMicrowire) return TextKey("Microwire EEPROM");
  if (family == kFamilySensor) return TextKey("SPD/temperature-sensor EEPROM");
  return TextKey("EEPROM");
}

bool Allows(const FamilyRules& rules, ChipField field) {
  auto has = [&](const std::vector<ChipField>& list) { return std::find(list.begin(), list.end(), field) != list.end(); };
  return field == ChipField::Family || has(rules.required) || has(rules.optional) ||
         std::any_of(rules.defaults.begin(), rules.defaults.end(),
                     [&](const FieldAssignment& a) { return a.field == field; });
}

std::vector<FamilyRules> ComputeFamilyRules() {
  std::map<uint8_t, std::vector<const CatalogueEntry*>> byFamily;
  for (const CatalogueEntry& entry : CompiledCatalogue().entries)
    for (const FieldAssignment& a : entry.fields)
      if (a.field == ChipField::Family) byFamily[static_cast<uint8_t>(a.value)].push_back(&entry);

  std::vector<FamilyRules> all;
  for (const auto& [family, entries] : byFamily) {
    FamilyRules rules;
    rules.family = family;
    rules.kind = KindOf(family);
    const bool flash = family < kFirstEepromFamily;
    for (ChipField field : kAllFields) {
      if (field == ChipField::Family) continue;
      std::set<uint32_t> values;
      std::size_t assigning = 0;
      for (const CatalogueEntry* entry : entries)
        for (const FieldAssignment& a : entry->fields)
          if (a.field == field) {
            ++assigning;
            values.insert(a.value);
          }
      const bool alwaysNeeded = field == ChipField::Size || (flash && field == ChipField::EraseTime);
      if (assigning == entries.size() && (values.size() > 1 || alwaysNeeded))
        rules.required.push_back(field);
      else if (assigning == entries.size())
        rules.defaults.push_back({field, *values.begin()});
      else if (assigning > 0 || alwaysNeeded)
        (alwaysNeeded ? rules.required : rules.optional).push_back(field);
    }
    if (family == kFamilyDataFlash528) {
      rules.smallestSize = rules.largestSize = kDataFlashPages * kDataFlashPageSize;
    } else if (flash) {
      rules.smallestSize = kFlashBlock;
      rules.sizeStep = kFlashBlock;
      rules.largestSize = Allows(rules, ChipField::ModeFlags) ? kLargestChip : kLargestThreeByteFlash;
    } else if (family == kFamilyMicrowire) {
      rules.smallestSize = 16;
      rules.largestSize = 2 * KiB;
    } else if (family == kFamilySensor) {
      rules.smallestSize = 256;
      rules.largestSize = 512;
    } else {
      rules.smallestSize = 16;
      rules.largestSize = 256 * KiB;
    }
    all.push_back(std::move(rules));
  }
  return all;
}

std::string FamilyList() {
  std::string list;
  for (const FamilyRules& rules : AllFamilyRules()) list += (list.empty() ? "" : ", ") + Hex(rules.family);
  return list;
}

std::string FieldList(const std::vector<ChipField>& fields) {
  std::string list;
  for (ChipField f : fields) list += (list.empty() ? "" : ", ") + std::string(ChipFieldName(f));
  return list;
}

std::string SizeText(uint32_t bytes) {
  if (bytes >= MiB && bytes % MiB == 0) return FormatText(Tx("%u MiB"), bytes / MiB);
  if (bytes >= KiB && bytes % KiB == 0) return FormatText(Tx("%u KiB"), bytes / KiB);
  return FormatText(Tx("%u bytes"), bytes);
}

// The assignments of a user's chip from what its file gives: the family's
// defaults for what it leaves out, checked against the family's rules.
template <typename Report>
std::vector<FieldAssignment> UserChipFields(std::map<ChipField, uint32_t> given, Report&& report) {
  const auto family = given.find(ChipField::Family);
  if (family == given.end()) {
    report("", FormatText(Tx("missing field \"Family\" (a family code: %s)"), FamilyList().c_str()));
    return {};
  }
  const FamilyRules* rules = FamilyRulesFor(family->second);
  if (!rules) {
    report("Family", FormatText(Tx("family code %s is not known (known: %s)"), Hex(family->second).c_str(),
                                FamilyList().c_str()));
    return {};
  }
  const std::string of = FormatText(Tx("family %s (%s)"), Hex(rules->family).c_str(), Tx(rules->kind));
  bool sound = true;
  for (const auto& [field, value] : given) {
    if (!Allows(*rules, field)) {
      report(ChipFieldName(field),
             FormatText(Tx("field %s is not one of %s"), Quoted(ChipFieldName(field)).c_str(), of.c_str()));
      sound = false;
    }
  }
  for (ChipField field : rules->required) {
    if (!given.count(field)) {
      report("", FormatText(Tx("missing field %s (%s needs %s)"), Quoted(ChipFieldName(field)).c_str(), of.c_str(),
                            FieldList(rules->required).c_str()));
      sound = false;
    }
  }
  for (const FieldAssignment& d : rules->defaults) given.emplace(d.field, d.value);
  if (!sound) return {};

  const uint32_t size = given.at(ChipField::Size);
  if (size < rules->smallestSize || size > rules->largestSize || size % rules->sizeStep != 0) {
    std::string range =
        rules->smallestSize == rules->largestSize
            ? FormatText(Tx("exactly %u bytes"), rules->smallestSize)
            : FormatText(Tx("%s to %s"), SizeText(rules->smallestSize).c_str(), SizeText(rules->largestSize).c_str());
    if (rules->sizeStep > 1) range += FormatText(Tx(", a multiple of %s"), SizeText(rules->sizeStep).c_str());
    report("Size", FormatText(Tx("Size %u is out of range for %s: %s"), size, of.c_str(), range.c_str()));
    sound = false;
  }
  const bool flash = rules->family < kFirstEepromFamily;
  if (flash && given.at(ChipField::EraseTime) == 0) {
    report("EraseTime", FormatText(Tx("EraseTime 0 is out of range for %s: 1 to 65535"), of.c_str()));
    sound = false;
  }
  if (flash && size > kLargestThreeByteFlash) {
    // Chips above 16 MiB are addressed with four bytes, as every such entry
    // of the table says.
    const auto mode = given.find(ChipField::ModeFlags);
    if (mode == given.end()) {
      given[ChipField::ModeFlags] = kFourByteAddresses;
    } else if (!(mode->second & kFourByteAddresses)) {
      report("ModeFlags", Tx("a chip above 16 MiB needs ModeFlags bit 0x10 (4-byte addresses)"));
      sound = false;
    }
  }
  if (const auto page = given.find(ChipField::PageSize); page != given.end() && !flash) {
    const uint32_t p = page->second;
    if ((p & (p - 1)) != 0 || p > size || size % p != 0) {
      report("PageSize", FormatText(Tx("PageSize %u does not fit: a power of two up to %s that divides Size"), p,
                                    std::to_string(kLargestPage).c_str()));
      sound = false;
    }
  }
  if (!sound) return {};
  std::vector<FieldAssignment> fields;
  for (const auto& [field, value] : given) fields.push_back({field, value});
  SortFields(fields);
  return fields;
}

}  // namespace

// ---------------------------------------------------------------- catalogue file

std::string WriteCatalogueFile(const Catalogue& catalogue) {
  std::string text = "{\n  \"format\": " + std::to_string(kCatalogueFileFormat) + ",\n";
  text += "  \"hidden_menus\": " + Json(catalogue.hiddenSubmenus).dump() + ",\n";
  text += "  \"chips\": [";
  std::vector<std::string> items;
  auto separatorsBefore = [&](std::size_t index) {
    for (const MenuSeparator& separator : catalogue.separators)
      if (separator.beforeEntry == index) {
        Json item;
        item["menu"] = separator.menu;
        item["separator"] = true;
        items.push_back(item.dump());
      }
  };
  for (std::size_t i = 0; i < catalogue.entries.size(); ++i) {
    separatorsBefore(i);
    const CatalogueEntry& entry = catalogue.entries[i];
    Json item;
    item["menu"] = entry.menu;
    item["caption"] = entry.caption;
    if (entry.hidden) item["hidden"] = true;
    Json fields = Json::object();
    for (const FieldAssignment& a : entry.fields) fields[ChipFieldName(a.field)] = a.value;
    item["fields"] = std::move(fields);
    items.push_back(item.dump());
  }
  separatorsBefore(catalogue.entries.size());
  for (std::size_t i = 0; i < items.size(); ++i) text += (i ? ",\n    " : "\n    ") + items[i];
  text += "\n  ]\n}\n";
  return text;
}

// What both kinds of file start with: a JSON object whose members are
// checked and whose format, if named, is this program's; nothing (with the
// problems) when the text is no JSON object.
struct ChipsDocument {
  Json json;
  TextIndex index;
};

std::optional<ChipsDocument> OpenChipsDocument(std::string_view text, const std::vector<std::string>& allowed,
                                               const std::vector<std::string>& required, const char* notAnObject,
                                               std::vector<FileProblem>& problems) {
  std::optional<Json> json = Parse(text, problems);
  if (!json) return std::nullopt;
  ChipsDocument document{std::move(*json), IndexText(text)};
  ReportRepeatedKeys(document.index, problems);
  if (!document.json.is_object()) {
    problems.push_back({1, notAnObject});
    return std::nullopt;
  }
  CheckMembers(document.json, allowed, required,
               [&](const std::string&, const std::string& why) { problems.push_back({1, why}); });
  if (document.json.contains("format") && document.json["format"] != kCatalogueFileFormat)
    problems.push_back({1, FormatText(Tx("\"format\" is not %s"), std::to_string(kCatalogueFileFormat).c_str())});
  return document;
}

// The document's "chips" list; nothing when there is none to read items
// from (a member that is no list is a problem).
const Json* ChipsList(const ChipsDocument& document, std::vector<FileProblem>& problems) {
  if (!document.json.contains("chips")) return nullptr;
  const Json& chips = document.json["chips"];
  if (chips.is_array()) return &chips;
  problems.push_back({1, Tx("\"chips\" is not a list")});
  return nullptr;
}

// Item i of the list: its line, and a report that names the line of the
// member at fault, or the item's.
std::size_t ItemLine(const TextIndex& index, std::size_t i) {
  return i < index.chipItems.size() ? index.LineOf(index.chipItems[i]) : 0;
}

auto ItemReport(const TextIndex& index, std::string_view text, std::size_t i, std::vector<FileProblem>& problems) {
  return [&index, text, i, &problems](const std::string& key, const std::string& why) {
    problems.push_back(
        {key.empty() || i >= index.chipItems.size() ? ItemLine(index, i) : index.LineOfKey(i, text, key), why});
  };
}

// The item's caption when it is a sound name named once in its file
// (namedTwice, a text with the caption and the first line to fill in, tells
// of one named twice); nothing otherwise.
template <typename Report>
std::optional<std::string> CaptionOf(const Json& item, std::size_t line, const char* namedTwice,
                                     std::map<std::string, std::size_t>& lineOfCaption, Report& report) {
  if (!item.contains("caption")) return std::nullopt;
  if (const std::string problem = NameProblem(item["caption"]); !problem.empty()) {
    report("caption", FormatText(Tx("the caption %s"), problem.c_str()));
    return std::nullopt;
  }
  std::string caption = item["caption"].get<std::string>();
  if (const auto [at, fresh] = lineOfCaption.emplace(caption, line); !fresh)
    report("caption", FormatText(Tx(namedTwice), Quoted(caption).c_str(), std::to_string(at->second).c_str()));
  return caption;
}

CatalogueFileReading ReadCatalogueFile(std::string_view text) {
  CatalogueFileReading reading;
  std::vector<FileProblem>& problems = reading.problems;
  const std::optional<ChipsDocument> document =
      OpenChipsDocument(text, {"format", "hidden_menus", "chips"}, {"format", "chips"},
                        Tx("the file does not hold a JSON object"), problems);
  if (!document) return reading;
  const Json* json = &document->json;
  const TextIndex& index = document->index;

  Catalogue catalogue;
  if (json->contains("hidden_menus")) {
    const Json& hidden = (*json)["hidden_menus"];
    bool sound = hidden.is_array();
    for (std::size_t i = 0; sound && i < hidden.size(); ++i) {
      std::string why;
      if (const auto menu = MenuOf(hidden[i], why); menu && !menu->empty())
        catalogue.hiddenSubmenus.push_back(*menu);
      else
        sound = false;
    }
    if (!sound) problems.push_back({1, Tx("\"hidden_menus\" is not a list of submenu paths")});
  }
  const Json* list = ChipsList(*document, problems);
  if (!list) return reading;

  const Json& chips = *list;
  std::map<std::string, std::size_t> lineOfCaption;
  for (std::size_t i = 0; i < chips.size(); ++i) {
    const std::size_t line = ItemLine(index, i);
    auto report = ItemReport(index, text, i, problems);
    const Json& item = chips[i];
    if (!item.is_object()) {
      report("", Tx("an item of \"chips\" is not an object"));
      continue;
    }
    std::string why;
    const auto menu = item.contains("menu") ? MenuOf(item["menu"], why) : std::nullopt;
    if (!menu) report("menu", why.empty() ? FormatText(Tx(kMissingMember), "\"menu\"") : why);
    if (item.contains("separator")) {
      CheckMembers(item, {"menu", "separator"}, {"menu"}, report);
      if (item["separator"] != true) report("separator", Tx("\"separator\" is not true"));
      if (menu) catalogue.separators.push_back({*menu, catalogue.entries.size()});
      continue;
    }
    CheckMembers(item, {"menu", "caption", "hidden", "fields"}, {"caption", "fields"}, report);
    CatalogueEntry entry;
    if (menu) entry.menu = *menu;
    if (auto caption =
            CaptionOf(item, line, TextKey("chip %s is named twice (first on line %s)"), lineOfCaption, report))
      entry.caption = std::move(*caption);
    if (item.contains("hidden")) {
      if (item["hidden"].is_boolean())
        entry.hidden = item["hidden"].get<bool>();
      else
        report("hidden", Tx("\"hidden\" is not true or false"));
    }
    if (item.contains("fields")) {
      if (!item["fields"].is_object()) {
        report("fields", Tx("\"fields\" is not an object"));
      } else {
        const auto fields = FieldsOf(item["fields"], report);
        for (const auto& [field, value] : fields) entry.fields.push_back({field, value});
        for (ChipField needed : {ChipField::Family, ChipField::Size})
          if (!fields.count(needed))
            report("", FormatText(Tx("missing field %s"), Quoted(ChipFieldName(needed)).c_str()));
      }
    }
    catalogue.entries.push_back(std::move(entry));
  }
  SortByLine(problems);
  if (problems.empty()) reading.catalogue = std::move(catalogue);
  return reading;
}

// ---------------------------------------------------------------- user chips

UserChipFileReading ReadUserChipFile(std::string_view text, const std::string& origin) {
  UserChipFileReading reading;
  std::vector<FileProblem>& problems = reading.problems;
  const std::optional<ChipsDocument> document = OpenChipsDocument(
      text, {"format", "chips"}, {"chips"}, Tx("the file does not hold a JSON object with a \"chips\" list"), problems);
  if (!document) return reading;
  const TextIndex& index = document->index;
  const Json* list = ChipsList(*document, problems);
  if (!list) return reading;

  const Json& chips = *list;
  std::map<std::string, std::size_t> lineOfCaption;
  std::vector<UserChip> read;
  for (std::size_t i = 0; i < chips.size(); ++i) {
    const std::size_t line = ItemLine(index, i);
    auto report = ItemReport(index, text, i, problems);
    const Json& item = chips[i];
    if (!item.is_object()) {
      report("", Tx("an item of \"chips\" is not an object"));
      continue;
    }
    const std::size_t before = problems.size();
    CheckMembers(item, {"caption", "menu", "fields"}, {"caption", "fields"}, report);
    UserChip chip;
    chip.line = line;
    chip.entry.origin = origin;
    chip.entry.menu = {kUserChipMenu};
    if (auto caption = CaptionOf(item, line, TextKey("chip %s is named twice in this file (first on line %s)"),
                                 lineOfCaption, report))
      chip.entry.caption = std::move(*caption);
    if (item.contains("menu")) {
      std::string why;
      if (const auto menu = MenuOf(item["menu"], why)) {
        chip.entry.menu = *menu;
        chip.menuGiven = true;
      } else {
        report("menu", why);
      }
    }
    if (item.contains("fields")) {
      if (!item["fields"].is_object()) {
        report("fields", Tx("\"fields\" is not an object"));
      } else {
        const std::size_t beforeFields = problems.size();
        auto given = FieldsOf(item["fields"], report);
        if (problems.size() == beforeFields) chip.entry.fields = UserChipFields(std::move(given), report);
      }
    }
    if (problems.size() == before) read.push_back(std::move(chip));
  }
  SortByLine(problems);
  if (problems.empty()) reading.chips = std::move(read);
  return reading;
}

std::size_t AddUserChips(Catalogue& catalogue, const std::vector<UserChip>& chips) {
  std::size_t replaced = 0;
  for (const UserChip& chip : chips) {
    auto same = std::find_if(catalogue.entries.begin(), catalogue.entries.end(),
                             [&](const CatalogueEntry& e) { return e.caption == chip.entry.caption; });
    if (same != catalogue.entries.end()) {
      ++replaced;
      if (!chip.menuGiven || chip.entry.menu == same->menu) {
        const bool hidden = same->hidden;
        const std::vector<std::string> menu = same->menu;
        *same = chip.entry;
        same->menu = menu;
        same->hidden = hidden;
        continue;
      }
      // Moved to the submenu it names: out of its old place first.
      const auto index = static_cast<std::size_t>(same - catalogue.entries.begin());
      catalogue.entries.erase(same);
      for (MenuSeparator& separator : catalogue.separators)
        if (separator.beforeEntry > index) --separator.beforeEntry;
    }
    CatalogueEntry entry = chip.entry;
    entry.hidden = UnderHiddenMenu(catalogue, entry.menu);
    catalogue.entries.push_back(std::move(entry));
  }
  return replaced;
}

const std::vector<FamilyRules>& AllFamilyRules() {
  static const std::vector<FamilyRules> rules = ComputeFamilyRules();
  return rules;
}

const FamilyRules* FamilyRulesFor(uint32_t family) {
  for (const FamilyRules& rules : AllFamilyRules())
    if (rules.family == family) return &rules;
  return nullptr;
}

}  // namespace velkor
