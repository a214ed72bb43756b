#include "ui/CReportCtrl.h"

#include <QHeaderView>
#include <QMouseEvent>

namespace vantrel {

CReportCtrl::CReportCtrl(QWidget* parent) : QTableView(parent), model_(this) {
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

  connect(&model_, &RecordTableModel::columnsReplaced, this, &CReportCtrl::ApplyColumnWidths);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &CReportCtrl::SortByHeader);

  hoverTimer_.setSingleShot(true);
  hoverTimer_.setInterval(kHoverSelectMs);
  connect(&hoverTimer_, &QTimer::timeout, this, &CReportCtrl::SelectHoveredRow);
}

void CReportCtrl::ApplyColumnWidths() {
  const auto& columns = model_.columns();
  horizontalHeader()->setSortIndicatorShown(false);
  for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
    setColumnHidden(c, columns[c].width == 0);
    if (columns[c].width > 0) setColumnWidth(c, columns[c].width);
  }
}

void CReportCtrl::SortByHeader(int column) {
  model_.SortByHeaderClick(column);
  horizontalHeader()->setSortIndicatorShown(true);
  horizontalHeader()->setSortIndicator(
      column, model_.sortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void CReportCtrl::mousePressEvent(QMouseEvent* event) {
  QTableView::mousePressEvent(event);
  if (event->button() == Qt::LeftButton) emit rowPressed(rowAt(event->position().toPoint().y()));
}

void CReportCtrl::mouseMoveEvent(QMouseEvent* event) {
  QTableView::mouseMoveEvent(event);
  if (event->buttons() == Qt::NoButton) {
    hoverPos_ = event->position().toPoint();
    hoverTimer_.start();
  }
}

void CReportCtrl::leaveEvent(QEvent* event) {
  hoverTimer_.stop();
  QTableView::leaveEvent(event);
}

void CReportCtrl::SelectHoveredRow() {
  const QModelIndex index = indexAt(hoverPos_);
  if (!index.isValid() || !viewport()->rect().contains(hoverPos_)) return;
  selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

}  // namespace vantrel
