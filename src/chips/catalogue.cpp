#include "chips/catalogue.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace velkor {

namespace {

constexpr uint32_t KiB = 1024;
constexpr uint32_t MiB = 1024 * 1024;

// One cell of a group's table: a value the entry assigns, or kUnset when the
// entry leaves that field alone.
using Cell = std::optional<uint32_t>;
constexpr Cell kUnset{};

using F = ChipField;

enum class Visibility { kOffered, kHidden };

// Collects the entries in menu order. Each group fixes its submenu, the
// fields all its entries assign, and the columns its rows fill in; a row
// must fill every column (checked when the table is compiled).
class CatalogueBuilder {
 public:
  template <std::size_t N>
  class Group {
   public:
    Group(CatalogueBuilder& builder, std::vector<std::string> menu, std::vector<FieldAssignment> common,
          std::array<ChipField, N> columns)
        : builder_(builder), menu_(std::move(menu)), common_(std::move(common)), columns_(columns) {}

    template <std::size_t M>
    Group& Row(std::string caption, const Cell (&cells)[M], Visibility visibility = Visibility::kOffered) {
      static_assert(M == N, "a row fills every column of its group");
      std::vector<FieldAssignment> fields = common_;
      for (std::size_t i = 0; i < N; ++i) {
        if (cells[i]) fields.push_back({columns_[i], *cells[i]});
      }
      builder_.AddEntry(menu_, std::move(caption), visibility, std::move(fields));
      return *this;
    }

    // For groups whose entries assign only the group-wide fields.
    Group& Row(std::string caption) {
      static_assert(N == 0, "a row fills every column of its group");
      builder_.AddEntry(menu_, std::move(caption), Visibility::kOffered, common_);
      return *this;
    }

    Group& Separator() {
      builder_.catalogue_.separators.push_back({menu_, builder_.catalogue_.entries.size()});
      return *this;
    }

   private:
    CatalogueBuilder& builder_;
    std::vector<std::string> menu_;
    std::vector<FieldAssignment> common_;
    std::array<ChipField, N> columns_;
  };

  template <std::size_t N>
  Group<N> Begin(std::vector<std::string> menu, std::vector<FieldAssignment> common,
                 const ChipField (&columns)[N]) {
    std::array<ChipField, N> cols{};
    std::copy(std::begin(columns), std::end(columns), cols.begin());
    return Group<N>(*this, std::move(menu), std::move(common), cols);
  }

  Group<0> Begin(std::vector<std::string> menu, std::vector<FieldAssignment> common) {
    return Group<0>(*this, std::move(menu), std::move(common), {});
  }

  // A submenu that is never offered; its entries are hidden as well.
  template <std::size_t N>
  Group<N> BeginHidden(std::vector<std::string> menu, std::vector<FieldAssignment> common,
                       const ChipField (&columns)[N]) {
    catalogue_.hiddenSubmenus.push_back(menu);
    return Begin(std::move(menu), std::move(common), columns);
  }

  Catalogue Take() { return std::move(catalogue_); }

 private:
  void AddEntry(const std::vector<std::string>& menu, std::string caption, Visibility visibility,
                std::vector<FieldAssignment> fields) {
    std::stable_sort(fields.begin(), fields.end(),
                     [](const FieldAssignment& a, const FieldAssignment& b) { return a.field < b.field; });
    CatalogueEntry entry;
    entry.menu = menu;
    entry.caption = std::move(caption);
    const auto& hiddenMenus = catalogue_.hiddenSubmenus;
    entry.hidden = visibility == Visibility::kHidden ||
                   std::find(hiddenMenus.begin(), hiddenMenus.end(), menu) != hiddenMenus.end();
    entry.fields = std::move(fields);
    catalogue_.entries.push_back(std::move(entry));
  }

