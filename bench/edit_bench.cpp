// What one keystroke in the hex views costs, in a 64 KiB image and in a
// 128 MiB one: the edit model's move or edit, the checksums and the
// comparison brought up to date, and one screen of the grid (40 rows)
// rendered around the cursor. The two sizes must cost the same.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "data/checksum_follow.hpp"
#include "data/comparison_follow.hpp"
#include "data/hex_edit.hpp"
#include "data/hex_view.hpp"
#include "data/image_buffer.hpp"
#include "data/image_compare.hpp"
#include "silent_report.hpp"

namespace velkor {
namespace {

constexpr uint64_t kScreenRows = 40;

using bench::SilentReport;

// An image of `bytes` random bytes, its checksums computed, compared with a
// copy that differs in a byte of every 64 KiB.
struct EditedImage {
  explicit EditedImage(uint32_t bytes) : last(bytes - 1), editor(image.Data.get()) {
    std::mt19937 random(22);
    for (uint32_t i = 0; i <= last; ++i) image.Data[i] = static_cast<uint8_t>(random());
    std::copy(image.Data.get(), image.Data.get() + bytes, other.Data.get());
    for (uint32_t i = 0; i <= last; i += 0x10000) other.Data[i] ^= 1;
    image.ChipEnd = last;
    UpdateChecksums(image, 0, last, report);
    comparison = CompareImages(image.Data.get(), other.Data.get(), 0, last, kDefaultListedRanges);
    editor.SetRange({0, last});
    editor.SetPageRows(kScreenRows);
    for (int i = 0; i < 4096; ++i) places.push_back(static_cast<uint32_t>(random() % bytes));
  }
  void Follow(const std::optional<AppliedEdit>& edit) {
    if (!edit) return;
    FollowEditInChecksums(image, *edit, report);
    FollowEditInComparison(comparison, image.Data.get(), other.Data.get(), *edit, kDefaultListedRanges);
  }
  void RenderScreen() {
    const uint64_t cursorRow = editor.Cursor() / kHexGridRowBytes;
    const uint64_t top = cursorRow > kScreenRows / 2 ? cursorRow - kScreenRows / 2 : 0;
    for (uint64_t row = top; row < top + kScreenRows; ++row)
      benchmark::DoNotOptimize(RenderHexGridRow(image, 0, row).text.size());
  }

  ImageBuffer image;
  ImageBuffer other;
  uint32_t last;
  HexEditor editor;
  SilentReport report;
  ImageComparison comparison;
  std::vector<uint32_t> places;
};

EditedImage& Image(int64_t bytes) {
  static std::unique_ptr<EditedImage> images[2];
  std::unique_ptr<EditedImage>& made = images[bytes > (1 << 20) ? 1 : 0];
  if (!made) made = std::make_unique<EditedImage>(static_cast<uint32_t>(bytes));
  return *made;
}

// A byte typed somewhere in the image: the cursor goes there, two hex
// digits, and the screen is drawn again.
void BM_TypeAByte(benchmark::State& state) {
  EditedImage& e = Image(state.range(0));
  std::size_t next = 0;
  for (auto _ : state) {
    e.editor.MoveTo(e.places[next++ % e.places.size()]);
    e.Follow(e.editor.Type(U'5'));
    e.Follow(e.editor.Type(U'A'));
    e.RenderScreen();
  }
}
BENCHMARK(BM_TypeAByte)->Name("keystroke/TypeAByte")->Arg(64 << 10)->Arg(128 << 20)->Unit(benchmark::kMicrosecond);

// Page Down through the image, the screen drawn at each step.
void BM_PageDown(benchmark::State& state) {
  EditedImage& e = Image(state.range(0));
  for (auto _ : state) {
    if (e.editor.Cursor() == e.last) e.editor.MoveTo(0);
    e.editor.Move(HexMove::PageDown);
    e.RenderScreen();
  }
}
BENCHMARK(BM_PageDown)->Name("keystroke/PageDown")->Arg(64 << 10)->Arg(128 << 20)->Unit(benchmark::kMicrosecond);

// An edit taken back and done again.
void BM_UndoRedo(benchmark::State& state) {
  EditedImage& e = Image(state.range(0));
  e.editor.MoveTo(e.last / 2);
  e.Follow(e.editor.Type(U'1'));
  e.Follow(e.editor.Type(U'2'));
  for (auto _ : state) {
    e.Follow(e.editor.Undo());
    e.Follow(e.editor.Redo());
    e.RenderScreen();
  }
}
BENCHMARK(BM_UndoRedo)->Name("keystroke/UndoRedo")->Arg(64 << 10)->Arg(128 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velkor

BENCHMARK_MAIN();
