// Where carved records were found: every deleted record the loaders and the row reader list
// names its file, page, byte offset and kind of place, and the offset points at the record's
// own bytes (the test reads the file there). Databases are made by the real SQLite engine and
// deleted from as devices do: a run of neighbouring rows, scattered single rows, the oldest
// calls past the limit, a small table emptied whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "carve/RowReader.h"
#include "export/CategoryNames.h"
#include "fixtures/Fixtures.h"
#include "sources/Loaders.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::OpenOptions;
using fixtures::TempDir;

// The bytes of the file a record names, read once per file.
class Files {
 public:
  const std::string& Of(const std::string& path) {
    auto [it, added] = bytes_.try_emplace(path);
    if (added) it->second = fixtures::ReadFileBytes(path);
    return it->second;
  }

 private:
  std::map<std::string, std::string> bytes_;
};

// Whether `value` (its first bytes, up to a replacement character) lies within `span` bytes
// after the offset the record names: the record's header and cell varints come first.
bool PointsAt(Files& files, const FoundAt& found, const std::string& value, size_t span) {
  const std::string& bytes = files.Of(found.file);
  std::string head = value.substr(0, value.find("\xEF\xBF\xBD"));
  head = head.substr(0, 12);
  if (head.empty() || found.offset >= bytes.size()) return false;
  const size_t at = bytes.find(head, found.offset);
  return at != std::string::npos && at - found.offset <= span;
}

std::string Body(int id) {
  char text[64];
  std::snprintf(text, sizeof text, "note body %05d with some words", id);
  return text;
}

TEST(Provenance, CarvedRowsPointAtTheirBytesOnEveryPageSize) {
  for (int pageSize : {1024, 4096, 65536}) {
    SCOPED_TRACE(pageSize);
    TempDir dir;
    const std::string path = dir.File("notes.db");
    {
      OpenOptions options;
      options.pageSize = pageSize;
      Database db(path, options);
      db.Exec("CREATE TABLE note (id INTEGER PRIMARY KEY, title TEXT, body TEXT, n INTEGER);");
      db.Exec("BEGIN");
      auto insert = db.Prepare("INSERT INTO note (id, title, body, n) VALUES (?, ?, ?, ?)");
      for (int id = 1; id <= 400; ++id) {
        insert.Bind(1, id).Bind(2, "title " + std::to_string(id)).Bind(3, Body(id)).Bind(4, id * 7);
        insert.Run();
      }
      db.Exec("COMMIT");
      // A run of neighbouring rows (one conversation), then scattered single rows.
      db.Exec("DELETE FROM note WHERE id BETWEEN 120 AND 160");
      db.Exec("DELETE FROM note WHERE id % 29 = 0");
    }
    std::set<std::string> liveBodies;
    {
      Database db(path);
      for (const auto& row : db.Query("SELECT body FROM note")) liveBodies.insert(row[0].AsText());
    }

    SqliteFile file;
    ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
    RowList live, carved;
    FoundList found;
    ASSERT_EQ(ReadTable(file, "note", live, carved, TemplateCarvePage, &found), TableRead::Read);
    ASSERT_EQ(found.size(), carved.size());
    Files files;
    std::map<Place, size_t> perPlace;
    size_t pointing = 0, withBody = 0, liveListed = 0;
    for (size_t k = 0; k < carved.size(); ++k) {
      const FoundAt& at = found[k];
      EXPECT_EQ(at.file, path);
      EXPECT_TRUE(at.place == Place::Freeblock || at.place == Place::Gap) << PlaceWord(at.place);
      EXPECT_EQ(at.page, at.offset / pageSize + 1);
      ++perPlace[at.place];
      if (carved[k].size() < 3 || carved[k][2].empty()) continue;
      ++withBody;
      if (liveBodies.count(carved[k][2])) ++liveListed;
      if (PointsAt(files, at, carved[k][2], 40)) ++pointing;
    }
    std::printf(
        "[provenance] page %d: %zu carved (freeblock %zu, gap %zu), %zu point at their "
        "bytes\n",
        pageSize, carved.size(), perPlace[Place::Freeblock], perPlace[Place::Gap], pointing);
    EXPECT_GT(withBody, 0u);
    EXPECT_EQ(pointing, withBody);
    EXPECT_EQ(liveListed, 0u);
  }
}

TEST(Provenance, SmallTableEmptiedWholeComesBackFromItsLeaf) {
  TempDir dir;
  const std::string path = dir.File("tiny.db");
  std::vector<std::string> bodies;
  {
    Database db(path);
    db.Exec("CREATE TABLE tiny (id INTEGER PRIMARY KEY, body TEXT, n INTEGER);");
    for (int id = 1; id <= 6; ++id) {
      bodies.push_back(Body(id));
      db.Query("INSERT INTO tiny (body, n) VALUES (?, ?)",
               {fixtures::Value::Text(Body(id)), fixtures::Value::Int(id)});
    }
    db.Exec("DELETE FROM tiny");
    EXPECT_EQ(db.QueryInt("SELECT count(*) FROM tiny"), 0);
  }
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
  RowList live, carved;
  FoundList found;
  ASSERT_EQ(ReadTable(file, "tiny", live, carved, TemplateCarvePage, &found), TableRead::Read);
  EXPECT_TRUE(live.empty());
  ASSERT_EQ(found.size(), carved.size());
  std::multiset<std::string> back;
  Files files;
  for (size_t k = 0; k < carved.size(); ++k) {
    ASSERT_GE(carved[k].size(), 2u);
    back.insert(carved[k][1]);
    EXPECT_EQ(found[k].place, Place::LeafPage);
    EXPECT_TRUE(PointsAt(files, found[k], carved[k][1], 40)) << carved[k][1];
  }
  // Every row, once.
  EXPECT_EQ(back, std::multiset<std::string>(bodies.begin(), bodies.end()));
}

