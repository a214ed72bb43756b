#include "ui/CategoryPane.h"

#include <QVBoxLayout>
#include <optional>

#include "export/CategoryNames.h"

namespace vantrel {
namespace {

// Where a node keeps what it holds: the kind of a top-level node, the
// category of a child.
constexpr int kKindRole = Qt::UserRole;
constexpr int kCategoryRole = Qt::UserRole + 1;
constexpr int kConversationRole = Qt::UserRole + 2;  // index; -1 on the 会话 node itself

constexpr char kConversationsNodeName[] = QT_TRANSLATE_NOOP("vantrel::CategoryPane", "会话");

}  // namespace

CategoryPane::CategoryPane(const Collections& data, RecordListView& list, QWidget* parent)
    : QWidget(parent), data_(data), list_(list), tree_(new CategoryTree(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tree_);
  connect(tree_, &CategoryTree::nodeClicked, this, &CategoryPane::OnNodeClicked);
}

void CategoryPane::ResetViews() {
  list_.records().RemoveAllColumns();
  tree_->clear();
  categories_.clear();
  lastClicked_ = nullptr;  // the node it pointed at is gone
  conversationsNode_ = nullptr;
  conversations_.clear();
  listedName_.clear();
  listedCount_.reset();
  tree_->SetColumns({{tr("分类"), 210}, {tr("数量"), 90}});
}

int CategoryPane::AddCategory(RecordKind kind) {
  QTreeWidgetItem* node = tree_->AddNode(nullptr, {KindName(kind)});
  node->setData(0, kKindRole, static_cast<int>(kind));
  categories_.push_back(node);
  return static_cast<int>(categories_.size()) - 1;
}

QTreeWidgetItem* CategoryPane::CategoryNode(int category) const {
  if (category < 0 || category >= static_cast<int>(categories_.size())) return nullptr;
  return categories_[category];
}

void CategoryPane::AddCount(int parent, Category category, int count) {
  QTreeWidgetItem* parentNode = CategoryNode(parent);
  if (!parentNode) return;
  QTreeWidgetItem* node =
      tree_->AddNode(parentNode, {CategoryName(category), QString::number(count)},
                     IsDeleted(category) ? kDeletedNodeColour : QColor());
  node->setData(0, kCategoryRole, static_cast<int>(category));
}

void CategoryPane::ExpandCategory(int category) {
  if (QTreeWidgetItem* node = CategoryNode(category)) node->setExpanded(true);
}

void CategoryPane::AddConversations(const ContactNames& names) {
  conversations_ = GroupConversations(data_, names);
  QTreeWidgetItem* messagesNode = nullptr;
  for (QTreeWidgetItem* node : categories_) {
    if (node->data(0, kKindRole).toInt() == static_cast<int>(RecordKind::Messages))
      messagesNode = node;
  }
  if (!messagesNode || conversations_.empty()) return;
  conversationsNode_ = tree_->AddNode(
      messagesNode, {tr(kConversationsNodeName), QString::number(conversations_.size())});
  conversationsNode_->setData(0, kConversationRole, -1);
  for (size_t i = 0; i < conversations_.size(); ++i) {
    const Conversation& conversation = conversations_[i];
    // A conversation holding recovered messages shows its count in the deleted colour.
    QTreeWidgetItem* node =
        tree_->AddNode(conversationsNode_, {QString::fromStdString(ConversationTitle(conversation)),
                                            QString::number(conversation.messages.size())});
    node->setData(0, kConversationRole, static_cast<int>(i));
    if (conversation.deletedCount > 0) node->setForeground(1, kDeletedNodeColour);
    if (conversation.unknown) node->setForeground(0, kDeletedNodeColour);
    node->setToolTip(0, tr("%1条短信，其中%2条已删除")
                            .arg(conversation.messages.size())
                            .arg(conversation.deletedCount));
  }
}

void CategoryPane::AddMessageTraces() {
  if (data_.messageTraces.empty()) return;
  for (int k = 0; k < static_cast<int>(categories_.size()); ++k) {
    if (categories_[k]->data(0, kKindRole).toInt() == static_cast<int>(RecordKind::Messages)) {
      AddCount(k, Category::MessageTraces, static_cast<int>(data_.messageTraces.size()));
      return;
    }
  }
}

QTreeWidgetItem* CategoryPane::ConversationNode(int i) const {
  if (!conversationsNode_ || i < 0 || i >= conversationsNode_->childCount()) return nullptr;
  return conversationsNode_->child(i);
}

int CategoryPane::ConversationOf(const QTreeWidgetItem* node) {
  if (!node) return -1;
  const QVariant value = node->data(0, kConversationRole);
  return value.isValid() ? value.toInt() : -1;
}

void CategoryPane::RefreshStatusTexts() {
  const RecordTableModel& records = list_.records();
  if (listedName_.isEmpty()) {
    emit statusTextsChanged({}, {});
  } else if (records.filterActive()) {
    emit statusTextsChanged(listedName_,
                            CountPaneText(records.rowCount(), records.totalRowCount()));
  } else if (listedCount_) {
    emit statusTextsChanged(listedName_, CountPaneText(*listedCount_));
  } else {
    // A fill that reports no count (calls) leaves both panes empty, as it always has.
    emit statusTextsChanged({}, {});
  }
}

QTreeWidgetItem* CategoryPane::SelectedNode() const {
  const auto selected = tree_->selectedItems();
  return selected.isEmpty() ? nullptr : selected.front();
}

std::optional<Category> CategoryPane::SelectedCategory() const {
  return CategoryOf(SelectedNode());
}

std::optional<Category> CategoryPane::CategoryOf(const QTreeWidgetItem* node) {
  if (!node || !node->parent()) return std::nullopt;
  const QVariant value = node->data(0, kCategoryRole);  // none on conversation nodes
  if (!value.isValid()) return std::nullopt;
  return static_cast<Category>(value.toInt());
}

void CategoryPane::OnNodeClicked(QTreeWidgetItem* node) {
  lastClicked_ = node;
  RecordTableModel& records = list_.records();
  const int conversation = ConversationOf(node);
  if (conversation >= 0 && conversation < static_cast<int>(conversations_.size())) {
    emit statusTextsChanged({}, {});
    records.RemoveAllRows();
    listedCount_ = records.FillConversation(conversations_[conversation]);
    listedName_ =
        tr("会话：") + QString::fromStdString(ConversationTitle(conversations_[conversation]));
    RefreshStatusTexts();
    return;
  }
  const std::optional<Category> category = CategoryOf(node);
  if (!category) return;

  emit statusTextsChanged({}, {});
  records.RemoveAllRows();
  records.SetLayout(KindOf(*category));

  std::optional<int> count;
  switch (*category) {
    case Category::LiveMessages:
      count = records.FillLiveMessages(data_.liveMessages);
      break;
    case Category::DeletedMessages:
      count = records.FillDeletedMessages(data_.deletedMessages);
      break;
    case Category::LiveContacts:
      count = records.FillLiveContacts(data_.contacts);
      break;
    case Category::DeletedContacts:
      count = records.FillDeletedContacts(data_.deletedContacts);
      break;
    case Category::LiveCalls:
      records.FillCalls(data_.liveCalls);
      break;
    case Category::DeletedCalls:
      records.FillCalls(data_.deletedCalls);
      break;
    case Category::MessageTraces:
      count = records.FillMessageTraces(data_.messageTraces);
      break;
  }
  listedName_ = CategoryName(*category);
  listedCount_ = count;
  RefreshStatusTexts();
}

}  // namespace vantrel
