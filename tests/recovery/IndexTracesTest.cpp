// Deleted messages of which only the GUID index entry survives. iOS 7 sms.db
// files are written by SQLite: messages in three conversations, then a whole
// conversation (neighbouring rows) and scattered single rows deleted, then
// new messages written over the freed table pages. What to expect is derived
// from the file and from SQLite: a deleted GUID is a trace when its text is
// nowhere in the file and its bytes lie on a page of the GUID index (dbstat
// names them) or a page no b-tree owns; the rowid is the one SQLite gave.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "fixtures/Fixtures.h"
#include "recovery/IndexTraces.h"
#include "recovery/Loaders.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::OpenOptions;
using fixtures::TempDir;

const char* PlaceWordOf(Place place) {
  switch (place) {
    case Place::Freeblock:
      return "freeblock";
    case Place::Gap:
      return "gap";
    case Place::LeafPage:
      return "leaf-page";
    case Place::FreePage:
      return "free-page";
    case Place::IndexOnly:
      return "index-only";
    default:
      return "other";
  }
}

std::string GuidOf(uint32_t n) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-1A2B-4C3D-8E9F-%012X", n * 2654435761u, n * 97u);
  return text;
}

std::string TextOf(int64_t n) {
  return "message number " + std::to_string(n) + " says something worth keeping for a while";
}

struct Written {
  std::map<std::string, int64_t> rowidOf;     // every GUID inserted -> its rowid
  std::map<std::string, std::string> textOf;  // GUID -> text
  std::set<std::string> deleted;
};

// An iOS 7 sms.db: 3 conversations of 120 messages each, written in turn;
// then the second conversation deleted whole, every 13th message of the
// others, then `refill` new messages (longer texts) that take the freed
// table pages.
Written BuildMessages(const std::string& path, int pageSize, int refill) {
  Written w;
  OpenOptions options;
  options.pageSize = pageSize;
  Database db(path, options);
  db.Exec(fixtures::ReadSchemaFile("ios7_sms.sql"));
  db.Exec(
      "INSERT INTO handle (ROWID, id, country, service) VALUES (1, '+8613800000001', 'cn', "
      "'SMS'), (2, '+8613800000002', 'cn', 'SMS'), (3, '+8613800000003', 'cn', 'SMS')");
  auto insert = db.Prepare(
      "INSERT INTO message (guid, text, handle_id, service, date, is_from_me) VALUES (?, ?, ?, "
      "'SMS', ?, ?)");
  uint32_t n = 1;
  auto add = [&](int handle, const std::string& text) {
    const std::string guid = GuidOf(n++);
    insert.Bind(1, guid).Bind(2, text).Bind(3, handle).Bind(4, 400000000 + int64_t(n) * 60);
    insert.Bind(5, int(n % 2));
    insert.Run();
    w.rowidOf[guid] = db.LastInsertRowid();
    w.textOf[guid] = text;
  };
  db.Exec("BEGIN");
  for (int handle = 1; handle <= 3; ++handle)
    for (int k = 0; k < 120; ++k) add(handle, TextOf(n));
  db.Exec("COMMIT");
  for (const auto& row : db.Query("SELECT guid FROM message WHERE handle_id = 2 OR ROWID % 13 = 0"))
    w.deleted.insert(row[0].AsText());
  db.Exec("DELETE FROM message WHERE handle_id = 2");
  db.Exec("DELETE FROM message WHERE ROWID % 13 = 0");
  db.Exec("BEGIN");
  for (int k = 0; k < refill; ++k) add(1, TextOf(n) + " and a long tail " + std::string(400, 'x'));
  db.Exec("COMMIT");
  return w;
}

struct Loaded {
  MessageMap live;
  MessageList deleted;
  MessageTraceList traces;
};

Loaded Load(const std::string& path) {
  SqliteFile file;
  EXPECT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
  Loaded l;
  EXPECT_EQ(MessageLoader(file, l.live, l.deleted, &l.traces), LoaderStatus::Loaded);
  return l;
}

