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

#include "export/CategoryNames.h"
#include "fixtures/Fixtures.h"
#include "sources/Loaders.h"
#include "sources/messages/IndexTraces.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::OpenOptions;
using fixtures::TempDir;

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

TEST(IndexTraces, OnlyTheIndexEntryLeftIsListedOnceWithItsRowidAndBytes) {
  for (int pageSize : {1024, 4096}) {
    SCOPED_TRACE(pageSize);
    TempDir dir;
    const std::string path = dir.File("sms.db");
    const fixtures::IndexTraceTruth w = fixtures::BuildIndexTraceMessages(path, pageSize, 40);
    std::set<std::string> live;
    {
      Database db(path);
      ASSERT_EQ(db.IntegrityCheck(), "ok");
      for (const auto& row : db.Query("SELECT guid FROM message")) live.insert(row[0].AsText());
    }
    const std::string bytes = fixtures::ReadFileBytes(path);
    const std::set<std::string> expected = fixtures::ExpectedIndexTraces(path, w);
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
        EXPECT_EQ(trace.rowid, w.rowidOf.at(trace.guid)) << PlaceWord(trace.found.place);
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
  const fixtures::IndexTraceTruth w = fixtures::BuildIndexTraceMessages(path, 4096, 0);
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
  fixtures::BuildIndexTraceMessages(autoPath, 4096, 0);
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

namespace vantrel {
namespace {

// A large file has its load shared out over two threads, the index traces
// read beside the scan and pruned once every deleted record is filed; a small
// one is read in one pass. The same file with zeros after its last page (no
// record, no trace, but past the size at which the load is shared out) must
// give the same live messages, deleted messages and traces.
TEST(IndexTraces, ASharedOutLoadFindsWhatOnePassFinds) {
  TempDir dir;
  const std::string path = dir.File("sms.db");
  fixtures::BuildIndexTraceMessages(path, 1024, 40);
  const std::string padded = dir.File("padded.db");
  {
    std::string bytes = fixtures::ReadFileBytes(path);
    bytes.append(size_t{3000} * 1024, '\0');
    FILE* out = std::fopen(padded.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
  const Loaded one = Load(path);
  const Loaded shared = Load(padded);
  ASSERT_FALSE(one.traces.empty());
  ASSERT_FALSE(one.deleted.empty());

  ASSERT_EQ(shared.traces.size(), one.traces.size());
  for (size_t k = 0; k < one.traces.size(); ++k) {
    SCOPED_TRACE(one.traces[k].guid);
    EXPECT_EQ(shared.traces[k].guid, one.traces[k].guid);
    EXPECT_EQ(shared.traces[k].rowid, one.traces[k].rowid);
    EXPECT_EQ(shared.traces[k].found.offset, one.traces[k].found.offset);
    EXPECT_EQ(shared.traces[k].found.place, one.traces[k].found.place);
  }
  ASSERT_EQ(shared.deleted.size(), one.deleted.size());
  for (size_t k = 0; k < one.deleted.size(); ++k) {
    EXPECT_EQ(shared.deleted[k].text, one.deleted[k].text);
    EXPECT_EQ(shared.deleted[k].date, one.deleted[k].date);
  }
  ASSERT_EQ(shared.live.size(), one.live.size());
  for (const auto& [address, list] : one.live) {
    ASSERT_TRUE(shared.live.count(address)) << address;
    ASSERT_EQ(shared.live.at(address).size(), list.size()) << address;
    for (size_t k = 0; k < list.size(); ++k)
      EXPECT_EQ(shared.live.at(address)[k].text, list[k].text);
  }
}

}  // namespace
}  // namespace vantrel

namespace vantrel {
namespace {

// A leaf whose freeblock chain breaks at its first link (a damaged file):
// the leaf read carves what it can reach, and the file scan, which then cuts
// the page at its cells instead, still finds the messages in the freeblocks
// beyond the break. The deleted messages are the same as before the damage.
TEST(IndexTraces, MessagesBeyondABrokenFreeblockLinkAreStillFound) {
  TempDir dir;
  const std::string path = dir.File("sms.db");
  const fixtures::IndexTraceTruth w = fixtures::BuildIndexTraceMessages(path, 4096, 0);
  std::vector<int64_t> leaves;
  {
    Database db(path);
    for (const auto& row :
         db.Query("SELECT pageno FROM dbstat WHERE name = 'message' AND pagetype = 'leaf'"))
      leaves.push_back(row[0].AsInt());
  }
  const auto textsOf = [](const MessageList& deleted) {
    std::set<std::string> texts;
    for (const MessageRecord& record : deleted) texts.insert(record.text);
    return texts;
  };
  const std::set<std::string> before = textsOf(Load(path).deleted);
  std::string bytes = fixtures::ReadFileBytes(path);
  const auto u16 = [&](size_t at) {
    return static_cast<size_t>(static_cast<uint8_t>(bytes[at]) << 8 |
                               static_cast<uint8_t>(bytes[at + 1]));
  };
  // A leaf with a second freeblock that holds a deleted message's text, one
  // the file holds nowhere else.
  size_t link = 0;
  std::string beyond;
  for (int64_t leaf : leaves) {
    const size_t start = static_cast<size_t>(leaf - 1) * 4096;
    const size_t first = u16(start + 1);
    if (first == 0) continue;
    const size_t second = u16(start + first);
    if (second <= first) continue;
    const size_t size = u16(start + second + 2);
    for (const std::string& guid : w.deleted) {
      const size_t at = bytes.find(w.textOf.at(guid), start + second);
      if (at != std::string::npos && at + w.textOf.at(guid).size() <= start + second + size &&
          bytes.find(w.textOf.at(guid)) == at && bytes.rfind(w.textOf.at(guid)) == at &&
          before.count(w.textOf.at(guid))) {
        link = start + first;
        beyond = w.textOf.at(guid);
        break;
      }
    }
    if (link != 0) break;
  }
  ASSERT_NE(link, 0u);
  bytes[link] = 0;
  bytes[link + 1] = 1;  // into the page header: the chain is broken there
  {
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
  const std::set<std::string> after = textsOf(Load(path).deleted);
  EXPECT_TRUE(after.count(beyond)) << beyond;
  EXPECT_EQ(after, before);
}

// Bytes of deleted messages left in the gap of an index leaf in use (SQLite
// gives a b-tree a freed page without reading it, so the fixture places
// them: a deleted record moved from the free page SQLite left it on). The
// file scan finds it there, and never reads the index's live entries, which
// are GUID-shaped keys here, as messages.
TEST(IndexTraces, AMessageLeftInTheGapOfAnIndexPageIsFound) {
  TempDir dir;
  const std::string path = dir.File("sms.db");
  const fixtures::IndexTraceTruth w = fixtures::BuildIndexTraceMessages(path, 4096, 0);
  int64_t indexLeaf = 0;
  std::set<int64_t> freePages;
  {
    Database db(path);
    db.Exec("CREATE TABLE tag (key TEXT); CREATE INDEX tag_key ON tag(key); BEGIN");
    auto insert = db.Prepare("INSERT INTO tag (key) VALUES (?)");
    for (int k = 0; k < 160; ++k) {
      char key[48];
      std::snprintf(key, sizeof key, "%08X-0000-4000-8000-%012X", k * 40503u, k * 7u);
      insert.Bind(1, std::string(key)).Run();
    }
    db.Exec("COMMIT");
    indexLeaf = db.QueryInt(
        "SELECT pageno FROM dbstat WHERE name = 'tag_key' AND pagetype = 'leaf' LIMIT 1");
    std::set<int64_t> owned;
    for (const auto& row : db.Query("SELECT pageno FROM dbstat")) owned.insert(row[0].AsInt());
    const int64_t pages = db.QueryInt("PRAGMA page_count");
    for (int64_t p = 2; p <= pages; ++p)
      if (!owned.count(p)) freePages.insert(p);
  }
  ASSERT_GT(indexLeaf, 0);
  std::string bytes = fixtures::ReadFileBytes(path);
  const size_t leafStart = static_cast<size_t>(indexLeaf - 1) * 4096;
  const auto u16 = [&](size_t at) {
    return static_cast<size_t>(static_cast<uint8_t>(bytes[at]) << 8 |
                               static_cast<uint8_t>(bytes[at + 1]));
  };
  const size_t gapBegin = leafStart + 8 + 2 * u16(leafStart + 3);
  const size_t gapEnd = leafStart + u16(leafStart + 5);
  // A deleted message whose GUID and text lie on a free page, with room
  // before the GUID for its cell's varints and record header.
  std::string moved;
  size_t from = 0, length = 0;
  for (const std::string& guid : w.deleted) {
    const size_t at = bytes.find(guid);
    if (at == std::string::npos || !freePages.count(static_cast<int64_t>(at / 4096) + 1)) continue;
    const size_t text = bytes.find(w.textOf.at(guid), at);
    if (at % 4096 < 80 || text == std::string::npos || text / 4096 != at / 4096) continue;
    from = at - 80;
    length = text + w.textOf.at(guid).size() - from;
    if (length + 16 > gapEnd - gapBegin) continue;
    moved = guid;
    break;
  }
  ASSERT_FALSE(moved.empty());
  bytes.replace(gapBegin + 8, length, bytes.substr(from, length));
  bytes.replace(from, length, std::string(length, '\0'));
  {
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }

  const Loaded l = Load(path);
  // Every text is a message's, or the start of one whose tail the move cut.
  const auto written = [&](const std::string& text) {
    for (const auto& [guid, full] : w.textOf)
      if (!text.empty() && full.compare(0, text.size(), text) == 0) return true;
    return false;
  };
  size_t found = 0;
  for (const MessageRecord& record : l.deleted) {
    EXPECT_TRUE(written(record.text)) << "not a message: " << record.text;
    if (record.text == w.textOf.at(moved)) {
      ++found;
      ASSERT_TRUE(record.found.has_value());
      EXPECT_EQ(record.found->page, static_cast<uint32_t>(indexLeaf));
    }
  }
  EXPECT_EQ(found, 1u);
}

}  // namespace
}  // namespace vantrel
