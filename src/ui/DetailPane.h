// The lower right pane: the detail of the record last pressed in the list, as
// read-only labelled text in a CJK-capable font. The text stays until the
// next press on the list; changing category leaves it.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>

#include "recovery/Records.h"
#include "ui/RecordListView.h"

namespace vantrel {

// The detail font: a CJK sans-serif Debian ships (fonts-wqy-microhei), 9 points.
inline constexpr char kDetailFontFamily[] = "WenQuanYi Micro Hei";
inline constexpr int kDetailFontPoints = 9;

class DetailPane : public QWidget {
  Q_OBJECT
 public:
  DetailPane(const RecordListView& list, const ContactMap& contacts, QWidget* parent = nullptr);

  QPlainTextEdit& edit() { return *edit_; }
  QString text() const { return edit_->toPlainText(); }

 public slots:
  void ShowRow(int row);

 private:
  const RecordListView& list_;
  const ContactMap& contacts_;
  QPlainTextEdit* edit_;
};

}  // namespace vantrel
