// What iOS 16 keeps around messages, read from an sms.db made by SQLite: reactions shown on
// the message they point at (a removal taking one back) and never as messages, the message a
// reply answers, edit and unsend times with the texts the edit history keeps, attachments,
// and Recently Deleted rows listed once, as deleted, with their time and conversation. Every
// expectation comes from SQLite's own answer to a query on the same file, or from what the
// fixture wrote.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fixtures/Fixtures.h"
#include "fixtures/Modern.h"
#include "load/BackupLoader.h"
#include "sources/messages/EditHistory.h"
#include "load/LoadObserver.h"
#include "sources/Loaders.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

namespace fx = fixtures;

constexpr int64_t kNanos = 1'000'000'000;

struct Loaded {
  MessageMap live;
  MessageList deleted;
};

Loaded Load(const std::string& path) {
  SqliteFile db;
  EXPECT_NE(OpenDatabase("", db, path), OpenStatus::NotOpened);
  Loaded loaded;
  EXPECT_EQ(MessageLoader(db, loaded.live, loaded.deleted), LoaderStatus::Loaded);
  ReadEditHistories(loaded.live, loaded.deleted);
  return loaded;
}

// The live record a user would recognise by its words and time.
const MessageRecord* LiveRecord(const Loaded& loaded, const fx::ModernMessage& m) {
  for (const auto& [address, records] : loaded.live)
    for (const MessageRecord& r : records)
      if (r.text == m.text && r.date == m.seconds) return &r;
  return nullptr;
}

const fx::ModernMessage& ByRowid(const fx::ModernMessagesTruth& truth, int64_t rowid) {
  for (const fx::ModernMessage& m : truth.messages)
    if (m.rowid == rowid) return m;
  throw std::logic_error("no such message");
}

size_t LiveCount(const Loaded& loaded) {
  size_t n = 0;
  for (const auto& [address, records] : loaded.live) n += records.size();
  return n;
}

fx::ModernMessagesTruth Build(const std::string& path) {
  fx::ModernMessageOptions options;
  options.iosVersion = 16;
  options.messageCount = 48;
  options.modernExtras = true;
  return fx::BuildModernMessagesDb(path, options);
}

TEST(MessageExtras, ReactionsSitOnTheirMessagesAndAreNoMessagesOfTheirOwn) {
  fx::TempDir dir;
  const fx::ModernMessagesTruth truth = Build(dir.File("sms.db"));
  {
    // Odd rows a phone can hold: a reaction to a message no longer there, and a removal of a
    // reaction never made. Neither may show up anywhere.
    fx::Database sql(truth.path, {.create = false});
    fx::RegisterAppleFunctionStubs(sql);
    sql.Query(
        "INSERT INTO message (guid, text, date, is_from_me, associated_message_guid, "
        "associated_message_type) VALUES ('R-ORPHAN', 'Liked a message', 1, 1, 'p:0/GONE', 2001)");
    sql.Query(
        "INSERT INTO message (guid, text, date, is_from_me, associated_message_guid, "
        "associated_message_type) VALUES ('R-UNDO', 'Removed a like', 2, 1, ?, 3001)",
        {fx::Value::Text("p:0/" + truth.messages[3].guid)});
  }
  const Loaded loaded = Load(truth.path);

  fx::Database sql(truth.path, {.create = false, .readOnly = true});
  // SQLite says which message each reaction row points at, prefix or not.
  std::map<int64_t, std::vector<fx::Row>> byTarget;
  for (fx::Row& row : sql.Query(
           "SELECT t.ROWID, r.associated_message_type, r.is_from_me, IFNULL(h.id, ''), r.date "
           "FROM message r JOIN message t ON r.associated_message_guid LIKE '%' || t.guid "
           "LEFT JOIN handle h ON h.ROWID = r.handle_id "
           "WHERE r.associated_message_type BETWEEN 2000 AND 3005 ORDER BY r.ROWID"))
    byTarget[row[0].integer].push_back(row);
  ASSERT_EQ(byTarget.size(), 2u);
  for (const auto& [target, rows] : byTarget) {
    // What is left once each removal takes back that sender's reaction of its kind.
    std::vector<const fx::Row*> left;
    for (const fx::Row& row : rows) {
      if (row[1].integer < 3000) {
        left.push_back(&row);
        continue;
      }
      for (auto it = left.rbegin(); it != left.rend(); ++it)
        if ((**it)[1].integer == row[1].integer - 1000 && (**it)[2].integer == row[2].integer &&
            (**it)[3].bytes == row[3].bytes) {
          left.erase(std::next(it).base());
          break;
        }
    }
    const MessageRecord* record = LiveRecord(loaded, ByRowid(truth, target));
    ASSERT_NE(record, nullptr);
    ASSERT_TRUE(record->extras);
    ASSERT_EQ(record->extras->reactions.size(), left.size()) << "target " << target;
    for (size_t k = 0; k < left.size(); ++k) {
      const Reaction& r = record->extras->reactions[k];
      EXPECT_EQ(static_cast<int>(r.kind), (*left[k])[1].integer - 2000);
      EXPECT_EQ(r.fromMe, (*left[k])[2].integer != 0);
      EXPECT_EQ(r.sender, r.fromMe ? "" : (*left[k])[3].bytes);
      EXPECT_EQ(r.date, (*left[k])[4].integer / kNanos);
    }
  }
  // The fixture took the laugh on message 3 back: only the owner's emphasis stays.
  const MessageRecord* third = LiveRecord(loaded, truth.messages[3]);
  ASSERT_NE(third, nullptr);
  ASSERT_EQ(third->extras->reactions.size(), 1u);
  EXPECT_EQ(third->extras->reactions[0].kind, ReactionKind::Emphasised);

  // The list holds every row but reactions and the recently deleted.
  EXPECT_EQ(static_cast<int64_t>(LiveCount(loaded)),
            sql.QueryInt("SELECT count(*) FROM message WHERE associated_message_type NOT BETWEEN "
                         "2000 AND 3005 AND ROWID NOT IN (SELECT message_id FROM "
                         "chat_recoverable_message_join)"));
  for (const auto& [address, records] : loaded.live)
    for (const MessageRecord& r : records) EXPECT_EQ(r.text.find("a message"), std::string::npos);
  for (const MessageRecord& r : loaded.deleted)
    EXPECT_EQ(r.text.find("a message"), std::string::npos);
}

