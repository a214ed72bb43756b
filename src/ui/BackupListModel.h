// The selection dialog's backup list: one row per device backup with its
// device name, last backup date and iOS version.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "backup/Discovery.h"

namespace vantrel {

class BackupListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int kColumnWidths[3] = {200, 180, 100};

  explicit BackupListModel(QObject* parent = nullptr);

  void SetRows(std::vector<BackupRow> rows);
  void AppendRow(const BackupRow& row);
  const std::vector<BackupRow>& rows() const { return rows_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<BackupRow> rows_;
};

}  // namespace vantrel
