#include "data_view_form.hpp"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/integer_text.hpp"
#include "app/qn_programmer.hpp"
#include "data/image_compare.hpp"
#include "hex_grid.hpp"
#include "text/text_table.hpp"

namespace velkor::ui {

namespace {

// Where a byte's two digits stand on its line of the memo: after the
// address ("0x%08X ", 11 characters) each byte takes " %02X " (4).
constexpr int kFirstDigitColumn = 12;
constexpr int kByteColumns = 4;

std::optional<DataViewKey> PagingKey(int key) {
  switch (key) {
    case Qt::Key_PageUp: return DataViewKey::PageUp;
    case Qt::Key_PageDown: return DataViewKey::PageDown;
    case Qt::Key_Up: return DataViewKey::Up;
    case Qt::Key_Down: return DataViewKey::Down;
    case Qt::Key_Home: return DataViewKey::Home;
    case Qt::Key_End: return DataViewKey::End;
    default: return std::nullopt;
  }
}

}  // namespace

TDataViewForm::TDataViewForm(TQNProgrammer& core, CommandRunner run, QWidget* parent)
    : QDialog(parent), core_(core), run_(std::move(run)), memo_(new QPlainTextEdit(this)), address_(new QLineEdit(this)) {
  setObjectName("TDataViewForm");
  setWindowTitle(tr("View Data Buffer Form"));

  memo_->setObjectName("DataViewMemo");
  memo_->setReadOnly(true);
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  QPalette palette = memo_->palette();
  palette.setColor(QPalette::Text, QColor(0, 0, 200));
  memo_->setPalette(palette);
  // 33 lines of 73 characters: the header and one 512-byte page.
  const QFontMetrics metrics(memo_->font());
  memo_->setMinimumSize(metrics.horizontalAdvance(QString(76, 'W')), metrics.lineSpacing() * 35);

  auto* gotoLabel = new QLabel(tr("GOTO: "), this);
  address_->setObjectName("EditAddr");
  address_->setText(kDataViewInitialAddress);
  address_->setMaxLength(10);
  auto makeButton = [this](const char* name, const char* caption) {
    auto* button = new QPushButton(tr(caption), this);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
  };
  QPushButton* go = makeButton("BitBtnGo", TextKey("GO"));
  QPushButton* pageUp = makeButton("BitBtnPagUp", TextKey("Page Up"));
  QPushButton* pageDown = makeButton("BitBtnPagDw", TextKey("Page Down"));
  QPushButton* ok = makeButton("BitBtn3", TextKey("OK"));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(go, &QPushButton::clicked, this, &TDataViewForm::GoClicked);
  connect(pageUp, &QPushButton::clicked, this, [this] {
    pager_->PageUp();
    Render();
  });
  connect(pageDown, &QPushButton::clicked, this, [this] {
    pager_->PageDown();
    Render();
  });
  // The keys page while the form, the memo or a page button has the focus.
  for (QObject* watched : {static_cast<QObject*>(this), static_cast<QObject*>(memo_), static_cast<QObject*>(pageUp),
                           static_cast<QObject*>(pageDown), static_cast<QObject*>(memo_->viewport())})
    watched->installEventFilter(this);

  auto* controls = new QHBoxLayout;
  controls->addWidget(gotoLabel);
  controls->addWidget(address_);
  controls->addWidget(go);
  controls->addStretch(1);
  controls->addWidget(pageUp);
  controls->addWidget(pageDown);
  controls->addWidget(ok);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(memo_, 1);
  layout->addLayout(controls);
}

void TDataViewForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  pager_.emplace(core_.Image.ChipEnd);
  pager_->Show();
  if (startAt_) pager_->GoTo(*startAt_);
  startAt_.reset();
  Render();
}

