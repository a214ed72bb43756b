// The record list control: a table view over RecordTableModel with full-row
// selection and grid lines. A click on a column header sorts by that column
// (ascending, then descending on the next click); the row under a resting
// pointer becomes selected; a left-button press reports the row under the
// pointer (-1 below the last row) for the detail pane.
#pragma once

#include <QPoint>
#include <QTableView>
#include <QTimer>

#include "ui/RecordTableModel.h"

namespace vantrel {

class RecordListView : public QTableView {
  Q_OBJECT
 public:
  // How long the pointer must rest on a row before it is selected.
  static constexpr int kHoverSelectMs = 400;

  explicit RecordListView(QWidget* parent = nullptr);

  RecordTableModel& records() { return model_; }
  const RecordTableModel& records() const { return model_; }
  RecordKind recordKind() const { return model_.recordKind(); }

 signals:
  void rowPressed(int row);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private slots:
  void ApplyColumnWidths();
  void SortByHeader(int column);
  void SelectHoveredRow();

 private:
  RecordTableModel model_;
  QTimer hoverTimer_;
  QPoint hoverPos_;
};

}  // namespace vantrel
