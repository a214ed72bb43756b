// The message loader on small sms.db files written by SQLite itself: how live
// messages are filed (chat through the join table, handle otherwise, number
// clean-up), which carved messages are listed as deleted, and the GUID carver
// on a real record's bytes placed at the edges of a block.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "carve/RowReader.h"
#include "fixtures/Fixtures.h"
#include "sources/Loaders.h"
#include "sources/messages/MessageCarver.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::TempDir;
using fixtures::Value;

std::string Guid(int n) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-1A2B-4C3D-8E9F-%012X", 0x5EED0000 + n, n * 7919);
  return text;
}

// A small sms.db of one iOS version, written row by row.
class SmsDb {
 public:
  explicit SmsDb(int iosVersion, int pageSize = 4096)
      : path_(dir_.File("sms.db")), db_(path_, Options(pageSize)) {
    db_.Exec(fixtures::ReadSchemaFile(iosVersion == 6 ? "ios6_sms.sql" : "ios7_sms.sql"));
  }

  int64_t Handle(const std::string& id) {
    db_.Query("INSERT INTO handle (id, country, service) VALUES (?, 'cn', 'SMS')",
              {Value::Text(id)});
    return db_.LastInsertRowid();
  }
  int64_t Chat(const std::string& identifier, const std::string& account, bool group = false) {
    db_.Query(
        "INSERT INTO chat (guid, style, state, chat_identifier, service_name, account_login) "
        "VALUES (?, ?, 3, ?, 'SMS', ?)",
        {Value::Text((group ? "SMS;+;" : "SMS;-;") + identifier), Value::Int(group ? 43 : 45),
         Value::Text(identifier), Value::Text(account)});
    return db_.LastInsertRowid();
  }
  // Inserts a message (and its join row when chat is not 0); returns its rowid.
  int64_t Message(int n, const Value& text, int64_t handle, int64_t chat, int64_t date,
                  int64_t dateRead = 0, int isSent = 0, const std::string& guid = "") {
    db_.Query(
        "INSERT INTO message (guid, text, handle_id, service, account, date, date_read, "
        "is_from_me, is_sent) VALUES (?, ?, ?, 'SMS', 'e:', ?, ?, ?, ?)",
        {Value::Text(guid.empty() ? Guid(n) : guid), text, Value::Int(handle), Value::Int(date),
         Value::Int(dateRead), Value::Int(isSent), Value::Int(isSent)});
    int64_t rowid = db_.LastInsertRowid();
    if (chat != 0)
      db_.Query("INSERT INTO chat_message_join (chat_id, message_id) VALUES (?, ?)",
                {Value::Int(chat), Value::Int(rowid)});
    return rowid;
  }
  Database& db() { return db_; }
  const std::string& path() const { return path_; }

  // Closes SQLite's connection and opens the file with Vantrel's reader.
  void OpenWithReader(SqliteFile& file) {
    db_.Close();
    ASSERT_EQ(OpenDatabase("", file, path_), OpenStatus::Opened);
  }

 private:
  static fixtures::OpenOptions Options(int pageSize) {
    fixtures::OpenOptions options;
    options.pageSize = pageSize;
    return options;
  }
  TempDir dir_;
  std::string path_;
  Database db_;
};

class MessageLoaderByVersion : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Ios, MessageLoaderByVersion, ::testing::Values(6, 7));

TEST(MessageLoader, DatabaseWithoutMessageTableLeavesMapsUnchanged) {
  TempDir dir;
  {
    Database db(dir.File("other.db"));
    db.Exec(
        "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY, guid TEXT); INSERT INTO chat VALUES (1, "
        "'x');");
  }
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, dir.File("other.db")), OpenStatus::Opened);
  MessageMap live{{"13800138000", {MessageRecord{}}}};
  MessageList deleted;
  EXPECT_EQ(MessageLoader(file, live, deleted), LoaderStatus::TableAbsent);
  ASSERT_EQ(live.size(), 1u);
  EXPECT_EQ(live.begin()->first, "13800138000");
  EXPECT_TRUE(deleted.empty());
}

