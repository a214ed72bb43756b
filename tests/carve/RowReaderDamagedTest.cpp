// Damaged files are ordinary input: cycles in child pointers, overflow chains and freeblock
// chains, cell pointers outside the page, damaged record headers and cut files must neither
// crash nor hang the reader, and every undamaged row must still be read.
#include <gtest/gtest.h>

#include <random>

#include "carve/RowReader.h"
#include "sqlite/ReaderCheck.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::OpenOptions;
using fixtures::TempDir;
using fixtures::Value;

constexpr int kPage = 1024;

// A two-level table with overflowing rows and freeblocks, written by SQLite.
std::string BuildTable(const TempDir& dir) {
  const std::string path = dir.File("d.db");
  OpenOptions options;
  options.pageSize = kPage;
  Database db(path, options);
  db.Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, body TEXT, n INTEGER)");
  auto insert = db.Prepare("INSERT INTO t (body, n) VALUES (?, ?)");
  db.Exec("BEGIN");
  for (int i = 0; i < 400; ++i) {
    insert.BindAll(
        {Value::Text(std::string(i % 50 == 3 ? 3000 : 30 + i % 40, 'a' + i % 26)), Value::Int(i)});
    insert.Run();
  }
  db.Exec("COMMIT");
  db.Exec("DELETE FROM t WHERE id % 5 = 1");
  return path;
}

struct Read {
  RowList live, carved;
  SqliteFile file;
};

void ReadAll(const std::string& path, Read& r) {
  // A cut file may lose its header: it is still opened, with an empty catalogue.
  ASSERT_NE(OpenDatabase("", r.file, path), OpenStatus::NotOpened);
  ReadTable(r.file, "t", r.live, r.carved);
}

// Every row the reader returns is one SQLite returned for the undamaged file.
void ExpectSubset(const RowList& rows, const RowList& original) {
  RowList sorted = check::Sorted(original);
  for (const RowValues& row : rows)
    EXPECT_TRUE(std::binary_search(sorted.begin(), sorted.end(), row)) << check::Show(row);
}

uint32_t RootPage(const std::string& path) {
  Database db(path);
  return static_cast<uint32_t>(db.QueryInt("SELECT rootpage FROM sqlite_master WHERE name='t'"));
}

TEST(RowReaderDamaged, CyclesInChildPointersAndOverflowChains) {
  TempDir dir;
  const std::string path = BuildTable(dir);
  RowList original;
  int64_t firstOverflow = 0;
  {
    Database db(path);
    original = check::SqliteRows(db, "t");
    firstOverflow = db.QueryInt(
        "SELECT pageno FROM dbstat WHERE name='t' AND pagetype='overflow' ORDER BY path LIMIT 1");
  }
  std::string bytes = check::ReadBytes(path);
  const uint32_t root = RootPage(path);
  const size_t rootAt = (root - 1) * kPage;
  ASSERT_EQ(bytes[rootAt], 5);  // interior table page
  // The right-most child points back to the root, the first cell's child to the root too.
  std::string cyclic = bytes;
  check::Put32(cyclic, rootAt + 8, root);
  check::Put32(cyclic, rootAt + check::Get16(cyclic, rootAt + 12), root);
  // An overflow page that names itself as the next one.
  ASSERT_GT(firstOverflow, 0);
  check::Put32(cyclic, (firstOverflow - 1) * kPage, static_cast<uint32_t>(firstOverflow));
  check::WriteBytes(path, cyclic);
  Read r;
  ReadAll(path, r);
  EXPECT_FALSE(r.live.empty());
  EXPECT_LT(r.live.size(), original.size());  // the two cut subtrees are lost, nothing more
  // Rows whose overflow chain loops come back cut, the others intact.
  RowList sorted = check::Sorted(original);
  size_t intact = 0;
  for (const RowValues& row : r.live)
    intact += std::binary_search(sorted.begin(), sorted.end(), row);
  EXPECT_GE(intact + 1, r.live.size());
}

