// The live rows the row reader returns for every table equal, row for row, what SQLite's
// `SELECT rowid, *` returns for the same files: every value kind, overflow beside freeblocks,
// page sizes from 1 KiB to 64 KiB, reserved bytes, and through a write-ahead log.
#include "carve/RowReader.h"

#include <gtest/gtest.h>

#include <random>

#include "sqlite/ReaderCheck.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::TempDir;
using fixtures::Value;

std::string MakeText(std::mt19937& rng, int longLength) {
  static const char* const kWords[] = {"hello", "短信", "call me", "联系人", "ok", "😀", "x"};
  const unsigned kind = rng() % 20;
  const size_t length = kind == 0   ? 0
                        : kind < 15 ? rng() % 40
                        : kind < 18 ? rng() % 400
                                    : longLength;
  std::string text;
  while (text.size() < length) text += kWords[rng() % 7];
  return text;
}

Value MakeInteger(std::mt19937& rng) {
  static const int64_t kValues[] = {
      0,       1,         -1,        127,       -128,         32767,     -40000,
      8388608, INT32_MAX, INT32_MIN, 1LL << 40, -(1LL << 47), INT64_MAX, INT64_MIN};
  return rng() % 10 == 0 ? Value::Null() : Value::Int(kValues[rng() % 14]);
}

// Tables of every value kind (integers of each width, reals, blobs, untyped values, NULLs,
// long texts), written by SQLite, then some rows deleted and some rewritten.
std::string Populate(const TempDir& dir, int pageSize, int reserved, int rows) {
  const std::string path = dir.File("db.sqlite");
  fixtures::OpenOptions options;
  options.pageSize = pageSize;
  Database db(path, options);
  if (reserved) sqlite3_file_control(db.Handle(), "main", SQLITE_FCNTL_RESERVE_BYTES, &reserved);
  db.Exec(
      "CREATE TABLE t (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, n INTEGER, r REAL, "
      "b BLOB, loose, note TEXT NOT NULL DEFAULT '');"
      "CREATE TABLE plain (a TEXT, b INTEGER); CREATE INDEX t_name ON t(name)");
  auto insert = db.Prepare("INSERT INTO t (name, n, r, b, loose, note) VALUES (?,?,?,?,?,?)");
  auto plain = db.Prepare("INSERT INTO plain VALUES (?, ?)");
  std::mt19937 rng(pageSize + reserved);
  const int longLength = pageSize / 2 + static_cast<int>(rng() % (3 * pageSize));
  db.Exec("BEGIN");
  for (int i = 0; i < rows; ++i) {
    std::string blob(rng() % 30, '\0');
    for (char& c : blob) c = static_cast<char>(rng());
    insert.BindAll(
        {Value::Text(MakeText(rng, longLength)), MakeInteger(rng),
         rng() % 2 ? Value::Real((static_cast<int>(rng() % 2000) - 1000) / 8.0) : Value::Null(),
         Value::Blob(blob), rng() % 2 ? Value::Int(rng() % 100000) : Value::Text(MakeText(rng, 0)),
         Value::Text(MakeText(rng, 0))});
    insert.Run();
    plain.BindAll({Value::Text(MakeText(rng, i % 50 == 0 ? longLength : 0)), MakeInteger(rng)});
    plain.Run();
  }
  db.Exec("COMMIT");
  db.Exec("DELETE FROM t WHERE id % 5 = 0; DELETE FROM plain WHERE rowid % 7 = 3");
  db.Exec("UPDATE t SET note = note || '（已改）' WHERE id % 11 = 1");
  return path;
}

TEST(RowReaderLive, EqualsSqliteAtEveryPageSize) {
  struct Case {
    int pageSize, reserved, rows;
  };
  for (const Case c :
       {Case{1024, 0, 600}, Case{4096, 0, 600}, Case{65536, 0, 1500}, Case{1024, 40, 400}}) {
    SCOPED_TRACE(std::to_string(c.pageSize) + "/" + std::to_string(c.reserved));
    TempDir dir;
    const std::string path = Populate(dir, c.pageSize, c.reserved, c.rows);
    check::ExpectSameTables(path, "");
    SqliteFile file;
    ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
    RowList live, carved;
    EXPECT_EQ(ReadTable(file, "T", live, carved), TableRead::Absent);  // names are exact
    EXPECT_TRUE(live.empty() && carved.empty());
  }
}

TEST(RowReaderLive, ThroughTheWriteAheadLogAsSqliteSeesIt) {
  for (int pageSize : {1024, 4096}) {
    SCOPED_TRACE(pageSize);
    TempDir dir;
    const std::string db = dir.File("snap.db");
    check::BuildWalSnapshot(dir.File("live.db"), db, pageSize);
    const fixtures::WalSummary wal = fixtures::InspectWal(db + "-wal");
    EXPECT_GE(wal.commitCount, 5);
    EXPECT_GT(wal.pagesWrittenMoreThanOnce, 0);
    EXPECT_GT(wal.framesAfterLastCommit, 0);
    check::ExpectSameTables(db, db + "-wal");  // "late" exists only in the log
    if (pageSize != 1024) continue;

    // A damaged page image in the middle of the committed frames: from there on the log
    // does not count, for SQLite as for the reader.
    std::string log = check::ReadBytes(db + "-wal");
    log[32 + (wal.frameCount / 3) * (24 + 1024) + 24 + 500] ^= 0x5A;
    check::WriteBytes(dir.File("damaged.db-wal"), log);
    check::WriteBytes(dir.File("damaged.db"), check::ReadBytes(db));
    check::ExpectSameTables(dir.File("damaged.db"), dir.File("damaged.db-wal"));

    // A log of another page size is not used at all.
    check::Put32(log, 8, 4096);
    check::WriteBytes(dir.File("foreign-wal"), log);
    check::WriteBytes(dir.File("alone.db"), check::ReadBytes(db));
    check::ExpectSameTables(dir.File("alone.db"), dir.File("foreign-wal"));
  }
}

}  // namespace
}  // namespace vantrel
