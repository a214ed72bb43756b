#include "recovery/MessageFiling.h"

#include <algorithm>
#include <utility>

#include "recovery/RowReader.h"

namespace vantrel {
namespace {

namespace mc = message_column;

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

}  // namespace

MessageRecord RecordFromRow(const RowValues& row) {
  MessageRecord record;
  for (size_t k = 0; k < row.size(); ++k) {
    const std::string& value = row[k];
    if (k == mc::kText) {
      record.text = value;
    } else if (k == mc::kService) {
      record.service = value;
    } else if (k == mc::kDate) {
      record.date = static_cast<int32_t>(TextToInt(value));
    } else if (k == mc::kDateRead) {
      record.readDate = static_cast<int32_t>(TextToInt(value));
    } else if (k == mc::kIsSent) {
      record.sent = static_cast<uint8_t>(TextToInt(value) & 0xFF);
      break;
    }
  }
  return record;
}

std::string NormaliseAddress(std::string address) {
  if (address.size() < 4) return "0";
  if (address.compare(0, 3, "+86") == 0) address.erase(0, 3);
  return address;
}

void ChatIndex::SetChats(const RowList& rows) {
  chatByKey_ = IndexRows(rows, chat_column::kRowid);
}

void ChatIndex::SetHandles(const RowList& rows) {
  handleByKey_ = IndexRows(rows, handle_column::kRowid);
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
  return ValueAt(found->second, handle_column::kAddress);
}

void LiveBatch::Add(const RowValues& row, const ChatIndex& chats) {
  Entry entry;
  entry.rowid = row.empty() ? 0 : TextToInt(row[mc::kRowid]);
  entry.record = RecordFromRow(row);

  const RowValues* chatRow =
      row.size() > mc::kRowid ? chats.ChatOf(TextToInt(row[mc::kRowid])) : nullptr;
  if (const std::string* account = ValueAt(chatRow, chat_column::kAccountLogin))
    entry.record.account = *account;
  // A chat identifier of five or more characters is the address whatever
  // the handle: worked out once per chat.
  const std::string* identifier = ValueAt(chatRow, chat_column::kChatIdentifier);
  const bool byChat = identifier != nullptr && identifier->size() >= 5;
  if (byChat) {
    auto known = addressOfChat_.find(chatRow);
    if (known != addressOfChat_.end()) {
      entry.address = known->second;
      entries_.push_back(std::move(entry));
      return;
    }
  }
  std::string address;
  if (identifier != nullptr) address = *identifier;
  if (address.size() < 5 && row.size() > mc::kHandleId) {
    if (const std::string* handle = chats.HandleAddress(TextToInt(row[mc::kHandleId])))
      address = *handle;
  }
  entry.address = AddressIndex(NormaliseAddress(std::move(address)));
  if (byChat) addressOfChat_.emplace(chatRow, entry.address);
  entries_.push_back(std::move(entry));
}

uint32_t LiveBatch::AddressIndex(std::string address) {
  auto at = addressIndex_.find(address);
  if (at == addressIndex_.end()) {
    at = addressIndex_.emplace(address, static_cast<uint32_t>(addresses_.size())).first;
    addresses_.push_back(std::move(address));
  }
  return at->second;
}

void FileLiveByRowid(std::vector<LiveBatch*> batches, MessageMap& live) {
  std::vector<std::pair<int64_t, uint32_t>> order;   // (rowid, position in reading order)
  std::vector<std::pair<uint32_t, uint32_t>> where;  // (batch, entry) of each position
  for (uint32_t k = 0; k < batches.size(); ++k) {
    for (uint32_t e = 0; e < batches[k]->entries().size(); ++e) {
      order.emplace_back(batches[k]->entries()[e].rowid, static_cast<uint32_t>(where.size()));
      where.emplace_back(k, e);
    }
  }
  std::sort(order.begin(), order.end());
  // Each conversation's list is made its final size first, so filing never
  // moves records from a full list to a bigger one.
  std::vector<std::vector<MessageList*>> lists(batches.size());
  std::map<MessageList*, size_t> needed;
  for (size_t k = 0; k < batches.size(); ++k) {
    const std::vector<std::string>& addresses = batches[k]->addresses();
    lists[k].assign(addresses.size(), nullptr);
    for (size_t a = 0; a < lists[k].size(); ++a) lists[k][a] = &live[addresses[a]];
    std::vector<size_t> counts(lists[k].size(), 0);
    for (const LiveBatch::Entry& entry : batches[k]->entries()) ++counts[entry.address];
    for (size_t a = 0; a < counts.size(); ++a) needed[lists[k][a]] += counts[a];
  }
  for (const auto& [list, count] : needed) list->reserve(list->size() + count);
  for (const auto& [rowid, position] : order) {
    const auto [k, e] = where[position];
    LiveBatch::Entry& entry = batches[k]->entries()[e];
    lists[k][entry.address]->push_back(std::move(entry.record));
  }
}

void KeepCarved(RowList& rows, std::vector<CarvedEntry>& out) {
  for (RowValues& row : rows) {
    if (row.size() <= mc::kText) continue;
    MessageRecord record = RecordFromRow(row);
    if (record.text.empty()) continue;
    out.push_back({std::move(row[mc::kGuid]), std::move(record)});
  }
}

void DeletedFiling::File(std::vector<CarvedEntry>& entries) {
  for (CarvedEntry& entry : entries) {
    if (liveGuids_.Contains(entry.guid)) continue;
    if (!filed_.Insert(entry.guid)) continue;
    deleted_.push_back(std::move(entry.record));
  }
  entries = {};
}

}  // namespace vantrel
