// Test support shared by the reader's and the row reader's tests: what SQLite itself returns
// for a table, rendered the way Vantrel renders row values, so that the two can be compared
// row for row; and small helpers to damage copies of database files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "carve/RowReader.h"
#include "fixtures/Fixtures.h"
#include "sources/Collections.h"
#include "platform/Text.h"
#include "sqlite/SqliteFile.h"

namespace vantrel::check {

inline bool IsIntegerType(std::string type) {
  std::transform(type.begin(), type.end(), type.begin(), ::tolower);
  return type == "integer";
}

// SQLite's `SELECT rowid, *` of a table, each value rendered as text: integers in decimal,
// reals as SQLite's own CAST(... AS TEXT), text as normalised UTF-8 up to its first zero,
// a blob in an INTEGER column as its big-endian number and elsewhere as text, NULL as "".
// The rowid itself is left out (it shows only through an INTEGER PRIMARY KEY column).
inline RowList SqliteRows(fixtures::Database& db, const std::string& table,
                          std::vector<int64_t>* rowids = nullptr) {
  std::vector<bool> integerColumn;
  for (const fixtures::Row& info : db.Query("PRAGMA table_info(\"" + table + "\")"))
    integerColumn.push_back(IsIntegerType(info[2].AsText()));
  RowList rows;
  for (const fixtures::Row& row : db.Query("SELECT rowid, * FROM \"" + table + "\"")) {
    if (rowids) rowids->push_back(row[0].integer);
    RowValues values;
    for (size_t i = 1; i < row.size(); ++i) {
      const fixtures::Value& v = row[i];
      const bool integer = i - 1 < integerColumn.size() && integerColumn[i - 1];
      switch (v.type) {
        case fixtures::Value::Type::Null:
          values.emplace_back();
          break;
        case fixtures::Value::Type::Integer:
          values.push_back(std::to_string(v.integer));
          break;
        case fixtures::Value::Type::Real:
          values.push_back(db.QueryText("SELECT CAST(? AS TEXT)", {v}));
          break;
        case fixtures::Value::Type::Text:
          values.push_back(Utf8ToAnsi(v.bytes));
          break;
        case fixtures::Value::Type::Blob:
          if (integer) {
            uint64_t n = (!v.bytes.empty() && (v.bytes[0] & 0x80)) ? ~uint64_t{0} : 0;
            for (unsigned char c : v.bytes) n = (n << 8) | c;
            values.push_back(std::to_string(static_cast<int64_t>(n)));
          } else {
            values.push_back(Utf8ToAnsi(v.bytes));
          }
          break;
      }
    }
    rows.push_back(std::move(values));
  }
  return rows;
}

inline RowList Sorted(RowList rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

inline std::string Show(const RowValues& row) {
  std::string out = "{";
  for (const std::string& v : row)
    out += "\"" + (v.size() > 60 ? v.substr(0, 60) + "..." : v) + "\" ";
  return out + "}";
}

// The two row lists hold the same rows, in any order. On a difference, says how many rows
// each side has and shows the first row that only one side holds.
inline ::testing::AssertionResult SameRows(const RowList& actual, const RowList& expected) {
  RowList a = Sorted(actual);
  RowList e = Sorted(expected);
  if (a == e) return ::testing::AssertionSuccess();
  RowList onlyActual, onlyExpected;
  std::set_difference(a.begin(), a.end(), e.begin(), e.end(), std::back_inserter(onlyActual));
  std::set_difference(e.begin(), e.end(), a.begin(), a.end(), std::back_inserter(onlyExpected));
  auto failure = ::testing::AssertionFailure();
  failure << "reader " << a.size() << " rows, SQLite " << e.size() << " rows; " << onlyActual.size()
          << " only in reader, " << onlyExpected.size() << " only in SQLite";
  if (!onlyActual.empty()) failure << "\n  reader: " << Show(onlyActual.front());
  if (!onlyExpected.empty()) failure << "\n  SQLite: " << Show(onlyExpected.front());
  return failure;
}

// Rows written before an ALTER TABLE ADD COLUMN hold fewer values than SQLite shows (it fills
// in the column's default). Where the reader returns such a short row, the SQLite row with
// the same first value (an INTEGER PRIMARY KEY) is cut to the same length.
inline RowList CutToStoredLength(RowList expected, const RowList& ours) {
  std::map<std::string, size_t> byKey;
  for (size_t i = 0; i < expected.size(); ++i)
    if (!expected[i].empty()) byKey[expected[i][0]] = i;
  for (const RowValues& row : ours) {
    if (row.empty()) continue;
    auto it = byKey.find(row[0]);
    if (it != byKey.end() && row.size() < expected[it->second].size())
      expected[it->second].resize(row.size());
  }
  return expected;
}

// Every table of the database: the reader's live rows equal SQLite's, and the catalogue
// holds exactly SQLite's tables.
inline void ExpectSameTables(const std::string& path, const std::string& walPath) {
  SqliteFile file;
  ASSERT_EQ(OpenDatabase(walPath, file, path), OpenStatus::Opened);
  std::map<std::string, RowList> ours;
  for (const auto& [name, info] : file.tableMap) {
    RowList carved;
    ASSERT_EQ(ReadTable(file, name, ours[name], carved), TableRead::Read);
  }
  fixtures::Database db(path);
  std::vector<fixtures::Row> tables = db.Query("SELECT name FROM sqlite_master WHERE type='table'");
  EXPECT_EQ(tables.size(), file.tableMap.size());
  for (const fixtures::Row& row : tables) {
    const std::string name = row[0].bytes;
    SCOPED_TRACE(name);
    ASSERT_TRUE(FindTable(file, name) != nullptr);
    EXPECT_TRUE(SameRows(ours[name], CutToStoredLength(SqliteRows(db, name), ours[name])));
  }
}

// True when the bytes of needle stand on one of the table's leaf pages as the reader reads
// them (through the log when there is one).
inline bool OnLeafPage(const SqliteFile& file, const std::string& table,
                       const std::string& needle) {
  const TableInfo* info = FindTable(file, table);
  if (!info || needle.empty()) return false;
  // A check reads every leaf once per needle: it must not spend the reader's page budget.
  struct KeepBudget {
    const SqliteFile& file;
    uint64_t spent = file.pageBytesRead.load();
    ~KeepBudget() { file.pageBytesRead.store(spent); }
  } keep{file};
  std::vector<uint8_t> page;
  for (const PageSet& set : info->pageSets) {
    std::vector<int32_t> leaves = set.leafPages;
    leaves.insert(leaves.end(), set.emptyLeafPages.begin(), set.emptyLeafPages.end());
    for (int32_t p : leaves) {
      ReadPageNumber(file, static_cast<uint32_t>(p), page);
      std::string_view bytes(reinterpret_cast<const char*>(page.data()), page.size());
      if (bytes.find(needle) != std::string_view::npos) return true;
    }
  }
  return false;
}

inline std::string ReadBytes(const std::string& path) {
  return fixtures::ReadFileBytes(path);
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline void Put16(std::string& bytes, size_t at, uint16_t v) {
  bytes[at] = static_cast<char>(v >> 8);
  bytes[at + 1] = static_cast<char>(v);
}

inline void Put32(std::string& bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

inline uint32_t Get32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

inline uint16_t Get16(const std::string& bytes, size_t at) {
  return static_cast<uint16_t>((static_cast<unsigned char>(bytes[at]) << 8) |
                               static_cast<unsigned char>(bytes[at + 1]));
}

inline std::string Filler(int i, size_t length) {
  std::string text = "row " + std::to_string(i) + " ";
  while (text.size() < length) text += "记录";
  return text;
}

// Builds a WAL database and snapshots it (database and log) while a second connection holds
// an open write transaction whose pages have spilled into the log. The snapshot has several
// commits, pages written more than once, frames after the last commit, and a table created
// after the last checkpoint.
inline void BuildWalSnapshot(const std::string& live, const std::string& snapshot, int pageSize) {
  fixtures::OpenOptions options;
  options.pageSize = pageSize;
  fixtures::Database a(live, options);
  a.Exec("PRAGMA journal_mode=WAL");
  a.Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, body TEXT, n INTEGER)");
  auto insert = a.Prepare("INSERT INTO t (body, n) VALUES (?, ?)");
  a.Exec("BEGIN");
  for (int i = 0; i < 300; ++i) {
    insert.BindAll(
        {fixtures::Value::Text(Filler(i, 20 + (i * 37) % 300)), fixtures::Value::Int(i)});
    insert.Run();
  }
  a.Exec("COMMIT");
  a.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  // Commits after the checkpoint: rows rewritten (their pages appear in the log again and
  // again), deleted, added, and a new table.
  a.Exec("UPDATE t SET body = 'first rewrite ' || id WHERE id % 3 = 0");
  a.Exec("UPDATE t SET body = 'second rewrite ' || id, n = -n WHERE id % 6 = 0");
  a.Exec("DELETE FROM t WHERE id % 10 = 7");
  a.Exec("INSERT INTO t (body, n) VALUES ('" + Filler(1000, 3 * pageSize) + "', 1000)");
  a.Exec("CREATE TABLE late (k TEXT, v INTEGER)");
  a.Exec("INSERT INTO late VALUES ('created after the checkpoint', 42), ('second', 43)");
  a.Exec("UPDATE late SET v = 44 WHERE k = 'second'");

  fixtures::Database b(live, options);
  b.Exec("PRAGMA cache_size=10");
  b.Exec("BEGIN");
  auto more = b.Prepare("INSERT INTO t (body, n) VALUES (?, ?)");
  for (int i = 0; i < 3000; ++i) {
    more.BindAll({fixtures::Value::Text(Filler(5000 + i, 200)), fixtures::Value::Int(-1)});
    more.Run();
  }
  b.Exec("UPDATE late SET v = 99");
  fixtures::CopyDatabase(live, snapshot);
  b.Exec("ROLLBACK");
}

}  // namespace vantrel::check
