// Micro-benchmarks of the routines every block or every image change runs,
// each next to a memcpy of the same number of bytes in the same run, so that
// their ratio can be read (bench/run-micro prints it).
//
// Names: <group>/<what>; the memcpy of a group is <group>/memcpy.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "chips/catalogue.hpp"
#include "data/hex_view.hpp"
#include "data/image_buffer.hpp"
#include "data/image_checksums.hpp"
#include "data/image_compare.hpp"
#include "link/checksum.hpp"
#include "link/frame.hpp"
#include "silent_report.hpp"

namespace velkor {
namespace {

constexpr uint32_t MiB = 1u << 20;
constexpr uint32_t kLargeBytes = 128 * MiB;
// LinkCrc16 answers 0 beyond this range, so 128 MiB is run in such pieces.
constexpr uint32_t kCrcPiece = 16 * MiB;

std::vector<uint8_t> RandomBytes(std::size_t n, uint32_t seed) {
  std::mt19937_64 random(seed);
  std::vector<uint8_t> bytes(n);
  for (std::size_t i = 0; i + 8 <= n; i += 8) {
    const uint64_t v = random();
    std::memcpy(bytes.data() + i, &v, 8);
  }
  for (std::size_t i = n / 8 * 8; i < n; ++i) bytes[i] = static_cast<uint8_t>(random());
  return bytes;
}

const std::vector<uint8_t>& Large() {
  static const std::vector<uint8_t> bytes = RandomBytes(kLargeBytes, 1);
  return bytes;
}

void SetBytes(benchmark::State& state, uint64_t perIteration) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * perIteration));
}

// --- 128 MiB: checksums and memcpy ---

void BM_Checksum128_memcpy(benchmark::State& state) {
  const std::vector<uint8_t>& src = Large();
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::ClobberMemory();
  }
  SetBytes(state, src.size());
}
BENCHMARK(BM_Checksum128_memcpy)->Name("checksum128MiB/memcpy")->Unit(benchmark::kMillisecond);

void BM_LinkCrc16(benchmark::State& state) {
  const std::vector<uint8_t>& src = Large();
  for (auto _ : state) {
    uint16_t crc = 0;
    for (uint32_t at = 0; at < kLargeBytes; at += kCrcPiece) crc ^= LinkCrc16(src.data() + at, 0, kCrcPiece - 1);
    benchmark::DoNotOptimize(crc);
  }
  SetBytes(state, kLargeBytes);
}
BENCHMARK(BM_LinkCrc16)->Name("checksum128MiB/LinkCrc16")->Unit(benchmark::kMillisecond);

void BM_LinkCrc16Sliced(benchmark::State& state) {
  const std::vector<uint8_t>& src = Large();
  for (auto _ : state) benchmark::DoNotOptimize(LinkCrc16Sliced(src.data(), 0, kLargeBytes - 1));
  SetBytes(state, kLargeBytes);
}
BENCHMARK(BM_LinkCrc16Sliced)->Name("checksum128MiB/LinkCrc16Sliced")->Unit(benchmark::kMillisecond);

void BM_ByteSum32Wide(benchmark::State& state) {
  const std::vector<uint8_t>& src = Large();
  for (auto _ : state) benchmark::DoNotOptimize(ByteSum32Wide(src.data(), 0, kLargeBytes - 1));
  SetBytes(state, kLargeBytes);
}
BENCHMARK(BM_ByteSum32Wide)->Name("checksum128MiB/ByteSum32Wide")->Unit(benchmark::kMillisecond);

// --- Frames of a 4 KB block ---

// A packet as a block carries it: the 8-byte header and 4 KB of data.
const std::vector<uint8_t>& BlockPacket() {
  static const std::vector<uint8_t> packet = RandomBytes(kPacketHeaderLength + 4096, 2);
  return packet;
}

void BM_Frame_memcpy(benchmark::State& state) {
  const std::vector<uint8_t>& packet = BlockPacket();
  std::vector<uint8_t> out(packet.size());
  for (auto _ : state) {
    std::memcpy(out.data(), packet.data(), packet.size());
    benchmark::ClobberMemory();
  }
  SetBytes(state, packet.size());
}
BENCHMARK(BM_Frame_memcpy)->Name("frame4KB/memcpy");

