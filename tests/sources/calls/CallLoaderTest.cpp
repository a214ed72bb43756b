// The call-history loader on call_history.db files written by the real SQLite engine, iOS 6
// and iOS 7 (also a device upgraded from iOS 6, whose old rows hold 13 values in the
// 14-column table), on 4096- and 1024-byte pages: 140 calls of which the oldest 40 were
// deleted. Live calls must be what SQLite returns; deleted calls whose bytes survive must come
// back once each, and no live call may be listed as deleted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "fixtures/BuildSupport.h"
#include "fixtures/Fixtures.h"
#include "sources/Loaders.h"
#include "sources/calls/CallHistory.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::TempDir;
using fixtures::Value;

using CallKey = std::tuple<std::string, int32_t, int32_t, int32_t>;

CallKey KeyOf(const std::string& number, const CallRecord& record) {
  return {number, record.date, record.duration, record.flags};
}

CallKey KeyOf(const fixtures::CallTruth& call) {
  return {call.address, static_cast<int32_t>(call.date), static_cast<int32_t>(call.duration),
          static_cast<int32_t>(call.flags)};
}

bool SameCalls(const std::vector<CallRecord>& a, const std::vector<CallRecord>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].date != b[i].date || a[i].duration != b[i].duration || a[i].flags != b[i].flags)
      return false;
  }
  return true;
}

// The live calls as SQLite returns them, grouped by number in the order Vantrel reads them:
// leaf page by leaf page in the order of the catalogue's walk, rowid order inside a page.
// Which rows a leaf holds follows from dbstat: its leaves in key order and their cell counts.
CallMap ExpectedLiveCalls(const std::string& path, const SqliteFile& db) {
  Database sqlite(path, {.create = false, .readOnly = true});
  std::vector<fixtures::Row> rows =
      sqlite.Query("SELECT address, date, duration, flags FROM call ORDER BY rowid");
  std::vector<fixtures::Row> leaves = sqlite.Query(
      "SELECT pageno, ncell FROM dbstat WHERE name = 'call' AND pagetype = 'leaf' ORDER BY path");
  std::map<int64_t, std::vector<fixtures::Row>> rowsOfPage;
  size_t next = 0;
  for (const fixtures::Row& leaf : leaves) {
    for (int64_t i = 0; i < leaf[1].AsInt() && next < rows.size(); ++i)
      rowsOfPage[leaf[0].AsInt()].push_back(rows[next++]);
  }
  EXPECT_EQ(next, rows.size());
  CallMap expected;
  const TableInfo* table = FindTable(db, "call");
  if (!table) return expected;
  std::set<int64_t> walked;
  for (const PageSet& set : table->pageSets) {
    for (int32_t page : set.leafPages) {
      walked.insert(page);
      for (const fixtures::Row& row : rowsOfPage[page]) {
        if (row[0].AsText().empty()) continue;
        expected[row[0].AsText()].push_back({static_cast<int32_t>(row[1].AsInt()),
                                             static_cast<int32_t>(row[2].AsInt()),
                                             static_cast<int32_t>(row[3].AsInt())});
      }
    }
  }
  std::set<int64_t> leafPages;
  for (const fixtures::Row& leaf : leaves) leafPages.insert(leaf[0].AsInt());
  EXPECT_EQ(walked, leafPages) << "the catalogue's leaf pages differ from SQLite's";
  return expected;
}

struct Case {
  int iosVersion;
  bool upgraded;
  int pageSize;
  double minRecallOfAll;  // recovered / all deleted calls
  bool rolling = false;   // the oldest call deleted as each new one comes (CallOptions)
  double scattered = 0;   // besides, this share of all calls deleted here and there
};

std::string CaseName(const Case& c) {
  return "ios" + std::to_string(c.iosVersion) + (c.upgraded ? "upgraded" : "") + "_" +
         std::to_string(c.pageSize) + (c.rolling ? "_rolling" : "") +
         (c.scattered > 0 ? "_scattered" : "");
}

// Recovered deleted calls, counted by the place of their first finding.
struct Recall {
  int deleted = 0;
  int surviving = 0;
  int recovered = 0;           // deleted calls listed (surviving or not)
  int recoveredSurviving = 0;  // of those, the ones whose bytes the fixture found
  std::map<CallPlace, int> byPlace;
  std::vector<std::string> lost;  // surviving but not recovered
};

