// The schema catalogue: which tables a database holds, their columns as the
// CREATE TABLE text declares them, and the leaf pages of each table b-tree.
//
// The schema table (sqlite_master) is a table b-tree rooted at page 1 whose
// records have five columns: type ("table", "index", ...), name, tbl_name,
// rootpage, sql. Only "table" rows enter the catalogue.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

struct SqliteFile;

// One column definition cut from the CREATE TABLE text. Its position in the
// list is the column's position in the table's records.
struct ColumnDef {
  std::string name;
  std::string type;        // declared type word, e.g. "INTEGER", "TEXT"; may be empty
  std::string constraint;  // the rest, e.g. "PRIMARY KEY AUTOINCREMENT"
};

struct SchemaTable {
  std::string name;
  int32_t rootPage = 0;
  std::vector<ColumnDef> columns;
};

// The leaf pages of one table b-tree, in walk order.
struct PageSet {
  std::vector<int32_t> leafPages;
  // Table leaves with no cell left (a one-page table whose every row was
  // deleted), in walk order: they hold no live row, only deleted bytes.
  std::vector<int32_t> emptyLeafPages;
};

struct TableInfo {
  std::vector<ColumnDef> columns;
  std::vector<PageSet> pageSets;  // one entry when the root page could be read, none otherwise
};

// Reads and checks the header, sets pageSize, and reads the schema rows into
// db.schemaTables. False when the header was refused or a schema page could
// not be read whole.
bool LoadSchema(SqliteFile& db);
// Decodes the schema rows of the given leaf pages into db.schemaTables. False
// when one of the pages could not be read whole (its rows are still tried).
bool ReadSchemaRows(SqliteFile& db, const std::vector<int32_t>& leafPages);
// Appends the column definitions of a CREATE TABLE text to table.columns.
void ParseCreateTable(const std::string& sql, SchemaTable& table);
// Fills db.tableMap from db.schemaTables, collecting each table's leaf pages.
void BuildTableMap(SqliteFile& db);
// Appends one PageSet of the b-tree rooted at rootPage; false (nothing
// appended) when the root is 0 (a virtual table has none), out of range or
// unreadable, the last two counted as damage.
bool CollectTablePages(const SqliteFile& db, int32_t rootPage, std::vector<PageSet>& pageSets);
// The catalogue entry of exactly that name, or nullptr.
const TableInfo* FindTable(const SqliteFile& db, const std::string& name);

}  // namespace vantrel
