// The hex grids of the main window (HexViewer on the data page, RdDatView
// on the read-data page): an address column, sixteen byte columns and a
// text column. The grid is a virtual model: rows are rendered from the
// image when they are shown, so a 2 MiB image needs no 131,072 prepared
// rows.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <cstdint>
#include <functional>
#include <optional>

class QTableView;

namespace velkor {
class ImageBuffer;
class HexEditor;
struct ImageComparison;
}

namespace velkor::ui {

class HexGridModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit HexGridModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // Shows image[first..last]; a null image shows no rows.
  void ShowRange(const ImageBuffer* image, uint32_t first, uint32_t last);
  // Bytes first..last of the image changed: repaint the rows that show them.
  void BytesChanged(uint32_t first, uint32_t last);
  // The cell of the byte at this address; invalid when the grid does not
  // show it.
  QModelIndex IndexOf(uint32_t address) const;
  // The address of a byte cell's byte, or of the first byte of a text
  // cell's row; nothing for the address column and past the image.
  std::optional<uint32_t> AddressOf(const QModelIndex& index) const;
  uint32_t FirstAddress() const { return first_; }

  // What the cells are drawn with besides their bytes: the editor's cursor,
  // selection and edited bytes, and a comparison's differing bytes. Both
  // are read each time a row is drawn; either may be null.
  void Decorate(const HexEditor* editor, std::function<const ImageComparison*()> comparison);
  // How one byte is drawn, for the byte cells and the text column alike.
  struct ByteLook {
    bool cursor = false;         // the cursor's byte, in the column it types into
    bool cursorShadow = false;   // the cursor's byte, in the other column
    bool selected = false;
    bool edited = false;
    bool differs = false;
  };
  ByteLook LookOf(uint32_t address, bool textColumn) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const ImageBuffer* image_ = nullptr;
  uint32_t first_ = 0;
  int rows_ = 0;
  const HexEditor* editor_ = nullptr;
  std::function<const ImageComparison*()> comparison_;
};

// The colours of ByteLook, one table for the grid and the data viewer.
struct HexLookColours {
  QColor cursor, cursorShadow, selected, differs, edited;
};
const HexLookColours& HexColours();

// Column widths and row height for the grid's font and style: the widest
// text each column can show (every address, from 0x00000000 to 0xFFFFFFFF,
// every byte, every line of text) with the margins the cell leaves around it.
struct HexGridWidths {
  int address = 0;
  int byte = 0;
  int text = 0;
  int rowHeight = 0;
};
HexGridWidths HexGridWidthsFor(const QTableView& grid);

// Sets a grid up: the model, a fixed-pitch font, the header "  0" … "  F"
// over the byte columns, and the columns sized by HexGridWidthsFor, sized
// again whenever the grid's font changes.
void SetUpHexGrid(QTableView* grid, HexGridModel* model);

}  // namespace velkor::ui