const char* PlaceName(CallPlace place) {
  switch (place) {
    case CallPlace::UnallocatedFront:
      return "unallocated front";
    case CallPlace::Freeblock:
      return "freeblock";
    case CallPlace::OtherPage:
      return "other page";
    case CallPlace::OlderImage:
      return "older image";
    case CallPlace::LogFrame:
      return "log frame";
  }
  return "?";
}

class CallLoaderOnFixtures : public testing::TestWithParam<Case> {};

TEST_P(CallLoaderOnFixtures, LiveCallsAreSqlitesAndSurvivingDeletedCallsComeBackOnce) {
  const Case c = GetParam();
  Recall recall;
  for (uint64_t seed = 1; seed <= 10; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    fixtures::CallOptions options;
    options.iosVersion = c.iosVersion;
    options.upgradedFromIos6 = c.upgraded;
    options.pageSize = c.pageSize;
    options.seed = seed;
    options.rollingLimit = c.rolling;
    options.deleteFraction = c.scattered;
    const std::string path = dir.File(fixtures::kCallsFileName);
    fixtures::CallsTruth truth = fixtures::BuildCallsDb(path, options);
    const size_t deletedHere = static_cast<size_t>(c.scattered * 140);
    ASSERT_EQ(truth.Deleted().size(), 40u + deletedHere);
    ASSERT_EQ(truth.Live().size(), 100u - deletedHere);

    SqliteFile db;
    ASSERT_EQ(OpenDatabase("", db, path), OpenStatus::Opened);
    CallMap live, deleted;
    ASSERT_EQ(CallLoader(db, live, deleted), LoaderStatus::Loaded);

    // Live: exactly SQLite's rows, grouped by number, in reading order.
    CallMap expectedLive = ExpectedLiveCalls(path, db);
    ASSERT_EQ(live.size(), expectedLive.size());
    for (const auto& [number, calls] : expectedLive) {
      ASSERT_TRUE(live.count(number)) << number;
      EXPECT_TRUE(SameCalls(live[number], calls)) << number;
    }

    // Deleted: only calls the fixture deleted, each once, none of them live.
    std::set<CallKey> liveKeys, deletedKeys;
    for (const fixtures::CallTruth& call : truth.Live()) liveKeys.insert(KeyOf(call));
    for (const fixtures::CallTruth& call : truth.Deleted()) deletedKeys.insert(KeyOf(call));
    std::set<CallKey> listed;
    for (const auto& [number, calls] : deleted) {
      for (const CallRecord& record : calls) {
        CallKey key = KeyOf(number, record);
        EXPECT_FALSE(liveKeys.count(key)) << "live call listed as deleted: " << number;
        EXPECT_TRUE(deletedKeys.count(key))
            << "not a deleted call: " << number << " " << record.date << " " << record.duration
            << " " << record.flags;
        EXPECT_TRUE(listed.insert(key).second) << "listed twice: " << number;
      }
    }

    // Where each recovered call was first found.
    RowList liveRows;
    std::vector<CarvedCall> carved;
    ASSERT_EQ(GatherCallRows(db, liveRows, carved), TableRead::Read);
    std::map<CallKey, CallPlace> firstPlace;
    for (const CarvedCall& call : carved) {
      if (call.row.size() < 5) continue;
      CallKey key{call.row[1], static_cast<int32_t>(std::stoll(call.row[2])),
                  static_cast<int32_t>(std::stoll(call.row[3])),
                  static_cast<int32_t>(std::stoll(call.row[4]))};
      firstPlace.emplace(key, call.place);
    }
    for (const fixtures::CallTruth& call : truth.Deleted()) {
      ++recall.deleted;
      recall.surviving += call.inMainFile;
      if (listed.count(KeyOf(call))) {
        ++recall.recovered;
        recall.recoveredSurviving += call.inMainFile;
        ++recall.byPlace[firstPlace[KeyOf(call)]];
      } else if (call.inMainFile) {
        recall.lost.push_back(call.address + "@" + std::to_string(call.date));
      }
    }
  }

  std::string report = CaseName(c) + ": deleted " + std::to_string(recall.deleted) +
                       ", bytes survive " + std::to_string(recall.surviving) + ", recovered " +
                       std::to_string(recall.recovered) + " (";
  for (const auto& [place, count] : recall.byPlace)
    report += std::string(PlaceName(place)) + " " + std::to_string(count) + ", ";
  report += "lost " + std::to_string(recall.lost.size()) + ")";
  for (const std::string& lost : recall.lost) report += " " + lost;
  std::printf("%s\n", report.c_str());
  RecordProperty("recall", report);

  ASSERT_GT(recall.surviving, 0);
  EXPECT_GE(recall.recoveredSurviving, 0.95 * recall.surviving) << report;
  EXPECT_GE(recall.recovered, c.minRecallOfAll * recall.deleted) << report;
}

