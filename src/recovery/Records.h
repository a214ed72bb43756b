// The records Vantrel recovers and the five collections a load fills: live and
// deleted messages, contacts (deleted ones gathered under key 0), live and
// deleted calls. Loaders fill them; the views and the exporters only read them.
// All text is UTF-8.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vantrel {

// One table row as text values, one per decoded column in column order.
// Numbers travel as decimal text; a row may hold fewer values than the table
// has columns, never more.
using RowValues = std::vector<std::string>;
using RowList = std::vector<RowValues>;

struct MessageRecord {
  std::string text;
  std::string service;   // "SMS", "iMessage"
  std::string account;   // account_login of the message's chat (live only)
  int32_t date = 0;      // seconds since 2001-01-01 00:00:00 UTC
  int32_t readDate = 0;  // same clock; 0 = not read
  uint8_t sent = 255;    // nonzero = sent by the owner, 0 = received; 255 = unknown
};

// Address of the other party -> its messages in the order they were filed.
using MessageMap = std::map<std::string, std::vector<MessageRecord>>;

// The one key under which every deleted message is filed: "+86" and three
// middle dots (U+00B7, GBK A1 A4).
inline constexpr char kDeletedMessagesKey[] = "+86\u00B7\u00B7\u00B7";

struct ContactRecord {
  std::string name;
  std::string phonetic;
  std::string organization;
  std::vector<int32_t> propertyCodes;  // 3 phone, 4 e-mail, 5 address, ...
  std::vector<std::string> labels;     // resolved labels; deleted entry: carved values
  std::vector<std::string> values;     // values; deleted entry: owner names or ""
};

// Person rowid -> record; key 0 holds the deleted-contacts entry.
using ContactMap = std::map<uint32_t, ContactRecord>;

inline constexpr char kDeletedContactsName[] = "删除的";

struct CallRecord {
  int32_t date = 0;      // seconds since 1970-01-01 00:00:00 UTC
  int32_t duration = 0;  // seconds
  int32_t flags = 0;     // bit 0 set = outgoing
};

// Number -> its calls in the order found.
using CallMap = std::map<std::string, std::vector<CallRecord>>;

// Everything one load produces.
struct Collections {
  MessageMap liveMessages;
  MessageMap deletedMessages;
  ContactMap contacts;
  CallMap liveCalls;
  CallMap deletedCalls;

  void Clear() {
    liveMessages.clear();
    deletedMessages.clear();
    contacts.clear();
    liveCalls.clear();
    deletedCalls.clear();
  }
};

// Category node names shared by the load driver, the tree, the list and the exporters.
namespace category {
inline constexpr char kMessages[] = "短信";
inline constexpr char kContacts[] = "通讯录";
inline constexpr char kCalls[] = "通话记录";
inline constexpr char kDeleted[] = "删除数据";
inline constexpr char kLive[] = "现存数据";
inline constexpr char kDeletedContacts[] = "删除联系人";
inline constexpr char kLiveContacts[] = "现有联系人";
}  // namespace category

}  // namespace vantrel
