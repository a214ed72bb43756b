// Telephone numbers deleted while the address book ran with a write-ahead log: the numbers of a
// run of neighbouring cards go at once, single numbers here and there, new numbers come in
// between, and no checkpoint runs. The deleted numbers live on in the file's own image of the
// leaves the log changed and in the log's older frames. On 1024-, 4096- and 65536-byte pages:
// every deleted number comes back on one line, a number that only ever lay in the log names
// its frame, and no live number is listed as deleted. And persons with their e-mail addresses
// whose only copies are frames of an earlier run of the log or the current image of a leaf
// given back to the freelist: each comes back once, named by the frame that holds it. Numbers
// whose only copy is such a freed leaf's current image come back the same way.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fixtures/Fixtures.h"
#include "fixtures/LogFrames.h"
#include "sources/Loaders.h"
#include "sqlite/SqliteFile.h"
#include "sqlite/WalIndex.h"

namespace vantrel {
namespace {

namespace fx = fixtures;

// An address book of count persons with nothing deleted yet: the tests write
// and delete in the log themselves.
void BuildUntouchedAddressBook(const std::string& path, int pageSize, int count) {
  fx::ContactOptions options;
  options.pageSize = pageSize;
  options.personCount = count;
  options.deleteFraction = 0;
  options.deleteSinglePhones = false;
  options.computeSurvival = false;
  fx::BuildContactsDb(path, options);
}

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
  BuildUntouchedAddressBook(path, pageSize, 60);
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

// ---------------------------------------------------------------------------------------------
// Persons and e-mail addresses whose only copies are log frames the table's readers never read:
// frames an earlier run of the log left behind after a checkpoint restarted it, and the current
// image of a leaf the table gave back to the freelist in a committed transaction.

using fx::LogFrame;
using fx::ReadLogFrames;

void AddPerson(fx::Database& db, int64_t rowid, const std::string& first, const std::string& last,
               const std::string& email) {
  // CreationDate and ModificationDate take four bytes each, as on a phone.
  db.Query(
      "INSERT INTO ABPerson (ROWID, First, Last, Kind, FirstSort, LastSort, CreationDate, "
      "ModificationDate, StoreID, FirstSortSection, LastSortSection, FirstSortLanguageIndex, "
      "LastSortLanguageIndex) VALUES (?, ?, ?, 0, ?, ?, ?, ?, 0, ?, ?, 0, 0)",
      {fx::Value::Int(rowid), fx::Value::Text(first), fx::Value::Text(last),
       fx::Value::Text(first + " " + last), fx::Value::Text(last + " " + first),
       fx::Value::Int(420000000 + rowid), fx::Value::Int(420500000 + rowid),
       fx::Value::Text(first.substr(0, 1)), fx::Value::Text(last.substr(0, 1))});
  db.Query(
      "INSERT INTO ABMultiValue (record_id, property, identifier, label, value) VALUES (?, 4, 0, "
      "1, ?)",
      {fx::Value::Int(rowid), fx::Value::Text(email)});
}

class PersonsFromTheLog : public testing::TestWithParam<int> {};

TEST_P(PersonsFromTheLog, EarlierRunsAndFreedLeavesGiveTheirPersonsOnce) {
  const int pageSize = GetParam();
  fx::TempDir dir;
  const std::string path = dir.File("AddressBook.sqlitedb");
  BuildUntouchedAddressBook(path, pageSize, 40);
  struct Added {
    int64_t rowid;
    std::string first, last, email;
  };
  std::vector<Added> earlier, freed;  // gone in the earlier run; gone with their leaves
  const int perBatch = pageSize == 1024 ? 24 : 90;
  for (int k = 0; k < perBatch; ++k) {
    const std::string n = std::to_string(k);
    earlier.push_back({1000 + k, "Early" + n, "Zhou", "early" + n + "@example.org"});
    freed.push_back({5000 + k, "Freed" + n, "Qian", "freed" + n + "@example.org"});
  }
  {
    fx::Database db(path, {.create = false});
    db.Exec("PRAGMA journal_mode=WAL");
    // The earlier run: frames enough that the next run will not reach the last of them, then
    // persons added and deleted with their bytes wiped, so that only the frame from between
    // the two commits still holds them.
    db.Exec("CREATE TABLE Padding (x BLOB)");
    db.Exec("BEGIN");
    for (int k = 0; k < 8 * perBatch; ++k)
      db.Query("INSERT INTO Padding VALUES (zeroblob(?))", {fx::Value::Int(pageSize / 2)});
    db.Exec("COMMIT");
    db.Exec("BEGIN");
    for (const Added& p : earlier) AddPerson(db, p.rowid, p.first, p.last, p.email);
    db.Exec("COMMIT");
    db.Exec("PRAGMA secure_delete=ON");
    db.Exec("DELETE FROM ABMultiValue WHERE record_id >= 1000");
    db.Exec("DELETE FROM ABPerson WHERE ROWID >= 1000");
    db.Exec("PRAGMA secure_delete=OFF");
    // Everything into the file; the next write starts the log over.
    ASSERT_EQ(db.QueryInt("PRAGMA wal_checkpoint(PASSIVE)"), 0);
    // This run: persons on leaves of their own, then deleted at once: the emptied leaves go
    // to the freelist without a new image, so their current image still holds them.
    db.Exec("BEGIN");
    for (const Added& p : freed) AddPerson(db, p.rowid, p.first, p.last, p.email);
    db.Exec("COMMIT");
    db.Exec("DELETE FROM ABMultiValue WHERE record_id >= 5000");
    db.Exec("DELETE FROM ABPerson WHERE ROWID >= 5000");
  }

  // Where each person's bytes lie, by the files alone: its names open its record's body.
  const std::string main = fx::ReadFileBytes(path);
  const std::string log = fx::ReadFileBytes(path + "-wal");
  const std::vector<LogFrame> frames = ReadLogFrames(log, static_cast<uint32_t>(pageSize));
  std::set<uint32_t> leaves;  // ABPerson's and ABMultiValue's live leaves, as SQLite has them
  std::set<int64_t> livePersons;
  std::set<std::string> liveEmails;
  fx::CopyDatabase(path, dir.File("copy.db"));
  {
    fx::Database copy(dir.File("copy.db"), {.create = false});
    for (const fx::Row& row : copy.Query("SELECT pageno FROM dbstat WHERE name IN ('ABPerson', "
                                         "'ABMultiValue') AND pagetype = 'leaf'"))
      leaves.insert(static_cast<uint32_t>(row[0].AsInt()));
    for (const fx::Row& row : copy.Query("SELECT ROWID FROM ABPerson"))
      livePersons.insert(row[0].AsInt());
    for (const fx::Row& row : copy.Query("SELECT value FROM ABMultiValue WHERE property = 4"))
      liveEmails.insert(row[0].AsText());
  }
  enum class Only { Elsewhere, EarlierRun, FreedLeaf };
  const size_t frameSize = kWalFrameHeaderSize + static_cast<size_t>(pageSize);
  const auto only = [&](const std::string& needle) {
    if (main.find(needle) != std::string::npos) return Only::Elsewhere;
    bool earlierRun = false, freedLeaf = false, other = false;
    for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) {
      const LogFrame& f = frames.at((at - kWalHeaderSize) / frameSize);
      earlierRun = earlierRun || !f.thisRun;
      freedLeaf = freedLeaf || (f.current && !leaves.count(f.page));
      other = other || (f.thisRun && !(f.current && !leaves.count(f.page)));
    }
    if (other || earlierRun == freedLeaf) return Only::Elsewhere;
    return earlierRun ? Only::EarlierRun : Only::FreedLeaf;
  };