INSTANTIATE_TEST_SUITE_P(
    Devices, CallLoaderOnFixtures,
    testing::Values(Case{6, false, 4096, 0.90}, Case{6, false, 1024, 0.55},
                    Case{7, false, 4096, 0.90}, Case{7, false, 1024, 0.55},
                    Case{7, true, 4096, 0.90}, Case{7, true, 1024, 0.55},
                    Case{6, false, 4096, 0.0, true}, Case{6, false, 1024, 0.0, true},
                    Case{6, false, 65536, 0.0, true}, Case{7, false, 4096, 0.0, true},
                    Case{7, false, 1024, 0.0, true}, Case{7, false, 65536, 0.0, true},
                    Case{7, true, 4096, 0.0, true, 0.1}, Case{6, false, 1024, 0.0, true, 0.1}),
    [](const testing::TestParamInfo<Case>& info) { return CaseName(info.param); });

// Single-database mode with the log beside it: live calls are the ones SQLite sees through the
// log (committed transactions only), and no carved call is one that was never deleted.
TEST(CallLoader, ReadsLiveCallsThroughTheWriteAheadLog) {
  for (uint64_t seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    fixtures::CallOptions options;
    options.journal = fixtures::JournalMode::Wal;
    options.seed = seed;
    const std::string path = dir.File(fixtures::kCallsFileName);
    fixtures::CallsTruth truth = fixtures::BuildCallsDb(path, options);
    ASSERT_TRUE(fixtures::InspectWal(path + "-wal").exists);

    SqliteFile db;
    ASSERT_EQ(OpenDatabase(path + "-wal", db, path), OpenStatus::Opened);
    CallMap live, deleted;
    ASSERT_EQ(CallLoader(db, live, deleted), LoaderStatus::Loaded);

    // SQLite reads a copy, so that nothing it does can touch the files under test.
    const std::string copy = dir.File("copy.db");
    fixtures::CopyDatabase(path, copy);
    CallMap expectedLive = ExpectedLiveCalls(copy, db);
    ASSERT_EQ(live.size(), expectedLive.size());
    for (const auto& [number, calls] : expectedLive) {
      ASSERT_TRUE(live.count(number)) << number;
      EXPECT_TRUE(SameCalls(live[number], calls)) << number;
    }
    std::set<CallKey> deletedKeys;
    for (const fixtures::CallTruth& call : truth.Deleted()) deletedKeys.insert(KeyOf(call));
    for (const auto& [number, calls] : deleted) {
      for (const CallRecord& record : calls)
        EXPECT_TRUE(deletedKeys.count(KeyOf(number, record)))
            << "not a deleted call: " << number << " found in " << record.found->file << " page "
            << record.found->page << " frame " << record.found->frame << " at "
            << record.found->offset;
    }
  }
}

// Damaged bytes anywhere but the header: the loader reads what it can and always returns.
TEST(CallLoader, DamagedFilesAreReadWithoutFault) {
  TempDir dir;
  fixtures::CallOptions options;
  options.pageSize = 1024;
  const std::string path = dir.File(fixtures::kCallsFileName);
  fixtures::BuildCallsDb(path, options);
  const std::string original = fixtures::ReadFileBytes(path);
  std::mt19937 rng(11);
  for (int round = 0; round < 40; ++round) {
    std::string bytes = original;
    const int hits = 1 + static_cast<int>(rng() % 200);
    for (int i = 0; i < hits; ++i)
      bytes[100 + rng() % (bytes.size() - 100)] = static_cast<char>(rng());
    if (round % 4 == 0) bytes.resize(100 + rng() % (bytes.size() - 100));  // a short copy
    const std::string damaged = dir.File("damaged" + std::to_string(round) + ".db");
    std::ofstream(damaged, std::ios::binary) << bytes;
    SqliteFile db;
    ASSERT_EQ(OpenDatabase("", db, damaged), OpenStatus::Opened);
    CallMap live, deleted;
    // Whatever the damage, the load ends and says what it found.
    const LoaderStatus result = CallLoader(db, live, deleted);
    EXPECT_TRUE(result == LoaderStatus::Loaded || result == LoaderStatus::NoPages ||
                result == LoaderStatus::TableAbsent);
  }
}