TEST_P(MessageLoaderByVersion, LiveMessagesAreFiledUnderTheirChatsAddress) {
  SmsDb sms(GetParam());
  // The group chat comes first, so chat and handle rowids no longer line up:
  // handle 1 belongs to chat 2.
  const int64_t wang = sms.Handle("+8613800138000");
  const int64_t li = sms.Handle("+8613911112222");
  const int64_t zhao = sms.Handle("zhao@example.com");
  const int64_t shortCode = sms.Handle("955");
  const int64_t group = sms.Chat("chat583920174", "P:+8618600000000", true);
  const int64_t wangChat = sms.Chat("+8613800138000", "P:+8618600000001");
  const int64_t liChat = sms.Chat("+8613911112222", "P:+8618600000002");
  sms.db().Exec("INSERT INTO chat_handle_join VALUES (1, 1), (1, 2), (1, 3), (2, 1), (3, 2)");
  ASSERT_EQ(wang, 1);
  ASSERT_EQ(group, 1);

  sms.Message(1, Value::Text("你好，老王"), wang, wangChat, 420000000, 420000100, 0);
  sms.Message(2, Value::Text("group hello 👋"), li, group, 420000200, 0, 0);
  sms.Message(3, Value::Text("mine, to the group"), 0, group, 420000300, 0, 1);
  sms.Message(4, Value::Text("line one\nline two"), li, liChat, 420000400, 420000500, 1);
  sms.Message(5, Value::Text("no chat: handle only"), zhao, 0, 420000600);
  sms.Message(6, Value::Text("【银行】验证码 1234"), shortCode, 0, 420000700);
  sms.Message(7, Value::Text("second to wang"), wang, wangChat, 420000800, 0, 1);

  SqliteFile file;
  sms.OpenWithReader(file);
  MessageMap live;
  MessageList deleted;
  ASSERT_EQ(MessageLoader(file, live, deleted), LoaderStatus::Loaded);

  auto texts = [&](const std::string& key) {
    std::vector<std::string> out;
    for (const MessageRecord& r : live[key]) out.push_back(r.text);
    return out;
  };
  EXPECT_EQ(live.size(), 5u);
  EXPECT_EQ(texts("13800138000"), (std::vector<std::string>{"你好，老王", "second to wang"}));
  EXPECT_EQ(texts("chat583920174"),
            (std::vector<std::string>{"group hello 👋", "mine, to the group"}));
  EXPECT_EQ(texts("13911112222"), (std::vector<std::string>{"line one\nline two"}));
  EXPECT_EQ(texts("zhao@example.com"), (std::vector<std::string>{"no chat: handle only"}));
  // A short service number keeps its digits.
  EXPECT_EQ(texts("955"), (std::vector<std::string>{"【银行】验证码 1234"}));

  const MessageRecord& first = live["13800138000"][0];
  EXPECT_EQ(first.account(), "P:+8618600000001");
  EXPECT_EQ(first.service, "SMS");
  EXPECT_EQ(first.date, 420000000);
  EXPECT_EQ(first.readDate, 420000100);
  EXPECT_EQ(first.sent, 0);
  EXPECT_EQ(live["13800138000"][1].sent, 1);
  EXPECT_EQ(live["chat583920174"][1].account(), "P:+8618600000000");
  // Without a chat there is no account.
  EXPECT_EQ(live["zhao@example.com"][0].account(), "");
  EXPECT_TRUE(deleted.empty());
}