TEST(RowReaderDamaged, FreeblockCyclesAndCellPointersOutsideThePage) {
  TempDir dir;
  const std::string path = BuildTable(dir);
  RowList original;
  {
    Database db(path);
    original = check::SqliteRows(db, "t");
  }
  Read clean;
  ReadAll(path, clean);
  std::string bytes = check::ReadBytes(path);
  const std::vector<int32_t> leaves = FindTable(clean.file, "t")->pageSets.at(0).leafPages;
  // On every leaf: the freeblock chain loops to its start, and the first cell pointer
  // points past the page, the second into the header.
  size_t looped = 0;
  for (int32_t p : leaves) {
    const size_t at = static_cast<size_t>(p - 1) * kPage;
    const uint16_t first = check::Get16(bytes, at + 1);
    if (first != 0) {
      check::Put16(bytes, at + first, first);
      ++looped;
    }
    if (check::Get16(bytes, at + 3) >= 3) {
      check::Put16(bytes, at + 8, 0xFFF0);
      check::Put16(bytes, at + 10, 3);
    }
  }
  ASSERT_GT(looped, 0u);
  check::WriteBytes(path, bytes);
  Read r;
  ReadAll(path, r);
  ExpectSubset(r.live, original);
  // Only the two cells per page whose pointers were spoilt are lost.
  size_t spoilt = 0;
  for (int32_t p : leaves) spoilt += check::Get16(bytes, (p - 1) * kPage + 3) >= 3 ? 2 : 0;
  EXPECT_EQ(r.live.size() + spoilt, original.size());
}

TEST(RowReaderDamaged, DamagedRecordsAreSkippedNotEndingThePage) {
  TempDir dir;
  const std::string path = dir.File("h.db");
  RowList older;
  {
    Database db(path);
    db.Exec("CREATE TABLE t (a TEXT, b INTEGER)");
    db.Exec("INSERT INTO t VALUES ('before', 1), ('alter', 2), ('columns', 3)");
    older = check::SqliteRows(db, "t");
    db.Exec("ALTER TABLE t ADD COLUMN c TEXT DEFAULT 'dflt'");
    db.Exec("INSERT INTO t VALUES ('after', 4, 'x'), ('alter too', 5, 'y')");
  }
  {
    // Rows written before the column was added hold two values, not three.
    Read r;
    ReadAll(path, r);
    RowList expected = older;
    expected.push_back({"after", "4", "x"});
    expected.push_back({"alter too", "5", "y"});
    EXPECT_TRUE(check::SameRows(r.live, expected));
  }
  {
    // A schema that names fewer columns than a record holds: that record is skipped.
    Database db(path);
    db.Exec("PRAGMA writable_schema=ON");
    db.Exec("UPDATE sqlite_master SET sql='CREATE TABLE t (a TEXT, b INTEGER)' WHERE name='t'");
  }
  {
    Read r;
    ReadAll(path, r);
    EXPECT_TRUE(check::SameRows(r.live, older));
  }
  // A record header size of 1 in the first cell (header sizes count themselves, so 1 is
  // impossible): that cell alone is skipped.
  std::string bytes = check::ReadBytes(path);
  const size_t page2 = 4096;
  const size_t cell = page2 + check::Get16(bytes, page2 + 8);
  bytes[cell + 2] = 1;
  check::WriteBytes(path, bytes);
  Read r;
  ReadAll(path, r);
  EXPECT_EQ(r.live.size(), older.size() - 1);
  ExpectSubset(r.live, older);
}

TEST(RowReaderDamaged, CutFilesAndRandomDamageEndQuietly) {
  TempDir dir;
  const std::string path = BuildTable(dir);
  const std::string bytes = check::ReadBytes(path);
  RowList original;
  {
    Database db(path);
    original = check::SqliteRows(db, "t");
  }
  for (size_t cut : {size_t{100}, size_t{kPage + 7}, bytes.size() / 2, bytes.size() - 1}) {
    check::WriteBytes(dir.File("cut.db"), bytes.substr(0, cut));
    Read r;
    ReadAll(dir.File("cut.db"), r);
    EXPECT_LE(r.live.size(), original.size());
  }
  // Random bytes over random places: whatever comes out, the reader returns.
  std::mt19937 rng(20141207);
  for (int round = 0; round < 150; ++round) {
    std::string damaged = bytes;
    const int spots = 1 + static_cast<int>(rng() % 40);
    for (int i = 0; i < spots; ++i) {
      // Mostly in page headers, pointer arrays and cell starts, where damage bites.
      const size_t page = rng() % (damaged.size() / kPage);
      const size_t within = rng() % 3 == 0 ? rng() % kPage : rng() % 64;
      damaged[page * kPage + within] = static_cast<char>(rng());
    }
    damaged[16] = 0x04;  // keep the header acceptable, so the damage reaches the b-tree
    damaged[17] = 0x00;
    check::WriteBytes(dir.File("rand.db"), damaged);
    Read r;
    ReadAll(dir.File("rand.db"), r);
    for (const RowValues& row : r.live) EXPECT_LE(row.size(), 3u);
  }
}

}  // namespace
}  // namespace vantrel
