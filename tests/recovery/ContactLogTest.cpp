// Telephone numbers deleted while the address book ran with a write-ahead log: the numbers of a
// run of neighbouring cards go at once, single numbers here and there, new numbers come in
// between, and no checkpoint runs. The deleted numbers live on in the file's own image of the
// leaves the log changed and in the log's older frames. On 1024-, 4096- and 65536-byte pages:
// every deleted number comes back on one line, a number that only ever lay in the log names
// its frame, and no live number is listed as deleted.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "fixtures/Fixtures.h"
#include "recovery/Loaders.h"
#include "sqlite/SqliteFile.h"
#include "sqlite/WalIndex.h"

namespace vantrel {
namespace {

namespace fx = fixtures;

// UID -> number of every telephone number SQLite shows.
std::map<int64_t, std::string> NumbersNow(fx::Database& db) {
  std::map<int64_t, std::string> numbers;
  for (const fx::Row& row : db.Query("SELECT UID, value FROM ABMultiValue WHERE property = 3"))
    numbers[row[0].AsInt()] = row[1].AsText();
  return numbers;
}

void AddNumber(fx::Database& db, int64_t person, int k) {
  db.Query(
      "INSERT INTO ABMultiValue (record_id, property, identifier, label, value) VALUES (?, 3, ?, "
      "1, ?)",
      {fx::Value::Int(person), fx::Value::Int(5 + k),
       fx::Value::Text("1390000" + std::to_string(2000 + k))});
}

class NumbersFromTheLog : public testing::TestWithParam<int> {};

TEST_P(NumbersFromTheLog, EachDeletedNumberOnceNoneLive) {
  const int pageSize = GetParam();
  fx::TempDir dir;
  const std::string path = dir.File("AddressBook.sqlitedb");
  {
    fx::ContactOptions options;
    options.pageSize = pageSize;
    options.personCount = 60;
    options.deleteFraction = 0;
    options.deleteSinglePhones = false;
    options.computeSurvival = false;
    fx::BuildContactsDb(path, options);
  }
  using Shown = std::pair<int64_t, std::string>;  // UID, number
  std::set<Shown> everCommitted, loggedOnly;
  std::map<int64_t, std::string> live;
  {
    fx::Database db(path, {.create = false});
    db.Exec("PRAGMA journal_mode=WAL");
    const auto seen = [&] {
      for (const auto& [uid, number] : NumbersNow(db)) everCommitted.insert({uid, number});
    };
    seen();
    const std::set<Shown> before = everCommitted;
    db.Exec("BEGIN");
    for (int k = 0; k < 16; ++k) AddNumber(db, 3 + k, k);
    db.Exec("COMMIT");
    seen();
    for (const Shown& number : everCommitted)
      if (!before.count(number)) loggedOnly.insert(number);
    // The numbers of a run of neighbouring cards at once, then single ones, each on its own.
    db.Exec("DELETE FROM ABMultiValue WHERE property = 3 AND record_id BETWEEN 30 AND 42");
    int n = 0;
    for (const auto& [uid, number] : NumbersNow(db)) {
      if (++n % (loggedOnly.count({uid, number}) ? 2 : 5) != 0) continue;
      db.Query("DELETE FROM ABMultiValue WHERE UID = ?", {fx::Value::Int(uid)});
    }
    db.Exec("BEGIN");
    for (int k = 16; k < 22; ++k) AddNumber(db, 3 + k, k);
    db.Exec("COMMIT");
    seen();
    live = NumbersNow(db);
  }
  ASSERT_GE(fx::InspectWal(path + "-wal").commitCount, 4);
  std::set<std::string> liveNumbers, deletedNumbers;
  for (const auto& [uid, number] : live) liveNumbers.insert(number);
  std::set<Shown> deleted;
  for (const Shown& number : everCommitted) {
    if (live.count(number.first) && live.at(number.first) == number.second) continue;
    deleted.insert(number);
    deletedNumbers.insert(number.second);
  }
  ASSERT_GT(deleted.size(), 30u);

  SqliteFile file;
  ASSERT_EQ(OpenDatabase(path + "-wal", file, path), OpenStatus::Opened);
  ContactMap contacts;
  std::optional<DeletedContactList> listed;
  ASSERT_EQ(ContactLoader(file, contacts, listed), LoaderStatus::Loaded);
  ASSERT_TRUE(listed.has_value());
  std::map<std::string, int> lines;
  std::map<std::string, FoundAt> where;
  for (const DeletedContact& line : *listed) {
    if (line.number.empty()) continue;
    EXPECT_FALSE(liveNumbers.count(line.number)) << "a live number listed: " << line.number;
    ++lines[line.number];
    if (line.found) where[line.number] = *line.found;
  }
  const std::string wal = fx::ReadFileBytes(path + "-wal");
  const uint64_t frameSize = kWalFrameHeaderSize + static_cast<uint64_t>(pageSize);
  size_t inLog = 0, olderFrames = 0;
  for (const Shown& number : deleted) {
    SCOPED_TRACE(number.second);
    EXPECT_EQ(lines[number.second], 1) << "each deleted number on one line";
    if (!loggedOnly.count(number) || !where.count(number.second)) continue;
    const FoundAt& at = where.at(number.second);
    EXPECT_EQ(at.file, path + "-wal");
    ASSERT_GE(at.offset, kWalHeaderSize + kWalFrameHeaderSize);
    EXPECT_EQ((at.offset - kWalHeaderSize) / frameSize + 1, at.frame);
    // The offset is the number's own bytes (a carver that finds records by their number) or
    // the start of its freed cell (the carving of the table's own leaves).
    EXPECT_NE(wal.substr(at.offset, 64).find(number.second), std::string::npos)
        << "the number lies where its line says";
    ++inLog;
    olderFrames += at.place == Place::LogFrame;
  }
  EXPECT_GT(inLog, 0u);
  std::printf(
      "[numbers from the log] page %d: %zu deleted, %zu listed, %zu only in the log (%zu of them "
      "from an older frame)\n",
      pageSize, deleted.size(), lines.size(), inLog, olderFrames);
}

INSTANTIATE_TEST_SUITE_P(PageSizes, NumbersFromTheLog, testing::Values(1024, 4096, 65536));

}  // namespace
}  // namespace vantrel
