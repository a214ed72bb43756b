// Tables the database no longer lists. DROP TABLE deletes the table's row of
// the schema (sqlite_master) like any other row: its bytes stay in the free
// space of the schema page (DeletedBytes.h), CREATE statement and all, while
// the table's pages go to the freelist. Carving those schema records back
// gives the dropped table's name, its old root page and its columns, so the
// records of its pages can be read by them (FreePages.h).
#pragma once

#include <string>
#include <vector>

#include "carve/FoundAt.h"
#include "sqlite/Schema.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// The name free-page carving gives records of a dropped table: "dropped:" and its name.
inline constexpr char kDroppedPrefix[] = "dropped:";

struct DroppedTable {
  SchemaTable table;  // its name, the root page it had, its columns as the live schema's are read
  std::string sql;    // the CREATE TABLE statement as SQLite kept it
  FoundAt found;      // where its schema record lay (the record header's first type)
};

// Finds the schema records of type "table" (type, name, tbl_name, rootpage,
// sql; sql starting "CREATE TABLE", name equal to tbl_name) in the schema's
// leaf pages, their free space included, whose first four bytes may be a
// freeblock header's now; then in the older images of those pages a
// write-ahead log leaves (PageWalk.h). A record whose sql runs past its page
// (an overflowing statement) or whose parentheses do not balance is not
// taken. Tables of a name the live schema holds are left out; each name and
// statement once, the first found. In page order, then the log's.
std::vector<DroppedTable> FindDroppedTables(const SqliteFile& db);

// The dropped table of that name ("dropped:NAME" or NAME), or nullptr.
const DroppedTable* FindDroppedTable(const std::vector<DroppedTable>& dropped,
                                     const std::string& name);

}  // namespace vantrel
