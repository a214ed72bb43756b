// Dropped tables: DROP TABLE deletes the table's schema row, whose bytes stay in the schema
// page's free space, and sends its pages to the freelist. The CREATE statement comes back as
// SQLite had it, and the records of the freed pages are read by its columns under
// "dropped:NAME", their values those SQLite returned before the drop. A table that held a few
// rows on its root page alone and one that spread over many pages are dropped, beside live
// tables that lost rows; on 1024-, 4096- and 65536-byte pages. Under a log, also a table whose
// schema record's only copy is the last image of a schema leaf freed when its tables went.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "carve/DroppedTables.h"
#include "carve/FreePages.h"
#include "fixtures/Fixtures.h"
#include "sqlite/SqliteFile.h"
#include "sqlite/WalIndex.h"

namespace vantrel {
namespace {

namespace fx = fixtures;

std::string Memo(int id) {
  char text[64];
  std::snprintf(text, sizeof text, "memo kept in a table later dropped %05d", id);
  return text;
}

// What a dropped table was before the DROP, as SQLite said.
struct Before {
  std::string sql;
  int64_t rootPage = 0;
  size_t columns = 0;
  std::map<std::string, std::vector<std::string>> rowsByKey;  // values after the rowid, joined
};

std::string KeyOf(const std::vector<std::string>& values, size_t from) {
  std::string key;
  for (size_t k = from; k < values.size(); ++k) key += values[k] + '\x1f';
  return key;
}

Before ReadBefore(fx::Database& db, const std::string& table) {
  Before before;
  before.sql =
      db.QueryText("SELECT sql FROM sqlite_master WHERE name = ?", {fx::Value::Text(table)});
  before.rootPage =
      db.QueryInt("SELECT rootpage FROM sqlite_master WHERE name = ?", {fx::Value::Text(table)});
  before.columns = db.Query("PRAGMA table_info(" + table + ")").size();
  for (const fx::Row& row : db.Query("SELECT * FROM " + table)) {
    std::vector<std::string> values;
    for (const fx::Value& v : row) values.push_back(v.AsText());
    before.rowsByKey[KeyOf(values, 1)] = values;
  }
  return before;
}

TEST(DroppedTables, CreateStatementsComeBackAndTheirRecordsAreReadByThem) {
  for (int pageSize : {1024, 4096, 65536}) {
    SCOPED_TRACE(pageSize);
    fx::TempDir dir;
    const std::string path = dir.File("dropped.db");
    const int memos = pageSize == 65536 ? 3000 : 400;
    std::map<std::string, Before> before;
    {
      fx::OpenOptions options;
      options.pageSize = pageSize;
      fx::Database db(path, options);
      db.Exec(
          "CREATE TABLE note (id INTEGER PRIMARY KEY, body TEXT, n INTEGER);"
          "CREATE TABLE memo (id INTEGER PRIMARY KEY, stamp INTEGER, memo TEXT, size REAL);"
          "CREATE TABLE visit (id INTEGER PRIMARY KEY, place TEXT NOT NULL, lat REAL, lon REAL, "
          "at INTEGER, who TEXT);"
          "CREATE INDEX memo_stamp ON memo (stamp);");
      db.Exec("BEGIN");
      for (int id = 1; id <= memos; ++id) {
        db.Query("INSERT INTO memo (stamp, memo, size) VALUES (?, ?, ?)",
                 {fx::Value::Int(1400000000 + 37 * id), fx::Value::Text(Memo(id)),
                  fx::Value::Real(id + 0.25)});
        db.Query("INSERT INTO note (body, n) VALUES (?, ?)",
                 {fx::Value::Text("note " + std::to_string(id)), fx::Value::Int(id)});
      }
      for (int id = 1; id <= 5; ++id)
        db.Query("INSERT INTO visit (place, lat, lon, at, who) VALUES (?, ?, ?, ?, ?)",
                 {fx::Value::Text("place number " + std::to_string(id)),
                  fx::Value::Real(31.2 + id / 100.0), fx::Value::Real(121.5 - id / 100.0),
                  fx::Value::Int(1400000000 + id), fx::Value::Text("someone")});
      db.Exec("COMMIT");
      // Live rows deleted too: a run of neighbours and single ones.
      db.Exec("DELETE FROM note WHERE id BETWEEN 50 AND 90 OR id % 17 = 0");
      before["memo"] = ReadBefore(db, "memo");
      before["visit"] = ReadBefore(db, "visit");
      db.Exec("DROP TABLE visit");
      db.Exec("DROP TABLE memo");
      ASSERT_GT(db.QueryInt("PRAGMA freelist_count"), 0);
    }
    // The dropped memos whose text still lies on a page no live tree owns.
    std::set<int64_t> treePages;
    {
      fx::Database db(path, {.create = false, .readOnly = true});
      for (const fx::Row& row : db.Query("SELECT pageno FROM dbstat"))
        treePages.insert(row[0].AsInt());
    }
    size_t memosOnFreePages = 0;
    {
      const std::string bytes = fx::ReadFileBytes(path);
      for (int id = 1; id <= memos; ++id)
        for (size_t at = bytes.find(Memo(id)); at != std::string::npos;
             at = bytes.find(Memo(id), at + 1))
          if (!treePages.count(static_cast<int64_t>(at / pageSize + 1))) {
            ++memosOnFreePages;
            break;
          }
    }

    SqliteFile file;
    ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
    const std::vector<DroppedTable> dropped = FindDroppedTables(file);
    std::set<std::string> names;
    for (const DroppedTable& table : dropped) {
      SCOPED_TRACE(table.table.name);
      names.insert(table.table.name);
      ASSERT_TRUE(before.count(table.table.name));
      const Before& was = before.at(table.table.name);
      EXPECT_EQ(table.sql, was.sql);
      EXPECT_EQ(table.table.rootPage, was.rootPage);
      EXPECT_EQ(table.table.columns.size(), was.columns);
      EXPECT_EQ(table.found.page, 1u);
      EXPECT_EQ(table.found.file, path);
    }
    EXPECT_EQ(names, (std::set<std::string>{"memo", "visit"}));

    std::map<std::string, std::set<std::string>> back;  // table -> keys of the rows read
    size_t wrong = 0, twice = 0;
    for (const FreePageRecord& record : CarveFreePages(file, dropped)) {
      if (record.table.rfind(kDroppedPrefix, 0) != 0) {
        // No row of a dropped table under another name.
        for (const auto& [name, was] : before) wrong += was.rowsByKey.count(KeyOf(record.row, 1));
        continue;
      }
      const std::string name = record.table.substr(std::string(kDroppedPrefix).size());
      ASSERT_TRUE(before.count(name));
      const auto row = before.at(name).rowsByKey.find(KeyOf(record.row, 1));
      if (row == before.at(name).rowsByKey.end()) {
        ++wrong;
        ADD_FAILURE() << record.table << ": a row SQLite never had: " << KeyOf(record.row, 1);
        continue;
      }
      // A whole cell shows its rowid; a freed one has lost it.
      if (!record.row[0].empty()) EXPECT_EQ(record.row[0], row->second[0]);
      twice += !back[name].insert(row->first).second;
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(twice, 0u);
    std::printf(
        "[dropped tables] page %d: memo %zu of %d back (%zu on free pages), visit %zu of 5\n",
        pageSize, back["memo"].size(), memos, memosOnFreePages, back["visit"].size());
    EXPECT_GE(static_cast<double>(back["memo"].size()),
              0.9 * static_cast<double>(memosOnFreePages));
    EXPECT_GT(back["memo"].size(), static_cast<size_t>(memos / 4));
    EXPECT_EQ(back["visit"].size(), 5u);
  }
}

// Dropped while the database ran with a write-ahead log, after the file had been checkpointed:
// the schema record lies in a log frame of page 1 (and the file's own page 1 still lists the
// table), and later tables created in the log write over page 1's free space again and take
// the freed pages for their roots.
TEST(DroppedTables, DroppedUnderTheLogComeBackFromItsFrames) {
  for (int pageSize : {1024, 4096}) {
    SCOPED_TRACE(pageSize);
    fx::TempDir dir;
    const std::string path = dir.File("logged.db");
    Before memo;
    {
      fx::OpenOptions options;
      options.pageSize = pageSize;
      fx::Database db(path, options);
      db.Exec("PRAGMA journal_mode=WAL");
      db.Exec(
          "CREATE TABLE note (id INTEGER PRIMARY KEY, body TEXT);"
          "CREATE TABLE memo (id INTEGER PRIMARY KEY, stamp INTEGER, memo TEXT, size REAL);");
      db.Exec("BEGIN");
      for (int id = 1; id <= 200; ++id)
        db.Query("INSERT INTO memo (stamp, memo, size) VALUES (?, ?, ?)",
                 {fx::Value::Int(1400000000 + id), fx::Value::Text(Memo(id)),
                  fx::Value::Real(id + 0.75)});
      db.Exec("COMMIT");
      db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
      memo = ReadBefore(db, "memo");
      db.Exec("DROP TABLE memo");
      // New tables after the drop: page 1 is written again.
      for (int k = 0; k < 6; ++k)
        db.Exec("CREATE TABLE later" + std::to_string(k) +
                " (id INTEGER PRIMARY KEY, a TEXT, b TEXT, c INTEGER)");
    }
    ASSERT_GT(fx::InspectWal(path + "-wal").commitCount, 1);
    SqliteFile file;
    ASSERT_EQ(OpenDatabase(path + "-wal", file, path), OpenStatus::Opened);
    ASSERT_EQ(FindTable(file, "memo"), nullptr);
    const std::vector<DroppedTable> dropped = FindDroppedTables(file);
    const DroppedTable* table = FindDroppedTable(dropped, "memo");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->sql, memo.sql);
    EXPECT_EQ(table->table.rootPage, memo.rootPage);
    EXPECT_EQ(dropped.size(), 1u);
    // The table's pages were checkpointed into the file before the drop and nothing has been
    // checkpointed since: the file's own images keep every row, where the log reused a page too.
    size_t back = 0;
    std::set<std::string> rows;
    for (const FreePageRecord& record : CarveFreePages(file, dropped)) {
      if (record.table != "dropped:memo") continue;
      EXPECT_TRUE(memo.rowsByKey.count(KeyOf(record.row, 1))) << KeyOf(record.row, 1);
      EXPECT_TRUE(record.found.file == path || record.found.file == path + "-wal");
      rows.insert(KeyOf(record.row, 1));
      ++back;
    }
    EXPECT_EQ(back, rows.size()) << "each row once";
    EXPECT_EQ(rows.size(), memo.rowsByKey.size());
    std::printf(
        "[dropped under the log] page %d: found in %s (place %d, frame %u), %zu of %zu rows\n",
        pageSize, table->found.file.c_str(), static_cast<int>(table->found.place),
        table->found.frame, back, memo.rowsByKey.size());
  }
}

// Many tables created and then most of them dropped in one transaction, all in the log: the
// schema leaves that held only dropped tables' records go to the freelist without a new image,
// so their last image in the log is the only copy of those CREATE statements.
TEST(DroppedTables, DroppedWithTheirSchemaLeafComeBackFromItsLastImage) {
  const int pageSize = 1024;
  fx::TempDir dir;
  const std::string path = dir.File("schema.db");
  std::map<std::string, std::string> droppedSql;  // name -> CREATE statement
  {
    fx::OpenOptions options;
    options.pageSize = pageSize;
    fx::Database db(path, options);
    db.Exec("PRAGMA journal_mode=WAL");
    db.Exec("CREATE TABLE keep (id INTEGER PRIMARY KEY, body TEXT)");
    db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");  // the file holds the schema as it began
    db.Exec("BEGIN");
    for (int k = 0; k < 60; ++k)
      db.Exec("CREATE TABLE archive_of_old_entries_" + std::to_string(k) +
              " (id INTEGER PRIMARY KEY, stamp INTEGER, sender TEXT, subject TEXT, body TEXT, "
              "size REAL)");
    db.Exec("COMMIT");
    for (const fx::Row& row : db.Query("SELECT name, sql FROM sqlite_master WHERE name LIKE "
                                       "'archive%' AND rowid > 11"))
      droppedSql[row[0].AsText()] = row[1].AsText();
    db.Exec("BEGIN");
    for (const auto& [name, sql] : droppedSql) db.Exec("DROP TABLE " + name);
    db.Exec("COMMIT");
  }
  ASSERT_GT(droppedSql.size(), 30u);

  // Where each statement lies, by the files alone: the last frame of a page that is no leaf of
  // the schema now.
  const std::string main = fx::ReadFileBytes(path);
  const std::string log = fx::ReadFileBytes(path + "-wal");
  const size_t frameSize = kWalFrameHeaderSize + pageSize;
  std::map<uint32_t, size_t> lastFrame;  // page -> its last frame, from 0
  std::vector<uint32_t> pageOf;
  for (size_t at = kWalHeaderSize; at + frameSize <= log.size(); at += frameSize) {
    const std::string header = log.substr(at, 4);
    uint32_t page = 0;
    for (char c : header) page = page << 8 | static_cast<uint8_t>(c);
    lastFrame[page] = pageOf.size();
    pageOf.push_back(page);
  }
  std::set<uint32_t> schemaLeaves;
  fx::CopyDatabase(path, dir.File("copy.db"));
  {
    fx::Database copy(dir.File("copy.db"), {.create = false});
    for (const fx::Row& row :
         copy.Query("SELECT pageno FROM dbstat WHERE name = 'sqlite_schema' AND pagetype = 'leaf'"))
      schemaLeaves.insert(static_cast<uint32_t>(row[0].AsInt()));
  }
  const auto onlyOnFreedLeaf = [&](const std::string& sql) {
    if (main.find(sql) != std::string::npos) return false;
    bool any = false;
    for (size_t at = log.find(sql); at != std::string::npos; at = log.find(sql, at + 1)) {
      const size_t frame = (at - kWalHeaderSize) / frameSize;
      if (lastFrame[pageOf[frame]] != frame || schemaLeaves.count(pageOf[frame])) return false;
      any = true;
    }
    return any;
  };

  SqliteFile file;
  ASSERT_EQ(OpenDatabase(path + "-wal", file, path), OpenStatus::Opened);
  const std::vector<DroppedTable> dropped = FindDroppedTables(file);
  std::map<std::string, int> listed;
  for (const DroppedTable& table : dropped) {
    EXPECT_FALSE(FindTable(file, table.table.name)) << "a live table listed: " << table.table.name;
    ++listed[table.table.name];
  }
  size_t onlyFreed = 0;
  for (const auto& [name, sql] : droppedSql) {
    SCOPED_TRACE(name);
    if (!onlyOnFreedLeaf(sql)) continue;
    ++onlyFreed;
    EXPECT_EQ(listed[name], 1) << "each dropped table once";
    const DroppedTable* table = FindDroppedTable(dropped, name);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->sql, sql);
    EXPECT_EQ(table->found.file, path + "-wal");
    EXPECT_EQ(table->found.place, Place::LogFrame);
    ASSERT_GE(table->found.frame, 1u);
    EXPECT_EQ(lastFrame[pageOf[table->found.frame - 1]], table->found.frame - 1);
    EXPECT_NE(log.substr(table->found.offset, 400).find(sql), std::string::npos)
        << "the frame it names holds it where it says";
  }
  // The fixture did what it means to: some statements lie only on freed schema leaves.
  EXPECT_GT(onlyFreed, 0u);
  std::printf("[dropped with their schema leaf] %zu dropped, %zu only on freed leaves\n",
              droppedSql.size(), onlyFreed);
}

}  // namespace
}  // namespace vantrel
