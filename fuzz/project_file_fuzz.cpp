// Project-file reading as the Load Project command does it: the header with
// its checks, then, once the header is complete, the data block for the
// used range the file itself sets (the range the load puts in force).
//
// The data block goes into a buffer of its own instead of the 130 MiB
// image, so that a file claiming a huge range costs one short memset
// rather than a write over the whole image; ReadProjectData is bounded by
// the size it is given either way, and the buffer is exactly that size so
// that a write past it is caught.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/input_file.hpp"
#include "data/project_file.hpp"

namespace {

using namespace velkor;

constexpr std::size_t kDataBytes = 64 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static fuzz::InputFile file(".OVP");
  const std::filesystem::path& path = file.Write(data, size);

  ProjectReader reader(path);
  ProjectRecord record;
  const ProjectHeader header = ReadProjectHeader(reader, record);
  if (header.offset > size) std::abort();
  (void)ProjectPartName(NextProjectPart(header.reached));
  if (header.status != ProjectHeaderStatus::Complete) return 0;

  (void)ProjectSizeKB(record);
  std::vector<uint8_t> image(kDataBytes);
  const ProjectDataOutcome outcome =
      ReadProjectData(reader, header, record, record.ChipStart, record.ChipEnd, image.data(), image.size());
  // Every pair of the range that fits is either restored or erased.
  if (outcome.restored + outcome.erased > outcome.expected) std::abort();
  if (outcome.restored > outcome.stored) std::abort();
  if (2 * (outcome.restored + outcome.erased) > kDataBytes) std::abort();
  return 0;
}
