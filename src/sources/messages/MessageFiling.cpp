#include "sources/messages/MessageFiling.h"

#include <algorithm>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "carve/RowReader.h"
#include "sources/apple/AppleTime.h"

namespace vantrel {
namespace {

// Rows by the integer of one of their values; on a repeated key the first stays.
std::map<int64_t, const RowValues*> IndexRows(const RowList& rows, size_t keyPosition) {
  std::map<int64_t, const RowValues*> index;
  for (const RowValues& row : rows) {
    if (row.size() <= keyPosition) continue;
    index.emplace(TextToInt(row[keyPosition]), &row);
  }
  return index;
}

const std::string* ValueAt(const RowValues* row, size_t position) {
  return row && position < row->size() ? &(*row)[position] : nullptr;
}

// A stored flag; empty when the value is NULL or did not survive.
template <typename Row>
std::optional<bool> FlagAt(const Row& row, size_t position) {
  if (!row.Has(position) || row.Empty(position)) return std::nullopt;
  return row.Integer(position) != 0;
}

// RecordFromRow for a rendered row (RenderedRow) or a live cell (LiveCell),
// into a new record.
template <typename Row>
void FillRecord(const Row& row, const MessageColumns& columns, MessageRecord& record) {
  if (row.Has(columns.text)) row.TextInto(columns.text, record.text);
  if (row.Has(columns.service)) row.TextInto(columns.service, record.service);
  if (row.Has(columns.date)) {
    // A stored 0 is no date, not the first second of 2001.
    if (const int32_t seconds = MessageSecondsFromStored(row.Integer(columns.date)); seconds != 0)
      record.date = seconds;
  }
  if (row.Has(columns.dateRead))
    record.readDate = MessageSecondsFromStored(row.Integer(columns.dateRead));
  record.sent = FlagAt(row, columns.isSent);
  // Who wrote it: is_sent stays false for an own message that never went
  // out, so only a table without is_from_me takes the direction from it.
  record.fromMe = columns.isFromMe != kNoColumn ? FlagAt(row, columns.isFromMe) : record.sent;
}

template <typename Row>
MessageRecord RecordOf(const Row& row, const MessageColumns& columns) {
  MessageRecord record;
  FillRecord(row, columns, record);
  return record;
}

}  // namespace

MessageColumns MessageColumns::Of(const std::vector<ColumnDef>& columns) {
  MessageColumns c;
  c.rowid = ColumnPosition(columns, "ROWID");
  c.guid = ColumnPosition(columns, "guid");
  c.text = ColumnPosition(columns, "text");
  c.handleId = ColumnPosition(columns, "handle_id");
  c.service = ColumnPosition(columns, "service");
  c.date = ColumnPosition(columns, "date");
  c.dateRead = ColumnPosition(columns, "date_read");
  c.isFromMe = ColumnPosition(columns, "is_from_me");
  c.isSent = ColumnPosition(columns, "is_sent");
  c.attributedBody = ColumnPosition(columns, "attributedBody");
  return c;
}

ChatColumns ChatColumns::Of(const std::vector<ColumnDef>& columns) {
  ChatColumns c;
  c.rowid = ColumnPosition(columns, "ROWID");
  c.style = ColumnPosition(columns, "style");
  c.chatIdentifier = ColumnPosition(columns, "chat_identifier");
  c.accountLogin = ColumnPosition(columns, "account_login");
  c.displayName = ColumnPosition(columns, "display_name");
  return c;
}

int32_t MessageSecondsFromStored(const std::string& value) {
  return MessageSecondsFromStored(TextToInt(value));
}

int32_t MessageSecondsFromStored(int64_t stored) {
  return static_cast<int32_t>(AppleSecondsFromStored(stored).value_or(0));
}

MessageRecord RecordFromRow(const RowValues& row, const MessageColumns& columns) {
  return RecordOf(RenderedRow(row), columns);
}

MessageRecord RecordFromRow(const LiveCell& cell, const MessageColumns& columns) {
  return RecordOf(cell, columns);
}

bool RecordCompleteness::BetterThan(const RecordCompleteness& other) const {
  if (values != other.values) return values > other.values;
  if (textBytes != other.textBytes) return textBytes > other.textBytes;
  return dated && !other.dated;
}

std::string NormaliseAddress(std::string address) {
  if (address.empty()) return "0";
  if (address.compare(0, 3, "+86") == 0) address.erase(0, 3);
  return address;
}

void ChatIndex::SetChats(const RowList& rows, const ChatColumns& columns) {
  chatColumns_ = columns;
  chatByKey_ = IndexRows(rows, columns.rowid);
}

void ChatIndex::SetHandles(const RowList& rows, size_t addressColumn) {
  handleAddress_ = addressColumn;
  handleByKey_ = IndexRows(rows, handle_column::kRowid);
}

void ChatIndex::AddChatHandle(int64_t chatId, int64_t handleId) {
  auto chat = chatByKey_.find(chatId);
  const std::string* address = HandleAddress(handleId);
  if (chat == chatByKey_.end() || address == nullptr) return;
  // Kept sorted: the join table's pages are not walked in rowid order.
  handleIds_[chat->second].push_back(handleId);
  std::vector<std::string>& list = participants_[chat->second];
  list.insert(std::upper_bound(list.begin(), list.end(), *address), *address);
}

const std::vector<std::string>* ChatIndex::GroupParticipants(const RowValues* chat) const {
  auto found = participants_.find(chat);
  if (found == participants_.end()) return nullptr;
  const std::string* style = ValueAt(chat, chatColumns_.style);
  const bool group = (style != nullptr && TextToInt(*style) == 43) || found->second.size() > 1;
  return group ? &found->second : nullptr;
}

void ChatIndex::AddJoin(int64_t messageId, int64_t chatId, size_t joinRows) {
  const size_t dense = 4 * joinRows + 4096;
  if (messageId >= 0 && static_cast<uint64_t>(messageId) < dense) {
    const size_t at = static_cast<size_t>(messageId);
    if (byRowid_.size() <= at) byRowid_.resize(std::max(at + 1, byRowid_.size() * 2), 0);
    if (byRowid_[at] != 0) return;
    auto known = chatIndex_.find(chatId);
    if (known == chatIndex_.end()) {
      auto found = chatByKey_.find(chatId);
      chats_.push_back(found == chatByKey_.end() ? nullptr : found->second);
      known = chatIndex_.emplace(chatId, static_cast<uint32_t>(chats_.size() - 1)).first;
    }
    byRowid_[at] = known->second + 1;
  } else {
    auto found = chatByKey_.find(chatId);
    byOtherRowid_.emplace(messageId, found == chatByKey_.end() ? nullptr : found->second);
  }
}

const std::string* ChatIndex::HandleAddress(int64_t handleId) const {
  auto found = handleByKey_.find(handleId);
  if (found == handleByKey_.end()) return nullptr;
  return ValueAt(found->second, handleAddress_);
}

std::unordered_set<int64_t> ChatIndex::HandlesInGroupChats() const {
  std::unordered_set<int64_t> inGroups;
  for (const auto& [chat, handles] : handleIds_)
    if (GroupParticipants(chat) != nullptr) inGroups.insert(handles.begin(), handles.end());
  return inGroups;
}

std::string ChatIndex::CarvedAddress(int64_t handleId) const {
  return CarvedAddress(handleId, HandlesInGroupChats());
}

std::string ChatIndex::CarvedAddress(int64_t handleId,
                                     const std::unordered_set<int64_t>& inGroups) const {
  if (handleId <= 0) return {};
  const std::string* address = HandleAddress(handleId);
  if (address == nullptr || address->empty() || inGroups.count(handleId) != 0) return {};
  return NormaliseAddress(*address);
}

void SetCarvedAddresses(const ChatIndex& chats, std::vector<CarvedEntry>& entries) {
  if (entries.empty()) return;
  // Every chat is looked at once here, not once for each handle.
  const std::unordered_set<int64_t> inGroups = chats.HandlesInGroupChats();
  std::unordered_map<int64_t, std::string> known;
  for (CarvedEntry& entry : entries) {
    auto at = known.find(entry.handleId);
    if (at == known.end())
      at = known.emplace(entry.handleId, chats.CarvedAddress(entry.handleId, inGroups)).first;
    entry.record.address = at->second;
  }
}

void LiveBatch::Add(const RowValues& row, const ChatIndex& chats, const MessageColumns& columns) {
  AddRow(RenderedRow(row), chats, columns);
}

void LiveBatch::Add(const LiveCell& cell, const ChatIndex& chats, const MessageColumns& columns) {
  AddRow(cell, chats, columns);
}

template <typename Row>
void LiveBatch::AddRow(const Row& row, const ChatIndex& chats, const MessageColumns& columns) {
  // Built where it will stay: a million records moved once more each is a
  // million more pages of memory touched.
  Entry& entry = entries_.emplace_back();
  const bool hasRowid = row.Has(columns.rowid);
  entry.rowid = hasRowid ? row.Integer(columns.rowid) : 0;
  FillRecord(row, columns, entry.record);

  const RowValues* chatRow = hasRowid ? chats.ChatOf(entry.rowid) : nullptr;
  if (chatRow != nullptr) {
    // What the chat says is worked out at its first message, and shared.
    auto [seen, added] = chatsSeen_.try_emplace(chatRow);
    ChatSeen& chat = seen->second;
    if (added) {
      const ChatColumns& cc = chats.chatColumns();
      ChatFacts facts;
      if (const std::string* account = ValueAt(chatRow, cc.accountLogin)) facts.account = *account;
      if (const std::string* name = ValueAt(chatRow, cc.displayName)) facts.name = *name;
      if (const std::vector<std::string>* participants = chats.GroupParticipants(chatRow))
        facts.participants = *participants;
      if (!facts.account.empty() || !facts.name.empty() || !facts.participants.empty())
        chat.facts = std::make_shared<const ChatFacts>(std::move(facts));
      // A chat identifier of five or more characters is the address whatever
      // the handle.
      const std::string* identifier = ValueAt(chatRow, cc.chatIdentifier);
      if (identifier != nullptr && identifier->size() >= 5) {
        chat.byIdentifier = true;
        chat.address = AddressIndex(NormaliseAddress(*identifier));
      } else if (identifier != nullptr) {
        chat.shortIdentifier = *identifier;
      }
    }
    entry.record.chat = chat.facts;
    if (chat.byIdentifier) {
      entry.address = chat.address;
      return;
    }
    entry.address = AddressOfHandle(row, chats, columns, chat.shortIdentifier);
    return;
  }
  entry.address = AddressOfHandle(row, chats, columns, std::string());
}

template <typename Row>
uint32_t LiveBatch::AddressOfHandle(const Row& row, const ChatIndex& chats,
                                    const MessageColumns& columns, std::string address) {
  if (address.size() < 5 && row.Has(columns.handleId)) {
    if (const std::string* handle = chats.HandleAddress(row.Integer(columns.handleId)))
      address = *handle;
  }
  return AddressIndex(NormaliseAddress(std::move(address)));
}

uint32_t LiveBatch::AddressIndex(std::string address) {
  auto at = addressIndex_.find(address);
  if (at == addressIndex_.end()) {
    at = addressIndex_.emplace(address, static_cast<uint32_t>(addresses_.size())).first;
    addresses_.push_back(std::move(address));
  }
  return at->second;
}

// More runs than this and the rowids are sorted instead.
constexpr size_t kMostRunsMerged = 64;

namespace {

// The live records of the batches on their way into their conversations.
class LiveFiling {
 public:
  // Each batch's addresses as the lists they go to, the rows each list will
  // take (so that it is made its final size first, and filing never moves
  // records from a full list to a bigger one), and the batches cut into runs
  // of rising rowids: all in one pass over the rows.
  LiveFiling(const std::vector<LiveBatch*>& batches, MessageMap& live)
      : batches_(batches), lists_(batches.size()) {
    std::unordered_map<std::string_view, size_t> conversationOf;
    std::vector<MessageList*> conversations;
    std::vector<size_t> needed;
    std::vector<size_t> conversationOfAddress;
    for (uint32_t k = 0; k < batches.size(); ++k) {
      const std::vector<std::string>& addresses = batches[k]->addresses();
      conversationOfAddress.assign(addresses.size(), 0);
      lists_[k].assign(addresses.size(), nullptr);
      for (size_t a = 0; a < addresses.size(); ++a) {
        auto [at, added] = conversationOf.try_emplace(addresses[a], conversations.size());
        if (added) {
          conversations.push_back(&live[addresses[a]]);
          needed.push_back(0);
        }
        conversationOfAddress[a] = at->second;
        lists_[k][a] = conversations[at->second];
      }
      const std::vector<LiveBatch::Entry>& entries = batches[k]->entries();
      for (uint32_t e = 0; e < entries.size(); ++e) {
        ++needed[conversationOfAddress[entries[e].address]];
        if (e == 0 || entries[e].rowid < entries[e - 1].rowid) runs_.push_back({k, e, e});
        ++runs_.back().end;
      }
    }
    for (size_t c = 0; c < conversations.size(); ++c)
      conversations[c]->reserve(conversations[c]->size() + needed[c]);
  }

