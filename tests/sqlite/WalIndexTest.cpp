// The write-ahead log index: each page maps to its last frame within the committed part of
// the log, and the pages read through it are the pages SQLite itself reads (dbstat).
#include "sqlite/WalIndex.h"

#include <gtest/gtest.h>

#include "sqlite/BTree.h"
#include "sqlite/ReaderCheck.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::TempDir;
using fixtures::Value;

TEST(WalIndex, EachPageFromItsLastCommittedFrame) {
  TempDir dir;
  const std::string db = dir.File("snap.db");
  check::BuildWalSnapshot(dir.File("live.db"), db, 1024);
  const fixtures::WalSummary wal = fixtures::InspectWal(db + "-wal");
  ASSERT_GT(wal.framesAfterLastCommit, 0);

  // Expected from the frame headers: frames up to the last commit, the last one per page.
  const size_t committed = static_cast<size_t>(wal.frameCount - wal.framesAfterLastCommit);
  WalIndex expected;
  for (size_t i = 0; i < committed; ++i) expected[wal.framePages[i]] = 32 + i * (24 + 1024) + 24;
  const std::string log = check::ReadBytes(db + "-wal");
  const size_t lastCommit = 32 + (committed - 1) * (24 + 1024);

  SqliteFile file;
  ASSERT_EQ(OpenDatabase(db + "-wal", file, db), OpenStatus::Opened);
  EXPECT_EQ(file.walIndex, expected);
  EXPECT_EQ(file.walPageCount, check::Get32(log, lastCommit + 4));

  // Page by page, what the reader sees through the log is what SQLite sees.
  Database sqlite(db);
  for (const auto& [name, info] : file.tableMap) {
    SCOPED_TRACE(name);
    std::map<int64_t, int64_t> theirs, ours;
    for (const fixtures::Row& row :
         sqlite.Query("SELECT pageno, ncell FROM dbstat WHERE name = ? AND pagetype = 'leaf'",
                      {Value::Text(name)}))
      theirs[row[0].integer] = row[1].integer;
    std::vector<uint8_t> page;
    for (int32_t p : info.pageSets.at(0).leafPages) {
      ReadPageNumber(file, p, page);
      ours[p] = ByteView(page.data(), page.size()).U16(3);
    }
    EXPECT_EQ(ours, theirs);
  }
}

TEST(WalIndex, LogsThatAreNotUsed) {
  TempDir dir;
  const std::string db = dir.File("snap.db");
  check::BuildWalSnapshot(dir.File("live.db"), db, 1024);
  const std::string log = check::ReadBytes(db + "-wal");
  SqliteFile file;
  struct Case {
    const char* what;
    std::string bytes;
    bool scanned;
  };
  std::string badMagic = log;
  check::Put32(badMagic, 0, 0x377F0684);
  std::string badHeaderSum = log;
  badHeaderSum[27] ^= 1;
  std::string otherSalt = log;
  otherSalt[32 + 8] ^= 1;  // the first frame belongs to another generation: nothing is valid
  const Case cases[] = {
      {"header only", log.substr(0, 32), true},
      {"shorter than a header", log.substr(0, 20), true},
      {"wrong magic", badMagic, false},
      {"header checksum wrong", badHeaderSum, true},
      {"first frame of another generation", otherSalt, true},
      {"cut inside the first frame", log.substr(0, 32 + 500), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    check::WriteBytes(dir.File("log"), c.bytes);
    ASSERT_EQ(OpenDatabase(dir.File("log"), file, db), OpenStatus::Opened);
    EXPECT_TRUE(file.walIndex.empty());
    EXPECT_EQ(BuildWalIndex(file), c.scanned);
    EXPECT_NE(FindTable(file, "t"), nullptr);
    EXPECT_EQ(FindTable(file, "late"), nullptr);  // created after the checkpoint, in the log only
  }
}

}  // namespace
}  // namespace vantrel
