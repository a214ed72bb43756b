// The records Vantrel recovers and the collections a load fills: live and
// deleted messages, live and deleted contacts, live and deleted calls. Loaders
// fill them; the views and the exporters only read them. All text is UTF-8.
// Nothing here is display text: the names the tree, the list and the files
// show for kinds and categories belong to ui, cli and export.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

// One table row as text values, one per decoded column in column order.
// Numbers travel as decimal text; a row may hold fewer values than the table
// has columns, never more.
using RowValues = std::vector<std::string>;
using RowList = std::vector<RowValues>;

// The kind of place a deleted record's bytes were found in.
enum class Place : uint8_t {
  Unknown,
  Freeblock,     // a freed cell on a table leaf page
  Gap,           // the unallocated space between the cell pointers and the cells
  LeafPage,      // a table leaf page with no live cell left
  InteriorPage,  // a b-tree interior page
  FreePage,      // a freelist trunk or leaf, a dropped table's page, a page past the end
  LogFrame,      // an old or uncommitted frame of the write-ahead log
  IndexOnly,     // only the record's key survives, in an index
};

// Where a deleted record was found, for people who must show their evidence:
// the database file (its name inside the backup, or its path), the page, the
// byte offset in that file (in the log file for a log frame) and the place.
struct FoundAt {
  std::string file;
  uint32_t page = 0;
  uint64_t offset = 0;
  Place place = Place::Unknown;
  uint32_t frame = 0;  // log frame number (1-based) when place is LogFrame

  bool operator==(const FoundAt&) const = default;
};

// An optional kept on the heap, read like std::optional: a record that
// seldom has the value pays a pointer for it rather than the value's whole
// size, and a million live messages stay that much smaller.
template <typename T>
class Boxed {
 public:
  Boxed() = default;
  Boxed(std::nullopt_t) {}  // NOLINT: as std::optional
  Boxed(const T& value) : value_(std::make_unique<T>(value)) {}  // NOLINT: as std::optional
  Boxed(T&& value) : value_(std::make_unique<T>(std::move(value))) {}  // NOLINT
  Boxed(const Boxed& other) : value_(other.value_ ? std::make_unique<T>(*other.value_) : nullptr) {}
  Boxed(Boxed&&) noexcept = default;
  Boxed& operator=(const Boxed& other) {
    if (this != &other) value_ = other.value_ ? std::make_unique<T>(*other.value_) : nullptr;
    return *this;
  }
  Boxed& operator=(Boxed&&) noexcept = default;
  Boxed& operator=(std::nullopt_t) {
    value_.reset();
    return *this;
  }
  Boxed& operator=(T value) {
    if (value_)
      *value_ = std::move(value);
    else
      value_ = std::make_unique<T>(std::move(value));
    return *this;
  }

  bool has_value() const { return value_ != nullptr; }
  explicit operator bool() const { return has_value(); }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return value_.get(); }
  const T* operator->() const { return value_.get(); }
  const T& value() const {
    if (!value_) throw std::bad_optional_access();
    return *value_;
  }
  void reset() { value_.reset(); }

  friend bool operator==(const Boxed& a, const Boxed& b) {
    return a.has_value() == b.has_value() && (!a.has_value() || *a == *b);
  }
  friend bool operator==(const Boxed& a, const T& b) { return a.has_value() && *a == b; }
  friend bool operator==(const Boxed& a, std::nullopt_t) { return !a.has_value(); }

 private:
  std::unique_ptr<T> value_;
};

// Where a record was found, or nullptr, whichever way it holds it.
inline const FoundAt* FoundOrNull(const FoundAt& found) {
  return &found;
}
inline const FoundAt* FoundOrNull(const std::optional<FoundAt>& found) {
  return found ? &*found : nullptr;
}
inline const FoundAt* FoundOrNull(const Boxed<FoundAt>& found) {
  return found ? &*found : nullptr;
}

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

struct ContactRecord {
  std::string name;
  std::string phonetic;
  std::string organization;
  std::vector<int32_t> propertyCodes;  // 3 phone, 4 e-mail, 5 address, ...
  std::vector<std::string> labels;     // resolved labels, one per value
  std::vector<std::string> values;
};