void BM_EncodeFrame(benchmark::State& state) {
  const std::vector<uint8_t>& packet = BlockPacket();
  std::vector<uint8_t> out(MaxEncodedLength(packet.size()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(EncodeFrame(packet, out));
    benchmark::ClobberMemory();
  }
  SetBytes(state, packet.size());
}
BENCHMARK(BM_EncodeFrame)->Name("frame4KB/EncodeFrame");

// The decoder consumes its frame in place, so every round starts from a copy
// of the encoded frame: the copy is timed too (frame4KB/memcpy is of the
// same size, roughly).
void BM_DecodeFrame(benchmark::State& state) {
  const std::vector<uint8_t>& packet = BlockPacket();
  std::vector<uint8_t> encoded(MaxEncodedLength(packet.size()));
  encoded.resize(EncodeFrame(packet, encoded));
  // The decoder takes the frame from delimiter to delimiter.
  const std::size_t frameLength = encoded.size() - kFrameTrailerLength;
  std::vector<uint8_t> frame(encoded.size());
  std::vector<uint8_t> decoded(packet.size() + 16);
  for (auto _ : state) {
    std::memcpy(frame.data(), encoded.data(), frameLength);
    uint16_t length = static_cast<uint16_t>(frameLength);
    const DecodeResult r = DecodeFrame(frame, length, decoded);
    if (r.code != kResultOk || r.packetLength != packet.size()) {
      state.SkipWithError("the frame did not decode");
      break;
    }
    benchmark::DoNotOptimize(r);
    benchmark::ClobberMemory();
  }
  SetBytes(state, packet.size());
}
BENCHMARK(BM_DecodeFrame)->Name("frame4KB/DecodeFrame");

// --- The recompute of a 128 MiB flash image ---


ImageBuffer& FlashImage() {
  static ImageBuffer* image = [] {
    auto* made = new ImageBuffer();
    std::memcpy(made->Data.get(), Large().data(), kLargeBytes);
    made->FileStart = 0;
    made->FileEnd = kLargeBytes - 1;
    return made;
  }();
  return *image;
}

ChipParams ChipOf(const char* caption) {
  ChipParams chip;
  uint8_t optionBits = 0;
  ApplyCatalogueEntry(*FindChip(caption), chip, optionBits);
  return chip;
}

void BM_Recompute_memcpy(benchmark::State& state) {
  ImageBuffer& image = FlashImage();
  std::vector<uint8_t> dst(kLargeBytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), image.Data.get(), kLargeBytes);
    benchmark::ClobberMemory();
  }
  SetBytes(state, kLargeBytes);
}
BENCHMARK(BM_Recompute_memcpy)->Name("recompute128MiB/memcpy")->Unit(benchmark::kMillisecond);

// processByChipSize: the whole chip; otherwise the used range is trimmed
// first (the image holds data up to its last byte, so the trim ends at once).
void BM_RecomputeImage(benchmark::State& state) {
  ImageBuffer& image = FlashImage();
  ChipParams chip = ChipOf("GD55B01GE");
  bench::SilentReport report;
  const bool byChipSize = state.range(0) != 0;
  for (auto _ : state) {
    ResetChipRange(image, chip);  // the whole chip, as choosing it leaves the range
    RecomputeImage(image, chip, true, byChipSize, report);
    benchmark::DoNotOptimize(image.Crc16);
  }
  if (image.ChipEnd != kLargeBytes - 1) state.SkipWithError("the used range is not the whole chip");
  SetBytes(state, kLargeBytes);
}
BENCHMARK(BM_RecomputeImage)
    ->Name("recompute128MiB/RecomputeImage")
    ->ArgName("byChipSize")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);

void BM_UpdateChecksums(benchmark::State& state) {
  ImageBuffer& image = FlashImage();
  bench::SilentReport report;
  for (auto _ : state) {
    UpdateChecksums(image, 0, kLargeBytes - 1, report);
    benchmark::DoNotOptimize(image.Crc16);
  }
  SetBytes(state, kLargeBytes);
}
BENCHMARK(BM_UpdateChecksums)->Name("recompute128MiB/UpdateChecksums")->Unit(benchmark::kMillisecond);

// --- 128 MiB: two images compared ---

// A copy of Large() that differs in two bytes (sparse) or in every other
// byte (dense: 64 Mi ranges, the worst a pair of images can give).
const std::vector<uint8_t>& ComparedWith(bool dense) {
  static std::vector<uint8_t> copies[2];
  std::vector<uint8_t>& copy = copies[dense ? 1 : 0];
  if (copy.empty()) {
    copy = Large();
    if (dense) {
      for (std::size_t i = 0; i < copy.size(); i += 2) copy[i] ^= 0xA5;
    } else {
      copy[12345] ^= 1;
      copy.back() ^= 1;
    }
  }
  return copy;
}

