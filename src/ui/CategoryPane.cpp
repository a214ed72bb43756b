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
  tree_->SetColumns({{"分类", 210}, {"数量", 90}});
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

QTreeWidgetItem* CategoryPane::SelectedNode() const {
  const auto selected = tree_->selectedItems();
  return selected.isEmpty() ? nullptr : selected.front();
}

std::optional<Category> CategoryPane::SelectedCategory() const {
  return CategoryOf(SelectedNode());
}

std::optional<Category> CategoryPane::CategoryOf(const QTreeWidgetItem* node) {
  if (!node || !node->parent()) return std::nullopt;
  const QVariant value = node->data(0, kCategoryRole);
  if (!value.isValid()) return std::nullopt;
  return static_cast<Category>(value.toInt());
}

void CategoryPane::OnNodeClicked(QTreeWidgetItem* node) {
  lastClicked_ = node;
  const std::optional<Category> category = CategoryOf(node);
  if (!category) return;

  emit statusTextsChanged({}, {});
  RecordTableModel& records = list_.records();
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
  }
  if (count) emit statusTextsChanged(CategoryName(*category), CountPaneText(*count));
}

}  // namespace vantrel
