#include "ui/RecordTableModel.h"

#include <algorithm>
#include <numeric>

#include "export/TimeText.h"

namespace vantrel {
namespace {

constexpr Qt::Alignment kCentred = Qt::AlignHCenter;
constexpr Qt::Alignment kLeft = Qt::AlignLeft;

constexpr size_t kMaxToolTipBytes = 4096;

constexpr std::string_view kSentText = "发送";
constexpr std::string_view kReceivedText = "接收";
constexpr std::string_view kIncomingText = "拨入";
constexpr std::string_view kOutgoingText = "拨出";

}  // namespace

const std::vector<ColumnLayout>& LayoutColumns(RecordKind kind) {
  static const std::vector<ColumnLayout> messages = {
      {"短信", 400, kCentred},     {"时间", 200, kCentred}, {"读取时间", 150, kCentred},
      {"发送/接收", 50, kCentred}, {"服务", 100, kCentred}, {"号码地址", 100, kCentred},
      {"联系人", 120, kCentred},
  };
  // The third contact column holds the person key the detail pane looks up; it is never shown.
  static const std::vector<ColumnLayout> contacts = {
      {"", 120, kLeft},
      {"", 200, kLeft},
      {"", 0, kLeft},
  };
  static const std::vector<ColumnLayout> calls = {
      {"号码", 200, kLeft}, {"时间", 200, kLeft},   {"持续时间", 100, kLeft},
      {"类型", 100, kLeft}, {"联系人", 120, kLeft},
  };
  switch (kind) {
    case RecordKind::Messages:
      return messages;
    case RecordKind::Contacts:
      return contacts;
    case RecordKind::Calls:
      break;
  }
  return calls;
}

QString CountPaneText(int count) {
  return QString("记录数：%1").arg(count);
}

RecordTableModel::RecordTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void RecordTableModel::SetLayout(RecordKind kind) {
  beginResetModel();
  rows_.clear();
  kind_ = kind;
  columns_ = LayoutColumns(kind);
  endResetModel();
  emit columnsReplaced();
}

void RecordTableModel::RemoveAllColumns() {
  beginResetModel();
  rows_.clear();
  columns_.clear();
  endResetModel();
  emit columnsReplaced();
}

void RecordTableModel::RemoveAllRows() {
  if (rows_.empty()) return;
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void RecordTableModel::ReplaceRows(std::vector<Row>&& rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

std::optional<int> RecordTableModel::FillLiveMessages(const MessageMap& live) {
  std::vector<Row> rows;
  size_t total = 0;
  for (const auto& [address, records] : live) total += records.size();
  rows.reserve(total);
  // Each address's messages are inserted at the top of the list in turn, so
  // the address walked last comes first.
  for (auto it = live.rbegin(); it != live.rend(); ++it) {
    for (const MessageRecord& record : it->second) rows.push_back(MessageRow{&record, &it->first});
  }
  ReplaceRows(std::move(rows));
  return static_cast<int>(total);
}

std::optional<int> RecordTableModel::FillDeletedMessages(const MessageList& deleted) {
  if (deleted.empty()) {
    RemoveAllRows();
    return std::nullopt;
  }
  std::vector<Row> rows;
  rows.reserve(deleted.size());
  for (const MessageRecord& record : deleted) rows.push_back(MessageRow{&record, nullptr});
  ReplaceRows(std::move(rows));
  return static_cast<int>(deleted.size());
}

std::optional<int> RecordTableModel::FillLiveContacts(const ContactMap& contacts) {
  std::vector<Row> rows;
  rows.reserve(contacts.size());
  for (const auto& [key, record] : contacts) rows.push_back(ContactRow{&record, key});
  ReplaceRows(std::move(rows));
  return static_cast<int>(rows_.size());
}

std::optional<int> RecordTableModel::FillDeletedContacts(
    const std::optional<DeletedContactList>& deleted) {
  if (!deleted) {
    RemoveAllRows();
    return std::nullopt;
  }
  std::vector<Row> rows;
  rows.reserve(deleted->size());
  for (const DeletedContact& contact : *deleted) rows.push_back(DeletedContactRow{&contact});
  ReplaceRows(std::move(rows));
  return static_cast<int>(deleted->size());
}

void RecordTableModel::FillCalls(const CallMap& calls) {
  std::vector<Row> rows;
  size_t total = 0;
  for (const auto& [number, records] : calls) total += records.size();
  rows.reserve(total);
  for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
    for (const CallRecord& record : it->second) rows.push_back(CallRow{&record, &it->first});
  }
  ReplaceRows(std::move(rows));
}

void RecordTableModel::SetContactNames(const ContactNames* names) {
  beginResetModel();
  names_ = names;
  endResetModel();
}

bool RecordTableModel::CellIsComputed(int column) const {
  // The second and third columns of every layout are made from the record
  // (times, durations, joined values, the person key), and so are the names
  // of messages and calls; the others are stored.
  return column == 1 || column == 2 || (kind_ == RecordKind::Messages && column == 6) ||
         (kind_ == RecordKind::Calls && column == 4);
}

std::string_view RecordTableModel::CellView(const Row& row, int column,
                                            std::string& scratch) const {
  if (const auto* message = std::get_if<MessageRow>(&row)) {
    const MessageRecord& m = *message->record;
    switch (column) {
      case 0:
        return m.text;
      case 1:
        scratch = MessageDateText(m.date);
        return scratch;
      case 2:
        if (m.readDate == 0) return {};
        scratch = MessageDateText(m.readDate);
        return scratch;
      case 3:
        if (!m.fromMe) return {};
        return *m.fromMe ? kSentText : kReceivedText;
      case 4:
        return m.service;
      case 5:
        return message->address ? std::string_view(*message->address) : std::string_view();
      case 6: {
        // A deleted message is listed without an address, but may know it.
        const std::string* address = message->address ? message->address : &m.address;
        if (names_ == nullptr || address->empty()) return {};
        scratch = names_->NameOf(*address);
        return scratch;
      }
    }
    return {};
  }
  if (const auto* contact = std::get_if<ContactRow>(&row)) {
    const ContactRecord& c = *contact->record;
    switch (column) {
      case 0:
        return c.name;
      case 1:
        scratch.clear();
        for (const std::string& value : c.values) {
          scratch += value;
          scratch += "; ";
        }
        return scratch;
      case 2:
        scratch = std::to_string(contact->key);
        return scratch;
    }
    return {};
  }
  if (const auto* deleted = std::get_if<DeletedContactRow>(&row)) {
    if (column == 0) return deleted->contact->number;
    if (column == 1) return deleted->contact->owner;
    return {};
  }
  const auto& call = std::get<CallRow>(row);
  const CallRecord& c = *call.record;
  switch (column) {
    case 0:
      return *call.number;
    case 1:
      scratch = CallDateText(c.date);
      return scratch;
    case 2:
      scratch = ListDurationText(c.duration);
      return scratch;
    case 3:
      return (c.flags & 1) ? kOutgoingText : kIncomingText;
    case 4:
      if (names_ == nullptr) return {};
      scratch = names_->NameOf(*call.number);
      return scratch;
  }
  return {};
}

std::string RecordTableModel::CellText(int row, int column) const {
  if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0 ||
      column >= static_cast<int>(columns_.size())) {
    return {};
  }
  std::string scratch;
  return std::string(CellView(rows_[row], column, scratch));
}

const MessageRecord* RecordTableModel::MessageAt(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  const auto* message = std::get_if<MessageRow>(&rows_[row]);
  return message ? message->record : nullptr;
}

const CallRecord* RecordTableModel::CallAt(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  const auto* call = std::get_if<CallRow>(&rows_[row]);
  return call ? call->record : nullptr;
}

void RecordTableModel::SortByHeaderClick(int column) {
  const bool ascending = column != sortColumn_ || !sortAscending_;
  sortColumn_ = column;
  sortAscending_ = ascending;
  sort(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void RecordTableModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= static_cast<int>(columns_.size()) || rows_.size() < 2) return;
  const size_t n = rows_.size();

  // Each row's text once; computed texts live in texts[], stored ones are
  // viewed where the collection keeps them.
  std::vector<std::string> texts;
  std::vector<std::string_view> keys(n);
  if (CellIsComputed(column)) {
    texts.resize(n);
    for (size_t i = 0; i < n; ++i) keys[i] = CellView(rows_[i], column, texts[i]);
  } else {
    std::string unused;
    for (size_t i = 0; i < n; ++i) keys[i] = CellView(rows_[i], column, unused);
  }

  // Rows are compared by their first 16 bytes packed big-endian into two
  // integers (zero padded), then by the whole text when those tie: the same
  // order as comparing the bytes as unsigned values, with far fewer visits to
  // the text itself.
  struct SortKey {
    uint64_t head = 0;
    uint64_t tail = 0;
    std::string_view text;
  };
  std::vector<SortKey> sortKeys(n);
  for (size_t i = 0; i < n; ++i) {
    SortKey& key = sortKeys[i];
    key.text = keys[i];
    for (size_t b = 0; b < 16; ++b) {
      const uint64_t byte = b < key.text.size() ? static_cast<unsigned char>(key.text[b]) : 0;
      if (b < 8) {
        key.head = (key.head << 8) | byte;
      } else {
        key.tail = (key.tail << 8) | byte;
      }
    }
  }
  auto less = [&sortKeys](uint32_t a, uint32_t b) {
    const SortKey& x = sortKeys[a];
    const SortKey& y = sortKeys[b];
    if (x.head != y.head) return x.head < y.head;
    if (x.tail != y.tail) return x.tail < y.tail;
    // The first 16 bytes are equal: compare the rest (string_view compares
    // through memcmp, bytes as unsigned values). A text shorter than 16 bytes
    // is compared whole, so zero padding never hides a difference.
    if (x.text.size() < 16 || y.text.size() < 16) return x.text < y.text;
    return x.text.substr(16) < y.text.substr(16);
  };
  std::vector<uint32_t> permutation(n);
  std::iota(permutation.begin(), permutation.end(), 0u);
  if (order == Qt::AscendingOrder) {
    std::stable_sort(permutation.begin(), permutation.end(), less);
  } else {
    std::stable_sort(permutation.begin(), permutation.end(),
                     [&less](uint32_t a, uint32_t b) { return less(b, a); });
  }

  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<Row> sorted(n);
  std::vector<int> newPosition(n);
  for (size_t i = 0; i < n; ++i) {
    sorted[i] = rows_[permutation[i]];
    newPosition[permutation[i]] = static_cast<int>(i);
  }
  rows_ = std::move(sorted);
  // Selection and the current row are kept as persistent indexes: move them with their rows.
  const QModelIndexList before = persistentIndexList();
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex& index : before) {
    after.append(index.isValid() ? createIndex(newPosition[index.row()], index.column())
                                 : QModelIndex());
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int RecordTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RecordTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant RecordTableModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return {};
  }
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
      std::string scratch;
      std::string_view text = CellView(rows_[index.row()], index.column(), scratch);
      // A tooltip shows what a narrow cell cuts off, within reason.
      if (role == Qt::ToolTipRole && text.size() > kMaxToolTipBytes)
        text = text.substr(0, kMaxToolTipBytes);
      return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(columns_[index.column()].alignment | Qt::AlignVCenter);
    default:
      return {};
  }
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Vertical) {
    if (role == Qt::DisplayRole && section >= 0 && section < rowCount()) return section + 1;
    return {};
  }
  if (section < 0 || section >= static_cast<int>(columns_.size())) return {};
  switch (role) {
    case Qt::DisplayRole:
      return columns_[section].heading;
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(columns_[section].alignment | Qt::AlignVCenter);
    default:
      return {};
  }
}

}  // namespace vantrel
