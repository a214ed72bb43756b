// The category tree: a tree under a column header whose rows show one text per
// column. A node's label keeps all its column texts, each followed by a tab
// ("现存数据\t12\t"); column i shows the i-th piece. Nodes can carry their own
// text colour (deleted-data nodes are red). Column 0 cannot be dragged
// narrower than 100 pixels. A left press on a node's row, within the columns,
// selects it and reports nodeClicked(); a press elsewhere reports nothing.
#pragma once

#include <QColor>
#include <QTreeWidget>
#include <map>

namespace vantrel {

class CColumnTreeCtrl : public QTreeWidget {
  Q_OBJECT
 public:
  static constexpr int kMinFirstColumnWidth = 100;
  // Item-data roles from this one on are free for the tree's users; the tree
  // keeps its labels under a role below it.
  static constexpr int kFirstFreeRole = Qt::UserRole + 2;

  explicit CColumnTreeCtrl(QWidget* parent = nullptr);

  // Removes every header column.
  void DeleteAllColumns();
  // Adds a header column at index with its heading and width.
  void InsertColumn(int index, const QString& heading, int width);
  // Removes every node and forgets every node colour.
  void DeleteAllItems();
  // Appends a node under parent (top level when null) whose label is the name alone.
  QTreeWidgetItem* InsertItem(QTreeWidgetItem* parent, const QString& name);
  void SetItemColor(QTreeWidgetItem* node, const QColor& colour);
  // The node's colour, invalid when it has none (the tree's own colour is used).
  QColor ItemColor(QTreeWidgetItem* node) const;
  // The node's column-0 text.
  QString GetItemText(QTreeWidgetItem* node) const;
  // Rebuilds the label from its pieces with piece column replaced, each piece
  // followed by a tab.
  void SetItemText(QTreeWidgetItem* node, int column, const QString& text);
  // The whole tab-separated label.
  QString ItemLabel(QTreeWidgetItem* node) const;
  // The node and column under a point of the viewport; null beyond the last
  // column or below the last node.
  QTreeWidgetItem* HitTest(const QPoint& viewportPoint, int* column = nullptr) const;

 signals:
  void nodeClicked(QTreeWidgetItem* node);  // null: a left press that hit no node

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void ShowPieces(QTreeWidgetItem* node);
  void KeepFirstColumnWide(int logicalIndex, int oldSize, int newSize);

  std::map<QTreeWidgetItem*, QColor> colours_;
  bool restoringWidth_ = false;
};

}  // namespace vantrel
