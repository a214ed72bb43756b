#include "ui/RecordListView.h"

#include <QHeaderView>
#include <QMouseEvent>

namespace vantrel {

RecordListView::RecordListView(QWidget* parent) : QTableView(parent), model_(this) {
  setModel(&model_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  setWordWrap(false);
  setTextElideMode(Qt::ElideRight);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setMouseTracking(true);

  // Every row has the same height, so the view never measures rows: this is
  // what keeps a list of 10^5 rows instant.
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setStretchLastSection(false);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);

  connect(&model_, &RecordTableModel::columnsReplaced, this, &RecordListView::ApplyColumnWidths);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &RecordListView::SortByHeader);
  connect(horizontalHeader(), &QHeaderView::sectionResized, this, &RecordListView::KeepColumnWidth);

  hoverTimer_.setSingleShot(true);
  hoverTimer_.setInterval(kHoverSelectMs);
  connect(&hoverTimer_, &QTimer::timeout, this, &RecordListView::SelectHoveredRow);
}

void RecordListView::ApplyColumnWidths() {
  const auto& columns = model_.columns();
  horizontalHeader()->setSortIndicatorShown(false);
  const auto user = userWidths_.find(model_.recordKind());
  applyingWidths_ = true;
  for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
    setColumnHidden(c, columns[c].width == 0);
    if (columns[c].width == 0) continue;
    int width = columns[c].width;
    if (user != userWidths_.end() && c < user->second.size() && user->second[c] > 0)
      width = user->second[c];
    setColumnWidth(c, width);
  }
  applyingWidths_ = false;
}

QList<int> RecordListView::ColumnWidths(RecordKind kind) const {
  const auto user = userWidths_.find(kind);
  QList<int> widths;
  const auto& columns = LayoutColumns(kind);
  for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
    const bool dragged =
        user != userWidths_.end() && c < user->second.size() && user->second[c] > 0;
    widths << (columns[c].width == 0 ? 0 : dragged ? user->second[c] : columns[c].width);
  }
  return widths;
}

void RecordListView::SetColumnWidths(RecordKind kind, const QList<int>& widths) {
  userWidths_[kind] = widths;
  if (!model_.columns().empty() && model_.recordKind() == kind) ApplyColumnWidths();
}

void RecordListView::KeepColumnWidth(int column, int, int newWidth) {
  if (applyingWidths_ || model_.columns().empty() || newWidth <= 0) return;
  if (column < 0 || column >= static_cast<int>(model_.columns().size())) return;
  if (model_.columns()[column].width == 0) return;  // the hidden key column stays hidden
  QList<int>& widths = userWidths_[model_.recordKind()];
  if (widths.size() <= column) widths.resize(column + 1, 0);
  widths[column] = newWidth;
}

void RecordListView::SortByHeader(int column) {
  model_.SortByHeaderClick(column);
  horizontalHeader()->setSortIndicatorShown(true);
  horizontalHeader()->setSortIndicator(
      column, model_.sortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void RecordListView::mousePressEvent(QMouseEvent* event) {
  QTableView::mousePressEvent(event);
  if (event->button() == Qt::LeftButton) emit rowPressed(rowAt(event->position().toPoint().y()));
}

void RecordListView::mouseMoveEvent(QMouseEvent* event) {
  QTableView::mouseMoveEvent(event);
  if (event->buttons() == Qt::NoButton) {
    hoverPos_ = event->position().toPoint();
    hoverTimer_.start();
  }
}

void RecordListView::leaveEvent(QEvent* event) {
  hoverTimer_.stop();
  QTableView::leaveEvent(event);
}

void RecordListView::SelectHoveredRow() {
  const QModelIndex index = indexAt(hoverPos_);
  if (!index.isValid() || !viewport()->rect().contains(hoverPos_)) return;
  selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

}  // namespace vantrel
