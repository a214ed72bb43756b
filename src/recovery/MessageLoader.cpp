// The message loader: live messages filed under the address of their chat,
// deleted ones (carved by GUID, MessageCarver.h) under one fixed key.
#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "recovery/Loaders.h"
#include "recovery/MessageCarver.h"
#include "recovery/RowReader.h"

namespace vantrel {
namespace {

// Column positions, the same in the iOS 6 and iOS 7 tables.
namespace message {
constexpr size_t kRowid = 0;
constexpr size_t kGuid = 1;
constexpr size_t kText = 2;
constexpr size_t kHandleId = 5;
constexpr size_t kService = 11;
constexpr size_t kDate = 15;
constexpr size_t kDateRead = 16;
constexpr size_t kIsSent = 28;
}  // namespace message
namespace chat {
constexpr size_t kChatIdentifier = 6;
constexpr size_t kAccountLogin = 9;
}  // namespace chat
constexpr size_t kHandleAddress = 1;
constexpr size_t kJoinChatId = 0;
constexpr size_t kJoinMessageId = 1;

// The carved rows of chat, handle and the join table are of no use here.
void NoCarving(const SqliteFile&, const LeafPage&, const std::vector<ColumnDef>&, RowList&) {}

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

// The fields every message row carries, live or carved.
MessageRecord RecordFromRow(const RowValues& row) {
  MessageRecord record;
  for (size_t k = 0; k < row.size(); ++k) {
    const std::string& value = row[k];
    if (k == message::kText) {
      record.text = value;
    } else if (k == message::kService) {
      record.service = value;
    } else if (k == message::kDate) {
      record.date = static_cast<int32_t>(TextToInt(value));
    } else if (k == message::kDateRead) {
      record.readDate = static_cast<int32_t>(TextToInt(value));
    } else if (k == message::kIsSent) {
      record.sent = static_cast<uint8_t>(TextToInt(value) & 0xFF);
      break;
    }
  }
  return record;
}

// Addresses are shown without the mainland country code; anything too short
// to be a number or an account is filed under "0".
std::string NormaliseAddress(std::string address) {
  if (address.size() < 4) return "0";
  if (address.compare(0, 3, "+86") == 0) address.erase(0, 3);
  return address;
}

}  // namespace

int MessageLoader(const SqliteFile& db, MessageMap& live, MessageMap& deleted) {
  RowList liveRows;
  RowList carvedRows;
  const int result = LoadMessageTable(db, liveRows, carvedRows);
  if (result < 0) return result;
  if (liveRows.empty() && carvedRows.empty()) return 0;

  RowList chatRows, handleRows, joinRows, unused;
  ReadTable(db, "chat", chatRows, unused, NoCarving);
  ReadTable(db, "handle", handleRows, unused, NoCarving);
  ReadTable(db, "chat_message_join", joinRows, unused, NoCarving);
  const auto chatByKey = IndexRows(chatRows, 0);
  const auto handleByKey = IndexRows(handleRows, 0);
  // A message's chat: the join row naming it (message_id -> chat_id). Chat and
  // handle rowids are separate sequences, so the handle key never finds a chat.
  std::map<int64_t, int64_t> chatOfMessage;
  for (const RowValues& row : joinRows) {
    if (row.size() <= kJoinMessageId) continue;
    chatOfMessage.emplace(TextToInt(row[kJoinMessageId]), TextToInt(row[kJoinChatId]));
  }

  // Leaf pages come in b-tree walk order, which puts the right-most subtree
  // first; a conversation reads in the order it was written, so live rows are
  // filed by rowid.
  std::stable_sort(liveRows.begin(), liveRows.end(), [](const RowValues& a, const RowValues& b) {
    const int64_t x = a.empty() ? 0 : TextToInt(a[message::kRowid]);
    const int64_t y = b.empty() ? 0 : TextToInt(b[message::kRowid]);
    return x < y;
  });

  std::set<std::string> liveGuids;
  for (const RowValues& row : liveRows) {
    if (row.size() > message::kGuid) liveGuids.insert(row[message::kGuid]);
    MessageRecord record = RecordFromRow(row);

    std::string address;
    const RowValues* chatRow = nullptr;
    if (row.size() > message::kRowid) {
      auto join = chatOfMessage.find(TextToInt(row[message::kRowid]));
      if (join != chatOfMessage.end()) {
        auto found = chatByKey.find(join->second);
        if (found != chatByKey.end()) chatRow = found->second;
      }
    }
    if (const std::string* identifier = ValueAt(chatRow, chat::kChatIdentifier))
      address = *identifier;
    if (const std::string* account = ValueAt(chatRow, chat::kAccountLogin))
      record.account = *account;
    if (address.size() < 5 && row.size() > message::kHandleId) {
      auto found = handleByKey.find(TextToInt(row[message::kHandleId]));
      if (found != handleByKey.end() && found->second->size() > kHandleAddress)
        address = (*found->second)[kHandleAddress];
    }
    live[NormaliseAddress(std::move(address))].push_back(std::move(record));
  }

  // Deleted messages: the first record of each GUID that is not live and
  // still has its text.
  std::set<std::string> filedGuids;
  for (const RowValues& row : carvedRows) {
    if (row.size() <= message::kText) continue;
    const std::string& guid = row[message::kGuid];
    if (liveGuids.count(guid)) continue;
    MessageRecord record = RecordFromRow(row);
    if (record.text.empty()) continue;
    if (!filedGuids.insert(guid).second) continue;
    deleted[kDeletedMessagesKey].push_back(std::move(record));
  }
  return 0;
}

}  // namespace vantrel
