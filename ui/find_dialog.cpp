#include "find_dialog.hpp"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

namespace velkor::ui {

std::optional<FindRequest> RunFindDialog(QWidget* parent, const FindRequest& last) {
  QDialog dialog(parent);
  dialog.setObjectName("FindDialog");
  dialog.setWindowTitle(QDialog::tr("Find"));
  auto* text = new QLineEdit(QString::fromStdString(last.text), &dialog);
  text->setObjectName("FindText");
  auto* hex = new QRadioButton(QDialog::tr("Hex bytes"), &dialog);
  hex->setObjectName("FindHex");
  auto* characters = new QRadioButton(QDialog::tr("Text"), &dialog);
  characters->setObjectName("FindCharacters");
  (last.hexBytes ? hex : characters)->setChecked(true);
  auto* backward = new QCheckBox(QDialog::tr("Backward"), &dialog);
  backward->setObjectName("FindBackward");
  backward->setChecked(last.direction == SearchDirection::Backward);
  auto* wrap = new QCheckBox(QDialog::tr("Wrap around"), &dialog);
  wrap->setObjectName("FindWrap");
  wrap->setChecked(last.wrap);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

  auto* form = new QFormLayout;
  form->addRow(QDialog::tr("Find:"), text);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(form);
  for (QWidget* option : std::initializer_list<QWidget*>{hex, characters, backward, wrap}) layout->addWidget(option);
  layout->addWidget(buttons);
  text->selectAll();
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  FindRequest request;
  request.text = text->text().toStdString();
  request.hexBytes = hex->isChecked();
  request.direction = backward->isChecked() ? SearchDirection::Backward : SearchDirection::Forward;
  request.wrap = wrap->isChecked();
  return request;
}

}  // namespace velkor::ui
