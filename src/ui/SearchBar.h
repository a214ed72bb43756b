// The bar above the record list that narrows it: a search field (text,
// number or name; case and full/half width do not matter) filtering as the
// user types, and a date range, off until its box is ticked, from one day to
// another (both days included).
#pragma once

#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QWidget>

#include "model/RecordFilter.h"

namespace vantrel {

class SearchBar : public QWidget {
  Q_OBJECT
 public:
  explicit SearchBar(QWidget* parent = nullptr);

  // The filter the bar's state asks for.
  RecordFilter Filter() const;

  QLineEdit& field() { return *field_; }
  QCheckBox& dateBox() { return *dateBox_; }
  QDateEdit& fromDate() { return *from_; }
  QDateEdit& toDate() { return *to_; }

 signals:
  // Any change of the text, the box or a date.
  void filterChanged(const RecordFilter& filter);

 private slots:
  void Report();

 private:
  QLineEdit* field_;
  QCheckBox* dateBox_;
  QDateEdit* from_;
  QDateEdit* to_;
};

}  // namespace vantrel
