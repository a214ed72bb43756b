// The three kind loaders the load driver runs on an opened database. Each
// returns -2 when the database lacks its key table ("message", "ABPerson",
// "call"), -1 when that table has no pages, 0 otherwise. They only insert into
// the collections they are given.
#pragma once

#include "recovery/Records.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

int MessageLoader(const SqliteFile& db, MessageMap& live, MessageMap& deleted);
int ContactLoader(const SqliteFile& db, ContactMap& contacts);
int CallLoader(const SqliteFile& db, CallMap& live, CallMap& deleted);

}  // namespace vantrel
