// The left pane: the category tree of the loaded backup with its count
// column. It carries out the tree side of a load (reset, categories, counts,
// expansion) and turns a click on a category node into a layout and fill of
// the record list and the texts of the status bar's category and count panes.
// A click on a top-level node changes nothing. Each node carries its record
// kind or category as item data; its text is only for showing.
#pragma once

#include <QColor>
#include <QWidget>
#include <optional>
#include <vector>

#include "recovery/Records.h"
#include "ui/CategoryTree.h"
#include "ui/RecordListView.h"

namespace vantrel {

// The colour of deleted-data nodes.
inline const QColor kDeletedNodeColour(200, 0, 0);

class CategoryPane : public QWidget {
  Q_OBJECT
 public:
  CategoryPane(const Collections& data, RecordListView& list, QWidget* parent = nullptr);

  CategoryTree& tree() { return *tree_; }
  const CategoryTree& tree() const { return *tree_; }

  // The tree side of a load.
  void ResetViews();  // empties list and tree; the tree gets "分类" 210 and "数量" 90
  int AddCategory(RecordKind kind);
  void AddCount(int parent, Category category, int count);
  void ExpandCategory(int category);

  // The category node of a category handle (null when unknown).
  QTreeWidgetItem* CategoryNode(int category) const;
  // The selected node, and the category it holds (none for a top-level node):
  // the category the save-current commands write.
  QTreeWidgetItem* SelectedNode() const;
  std::optional<Category> SelectedCategory() const;
  // The category a child node holds; nullopt for a top-level node or none.
  static std::optional<Category> CategoryOf(const QTreeWidgetItem* node);
  // The node of the last click (null when it hit none); kept across reloads.
  QTreeWidgetItem* lastClickedNode() const { return lastClicked_; }

 public slots:
  // What a click on node does: for a child node, lay out and fill the list for
  // its category and report the status texts.
  void OnNodeClicked(QTreeWidgetItem* node);

 signals:
  // The category and count panes' new texts (both empty to clear them).
  void statusTextsChanged(const QString& category, const QString& count);

 private:
  const Collections& data_;
  RecordListView& list_;
  CategoryTree* tree_;
  std::vector<QTreeWidgetItem*> categories_;
  QTreeWidgetItem* lastClicked_ = nullptr;
};

}  // namespace vantrel
