// Where the message loader files what it reads: the column positions of the
// message tables, the chat and handle a live message belongs to, the order
// live messages are filed in, and which carved messages are filed as deleted.
// Nothing here reads a page; MessageLoader.cpp feeds it rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "sources/messages/GuidSet.h"
#include "sources/messages/MessageRecord.h"
#include "sqlite/ColumnNames.h"
#include "sqlite/Schema.h"

namespace vantrel {

// Column positions of the iOS 6 and iOS 7 tables. Later versions keep the
// first 38 message columns in place but add, move and drop others, so the
// loader takes every position from the catalogue by name (MessageColumns,
// ChatColumns); these are the positions the names give on iOS 6/7.
namespace message_column {
inline constexpr size_t kRowid = 0;
inline constexpr size_t kGuid = 1;
inline constexpr size_t kText = 2;
inline constexpr size_t kHandleId = 5;
inline constexpr size_t kService = 11;
inline constexpr size_t kDate = 15;
inline constexpr size_t kDateRead = 16;
inline constexpr size_t kIsFromMe = 21;
inline constexpr size_t kIsSent = 28;
}  // namespace message_column
namespace chat_column {
inline constexpr size_t kRowid = 0;
inline constexpr size_t kChatIdentifier = 6;
inline constexpr size_t kAccountLogin = 9;
inline constexpr size_t kDisplayName = 12;  // iOS 7 on
}  // namespace chat_column
namespace handle_column {
inline constexpr size_t kRowid = 0;
inline constexpr size_t kAddress = 1;
}  // namespace handle_column
namespace join_column {  // chat_message_join
inline constexpr size_t kChatId = 0;
inline constexpr size_t kMessageId = 1;
}  // namespace join_column

// The message columns a record or its filing reads, by name from a table's
// column list; kNoColumn for a column the table lacks.
struct MessageColumns {
  size_t rowid = message_column::kRowid;
  size_t guid = message_column::kGuid;
  size_t text = message_column::kText;
  size_t handleId = message_column::kHandleId;
  size_t service = message_column::kService;
  size_t date = message_column::kDate;
  size_t dateRead = message_column::kDateRead;
  size_t isFromMe = message_column::kIsFromMe;
  size_t isSent = message_column::kIsSent;
  size_t attributedBody = kNoColumn;  // the archived text (iOS 8 on; the only text from iOS 16)

  static MessageColumns Of(const std::vector<ColumnDef>& columns);
};

// The chat columns the filing reads, by name.
struct ChatColumns {
  size_t rowid = chat_column::kRowid;
  size_t style = 2;  // 43 = group chat, 45 = one other party
  size_t chatIdentifier = chat_column::kChatIdentifier;
  size_t accountLogin = chat_column::kAccountLogin;
  size_t displayName = kNoColumn;

  static ChatColumns Of(const std::vector<ColumnDef>& columns);
};

// A stored message time (seconds or nanoseconds since 2001, decided per
// value) as whole seconds since 2001; 0 stays 0 (unset).
int32_t MessageSecondsFromStored(const std::string& value);
int32_t MessageSecondsFromStored(int64_t stored);

// The fields of a record: the more of them, the better a copy of a carved
// message is. See DeletedFiling.
struct RecordCompleteness {
  size_t values = 0;     // values that survived, in column order
  size_t textBytes = 0;  // length of the text
  bool dated = false;    // the date survived
  bool whole = false;    // every column a record reads survived, its text unmarked

  bool BetterThan(const RecordCompleteness& other) const;
};

class LiveCell;

// The fields every message row carries, live or carved. A live cell gives the
// same record its rendered row would.
MessageRecord RecordFromRow(const RowValues& row, const MessageColumns& columns = {});
MessageRecord RecordFromRow(const LiveCell& cell, const MessageColumns& columns = {});

// Addresses are shown without the mainland country code; an empty address
// (a message with neither chat nor handle) is filed under "0". Short service
// numbers such as 110 keep their digits.
std::string NormaliseAddress(std::string address);

// The small tables that say where a live message is filed: its chat by the
// first join row naming it, and the handle it names.
class ChatIndex {
 public:
  // The chat and handle rows, kept by pointer: they must outlive the index.
  // On a repeated rowid the first row stays.
  void SetChats(const RowList& rows, const ChatColumns& columns = {});
  void SetHandles(const RowList& rows, size_t addressColumn = handle_column::kAddress);
  // A chat_handle_join row: a handle taking part in a chat. Call after
  // SetChats and SetHandles.
  void AddChatHandle(int64_t chatId, int64_t handleId);
  // A join row; joinRows estimates how many there are, to size the flat table.
  // On a repeated message the first join row stays.
  void AddJoin(int64_t messageId, int64_t chatId, size_t joinRows);

