// Live rows through a write-ahead log: the reader must see exactly what SQLite sees when it
// opens the same database and log: the newest committed image of every page, nothing of a
// transaction that never committed, and tables created since the last checkpoint.
#include <gtest/gtest.h>

#include "recovery/RowReader.h"
#include "sqlite/ReaderCheck.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::OpenOptions;
using fixtures::TempDir;
using fixtures::Value;

TEST(RowReaderWal, SeesWhatSqliteSeesThroughTheLog) {
  for (int pageSize : {1024, 4096}) {
    SCOPED_TRACE(pageSize);
    TempDir dir;
    const std::string snapshot = dir.File("snap.db");
    check::BuildWalSnapshot(dir.File("live.db"), snapshot, pageSize);
    const fixtures::WalSummary wal = fixtures::InspectWal(snapshot + "-wal");
    ASSERT_TRUE(wal.validHeader);
    EXPECT_GE(wal.commitCount, 5);
    EXPECT_GT(wal.pagesWrittenMoreThanOnce, 0);
    EXPECT_GT(wal.framesAfterLastCommit, 0);

    check::ExpectSameTables(snapshot, snapshot + "-wal");
    SqliteFile file;
    ASSERT_EQ(OpenDatabase(snapshot + "-wal", file, snapshot), 0);
    RowList late, carved;
    ASSERT_EQ(ReadTable(file, "late", late, carved), 0);
    EXPECT_EQ(check::Sorted(late),
              (RowList{{"created after the checkpoint", "42"}, {"second", "44"}}));
  }
}

TEST(RowReaderWal, DamagedFrameEndsTheLogAsInSqlite) {
  TempDir dir;
  const std::string snapshot = dir.File("snap.db");
  check::BuildWalSnapshot(dir.File("live.db"), snapshot, 1024);
  const fixtures::WalSummary wal = fixtures::InspectWal(snapshot + "-wal");
  // Damage one byte of a page image in the middle of the committed frames: its checksum
  // and every later frame's fail, so only the commits before it count.
  std::string bytes = check::ReadBytes(snapshot + "-wal");
  const size_t frame = static_cast<size_t>(wal.frameCount / 3);
  bytes[32 + frame * (24 + 1024) + 24 + 500] ^= 0x5A;
  check::WriteBytes(snapshot + "-wal", bytes);
  check::ExpectSameTables(snapshot, snapshot + "-wal");
}

TEST(RowReaderWal, LogOfAnotherPageSizeIsIgnored) {
  TempDir dir;
  const std::string snapshot = dir.File("snap.db");
  check::BuildWalSnapshot(dir.File("live.db"), snapshot, 1024);
  std::string bytes = check::ReadBytes(snapshot + "-wal");
  check::Put32(bytes, 8, 4096);
  const std::string foreignLog = dir.File("foreign-wal");
  check::WriteBytes(foreignLog, bytes);
  // What SQLite sees of the database file alone.
  const std::string alone = dir.File("alone.db");
  check::WriteBytes(alone, check::ReadBytes(snapshot));
  SqliteFile file;
  ASSERT_EQ(OpenDatabase(foreignLog, file, alone), 0);
  EXPECT_TRUE(file.walIndex.empty());
  EXPECT_EQ(FindTable(file, "late"), nullptr);
  check::ExpectSameTables(alone, foreignLog);
}

}  // namespace
}  // namespace vantrel