TEST(Provenance, DeletedMessagesNameWhereTheyLayInFileAndLog) {
  for (int pageSize : {1024, 4096, 65536}) {
    for (fixtures::JournalMode journal :
         {fixtures::JournalMode::Rollback, fixtures::JournalMode::Wal}) {
      SCOPED_TRACE(pageSize);
      SCOPED_TRACE(static_cast<int>(journal));
      TempDir dir;
      fixtures::MessageOptions options;
      options.pageSize = pageSize;
      options.journal = journal;
      options.messageCount = 240;
      const fixtures::MessagesTruth truth = fixtures::BuildMessagesDb(dir.File("sms.db"), options);
      const std::string wal = truth.path + "-wal";
      SqliteFile file;
      ASSERT_NE(OpenDatabase(journal == fixtures::JournalMode::Wal ? wal : "", file, truth.path),
                OpenStatus::NotOpened);
      MessageMap live;
      MessageList deleted;
      ASSERT_EQ(MessageLoader(file, live, deleted), LoaderStatus::Loaded);
      std::set<std::string> liveTexts;
      for (const fixtures::MessageTruth& m : truth.Live()) liveTexts.insert(m.Text());
      Files files;
      std::map<Place, size_t> perPlace;
      size_t pointing = 0;
      for (const MessageRecord& m : deleted) {
        ASSERT_TRUE(m.found.has_value()) << m.text;
        const FoundAt& at = *m.found;
        ++perPlace[at.place];
        // A page of the file whose newer image is in the log holds old cells that are no
        // freeblock, gap or free page: the only place shown as unknown.
        if (at.place == Place::Unknown) EXPECT_TRUE(file.walIndex.count(at.page)) << m.text;
        // A record in the log names the log and its frame; one in the file, no frame.
        const bool inLog = at.file == wal;
        EXPECT_TRUE(inLog || at.file == truth.path) << at.file;
        EXPECT_EQ(inLog, at.frame != 0);
        if (at.place == Place::LogFrame) EXPECT_TRUE(inLog);
        // The record header stands before the GUID; the text follows the GUID.
        if (PointsAt(files, at, m.text, 36 + 64)) ++pointing;
      }
      std::printf(
          "[provenance] sms.db page %d %s: %zu deleted; freeblock %zu gap %zu leaf-page "
          "%zu free-page %zu interior %zu log-frame %zu; %zu point at their bytes\n",
          pageSize, journal == fixtures::JournalMode::Wal ? "wal" : "rollback", deleted.size(),
          perPlace[Place::Freeblock], perPlace[Place::Gap], perPlace[Place::LeafPage],
          perPlace[Place::FreePage], perPlace[Place::InteriorPage], perPlace[Place::LogFrame],
          pointing);
      EXPECT_FALSE(deleted.empty());
      EXPECT_EQ(pointing, deleted.size());
    }
  }
}

TEST(Provenance, DeletedCallsAndNumbersNameWhereTheyLay) {
  TempDir dir;
  fixtures::CallOptions callOptions;
  const fixtures::CallsTruth calls =
      fixtures::BuildCallsDb(dir.File("call_history.db"), callOptions);
  SqliteFile callFile;
  ASSERT_EQ(OpenDatabase("", callFile, calls.path), OpenStatus::Opened);
  CallMap liveCalls, deletedCalls;
  ASSERT_EQ(CallLoader(callFile, liveCalls, deletedCalls), LoaderStatus::Loaded);
  Files files;
  size_t callCount = 0, callsPointing = 0;
  for (const auto& [number, list] : deletedCalls) {
    for (const CallRecord& c : list) {
      ++callCount;
      ASSERT_TRUE(c.found.has_value()) << number;
      EXPECT_EQ(c.found->file, calls.path);
      EXPECT_NE(c.found->place, Place::LogFrame);
      // The offset is the record's rowid serial type; its number follows the header.
      if (PointsAt(files, *c.found, number, 32)) ++callsPointing;
    }
  }
  EXPECT_GT(callCount, 0u);
  EXPECT_EQ(callsPointing, callCount);

  fixtures::ContactOptions contactOptions;
  const fixtures::ContactsTruth contacts =
      fixtures::BuildContactsDb(dir.File("AddressBook.sqlitedb"), contactOptions);
  SqliteFile contactFile;
  ASSERT_EQ(OpenDatabase("", contactFile, contacts.path), OpenStatus::Opened);
  ContactMap people;
  std::optional<DeletedContactList> numbers;
  ASSERT_EQ(ContactLoader(contactFile, people, numbers), LoaderStatus::Loaded);
  ASSERT_TRUE(numbers.has_value());
  size_t numbersPointing = 0;
  for (const DeletedContact& c : *numbers) {
    ASSERT_TRUE(c.found.has_value()) << c.number;
    EXPECT_EQ(c.found->file, contacts.path);
    if (!c.number.empty()) {
      if (PointsAt(files, *c.found, c.number, 64)) ++numbersPointing;
      continue;
    }
    // A deleted person found without its values: its record header, the
    // names (First, Last, ... back to back) right after it.
    for (const auto& p : contacts.persons) {
      if (p.Live() || (p.JoinedName().empty() ? p.organization : p.JoinedName()) != c.owner)
        continue;
      const std::string names = p.first + p.last + p.middle + p.firstPhonetic + p.middlePhonetic +
                                p.lastPhonetic + p.organization;
      if (PointsAt(files, *c.found, names, 80)) {
        ++numbersPointing;
        break;
      }
    }
  }
  EXPECT_FALSE(numbers->empty());
  EXPECT_EQ(numbersPointing, numbers->size());
}

}  // namespace
}  // namespace vantrel
