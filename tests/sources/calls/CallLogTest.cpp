// Calls deleted while the database ran with a write-ahead log, as a phone's call history does:
// the oldest calls past the limit go as a run, single calls here and there, new calls come in
// between, and no checkpoint runs. The deleted calls live on in the file's own image of the
// leaves the log changed and in the log's older frames. Both call databases (iOS 7's `call`,
// the Core Data ZCALLRECORD of later versions) on 1024-, 4096- and 65536-byte pages: every
// deleted call comes back once, a call that only ever lay in the log names its frame, and
// neither a live call nor one of a transaction that never committed is listed as deleted. And
// calls whose only copy is the current image of a leaf freed in a committed transaction: each
// comes back once, named by that frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "fixtures/Fixtures.h"
#include "fixtures/LogFrames.h"
#include "fixtures/Modern.h"
#include "sources/Loaders.h"
#include "sources/calls/CallStore.h"
#include "sqlite/SqliteFile.h"
#include "sqlite/WalIndex.h"

namespace vantrel {
namespace {

namespace fx = fixtures;

// number, Unix seconds, whole seconds of duration, outgoing: what a user tells calls apart by.
using CallKey = std::tuple<std::string, int64_t, int64_t, int64_t>;

struct LogCase {
  bool callStore;  // ZCALLRECORD (iOS 17) rather than iOS 7's call table
  int pageSize;
};

std::string CaseName(const testing::TestParamInfo<LogCase>& info) {
  return std::string(info.param.callStore ? "store_" : "call_") +
         std::to_string(info.param.pageSize);
}

double Number(const fx::Value& v) {
  return v.type == fx::Value::Type::Real ? v.real : static_cast<double>(v.AsInt());
}

// The calls SQLite shows, by rowid, in the units the reader shows them.
std::map<int64_t, CallKey> CallsNow(fx::Database& db, bool callStore) {
  std::map<int64_t, CallKey> calls;
  if (callStore) {
    for (const fx::Row& row :
         db.Query("SELECT Z_PK, ZADDRESS, ZDATE, ZDURATION, ZORIGINATED FROM ZCALLRECORD")) {
      if (row[1].AsText().empty()) continue;  // a group call is filed by its participants
      calls[row[0].AsInt()] = {
          row[1].AsText(), static_cast<int64_t>(std::floor(Number(row[2]))) + fx::kAppleEpochOffset,
          static_cast<int64_t>(std::floor(Number(row[3]))), row[4].AsInt() == 1 ? 1 : 0};
    }
  } else {
    for (const fx::Row& row : db.Query("SELECT ROWID, address, date, duration, flags FROM call"))
      calls[row[0].AsInt()] = {row[1].AsText(), row[2].AsInt(), row[3].AsInt(), row[4].AsInt()};
  }
  return calls;
}

// One new call, as the phone writes it when the call ends.
void AddCall(fx::Database& db, bool callStore, int k) {
  const std::string number = "1390000" + std::to_string(1000 + k);
  if (callStore) {
    db.Query(
        "INSERT INTO ZCALLRECORD (Z_ENT, Z_OPT, ZANSWERED, ZCALLTYPE, ZORIGINATED, ZREAD, ZDATE, "
        "ZDURATION, ZADDRESS, ZISO_COUNTRY_CODE, ZSERVICE_PROVIDER, ZUNIQUE_ID) VALUES (2, 1, 1, "
        "1, ?, 1, ?, ?, ?, 'cn', 'com.apple.Telephony', ?)",
        {fx::Value::Int(k % 2), fx::Value::Real(720000000.25 + 3600.0 * k),
         fx::Value::Real(30.5 + k), fx::Value::Text(number),
         fx::Value::Text("C0FFEE00-0000-4000-8000-" + std::to_string(100000000000 + k))});
  } else {
    db.Query(
        "INSERT INTO call (address, date, duration, flags, id, name, country_code, network_code, "
        "read, assisted, face_time_data, originalAddress, answered) VALUES (?, ?, ?, ?, -1, NULL, "
        "'460', '01', 1, 0, NULL, ?, 1)",
        {fx::Value::Text(number), fx::Value::Int(fx::UnixSeconds(2014, 8, 1) + 3600 * k),
         fx::Value::Int(30 + k), fx::Value::Int(k % 2 ? 5 : 4), fx::Value::Text(number)});
  }
}

// The case's call store with nothing deleted yet: iOS 17's ZCALLRECORD (seed, modernCalls
// rows) moved to the case's page size, or iOS 6/7's call table with calls rows.
void BuildCallStore(const std::string& path, const LogCase& c, uint64_t seed, int modernCalls,
                    int calls) {
  if (c.callStore) {
    fx::BuildModernCallsDb(path, 17, seed, modernCalls, 0);
    fx::Database db(path, {.create = false});
    db.Exec("PRAGMA page_size=" + std::to_string(c.pageSize));
    db.Exec("VACUUM");
    return;
  }
  fx::CallOptions options;
  options.pageSize = c.pageSize;
  options.callCount = calls;
  options.keepNewest = calls;
  options.computeSurvival = false;
  fx::BuildCallsDb(path, options);
}

class CallsFromTheLog : public testing::TestWithParam<LogCase> {};

TEST_P(CallsFromTheLog, EachDeletedCallOnceNoneLiveNoneUncommitted) {
  const LogCase c = GetParam();
  fx::TempDir dir;
  const std::string path = dir.File(c.callStore ? "CallHistory.storedata" : "call_history.db");
  const std::string table = c.callStore ? "ZCALLRECORD" : "call";
  const std::string rowid = c.callStore ? "Z_PK" : "ROWID";
  const std::string date = c.callStore ? "ZDATE" : "date";
  BuildCallStore(path, c, 3, 60, 150);

  // Every call SQLite ever showed, with its rowid (a rowid freed at the end is used again).
  using Shown = std::pair<int64_t, CallKey>;
  std::set<Shown> everCommitted;
  std::set<Shown> loggedOnly;  // calls written after the log began
  std::set<CallKey> neverCommitted;
  std::map<int64_t, CallKey> live;
  int64_t liveRows = 0;
  {
    fx::Database db(path, {.create = false});
    db.Exec("PRAGMA journal_mode=WAL");
    const auto seen = [&] {
      for (const auto& [id, key] : CallsNow(db, c.callStore)) everCommitted.insert({id, key});
    };
    seen();
    const std::set<Shown> before = everCommitted;
    db.Exec("BEGIN");
    for (int k = 0; k < 24; ++k) AddCall(db, c.callStore, k);
    db.Exec("COMMIT");
    seen();
    for (const Shown& call : everCommitted)
      if (!before.count(call)) loggedOnly.insert(call);
    // The oldest calls past the limit, a run of neighbours in one transaction.
    db.Exec("DELETE FROM " + table + " WHERE " + rowid + " IN (SELECT " + rowid + " FROM " + table +
            " ORDER BY " + date + " LIMIT " + (c.callStore ? "14" : "40") + ")");
    // Single calls, each on its own: old ones and ones only the log ever held.
    int n = 0;
    for (const auto& [id, key] : CallsNow(db, c.callStore)) {
      if (++n % (loggedOnly.count({id, key}) ? 3 : 7) != 0) continue;
      db.Query("DELETE FROM " + table + " WHERE " + rowid + " = ?", {fx::Value::Int(id)});
    }
    db.Exec("BEGIN");
    for (int k = 24; k < 30; ++k) AddCall(db, c.callStore, k);
    db.Exec("COMMIT");
    seen();
    live = CallsNow(db, c.callStore);
    liveRows = db.QueryInt("SELECT count(*) FROM " + table);
    // A transaction whose pages spilled into the log and that then rolled back: SQLite never
    // showed its calls.
    const std::map<int64_t, CallKey> committed = live;
    db.Exec("PRAGMA cache_size=2");
    db.Exec("BEGIN IMMEDIATE");
    // The log grows only when the transaction's pages spill into it, so its size says when to
    // stop (reading the whole log after every call took seconds on 64 KiB pages).
    const uintmax_t committedLog = std::filesystem::file_size(path + "-wal");
    for (int k = 30; k < 3000 && std::filesystem::file_size(path + "-wal") == committedLog; ++k)
      AddCall(db, c.callStore, k);
    for (const auto& [id, key] : CallsNow(db, c.callStore))
      if (!committed.count(id)) neverCommitted.insert(key);
    db.Exec("ROLLBACK");
  }
  const fx::WalSummary log = fx::InspectWal(path + "-wal");
  ASSERT_GE(log.commitCount, 4);
  ASSERT_GT(log.framesAfterLastCommit, 0);
  ASSERT_FALSE(neverCommitted.empty());

  std::set<CallKey> liveKeys, deletedKeys;
  for (const auto& [id, key] : live) liveKeys.insert(key);
  std::set<Shown> deletedIds;
  for (const Shown& call : everCommitted) {
    if (live.count(call.first) && live.at(call.first) == call.second) continue;
    deletedIds.insert(call);
    deletedKeys.insert(call.second);
  }
  ASSERT_GT(deletedIds.size(), c.callStore ? 20u : 40u);

  SqliteFile file;
  ASSERT_EQ(OpenDatabase(path + "-wal", file, path), OpenStatus::Opened);
  CallMap liveCalls, deletedCalls;
  ASSERT_EQ(c.callStore ? CallStoreLoader(file, liveCalls, deletedCalls)
                        : CallLoader(file, liveCalls, deletedCalls),
            LoaderStatus::Loaded);
  size_t liveListed = 0;
  for (const auto& [number, calls] : liveCalls) liveListed += calls.size();
  EXPECT_EQ(liveListed, static_cast<size_t>(liveRows));

  const std::string wal = fx::ReadFileBytes(path + "-wal");
  const uint64_t frameSize = kWalFrameHeaderSize + static_cast<uint64_t>(c.pageSize);
  std::map<CallKey, int> listed;
  std::map<CallKey, FoundAt> where;
  for (const auto& [number, calls] : deletedCalls) {
    for (const CallRecord& call : calls) {
      const CallKey key{number, call.date, call.duration, call.flags & 1};
      const CallKey stored{number, call.date, call.duration, call.flags};
      const CallKey& as = c.callStore ? key : stored;
      ++listed[as];
      EXPECT_FALSE(liveKeys.count(as)) << "a live call listed as deleted: " << number;
      EXPECT_FALSE(neverCommitted.count(as)) << "a call never committed: " << number;
      EXPECT_TRUE(deletedKeys.count(as))
          << "no call SQLite showed: " << number << " " << call.date << " " << call.duration << " "
          << call.flags << " place " << static_cast<int>(call.found->place) << " frame "
          << call.found->frame;
      ASSERT_TRUE(call.found.has_value());
      where[as] = *call.found;
    }
  }
  size_t fromFrames = 0, olderFrames = 0;
  for (const Shown& call : deletedIds) {
    const CallKey& key = call.second;
    SCOPED_TRACE(std::get<0>(key) + " at " + std::to_string(std::get<1>(key)));
    EXPECT_EQ(listed[key], 1) << "each deleted call once";
    if (!loggedOnly.count(call) || !where.count(key)) continue;
    // Its only copies are in the log: the frame it names holds it, the page's current frame
    // (its freed cell there) or an older one.
    const FoundAt& at = where.at(key);
    EXPECT_EQ(at.file, path + "-wal");
    olderFrames += at.place == Place::LogFrame;
    ASSERT_GE(at.offset, kWalHeaderSize + kWalFrameHeaderSize);
    EXPECT_EQ((at.offset - kWalHeaderSize) / frameSize + 1, at.frame);
    EXPECT_EQ(
        wal.substr(at.offset, c.callStore ? 400 : 64).find(std::get<0>(key)) != std::string::npos,
        true);
    ++fromFrames;
  }
  EXPECT_GT(fromFrames, 0u);
  std::printf(
      "[calls from the log] %s %d: %zu deleted, %zu listed, %zu only in the log (%zu of them "
      "from an older frame)\n",
      c.callStore ? "ZCALLRECORD" : "call", c.pageSize, deletedIds.size(), listed.size(),
      fromFrames, olderFrames);
}

INSTANTIATE_TEST_SUITE_P(Databases, CallsFromTheLog,
                         testing::Values(LogCase{false, 1024}, LogCase{false, 4096},
                                         LogCase{false, 65536}, LogCase{true, 1024},
                                         LogCase{true, 4096}, LogCase{true, 65536}),
                         CaseName);

// ---------------------------------------------------------------------------------------------
// Calls whose only copy is the current image of a leaf the table gave back to the freelist in a
// committed transaction: SQLite writes no new image of a page it frees (unless it becomes a
// freelist trunk), so the leaf's last image in the log still holds every call it had, and the
// database file never saw them.

using fx::LogFrame;
using fx::ReadLogFrames;

class CallsOnFreedLeaves : public testing::TestWithParam<LogCase> {};

TEST_P(CallsOnFreedLeaves, EachCallOnlyAFreedLeafHoldsComesBackOnce) {
  const LogCase c = GetParam();
  fx::TempDir dir;
  const std::string path = dir.File(c.callStore ? "CallHistory.storedata" : "call_history.db");
  const std::string table = c.callStore ? "ZCALLRECORD" : "call";
  const std::string rowid = c.callStore ? "Z_PK" : "ROWID";
  BuildCallStore(path, c, 5, 30, 40);
  std::map<int64_t, CallKey> batch, live;
  int64_t liveRows = 0;
  {
    fx::Database db(path, {.create = false});
    db.Exec("PRAGMA journal_mode=WAL");
    const int64_t lastBefore = db.QueryInt("SELECT max(" + rowid + ") FROM " + table);
    // Calls enough to fill leaves of their own, in one transaction, then deleted in another.
    const int count = c.pageSize == 1024 ? 60 : 480;
    db.Exec("BEGIN");
    for (int k = 500; k < 500 + count; ++k) AddCall(db, c.callStore, k);
    db.Exec("COMMIT");
    for (const auto& [id, key] : CallsNow(db, c.callStore))
      if (id > lastBefore) batch[id] = key;
    db.Exec("DELETE FROM " + table + " WHERE " + rowid + " > " + std::to_string(lastBefore));
    live = CallsNow(db, c.callStore);
    liveRows = db.QueryInt("SELECT count(*) FROM " + table);
  }
  ASSERT_EQ(batch.size(), static_cast<size_t>(c.pageSize == 1024 ? 60 : 480));

  // Where each deleted call's number lies, by the files alone.
  const std::string main = fx::ReadFileBytes(path);
  const std::string log = fx::ReadFileBytes(path + "-wal");
  const std::vector<LogFrame> frames = ReadLogFrames(log, static_cast<uint32_t>(c.pageSize));
  std::set<uint32_t> leaves;  // the table's live leaves, as SQLite has them
  fx::CopyDatabase(path, dir.File("copy.db"));
  {
    fx::Database copy(dir.File("copy.db"), {.create = false});
    for (const fx::Row& row :
         copy.Query("SELECT pageno FROM dbstat WHERE name = '" + table + "' AND pagetype = 'leaf'"))
      leaves.insert(static_cast<uint32_t>(row[0].AsInt()));
  }
  // Whether the number lies only in the current images of pages that are no live leaf.
  const auto onlyOnFreedLeaf = [&](const std::string& number) {
    return fx::OnlyOnFreedLeafImages(number, main, log, frames, static_cast<uint32_t>(c.pageSize),
                                     leaves);
  };

  SqliteFile file;
  ASSERT_EQ(OpenDatabase(path + "-wal", file, path), OpenStatus::Opened);
  CallMap liveCalls, deletedCalls;
  ASSERT_EQ(c.callStore ? CallStoreLoader(file, liveCalls, deletedCalls)
                        : CallLoader(file, liveCalls, deletedCalls),
            LoaderStatus::Loaded);
  size_t liveListed = 0;
  for (const auto& [number, calls] : liveCalls) liveListed += calls.size();
  EXPECT_EQ(liveListed, static_cast<size_t>(liveRows));

  std::set<CallKey> liveKeys;
  for (const auto& [id, key] : live) liveKeys.insert(key);
  std::map<CallKey, int> listed;
  std::map<CallKey, FoundAt> where;
  for (const auto& [number, calls] : deletedCalls) {
    for (const CallRecord& call : calls) {
      const CallKey key{number, call.date, call.duration,
                        c.callStore ? call.flags & 1 : call.flags};
      EXPECT_FALSE(liveKeys.count(key)) << "a live call listed as deleted: " << number;
      ++listed[key];
      if (call.found) where[key] = *call.found;
    }
  }
  size_t onlyFreed = 0;
  for (const auto& [id, key] : batch) {
    const std::string& number = std::get<0>(key);
    SCOPED_TRACE(number);
    // Every call of the batch lies somewhere the reader reads: each comes back once.
    EXPECT_EQ(listed[key], 1) << "each deleted call once";
    if (!onlyOnFreedLeaf(number)) continue;
    ++onlyFreed;
    ASSERT_TRUE(where.count(key));
    const FoundAt& at = where.at(key);
    EXPECT_EQ(at.file, path + "-wal");
    EXPECT_EQ(at.place, Place::LogFrame);
    ASSERT_GE(at.frame, 1u);
    ASSERT_LE(at.frame, frames.size());
    EXPECT_TRUE(frames[at.frame - 1].current);
    EXPECT_NE(log.substr(at.offset, c.callStore ? 400 : 64).find(number), std::string::npos)
        << "the frame it names holds it where it says";
  }
  // The fixture did what it means to: some calls lie only on freed leaves.
  EXPECT_GT(onlyFreed, 0u);
  std::printf("[calls on freed leaves] %s %d: %zu deleted, %zu only on freed leaves\n",
              c.callStore ? "ZCALLRECORD" : "call", c.pageSize, batch.size(), onlyFreed);
}

INSTANTIATE_TEST_SUITE_P(Databases, CallsOnFreedLeaves,
                         testing::Values(LogCase{false, 1024}, LogCase{false, 4096},
                                         LogCase{true, 1024}, LogCase{true, 4096}),
                         CaseName);

}  // namespace
}  // namespace vantrel