TEST_P(MessageLoaderByVersion, EmptyTextIsFiledWhenLiveAndDroppedWhenCarved) {
  SmsDb sms(GetParam());
  const int64_t h = sms.Handle("+8613800138000");
  const int64_t c = sms.Chat("+8613800138000", "e:");
  sms.Message(1, Value::Text(""), h, c, 430000000);
  sms.Message(2, Value::Null(), h, c, 430000100);
  sms.Message(3, Value::Text("keep me around"), h, c, 430000200);
  sms.Message(4, Value::Text(""), h, c, 430000300);
  sms.Message(5, Value::Text("deleted with text"), h, c, 430000400);
  sms.Message(6, Value::Text("last live one"), h, c, 430000500);
  sms.db().Exec("DELETE FROM message WHERE date IN (430000300, 430000400)");

  SqliteFile file;
  sms.OpenWithReader(file);
  MessageMap live;
  MessageList deleted;
  ASSERT_EQ(MessageLoader(file, live, deleted), LoaderStatus::Loaded);
  ASSERT_EQ(live["13800138000"].size(), 4u);
  EXPECT_EQ(live["13800138000"][0].text, "");
  EXPECT_EQ(live["13800138000"][1].text, "");
  const MessageList& list = deleted;
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].text, "deleted with text");
  EXPECT_EQ(list[0].date, 430000400);
  EXPECT_EQ(list[0].service, "SMS");
  EXPECT_EQ(list[0].account(), "");
}

TEST_P(MessageLoaderByVersion, DeletedMessageIsListedOnceAndRewrittenLiveOnesNever) {
  SmsDb sms(GetParam());
  const int64_t h = sms.Handle("+8613800138000");
  const int64_t c = sms.Chat("+8613800138000", "e:");
  for (int n = 1; n <= 12; ++n)
    sms.Message(n, Value::Text("message number " + std::to_string(n) + std::string(n * 5, 'x')), h,
                c, 440000000 + n);
  // A lower-case GUID is not a device GUID and is never carved.
  sms.Message(13, Value::Text("lower-case guid"), h, c, 440000013, 0, 0,
              "abcdef01-1a2b-4c3d-8e9f-000000000001");
  sms.db().Exec("DELETE FROM message WHERE date IN (440000004, 440000013)");
  // Rewriting a row leaves its old bytes, same GUID, in free space.
  sms.db().Exec(
      "UPDATE message SET text = 'now much shorter', date_read = 440009999 "
      "WHERE date = 440000009");

  SqliteFile file;
  sms.OpenWithReader(file);
  RowList liveRows, carvedRows;
  ASSERT_EQ(LoadMessageTable(file, liveRows, carvedRows), TableRead::Read);
  // The freeblock record is met twice: on its page and again by the file scan.
  int seen = 0;
  for (const RowValues& row : carvedRows) {
    ASSERT_GE(row.size(), 2u);
    EXPECT_EQ(row[0], "");
    if (row[1] == Guid(4)) ++seen;
    EXPECT_NE(row[1], "abcdef01-1a2b-4c3d-8e9f-000000000001");
  }
  EXPECT_GE(seen, 2);

  MessageMap live;
  MessageList deleted;
  ASSERT_EQ(MessageLoader(file, live, deleted), LoaderStatus::Loaded);
  const MessageList& list = deleted;
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].text, "message number 4" + std::string(20, 'x'));
  EXPECT_EQ(list[0].date, 440000004);
  EXPECT_EQ(list[0].sent, 0);
  EXPECT_EQ(live["13800138000"].size(), 11u);
}