  Catalogue catalogue_;
};

const char* const kSpiFlash = "SPI  Flash";  // two blanks in the caption

Catalogue BuildCatalogue() {
  CatalogueBuilder b;

  b.Begin({kSpiFlash, "SST/Microchip"}, {{F::IdByte1, 0xBF}, {F::PageFlash, 0}},
          {F::Family, F::SubType, F::Size, F::ModeFlags, F::IdByte2, F::EraseTime})
      .Row("SST25VF020x", {0x10, 0x00, 256 * KiB, kUnset, 0x25, 30})
      .Row("SST25VF040x", {0x10, 0x01, 512 * KiB, kUnset, 0x25, 60})
      .Row("SST25VF080x", {0x10, 0x02, 1 * MiB, kUnset, 0x25, 100})
      .Row("SST25VF016x", {0x10, 0x03, 2 * MiB, kUnset, 0x25, 200})
      .Row("SST25VF032x", {0x10, 0x04, 4 * MiB, kUnset, 0x25, 250})
      .Row("SST25VF064x", {0x10, 0x05, 8 * MiB, kUnset, 0x25, 300})
      .Separator()
      .Row("SST26VF020x", {0x00, kUnset, 256 * KiB, 0x03, 0x25, 100})
      .Row("SST26VF040x", {0x00, kUnset, 512 * KiB, 0x03, 0x25, 100})
      .Row("SST26VF080x", {0x00, kUnset, 1 * MiB, 0x03, 0x4B, 100})
      .Row("SST26VF016x", {0x00, kUnset, 2 * MiB, 0x03, 0x26, 100})
      .Row("SST26VF032x", {0x00, kUnset, 4 * MiB, 0x03, 0x26, 100})
      .Row("SST26VF064x", {0x00, kUnset, 8 * MiB, 0x03, 0x26, 100});

  b.Begin({kSpiFlash, "KH25Uxx"}, {{F::Family, 0x00}, {F::SubType, 0x03}, {F::EraseTime, 4500}, {F::PageFlash, 0}},
          {F::Size})
      .Row("KH25U0439F", {512 * KiB})
      .Row("KH25U0839F", {1 * MiB})
      .Row("KH25U1639F", {2 * MiB})
      .Row("KH25U3239F", {4 * MiB})
      .Row("KH25U6439F", {8 * MiB});

  b.Begin({kSpiFlash, "Winbond"}, {{F::Family, 0x07}, {F::PageFlash, 0}},
          {F::SubType, F::Size, F::ModeFlags, F::EraseTime})
      .Row("W25x05xx", {0x00, 64 * KiB, kUnset, 100})
      .Row("W25x10xx", {0x01, 128 * KiB, kUnset, 200})
      .Row("W25x20xx", {0x02, 256 * KiB, kUnset, 200})
      .Row("W25x40xx", {0x03, 512 * KiB, kUnset, 400})
      .Row("W25x80xx", {0x04, 1 * MiB, kUnset, 400})
      .Row("W25x16xx", {0x05, 2 * MiB, kUnset, 500})
      .Row("W25x32xx", {0x06, 4 * MiB, kUnset, 1000})
      .Row("W25x64xx", {0x07, 8 * MiB, kUnset, 1500})
      .Row("W25x128xx", {0x07, 16 * MiB, kUnset, 3000})
      .Row("W25x256xx", {0x07, 32 * MiB, 0x10, 5000});

  b.Begin({kSpiFlash, "GigaDevice"}, {{F::Family, 0x03}, {F::PageFlash, 0}},
          {F::SubType, F::Size, F::ModeFlags, F::IdByte1, F::IdByte2, F::EraseTime, F::LowVoltChip})
      .Row("GD25Q512x", {0x00, 64 * KiB, kUnset, 0xC8, 0x40, 400, kUnset})
      .Row("GD25Q10xx", {0x01, 128 * KiB, kUnset, 0xC8, 0x40, 400, kUnset})
      .Row("GD25Q20x", {0x02, 256 * KiB, kUnset, 0xC8, 0x40, 400, kUnset})
      .Row("GD25xQ40x", {0x03, 512 * KiB, kUnset, 0xC8, 0x40, 400, kUnset})
      .Row("GD25xQ80x", {0x04, 1 * MiB, kUnset, 0xC8, 0x40, 400, kUnset})
      .Row("GD25xQ16x", {0x05, 2 * MiB, kUnset, 0xC8, 0x40, 400, kUnset})
      .Row("GD25xQ32x", {0x06, 4 * MiB, kUnset, 0xC8, 0x40, 600, kUnset})
      .Row("GD25xQ64x", {0x07, 8 * MiB, kUnset, 0xC8, 0x40, 1500, kUnset})
      .Row("GD25xQ128x", {0x08, 16 * MiB, kUnset, 0xC8, 0x40, 3000, kUnset})
      .Row("GD25LH80CUIGR", {0x04, 1 * MiB, kUnset, 0xC8, 0x60, 300, 1})
      .Separator()
      .Row("GD25Q256D", {kUnset, 32 * MiB, 0x10, 0x10, 0x10, 5000, 0})
      .Row("GD25LQ256D", {kUnset, 32 * MiB, 0x10, 0x10, 0x10, 5000, 1})
      .Row("GD25Q256E", {kUnset, 32 * MiB, 0x10, 0x10, 0x10, 5000, 0})
      .Row("GD25LQ256E", {kUnset, 32 * MiB, 0x10, 0x10, 0x10, 5000, 1})
      .Row("GD25B256D", {kUnset, 32 * MiB, 0x10, 0x10, 0x10, 5000, 0})
      .Row("GD25LB256D", {kUnset, 32 * MiB, 0x10, 0x10, 0x10, 5000, 1})
      .Row("GD25LB256ME", {kUnset, 32 * MiB, 0x10, 0x10, 0x10, 5000, 1})
      .Row("GD25LE256D", {kUnset, 32 * MiB, 0x10, 0x10, 0x10, 5000, 1})
      .Row("GD25LE256E", {kUnset, 32 * MiB, 0x10, 0x10, 0x10, 5000, 1})
      .Row("GDBD25B256D", {kUnset, 32 * MiB, 0x10, 0x10, 0x10, 5000, 0})
      .Row("GD25LT256ME", {kUnset, 32 * MiB, 0x10, 0x10, 0x10, 5000, 1})
      .Row("GD25S256ME", {kUnset, 32 * MiB, 0x10, 0x10, 0x10, 5000, 0})
      .Row("GD25B512ME", {kUnset, 64 * MiB, 0x10, 0x10, 0x10, 8000, 0})
      .Row("GD25R512ME", {kUnset, 64 * MiB, 0x10, 0x10, 0x10, 8000, 0})
      .Row("GD25LB512ME", {kUnset, 64 * MiB, 0x10, 0x10, 0x10, 8000, 1})
      .Row("GD25LT512ME", {kUnset, 64 * MiB, 0x10, 0x10, 0x10, 8000, 1})
      .Row("GD25LR512ME", {kUnset, 64 * MiB, 0x10, 0x10, 0x10, 8000, 1})
      .Row("GD55B01GE", {kUnset, 128 * MiB, 0x10, 0x10, 0x10, 10000, 0});

  b.Begin({kSpiFlash, "Macronix International"}, {{F::Family, 0x05}, {F::IdByte1, 0xC2}, {F::PageFlash, 0}},
          {F::Size, F::IdByte2, F::EraseTime, F::LowVoltChip})
      .Row("MX25L512xxx", {64 * KiB, 0x15, 2000, kUnset})
      .Row("MX25L10xxx", {128 * KiB, 0x15, 2200, kUnset})
      .Row("MX25L20xxx", {256 * KiB, 0x15, 2200, kUnset})
      .Row("MX25L40xxx", {512 * KiB, 0x15, 2200, kUnset})
      .Row("MX25L80xxx", {1 * MiB, 0x15, 2200, kUnset})
      .Row("MX25L16xxx", {2 * MiB, 0x15, 2200, kUnset})
      .Row("MX25L32xxx", {4 * MiB, 0x15, 2200, kUnset})
      .Row("MX25L3233", {4 * MiB, 0x15, 2200, kUnset})
      .Row("MX25L64xxx", {8 * MiB, 0x15, 2200, kUnset})
      .Row("MX25L128xxx", {16 * MiB, 0x15, 2200, kUnset})
      .Separator()
      .Row("MX25U121Exx", {64 * KiB, 0x15, 150, 1})
      .Row("MX25U1001Exx", {128 * KiB, 0x15, 150, 1})
      .Row("MX25U203xExx", {256 * KiB, 0x25, 150, 1})
      .Row("MX25U403xxx", {512 * KiB, 0x15, 300, 1})
      .Row("MX25U803xxx", {1 * MiB, 0x25, 600, 1})
      .Row("MX25U163xxx", {2 * MiB, 0x15, 1200, 1})
      .Row("MX25U32xxx", {4 * MiB, 0x15, 2400, 1})
      .Row("MX25U64xxx", {8 * MiB, 0x15, 4800, 1})
      .Row("MX25U128xxx", {16 * MiB, 0x15, 9600, 1})
      .Separator()
      .Row("MX25V1606Fx", {2 * MiB, 0x15, 1200, 0})
      .Row("MX25V16066", {2 * MiB, 0x15, 1200, 0})
      .Row("MX25V1635F", {2 * MiB, 0x15, 1200, 0});

  b.Begin({kSpiFlash, "M25Pxx"}, {{F::Family, 0x12}, {F::IdByte1, 0x10}, {F::IdByte2, 0x10}, {F::PageFlash, 0}},
          {F::Size, F::EraseTime})
      .Row("M25P10x", {128 * KiB, 300})
      .Row("M25P20x", {256 * KiB, 400})
      .Row("M25P40x", {512 * KiB, 500})
      .Row("M25P80x", {1 * MiB, 800})
      .Row("M25P16x", {2 * MiB, 1400})
      .Row("M25P32x", {4 * MiB, 2500})
      .Row("M25P64x", {8 * MiB, 4300});

  b.Begin({kSpiFlash, "MD25xxx"}, {{F::Family, 0x07}, {F::PageFlash, 0}}, {F::SubType, F::Size, F::EraseTime})
      .Row("MD25Q40x", {0x03, 512 * KiB, 400})
      .Row("MD25Q32x", {0x06, 4 * MiB, 1000})
      .Row("MD25Q64x", {0x07, 8 * MiB, 1600})
      .Row("MD25Q128x", {0x07, 16 * MiB, 3000});

  b.Begin({kSpiFlash, "Puya Semiconductor"},
          {{F::Family, 0x05}, {F::IdByte1, 0x85}, {F::EraseTime, 2000}, {F::PageFlash, 0}},
          {F::Size, F::IdByte2, F::LowVoltChip})
      .Row("P25D05H", {64 * KiB, 0x10, kUnset})
      .Row("P25D10H", {128 * KiB, 0x11, kUnset})
      .Row("P25D20H", {256 * KiB, 0x12, kUnset})
      .Row("P25D40H", {512 * KiB, 0x13, kUnset})
      .Separator()
      .Row("P25Q21L", {256 * KiB, 0x12, 1})
      .Row("P25Q11L", {128 * KiB, 0x12, 1})
      .Row("P25Q06L", {64 * KiB, 0x12, 1});

  b.Begin({kSpiFlash, "其他厂家"}, {{F::PageFlash, 0}},
          {F::Family, F::SubType, F::Size, F::IdByte1, F::IdByte2, F::EraseTime})
      .Row("TS25L16BP", {0x00, kUnset, 2 * MiB, 0x20, 0x20, 300})
      .Separator()
      .Row("EN25T16", {0x0B, kUnset, 2 * MiB, 0x1C, 0x14, 600})
      .Separator()
      .Row("S25FL004Axx", {0x09, kUnset, 512 * KiB, 0x01, 0x02, 1000})
      .Row("S25FL008Axx", {0x09, kUnset, 1 * MiB, 0x01, 0x02, 1500})
      .Row("S25FL16xx", {0x09, kUnset, 2 * MiB, 0x01, 0x02, 3500})
      .Row("S25FL32xx", {0x09, kUnset, 4 * MiB, 0x01, 0x02, 4500})
      .Row("S25FL64xx", {0x09, kUnset, 8 * MiB, 0x01, 0x02, 5000})
      .Row("S25FL128xx", {0x09, kUnset, 16 * MiB, 0x01, 0x02, 6000})
      .Row("S25FL256xx", {0x09, kUnset, 16 * MiB, 0x01, 0x02, 7000})
      .Separator()
      .Row("MK25D80", {0x07, 0x00, 1 * MiB, kUnset, kUnset, 800});

  b.Begin({kSpiFlash, "通用型号"}, {{F::Family, 0x00}, {F::IdByte1, 0x10}, {F::IdByte2, 0x10}, {F::PageFlash, 0}},
          {F::Size, F::ModeFlags, F::EraseTime})
      .Row("1M Bits(1M位)", {128 * KiB, kUnset, 500})
      .Row("2M Bits(2M位)", {256 * KiB, kUnset, 700})
      .Row("4M Bits(4M位)", {512 * KiB, kUnset, 1000})
      .Row("8M Bits(8M位)", {1 * MiB, kUnset, 1400})
      .Row("16M Bits(16M位)", {2 * MiB, kUnset, 2000})
      .Row("32M Bits(32M位)", {4 * MiB, kUnset, 2500})
      .Row("64M Bits(64M位)", {8 * MiB, kUnset, 3000})
      .Row("128M Bits(128M位)", {16 * MiB, kUnset, 3500})
      .Row("256M Bits(256M位)", {32 * MiB, 0x10, 5000})
      .Row("512M Bits(512M位)", {64 * MiB, 0x10, 8000})
      .Row("1024M Bits(1024M位)", {128 * MiB, 0x10, 10000});

  b.Begin({kSpiFlash, "M45xxx Chips"}, {{F::Family, 0x00}, {F::IdByte1, 0x20}, {F::IdByte2, 0x40}, {F::PageFlash, 1}},
          {F::Size, F::EraseTime})
      .Row("M45EP20xx", {256 * KiB, 700})
      .Row("M45EP40xx", {512 * KiB, 1000})
      .Row("M45EP80xx", {1 * MiB, 1500});

  b.Begin({kSpiFlash, "Boya Microelectronice"},
          {{F::Family, 0x03}, {F::IdByte1, 0x15}, {F::IdByte2, 0x40}, {F::PageFlash, 0}}, {F::Size, F::EraseTime})
      .Row("BY25D16", {2 * MiB, 1400})
      .Row("BY25D80", {1 * MiB, 1000});

  b.Begin({kSpiFlash, "Adesto"},
          {{F::Family, 0x14},
           {F::SubType, 0x03},
           {F::IdByte1, 0xC8},
           {F::IdByte2, 0x40},
           {F::ForceQe, 1},
           {F::PageFlash, 0}},
          {F::Size, F::EraseTime, F::LowVoltChip})
      .Row("AT25SF041", {512 * KiB, 400, 0})
      .Row("AT25SF081", {1 * MiB, 400, 0})
      .Row("AT25SF161", {2 * MiB, 400, 0})
      .Row("AT25SF321", {4 * MiB, 1000, 0})
      .Row("AT25SF641", {8 * MiB, 2000, 0})
      .Row("AT25SF128", {16 * MiB, 3000, 0})
      .Separator()
      .Row("AT25SL321", {4 * MiB, 1000, 1})
      .Row("AT25SL641", {8 * MiB, 2000, 1})
      .Separator()
      .Row("AT25QL321", {4 * MiB, 1000, 1})
      .Row("AT25QL128", {16 * MiB, 3000, 1})
      .Row("AT25QF641", {8 * MiB, 3000, 0})
      .Row("AT25QF128A", {16 * MiB, 3000, 0});

  b.Begin({"I2C EEPROM"}, {{F::SubType, 0x00}}, {F::Family, F::Size, F::PageSize, F::AddrStyle})
      .Row("AT24C01", {0xA0, 16, 4, 0x01})
      .Row("AT24xx01A", {0xA0, 128, 4, 0x02})
      .Row("24xx00", {0xA0, 16, 2, 0x02})
      .Row("24xx01", {0xA0, 128, 4, 0x02})
      .Row("24xx02", {0xA0, 256, 8, 0x02})
      .Row("24xx024", {0xA0, 256, 8, 0x02})
      .Row("24xx025", {0xA0, 256, 8, 0x02})
      .Row("24xx04", {0xA0, 512, 16, 0x02})
      .Row("24xx08", {0xA0, 1 * KiB, 16, 0x02})
      .Row("24xx16", {0xA0, 2 * KiB, 16, 0x02})
      .Row("24xx32", {0xA0, 4 * KiB, 32, 0x04})
      .Row("24xx64", {0xA0, 8 * KiB, 32, 0x04})
      .Row("24xx128", {0xA0, 16 * KiB, 64, 0x04})
      .Row("24xx256", {0xA0, 32 * KiB, 64, 0x04})
      .Row("24xx512", {0xA0, 64 * KiB, 128, 0x04})
      .Row("24xx102x", {0xA0, 128 * KiB, 256, 0x08})
      .Row("GT34C04-xxx", {0xD0, 512, 8, 0x00})
      .Row("GT34C02-xxx", {0xD0, 256, 8, 0x00})
      .Row("BL34C04A", {0xD0, 512, 8, 0x00})
      .Row("M24M01x", {0xA0, 128 * KiB, 256, 0x18});

  b.Begin({"SPI EEPROM"}, {{F::Family, 0xB0}, {F::SubType, 0x00}}, {F::Size, F::PageSize})
      .Row("25xx010", {128, 8})
      .Row("25xx020", {256, 8})
      .Row("25xx040", {512, 8})
      .Row("25xx080", {1 * KiB, 32})
      .Row("25xx160", {2 * KiB, 32})
      .Row("25xx320", {4 * KiB, 32})
      .Row("25xx640", {8 * KiB, 32})
      .Row("25xx128", {16 * KiB, 64})
      .Row("25xx256", {32 * KiB, 64})
      .Row("25xx512", {64 * KiB, 128})
      .Row("25xx1024", {128 * KiB, 256})
      .Row("M95512-A125", {64 * KiB, 128})
      .Row("M95512-A145", {64 * KiB, 128});

  b.Begin({"Microwire EEPROM"}, {{F::Family, 0xC0}}, {F::SubType, F::Size, F::ModeFlags})
      .Row("93xx46", {0x00, 128, kUnset})
      .Row("93xx56", {0x02, 256, kUnset})
      .Row("93xx66", {0x02, 512, kUnset})
      .Row("93xx76", {0x03, 1 * KiB, kUnset})
      .Row("93xx86", {0x04, 2 * KiB, kUnset})
      .Row("93xx56B", {0x02, 256, 0x08})
      .Row("93xx56A", {0x02, 256, kUnset})
      .Row("93xx66A", {0x02, 512, kUnset})
      .Row("93xx66B", {0x02, 512, 0x08});

  b.Begin({"Temp. Sensor"},
          {{F::Family, 0xD0}, {F::SubType, 0x00}, {F::Size, 512}, {F::PageSize, 8}, {F::AddrStyle, 0x00}})
      .Row("ATA30TSE004A")
      .Row("CAT34TS04VP2GT4A")
      .Row("MCP98244T-BE/MNY")
      .Row("TSE2004GB2C0NCG8");

  b.Begin({"ESPRESSIF(乐鑫信息）"},
          {{F::Family, 0x03},
           {F::SubType, 0x04},
           {F::Size, 1 * MiB},
           {F::IdByte1, 0xC8},
           {F::IdByte2, 0x40},
           {F::EraseTime, 400},
           {F::PageFlash, 0},
           {F::HideProtect, 1}})
      .Row("ESP8285");

  auto top = b.Begin({}, {},
                     {F::Family, F::SubType, F::Size, F::PageSize, F::AddrStyle, F::ModeFlags, F::IdByte1, F::IdByte2,
                      F::EraseTime, F::PageFlash, F::OptionBits});
  top.Separator()
      .Row("FM24C32D", {0xA0, 0x80, 4 * KiB, 32, 0x04, kUnset, kUnset, kUnset, kUnset, kUnset, kUnset})
      .Row("NPC79nXBxx(8M)", {0x03, 0x04, 1 * MiB, kUnset, kUnset, kUnset, 0xC8, 0x40, 400, 0, kUnset},
           Visibility::kHidden)
      .Row("NPC79nXCxx (4M)", {0x03, 0x04, 512 * KiB, kUnset, kUnset, kUnset, 0xC8, 0x40, 400, 0, kUnset},
           Visibility::kHidden);

  b.BeginHidden({"AG9xxx"},
                {{F::Family, 0x80}, {F::Size, 128 * KiB}, {F::IdByte1, 0x10}, {F::IdByte2, 0xA1}, {F::EraseTime, 200},
                 {F::PageFlash, 0}},
                {F::SubType})
      .Row("AG9311-MAQ", {0x00})
      .Row("AG9311-MCQ", {0x00})
      .Row("AG9411xxx", {0x10})
      .Row("AG9421xxx", {0x18});

  // 528-byte pages: 4096 pages of 528 bytes. Its option bit 0x20 is OR-ed
  // into the job's option bits, which are rebuilt at each operation start.
  top.Separator().Row("AT45DB16E",
                      {0x40, kUnset, 2162688, kUnset, kUnset, 0x00, 0x10, 0x10, 500, 1, 0x20});

  return b.Take();
}

// The submenu reached by `path` below `level`, created at the end of the
// level when it does not exist yet.
std::vector<ChipMenuNode>& SubmenuChildren(std::vector<ChipMenuNode>& level, const std::vector<std::string>& path,
                                           const Catalogue& catalogue) {
  std::vector<ChipMenuNode>* children = &level;
  for (std::size_t depth = 0; depth < path.size(); ++depth) {
    auto it = std::find_if(children->begin(), children->end(), [&](const ChipMenuNode& node) {
      return node.kind == ChipMenuNode::Kind::Submenu && node.caption == path[depth];
    });
    if (it == children->end()) {
      ChipMenuNode submenu;
      submenu.kind = ChipMenuNode::Kind::Submenu;
      submenu.caption = path[depth];
      const std::vector<std::string> prefix(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(depth) + 1);
      submenu.hidden = std::find(catalogue.hiddenSubmenus.begin(), catalogue.hiddenSubmenus.end(), prefix) !=
                       catalogue.hiddenSubmenus.end();
      children->push_back(std::move(submenu));
      it = children->end() - 1;
    }
    children = &it->children;
  }
  return *children;
}

// A catalogue in use with its menu. Once in use it is never freed, so that
// entries and menu nodes handed out stay valid.
struct CatalogueInUse {
  Catalogue catalogue;
  std::vector<std::string> notes;
  std::vector<ChipMenuNode> menu;
};

CatalogueInUse* NewCatalogueInUse(Catalogue catalogue, std::vector<std::string> notes) {
  // Every catalogue ever in use stays listed here, so that one replaced by
  // another is still held rather than lost (the list itself lives as long
  // as the process).
  static std::mutex guard;
  static auto* const everInUse = new std::vector<std::unique_ptr<CatalogueInUse>>;
  auto made = std::make_unique<CatalogueInUse>(CatalogueInUse{std::move(catalogue), std::move(notes), {}});
  made->menu = BuildChipMenu(made->catalogue);
  const std::lock_guard<std::mutex> lock(guard);
  everInUse->push_back(std::move(made));
  return everInUse->back().get();
}

std::atomic<const CatalogueInUse*> g_chosen{nullptr};

const CatalogueInUse& InUse() {
  if (const CatalogueInUse* chosen = g_chosen.load(std::memory_order_acquire)) return *chosen;
  static const CatalogueInUse* const compiled = NewCatalogueInUse(CompiledCatalogue(), {});
  return *compiled;
}

}  // namespace

