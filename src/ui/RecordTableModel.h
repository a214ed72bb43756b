// The record list's table: one of three column layouts (messages, contacts,
// calls) over rows that point into the loaded collections. A fill stores one
// small entry per row and cell texts are made only when the view asks for
// them, so 10^5 rows appear at once; a sort orders a row permutation by the
// clicked column's text, computed once per row (words and names in Chinese
// collation order, keys made once per distinct text). A filter shows the
// rows it lets through, in the sorted order, without refilling.
//
// Rows point into the collections (and the conversation) they were filled
// from: the list must be emptied (RemoveAllRows or a new layout) before those
// change.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "model/ContactNames.h"
#include "model/Conversations.h"
#include "model/RecordFilter.h"
#include "sources/Collections.h"

namespace vantrel {

// The list's layouts are the record kinds (sources/Collections.h) the detail pane reads.

// The colour of recovered rows among live ones (as deleted-data nodes in the tree).
inline const QColor kDeletedRowColour(200, 0, 0);

struct ColumnLayout {
  QString heading;
  int width;  // pixels; 0 = hidden
  Qt::Alignment alignment;
};

// The columns of a layout, in order.
const std::vector<ColumnLayout>& LayoutColumns(RecordKind kind);

// The count pane's text for a fill that reports a count: "记录数：<count>";
// while a filter is active, "记录数：<shown>/<total>".
QString CountPaneText(int count);
QString CountPaneText(int shown, int total);

// The column a conversation's list adds after the message columns, and what
// it says of a recovered message (source texts of RecordTableModel::tr()).
inline constexpr char kStateHeading[] = QT_TRANSLATE_NOOP("vantrel::RecordTableModel", "状态");
inline constexpr char kRecoveredMark[] = QT_TRANSLATE_NOOP("vantrel::RecordTableModel", "已删除");

// What the list says of a message only the GUID index still names.
inline constexpr char kContentLostText[] =
    QT_TRANSLATE_NOOP("vantrel::RecordTableModel", "内容已丢失 (content lost)");

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
  // The address book whose names the 联系人 column of messages and calls
  // shows ("" for no name) and searches find them by; nullptr shows none.
  // It must outlive the rows.
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
  //  a conversation: its messages in its (time) order, with the message
  //    columns and a state column marking the recovered ones, which also show
  //    in the deleted colour; always a count.
  std::optional<int> FillConversation(const Conversation& conversation);
  //  index-only traces of deleted messages: their own columns (GUID, rowid,
  //    content lost, where found) in the order found; always a count.
  std::optional<int> FillMessageTraces(const MessageTraceList& traces);

  // Shows only the rows the filter lets through, in the current order; an
  // empty filter shows every row. The filter stays for the next fills until
  // replaced. Each row's search key is made once per fill, when first needed.
  void SetFilter(const RecordFilter& filter);
  const RecordFilter& filter() const { return filter_; }
  bool filterActive() const { return !filter_.empty(); }
  // Rows of the fill, shown or not.
  int totalRowCount() const { return static_cast<int>(all_.size()); }
  // Whether a row shows a recovered message (deleted colour).
  bool RowIsRecovered(int row) const;

  // The text of a cell as the list shows it; "" outside the list.
  std::string CellText(int row, int column) const;
  // The record a message, call or deleted-contact row shows; nullptr for a row of another
  // kind or outside the list.
  const MessageRecord* MessageAt(int row) const;
  const CallRecord* CallAt(int row) const;
  const MessageTrace* TraceAt(int row) const;
  // Whether the list shows index-only traces (FillMessageTraces's columns).
  bool showsTraces() const { return traces_; }
  const DeletedContact* DeletedContactAt(int row) const;

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
  // Orders the rows by the column's text: words, names and addresses as a
  // Chinese reader expects (zh_CN collation: pinyin order, then Latin, case
  // ignored), times and durations by their bytes, which is time order; equal
  // texts keep their relative order. Selection and current row follow
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
    bool recovered = false;      // a recovered message in a conversation
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
  struct TraceRow {
    const MessageTrace* trace;
  };
  using Row = std::variant<MessageRow, ContactRow, DeletedContactRow, CallRow, TraceRow>;

  std::string_view CellView(const Row& row, int column, std::string& scratch) const;
  const Row& RowAt(int row) const { return all_[shown_[static_cast<size_t>(row)]]; }
  bool CellIsComputed(int column) const;
  void BuildSearchKeys();
  void ApplyFilter();
  bool ColumnIsCollated(int column) const;
  static void SortByBytes(const std::vector<std::string_view>& keys,
                          std::vector<uint32_t>& permutation, Qt::SortOrder order);
  static void SortByCollation(const std::vector<std::string_view>& keys,
                              std::vector<uint32_t>& permutation, Qt::SortOrder order);
  void ReplaceRows(std::vector<Row>&& rows);
  void ClearRows();

  RecordKind kind_ = RecordKind::Messages;
  const ContactNames* names_ = nullptr;
  std::vector<ColumnLayout> columns_;
  // The rows in fill order; the display order (a permutation of all_'s
  // indexes, changed by sorts); the shown rows (the display order less what
  // the filter hides). A list row r shows all_[shown_[r]].
  std::vector<Row> all_;
  std::vector<uint32_t> order_;
  std::vector<uint32_t> shown_;
  bool conversation_ = false;  // the layout has the state column
  bool traces_ = false;        // the layout is FillMessageTraces's
  RecordFilter filter_;
  // Per fill-order row, made on the first filter after a fill: the search
  // key and the time the date range tests.
  std::vector<std::string> searchKeys_;
  std::vector<std::optional<int64_t>> times_;
  int sortColumn_ = 0;
  bool sortAscending_ = true;
};

}  // namespace vantrel
