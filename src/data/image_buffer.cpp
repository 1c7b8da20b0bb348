#include "data/image_buffer.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

#include "data/image_checksums.hpp"
#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr uint8_t kFirstTextViewFamily = 0x20;  // flash families lie below
constexpr uint32_t kBlockMask = 0xFFF;          // the used range grows in 4 KB blocks
constexpr uint32_t kLargestCrcStart = 0xFFFFFF;
constexpr uint32_t kLastImageOffset = kImageCapacity - 1;

// The highest index in [low, high] whose byte is not erased; compares eight
// bytes at a time where it can.
std::optional<std::size_t> LastNotErased(const uint8_t* data, std::size_t low, std::size_t high) {
  std::size_t end = high + 1;  // one past the next byte to look at
  while (end > low && end % 8 != 0) {
    if (data[end - 1] != kErasedByte) return end - 1;
    --end;
  }
  while (end >= low + 8) {
    uint64_t word;
    std::memcpy(&word, data + end - 8, 8);
    if (word != ~uint64_t{0}) break;
    end -= 8;
  }
  while (end > low) {
    if (data[end - 1] != kErasedByte) return end - 1;
    --end;
  }
  return std::nullopt;
}

void LogAddressLines(const ImageBuffer& image, bool withChip, ImageReport& report) {
  report.AppendInfo(FormatText(Tx(kFileStartLine), image.FileStart));
  report.AppendInfo(FormatText(Tx(kFileEndLine), image.FileEnd));
  if (withChip) {
    report.AppendInfo(FormatText(Tx(kChipStartLine), image.ChipStart));
    report.AppendInfo(FormatText(Tx(kChipEndLine), image.ChipEnd));
  }
}

}  // namespace

ImageBuffer::ImageBuffer() : Data(MapErasedPages(kImageCapacity)) {}

void ImageBuffer::Erase() { EraseAllPages(Data); }

void ResetChipRange(ImageBuffer& image, ChipParams& chip) {
  chip.SizeKB = chip.Size >= 1024 ? chip.Size / 1024 : 0;
  image.ChipStart = 0;
  image.ChipEnd = chip.Size - 1;
}

void RecomputeImage(ImageBuffer& image, ChipParams& chip, bool chipConfirmed, bool processByChipSize,
                    ImageReport& report) {
  report.AppendPlain(" ");
  report.SetBusy(true);
  LogAddressLines(image, chipConfirmed, report);
  report.AppendPlain(" ");
  if (!processByChipSize && chip.Family < kFirstTextViewFamily) TrimChipEnd(image, chip, report);
  report.ChecksumRangeSettled(image);
  UpdateChecksums(image, 0, image.ChipEnd - image.ChipStart, report);
  if (chip.Family >= kFirstEepromFamily || chip.Family == kFirstTextViewFamily) {
    report.ShowHexView(image.ChipStart, image.ChipEnd);
  }
  report.SetBusy(false);
}

void RecomputeDataFlashImage(ImageBuffer& image, ImageReport& report) {
  report.AppendPlain(" ");
  report.SetBusy(true);
  LogAddressLines(image, true, report);
  uint8_t* data = image.Data.get();
  for (uint32_t p = 0; p < kDataFlashPages; ++p) {
    std::memcpy(data + kDataFlashScratch + p * kDataFlashSpareSize,
                data + p * kDataFlashPageSize + kDataFlashMainSize, kDataFlashSpareSize);
  }
  // Every destination lies below its source, so increasing page order never
  // overwrites bytes still to be moved; the first pages overlap their source.
  for (uint32_t p = 1; p < kDataFlashPages; ++p) {
    std::memmove(data + p * kDataFlashMainSize, data + p * kDataFlashPageSize, kDataFlashMainSize);
  }
  std::memcpy(data + kDataFlashSpareBase, data + kDataFlashScratch, kDataFlashPages * kDataFlashSpareSize);
  report.ChecksumRangeSettled(image);
  UpdateChecksums(image, 0, image.ChipEnd - image.ChipStart, report);
  report.ShowHexView(image.ChipStart, image.ChipEnd);
  report.SetBusy(false);
}