  SqliteFile file;
  ASSERT_EQ(OpenDatabase(path + "-wal", file, path), OpenStatus::Opened);
  ContactMap contacts;
  std::optional<DeletedContactList> listed;
  ASSERT_EQ(ContactLoader(file, contacts, listed), LoaderStatus::Loaded);
  ASSERT_TRUE(listed.has_value());
  std::map<int64_t, int> ownerLines;
  std::map<std::string, const DeletedContact*> emailLines;
  std::map<std::string, int> emailCount;
  for (const DeletedContact& line : *listed) {
    EXPECT_FALSE(line.ownerRowid != 0 && line.number.empty() && livePersons.count(line.ownerRowid))
        << "a live person listed: " << line.owner;
    EXPECT_FALSE(liveEmails.count(line.number)) << "a live address listed: " << line.number;
    if (line.ownerRowid != 0) ++ownerLines[line.ownerRowid];
    if (!line.number.empty()) {
      emailLines[line.number] = &line;
      ++emailCount[line.number];
    }
  }
  int onlyEarlier = 0, onlyFreed = 0;
  for (const auto* batch : {&earlier, &freed}) {
    for (const Added& p : *batch) {
      SCOPED_TRACE(p.first);
      const Only person = only(p.first + p.last), email = only(p.email);
      if (person == Only::Elsewhere && email == Only::Elsewhere) continue;
      onlyEarlier += person == Only::EarlierRun;
      onlyFreed += person == Only::FreedLeaf;
      // Named by its own line or by its address's line, with its frame.
      EXPECT_TRUE(ownerLines.count(p.rowid)) << "a person whose bytes lie only in the log";
      if (email == Only::Elsewhere) continue;
      ASSERT_TRUE(emailLines.count(p.email)) << "an address whose bytes lie only in the log";
      EXPECT_EQ(emailCount[p.email], 1);
      const DeletedContact& line = *emailLines.at(p.email);
      EXPECT_EQ(line.owner, p.last + p.first);
      ASSERT_TRUE(line.found.has_value());
      EXPECT_EQ(line.found->file, path + "-wal");
      EXPECT_EQ(line.found->place, Place::LogFrame);
      ASSERT_GE(line.found->frame, 1u);
      const LogFrame& f = frames.at(line.found->frame - 1);
      EXPECT_EQ(f.thisRun, email == Only::FreedLeaf);
      EXPECT_NE(log.substr(f.image, static_cast<size_t>(pageSize)).find(p.email), std::string::npos)
          << "the frame it names holds it";
    }
  }
  // The fixture did what it means to: some persons lie only in each kind of frame.
  EXPECT_GT(onlyEarlier, 0);
  EXPECT_GT(onlyFreed, 0);
  std::printf(
      "[persons from the log] page %d: %d only in an earlier run, %d only on freed leaves\n",
      pageSize, onlyEarlier, onlyFreed);
}

INSTANTIATE_TEST_SUITE_P(PageSizes, PersonsFromTheLog, testing::Values(1024, 4096));

// Telephone numbers whose only copy is the current image of an ABMultiValue leaf freed in a
// committed transaction: each comes back on one line, named by that frame; none live is listed.
class NumbersOnFreedLeaves : public testing::TestWithParam<int> {};

TEST_P(NumbersOnFreedLeaves, EachNumberOnlyAFreedLeafHoldsComesBackOnce) {
  const int pageSize = GetParam();
  fx::TempDir dir;
  const std::string path = dir.File("AddressBook.sqlitedb");
  {
    fx::ContactOptions options;
    options.pageSize = pageSize;
    options.personCount = 40;
    options.deleteFraction = 0;
    options.deleteSinglePhones = false;
    options.computeSurvival = false;
    fx::BuildContactsDb(path, options);
  }
  const int count = pageSize == 1024 ? 80 : 320;
  std::set<std::string> batch;
  std::map<int64_t, std::string> live;
  {
    fx::Database db(path, {.create = false});
    db.Exec("PRAGMA journal_mode=WAL");
    const int64_t lastBefore = db.QueryInt("SELECT max(UID) FROM ABMultiValue");
    // Numbers enough to fill leaves of their own, in one transaction, then deleted in another.
    db.Exec("BEGIN");
    for (int k = 500; k < 500 + count; ++k) AddNumber(db, 3 + k % 30, k);
    db.Exec("COMMIT");
    for (const auto& [uid, number] : NumbersNow(db))
      if (uid > lastBefore) batch.insert(number);
    db.Query("DELETE FROM ABMultiValue WHERE UID > ?", {fx::Value::Int(lastBefore)});
    live = NumbersNow(db);
  }
  ASSERT_EQ(batch.size(), static_cast<size_t>(count));

  // Where each number lies, by the files alone.
  const std::string main = fx::ReadFileBytes(path);
  const std::string log = fx::ReadFileBytes(path + "-wal");
  const std::vector<LogFrame> frames = ReadLogFrames(log, static_cast<uint32_t>(pageSize));
  std::set<uint32_t> leaves;  // ABMultiValue's live leaves, as SQLite has them
  fx::CopyDatabase(path, dir.File("copy.db"));
  {
    fx::Database copy(dir.File("copy.db"), {.create = false});
    for (const fx::Row& row :
         copy.Query("SELECT pageno FROM dbstat WHERE name = 'ABMultiValue' AND pagetype = 'leaf'"))
      leaves.insert(static_cast<uint32_t>(row[0].AsInt()));
  }
  const auto onlyOnFreedLeaf = [&](const std::string& number) {
    return fx::OnlyOnFreedLeafImages(number, main, log, frames, static_cast<uint32_t>(pageSize),
                                     leaves);
  };

  SqliteFile file;
  ASSERT_EQ(OpenDatabase(path + "-wal", file, path), OpenStatus::Opened);
  ContactMap contacts;
  std::optional<DeletedContactList> listed;
  ASSERT_EQ(ContactLoader(file, contacts, listed), LoaderStatus::Loaded);
  ASSERT_TRUE(listed.has_value());
  std::set<std::string> liveNumbers;
  for (const auto& [uid, number] : live) liveNumbers.insert(number);
  std::map<std::string, int> lines;
  std::map<std::string, FoundAt> where;
  for (const DeletedContact& line : *listed) {
    if (line.number.empty()) continue;
    EXPECT_FALSE(liveNumbers.count(line.number)) << "a live number listed: " << line.number;
    ++lines[line.number];
    if (line.found) where[line.number] = *line.found;
  }
  size_t onlyFreed = 0;
  for (const std::string& number : batch) {
    SCOPED_TRACE(number);
    EXPECT_EQ(lines[number], 1) << "each deleted number on one line";
    if (!onlyOnFreedLeaf(number)) continue;
    ++onlyFreed;
    ASSERT_TRUE(where.count(number));
    const FoundAt& at = where.at(number);
    EXPECT_EQ(at.file, path + "-wal");
    EXPECT_EQ(at.place, Place::LogFrame);
    ASSERT_GE(at.frame, 1u);
    ASSERT_LE(at.frame, frames.size());
    EXPECT_TRUE(frames[at.frame - 1].current);
    EXPECT_NE(log.substr(at.offset, 64).find(number), std::string::npos)
        << "the frame it names holds it where it says";
  }
  // The fixture did what it means to: some numbers lie only on freed leaves.
  EXPECT_GT(onlyFreed, 0u);
  std::printf("[numbers on freed leaves] page %d: %zu deleted, %zu only on freed leaves\n",
              pageSize, batch.size(), onlyFreed);
}

INSTANTIATE_TEST_SUITE_P(PageSizes, NumbersOnFreedLeaves, testing::Values(1024, 4096));
}  // namespace
}  // namespace vantrel