  // Whether the rows came in too many runs to merge: a damaged tree, read in
  // no order.
  bool TooManyRuns() const { return runs_.size() > kMostRunsMerged; }

  // Files every row sorted by rowid, then reading order.
  void FileSorted() {
    struct At {
      int64_t rowid;
      uint32_t batch;
      uint32_t entry;
      bool operator<(const At& o) const {
        return std::tie(rowid, batch, entry) < std::tie(o.rowid, o.batch, o.entry);
      }
    };
    std::vector<At> order;
    for (uint32_t k = 0; k < batches_.size(); ++k)
      for (uint32_t e = 0; e < batches_[k]->entries().size(); ++e)
        order.push_back({batches_[k]->entries()[e].rowid, k, e});
    std::sort(order.begin(), order.end());
    for (const At& at : order) File(at.batch, at.entry);
  }

  // The tree walk reads the leaves by rowid but for the right-most subtree of
  // each interior page, read first: the runs are long and few. The run whose
  // next row comes first (on equal rowids, the one read first) is filed
  // until its rows pass the next row of any other.
  void MergeRuns() {
    for (;;) {
      size_t first = runs_.size(), second = runs_.size();
      for (size_t r = 0; r < runs_.size(); ++r) {
        if (runs_[r].next == runs_[r].end) continue;
        if (first == runs_.size() || RowidOf(runs_[r]) < RowidOf(runs_[first])) {
          second = first;
          first = r;
        } else if (second == runs_.size() || RowidOf(runs_[r]) < RowidOf(runs_[second])) {
          second = r;
        }
      }
      if (first == runs_.size()) break;
      Run& run = runs_[first];
      const std::vector<LiveBatch::Entry>& entries = batches_[run.batch]->entries();
      if (second == runs_.size()) {
        for (; run.next < run.end; ++run.next) File(run.batch, run.next);
        continue;
      }
      // Runs are in reading order: an equal rowid of a later run waits.
      const int64_t limit = RowidOf(runs_[second]);
      const bool tiesGo = first < second;
      for (; run.next < run.end; ++run.next) {
        const int64_t rowid = entries[run.next].rowid;
        if (rowid > limit || (rowid == limit && !tiesGo)) break;
        File(run.batch, run.next);
      }
    }
  }

