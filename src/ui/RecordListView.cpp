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

  hoverTimer_.setSingleShot(true);
  hoverTimer_.setInterval(kHoverSelectMs);
  connect(&hoverTimer_, &QTimer::timeout, this, &RecordListView::SelectHoveredRow);
}

void RecordListView::ApplyColumnWidths() {
  const auto& columns = model_.columns();
  horizontalHeader()->setSortIndicatorShown(false);
  for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
    setColumnHidden(c, columns[c].width == 0);
    if (columns[c].width > 0) setColumnWidth(c, columns[c].width);
  }
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
