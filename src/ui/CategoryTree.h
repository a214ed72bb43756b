// The category tree: a tree widget with real columns (a node's name, then its
// count). Nodes can carry their own text colour (deleted-data nodes are red),
// kept when the node is selected. Column 0 cannot be dragged narrower than 100
// pixels. A left press on a node's row, within the columns, selects it and
// reports nodeClicked(node); a left press that hits no node reports null.
#pragma once

#include <QColor>
#include <QTreeWidget>
#include <utility>
#include <vector>

namespace vantrel {

class CategoryTree : public QTreeWidget {
  Q_OBJECT
 public:
  static constexpr int kMinFirstColumnWidth = 100;

  explicit CategoryTree(QWidget* parent = nullptr);

  // Replaces the header by these columns: heading and width in pixels.
  void SetColumns(const std::vector<std::pair<QString, int>>& columns);
  // Appends a node under parent (top level when null) showing texts, one per
  // column, in colour (the tree's own colour when invalid).
  QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const QStringList& texts,
                           const QColor& colour = QColor());
  // The node's name (column 0); empty for null.
  static QString NodeName(const QTreeWidgetItem* node);
  // The node's own colour, invalid when it has none.
  static QColor NodeColour(const QTreeWidgetItem* node);
  // The node and column under a point of the viewport; null beyond the last
  // column or below the last node.
  QTreeWidgetItem* HitTest(const QPoint& viewportPoint, int* column = nullptr) const;

 signals:
  void nodeClicked(QTreeWidgetItem* node);  // null: a left press that hit no node

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void KeepFirstColumnWide(int logicalIndex, int oldSize, int newSize);
  bool restoringWidth_ = false;
};

}  // namespace vantrel