TEST(MessageExtras, RepliesEditsUnsentAndAttachments) {
  fx::TempDir dir;
  const fx::ModernMessagesTruth truth = Build(dir.File("sms.db"));
  const Loaded loaded = Load(truth.path);
  fx::Database sql(truth.path, {.create = false, .readOnly = true});

  // A reply shows the words and time of the message it answers.
  const std::vector<fx::Row> replies = sql.Query(
      "SELECT m.ROWID, o.ROWID FROM message m JOIN message o ON o.guid = m.thread_originator_guid");
  ASSERT_EQ(replies.size(), 1u);
  const MessageRecord* reply = LiveRecord(loaded, ByRowid(truth, replies[0][0].integer));
  const fx::ModernMessage& original = ByRowid(truth, replies[0][1].integer);
  ASSERT_TRUE(reply && reply->extras);
  EXPECT_TRUE(reply->extras->isReply);
  EXPECT_EQ(reply->extras->replyToText, original.text);
  EXPECT_EQ(reply->extras->replyToDate, original.seconds);

  // Edit and unsend times as stored; the earlier wordings the history keeps, with their times.
  size_t edited = 0;
  for (const fx::Row& row :
       sql.Query("SELECT ROWID, date_edited, date_retracted FROM message WHERE date_edited != 0 "
                 "OR date_retracted != 0")) {
    const fx::ModernMessage& m = ByRowid(truth, row[0].integer);
    const MessageRecord* record = LiveRecord(loaded, m);
    ASSERT_TRUE(record && record->extras) << m.rowid;
    ++edited;
    EXPECT_EQ(record->extras->editedAt.value_or(0), row[1].integer / kNanos);
    EXPECT_EQ(record->extras->retractedAt.value_or(0), row[2].integer / kNanos);
    ASSERT_EQ(record->extras->earlierTexts.size(), m.earlierTexts.size());
    for (size_t k = 0; k < m.earlierTexts.size(); ++k) {
      EXPECT_EQ(record->extras->earlierTexts[k].text, m.earlierTexts[k].first);
      EXPECT_EQ(record->extras->earlierTexts[k].date, m.earlierTexts[k].second);
    }
    EXPECT_TRUE(record->extras->summaryInfo.empty());  // read, not kept
  }
  EXPECT_EQ(edited, 2u);

  // Attachments in the order attached, with the names and sizes SQLite holds.
  std::map<int64_t, std::vector<fx::Row>> files;
  for (fx::Row& row : sql.Query(
           "SELECT j.message_id, a.transfer_name, a.mime_type, a.total_bytes, a.filename FROM "
           "message_attachment_join j JOIN attachment a ON a.ROWID = j.attachment_id ORDER BY "
           "j.ROWID"))
    files[row[0].integer].push_back(row);
  ASSERT_FALSE(files.empty());
  for (const auto& [rowid, rows] : files) {
    const MessageRecord* record = LiveRecord(loaded, ByRowid(truth, rowid));
    ASSERT_TRUE(record && record->extras);
    ASSERT_EQ(record->extras->attachments.size(), rows.size());
    for (size_t k = 0; k < rows.size(); ++k) {
      const MessageAttachment& a = record->extras->attachments[k];
      EXPECT_EQ(a.transferName, rows[k][1].bytes);
      EXPECT_EQ(a.mimeType, rows[k][2].bytes);
      EXPECT_EQ(a.totalBytes, rows[k][3].integer);
      EXPECT_EQ(a.filename, rows[k][4].bytes);
      EXPECT_TRUE(a.backupPath.empty());  // a lone database: no backup to look in
    }
  }
}

