// The host's byte image of the target memory, its file and used ranges and
// the two checksums of the used range, with the recompute step that runs
// after every change of the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "chips/chip_params.hpp"
#include "data/image_report.hpp"
#include "platform/erased_pages.hpp"
#include "text/text_table.hpp"

namespace velkor {

// 130 MiB and one byte: the largest catalogue chips hold 128 MiB, and a
// DataFlash file is rearranged through scratch space above its chip size.
inline constexpr uint32_t kImageCapacity = 0x8200001;
inline constexpr uint8_t kErasedByte = 0xFF;

// File range of an image that received no data from its last file.
inline constexpr uint32_t kNoFileStart = 0xFFFFFFFF;
inline constexpr uint32_t kNoFileEnd = 0;

// DataFlash (family 0x40): 4,096 pages of 528 bytes. In the image the
// 512-byte main areas lie one after the other from 0, the 16-byte spare
// areas from 0x200000; 0x300000 serves as scratch space while a file in the
// chip's own page order is rearranged.
inline constexpr uint32_t kDataFlashPages = 4096;
inline constexpr uint32_t kDataFlashPageSize = 528;
inline constexpr uint32_t kDataFlashMainSize = 512;
inline constexpr uint32_t kDataFlashSpareSize = 16;
inline constexpr uint32_t kDataFlashSpareBase = 0x200000;
inline constexpr uint32_t kDataFlashScratch = 0x300000;

// The bytes of a chip's read block at positionKB as they lie in the image:
// piece(imageAddress, bytes, length) for each run. A block of the DataFlash
// holds eight pages, each a main area and a spare area; any other block is
// one run of 4 KB from positionKB x 1024.
template <typename Piece>
void ForEachReadPiece(const ChipParams& chip, uint32_t positionKB, const uint8_t* block, Piece piece) {
  if (chip.Family != kFamilyDataFlash528) {
    piece(uint64_t{positionKB} * 1024, block, std::size_t{4096});
    return;
  }
  for (uint32_t page = 0; page < 8; ++page) {
    const uint8_t* from = block + page * kDataFlashPageSize;
    piece(uint64_t{positionKB} * 1024 + page * kDataFlashMainSize, from, std::size_t{kDataFlashMainSize});
    piece(uint64_t{kDataFlashSpareBase} + uint64_t{positionKB} * 32 + page * kDataFlashSpareSize,
          from + kDataFlashMainSize, std::size_t{kDataFlashSpareSize});
  }
}

// Log and status-bar texts of the recompute.
inline constexpr const char* kFileStartLine = TextKey("目标文件首地址 = 0x%06X.");
inline constexpr const char* kFileEndLine = TextKey("目标文件尾地址 = 0x%06X.");
inline constexpr const char* kChipStartLine = TextKey("目标芯片首地址 = 0x%06X.");
inline constexpr const char* kChipEndLine = TextKey("目标芯片尾地址 = 0x%06X.");
inline constexpr const char* kActualStartLine = TextKey("Actual Data Start Address = 0x%06X.");
inline constexpr const char* kActualEndLine = TextKey("Actual Data End Address   = 0x%06X.");
inline constexpr const char* kActualSizeLine = TextKey("Actual Data Size (In KB)  = %u KB.");
inline constexpr const char* kAccPanelText = TextKey("ACC CheckSum : 0x%04X");
inline constexpr const char* kCrcPanelText = TextKey("CRC CheckSum : 0x%04X");
inline constexpr const char* kFileSumLine = TextKey("File ACC CheckSum  = 0x%08X.");
inline constexpr const char* kChipSumLine = TextKey("Chip ACC CheckSum  = 0x%08X.");
inline constexpr const char* kChipAccCrcLine = TextKey("Chip ACC/CRC CheckSum  = 0x%04X/0x%04X.");
inline constexpr int kAccPanel = 0;
inline constexpr int kCrcPanel = 1;

class ImageBuffer {
 public:
  // Maps the whole image once, erased. Only the pages written since the
  // last erase cost resident memory.
  ImageBuffer();
  ImageBuffer(const ImageBuffer&) = delete;
  ImageBuffer& operator=(const ImageBuffer&) = delete;

  // Every byte of Data reads kErasedByte again; no page is touched.
  void Erase();

  // kImageCapacity bytes; offset = target address.
  const ErasedPages Data;
  // Lowest and last (inclusive) address written by the last object file.
  uint32_t FileStart = kNoFileStart;
  uint32_t FileEnd = kNoFileEnd;
  // The used range (inclusive); ChipStart is 0 in every normal flow.
  uint32_t ChipStart = 0;
  uint32_t ChipEnd = 0;
  // Two's complement of the low 16 bits of the used range's byte sum.
  uint16_t AccSum16 = 0;
  // LinkCrc16 of the used range.
  uint16_t Crc16 = 0;
  // The bytes the two sums were last computed over (UpdateChecksums), so
  // that an edit can bring them up to date without a pass over the range.
  bool SumsComputed = false;
  bool CrcComputed = false;
  uint32_t SumFirst = 0;
  uint32_t SumLast = 0;
};

// The used range becomes the whole chip: SizeKB = chip size / 1024 (0 for
// chips below 1 KB), ChipStart = 0, ChipEnd = chip size - 1.
void ResetChipRange(ImageBuffer& image, ChipParams& chip);

// The recompute after every change of the image (file load, chip read,
// project load, serial number): logs the file and chip ranges, trims the
// used range of flash families unless processByChipSize (ChkBoxCPES) is
// checked, updates the checksums and shows EEPROM images in the hex grid.
void RecomputeImage(ImageBuffer& image, ChipParams& chip, bool chipConfirmed, bool processByChipSize,
                    ImageReport& report);

// Replaces RecomputeImage after an object-file load for the DataFlash
// family: moves the file's 528-byte pages into the image layout, then
// checksums and shows the image.
void RecomputeDataFlashImage(ImageBuffer& image, ImageReport& report);

// The recompute that follows an object-file load: RecomputeDataFlashImage
// for the DataFlash family, RecomputeImage otherwise.
void RecomputeAfterLoad(ImageBuffer& image, ChipParams& chip, bool chipConfirmed, bool processByChipSize,
                        ImageReport& report);

// Shortens the used range to the whole 4 KB blocks up to the last byte that
// is not erased (at least one block) and logs the result.
void TrimChipEnd(ImageBuffer& image, ChipParams& chip, ImageReport& report);

// Computes Crc16 and AccSum16 over Data[offset..last] (offset is 0 in every
// flow), shows them in the status bar and logs them with the file's sum.
void UpdateChecksums(ImageBuffer& image, uint32_t offset, uint32_t last, ImageReport& report);

}  // namespace velkor