  // The chat row of a message rowid, or nullptr.
  const RowValues* ChatOf(int64_t messageId) const {
    if (messageId >= 0 && static_cast<uint64_t>(messageId) < byRowid_.size() &&
        byRowid_[static_cast<size_t>(messageId)] != 0)
      return chats_[byRowid_[static_cast<size_t>(messageId)] - 1];
    auto found = byOtherRowid_.find(messageId);
    return found == byOtherRowid_.end() ? nullptr : found->second;
  }
  // The address of a handle rowid, or nullptr.
  const std::string* HandleAddress(int64_t handleId) const;
  // The participants of a chat row when it is a group chat (style 43, or
  // more than one handle), sorted; nullptr otherwise.
  const std::vector<std::string>* GroupParticipants(const RowValues* chat) const;
  const ChatColumns& chatColumns() const { return chatColumns_; }
  // The party a carved message naming handleId was exchanged with: its
  // handle's address (as live messages are filed) when that handle takes
  // part in no group chat; "" otherwise. Handles are per service, so one
  // person's SMS handle may be in no group while their iMessage one is. A group's message names its
  // sender or no one, never its chat, so it is not put beside a one-to-one conversation it never
  // belonged to.
  std::string CarvedAddress(int64_t handleId) const;
  // The same for a caller asking of many handles: inGroups is
  // HandlesInGroupChats(), the handles that take part in some group chat.
  std::string CarvedAddress(int64_t handleId, const std::unordered_set<int64_t>& inGroups) const;
  std::unordered_set<int64_t> HandlesInGroupChats() const;

 private:
  ChatColumns chatColumns_;
  size_t handleAddress_ = handle_column::kAddress;
  std::unordered_map<const RowValues*, std::vector<std::string>> participants_;
  std::unordered_map<const RowValues*, std::vector<int64_t>> handleIds_;  // of each chat
  std::map<int64_t, const RowValues*> chatByKey_;
  std::map<int64_t, const RowValues*> handleByKey_;
  // Message rowids are dense on a device, so they index a flat table;
  // anything else goes to a hash map. byRowid_ holds 0 for no join row, else
  // 1 + an index into chats_.
  std::vector<uint32_t> byRowid_;  // index: message rowid
  std::vector<const RowValues*> chats_;
  std::unordered_map<int64_t, uint32_t> chatIndex_;  // chat_id -> index into chats_
  std::unordered_map<int64_t, const RowValues*> byOtherRowid_;
};

// The live rows one reader has read, each with its record and its address,
// waiting to be filed by rowid once every reader is done.
class LiveBatch {
 public:
  struct Entry {
    int64_t rowid = 0;
    uint32_t address = 0;  // index into addresses()
    MessageRecord record;
  };

  // A live message row: its record, and its address from its chat's
  // identifier (five or more characters, worked out once per chat) or else
  // from its handle.
  void Add(const RowValues& row, const ChatIndex& chats, const MessageColumns& columns = {});
  void Add(const LiveCell& cell, const ChatIndex& chats, const MessageColumns& columns = {});
  // Room for about this many rows, asked once before the first Add: a list
  // that grows by doubling copies every record it holds each time.
  void Reserve(size_t rows) { entries_.reserve(rows); }

  std::vector<Entry>& entries() { return entries_; }
  const std::vector<Entry>& entries() const { return entries_; }
  const std::vector<std::string>& addresses() const { return addresses_; }

 private:
  // What a chat gives each of its messages.
  struct ChatSeen {
    std::shared_ptr<const ChatFacts> facts;  // null when the chat says nothing
    bool byIdentifier = false;               // address is the chat's, whatever the handle
    uint32_t address = 0;
    std::string shortIdentifier;  // an identifier under five characters, or ""
  };

