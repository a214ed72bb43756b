// The upper right pane: the record list, filling the whole pane.
#pragma once

#include <QWidget>

#include "ui/CReportCtrl.h"

namespace vantrel {

class CRightViewTop : public QWidget {
  Q_OBJECT
 public:
  explicit CRightViewTop(QWidget* parent = nullptr);
  CReportCtrl& list() { return *list_; }
  const CReportCtrl& list() const { return *list_; }

 private:
  CReportCtrl* list_;
};

}  // namespace vantrel
