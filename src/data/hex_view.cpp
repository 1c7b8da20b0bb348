#include "data/hex_view.hpp"

#include <algorithm>

#include "data/text_format.hpp"

namespace velkor {

namespace {

constexpr uint32_t kLastImageOffset = kImageCapacity - 1;

char TextColumnChar(uint8_t b) { return b >= 0x20 && b <= 0x7F ? static_cast<char>(b) : '.'; }

}  // namespace

std::string HexGridHeader(int column) {
  if (column < 1 || column > static_cast<int>(kHexGridRowBytes)) return {};
  return FormatText("  %X", static_cast<unsigned>(column - 1));
}

uint64_t HexGridRowCount(uint32_t first, uint32_t last) {
  last = std::min(last, kLastImageOffset);
  if (last < first) return 0;
  const uint64_t bytes = uint64_t{last} - first + 1;
  return (bytes + kHexGridRowBytes - 1) / kHexGridRowBytes;
}

HexGridRow RenderHexGridRow(const ImageBuffer& image, uint32_t first, uint64_t row) {
  HexGridRow out;
  const uint64_t start = first + row * kHexGridRowBytes;
  out.address = FormatText("0x%08X", static_cast<unsigned>(start));
  for (uint32_t c = 0; c < kHexGridRowBytes; ++c) {
    const uint64_t at = start + c;
    if (at > kLastImageOffset) break;
    const uint8_t b = image.Data[at];
    out.bytes[c] = FormatText("%02X", unsigned{b});
    out.text += TextColumnChar(b);
  }
  return out;
}

std::vector<std::string> RenderDataViewPage(const ImageBuffer& image, uint32_t viewStart) {
  std::vector<std::string> lines;
  lines.reserve(kDataViewLines + 1);
  lines.emplace_back(kDataViewHeader);
  for (uint32_t i = 0; i < kDataViewLines; ++i) {
    const uint64_t start = uint64_t{viewStart} + 16 * i;
    std::string line = FormatText("0x%08X ", static_cast<unsigned>(start));
    for (uint32_t j = 0; j < 16; ++j) {
      const uint64_t at = start + j;
      line += at <= kLastImageOffset ? FormatText(" %02X ", unsigned{image.Data[at]}) : std::string(4, ' ');
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

DataViewPager::DataViewPager(uint32_t chipEnd) : end_(std::min(chipEnd, kLastImageOffset)) {}

uint32_t DataViewPager::LastPageStart() const {
  return end_ >= kDataViewPageBytes - 1 ? end_ - (kDataViewPageBytes - 1) : 0;
}

void DataViewPager::PageUp() { view_ = view_ > kDataViewPageBytes ? view_ - kDataViewPageBytes : 0; }

void DataViewPager::PageDown() {
  if (end_ >= kDataViewPageBytes && end_ - kDataViewPageBytes > view_) {
    view_ += kDataViewPageBytes;
  } else {
    view_ = LastPageStart();
  }
}

void DataViewPager::GoTo(uint32_t address) { view_ = std::min(address, end_) & ~uint32_t{15}; }

void DataViewPager::OnKey(DataViewKey key) {
  switch (key) {
    case DataViewKey::PageUp:
    case DataViewKey::Up:
      PageUp();
      break;
    case DataViewKey::PageDown:
    case DataViewKey::Down:
      PageDown();
      break;
    case DataViewKey::Home:
      Home();
      break;
    case DataViewKey::End:
      End();
      break;
  }
}

}  // namespace velkor
