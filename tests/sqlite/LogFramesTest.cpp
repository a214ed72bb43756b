// The walk over a write-ahead log's frames, on a log SQLite wrote in three parts: a first run
// (later checkpointed), a shorter second run that the restart began at the log's start, and
// after it the frames of a transaction whose pages spilled and that rolled back. Every whole
// frame is handed over once, in log order, with its own bytes, and told what it is as the log's
// headers say it; the frames told Current are the ones SQLite reads its pages from (their cell
// counts are dbstat's).
#include "sqlite/LogFrames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

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

// The frames of a log as SQLite's file format describes them: this run's frames from the start
// while the salts match, committed up to the last commit frame and the rest after it; then the
// earlier run's (salt-1 one less than the header's).
struct Frames {
  std::vector<uint32_t> pages;           // page of each frame, frame k + 1 at index k
  std::vector<FrameKind> kinds;          // what each frame is, frame k + 1 at index k
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
    f.kinds.push_back(FrameKind::Unknown);
    thisRun = thisRun && Be32(log, at + 8) == Be32(log, 16) && Be32(log, at + 12) == Be32(log, 20);
    if (!thisRun) {
      if (Be32(log, at + 8) + 1 == Be32(log, 16)) f.kinds.back() = FrameKind::EarlierRun;
      continue;
    }
    pending.push_back(number);
    newest[f.pages.back()] = number;
    if (Be32(log, at + 4) != 0) {
      for (uint32_t k : pending) f.kinds[k - 1] = FrameKind::Older;
      pending.clear();
      f.current = newest;
    }
  }
  for (uint32_t k : pending) f.kinds[k - 1] = FrameKind::AfterCommit;
  for (const auto& [page, k] : f.current) f.kinds[k - 1] = FrameKind::Current;
  return f;
}

TEST(LogFrames, EachFrameOnceToldWhatTheLogSaysItIs) {
  for (const int pageSize : {1024, 4096}) {
    SCOPED_TRACE(pageSize);
    fx::TempDir dir;
    const std::string path = dir.File("log.db");
    const std::string wal = path + "-wal";
    const auto afterCommit = [&] {
      const Frames f = ReadFrames(fx::ReadFileBytes(wal), static_cast<uint32_t>(pageSize));
      return std::count(f.kinds.begin(), f.kinds.end(), FrameKind::AfterCommit);
    };
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
      for (int k = 0; k < 400 && afterCommit() == 0; ++k)
        db.Query("INSERT INTO t (body) VALUES (?)",
                 {fx::Value::Text("never " + std::to_string(k) + std::string(pageSize / 3, 'n'))});
      db.Exec("ROLLBACK");
    }
    const std::string log = fx::ReadFileBytes(wal);
    const Frames expected = ReadFrames(log, static_cast<uint32_t>(pageSize));
    for (const FrameKind kind :
         {FrameKind::Current, FrameKind::Older, FrameKind::EarlierRun, FrameKind::AfterCommit})
      ASSERT_NE(std::count(expected.kinds.begin(), expected.kinds.end(), kind), 0)
          << "the log holds frames of kind " << static_cast<int>(kind);

    SqliteFile file;
    ASSERT_EQ(OpenDatabase(wal, file, path), OpenStatus::Opened);
    std::vector<FrameKind> kinds;
    ForEachLogFrame(file, [&](const WalFrame& frame) {
      ASSERT_EQ(frame.number, kinds.size() + 1) << "in log order, each once";
      ASSERT_LE(frame.number, expected.pages.size());
      kinds.push_back(frame.kind);
      EXPECT_EQ(frame.pageNo, expected.pages[frame.number - 1]);
      EXPECT_EQ(frame.imageOffset, kWalHeaderSize +
                                       (frame.number - 1) * (kWalFrameHeaderSize + pageSize) +
                                       kWalFrameHeaderSize);
      EXPECT_EQ(LogFrameNumber(frame.imageOffset, static_cast<uint32_t>(pageSize)), frame.number);
      EXPECT_EQ(frame.image.AsString(), std::string_view(log).substr(frame.imageOffset, pageSize));
    });
    EXPECT_EQ(kinds, expected.kinds);

    // SQLite reads its pages from the Current frames: the cell count each gives is dbstat's.
    fx::CopyDatabase(path, dir.File("copy.db"));
    fx::Database copy(dir.File("copy.db"), {.create = false});
    size_t compared = 0;
    for (const fx::Row& row : copy.Query("SELECT pageno, ncell FROM dbstat WHERE pageno > 1")) {
      const auto at = expected.current.find(static_cast<uint32_t>(row[0].AsInt()));
      if (at == expected.current.end()) continue;
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
