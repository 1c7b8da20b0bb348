// Object-file loading as the Open command does it: the file's extension
// picks the parser (VELKOR_FUZZ_EXTENSION, one executable per format), the
// parser writes into the real image, then the recompute runs over the used
// range of a small flash chip.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/input_file.hpp"
#include "common/null_report.hpp"
#include "data/image_buffer.hpp"
#include "data/object_file.hpp"

#ifndef VELKOR_FUZZ_EXTENSION
#error "VELKOR_FUZZ_EXTENSION names the extension of the format under test"
#endif

namespace {

using namespace velkor;

constexpr uint32_t kChipSize = 16 * 1024;

ChipParams SmallFlash() {
  ChipParams chip;
  chip.Family = 0x10;  // a serial flash: the used range is trimmed after the load
  chip.Size = kChipSize;
  chip.PageSize = 256;
  return chip;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // 130 MiB, allocated and erased once. The parsers only ever write into
  // it, so what earlier inputs left above the chip does not change how an
  // input is parsed; the chip's own range is erased again for the
  // recompute, which looks at it.
  static ImageBuffer image;
  static fuzz::InputFile file(VELKOR_FUZZ_EXTENSION);

  std::memset(image.Data.get(), kErasedByte, kChipSize);
  ChipParams chip = SmallFlash();
  fuzz::CountingReport report;

  const LoadOutcome outcome = LoadObjectFile(file.Write(data, size), image, chip, report);

  if (ObjectFormatForPath(VELKOR_FUZZ_EXTENSION) != ObjectFormat::HexText && image.FileStart != kNoFileStart) {
    // Intel HEX, S-records and binary set the file range to what they
    // wrote, which always lies inside the image.
    if (image.FileStart > image.FileEnd || image.FileEnd >= kImageCapacity) std::abort();
  }
  if (outcome.code > kRecordReadError) std::abort();

  RecomputeAfterLoad(image, chip, /*chipConfirmed=*/true, /*processByChipSize=*/false, report);
  if (image.ChipEnd >= kChipSize) std::abort();  // the trim never widens the chip's range
  return 0;
}