TEST(MessageExtras, RecentlyDeletedAreListedOnceAsDeleted) {
  fx::TempDir dir;
  const fx::ModernMessagesTruth truth = Build(dir.File("sms.db"));
  const Loaded loaded = Load(truth.path);
  fx::Database sql(truth.path, {.create = false, .readOnly = true});
  const std::vector<fx::Row> rows = sql.Query(
      "SELECT r.message_id, r.delete_date, c.chat_identifier FROM "
      "chat_recoverable_message_join r JOIN chat c ON c.ROWID = r.chat_id ORDER BY "
      "r.message_id");
  ASSERT_EQ(rows.size(), 2u);
  std::vector<const MessageRecord*> recent;
  for (const MessageRecord& r : loaded.deleted)
    if (r.extras && r.extras->deletedKind == DeletedKind::RecentlyDeleted) recent.push_back(&r);
  ASSERT_EQ(recent.size(), rows.size());
  for (size_t k = 0; k < rows.size(); ++k) {
    const fx::ModernMessage& m = ByRowid(truth, rows[k][0].integer);
    EXPECT_EQ(recent[k]->text, m.text);
    EXPECT_EQ(recent[k]->date, m.seconds);
    EXPECT_EQ(recent[k]->extras->deletedAt, rows[k][1].integer / kNanos);
    EXPECT_EQ(recent[k]->extras->deletedFrom, rows[k][2].bytes);
    EXPECT_EQ(LiveRecord(loaded, m), nullptr);  // not also live
    size_t copies = 0;
    for (const MessageRecord& r : loaded.deleted) copies += r.text == m.text && r.date == m.seconds;
    EXPECT_EQ(copies, 1u);
  }
}

TEST(MessageExtras, EditHistoryOfDamagedBytesIsEmpty) {
  EXPECT_TRUE(EditHistoryTexts("").empty());
  EXPECT_TRUE(EditHistoryTexts("bplist00\x01\x02garbage").empty());
  EXPECT_TRUE(EditHistoryTexts(std::string(200, '\0')).empty());
}

class Quiet : public LoadObserver {
 public:
  void BeginProgress() override {}
  void StepProgress() override {}
  void EndProgress() override {}
  void ResetViews() override {}
  CategoryHandle AddCategory(RecordKind) override { return ++handles; }
  void AddCount(CategoryHandle, Category, int) override {}
  void ExpandCategory(CategoryHandle) override {}
  void ShowMessage(const LoadMessage&) override {}
  CategoryHandle handles = 0;
};

TEST(MessageExtras, AttachmentsAreFoundInTheBackup) {
  fx::TempDir dir;
  const fx::BackupTruth truth = fx::BuildBackup(dir.path(), fx::SampleIos16BackupOptions());
  Quiet quiet;
  const LoadResult result = LoadBackup(truth.folder, quiet);
  ASSERT_EQ(result.status, LoadStatus::Loaded);
  std::map<std::string, const MessageAttachment*> byFilename;
  for (const auto& [address, records] : result.collections.liveMessages)
    for (const MessageRecord& r : records)
      if (r.extras)
        for (const MessageAttachment& a : r.extras->attachments) byFilename[a.filename] = &a;
  ASSERT_EQ(byFilename.size(), truth.modernMessages->attachments.size());
  for (const fx::ModernAttachment& expected : truth.modernMessages->attachments) {
    const MessageAttachment* a = byFilename.at(expected.filename);
    EXPECT_EQ(a->backupPath.empty(), !expected.inBackup) << expected.filename;
    if (expected.inBackup) EXPECT_EQ(fx::ReadFileBytes(a->backupPath), expected.bytes);
  }
}

}  // namespace
}  // namespace vantrel
