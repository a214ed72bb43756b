#include "ui/RecordTableModel.h"

#include <QBrush>
#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <numeric>
#include <thread>
#include <unordered_map>

#include "export/CategoryNames.h"
#include "export/TimeText.h"
#include "platform/Parallel.h"
#include "ui/Artwork.h"

namespace vantrel {
namespace {

constexpr Qt::Alignment kCentred = Qt::AlignHCenter;
constexpr Qt::Alignment kLeft = Qt::AlignLeft;

constexpr size_t kMaxToolTipBytes = 4096;

// Below this many distinct texts a sort makes its collation keys on one thread.
constexpr size_t kTextsPerKeyThread = 20000;

// The words cells show, translated once, when the first cell asks for them
// (the translators are installed by then). A sort makes cells on several
// threads; a function's static is made once for all of them.
struct CellWords {
  std::string sent, received, incoming, outgoing, recovered, contentLost;
};

const CellWords& Words() {
  static const CellWords words{
      RecordTableModel::tr("发送").toStdString(),
      RecordTableModel::tr("接收").toStdString(),
      RecordTableModel::tr("拨入").toStdString(),
      RecordTableModel::tr("拨出").toStdString(),
      RecordTableModel::tr(kRecoveredMark).toStdString(),
      RecordTableModel::tr(kContentLostText).toStdString(),
  };
  return words;
}

}  // namespace

const std::vector<ColumnLayout>& LayoutColumns(RecordKind kind) {
  static const std::vector<ColumnLayout> messages = {
      {RecordTableModel::tr("短信"), 400, kCentred},
      {RecordTableModel::tr("时间"), 200, kCentred},
      {RecordTableModel::tr("读取时间"), 150, kCentred},
      {RecordTableModel::tr("发送/接收"), 50, kCentred},
      {RecordTableModel::tr("服务"), 100, kCentred},
      {RecordTableModel::tr("号码地址"), 100, kCentred},
      {RecordTableModel::tr("联系人"), 120, kCentred},
  };
  // The third contact column holds the person key the detail pane looks up; it is never shown.
  static const std::vector<ColumnLayout> contacts = {
      {"", 120, kLeft},
      {"", 200, kLeft},
      {"", 0, kLeft},
  };
  static const std::vector<ColumnLayout> calls = {
      {RecordTableModel::tr("号码"), 200, kLeft},     {RecordTableModel::tr("时间"), 200, kLeft},
      {RecordTableModel::tr("持续时间"), 100, kLeft}, {RecordTableModel::tr("类型"), 100, kLeft},
      {RecordTableModel::tr("联系人"), 120, kLeft},
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
  return RecordTableModel::tr("记录数：%1").arg(count);
}

QString CountPaneText(int shown, int total) {
  return RecordTableModel::tr("记录数：%1/%2").arg(shown).arg(total);
}

RecordTableModel::RecordTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void RecordTableModel::SetLayout(RecordKind kind) {
  beginResetModel();
  ClearRows();
  kind_ = kind;
  columns_ = LayoutColumns(kind);
  conversation_ = false;
  traces_ = false;
  endResetModel();
  emit columnsReplaced();
}

void RecordTableModel::RemoveAllColumns() {
  beginResetModel();
  ClearRows();
  columns_.clear();
  conversation_ = false;
  traces_ = false;
  endResetModel();
  emit columnsReplaced();
}

void RecordTableModel::RemoveAllRows() {
  if (all_.empty()) return;
  beginResetModel();
  ClearRows();
  endResetModel();
}

void RecordTableModel::ClearRows() {
  all_.clear();
  order_.clear();
  shown_.clear();
  searchKeys_.clear();
  times_.clear();
}

void RecordTableModel::ReplaceRows(std::vector<Row>&& rows) {
  beginResetModel();
  ClearRows();
  all_ = std::move(rows);
  order_.resize(all_.size());
  std::iota(order_.begin(), order_.end(), 0u);
  ApplyFilter();
  endResetModel();
}

std::optional<int> RecordTableModel::FillConversation(const Conversation& conversation) {
  std::vector<Row> rows;
  rows.reserve(conversation.messages.size());
  for (const ConversationMessage& message : conversation.messages) {
    // A recovered message names its party when the carver found it; the
    // unknown conversation's messages have none.
    const std::string* address =
        message.deleted ? (message.record->address.empty() ? nullptr : &message.record->address)
                        : &conversation.address;
    if (!message.deleted && conversation.address.empty()) address = nullptr;
    rows.push_back(MessageRow{message.record, address, message.deleted});
  }
  if (!conversation_ || kind_ != RecordKind::Messages) {
    beginResetModel();
    ClearRows();
    kind_ = RecordKind::Messages;
    columns_ = LayoutColumns(RecordKind::Messages);
    columns_.push_back({tr(kStateHeading), 60, Qt::AlignHCenter});
    conversation_ = true;
    traces_ = false;
    endResetModel();
    emit columnsReplaced();
  }
  ReplaceRows(std::move(rows));
  return static_cast<int>(all_.size());
}

std::optional<int> RecordTableModel::FillMessageTraces(const MessageTraceList& traces) {
  std::vector<Row> rows;
  rows.reserve(traces.size());
  for (const MessageTrace& trace : traces) rows.push_back(TraceRow{&trace});
  if (!traces_) {
    beginResetModel();
    ClearRows();
    kind_ = RecordKind::Messages;
    columns_ = {{tr("GUID"), 300, Qt::AlignHCenter},
                {tr("ROWID"), 80, Qt::AlignHCenter},
                {tr("短信"), 200, Qt::AlignHCenter},
                {tr("位置"), 300, Qt::AlignHCenter}};
    conversation_ = false;
    traces_ = true;
    endResetModel();
    emit columnsReplaced();
  }
  ReplaceRows(std::move(rows));
  return static_cast<int>(all_.size());
}

bool RecordTableModel::RowIsRecovered(int row) const {
  if (row < 0 || row >= rowCount()) return false;
  const auto* message = std::get_if<MessageRow>(&RowAt(row));
  return message && message->recovered;
}

void RecordTableModel::BuildSearchKeys() {
  if (searchKeys_.size() == all_.size()) return;
  searchKeys_.clear();
  times_.clear();
  searchKeys_.reserve(all_.size());
  times_.reserve(all_.size());
  // Names by address, looked up once per address: a list repeats them.
  std::unordered_map<const std::string*, std::string> namesOf;
  auto names = [&](const std::string* address) -> const std::string& {
    static const std::string none;
    if (!address || !names_) return none;
    auto [it, added] = namesOf.try_emplace(address);
    if (added) it->second = names_->NameOf(*address);
    return it->second;
  };
  for (const Row& row : all_) {
    if (const auto* message = std::get_if<MessageRow>(&row)) {
      const std::string* address =
          message->address
              ? message->address
              : (message->record->address.empty() ? nullptr : &message->record->address);
      searchKeys_.push_back(
          MessageSearchKey(*message->record, address ? *address : std::string(), names(address)));
      times_.push_back(UnixTimeOf(*message->record));
    } else if (const auto* contact = std::get_if<ContactRow>(&row)) {
      searchKeys_.push_back(ContactSearchKey(*contact->record));
      times_.push_back(std::nullopt);
    } else if (const auto* deleted = std::get_if<DeletedContactRow>(&row)) {
      searchKeys_.push_back(DeletedContactSearchKey(*deleted->contact));
      times_.push_back(std::nullopt);
    } else if (const auto* trace = std::get_if<TraceRow>(&row)) {
      // Found by GUID or rowid; a trace has no date, so a date range hides it.
      searchKeys_.push_back(
          FoldForSearch(trace->trace->guid + " " + std::to_string(trace->trace->rowid)));
      times_.push_back(std::nullopt);
    } else {
      const auto& call = std::get<CallRow>(row);
      searchKeys_.push_back(CallSearchKey(*call.record, *call.number, names(call.number)));
      times_.push_back(UnixTimeOf(*call.record));
    }
  }
}

void RecordTableModel::ApplyFilter() {
  shown_.clear();
  if (filter_.empty()) {
    shown_ = order_;
    return;
  }
  BuildSearchKeys();
  // Contacts have no date: a date range does not hide them.
  const bool dated = kind_ != RecordKind::Contacts;
  shown_.reserve(order_.size());
  for (uint32_t i : order_) {
    if (filter_.MatchesKey(searchKeys_[i], times_[i], dated)) shown_.push_back(i);
  }
}

void RecordTableModel::SetFilter(const RecordFilter& filter) {
  beginResetModel();
  filter_ = filter;
  ApplyFilter();
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
  return static_cast<int>(all_.size());
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

namespace {

QCollator ListCollator() {
  // Chinese readers look names up in pinyin order; zh_CN collation (ICU)
  // gives that for Chinese and puts Latin after it, case-insensitively.
  QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  return collator;
}

}  // namespace

bool RecordTableModel::ColumnIsCollated(int column) const {
  // Times and durations are written so that their bytes sort in time order,
  // and the contacts' hidden key is a number; every other column is words,
  // names or addresses.
  if (kind_ == RecordKind::Contacts) return column != 2;
  if (traces_) return column != 1;
  return column != 1 && column != 2;
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
         (traces_ && column == 3) || (kind_ == RecordKind::Calls && column == 4);
}

namespace {

// The cells of each kind of row; scratch holds a text made for the cell.
std::string_view MessageCell(const MessageRecord& m, const std::string* listedAddress, int column,
                             const ContactNames* names, std::string& scratch) {
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
      return *m.fromMe ? Words().sent : Words().received;
    case 4:
      return m.service;
    case 5:
      return listedAddress ? std::string_view(*listedAddress) : std::string_view();
    case 6: {
      // A deleted message is listed without an address, but may know it.
      const std::string* address = listedAddress ? listedAddress : &m.address;
      if (names == nullptr || address->empty()) return {};
      scratch = names->NameOf(*address);
      return scratch;
    }
  }
  return {};
}

std::string_view ContactCell(const ContactRecord& c, uint32_t key, int column,
                             std::string& scratch) {
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
      scratch = std::to_string(key);
      return scratch;
  }
  return {};
}

std::string_view DeletedContactCell(const DeletedContact& contact, int column) {
  if (column == 0) return contact.number;
  if (column == 1) return contact.owner;
  return {};
}

std::string_view TraceCell(const MessageTrace& t, int column, std::string& scratch) {
  switch (column) {
    case 0:
      return t.guid;
    case 1:
      if (t.rowid == 0) return {};  // its bytes were written over
      scratch = std::to_string(t.rowid);
      return scratch;
    case 2:
      return Words().contentLost;
    case 3:
      scratch = PlaceWord(t.found.place);
      scratch += ' ';
      scratch += std::to_string(t.found.page);
      scratch += ':';
      scratch += std::to_string(t.found.offset);
      return scratch;
  }
  return {};
}

std::string_view CallCell(const CallRecord& c, const std::string& number, int column,
                          const ContactNames* names, std::string& scratch) {
  switch (column) {
    case 0:
      return number;
    case 1:
      scratch = CallDateText(c.date);
      return scratch;
    case 2:
      scratch = ListDurationText(c.duration);
      return scratch;
    case 3:
      return (c.flags & 1) ? Words().outgoing : Words().incoming;
    case 4:
      if (names == nullptr) return {};
      scratch = names->NameOf(number);
      return scratch;
  }
  return {};
}

}  // namespace

std::string_view RecordTableModel::CellView(const Row& row, int column,
                                            std::string& scratch) const {
  if (const auto* message = std::get_if<MessageRow>(&row)) {
    // A conversation's list ends with the state column.
    if (conversation_ && column == static_cast<int>(columns_.size()) - 1)
      return message->recovered ? std::string_view(Words().recovered) : std::string_view();
    return MessageCell(*message->record, message->address, column, names_, scratch);
  }
  if (const auto* contact = std::get_if<ContactRow>(&row))
    return ContactCell(*contact->record, contact->key, column, scratch);
  if (const auto* deleted = std::get_if<DeletedContactRow>(&row))
    return DeletedContactCell(*deleted->contact, column);
  if (const auto* trace = std::get_if<TraceRow>(&row))
    return TraceCell(*trace->trace, column, scratch);
  const auto& call = std::get<CallRow>(row);
  return CallCell(*call.record, *call.number, column, names_, scratch);
}

std::string RecordTableModel::CellText(int row, int column) const {
  if (row < 0 || row >= rowCount() || column < 0 || column >= static_cast<int>(columns_.size())) {
    return {};
  }
  std::string scratch;
  return std::string(CellView(RowAt(row), column, scratch));
}

const MessageRecord* RecordTableModel::MessageAt(int row) const {
  if (row < 0 || row >= rowCount()) return nullptr;
  const auto* message = std::get_if<MessageRow>(&RowAt(row));
  return message ? message->record : nullptr;
}

const CallRecord* RecordTableModel::CallAt(int row) const {
  if (row < 0 || row >= rowCount()) return nullptr;
  const auto* call = std::get_if<CallRow>(&RowAt(row));
  return call ? call->record : nullptr;
}

const MessageTrace* RecordTableModel::TraceAt(int row) const {
  if (row < 0 || row >= rowCount()) return nullptr;
  const auto* trace = std::get_if<TraceRow>(&RowAt(row));
  return trace ? trace->trace : nullptr;
}

const DeletedContact* RecordTableModel::DeletedContactAt(int row) const {
  if (row < 0 || row >= rowCount()) return nullptr;
  const auto* deleted = std::get_if<DeletedContactRow>(&RowAt(row));
  return deleted ? deleted->contact : nullptr;
}

void RecordTableModel::SortByHeaderClick(int column) {
  const bool ascending = column != sortColumn_ || !sortAscending_;
  sortColumn_ = column;
  sortAscending_ = ascending;
  sort(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void RecordTableModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= static_cast<int>(columns_.size()) || all_.size() < 2) return;
  const size_t n = all_.size();

  // Each row's text once; computed texts live in texts[], stored ones are
  // viewed where the collection keeps them.
  std::vector<std::string> texts;
  std::vector<std::string_view> keys(n);
  if (traces_ && column == 1) {
    // Rowids as numbers: zero-padded, their bytes sort in number order.
    texts.resize(n);
    for (size_t i = 0; i < n; ++i) {
      const int64_t rowid = std::get<TraceRow>(all_[i]).trace->rowid;
      texts[i] = std::string(20 - std::min<size_t>(20, std::to_string(rowid).size()), '0') +
                 std::to_string(rowid);
      keys[i] = texts[i];
    }
  } else if (CellIsComputed(column)) {
    texts.resize(n);
    for (size_t i = 0; i < n; ++i) keys[i] = CellView(all_[i], column, texts[i]);
  } else {
    std::string unused;
    for (size_t i = 0; i < n; ++i) keys[i] = CellView(all_[i], column, unused);
  }

  // Keys are by fill position; the display order is sorted, so equal texts
  // keep the order they had.
  std::vector<uint32_t> permutation = order_;
  if (ColumnIsCollated(column)) {
    SortByCollation(keys, permutation, order);
  } else {
    SortByBytes(keys, permutation, order);
  }

  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<char> visible(n, 0);
  for (uint32_t i : shown_) visible[i] = 1;
  const std::vector<uint32_t> before = shown_;
  order_ = std::move(permutation);
  shown_.clear();
  std::vector<int> newPosition(n, -1);
  for (uint32_t i : order_) {
    if (!visible[i]) continue;
    newPosition[i] = static_cast<int>(shown_.size());
    shown_.push_back(i);
  }
  // Selection and the current row are kept as persistent indexes: move them with their rows.
  const QModelIndexList persistent = persistentIndexList();
  QModelIndexList after;
  after.reserve(persistent.size());
  for (const QModelIndex& index : persistent) {
    after.append(
        index.isValid()
            ? createIndex(newPosition[before[static_cast<size_t>(index.row())]], index.column())
            : QModelIndex());
  }
  changePersistentIndexList(persistent, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void RecordTableModel::SortByBytes(const std::vector<std::string_view>& keys,
                                   std::vector<uint32_t>& permutation, Qt::SortOrder order) {
  const size_t n = keys.size();
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
  if (order == Qt::AscendingOrder) {
    std::stable_sort(permutation.begin(), permutation.end(), less);
  } else {
    std::stable_sort(permutation.begin(), permutation.end(),
                     [&less](uint32_t a, uint32_t b) { return less(b, a); });
  }
}

void RecordTableModel::SortByCollation(const std::vector<std::string_view>& keys,
                                       std::vector<uint32_t>& permutation, Qt::SortOrder order) {
  // A collation key per distinct text (a list repeats its addresses, services
  // and directions many times), made once: comparing two keys is a byte
  // compare, where comparing two texts through the collator is far slower.
  std::unordered_map<std::string_view, uint32_t> distinct;
  distinct.reserve(keys.size());
  std::vector<uint32_t> textOf(keys.size());
  std::vector<std::string_view> texts;
  for (size_t i = 0; i < keys.size(); ++i) {
    const auto [it, added] = distinct.try_emplace(keys[i], static_cast<uint32_t>(texts.size()));
    if (added) texts.push_back(keys[i]);
    textOf[i] = it->second;
  }
  // Making the keys is most of a sort's time: a long list shares it among
  // the processors, each share with a collator of its own.
  std::vector<std::optional<QCollatorSortKey>> made(texts.size());
  struct Share {
    size_t begin, end;
  };
  std::vector<Share> shares;
  const size_t threads = texts.size() < kTextsPerKeyThread
                             ? 1
                             : std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
  for (size_t k = 0; k < threads; ++k)
    shares.push_back({texts.size() * k / threads, texts.size() * (k + 1) / threads});
  RunEach(shares, [&](const Share& share) {
    const QCollator collator = ListCollator();
    for (size_t i = share.begin; i < share.end; ++i) {
      made[i].emplace(collator.sortKey(
          QString::fromUtf8(texts[i].data(), static_cast<qsizetype>(texts[i].size()))));
    }
  });
  std::vector<QCollatorSortKey> collationKeys;
  collationKeys.reserve(made.size());
  for (std::optional<QCollatorSortKey>& key : made) collationKeys.push_back(std::move(*key));
  made.clear();
  // The distinct texts in collation order, then each text's rank in it (texts
  // the collator holds equal share a rank), so the rows sort on integers.
  std::vector<uint32_t> byKey(collationKeys.size());
  std::iota(byKey.begin(), byKey.end(), 0u);
  std::sort(byKey.begin(), byKey.end(), [&collationKeys](uint32_t a, uint32_t b) {
    return collationKeys[a].compare(collationKeys[b]) < 0;
  });
  std::vector<uint32_t> rank(collationKeys.size());
  uint32_t current = 0;
  for (size_t i = 0; i < byKey.size(); ++i) {
    if (i > 0 && collationKeys[byKey[i - 1]].compare(collationKeys[byKey[i]]) != 0) ++current;
    rank[byKey[i]] = current;
  }
  if (order == Qt::AscendingOrder) {
    std::stable_sort(permutation.begin(), permutation.end(),
                     [&](uint32_t a, uint32_t b) { return rank[textOf[a]] < rank[textOf[b]]; });
  } else {
    std::stable_sort(permutation.begin(), permutation.end(),
                     [&](uint32_t a, uint32_t b) { return rank[textOf[b]] < rank[textOf[a]]; });
  }
}

int RecordTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(shown_.size());
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
      std::string_view text = CellView(RowAt(index.row()), index.column(), scratch);
      // A tooltip shows what a narrow cell cuts off, within reason.
      if (role == Qt::ToolTipRole && text.size() > kMaxToolTipBytes)
        text = text.substr(0, kMaxToolTipBytes);
      QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
      // Edited, unsent and recently deleted messages are marked in the list
      // only: the text itself (files, sorting, search) stays as stored.
      if (index.column() == 0)
        if (const auto* message = std::get_if<MessageRow>(&RowAt(index.row()));
            message != nullptr && message->record->extras) {
          const MessageExtras& x = *message->record->extras;
          if (x.deletedKind == DeletedKind::RecentlyDeleted) shown.prepend(tr("[最近删除] "));
          if (x.retractedAt)
            shown.prepend(tr("[已撤回] "));
          else if (x.editedAt)
            shown.prepend(tr("[已编辑] "));
        }
      return shown;
    }
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(columns_[index.column()].alignment | Qt::AlignVCenter);
    case Qt::DecorationRole: {
      // The mark that says "deleted" even where colour is not seen.
      if (index.column() != 0 || !RowIsRecovered(index.row())) return {};
      static const QPixmap mark = DrawRecoveredMark(14, kDeletedRowColour);
      return mark;
    }
    case Qt::ForegroundRole:
      // Recovered messages among live ones, in the colour deleted data has in the tree.
      if (RowIsRecovered(index.row())) return QBrush(kDeletedRowColour);
      return {};
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