  template <typename Row>
  void AddRow(const Row& row, const ChatIndex& chats, const MessageColumns& columns);
  // address when five or more characters, else the row's handle's address.
  template <typename Row>
  uint32_t AddressOfHandle(const Row& row, const ChatIndex& chats, const MessageColumns& columns,
                           std::string address);
  uint32_t AddressIndex(std::string address);

  std::vector<Entry> entries_;
  std::vector<std::string> addresses_;
  std::unordered_map<std::string, uint32_t> addressIndex_;
  std::unordered_map<const RowValues*, ChatSeen> chatsSeen_;
};

// Files the records of every batch into live under their addresses, moving
// them out of the batches. A conversation reads in the order it was written,
// so records are filed by rowid; equal rowids keep the order of the batches
// and, within one, the order read.
void FileLiveByRowid(std::vector<LiveBatch*> batches, MessageMap& live);

// A carved message with its GUID, waiting to be filed.
struct CarvedEntry {
  std::string guid;
  MessageRecord record;
  RecordCompleteness completeness;
  int64_t handleId = 0;  // the row's handle_id; 0 when it has none or it was cut off
};

// Appends the carved rows that can be filed (a text is needed: a record
// without one is never filed and never marks its GUID). found, when given,
// holds where each row lay, one entry per row: the record takes it along.
void KeepCarved(RowList& rows, std::vector<CarvedEntry>& out, const MessageColumns& columns = {},
                const std::vector<FoundAt>* found = nullptr);
// The columns of a carved row KeepCarved reads, by position among
// columnCount: a carve for it need render no other.
std::vector<bool> ColumnsKeepCarvedReads(const MessageColumns& columns, size_t columnCount);

// Sets each entry's record.address from its handle (ChatIndex::CarvedAddress).
void SetCarvedAddresses(const ChatIndex& chats, std::vector<CarvedEntry>& entries);

// Files carved messages as deleted: one record of each GUID that no live
// message has. Where a GUID survives more than once (a page's free space, the
// file scan, the log), the most complete copy is kept, in the place of the
// first: a cut copy without its date must not hide a whole one.
class DeletedFiling {
 public:
  DeletedFiling(const GuidSet& liveGuids, MessageList& deleted)
      : liveGuids_(liveGuids), deleted_(deleted) {}

  // Files the entries in order and empties the list.
  void File(std::vector<CarvedEntry>& entries);
  // Room for this many more entries to be filed, asked before filing them:
  // the lists and indexes then take their size once rather than doubling.
  void Reserve(size_t entries);
  // The texts of the live messages by GUID (kept while a log is read): a
  // whole record of a live GUID from a log frame whose text differs is an
  // earlier version of that message, filed once per text and marked so.
  void SetLiveTexts(const std::unordered_map<std::string, std::string>* texts) {
    liveTexts_ = texts;
  }
  // Whether the log scan passes over a record of guid: as PassesOver, except
  // that the records of live messages are read, for their earlier versions.
  bool PassesOverInLog(std::string_view guid) const {
    if (liveTexts_ && liveTexts_->count(std::string(guid))) return false;
    return PassesOver(guid);
  }
  // Whether a record of guid would be passed over: live, or filed already
  // whole (no later copy can be better).
  bool PassesOver(std::string_view guid) const {
    const GuidSet::Key key = GuidSet::KeyOf(guid);
    return liveGuids_.Contains(key) || whole_.Contains(key);
  }
  // Whether a record of each of guids was filed as deleted, into filed
  // (resized to match).
  void WasFiledEach(const std::vector<std::string_view>& guids, std::vector<bool>& filed) const {
    filedGuids_.ContainsEach(guids, filed);
  }

 private:
  struct Filed {
    size_t at = 0;  // index into deleted_
    RecordCompleteness completeness;
  };
  const GuidSet& liveGuids_;
  MessageList& deleted_;
  GuidSet whole_;
  std::unordered_map<std::string, Filed> filed_;
  GuidSet filedGuids_;  // the keys of filed_, for asking many at a time
  const std::unordered_map<std::string, std::string>* liveTexts_ = nullptr;
  std::unordered_set<std::string> earlier_;  // GUID and text of each earlier version filed
};

}  // namespace vantrel