void BM_Compare_memcpy(benchmark::State& state) {
  std::vector<uint8_t> dst(kLargeBytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), Large().data(), kLargeBytes);
    benchmark::ClobberMemory();
  }
  SetBytes(state, kLargeBytes);
}
BENCHMARK(BM_Compare_memcpy)->Name("compare128MiB/memcpy")->Unit(benchmark::kMillisecond);

void BM_CompareImages(benchmark::State& state) {
  const std::vector<uint8_t>& other = ComparedWith(state.range(0) != 0);
  for (auto _ : state) {
    const ImageComparison c = CompareImages(Large().data(), other.data(), 0, kLargeBytes - 1, kDefaultListedRanges);
    benchmark::DoNotOptimize(c.differingBytes);
  }
  SetBytes(state, kLargeBytes);
}
BENCHMARK(BM_CompareImages)
    ->Name("compare128MiB/CompareImages")
    ->ArgName("dense")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

// --- The hex views of a 2 MiB page flash (AT45DB16E) ---
// One screen: 32 rows of the hex grid, or one page of the buffer viewer
// (512 bytes). The range shown must not change its cost: a range of one
// screen and one of the whole image (130 MiB), at its start and near its end.

constexpr uint32_t kScreenRows = 32;
constexpr uint32_t kScreenBytes = kScreenRows * kHexGridRowBytes;

ImageBuffer& PageFlashImage() {
  static ImageBuffer* image = [] {
    auto* made = new ImageBuffer();
    std::memcpy(made->Data.get(), Large().data(), kDataFlashSpareBase + kDataFlashPages * kDataFlashSpareSize);
    made->ChipEnd = kDataFlashSpareBase + kDataFlashPages * kDataFlashSpareSize - 1;
    return made;
  }();
  return *image;
}

void BM_HexView_memcpy(benchmark::State& state) {
  const ImageBuffer& image = PageFlashImage();
  std::vector<uint8_t> dst(kScreenBytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), image.Data.get(), kScreenBytes);
    benchmark::ClobberMemory();
  }
  SetBytes(state, kScreenBytes);
}
BENCHMARK(BM_HexView_memcpy)->Name("hexview/memcpy");

// Args: first, last of the grid's range; the screen shown is its first rows
// or, with the third argument 1, its last rows.
void BM_HexGridScreen(benchmark::State& state) {
  const ImageBuffer& image = PageFlashImage();
  const auto first = static_cast<uint32_t>(state.range(0));
  const auto last = static_cast<uint32_t>(state.range(1));
  const uint64_t rows = HexGridRowCount(first, last);
  const uint64_t top = state.range(2) != 0 && rows > kScreenRows ? rows - kScreenRows : 0;
  for (auto _ : state) {
    for (uint64_t row = top; row < top + kScreenRows && row < rows; ++row) {
      HexGridRow r = RenderHexGridRow(image, first, row);
      benchmark::DoNotOptimize(r);
    }
  }
  SetBytes(state, kScreenBytes);
}
BENCHMARK(BM_HexGridScreen)
    ->Name("hexview/HexGridScreen")
    ->ArgNames({"first", "last", "atEnd"})
    ->Args({0, kScreenBytes - 1, 0})                         // one screen
    ->Args({0, kDataFlashSpareBase - 1, 0})                  // the main areas, 2 MiB
    ->Args({0, kDataFlashSpareBase - 1, 1})
    ->Args({0, kImageCapacity - 1, 0})                       // the whole image
    ->Args({0, kImageCapacity - 1, 1});

void BM_DataViewPage(benchmark::State& state) {
  const ImageBuffer& image = PageFlashImage();
  DataViewPager pager(state.range(0) != 0 ? kImageCapacity - 1 : image.ChipEnd);
  pager.End();
  const uint32_t start = pager.ViewStart();
  for (auto _ : state) {
    std::vector<std::string> page = RenderDataViewPage(image, start);
    benchmark::DoNotOptimize(page);
  }
  SetBytes(state, kDataViewPageBytes);
}
BENCHMARK(BM_DataViewPage)->Name("hexview/DataViewLastPage")->ArgName("wholeImage")->Arg(0)->Arg(1);

}  // namespace
}  // namespace velkor

BENCHMARK_MAIN();
