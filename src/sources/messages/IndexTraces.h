// Deleted messages of which only the GUID index entry is left. The message
// table's guid column is UNIQUE, so SQLite keeps an index b-tree of (guid,
// rowid) records beside the table. Deleting a message frees its index entry
// as well as its row, but the two lie on different pages: new messages often
// write over the row's bytes while the index page keeps the old entry. Such an
// entry says that a message with this GUID and rowid existed, nothing more.
//
// An index leaf cell: payload-length varint, then the record: header size 3,
// the GUID's serial type 85 (36 bytes of text), the rowid's integer serial
// type (8 and 9 store 0 and 1 in no bytes), the GUID, the rowid. Interior
// cells have a 4-byte child page number before it. Freed, such a cell loses
// its first four bytes (exactly the varints, DeletedBytes.h) unless it was
// merged into the freeblock before it; the rowid's length is then told by
// where the next entry or the block ends.
#pragma once

#include <string_view>

#include "sources/messages/GuidSet.h"
#include "sources/messages/MessageRecord.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// The root page of the index on the message table whose first column is
// guid (the automatic index of `guid TEXT UNIQUE`, or a CREATE INDEX on
// guid); 0 when the schema names none.
uint32_t MessageGuidIndexRoot(const SqliteFile& db);

// The traces: every entry with a GUID in known is passed over (known: the
// live messages' GUIDs; the caller drops those it recovers in other ways). Looked at, in this
// order: the index's live cells (an entry whose row is gone: a damaged file), its pages' freeblocks
// and gaps (a leaf with no cell left is read whole), then every free page (freelist pages, pages
// past the database's size) for records of the index's shape. Each GUID once: where it is found
// again, the copy whose rowid could be read wins, in the place of the first.
MessageTraceList FindMessageTraces(const SqliteFile& db, const GuidSet& known);

}  // namespace vantrel