// Pages of the GUID index and pages no b-tree owns, by SQLite's dbstat.
struct PageOwners {
  std::set<int64_t> indexPages;
  std::set<int64_t> owned;
  int64_t pageCount = 0;
};

PageOwners OwnersOf(const std::string& path) {
  Database db(path);
  PageOwners owners;
  for (const auto& row : db.Query("SELECT name, pageno FROM dbstat")) {
    owners.owned.insert(row[1].AsInt());
    if (row[0].AsText() == "sqlite_autoindex_message_1") owners.indexPages.insert(row[1].AsInt());
  }
  owners.pageCount = db.QueryInt("PRAGMA page_count");
  return owners;
}

// The deleted GUIDs a reader should list as traces: the text is gone from the
// file, the GUID's bytes are left on an index page or a free page.
std::set<std::string> ExpectedTraces(const std::string& bytes, const Written& w,
                                     const PageOwners& owners, int pageSize) {
  std::set<std::string> expected;
  for (const std::string& guid : w.deleted) {
    if (bytes.find(w.textOf.at(guid)) != std::string::npos) continue;  // its record survives
    for (size_t at = bytes.find(guid); at != std::string::npos; at = bytes.find(guid, at + 1)) {
      const int64_t page = static_cast<int64_t>(at / pageSize) + 1;
      const bool free = page > 1 && !owners.owned.count(page);
      if (owners.indexPages.count(page) || free) expected.insert(guid);
    }
  }
  return expected;
}

TEST(IndexTraces, OnlyTheIndexEntryLeftIsListedOnceWithItsRowidAndBytes) {
  for (int pageSize : {1024, 4096}) {
    SCOPED_TRACE(pageSize);
    TempDir dir;
    const std::string path = dir.File("sms.db");
    const Written w = BuildMessages(path, pageSize, 40);
    std::set<std::string> live;
    {
      Database db(path);
      ASSERT_EQ(db.IntegrityCheck(), "ok");
      for (const auto& row : db.Query("SELECT guid FROM message")) live.insert(row[0].AsText());
    }
    const std::string bytes = fixtures::ReadFileBytes(path);
    const std::set<std::string> expected = ExpectedTraces(bytes, w, OwnersOf(path), pageSize);
    const Loaded l = Load(path);

    // The texts the carver brought back name their GUIDs: none of those is a trace.
    std::map<std::string, std::string> guidOfText;
    for (const auto& [guid, text] : w.textOf) guidOfText[text] = guid;
    std::set<std::string> carved;
    for (const MessageRecord& record : l.deleted)
      if (guidOfText.count(record.text)) carved.insert(guidOfText.at(record.text));
    ASSERT_FALSE(carved.empty());  // the fixture leaves some records whole

    std::set<std::string> listed;
    size_t unknownRowids = 0;
    for (const MessageTrace& trace : l.traces) {
      SCOPED_TRACE(trace.guid);
      EXPECT_TRUE(listed.insert(trace.guid).second) << "listed twice";
      EXPECT_FALSE(live.count(trace.guid)) << "a live message";
      EXPECT_FALSE(carved.count(trace.guid)) << "a carved message";
      ASSERT_TRUE(w.rowidOf.count(trace.guid)) << "a GUID never written";
      // A rowid whose bytes a newer cell took is unknown (0), never another one.
      if (trace.rowid == 0)
        ++unknownRowids;
      else
        EXPECT_EQ(trace.rowid, w.rowidOf.at(trace.guid)) << PlaceWordOf(trace.found.place);
      EXPECT_EQ(trace.found.file, path);
      EXPECT_EQ(bytes.substr(trace.found.offset, 36), trace.guid);
      EXPECT_EQ(trace.found.page, trace.found.offset / pageSize + 1);
    }
    // Every surviving entry whose message is gone, and nothing else.
    EXPECT_EQ(listed, expected);
    EXPECT_FALSE(expected.empty());  // the refill wrote over some deleted records
    EXPECT_LE(unknownRowids * 10, l.traces.size());
    std::printf("page %d: %zu deleted, %zu carved, %zu traces, %zu without rowid\n", pageSize,
                w.deleted.size(), carved.size(), l.traces.size(), unknownRowids);
  }
}