void RecomputeAfterLoad(ImageBuffer& image, ChipParams& chip, bool chipConfirmed, bool processByChipSize,
                        ImageReport& report) {
  if (chip.Family == kFamilyDataFlash528) {
    RecomputeDataFlashImage(image, report);
  } else {
    RecomputeImage(image, chip, chipConfirmed, processByChipSize, report);
  }
}

void TrimChipEnd(ImageBuffer& image, ChipParams& chip, ImageReport& report) {
  const uint64_t floor = uint64_t{image.ChipStart} + kBlockMask;
  uint64_t end = image.ChipEnd;
  if (end >= floor) {
    // Bytes beyond the image (only a damaged range reaches them) count as
    // erased.
    std::optional<std::size_t> found;
    if (floor <= kLastImageOffset) {
      // Pages never written since the last erase are erased: the scan
      // starts below them, so it does not touch the unused rest of a large
      // chip's range.
      const std::size_t written = WrittenExtent(image.Data, std::min<uint64_t>(end, kLastImageOffset) + 1);
      if (written > floor) found = LastNotErased(image.Data.get(), floor, written - 1);
    }
    end = found ? *found : floor - 1;
  }
  end |= kBlockMask;
  image.ChipEnd = static_cast<uint32_t>(end);
  chip.SizeKB = static_cast<uint32_t>((end + 1) >> 10);
  report.AppendPlain("");
  report.AppendInfo(FormatText(Tx(kActualStartLine), image.ChipStart));
  report.AppendInfo(FormatText(Tx(kActualEndLine), image.ChipEnd));
  report.AppendInfo(FormatText(Tx(kActualSizeLine), chip.SizeKB));
  report.AppendPlain("");
}

void UpdateChecksums(ImageBuffer& image, uint32_t offset, uint32_t last, ImageReport& report) {
  const uint8_t* data = image.Data.get();
  // Every range is cut at the end of the image: a damaged range from a
  // project file must not read past it.
  const bool chipRange = last >= offset && offset <= kLastImageOffset;
  const uint32_t chipLast = std::min(last, kLastImageOffset);
  image.Crc16 = chipRange && offset <= kLargestCrcStart ? LinkCrc16Sliced(data, offset, chipLast) : 0;
  const uint32_t chipSum = chipRange ? ByteSum32Wide(data, offset, chipLast) : 0;
  uint32_t fileSum = 0;
  if (image.FileEnd >= image.FileStart && image.FileStart <= kLastImageOffset) {
    const uint32_t fileLast = std::min(image.FileEnd, kLastImageOffset);
    // A file that fills the chip range has the chip's sum: 64 MiB are not
    // summed twice.
    fileSum = chipRange && image.FileStart == offset && fileLast == chipLast
                  ? chipSum
                  : ByteSum32Wide(data, image.FileStart, fileLast);
  }
  image.AccSum16 = static_cast<uint16_t>(0x10000u - (chipSum & 0xFFFFu));
  image.SumsComputed = chipRange;
  image.CrcComputed = chipRange && offset <= kLargestCrcStart;
  image.SumFirst = offset;
  image.SumLast = chipLast;

  report.SetStatusPanel(kAccPanel, FormatText(Tx(kAccPanelText), unsigned{image.AccSum16}));
  report.SetStatusPanel(kCrcPanel, FormatText(Tx(kCrcPanelText), unsigned{image.Crc16}));
  report.AppendInfo(FormatText(Tx(kFileSumLine), fileSum));
  report.AppendInfo(FormatText(Tx(kChipSumLine), chipSum));
  report.AppendInfo(FormatText(Tx(kChipAccCrcLine), unsigned{image.AccSum16}, unsigned{image.Crc16}));
  report.AppendPlain("");
}

}  // namespace velkor
