#include "data_view_form.hpp"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/integer_text.hpp"
#include "app/qn_programmer.hpp"
#include "text/text_table.hpp"

namespace velkor::ui {

namespace {

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
                           static_cast<QObject*>(pageDown)})
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
  Render();
}

bool TDataViewForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && pager_) {
    if (const auto key = PagingKey(static_cast<QKeyEvent*>(event)->key())) {
      pager_->OnKey(*key);
      Render();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TDataViewForm::GoClicked() {
  // A text that is not a number is reported like any command's error, and
  // the view stays where it was.
  run_([this] {
    const int32_t address = StrToInt(address_->text().toStdString());
    pager_->GoTo(static_cast<uint32_t>(address));
    Render();
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
}

}  // namespace velkor::ui
