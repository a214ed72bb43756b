#include "ui/CFViewL.h"

#include <QVBoxLayout>
#include <optional>

namespace vantrel {

CFViewL::CFViewL(const Collections& data, CReportCtrl& list, QWidget* parent)
    : QWidget(parent), data_(data), list_(list), tree_(new CColumnTreeCtrl(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tree_);
  connect(tree_, &CColumnTreeCtrl::nodeClicked, this, &CFViewL::OnNodeClicked);
}

void CFViewL::ResetViews() {
  list_.records().RemoveAllColumns();
  tree_->DeleteAllItems();
  categories_.clear();
  lastClicked_ = nullptr;  // the node it pointed at is gone
  tree_->DeleteAllColumns();
  tree_->InsertColumn(0, "分类", 210);
  tree_->InsertColumn(1, "数量", 90);
}

int CFViewL::AddCategory(const QString& name) {
  categories_.push_back(tree_->InsertItem(nullptr, name));
  return static_cast<int>(categories_.size()) - 1;
}

QTreeWidgetItem* CFViewL::CategoryNode(int category) const {
  if (category < 0 || category >= static_cast<int>(categories_.size())) return nullptr;
  return categories_[category];
}

void CFViewL::AddCount(int category, const QString& name, int count, bool deleted) {
  QTreeWidgetItem* parent = CategoryNode(category);
  if (!parent) return;
  QTreeWidgetItem* node = tree_->InsertItem(parent, name);
  if (deleted) tree_->SetItemColor(node, kDeletedNodeColour);
  tree_->SetItemText(node, 1, QString::number(count));
}

void CFViewL::ExpandCategory(int category) {
  if (QTreeWidgetItem* node = CategoryNode(category)) node->setExpanded(true);
}

QTreeWidgetItem* CFViewL::SelectedNode() const {
  const auto selected = tree_->selectedItems();
  return selected.isEmpty() ? nullptr : selected.front();
}

void CFViewL::OnNodeClicked(QTreeWidgetItem* node) {
  lastClicked_ = node;
  if (!node || !node->parent()) return;
  const std::string category = tree_->GetItemText(node->parent()).toStdString();
  const std::string name = tree_->GetItemText(node).toStdString();

  emit statusTextsChanged({}, {});
  RecordTableModel& records = list_.records();
  records.RemoveAllRows();

  std::optional<int> count;
  if (category == category::kMessages) {
    records.SetLayout(RecordKind::Messages);
    if (name == category::kLive) {
      count = records.FillLiveMessages(data_.liveMessages);
    } else if (name == category::kDeleted) {
      count = records.FillDeletedMessages(data_.deletedMessages);
    }
  } else if (category == category::kContacts) {
    records.SetLayout(RecordKind::Contacts);
    if (name == category::kLiveContacts) {
      count = records.FillLiveContacts(data_.contacts);
    } else if (name == category::kDeletedContacts) {
      count = records.FillDeletedContacts(data_.contacts);
    }
  } else if (category == category::kCalls) {
    records.SetLayout(RecordKind::Calls);
    if (name == category::kLive) {
      records.FillCalls(data_.liveCalls);
    } else if (name == category::kDeleted) {
      records.FillCalls(data_.deletedCalls);
    }
  }
  if (count) emit statusTextsChanged(QString::fromStdString(name), CountPaneText(*count));
}

}  // namespace vantrel
