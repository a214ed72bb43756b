#include "ui/CColumnTreeCtrl.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QStyledItemDelegate>

namespace vantrel {
namespace {

constexpr int kLabelRole = Qt::UserRole + 1;

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

QStringList LabelPieces(const QString& label) {
  QStringList pieces = label.split('\t');
  // Every piece ends in a tab, so the split leaves one empty piece at the end.
  if (pieces.size() > 1 && pieces.back().isEmpty()) pieces.removeLast();
  return pieces;
}

}  // namespace

CColumnTreeCtrl::CColumnTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
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
  connect(header(), &QHeaderView::sectionResized, this, &CColumnTreeCtrl::KeepFirstColumnWide);
}

void CColumnTreeCtrl::KeepFirstColumnWide(int logicalIndex, int oldSize, int newSize) {
  if (restoringWidth_ || logicalIndex != 0 || newSize >= kMinFirstColumnWidth) return;
  restoringWidth_ = true;
  header()->resizeSection(0, std::max(oldSize, kMinFirstColumnWidth));
  restoringWidth_ = false;
}

void CColumnTreeCtrl::DeleteAllColumns() {
  setColumnCount(0);
}

void CColumnTreeCtrl::InsertColumn(int index, const QString& heading, int width) {
  const int count = columnCount();
  QStringList headings;
  for (int c = 0; c < count; ++c) headings << headerItem()->text(c);
  QList<int> widths;
  for (int c = 0; c < count; ++c) widths << columnWidth(c);
  index = std::clamp(index, 0, count);
  headings.insert(index, heading);
  widths.insert(index, width);
  setColumnCount(count + 1);
  setHeaderLabels(headings);
  restoringWidth_ = true;  // programmatic widths are taken as given
  for (int c = 0; c <= count; ++c) setColumnWidth(c, widths[c]);
  restoringWidth_ = false;
  for (QTreeWidgetItemIterator it(this); *it; ++it) ShowPieces(*it);
}

void CColumnTreeCtrl::DeleteAllItems() {
  clear();
  colours_.clear();
}

QTreeWidgetItem* CColumnTreeCtrl::InsertItem(QTreeWidgetItem* parent, const QString& name) {
  auto* node = new QTreeWidgetItem();
  node->setData(0, kLabelRole, name);
  if (parent) {
    parent->addChild(node);
  } else {
    addTopLevelItem(node);
  }
  ShowPieces(node);
  return node;
}

void CColumnTreeCtrl::SetItemColor(QTreeWidgetItem* node, const QColor& colour) {
  if (!node) return;
  colours_[node] = colour;
  ShowPieces(node);
}

QColor CColumnTreeCtrl::ItemColor(QTreeWidgetItem* node) const {
  const auto it = colours_.find(node);
  return it == colours_.end() ? QColor() : it->second;
}

QString CColumnTreeCtrl::ItemLabel(QTreeWidgetItem* node) const {
  return node ? node->data(0, kLabelRole).toString() : QString();
}

QString CColumnTreeCtrl::GetItemText(QTreeWidgetItem* node) const {
  const QStringList pieces = LabelPieces(ItemLabel(node));
  return pieces.isEmpty() ? QString() : pieces.front();
}

void CColumnTreeCtrl::SetItemText(QTreeWidgetItem* node, int column, const QString& text) {
  if (!node || column < 0) return;
  QStringList pieces = LabelPieces(ItemLabel(node));
  while (pieces.size() <= column) pieces << QString();
  pieces[column] = text;
  QString label;
  for (const QString& piece : pieces) label += piece + '\t';
  node->setData(0, kLabelRole, label);
  ShowPieces(node);
}

void CColumnTreeCtrl::ShowPieces(QTreeWidgetItem* node) {
  const QStringList pieces = LabelPieces(ItemLabel(node));
  const QColor colour = ItemColor(node);
  for (int c = 0; c < std::max(columnCount(), 1); ++c) {
    node->setText(c, c < pieces.size() ? pieces[c] : QString());
    if (colour.isValid()) {
      node->setForeground(c, colour);
    } else {
      node->setData(c, Qt::ForegroundRole, QVariant());
    }
  }
}

QTreeWidgetItem* CColumnTreeCtrl::HitTest(const QPoint& viewportPoint, int* column) const {
  // indexAt() already accounts for the horizontal scroll offset, and gives no
  // index right of the last column or below the last node.
  const QModelIndex index = indexAt(viewportPoint);
  if (column) *column = index.isValid() ? index.column() : -1;
  return index.isValid() ? itemFromIndex(index) : nullptr;
}

void CColumnTreeCtrl::mousePressEvent(QMouseEvent* event) {
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