// A damaged file: a table leaf page is zeroed, so the index's live entries of
// its rows point at rowids with no live row. Those GUIDs are traces (place
// index-only), the rest of the table still reads.
TEST(IndexTraces, LiveEntriesOfRowsLostToDamageAreTraces) {
  TempDir dir;
  const std::string path = dir.File("sms.db");
  const Written w = BuildMessages(path, 4096, 0);
  std::map<std::string, int64_t> liveBefore;
  int64_t leaf = 0;
  {
    Database db(path);
    for (const auto& row : db.Query("SELECT guid, ROWID FROM message"))
      liveBefore[row[0].AsText()] = row[1].AsInt();
    leaf = db.QueryInt(
        "SELECT pageno FROM dbstat WHERE name = 'message' AND pagetype = 'leaf' ORDER BY pageno "
        "LIMIT 1 OFFSET 3");
  }
  ASSERT_GT(leaf, 0);
  {
    std::string bytes = fixtures::ReadFileBytes(path);
    bytes.replace(static_cast<size_t>(leaf - 1) * 4096, 4096, std::string(4096, '\0'));
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
  const Loaded l = Load(path);
  std::set<std::string> shown;
  for (const auto& [address, list] : l.live)
    for (const MessageRecord& record : list) shown.insert(record.text);
  std::map<std::string, std::string> guidOfText;
  for (const auto& [guid, text] : w.textOf) guidOfText[text] = guid;
  for (const MessageRecord& record : l.deleted)
    if (guidOfText.count(record.text)) shown.insert(record.text);
  // The live rows the reader lost with the page, by what SQLite said before.
  std::map<std::string, int64_t> lost;
  for (const auto& [guid, rowid] : liveBefore)
    if (!shown.count(w.textOf.at(guid))) lost[guid] = rowid;
  ASSERT_FALSE(lost.empty());

  std::map<std::string, int64_t> fromIndex;
  for (const MessageTrace& trace : l.traces)
    if (trace.found.place == Place::IndexOnly) fromIndex[trace.guid] = trace.rowid;
  EXPECT_EQ(fromIndex, lost);
}

// No index on guid, or an index on guid found by its CREATE INDEX text.
TEST(IndexTraces, TheGuidIndexIsFoundByNameOrByItsText) {
  TempDir dir;
  const std::string autoPath = dir.File("auto.db");
  BuildMessages(autoPath, 4096, 0);
  const std::string plainPath = dir.File("plain.db");
  int64_t plainRoot = 0;
  {
    Database db(plainPath);
    db.Exec(
        "CREATE TABLE message (ROWID INTEGER PRIMARY KEY, guid TEXT, text TEXT);"
        "CREATE INDEX message_idx_text ON message(text);"
        "CREATE INDEX message_idx_guid ON message (\"guid\", text);");
    plainRoot = db.QueryInt("SELECT rootpage FROM sqlite_master WHERE name = 'message_idx_guid'");
  }
  const std::string nonePath = dir.File("none.db");
  { Database(nonePath).Exec("CREATE TABLE message (ROWID INTEGER PRIMARY KEY, guid TEXT);"); }

  for (const auto& [path, root] : std::vector<std::pair<std::string, int64_t>>{
           {autoPath, -1}, {plainPath, plainRoot}, {nonePath, 0}}) {
    SCOPED_TRACE(path);
    int64_t want = root;
    if (want < 0)
      want = Database(path).QueryInt(
          "SELECT rootpage FROM sqlite_master WHERE name = 'sqlite_autoindex_message_1'");
    SqliteFile file;
    ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
    EXPECT_EQ(MessageGuidIndexRoot(file), static_cast<uint32_t>(want));
  }
}

}  // namespace
}  // namespace vantrel
