// The three kind loaders the load driver runs on an opened database. Each
// tells whether the database holds its key table ("message", "ABPerson",
// "call") and whether that table has pages. They only insert into the
// collections they are given.
#pragma once

#include <optional>

#include "sources/calls/CallRecord.h"
#include "sources/contacts/ContactRecord.h"
#include "sources/messages/MessageRecord.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

enum class LoaderStatus {
  TableAbsent,  // not a database of this kind: nothing was read
  NoPages,      // the key table exists but holds no pages
  Loaded,
};

// traces, when given, gets the deleted messages only the GUID index still
// names (IndexTraces.h).
LoaderStatus MessageLoader(const SqliteFile& db, MessageMap& live, MessageList& deleted,
                           MessageTraceList* traces = nullptr);
// deleted is set (possibly empty) when the address book left deleted multi-value rows.
LoaderStatus ContactLoader(const SqliteFile& db, ContactMap& contacts,
                           std::optional<DeletedContactList>& deleted);
LoaderStatus CallLoader(const SqliteFile& db, CallMap& live, CallMap& deleted);

}  // namespace vantrel
