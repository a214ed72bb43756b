// The records Vantrel recovers and the collections a load fills: live and
// deleted messages, live and deleted contacts, live and deleted calls. Loaders
// fill them; the views and the exporters only read them. All text is UTF-8.
// Nothing here is display text: the names the tree, the list and the files
// show for kinds and categories belong to ui, cli and export.
#pragma once

#include <cstddef>
#include <optional>

#include "sources/calls/CallRecord.h"
#include "sources/contacts/ContactRecord.h"
#include "sources/messages/MessageRecord.h"

namespace vantrel {

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
