#include "about_form.hpp"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

namespace velkor::ui {

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
  setObjectName("TAboutForm");
  setWindowTitle(tr("About"));

  auto* icon = new QLabel(this);
  icon->setPixmap(QApplication::style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(48, 48));
  auto* name = new QLabel("<b>Velkor350QN Flash Programmer</b>", this);
  name->setObjectName("ProductName");
  auto* version = new QLabel(tr("Version %1").arg(VELKOR_VERSION), this);
  version->setObjectName("Version");
  auto* purpose = new QLabel(
      tr("Host program of the Velkor350QN stand-alone programmer for serial memories: "
      "SPI NOR flash, I2C, SPI and Microwire EEPROMs and SPD EEPROMs. "
      "It drives up to two programmers on USB serial ports."),
      this);
  purpose->setObjectName("Comments");
  purpose->setWordWrap(true);
  purpose->setMinimumWidth(340);

  auto* text = new QVBoxLayout;
  text->addWidget(name);
  text->addWidget(version);
  text->addSpacing(6);
  text->addWidget(purpose);
  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addLayout(text, 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->setObjectName("OKButton");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
  setFixedSize(sizeHint());
}

}  // namespace velkor::ui
