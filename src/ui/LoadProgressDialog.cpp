#include "ui/LoadProgressDialog.h"

#include <QCoreApplication>
#include <QVBoxLayout>

namespace vantrel {

LoadProgressDialog::LoadProgressDialog(QWidget* parent)
    : QDialog(parent), bar_(new QProgressBar(this)) {
  setWindowTitle(tr("进度条"));
  setModal(false);
  bar_->setRange(0, kSteps);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 12, 10, 12);
  layout->addWidget(bar_);
  resize(760, 50);
}

void LoadProgressDialog::Step() {
  bar_->setValue(std::min(bar_->value() + 1, bar_->maximum()));
  bar_->repaint();
  // Let the window system show the new position; user input waits until the load is done.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace vantrel
