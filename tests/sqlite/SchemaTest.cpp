// The schema catalogue: CREATE TABLE texts cut into columns, and the catalogue of a database
// compared with SQLite's own sqlite_master and table_info.
#include "sqlite/Schema.h"

#include <gtest/gtest.h>

#include "sqlite/ReaderCheck.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::TempDir;

std::vector<std::string> Describe(const std::string& sql) {
  SchemaTable table;
  ParseCreateTable(sql, table);
  std::vector<std::string> out;
  for (const ColumnDef& c : table.columns)
    out.push_back(c.name + "|" + c.type + "|" + c.constraint);
  return out;
}

TEST(ParseCreateTable, CutsColumnDefinitions) {
  EXPECT_EQ(Describe("CREATE TABLE t (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE "
                     "NOT NULL, text TEXT)"),
            (std::vector<std::string>{"ROWID|INTEGER|PRIMARY KEY AUTOINCREMENT",
                                      "guid|TEXT|UNIQUE NOT NULL", "text|TEXT|"}));
  EXPECT_EQ(Describe("CREATE TABLE t (a, b)"), (std::vector<std::string>{"a||", "b||"}));
  // Table constraints are not columns, whatever follows UNIQUE.
  EXPECT_EQ(Describe("CREATE TABLE handle ( ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id "
                     "TEXT NOT NULL, UNIQUE (id, service) )"),
            (std::vector<std::string>{"ROWID|INTEGER|PRIMARY KEY AUTOINCREMENT UNIQUE",
                                      "id|TEXT|NOT NULL"}));
  EXPECT_EQ(Describe("CREATE TABLE t (a INTEGER, UNIQUE(a)) WITHOUT ROWID"),
            (std::vector<std::string>{"a|INTEGER|"}));
  // Commas inside parentheses do not split a column; quotes are not part of a name.
  EXPECT_EQ(Describe("CREATE TABLE t (p DECIMAL(10,2) NOT NULL, 'c0First', \"two  words\" "
                     "UNSIGNED BIG INT DEFAULT (1), [x] TEXT)"),
            (std::vector<std::string>{"p|DECIMAL(10,2)|NOT NULL", "c0First||",
                                      "two  words|UNSIGNED BIG INT|DEFAULT (1)", "x|TEXT|"}));
  // A one-column PRIMARY KEY table constraint on an INTEGER column makes it the rowid.
  EXPECT_EQ(Describe("CREATE TABLE t (id INTEGER, v TEXT, PRIMARY KEY (id))"),
            (std::vector<std::string>{"id|INTEGER|PRIMARY KEY", "v|TEXT|"}));
  // Cut short: the columns that are there.
  EXPECT_EQ(Describe("CREATE TABLE t (a TEXT, b INT"),
            (std::vector<std::string>{"a|TEXT|", "b|INT|"}));
}

TEST(SchemaCatalogue, MatchesSqliteMaster) {
  TempDir dir;
  const std::string path = dir.File("s.db");
  {
    Database db(path);
    db.Exec(fixtures::ReadSchemaFile("ios7_sms.sql"));
    db.Exec("CREATE VIEW v AS SELECT 1");
    db.Exec("CREATE TABLE wr (k TEXT PRIMARY KEY, v) WITHOUT ROWID");
    // Enough tables that the schema itself spreads over several pages.
    db.Exec("BEGIN");
    for (int i = 0; i < 60; ++i)
      db.Exec("CREATE TABLE filler" + std::to_string(i) + " (a TEXT, b INTEGER, c TEXT DEFAULT '" +
              std::string(100, 'z') + "')");
    db.Exec("COMMIT");
  }
  Database db(path);
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
  std::vector<fixtures::Row> rows =
      db.Query("SELECT name, rootpage FROM sqlite_master WHERE type = 'table'");
  ASSERT_EQ(file.schemaTables.size(), rows.size());
  std::map<std::string, int64_t> roots;
  for (const fixtures::Row& row : rows) roots[row[0].bytes] = row[1].integer;
  for (const SchemaTable& table : file.schemaTables) {
    SCOPED_TRACE(table.name);
    ASSERT_TRUE(roots.count(table.name));
    EXPECT_EQ(table.rootPage, roots[table.name]);
    std::vector<std::string> names;
    for (const fixtures::Row& info : db.Query("PRAGMA table_info(\"" + table.name + "\")"))
      names.push_back(info[1].bytes);
    std::vector<std::string> ours;
    for (const ColumnDef& c : table.columns) ours.push_back(c.name);
    EXPECT_EQ(ours, names);
  }
  EXPECT_NE(FindTable(file, "message"), nullptr);
  EXPECT_EQ(FindTable(file, "Message"), nullptr);  // lookups are exact
  EXPECT_EQ(FindTable(file, "v"), nullptr);
  EXPECT_EQ(FindTable(file, "message")->columns.size(), 38u);
}

}  // namespace
}  // namespace vantrel
