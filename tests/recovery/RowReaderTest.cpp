// The table row reader against the real SQLite engine: the live rows Vantrel reads from each
// table must be, row for row, what `SELECT rowid, *` returns, rendered as Vantrel renders values.
#include "recovery/RowReader.h"

#include <gtest/gtest.h>

#include <random>

#include "sqlite/ReaderCheck.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::OpenOptions;
using fixtures::TempDir;
using fixtures::Value;

// Texts of every length class: empty, short, Chinese, and longer than a page (overflow).
std::string MakeText(std::mt19937& rng, int pageSize, bool allowLong) {
  static const char* const kWords[] = {"hello", "短信", "call me", "联系人", "ok", "😀", "x"};
  std::uniform_int_distribution<int> kind(0, 19);
  int k = kind(rng);
  size_t length = k == 0 ? 0 : k < 15 ? rng() % 40 : k < 18 ? rng() % 400 : 0;
  if (allowLong && k >= 18) length = pageSize / 2 + rng() % (3 * pageSize);
  std::string text;
  while (text.size() < length) text += kWords[rng() % 7];
  return text;
}

Value MakeInteger(std::mt19937& rng) {
  static const int64_t kValues[] = {0,
                                    1,
                                    -1,
                                    127,
                                    -128,
                                    32767,
                                    -40000,
                                    8388608,
                                    2147483647,
                                    -2147483647 - 1,
                                    1099511627776,
                                    -140737488355328,
                                    INT64_MAX,
                                    INT64_MIN,
                                    258};
  if (rng() % 10 == 0) return Value::Null();
  return Value::Int(kValues[rng() % 15]);
}

// A table of every value kind, written by SQLite with some rows deleted and some rewritten,
// so that its pages hold freeblocks beside cells that overflow.
void Populate(Database& db, int pageSize, int rows, uint32_t seed) {
  std::mt19937 rng(seed);
  db.Exec(
      "CREATE TABLE t (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, n INTEGER, r REAL, "
      "b BLOB, loose, note TEXT NOT NULL DEFAULT '')");
  db.Exec("CREATE TABLE plain (a TEXT, b INTEGER)");
  db.Exec("CREATE INDEX t_name ON t(name)");
  auto insert = db.Prepare("INSERT INTO t (name, n, r, b, loose, note) VALUES (?,?,?,?,?,?)");
  auto plain = db.Prepare("INSERT INTO plain VALUES (?, ?)");
  db.Exec("BEGIN");
  for (int i = 0; i < rows; ++i) {
    std::string blob(rng() % 30, '\0');
    for (char& c : blob) c = static_cast<char>(rng());
    insert.BindAll(
        {Value::Text(MakeText(rng, pageSize, true)), MakeInteger(rng),
         rng() % 2 ? Value::Real((static_cast<int>(rng() % 2000) - 1000) / 8.0) : Value::Null(),
         Value::Blob(blob),
         rng() % 2 ? Value::Int(rng() % 100000) : Value::Text(MakeText(rng, 0, false)),
         Value::Text(MakeText(rng, pageSize, false))});
    insert.Run();
    plain.BindAll({Value::Text(MakeText(rng, pageSize, i % 50 == 0)), MakeInteger(rng)});
    plain.Run();
  }
  db.Exec("COMMIT");
  db.Exec("DELETE FROM t WHERE id % 5 = 0");
  db.Exec("DELETE FROM plain WHERE rowid % 7 = 3");
  db.Exec("UPDATE t SET note = note || '（已改）' WHERE id % 11 = 1");
}

RowList ReaderLiveRows(const SqliteFile& file, const std::string& table) {
  RowList live;
  RowList carved;
  EXPECT_EQ(ReadTable(file, table, live, carved), 0) << table;
  return live;
}

TEST(RowReaderLive, EqualsSqliteRowsAtEveryPageSize) {
  for (int pageSize : {1024, 4096, 65536}) {
    SCOPED_TRACE(pageSize);
    TempDir dir;
    const std::string path = dir.File("db.sqlite");
    {
      OpenOptions options;
      options.pageSize = pageSize;
      Database db(path, options);
      Populate(db, pageSize, pageSize == 65536 ? 1500 : 600, 7 + pageSize);
      ASSERT_EQ(db.IntegrityCheck(), "ok");
    }
    Database db(path);
    SqliteFile file;
    ASSERT_EQ(OpenDatabase("", file, path), 0);
    EXPECT_EQ(file.pageSize, static_cast<uint32_t>(pageSize));
    for (const char* table : {"t", "plain", "sqlite_sequence"}) {
      SCOPED_TRACE(table);
      RowList expected = check::SqliteRows(db, table);
      EXPECT_TRUE(check::SameRows(ReaderLiveRows(file, table), expected));
    }
    RowList live, carved;
    EXPECT_EQ(ReadTable(file, "T", live, carved), -2);  // names are exact
    EXPECT_TRUE(live.empty());
  }
}

}  // namespace
}  // namespace vantrel
