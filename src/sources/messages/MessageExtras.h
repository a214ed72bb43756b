// What later versions keep around a live message, gathered while the message
// loader reads the live rows and applied once every row is read: reactions
// (tapbacks) filed on the message they point at instead of as messages of
// their own, replies, edits and unsent messages, attachments, and the
// "Recently Deleted" folder of iOS 16, whose rows move to the deleted list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "sources/messages/MessageFiling.h"
#include "sources/messages/MessageRecord.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// The message columns of later versions, by name; kNoColumn where absent.
struct ModernColumns {
  size_t associatedGuid = kNoColumn;  // associated_message_guid: what a reaction points at
  size_t associatedType = kNoColumn;  // associated_message_type: 2000-2005 added, 3000-3005 removed
  size_t threadOriginator = kNoColumn;  // thread_originator_guid: the message replied to
  size_t dateEdited = kNoColumn;
  size_t dateRetracted = kNoColumn;
  size_t summaryInfo = kNoColumn;  // message_summary_info: a binary plist with the edit history

  static ModernColumns Of(const std::vector<ColumnDef>& columns);
  bool Any() const;
};

// The reaction kind of an associated_message_type, and whether it removes
// one; nullopt for a type that is no reaction (0, stickers, ...).
struct ReactionType {
  ReactionKind kind;
  bool removal;
};
std::optional<ReactionType> ReactionTypeOf(int64_t associatedType);

// The GUID an associated_message_guid names: "p:0/GUID" and "bp:GUID" lose
// their prefix.
std::string StripAssociatedPrefix(const std::string& associated);

// The later-version facts of the rows of one LiveBatch, by entry index.
class ModernFacts {
 public:
  struct Row {
    uint32_t entry = 0;
    int64_t rowid = 0;
    std::optional<ReactionType> reaction;
    std::string target;  // reaction: the GUID it points at
    std::string thread;  // reply: the GUID replied to
    std::string sender;  // reaction: the reacting handle's address
    std::optional<int32_t> edited, retracted;
    std::string summaryInfo;  // raw bytes, filled from the cell
  };

  // Takes the facts of the row just added to the batch as entry `entry`.
  // Returns whether its message_summary_info must be read from the raw cell
  // (the row reader renders a blob only up to its first zero byte).
  bool Take(const RowValues& row, uint32_t entry, int64_t rowid, const MessageColumns& columns,
            const ModernColumns& modern, const ChatIndex& chats);
  bool Take(const LiveCell& cell, uint32_t entry, int64_t rowid, const MessageColumns& columns,
            const ModernColumns& modern, const ChatIndex& chats);
  // The row of a rowid that Take asked the raw summary for.
  Row* RowOf(int64_t rowid);

  std::vector<uint64_t>& guidHashes() { return guidHashes_; }
  std::vector<Row>& rows() { return rows_; }

 private:
  template <typename Values>
  bool TakeRow(const Values& row, uint32_t entry, int64_t rowid, const MessageColumns& columns,
               const ModernColumns& modern, const ChatIndex& chats);

  std::vector<uint64_t> guidHashes_;  // one per batch entry taken, by entry
  std::vector<Row> rows_;             // rows with any fact
  std::unordered_map<int64_t, size_t> byRowid_;
};

// The small tables read whole: attachments by message rowid, and the
// recently deleted rows (chat and time of deletion) by message rowid.
struct ModernTables {
  struct Recoverable {
    int64_t chatId = 0;
    std::optional<int32_t> deletedAt;
  };
  std::unordered_map<int64_t, std::vector<MessageAttachment>> attachments;
  std::unordered_map<int64_t, Recoverable> recoverable;
  // chat rowid -> the address its conversation is filed under.
  std::unordered_map<int64_t, std::string> chatAddresses;
};
ModernTables ReadModernTables(const SqliteFile& db, const RowList& chatRows,
                              const ChatColumns& chatColumns);

// Applies the facts to the batches before they are filed: reactions go onto
// their messages and leave the batch, replies learn the text and date of
// what they answer, edits, attachments; recently deleted rows leave the
// batch and are appended to recentlyDeleted, in rowid order.
void ApplyModernFacts(std::vector<LiveBatch*> batches, std::vector<ModernFacts*> facts,
                      const ModernTables& tables, MessageList& recentlyDeleted);

}  // namespace vantrel
