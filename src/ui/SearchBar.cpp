#include "ui/SearchBar.h"

#include <QHBoxLayout>
#include <QLabel>

namespace vantrel {
namespace {

QDateEdit* MakeDateEdit(QWidget* parent, const QDate& date) {
  auto* edit = new QDateEdit(date, parent);
  edit->setDisplayFormat("yyyy-MM-dd");
  edit->setCalendarPopup(true);
  edit->setEnabled(false);
  // Wide enough for the whole date beside the calendar button.
  edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance("0000-00-00") + 40);
  return edit;
}

}  // namespace

SearchBar::SearchBar(QWidget* parent)
    : QWidget(parent),
      field_(new QLineEdit(this)),
      dateBox_(new QCheckBox(tr("日期"), this)),
      from_(MakeDateEdit(this, QDate::currentDate().addYears(-1))),
      to_(MakeDateEdit(this, QDate::currentDate())) {
  field_->setObjectName("searchField");
  field_->setPlaceholderText(tr("搜索：文字、号码或姓名"));
  field_->setClearButtonEnabled(true);
  dateBox_->setObjectName("dateRange");
  from_->setObjectName("fromDate");
  to_->setObjectName("toDate");

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 2, 0, 2);
  layout->addWidget(field_, 1);
  layout->addWidget(dateBox_);
  layout->addWidget(from_);
  layout->addWidget(new QLabel(tr("至"), this));
  layout->addWidget(to_);

  connect(field_, &QLineEdit::textChanged, this, &SearchBar::Report);
  connect(dateBox_, &QCheckBox::toggled, this, [this](bool on) {
    from_->setEnabled(on);
    to_->setEnabled(on);
    Report();
  });
  connect(from_, &QDateEdit::dateChanged, this, [this] {
    if (dateBox_->isChecked()) Report();
  });
  connect(to_, &QDateEdit::dateChanged, this, [this] {
    if (dateBox_->isChecked()) Report();
  });
}

RecordFilter SearchBar::Filter() const {
  std::optional<int64_t> since, until;
  if (dateBox_->isChecked()) {
    // The days as the filter reads them: local time, the last day whole.
    since = ParseLocalDate(from_->date().toString("yyyy-MM-dd").toStdString(), false);
    until = ParseLocalDate(to_->date().toString("yyyy-MM-dd").toStdString(), true);
  }
  return RecordFilter(field_->text().trimmed().toStdString(), since, until);
}

void SearchBar::Report() {
  emit filterChanged(Filter());
}

}  // namespace vantrel
