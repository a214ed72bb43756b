// The record list's table: one of three column layouts (messages, contacts,
// calls) over rows that point into the loaded collections. A fill stores one
// small entry per row and cell texts are made only when the view asks for
// them, so 10^5 rows appear at once; a sort orders a row permutation by the
// clicked column's text, computed once per row.
//
// Rows point into the collections they were filled from: the list must be
// emptied (RemoveAllRows or a new layout) before those collections change.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "recovery/ContactNames.h"
#include "recovery/Records.h"

namespace vantrel {

// The list's layouts are the record kinds (Records.h) the detail pane reads.

struct ColumnLayout {
  QString heading;
  int width;  // pixels; 0 = hidden
  Qt::Alignment alignment;
};

// The columns of a layout, in order.
const std::vector<ColumnLayout>& LayoutColumns(RecordKind kind);

// The count pane's text for a fill that reports a count: "记录数：<count>".
QString CountPaneText(int count);

class RecordTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit RecordTableModel(QObject* parent = nullptr);

  // Removes every column and row, then sets the kind's columns.
  void SetLayout(RecordKind kind);
  // Removes every column and row (the list before the first category click).
  void RemoveAllColumns();
  void RemoveAllRows();

  RecordKind recordKind() const { return kind_; }
  // The address book whose names the last column of messages and calls
  // shows ("" for no name); nullptr shows none. It must outlive the rows.
  void SetContactNames(const ContactNames* names);
  const std::vector<ColumnLayout>& columns() const { return columns_; }

  // The fills, each into an emptied list. Those that report a count (the
  // status bar shows it) return it; nullopt when nothing is to be reported.
  //  live messages: addresses in descending order (the fill inserts each
  //    address's messages at the top), each address's messages in record order;
  //  deleted messages: in order, no address; no count when there are none;
  //  live contacts: person keys ascending, with the hidden key column;
  //  deleted contacts: carved numbers beside their owners' names; no count
  //    when the load found no deleted rows at all;
  //  calls: numbers descending, each number's calls in order; no count.
  std::optional<int> FillLiveMessages(const MessageMap& live);
  std::optional<int> FillDeletedMessages(const MessageList& deleted);
  std::optional<int> FillLiveContacts(const ContactMap& contacts);
  std::optional<int> FillDeletedContacts(const std::optional<DeletedContactList>& deleted);
  void FillCalls(const CallMap& calls);

  // The text of a cell as the list shows it; "" outside the list.
  std::string CellText(int row, int column) const;
  // The record a message or call row shows; nullptr for a row of another
  // kind or outside the list.
  const MessageRecord* MessageAt(int row) const;
  const CallRecord* CallAt(int row) const;

  // A click on a column header: ascending when the column differs from the
  // last sorted one or the last order was descending, else descending. The
  // sort state starts at column 0 ascending, so a first click on column 0
  // sorts descending.
  void SortByHeaderClick(int column);
  int sortColumn() const { return sortColumn_; }
  bool sortAscending() const { return sortAscending_; }

  // QAbstractTableModel
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  // Orders the rows by the column's text, comparing bytes as unsigned values;
  // equal texts keep their relative order. Selection and current row follow
  // their rows.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 signals:
  // A new layout (or none) replaced the columns: the view applies their widths.
  void columnsReplaced();

 private:
  // One list row, of the layout's kind: pointers into the collections, never copies.
  struct MessageRow {
    const MessageRecord* record;
    const std::string* address;  // null for a deleted message
  };
  struct ContactRow {
    const ContactRecord* record;
    uint32_t key;  // its person key
  };
  struct DeletedContactRow {
    const DeletedContact* contact;
  };
  struct CallRow {
    const CallRecord* record;
    const std::string* number;
  };
  using Row = std::variant<MessageRow, ContactRow, DeletedContactRow, CallRow>;

  std::string_view CellView(const Row& row, int column, std::string& scratch) const;
  bool CellIsComputed(int column) const;
  void ReplaceRows(std::vector<Row>&& rows);

  RecordKind kind_ = RecordKind::Messages;
  const ContactNames* names_ = nullptr;
  std::vector<ColumnLayout> columns_;
  std::vector<Row> rows_;
  int sortColumn_ = 0;
  bool sortAscending_ = true;
};

}  // namespace vantrel
