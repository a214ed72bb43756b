// The left pane: the category tree of the loaded backup with its count
// column. It carries out the tree side of a load (reset, categories, counts,
// expansion) and turns a click on a category node into a layout and fill of
// the record list and the texts of the status bar's category and count panes.
// A click on a top-level node changes nothing. Each node carries its record
// kind or category as item data; its text is only for showing.
//
// Under 短信 the node 仅存索引 (when the load found any) lists the deleted
// messages only the GUID index still names, their content lost.
//
// Under 短信 the node 会话 lists every conversation (its count: how many);
// a click on one lists its messages in time order, live and recovered
// together, the recovered ones marked and in the deleted colour.
#pragma once

#include <QColor>
#include <QWidget>
#include <optional>
#include <vector>

#include "model/ContactNames.h"
#include "model/Conversations.h"
#include "sources/Collections.h"
#include "ui/CategoryTree.h"
#include "ui/RecordListView.h"

namespace vantrel {

// The colour of deleted-data nodes.
inline const QColor kDeletedNodeColour = kDeletedRowColour;

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
  // After the load's collections are in place: the conversations (named by
  // names, which must outlive them), and the 会话 node with a child per
  // conversation.
  void AddConversations(const ContactNames& names);
  // After the load: the 仅存索引 node under 短信 with the count of messages
  // only the GUID index still names, when there are any.
  void AddMessageTraces();

  const std::vector<Conversation>& conversations() const { return conversations_; }
  QTreeWidgetItem* conversationsNode() const { return conversationsNode_; }
  // The node of conversation i (null when unknown).
  QTreeWidgetItem* ConversationNode(int i) const;
  // The conversation a node stands for; -1 for any other node.
  static int ConversationOf(const QTreeWidgetItem* node);

  // Reports the status texts of what the list now shows: the category (or
  // conversation) and its count; "shown/total" while a filter is active.
  void RefreshStatusTexts();

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
  std::vector<Conversation> conversations_;
  QTreeWidgetItem* conversationsNode_ = nullptr;
  // What the list shows: its status text and the count its fill reported.
  QString listedName_;
  std::optional<int> listedCount_;
};

}  // namespace vantrel
