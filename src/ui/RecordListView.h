// The record list control: a table view over RecordTableModel with full-row
// selection and grid lines. A click on a column header sorts by that column
// (ascending, then descending on the next click); the row under a resting
// pointer becomes selected; a left-button press reports the row under the
// pointer (-1 below the last row) for the detail pane. Column widths the user
// drags are kept per layout.
#pragma once

#include <QList>
#include <QPoint>
#include <QTableView>
#include <QTimer>
#include <map>

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

  // The column widths of a layout as the user left them (the layout's own
  // widths until a column is dragged); hidden columns keep 0. Setting them
  // applies at once when the layout is showing, else at its next fill.
  QList<int> ColumnWidths(RecordKind kind) const;
  void SetColumnWidths(RecordKind kind, const QList<int>& widths);

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
  void KeepColumnWidth(int column, int oldWidth, int newWidth);

 private:
  RecordTableModel model_;
  QTimer hoverTimer_;
  QPoint hoverPos_;
  std::map<RecordKind, QList<int>> userWidths_;  // per layout, once a column was dragged
  bool applyingWidths_ = false;
};

}  // namespace vantrel