// A database without a `call` table: TableAbsent and the maps keep what they held.
TEST(CallLoader, WithoutCallTableReturnsMinusTwoAndLeavesMapsAlone) {
  TempDir dir;
  const std::string path = dir.File("other.db");
  {
    Database sqlite(path);
    sqlite.Exec("CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key))");
    sqlite.Exec("INSERT INTO _SqliteDatabaseProperties VALUES ('timer_all', '60')");
  }
  SqliteFile db;
  ASSERT_EQ(OpenDatabase("", db, path), OpenStatus::Opened);
  CallMap live{{"10086", {{1, 2, 3}}}}, deleted{{"10010", {{4, 5, 6}}}};
  const CallMap liveBefore = live, deletedBefore = deleted;
  EXPECT_EQ(CallLoader(db, live, deleted), LoaderStatus::TableAbsent);
  ASSERT_EQ(live.size(), 1u);
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_TRUE(SameCalls(live["10086"], liveBefore.at("10086")));
  EXPECT_TRUE(SameCalls(deleted["10010"], deletedBefore.at("10010")));
}

// Hand-made calls with every flags value the devices write: bit 0 is the direction and the
// other bits travel unchanged, live and deleted alike; calls of one number share an entry.
TEST(CallLoader, FlagsAndGroupingOfLiveAndDeletedCalls) {
  for (int ios : {6, 7}) {
    SCOPED_TRACE("iOS " + std::to_string(ios));
    TempDir dir;
    const std::string path = dir.File(fixtures::kCallsFileName);
    struct Inserted {
      std::string number;
      int64_t date, duration, flags;
    };
    std::vector<Inserted> calls;
    {
      Database sqlite(path);
      sqlite.Exec(fixtures::ReadSchemaFile("ios" + std::to_string(ios) + "_call_history.sql"));
      auto insert = sqlite.Prepare(
          "INSERT INTO call (address, date, duration, flags, id, name, country_code, "
          "network_code, read, assisted, face_time_data, originalAddress) "
          "VALUES (?, ?, ?, ?, -1, '', 'cn', '00', 1, 0, NULL, ?)");
      const int64_t base = fixtures::UnixSeconds(2014, 3, 1, 9, 30);
      const int64_t flagValues[] = {0, 1, 4, 5, 8, 9, 16, 17};
      for (int i = 0; i < 16; ++i) {
        Inserted call{i % 3 == 0 ? "13800138000" : "1390013" + std::to_string(9000 + i),
                      base + 3725 * i, 3725 + i, flagValues[i % 8]};
        insert.BindAll({Value::Text(call.number), Value::Int(call.date), Value::Int(call.duration),
                        Value::Int(call.flags), Value::Text(call.number)});
        insert.Run();
        calls.push_back(call);
      }
      sqlite.Exec("DELETE FROM call WHERE ROWID % 2 = 0");
    }
    SqliteFile db;
    ASSERT_EQ(OpenDatabase("", db, path), OpenStatus::Opened);
    CallMap live, deleted;
    ASSERT_EQ(CallLoader(db, live, deleted), LoaderStatus::Loaded);

    CallMap expectedLive, expectedDeleted;
    for (size_t i = 0; i < calls.size(); ++i) {
      const Inserted& call = calls[i];
      CallRecord record{static_cast<int32_t>(call.date), static_cast<int32_t>(call.duration),
                        static_cast<int32_t>(call.flags)};
      // ROWID i + 1: even rowids were deleted.
      ((i + 1) % 2 == 0 ? expectedDeleted : expectedLive)[call.number].push_back(record);
    }
    ASSERT_EQ(live.size(), expectedLive.size());
    for (const auto& [number, records] : expectedLive)
      EXPECT_TRUE(SameCalls(live[number], records)) << number;
    // Every deleted call sits in a freeblock or the unallocated front of the one leaf page:
    // all of them come back.
    ASSERT_EQ(deleted.size(), expectedDeleted.size());
    for (auto& [number, records] : expectedDeleted) {
      std::vector<CallRecord> got = deleted[number];
      auto byDate = [](const CallRecord& a, const CallRecord& b) { return a.date < b.date; };
      std::sort(got.begin(), got.end(), byDate);
      std::sort(records.begin(), records.end(), byDate);
      EXPECT_TRUE(SameCalls(got, records)) << number;
    }
  }
}