// A message edited and a conversation deleted after the last checkpoint: the log's older
// frames hold the message's earlier text and the deleted rows. The earlier text is listed once,
// marked as an earlier version of a live message; the deleted ones plainly; each names its frame.
TEST_P(MessageLoaderByVersion, LogFramesGiveEarlierVersionsAndDeletedRowsWithTheirFrames) {
  SmsDb sms(GetParam());
  sms.db().Exec("PRAGMA journal_mode=WAL");
  const int64_t a = sms.Handle("+8613800138000");
  const int64_t b = sms.Handle("+8613900139000");
  const int64_t ca = sms.Chat("+8613800138000", "e:");
  const int64_t cb = sms.Chat("+8613900139000", "e:");
  for (int n = 1; n <= 10; ++n)
    sms.Message(n, Value::Text("first conversation " + std::to_string(n)), a, ca, 450000000 + n);
  for (int n = 11; n <= 16; ++n)
    sms.Message(n, Value::Text("second conversation " + std::to_string(n)), b, cb, 450000000 + n);
  sms.db().Exec("UPDATE message SET text = 'edited afterwards' WHERE guid = '" + Guid(3) + "'");
  // The whole second conversation goes, as a device deletes one.
  sms.db().Exec("DELETE FROM message WHERE handle_id = " + std::to_string(b));
  sms.db().Exec("DELETE FROM chat_message_join WHERE chat_id = " + std::to_string(cb));
  const std::string wal = sms.path() + "-wal";
  ASSERT_GT(fixtures::InspectWal(wal).frameCount, 0);
  sms.db().Close();
  SqliteFile file;
  ASSERT_EQ(OpenDatabase(wal, file, sms.path()), OpenStatus::Opened);

  MessageMap live;
  MessageList deleted;
  ASSERT_EQ(MessageLoader(file, live, deleted), LoaderStatus::Loaded);
  std::multiset<std::string> earlier, gone;
  for (const MessageRecord& m : deleted) {
    ASSERT_TRUE(m.found.has_value()) << m.text;
    if (m.earlierVersion) {
      earlier.insert(m.text);
      EXPECT_EQ(m.found->place, Place::LogFrame);
      EXPECT_EQ(m.found->file, wal);
      EXPECT_GE(m.found->frame, 1u);
    } else {
      gone.insert(m.text);
    }
  }
  EXPECT_EQ(earlier, std::multiset<std::string>{"first conversation 3"});
  std::multiset<std::string> deletedTexts;
  for (int n = 11; n <= 16; ++n) deletedTexts.insert("second conversation " + std::to_string(n));
  EXPECT_EQ(gone, deletedTexts);
  // The edited message itself is live with its new text.
  bool edited = false;
  for (const MessageRecord& m : live["13800138000"]) edited |= m.text == "edited afterwards";
  EXPECT_TRUE(edited);
}

// The page of the only message cell, and where the cell starts in it.
struct OneCellPage {
  std::vector<uint8_t> page;
  size_t cell = 0;
  size_t guidAt = 0;
};

OneCellPage ReadOneCell(SqliteFile& file, const std::string& guid) {
  OneCellPage out;
  const TableInfo* table = FindTable(file, "message");
  if (!table || table->pageSets.empty() || table->pageSets[0].leafPages.empty()) return out;
  ReadPageNumber(file, table->pageSets[0].leafPages[0], out.page);
  out.cell = (out.page[8] << 8) | out.page[9];
  const uint8_t* hit = static_cast<const uint8_t*>(
      memmem(out.page.data(), out.page.size(), guid.data(), guid.size()));
  out.guidAt = hit ? static_cast<size_t>(hit - out.page.data()) : 0;
  return out;
}

