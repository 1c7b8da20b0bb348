#include "chips/catalogue_listing.hpp"

#include <algorithm>
#include <vector>

#include <nlohmann/json.hpp>

#include "chips/catalogue.hpp"

namespace velkor {

std::string CatalogueOrigin(const CatalogueEntry& entry) {
  return entry.origin.empty() ? "built-in" : "user: " + entry.origin;
}

void WriteCatalogueListing(std::ostream& out) {
  for (const CatalogueEntry& entry : ChipCatalogue()) {
    std::vector<FieldAssignment> fields = entry.fields;
    std::stable_sort(fields.begin(), fields.end(),
                     [](const FieldAssignment& a, const FieldAssignment& b) { return a.field < b.field; });
    nlohmann::ordered_json assigned = nlohmann::ordered_json::object();
    for (const FieldAssignment& a : fields) assigned[ChipFieldName(a.field)] = a.value;

    nlohmann::ordered_json line;
    line["menu"] = entry.menu;
    line["caption"] = entry.caption;
    line["hidden"] = entry.hidden;
    line["fields"] = std::move(assigned);
    line["origin"] = CatalogueOrigin(entry);
    out << line.dump() << '\n';
  }
}

}  // namespace velkor