std::vector<ChipMenuNode> BuildChipMenu(const Catalogue& catalogue) {
  std::vector<ChipMenuNode> top;
  auto addSeparatorsBefore = [&](std::size_t index) {
    for (const MenuSeparator& separator : catalogue.separators) {
      if (separator.beforeEntry != index) continue;
      ChipMenuNode node;
      node.kind = ChipMenuNode::Kind::Separator;
      SubmenuChildren(top, separator.menu, catalogue).push_back(std::move(node));
    }
  };
  for (std::size_t i = 0; i < catalogue.entries.size(); ++i) {
    addSeparatorsBefore(i);
    const CatalogueEntry& entry = catalogue.entries[i];
    ChipMenuNode node;
    node.kind = ChipMenuNode::Kind::Entry;
    node.caption = entry.caption;
    node.hidden = entry.hidden;
    node.entry = &entry;
    SubmenuChildren(top, entry.menu, catalogue).push_back(std::move(node));
  }
  addSeparatorsBefore(catalogue.entries.size());
  return top;
}

const char* ChipFieldName(ChipField field) {
  switch (field) {
    case ChipField::Family: return "Family";
    case ChipField::SubType: return "SubType";
    case ChipField::Size: return "Size";
    case ChipField::PageSize: return "PageSize";
    case ChipField::AddrStyle: return "AddrStyle";
    case ChipField::ModeFlags: return "ModeFlags";
    case ChipField::IdByte1: return "IdByte1";
    case ChipField::IdByte2: return "IdByte2";
    case ChipField::EraseTime: return "EraseTime";
    case ChipField::LowVoltChip: return "LowVoltChip";
    case ChipField::ForceQe: return "ForceQe";
    case ChipField::PageFlash: return "PageFlash";
    case ChipField::HideProtect: return "HideProtect";
    case ChipField::OptionBits: return "OptionBits";
  }
  return "";
}

