#include "ui/BackupListModel.h"

namespace vantrel {

BackupListModel::BackupListModel(QObject* parent) : QAbstractTableModel(parent) {}

void BackupListModel::SetRows(std::vector<BackupRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void BackupListModel::AppendRow(const BackupRow& row) {
  const int at = static_cast<int>(rows_.size());
  beginInsertRows(QModelIndex(), at, at);
  rows_.push_back(row);
  endInsertRows();
}

int BackupListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int BackupListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 3;
}

QVariant BackupListModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return {};
  }
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  const BackupRow& row = rows_[index.row()];
  if (role == Qt::ToolTipRole) return QString::fromStdString(row.folder);
  switch (index.column()) {
    case 0:
      return QString::fromStdString(row.deviceName);
    case 1:
      return QString::fromStdString(row.lastBackupDate);
    case 2:
      return QString::fromStdString(row.productVersion);
  }
  return {};
}

QVariant BackupListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) {
    return section >= 0 && section < rowCount() ? QVariant(section + 1) : QVariant();
  }
  switch (section) {
    case 0:
      return tr("设备名称");
    case 1:
      return tr("备份日期");
    case 2:
      return tr("设备版本");
  }
  return {};
}

}  // namespace vantrel