bool TDataViewForm::eventFilter(QObject* watched, QEvent* event) {
  if (!pager_) return QDialog::eventFilter(watched, event);
  if (event->type() == QEvent::KeyPress) {
    auto* keyEvent = static_cast<QKeyEvent*>(event);
    if (const auto key = PagingKey(keyEvent->key())) {
      const uint32_t before = pager_->ViewStart();
      pager_->OnKey(*key);
      FollowPage(before);
      Render();
      return true;
    }
    if (EditKey(keyEvent)) return true;
  }
  if (watched == memo_->viewport() && event->type() == QEvent::MouseButtonPress) {
    const auto address = AddressAt(static_cast<QMouseEvent*>(event)->position().toPoint());
    if (address) {
      core_.Editor.SetPane(HexPane::Hex);
      core_.Editor.MoveTo(*address);
      memo_->setFocus();
      Render();
    }
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TDataViewForm::FollowPage(uint32_t previousStart) {
  // The cursor keeps its place on the page, so that what is typed lands
  // where the operator looks.
  HexEditor& editor = core_.Editor;
  if (!editor.HasRange()) return;
  const int64_t offset = int64_t{editor.Cursor()} - previousStart;
  const int64_t inPage = offset >= 0 && offset < int64_t{kDataViewPageBytes} ? offset : 0;
  editor.MoveTo(static_cast<uint32_t>(pager_->ViewStart() + inPage));
}

bool TDataViewForm::EditKey(QKeyEvent* event) {
  HexEditor& editor = core_.Editor;
  if (!editor.HasRange()) return false;
  const auto step = [&](HexMove move) {
    editor.Move(move);
    ShowCursor();
    return true;
  };
  if (event->key() == Qt::Key_Left) return step(HexMove::Left);
  if (event->key() == Qt::Key_Right) return step(HexMove::Right);
  const struct {
    QKeySequence::StandardKey key;
    void (TQNProgrammer::*command)();
  } kCommands[] = {
      {QKeySequence::Undo, &TQNProgrammer::Undo1Click},
      {QKeySequence::Redo, &TQNProgrammer::Redo1Click},
      {QKeySequence::Copy, &TQNProgrammer::CopyBytes1Click},
      {QKeySequence::Paste, &TQNProgrammer::PasteBytes1Click},
      {QKeySequence::Find, &TQNProgrammer::Find1Click},
      {QKeySequence::FindNext, &TQNProgrammer::FindNext1Click},
      {QKeySequence::FindPrevious, &TQNProgrammer::FindPrevious1Click},
  };
  for (const auto& c : kCommands) {
    if (!event->matches(c.key)) continue;
    run_([this, command = c.command] { (core_.*command)(); });
    ShowCursor();
    return true;
  }
  if (event->key() == Qt::Key_F8) {
    const bool back = event->modifiers() & Qt::ShiftModifier;
    run_([this, back] { back ? core_.PreviousDifference1Click() : core_.NextDifference1Click(); });
    ShowCursor();
    return true;
  }
  const QString text = event->text();
  if (text.isEmpty() || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) return false;
  // The viewer shows hex digits only: what is typed here is hex.
  editor.SetPane(HexPane::Hex);
  const QList<uint> characters = text.toUcs4();
  run_([this, &characters] {
    for (const uint c : characters) core_.TypeIntoImage(static_cast<char32_t>(c));
  });
  ShowCursor();
  return true;
}

void TDataViewForm::ShowCursor() {
  // A cursor that left the page takes the page along.
  const HexEditor& editor = core_.Editor;
  if (editor.HasRange()) {
    const uint32_t cursor = editor.Cursor();
    if (cursor < pager_->ViewStart() || cursor - pager_->ViewStart() >= kDataViewPageBytes) pager_->GoTo(cursor);
  }
  Render();
}

std::optional<uint32_t> TDataViewForm::AddressAt(const QPoint& point) const {
  const QTextCursor at = memo_->cursorForPosition(point);
  const int line = at.blockNumber() - 1;  // the header first
  const int column = at.positionInBlock() - kFirstDigitColumn + 1;
  if (line < 0 || line >= static_cast<int>(kDataViewLines) || column < 0) return std::nullopt;
  const int byte = std::min(column / kByteColumns, static_cast<int>(kHexGridRowBytes) - 1);
  return pager_->ViewStart() + static_cast<uint32_t>(line) * kHexGridRowBytes + static_cast<uint32_t>(byte);
}

void TDataViewForm::MarkBytes() {
  // The cursor, the selection, edited and differing bytes, drawn over the
  // memo's text as the grid draws them over its cells.
  const HexEditor& editor = core_.Editor;
  const ImageComparison* comparison = core_.Comparison ? &*core_.Comparison : nullptr;
  const HexLookColours& colours = HexColours();
  QList<QTextEdit::ExtraSelection> marks;
  QTextDocument* document = memo_->document();
  for (uint32_t i = 0; i < kDataViewPageBytes && editor.HasRange(); ++i) {
    const uint64_t address = uint64_t{pager_->ViewStart()} + i;
    if (address > editor.Range().last) break;
    const auto at = static_cast<uint32_t>(address);
    const bool cursor = editor.Cursor() == at;
    const bool selected = editor.Selected(at);
    const bool edited = editor.Edited(at);
    const bool differs = comparison && comparison->Differs(at);
    if (!cursor && !selected && !edited && !differs) continue;
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(document->findBlockByNumber(static_cast<int>(1 + i / kHexGridRowBytes)));
    const int column = kFirstDigitColumn + static_cast<int>(i % kHexGridRowBytes) * kByteColumns;
    mark.cursor.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, column);
    mark.cursor.movePosition(QTextCursor::Right, QTextCursor::KeepAnchor, 2);
    if (cursor || selected || differs)
      mark.format.setBackground(cursor ? colours.cursor : selected ? colours.selected : colours.differs);
    if (edited) mark.format.setForeground(colours.edited);
    marks.push_back(mark);
  }
  memo_->setExtraSelections(marks);
}

void TDataViewForm::GoClicked() {
  // A text that is not a number is reported like any command's error, and
  // the view stays where it was.
  run_([this] {
    const int32_t address = StrToInt(address_->text().toStdString());
    pager_->GoTo(static_cast<uint32_t>(address));
    // The cursor goes to the byte typed, within the image's range.
    if (core_.Editor.HasRange()) core_.Editor.MoveTo(static_cast<uint32_t>(address));
    ShowCursor();
  });
}

void TDataViewForm::Render() {
  const std::vector<std::string> lines = RenderDataViewPage(core_.Image, pager_->ViewStart());
  QString text;
  for (const std::string& line : lines) {
    if (!text.isEmpty()) text += '\n';
    text += QString::fromStdString(line);
  }
  memo_->setPlainText(text);
  MarkBytes();
}

}  // namespace velkor::ui