TEST_P(MessageLoaderByVersion, CarverReadsARecordAtTheEdgesOfItsBlock) {
  SmsDb sms(GetParam());
  const std::string text = "路上小心，到了给我发短信。Take care on the road!";
  sms.Message(1, Value::Text(text), 1, 0, 450000000, 450000010, 1);
  SqliteFile file;
  sms.OpenWithReader(file);
  OneCellPage one = ReadOneCell(file, Guid(1));
  ASSERT_GT(one.guidAt, one.cell);
  const std::vector<ColumnDef>& columns = FindTable(file, "message")->columns;

  // The cell copied to the start of a block, its first four bytes overwritten
  // the way a freeblock header overwrites them: the GUID sits far closer to the
  // block start than 200 bytes.
  std::vector<uint8_t> cell(one.page.begin() + one.cell, one.page.end());
  cell[0] = 0x00, cell[1] = 0x00, cell[2] = 0x01, cell[3] = 0x20;
  RowList carved;
  CarveMessagesByGuid(columns, file, ByteView(cell.data(), cell.size()), carved);
  ASSERT_EQ(carved.size(), 1u);
  ASSERT_GE(carved[0].size(), 29u);
  EXPECT_EQ(carved[0][1], Guid(1));
  EXPECT_EQ(carved[0][2], text);
  EXPECT_EQ(carved[0][11], "SMS");
  EXPECT_EQ(carved[0][15], "450000000");
  EXPECT_EQ(carved[0][16], "450000010");
  EXPECT_EQ(carved[0][28], "1");

  // The block ends inside the text: the text is cut there, nothing follows.
  const size_t body = one.guidAt - one.cell;
  const size_t cut = body + 36 + 9;  // after three whole characters
  std::vector<uint8_t> shortBlock(cell.begin(), cell.begin() + cut);
  carved.clear();
  CarveMessagesByGuid(columns, file, ByteView(shortBlock.data(), shortBlock.size()), carved);
  ASSERT_EQ(carved.size(), 1u);
  ASSERT_EQ(carved[0].size(), 3u);
  EXPECT_EQ(carved[0][2], text.substr(0, 9));

  // The block ends inside the GUID, or starts after the header: nothing.
  for (size_t end : {body + 35, body + 1, body}) {
    carved.clear();
    CarveMessagesByGuid(columns, file, ByteView(cell.data(), end), carved);
    EXPECT_TRUE(carved.empty()) << end;
  }
  carved.clear();
  CarveMessagesByGuid(columns, file, ByteView(cell.data() + 10, cell.size() - 10), carved);
  EXPECT_TRUE(carved.empty());
}

// A long text continues on overflow pages, which deleting the message hands
// to the freelist. Pages that become plain freelist leaves keep their bytes,
// so the whole text comes back; the page that becomes the freelist's trunk
// has the start of its content overwritten by the freelist's links, and that
// stretch alone is lost (shown as one U+FFFD), the rest of the text and the
// fields after it still read.
TEST_P(MessageLoaderByVersion, LongDeletedMessagesAreJoinedFromTheirFreedOverflowPages) {
  SmsDb sms(GetParam(), 1024);
  const int64_t h = sms.Handle("+8613800138000");
  const int64_t c = sms.Chat("+8613800138000", "e:");
  // About 3000 bytes: the record's payload then keeps only the least local
  // part on its 1024-byte page (its size past the first page, modulo the
  // overflow page content, is more than a page holds), so the cell is small
  // and its overflow page number sits close after the GUID.
  auto longText = [](const std::string& tag) {
    std::string text;
    for (int j = 0; j < 60; ++j)
      text +=
          tag + std::to_string(j) + "：今天的会议记录 minutes, line " + std::to_string(j) + "\n";
    text.resize(3004, '.');
    return text;
  };
  const std::string first = longText("甲"), second = longText("乙");
  // Every statement commits on its own, so the overflow pages are written
  // to the file before the deletes free them.
  sms.Message(1, Value::Text(first), h, c, 460000001, 460000101, 1);
  for (int n = 2; n <= 6; ++n)
    sms.Message(n, Value::Text("short " + std::to_string(n)), h, c, 460000000 + n);
  sms.Message(7, Value::Text(second), h, c, 460000007, 460000107, 0);
  sms.Message(8, Value::Text("short 8"), h, c, 460000008);
  sms.db().Exec("DELETE FROM message WHERE date = 460000001");
  sms.db().Exec("DELETE FROM message WHERE date = 460000007");

  SqliteFile file;
  sms.OpenWithReader(file);
  MessageMap live;
  MessageList deleted;
  ASSERT_EQ(MessageLoader(file, live, deleted), LoaderStatus::Loaded);
  const MessageRecord* a = nullptr;
  const MessageRecord* b = nullptr;
  for (const MessageRecord& r : deleted) {
    if (r.text.rfind("甲0", 0) == 0) a = &r;
    if (r.text.rfind("乙0", 0) == 0) b = &r;
  }
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->text, second);
  EXPECT_EQ(b->date, 460000007);
  EXPECT_EQ(b->readDate, 460000107);
  EXPECT_EQ(b->sent, 0);

  ASSERT_NE(a, nullptr);
  const std::string lostMark = "\xEF\xBF\xBD";
  const size_t mark = a->text.find(lostMark);
  ASSERT_NE(mark, std::string::npos) << a->text;
  // Before the mark: the start of the text; after it: the text's end.
  const std::string after = a->text.substr(mark + lostMark.size());
  EXPECT_EQ(first.compare(0, mark, a->text, 0, mark), 0);
  ASSERT_GT(after.size(), first.size() / 2);
  EXPECT_EQ(first.compare(first.size() - after.size(), after.size(), after), 0);
  EXPECT_LT(a->text.size(), first.size());
  EXPECT_EQ(a->date, 460000001);
  EXPECT_EQ(a->readDate, 460000101);
  EXPECT_EQ(a->sent, 1);
}