const Catalogue& CompiledCatalogue() {
  static const Catalogue catalogue = BuildCatalogue();
  return catalogue;
}

void UseCatalogue(Catalogue catalogue, std::vector<std::string> notes) {
  g_chosen.store(NewCatalogueInUse(std::move(catalogue), std::move(notes)), std::memory_order_release);
}

const std::vector<std::string>& CatalogueNotes() { return InUse().notes; }

const std::vector<CatalogueEntry>& ChipCatalogue() { return InUse().catalogue.entries; }

const CatalogueEntry* FindChip(std::string_view caption) {
  for (const CatalogueEntry& entry : ChipCatalogue()) {
    if (entry.caption == caption) return &entry;
  }
  return nullptr;
}

void ApplyCatalogueEntry(const CatalogueEntry& entry, ChipParams& chip, uint8_t& optionBits) {
  for (const FieldAssignment& a : entry.fields) {
    const auto byte = static_cast<uint8_t>(a.value);
    switch (a.field) {
      case ChipField::Family: chip.Family = byte; break;
      case ChipField::SubType: chip.SubType = byte; break;
      case ChipField::Size: chip.Size = a.value; break;
      case ChipField::PageSize: chip.PageSize = a.value; break;
      case ChipField::AddrStyle: chip.AddrStyle = byte; break;
      case ChipField::ModeFlags: chip.ModeFlags = byte; break;
      case ChipField::IdByte1: chip.IdByte1 = byte; break;
      case ChipField::IdByte2: chip.IdByte2 = byte; break;
      case ChipField::EraseTime: chip.EraseTime = static_cast<uint16_t>(a.value); break;
      case ChipField::LowVoltChip: chip.LowVoltChip = byte; break;
      case ChipField::ForceQe: chip.ForceQe = byte; break;
      case ChipField::PageFlash: chip.PageFlash = byte; break;
      case ChipField::HideProtect: chip.HideProtect = byte; break;
      case ChipField::OptionBits: optionBits = static_cast<uint8_t>(optionBits | byte); break;
    }
  }
}

const std::vector<ChipMenuNode>& ChipMenu() { return InUse().menu; }

}  // namespace velkor
