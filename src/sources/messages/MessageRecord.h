// A text message as the message source recovers it, live or deleted, with what later
// versions record around it; and what is left of a message only its GUID index still names.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "carve/FoundAt.h"
#include "platform/Boxed.h"

namespace vantrel {

// A reaction (a tapback) left on a message, by kind as the message table
// numbers them (associated_message_type 2000 to 2005).
enum class ReactionKind : uint8_t { Loved, Liked, Disliked, Laughed, Emphasised, Questioned };

struct Reaction {
  ReactionKind kind = ReactionKind::Loved;
  bool fromMe = false;
  std::string sender;           // the reacting handle's address; "" for the owner
  std::optional<int32_t> date;  // seconds since 2001

  bool operator==(const Reaction&) const = default;
};

// An earlier wording of an edited message, or the words of an unsent one,
// as the edit history keeps them.
struct EarlierText {
  std::string text;
  std::optional<int32_t> date;  // when that wording was sent or replaced

  bool operator==(const EarlierText&) const = default;
};

// A file sent with a message. filename is the device's path
// ("~/Library/SMS/Attachments/..."), which names the file inside the backup.
struct MessageAttachment {
  std::string filename;
  std::string mimeType;
  std::string transferName;  // the name the sender gave it
  int64_t totalBytes = 0;
  // Where the backup keeps the file's bytes, set by the load of a backup
  // folder; "" when the file is not in the backup (or a lone database was read).
  std::string backupPath;
  // An encrypted backup keeps the file enciphered: its wrapped key as the
  // manifest stores it, needed to decipher the bytes at backupPath.
  bool enciphered = false;
  std::string wrappedKey;

  bool operator==(const MessageAttachment&) const = default;
};

// How a message in the deleted list came to be deleted.
enum class DeletedKind : uint8_t {
  Carved,           // its bytes were found in free space or the log
  RecentlyDeleted,  // the row is whole, in the "Recently Deleted" folder (iOS 16 on)
};

// What later versions record around a message: reactions, a reply, edits,
// attachments, a recent deletion. Few messages have any of it, so records
// carry it behind one pointer and a million plain messages stay small.
struct MessageExtras {
  std::vector<Reaction> reactions;  // in the order given, removals applied
  // The message this one replies to (thread_originator_guid), when it is
  // in the database: its text and date.
  bool isReply = false;
  std::string replyToText;
  std::optional<int32_t> replyToDate;
  std::optional<int32_t> editedAt;     // date_edited
  std::optional<int32_t> retractedAt;  // date_retracted: unsent by its writer
  std::vector<EarlierText> earlierTexts;
  std::vector<MessageAttachment> attachments;
  DeletedKind deletedKind = DeletedKind::Carved;
  std::optional<int32_t> deletedAt;  // recently deleted: when
  std::string deletedFrom;           // recently deleted: the conversation's address
  // The raw message_summary_info (a binary plist) until the load driver has
  // read its edit history into earlierTexts; a plist is read above recovery.
  std::string summaryInfo;
};

// What a live message's chat says of it, kept once for all of the chat's
// messages: a copy per message was most of a record.
struct ChatFacts {
  std::string account;                    // account_login
  std::string name;                       // display_name of a named group chat
  std::vector<std::string> participants;  // handle addresses of a group chat

  bool operator==(const ChatFacts&) const = default;
};

struct MessageRecord {
  std::string text;
  std::string service;  // "SMS", "iMessage"
  // Seconds since 2001-01-01 00:00:00 UTC; empty when unknown: a carved
  // record cut before its date, or a row that stores 0 (no date at all).
  std::optional<int32_t> date;
  int32_t readDate = 0;  // same clock; 0 = not read
  // Who wrote it (is_from_me): true the owner, false the other party; empty
  // when unknown. This is the direction the views and files show.
  std::optional<bool> fromMe;
  // Whether it went out (is_sent): an own message that failed to send has
  // fromMe true and sent false. Empty when unknown.
  std::optional<bool> sent;
  // The message's chat (live only); null when it has none. Its name and
  // participants are facts of later versions, empty when the database does
  // not have them.
  std::shared_ptr<const ChatFacts> chat;
  Boxed<FoundAt> found;  // deleted records: where the bytes were
  // Deleted records: the other party's address when the carved row's handle
  // is still in the handle table; empty when unknown. Live messages are filed
  // under their address instead (MessageMap).
  std::string address;
  // Reactions, reply, edits, attachments, recent deletion; null when none.
  std::shared_ptr<MessageExtras> extras;
  // A deleted record that is an earlier version of a live message (same GUID,
  // other text), found in an older frame of the write-ahead log.
  bool earlierVersion = false;

  // The chat's facts, "" or empty when the message has no chat.
  const std::string& account() const { return chat ? chat->account : NoChat().account; }
  const std::string& chatName() const { return chat ? chat->name : NoChat().name; }
  const std::vector<std::string>& participants() const {
    return chat ? chat->participants : NoChat().participants;
  }

 private:
  static const ChatFacts& NoChat() {
    static const ChatFacts none;
    return none;
  }
};

// Messages in the order they were filed. Deleted messages have lost their
// chat: they are one list.
using MessageList = std::vector<MessageRecord>;
// Address of the other party -> its messages.
using MessageMap = std::map<std::string, MessageList>;

// A deleted message whose record is gone (not live, not carved anywhere, not
// an earlier version) but whose entry in the message table's GUID index
// survives: the GUID and the rowid it pointed at, its content lost. The entry
// is a record of two values, the GUID text and the rowid, on a page of that
// index (a live cell, a freeblock, the gap, an emptied leaf) or on a free page.
struct MessageTrace {
  std::string guid;
  int64_t rowid = 0;  // 0 when the entry's rowid bytes could not be told apart
  FoundAt found;      // where the GUID's bytes lie; place IndexOnly for a live entry

  bool operator==(const MessageTrace&) const = default;
};
using MessageTraceList = std::vector<MessageTrace>;

}  // namespace vantrel