// A device that added columns to "message" keeps its older rows with fewer
// values. A live one of 20 values is filed with its date and read date and
// the sent flag unknown (255); a deleted one is carved by its own header size
// (its payload length and rowid take two bytes each, so the freeblock header
// leaves that intact).
TEST(MessageLoader, RowsWrittenBeforeColumnsWereAddedAreReadAndCarved) {
  TempDir dir;
  const std::string path = dir.File("sms.db");
  {
    Database db(path);
    // The iOS 7 statements of the tables the loader reads, "message" cut to
    // its first 20 columns; the other 18 are added once rows exist.
    const std::string schema = fixtures::ReadSchemaFile("ios7_sms.sql");
    std::vector<std::string> messageColumns;
    for (size_t at = 0; at < schema.size();) {
      size_t end = schema.find('\n', at);
      if (end == std::string::npos) end = schema.size();
      const std::string line = schema.substr(at, end - at);
      at = end + 1;
      if (line.rfind("CREATE TABLE message (", 0) == 0) {
        const std::string inside = line.substr(22, line.rfind(')') - 22);
        for (size_t from = 0; from < inside.size();) {
          size_t comma = inside.find(", ", from);
          if (comma == std::string::npos) comma = inside.size();
          messageColumns.push_back(inside.substr(from, comma - from));
          from = comma + 2;
        }
      } else if (line.rfind("CREATE TABLE chat ", 0) == 0 ||
                 line.rfind("CREATE TABLE handle ", 0) == 0 ||
                 line.rfind("CREATE TABLE chat_message_join ", 0) == 0) {
        db.Exec(line);
      }
    }
    ASSERT_EQ(messageColumns.size(), 38u);
    std::string create = "CREATE TABLE message (";
    for (size_t k = 0; k < 20; ++k) create += (k ? ", " : "") + messageColumns[k];
    db.Exec(create + ")");
    db.Exec("INSERT INTO handle (ROWID, id, service) VALUES (1, '+8613800138000', 'SMS')");
    auto insert = [&](int64_t rowid, const std::string& text, int64_t date) {
      db.Query(
          "INSERT INTO message (ROWID, guid, text, handle_id, service, date, date_read) "
          "VALUES (?, ?, ?, 1, 'SMS', ?, ?)",
          {Value::Int(rowid), Value::Text(Guid(static_cast<int>(rowid))), Value::Text(text),
           Value::Int(date), Value::Int(date + 60)});
    };
    for (int64_t rowid = 1000; rowid < 1010; ++rowid)
      insert(
          rowid,
          "old row " + std::to_string(rowid) +
              " written before the columns were added, long enough for a two-byte payload length",
          470000000 + rowid);
    for (size_t k = 20; k < messageColumns.size(); ++k)
      db.Exec("ALTER TABLE message ADD COLUMN " + messageColumns[k]);
    insert(2000, "new row with every column", 470002000);
    db.Exec("UPDATE message SET is_sent = 1 WHERE ROWID = 2000");
    db.Exec("DELETE FROM message WHERE ROWID = 1004");
  }
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
  MessageMap live;
  MessageList deleted;
  ASSERT_EQ(MessageLoader(file, live, deleted), LoaderStatus::Loaded);
  const auto& list = live["13800138000"];
  ASSERT_EQ(list.size(), 10u);
  EXPECT_EQ(list[0].text,
            "old row 1000 written before the columns were added, long enough for a two-byte "
            "payload length");
  EXPECT_EQ(list[0].date, 470001000);
  EXPECT_EQ(list[0].readDate, 470001060);
  EXPECT_FALSE(list[0].sent.has_value());
  EXPECT_FALSE(list[0].fromMe.has_value());
  EXPECT_EQ(list[9].text, "new row with every column");
  EXPECT_EQ(list[9].sent, 1);
  ASSERT_EQ(deleted.size(), 1u);
  const MessageRecord& old = deleted[0];
  EXPECT_EQ(old.text,
            "old row 1004 written before the columns were added, long enough for a two-byte "
            "payload length");
  EXPECT_EQ(old.date, 470001004);
  EXPECT_EQ(old.readDate, 470001064);
  EXPECT_FALSE(old.sent.has_value());
  EXPECT_FALSE(old.fromMe.has_value());
}

