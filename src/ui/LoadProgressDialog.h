// The modeless progress dialog a load shows: one bar of six equal steps, one
// step per database opened and per database loaded.
#pragma once

#include <QDialog>
#include <QProgressBar>

namespace vantrel {

class LoadProgressDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kSteps = 6;

  explicit LoadProgressDialog(QWidget* parent = nullptr);
  void Step();  // advances one step and repaints at once (the load blocks the event loop)
  int position() const { return bar_->value(); }
  QProgressBar* bar() const { return bar_; }

 private:
  QProgressBar* bar_;
};

}  // namespace vantrel