 private:
  struct Run {
    uint32_t batch = 0;
    uint32_t next = 0;  // the run's first entry not yet filed
    uint32_t end = 0;
  };

  int64_t RowidOf(const Run& run) const { return batches_[run.batch]->entries()[run.next].rowid; }

  void File(uint32_t k, uint32_t e) {
    LiveBatch::Entry& entry = batches_[k]->entries()[e];
    lists_[k][entry.address]->push_back(std::move(entry.record));
  }

  const std::vector<LiveBatch*>& batches_;
  std::vector<std::vector<MessageList*>> lists_;  // by batch, then address index
  std::vector<Run> runs_;
};

}  // namespace

void FileLiveByRowid(std::vector<LiveBatch*> batches, MessageMap& live) {
  LiveFiling filing(batches, live);
  if (filing.TooManyRuns())
    filing.FileSorted();
  else
    filing.MergeRuns();
}

void KeepCarved(RowList& rows, std::vector<CarvedEntry>& out, const MessageColumns& columns,
                const std::vector<FoundAt>* found) {
  // The last column a record reads: a copy holding it (and an unmarked
  // text) has nothing more to give.
  size_t lastRead = 0;
  for (size_t k : {columns.text, columns.service, columns.date, columns.dateRead, columns.isFromMe,
                   columns.isSent})
    if (k != kNoColumn) lastRead = std::max(lastRead, k);
  for (size_t r = 0; r < rows.size(); ++r) {
    RowValues& row = rows[r];
    if (columns.text == kNoColumn || row.size() <= columns.text) continue;
    MessageRecord record = RecordFromRow(row, columns);
    if (found && r < found->size()) record.found = (*found)[r];
    // The carver gives attributedBody as the text it archives: the words of
    // a message whose `text` is empty (always so from iOS 16).
    if (record.text.empty() && columns.attributedBody < row.size())
      record.text = row[columns.attributedBody];
    if (record.text.empty()) continue;
    RecordCompleteness completeness;
    completeness.values = row.size();
    completeness.textBytes = record.text.size();
    completeness.dated = record.date.has_value();
    // U+FFFD marks a stretch of the text lost to overwriting.
    completeness.whole =
        row.size() > lastRead && record.text.find("\xEF\xBF\xBD") == std::string::npos;
    std::string guid;
    if (columns.guid < row.size()) guid = std::move(row[columns.guid]);
    const int64_t handleId = columns.handleId < row.size() ? TextToInt(row[columns.handleId]) : 0;
    out.push_back({std::move(guid), std::move(record), completeness, handleId});
  }
}

std::vector<bool> ColumnsKeepCarvedReads(const MessageColumns& columns, size_t columnCount) {
  std::vector<bool> read(columnCount, false);
  for (size_t k : {columns.guid, columns.text, columns.handleId, columns.service, columns.date,
                   columns.dateRead, columns.isFromMe, columns.isSent, columns.attributedBody})
    if (k < columnCount) read[k] = true;
  return read;
}

void DeletedFiling::Reserve(size_t entries) {
  deleted_.reserve(deleted_.size() + entries);
  filed_.reserve(filed_.size() + entries);
  filedGuids_.Reserve(filedGuids_.PackedCount() + entries);
  whole_.Reserve(whole_.PackedCount() + entries);
}

void DeletedFiling::File(std::vector<CarvedEntry>& entries) {
  for (CarvedEntry& entry : entries) {
    if (liveGuids_.Contains(entry.guid)) {
      if (!liveTexts_ || !entry.completeness.whole || !entry.record.found ||
          entry.record.found->place != Place::LogFrame)
        continue;
      const auto live = liveTexts_->find(entry.guid);
      if (live == liveTexts_->end() || live->second == entry.record.text) continue;
      if (!earlier_.insert(entry.guid + '\x1f' + entry.record.text).second) continue;
      entry.record.earlierVersion = true;
      deleted_.push_back(std::move(entry.record));
      continue;
    }
    auto [at, added] = filed_.try_emplace(entry.guid, Filed{deleted_.size(), entry.completeness});
    if (added) {
      filedGuids_.Insert(entry.guid);
      deleted_.push_back(std::move(entry.record));
    } else if (entry.completeness.BetterThan(at->second.completeness)) {
      deleted_[at->second.at] = std::move(entry.record);
      at->second.completeness = entry.completeness;
    } else {
      continue;
    }
    if (entry.completeness.whole) whole_.Insert(entry.guid);
  }
  entries = {};
}

}  // namespace vantrel