// Damaged bytes are ordinary input: a fixture with bytes scrambled all over
// its pages, or cut short in the middle of a page, is read without a crash or
// a read outside any buffer (the sanitizer build checks the latter), and what
// is still intact is still found.
TEST(MessageLoader, DamagedFilesAreReadWithoutCrashing) {
  TempDir dir;
  const std::string path = dir.File("sms.db");
  fixtures::MessageOptions options;
  options.iosVersion = 7;
  options.pageSize = 1024;
  options.messageCount = 150;
  options.longTexts = 2;
  options.computeSurvival = false;
  fixtures::BuildMessagesDb(path, options);
  const std::string original = fixtures::ReadFileBytes(path);
  ASSERT_GT(original.size(), 8u * 1024);

  std::mt19937_64 random(7);
  for (int round = 0; round < 12; ++round) {
    std::string bytes = original;
    if (round % 3 == 2) {
      bytes.resize(bytes.size() - 1024 - 517);  // cut inside a page
    } else {
      // Leave the header and the schema page, scramble every 50th byte (or a
      // byte of every cell pointer array and freeblock header) after them.
      for (size_t at = 1024 + random() % 50; at < bytes.size(); at += 1 + random() % 100)
        bytes[at] = static_cast<char>(random());
      if (round % 3 == 1)
        for (size_t page = 1024; page < bytes.size(); page += 1024)
          for (size_t k = 1; k < 12; ++k) bytes[page + k] = static_cast<char>(random());
    }
    const std::string damaged = dir.File("damaged" + std::to_string(round) + ".db");
    {
      std::FILE* out = std::fopen(damaged.c_str(), "wb");
      ASSERT_NE(out, nullptr);
      std::fwrite(bytes.data(), 1, bytes.size(), out);
      std::fclose(out);
    }
    SqliteFile file;
    ASSERT_EQ(OpenDatabase("", file, damaged), OpenStatus::Opened);
    MessageMap live;
    MessageList deleted;
    MessageLoader(file, live, deleted);
    size_t count = deleted.size();
    for (const auto& [address, records] : live) count += records.size();
    if (round % 3 == 2) {
      EXPECT_GT(count, 0u) << "a cut file still holds messages";
    }
  }
}

}  // namespace
}  // namespace vantrel
