#include "difference_list.hpp"

#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/qn_programmer.hpp"
#include "data/image_compare.hpp"
#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor::ui {

DifferenceList::DifferenceList(TQNProgrammer& core, CommandRunner run, QWidget* page)
    : QWidget(page), core_(core), run_(std::move(run)), summary_(new QLabel(this)), list_(new QListWidget(this)) {
  setObjectName("DifferenceList");
  summary_->setObjectName("DifferenceSummary");
  summary_->setWordWrap(true);
  list_->setObjectName("DifferenceRanges");
  list_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(summary_);
  layout->addWidget(list_, 1);
  auto* pageLayout = new QVBoxLayout(page);
  pageLayout->setContentsMargins(4, 4, 4, 4);
  pageLayout->addWidget(this);
  connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    const auto index = static_cast<std::size_t>(list_->row(item));
    run_([this, index] { core_.ShowDifference(index); });
  });
  connect(list_, &QListWidget::itemClicked, list_, &QListWidget::itemActivated);
}

void DifferenceList::Refresh() {
  const auto& comparison = core_.Comparison;
  if (!comparison) {
    summary_->clear();
    list_->clear();
    return;
  }
  summary_->setText(QString::fromStdString(FormatText(Tx("Image against %s:"), core_.ComparedWith.c_str()) + "\n" +
                                           ComparisonSummary(*comparison)));
  const int current = list_->currentRow();
  list_->setUpdatesEnabled(false);
  list_->clear();
  for (const DifferingRange& range : comparison->ranges)
    list_->addItem(QString::fromStdString(DifferingRangeLine(range)));
  if (current >= 0 && current < list_->count()) list_->setCurrentRow(current);
  list_->setUpdatesEnabled(true);
}

}  // namespace velkor::ui
