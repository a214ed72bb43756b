#include "ui/CategoryTree.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <algorithm>

namespace vantrel {
namespace {

// A node with its own colour keeps it when selected, in every column.
class NodeColourDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QVariant foreground = index.data(Qt::ForegroundRole);
    if (foreground.canConvert<QBrush>()) {
      option->palette.setBrush(QPalette::HighlightedText, foreground.value<QBrush>());
    }
  }
};

}  // namespace

CategoryTree::CategoryTree(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(0);
  setHeaderLabels({});
  setRootIsDecorated(true);
  setItemsExpandable(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setItemDelegate(new NodeColourDelegate(this));
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  header()->setMinimumSectionSize(1);
  connect(header(), &QHeaderView::sectionResized, this, &CategoryTree::KeepFirstColumnWide);
}

void CategoryTree::KeepFirstColumnWide(int logicalIndex, int oldSize, int newSize) {
  if (restoringWidth_ || logicalIndex != 0 || newSize >= kMinFirstColumnWidth) return;
  restoringWidth_ = true;
  header()->resizeSection(0, std::max(oldSize, kMinFirstColumnWidth));
  restoringWidth_ = false;
}

void CategoryTree::SetColumns(const std::vector<std::pair<QString, int>>& columns) {
  QStringList headings;
  for (const auto& column : columns) headings << column.first;
  setColumnCount(static_cast<int>(columns.size()));
  setHeaderLabels(headings);
  restoringWidth_ = true;  // programmatic widths are taken as given
  for (size_t c = 0; c < columns.size(); ++c)
    setColumnWidth(static_cast<int>(c), columns[c].second);
  restoringWidth_ = false;
}

QTreeWidgetItem* CategoryTree::AddNode(QTreeWidgetItem* parent, const QStringList& texts,
                                       const QColor& colour) {
  auto* node = new QTreeWidgetItem(texts);
  if (colour.isValid()) {
    for (int c = 0; c < std::max(columnCount(), static_cast<int>(texts.size())); ++c) {
      node->setForeground(c, colour);
    }
  }
  if (parent) {
    parent->addChild(node);
  } else {
    addTopLevelItem(node);
  }
  return node;
}

QString CategoryTree::NodeName(const QTreeWidgetItem* node) {
  return node ? node->text(0) : QString();
}

QColor CategoryTree::NodeColour(const QTreeWidgetItem* node) {
  if (!node) return QColor();
  const QVariant foreground = node->data(0, Qt::ForegroundRole);
  return foreground.canConvert<QBrush>() ? foreground.value<QBrush>().color() : QColor();
}

QTreeWidgetItem* CategoryTree::HitTest(const QPoint& viewportPoint, int* column) const {
  // indexAt() already accounts for the horizontal scroll offset, and gives no
  // index right of the last column or below the last node.
  const QModelIndex index = indexAt(viewportPoint);
  if (column) *column = index.isValid() ? index.column() : -1;
  return index.isValid() ? itemFromIndex(index) : nullptr;
}

void CategoryTree::mousePressEvent(QMouseEvent* event) {
  QTreeWidgetItem* node = nullptr;
  if (event->button() == Qt::LeftButton) node = HitTest(event->position().toPoint());
  if (event->button() == Qt::LeftButton && !node) {
    setFocus(Qt::MouseFocusReason);  // a miss only takes the focus
    emit nodeClicked(nullptr);
    return;
  }
  QTreeWidget::mousePressEvent(event);
  if (node) {
    setCurrentItem(node);
    emit nodeClicked(node);
  }
}

}  // namespace vantrel
