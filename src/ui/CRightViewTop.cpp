#include "ui/CRightViewTop.h"

#include <QVBoxLayout>

namespace vantrel {

CRightViewTop::CRightViewTop(QWidget* parent) : QWidget(parent), list_(new CReportCtrl(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_);
}

}  // namespace vantrel