// When the call table outgrows its root page, the root becomes an interior page that keeps the
// old leaf bytes below its one divider cell, written at the page end over the tail of the
// first record the page held. Calls without an original address end in their country and
// network codes, which the divider then takes. Every deleted call whose address and date still
// stand on an interior page comes back from that page, those the divider cut included (marked
// cut), and nothing carved there is a call that never was.
TEST(CallLoader, CallsOnInteriorPagesCutByTheirCellComeBack) {
  for (int pageSize : {1024, 4096}) {
    size_t surviving = 0, found = 0, cut = 0;
    for (int variant = 0; variant < 6; ++variant) {
      TempDir dir;
      const std::string path = dir.File(fixtures::kCallsFileName);
      std::vector<std::pair<std::string, std::string>> calls;  // address, date; oldest first
      // Just past one page: the root holds one divider cell.
      const int count = pageSize / 40 + 5 + variant * 3, deleted = count / 3;
      {
        fixtures::OpenOptions options;
        options.pageSize = pageSize;
        fixtures::Database db(path, options);
        db.Exec(fixtures::ReadSchemaFile("ios6_call_history.sql"));
        auto insert = db.Prepare(
            "INSERT INTO call (address, date, duration, flags, id, name, country_code, "
            "network_code, read, assisted, face_time_data, originalAddress) "
            "VALUES (?, ?, ?, ?, -1, NULL, '460', ?, 1, 0, NULL, ?)");
        db.Exec("BEGIN");
        for (int i = 0; i < count; ++i) {
          const std::string address =
              (i + variant) % 3 ? "1380013" + std::to_string(1000 + i * 7 + variant) : "10086";
          const int64_t date = 1380000000 + i * 977 + variant * 13;
          insert.BindAll(
              {fixtures::Value::Text(address), fixtures::Value::Int(date),
               fixtures::Value::Int((i * 31 + variant) % 600), fixtures::Value::Int(i % 2 ? 5 : 4),
               fixtures::Value::Text(variant % 2 ? "01" : "00"),
               (i + variant) % 2 ? fixtures::Value::Null() : fixtures::Value::Text(address)});
          insert.Run();
          calls.push_back({address, std::to_string(date)});
        }
        db.Exec("COMMIT");
        db.Exec("DELETE FROM call WHERE ROWID <= " + std::to_string(deleted));
      }
      SqliteFile db;
      ASSERT_EQ(OpenDatabase("", db, path), OpenStatus::Opened);
      RowList live;
      std::vector<CarvedCall> carved;
      ASSERT_EQ(GatherCallRows(db, live, carved), TableRead::Read);

      const std::set<std::pair<std::string, std::string>> known(calls.begin(), calls.end());
      const std::string bytes = fixtures::ReadFileBytes(path);
      std::set<uint32_t> interiorPages;
      for (size_t at = static_cast<size_t>(pageSize); at + pageSize <= bytes.size(); at += pageSize)
        if (bytes[at] == 5) interiorPages.insert(static_cast<uint32_t>(at / pageSize) + 1);
      std::set<std::tuple<uint32_t, std::string, std::string>> fromInterior;
      for (const CarvedCall& call : carved) {
        if (call.place != CallPlace::OtherPage || !interiorPages.count(call.pageNo)) continue;
        ASSERT_GE(call.row.size(), 3u);
        EXPECT_TRUE(known.count({call.row[1], call.row[2]})) << call.row[1] << " " << call.row[2];
        fromInterior.insert({call.pageNo, call.row[1], call.row[2]});
        cut += call.cut;
      }
      for (int i = 0; i < deleted; ++i) {
        const std::string needle =
            calls[i].first + fixtures::detail::IntBody(std::stoll(calls[i].second));
        for (uint32_t page : interiorPages) {
          if (bytes.substr((page - 1) * pageSize, pageSize).find(needle) == std::string::npos)
            continue;
          ++surviving;
          found += fromInterior.count({page, calls[i].first, calls[i].second});
        }
      }
    }
    std::printf("interior pages, %d: deleted calls surviving %zu, found %zu (cut by a cell %zu)\n",
                pageSize, surviving, found, cut);
    EXPECT_GT(surviving, 0u);
    EXPECT_EQ(found, surviving) << pageSize;
  }
}

}  // namespace
}  // namespace vantrel
