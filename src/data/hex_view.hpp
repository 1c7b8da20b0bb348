// The two views of the image: the hex grid of the data page (rows rendered
// on demand, so a window can show it as a virtual model) and the paged
// buffer viewer ("View Data Buffer"), 32 lines of 16 bytes per page.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "data/image_buffer.hpp"

namespace velkor {

// --- Hex grid: address column, 16 byte columns, text column ---
inline constexpr int kHexGridColumns = 18;
inline constexpr uint32_t kHexGridRowBytes = 16;

// Header texts of row 0: "  0" .. "  F" over the byte columns 1..16,
// empty over the address (0) and text (17) columns.
std::string HexGridHeader(int column);

// Data rows (header excluded) for first..last: (last - first + 1) / 16,
// rounded up. The range is cut at the end of the image; none when last is
// below first.
uint64_t HexGridRowCount(uint32_t first, uint32_t last);

struct HexGridRow {
  std::string address;                               // "0x%08X" of first + 16 * row
  std::array<std::string, kHexGridRowBytes> bytes;   // "%02X" each
  std::string text;  // one character per byte: 0x20..0x7F as itself, others '.'
};

// Row `row` of a grid starting at first. A partial last row still shows all
// 16 bytes; cells beyond the end of the image stay empty.
HexGridRow RenderHexGridRow(const ImageBuffer& image, uint32_t first, uint64_t row);

// --- Paged buffer viewer ---
inline constexpr uint32_t kDataViewLines = 32;
inline constexpr uint32_t kDataViewPageBytes = kDataViewLines * 16;
inline constexpr const char* kDataViewHeader =
    "            0   1   2   3   4   5   6   7   8   9   A   B   C   D   E   F";
inline constexpr const char* kDataViewInitialAddress = "0x00000000";

// The header line and 32 lines "0x%08X " followed by " %02X " for each of
// 16 bytes from viewStart on; bytes beyond the end of the image show as
// blanks.
std::vector<std::string> RenderDataViewPage(const ImageBuffer& image, uint32_t viewStart);

enum class DataViewKey { PageUp, PageDown, Up, Down, Home, End };

// The view start V of the viewer and its paging over the used range ending
// at E (ChipEnd), in unsigned 32-bit arithmetic:
//   Page Up     V - 512 when V > 512, else 0
//   Page Down   V + 512 when E - 512 > V, else the last page
//   Home / End  0 / the last page
//   GO          the typed address, at most E, rounded down to 16
// The last page is the one that ends at E: E - 511. A used range shorter
// than a page (E below 511) has no such page: its last page starts at 0, so
// End and Page Down show the page at 0 instead of a start wrapped below 0,
// and Page Down never steps past E (for E below 512 the test E - 512 > V
// would wrap and always hold).
class DataViewPager {
 public:
  // E is cut at the end of the image.
  explicit DataViewPager(uint32_t chipEnd);

  uint32_t ViewStart() const { return view_; }
  uint32_t LastPageStart() const;

  void Show() { view_ = 0; }  // the viewer opens at 0
  void PageUp();
  void PageDown();
  void Home() { view_ = 0; }
  void End() { view_ = LastPageStart(); }
  // The integer typed into the GO box, taken as its 32-bit pattern.
  void GoTo(uint32_t address);
  // Page Up and Up arrow page up, Page Down and Down arrow page down.
  void OnKey(DataViewKey key);

 private:
  uint32_t end_;
  uint32_t view_ = 0;
};

}  // namespace velkor