// Person rowid -> record.
using ContactMap = std::map<uint32_t, ContactRecord>;

// A number (or e-mail address) carved from a deleted multi-value row, with
// the name of the person it belonged to ("" when that person is not known);
// or a deleted person whose record was found without any such value: number
// "", owner the person's name (its organisation when it has no name).
struct DeletedContact {
  std::string number;
  std::string owner;
  std::optional<FoundAt> found;   // the value's record; a person's own for a person line
  std::string organization = {};  // the owner's, when the owner's record was found
  uint32_t ownerRowid = 0;        // the owner's ABPerson rowid; 0 when not known

  bool operator==(const DeletedContact&) const = default;
};
using DeletedContactList = std::vector<DeletedContact>;

// What kind of call a call store (iOS 8+) says a call was. The iOS 6/7
// database does not tell: Unknown.
enum class CallType : uint8_t { Unknown, Phone, FaceTimeAudio, FaceTimeVideo, Other };

struct CallRecord {
  int32_t date = 0;      // seconds since 1970-01-01 00:00:00 UTC
  int32_t duration = 0;  // seconds
  int32_t flags = 0;     // bit 0 set = outgoing
  // Facts of the call store (iOS 8+); Unknown / -1 / empty elsewhere.
  CallType type = CallType::Unknown;
  int8_t answered = -1;  // 1 answered, 0 not (an incoming 0 is a missed call), -1 unknown
  std::vector<std::string> participants;  // the other handles of a group call
  std::optional<FoundAt> found;           // deleted records: where the bytes were
};

// Number -> its calls in the order found.
using CallMap = std::map<std::string, std::vector<CallRecord>>;

// The three kinds of record, one database each.
enum class RecordKind { Messages = 0, Contacts = 1, Calls = 2 };
inline constexpr size_t kRecordKindCount = 3;

// The collections of one load, each a node of the category tree.
enum class Category {
  LiveMessages,
  DeletedMessages,
  LiveContacts,
  DeletedContacts,
  LiveCalls,
  DeletedCalls,
  MessageTraces,  // deleted messages of which only the GUID index entry is left
};

// The six categories of the category tree's first release, in their order;
// the files and counts scripts read are laid out by them. MessageTraces is
// shown and exported beside them only where asked for.
inline constexpr Category kAllCategories[] = {
    Category::LiveMessages,    Category::DeletedMessages, Category::LiveContacts,
    Category::DeletedContacts, Category::LiveCalls,       Category::DeletedCalls,
};

constexpr RecordKind KindOf(Category category) {
  switch (category) {
    case Category::LiveMessages:
    case Category::DeletedMessages:
      return RecordKind::Messages;
    case Category::LiveContacts:
    case Category::DeletedContacts:
      return RecordKind::Contacts;
    case Category::MessageTraces:
      return RecordKind::Messages;
    case Category::LiveCalls:
    case Category::DeletedCalls:
      break;
  }
  return RecordKind::Calls;
}

constexpr bool IsDeleted(Category category) {
  return category == Category::DeletedMessages || category == Category::DeletedContacts ||
         category == Category::DeletedCalls || category == Category::MessageTraces;
}

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

// Everything one load produces.
struct Collections {
  MessageMap liveMessages;
  MessageList deletedMessages;
  ContactMap contacts;
  // Absent when the address book left no deleted multi-value rows (nor
  // deleted persons) at all;
  // present and possibly empty when it did, even if none of them was kept.
  std::optional<DeletedContactList> deletedContacts;
  CallMap liveCalls;
  CallMap deletedCalls;
  MessageTraceList messageTraces;  // index-only remnants of deleted messages
};

// How many records a category holds (persons for live contacts); 0 when absent.
size_t RecordCount(const Collections& data, Category category);
// Whether the load found anything of the category: a non-empty collection, or
// for deleted contacts any deleted row at all.
bool HasRecords(const Collections& data, Category category);

}  // namespace vantrel
