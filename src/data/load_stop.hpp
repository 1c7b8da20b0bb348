// How the text parsers tell the operator that a load stopped early.
#pragma once

#include "data/image_report.hpp"
#include "data/object_file.hpp"

namespace velkor {

// A log line with the line number and the reason; data refused because it
// lies beyond the image also raises a warning box. Nothing for code 0.
void ReportLineStop(const LoadOutcome& outcome, ImageReport& report);

}  // namespace velkor
