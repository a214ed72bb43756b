// The walk over a write-ahead log's frames, on a log SQLite wrote in three parts: a first run
// (later checkpointed), a shorter second run that the restart began at the log's start, and
// after it the frames of a transaction whose pages spilled and that rolled back. Each frame
// handed over is one of this run up to its last commit or one of the earlier run, once, in log
// order, with its own bytes; the frames said to be current are the ones SQLite reads its pages
// from (their cell counts are dbstat's), and the rolled-back frames are never handed over.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "carve/PageWalk.h"
#include "fixtures/Fixtures.h"
#include "sqlite/SqliteFile.h"
#include "sqlite/WalIndex.h"

namespace vantrel {
namespace {

namespace fx = fixtures;

uint32_t Be32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3]));
}

// The frames of a log as SQLite's file format describes them.
struct Frames {
  std::vector<uint32_t> pages;           // page of each frame, frame k + 1 at index k
  std::set<uint32_t> committed;          // this run's frames up to its last commit (numbers)
  std::set<uint32_t> afterCommit;        // this run's frames after its last commit
  std::set<uint32_t> earlierRun;         // frames whose salt-1 is one less than the header's
  std::map<uint32_t, uint32_t> current;  // page -> frame of its newest committed image
};

Frames ReadFrames(const std::string& log, uint32_t pageSize) {
  Frames f;
  const size_t frameSize = kWalFrameHeaderSize + pageSize;
  bool thisRun = true;
  std::vector<uint32_t> pending;
  std::map<uint32_t, uint32_t> newest;
  for (size_t at = kWalHeaderSize; at + frameSize <= log.size(); at += frameSize) {
    const uint32_t number = static_cast<uint32_t>(f.pages.size() + 1);
    f.pages.push_back(Be32(log, at));
    thisRun = thisRun && Be32(log, at + 8) == Be32(log, 16) && Be32(log, at + 12) == Be32(log, 20);
    if (!thisRun) {
      if (Be32(log, at + 8) + 1 == Be32(log, 16)) f.earlierRun.insert(number);
      continue;
    }
    pending.push_back(number);
    newest[f.pages.back()] = number;
    if (Be32(log, at + 4) != 0) {
      f.committed.insert(pending.begin(), pending.end());
      pending.clear();
      f.current = newest;
    }
  }
  f.afterCommit.insert(pending.begin(), pending.end());
  return f;
}

TEST(LogFrames, EachCommittedFrameOnceTheCurrentOnesAsSqliteReadsThem) {
  for (const int pageSize : {1024, 4096}) {
    SCOPED_TRACE(pageSize);
    fx::TempDir dir;
    const std::string path = dir.File("log.db");
    const std::string wal = path + "-wal";
    {
      fx::Database db(path, {.pageSize = pageSize});
      db.Exec("PRAGMA journal_mode=WAL");
      db.Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, body TEXT)");
      const auto add = [&](int from, int count) {
        db.Exec("BEGIN");
        for (int k = from; k < from + count; ++k)
          db.Query("INSERT INTO t (body) VALUES (?)",
                   {fx::Value::Text("row " + std::to_string(k) + std::string(pageSize / 5, 'x'))});
        db.Exec("COMMIT");
      };
      // The first run: several commits, pages written more than once.
      for (int round = 0; round < 6; ++round) add(round * 20, 20);
      db.Exec("DELETE FROM t WHERE id % 3 = 0");
      ASSERT_EQ(db.QueryInt("PRAGMA wal_checkpoint(PASSIVE)"), 0);
      // The second run, shorter: the first run's last frames stay past it.
      add(1000, 4);
      db.Exec("DELETE FROM t WHERE id % 7 = 0");
      add(2000, 3);
      // A transaction whose pages spill into the log, then rolled back.
      db.Exec("PRAGMA cache_size=2");
      db.Exec("BEGIN IMMEDIATE");
      for (int k = 0; k < 400 && ReadFrames(fx::ReadFileBytes(wal), pageSize).afterCommit.empty();
           ++k)
        db.Query("INSERT INTO t (body) VALUES (?)",
                 {fx::Value::Text("never " + std::to_string(k) + std::string(pageSize / 3, 'n'))});
      db.Exec("ROLLBACK");
    }
    const std::string log = fx::ReadFileBytes(wal);
    const Frames frames = ReadFrames(log, static_cast<uint32_t>(pageSize));
    ASSERT_FALSE(frames.earlierRun.empty());
    ASSERT_FALSE(frames.afterCommit.empty());
    ASSERT_GT(frames.committed.size(), frames.current.size());  // some older images too

    SqliteFile file;
    ASSERT_EQ(OpenDatabase(wal, file, path), OpenStatus::Opened);
    std::set<uint32_t> handed, current, older;
    uint32_t last = 0;
    WalkLogFrames(file, [&](ByteView image, const FoundAt& frame, bool isCurrent) {
      EXPECT_GT(frame.frame, last) << "in log order, each once";
      last = frame.frame;
      handed.insert(frame.frame);
      (isCurrent ? current : older).insert(frame.frame);
      EXPECT_EQ(frame.file, wal);
      EXPECT_EQ(frame.place, Place::LogFrame);
      ASSERT_LE(frame.frame, frames.pages.size());
      EXPECT_EQ(frame.page, frames.pages[frame.frame - 1]);
      EXPECT_EQ(frame.offset, kWalHeaderSize +
                                  (frame.frame - 1) * (kWalFrameHeaderSize + pageSize) +
                                  kWalFrameHeaderSize);
      EXPECT_EQ(image.AsString(), std::string_view(log).substr(frame.offset, pageSize));
    });
    WalkOlderLogFrames(file, [&](ByteView, const FoundAt& frame) {
      EXPECT_TRUE(older.count(frame.frame)) << frame.frame;
      older.erase(frame.frame);
    });
    EXPECT_TRUE(older.empty()) << "the older frames alone go to WalkOlderLogFrames";

    std::set<uint32_t> expected = frames.committed;
    expected.insert(frames.earlierRun.begin(), frames.earlierRun.end());
    EXPECT_EQ(handed, expected);
    std::set<uint32_t> currentFrames;
    for (const auto& [page, frame] : frames.current) currentFrames.insert(frame);
    EXPECT_EQ(current, currentFrames);

    // SQLite reads its pages from those frames: the cell count each gives is dbstat's.
    fx::CopyDatabase(path, dir.File("copy.db"));
    fx::Database copy(dir.File("copy.db"), {.create = false});
    size_t compared = 0;
    for (const fx::Row& row : copy.Query("SELECT pageno, ncell FROM dbstat WHERE pageno > 1")) {
      const auto at = frames.current.find(static_cast<uint32_t>(row[0].AsInt()));
      if (at == frames.current.end()) continue;
      const size_t image = kWalHeaderSize + (at->second - 1) * (kWalFrameHeaderSize + pageSize) +
                           kWalFrameHeaderSize;
      const uint32_t cells =
          static_cast<uint8_t>(log[image + 3]) << 8 | static_cast<uint8_t>(log[image + 4]);
      EXPECT_EQ(cells, row[1].AsInt()) << "page " << row[0].AsInt();
      ++compared;
    }
    EXPECT_GT(compared, 0u);
  }
}

}  // namespace
}  // namespace vantrel
