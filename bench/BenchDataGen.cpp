// vantrel-benchgen: writes the backup of a heavy iOS 7 user for the benchmark. At scale 1:
// 200,000 messages in 1,000 one-to-one and 20 group chats (Chinese, English, emoji, 1.25% long
// enough to overflow a page), 10% deleted; 5,000 contacts with phones, e-mails and addresses,
// 10% deleted; 140 calls, the oldest 40 deleted. Scale 0.5 and 2 halve and double the messages,
// chats and contacts (the device keeps 100 calls whatever the size). Same arguments, same bytes.
// --heavy: the same user with longer texts (about 90 MB of databases) whose deleted messages
// are the 20 busiest one-to-one conversations deleted whole as well as scattered single ones.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <string>

#include "fixtures/Fixtures.h"
#include "fixtures/Modern.h"
#include "fixtures/TypedStream.h"

namespace {

int Scaled(int base, double scale) {
  return static_cast<int>(std::lround(base * scale));
}

// sqlite3 function vantrel_body(text): the archived attributedBody of a text.
void BodyFunction(sqlite3_context* context, int, sqlite3_value** args) {
  const unsigned char* text = sqlite3_value_text(args[0]);
  const std::string body =
      vantrel::fixtures::EncodeAttributedBody(text ? reinterpret_cast<const char*>(text) : "");
  sqlite3_result_blob(context, body.data(), static_cast<int>(body.size()), SQLITE_TRANSIENT);
}

// sql with each {NAME} replaced by its number.
std::string Fill(std::string sql, const std::map<std::string, long long>& values) {
  for (const auto& [name, value] : values) {
    const std::string token = "{" + name + "}";
    for (size_t at = sql.find(token); at != std::string::npos; at = sql.find(token, at))
      sql.replace(at, token.size(), std::to_string(value));
  }
  return sql;
}

// The sms.db of a heavy iOS 16 user, OUTDIR/sms.db: at scale 1, 1,000,000 messages in 2,000
// conversations (100 of them groups of four), a third with their words only in attributedBody,
// 1% reactions to the message before, 1% with an attachment, 5% deleted (secure_delete off),
// and the few replies, edits and Recently Deleted rows of the fixture. The rows are made by
// SQLite itself from recursive queries, so a million of them take seconds.
int MakeIos16(const std::string& outdir, double scale) {
  using namespace vantrel::fixtures;
  std::filesystem::create_directories(outdir);
  const std::string path = outdir + "/sms.db";
  ModernMessageOptions o;
  o.iosVersion = 16;
  o.messageCount = 32;
  o.deleteRun = 0;
  o.modernExtras = true;
  BuildModernMessagesDb(path, o);  // the schema, and a few rows of each kind
  const long long messages = Scaled(1000000, scale);
  const long long chats = Scaled(2000, scale), groups = Scaled(100, scale);
  const long long handles = chats - groups;

  OpenOptions open;
  open.create = false;
  open.autoVacuum = "";
  open.keepWal = false;
  Database db(path, open);
  RegisterAppleFunctionStubs(db);
  sqlite3_create_function(db.Handle(), "vantrel_body", 1, SQLITE_UTF8, nullptr, BodyFunction,
                          nullptr, nullptr);
  // Bench data only: the devices' delete triggers look for reactions and orphans row by row.
  for (const char* trigger :
       {"after_delete_on_message", "delete_associated_messages_after_delete_on_message",
        "add_to_sync_deleted_messages", "after_delete_on_chat_message_join"})
    db.Exec(std::string("DROP TRIGGER IF EXISTS ") + trigger);
  const long long handleBase = db.QueryInt("SELECT max(ROWID) FROM handle");
  const long long chatBase = db.QueryInt("SELECT max(ROWID) FROM chat");
  const long long messageBase = db.QueryInt("SELECT max(ROWID) FROM message");
  const long long attachmentBase = db.QueryInt("SELECT IFNULL(max(ROWID), 0) FROM attachment");
  const std::map<std::string, long long> v = {
      {"M", messages},  {"C", chats},        {"H", handles},         {"HB", handleBase},
      {"CB", chatBase}, {"MB", messageBase}, {"AB", attachmentBase},
  };
  auto run = [&](const std::string& sql) { db.Exec(Fill(sql, v)); };
  const std::string counter =
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ";
  db.Exec("BEGIN");
  run(counter +
      "{H}) INSERT INTO handle (ROWID, id, country, service, uncanonicalized_id) "
      "SELECT {HB} + i, printf('139%08d', i), 'cn', 'iMessage', printf('139%08d', i) "
      "FROM n");
  // Chats 1 .. H: one other party each; the rest: groups of four, every other one named.
  run(counter +
      "{C}) INSERT INTO chat (ROWID, guid, style, state, chat_identifier, "
      "service_name, account_login, display_name) SELECT {CB} + i, "
      "CASE WHEN i <= {H} THEN 'iMessage;-;' || printf('139%08d', i) "
      "ELSE 'iMessage;+;' || printf('chat%018d', i) END, "
      "CASE WHEN i <= {H} THEN 45 ELSE 43 END, 3, "
      "CASE WHEN i <= {H} THEN printf('139%08d', i) ELSE printf('chat%018d', i) END, "
      "'iMessage', 'E:owner@example.com', "
      "CASE WHEN i > {H} AND i % 2 = 0 THEN printf('群 %d', i) ELSE '' END FROM n");
  run(counter +
      "{H}) INSERT INTO chat_handle_join (chat_id, handle_id) "
      "SELECT {CB} + i, {HB} + i FROM n");
  run("WITH RECURSIVE g(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM g WHERE i < 3) "
      "INSERT INTO chat_handle_join (chat_id, handle_id) "
      "SELECT c.ROWID, {HB} + 1 + ((c.ROWID * 7 + g.i * 131) % {H}) FROM chat c, g "
      "WHERE c.style = 43 AND c.ROWID > {CB}");
  // Message i; every hundredth (i = 50 mod 100) a reaction to the message before it.
  const std::string words =
      "CASE i % 5 WHEN 0 THEN '晚上一起吃饭吗？' WHEN 1 THEN 'ok 👍' WHEN 2 THEN 'Meeting moved "
      "to 3pm' WHEN 3 THEN '收到，谢谢' ELSE 'See you at the station' END || ' #' || i";
  run(counter +
      "{M}) INSERT INTO message (ROWID, guid, text, attributedBody, handle_id, "
      "service, date, date_read, is_from_me, is_sent, is_read, "
      "associated_message_guid, associated_message_type, cache_has_attachments) "
      "SELECT {MB} + i, printf('%08X-BE00-4000-8000-%012X', i, i), "
      "CASE WHEN i % 3 = 0 THEN NULL ELSE " +
      words + " END, vantrel_body(" + words +
      "), 0, 'iMessage', (600000000 + i * 30) * 1000000000, "
      "CASE WHEN i % 4 = 0 THEN 0 ELSE (600000060 + i * 30) * 1000000000 END, "
      "i % 2, i % 2, i % 4 != 0, "
      "CASE WHEN i % 100 = 50 THEN printf('p:0/%08X-BE00-4000-8000-%012X', i - 1, i - 1) END, "
      "CASE WHEN i % 100 = 50 THEN 2000 + (i / 100) % 6 ELSE 0 END, i % 100 = 25 FROM n");
  // Message i sits in chat 1 + i mod C; a reaction in the chat of the message it points at.
  run("INSERT INTO chat_message_join (chat_id, message_id, message_date) "
      "SELECT {CB} + 1 + ((ROWID - {MB} - (associated_message_type != 0)) % {C}), ROWID, "
      "date / 1000000000 FROM message WHERE ROWID > {MB}");
  run("UPDATE message SET handle_id = (SELECT h.handle_id FROM chat_message_join j JOIN "
      "chat_handle_join h ON h.chat_id = j.chat_id WHERE j.message_id = message.ROWID "
      "LIMIT 1) WHERE ROWID > {MB} AND is_from_me = 0");
  run("INSERT INTO attachment (ROWID, guid, filename, mime_type, transfer_name, total_bytes, "
      "original_guid) SELECT {AB} + ROWID, 'AT-' || guid, "
      "'~/Library/SMS/Attachments/00/00/' || guid || '/IMG.jpeg', 'image/jpeg', 'IMG.jpeg', "
      "1000 + ROWID % 5000, 'AT-' || guid FROM message "
      "WHERE cache_has_attachments = 1 AND ROWID > {MB}");
  run("INSERT INTO message_attachment_join (message_id, attachment_id) SELECT ROWID, "
      "{AB} + ROWID FROM message WHERE cache_has_attachments = 1 AND ROWID > {MB}");
  db.Exec("COMMIT");
  // 5% deleted, their bytes left in free space.
  db.Exec("BEGIN");
  run("DELETE FROM chat_message_join WHERE message_id > {MB} AND (message_id - {MB}) % 20 = 7");
  run("DELETE FROM message WHERE ROWID > {MB} AND (ROWID - {MB}) % 20 = 7");
  db.Exec("COMMIT");
  std::printf("%s\n", path.c_str());
  std::printf("messages: %lld live (%lld reactions), %lld chats\n",
              static_cast<long long>(db.QueryInt("SELECT count(*) FROM message")),
              static_cast<long long>(
                  db.QueryInt("SELECT count(*) FROM message WHERE associated_message_type != 0")),
              static_cast<long long>(db.QueryInt("SELECT count(*) FROM chat")));
  db.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--ios16") {
    const double scale = std::atof(argv[3]);
    if (!(scale > 0 && scale <= 8)) return 2;
    try {
      return MakeIos16(argv[2], scale);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "vantrel-benchgen: %s\n", e.what());
      return 1;
    }
  }
  const bool heavy = argc == 3 && std::string(argv[1]) == "--heavy";
  if (heavy) {
    argv[1] = argv[2];
    argv[2] = const_cast<char*>("1");
    argc = 3;
  }
  if (argc != 3 || std::string(argv[1]) == "--help") {
    std::fprintf(stderr,
                 "usage: vantrel-benchgen OUTDIR SCALE   (SCALE 0.5, 1 or 2)\n"
                 "       vantrel-benchgen --ios16 OUTDIR SCALE   (an iOS 16 sms.db)\n"
                 "       vantrel-benchgen --heavy OUTDIR   (whole conversations deleted too)\n");
    return 2;
  }
  using namespace vantrel::fixtures;
  const double scale = std::atof(argv[2]);
  if (!(scale > 0 && scale <= 8)) {
    std::fprintf(stderr, "vantrel-benchgen: SCALE must lie in (0, 8]\n");
    return 2;
  }

  BackupOptions options;
  options.deviceName = "张伟的 iPhone";
  options.productVersion = "7.1.2";
  options.buildVersion = "11D257";
  options.seed = 20140717;
  options.iosVersion = 7;
  options.deviceId = "b3a1c9d27e5f40886a1d2c3b4e5f60718293a4b5";

  MessageOptions& m = options.messages;
  m.messageCount = Scaled(200000, scale);
  m.oneToOneChats = Scaled(1000, scale);
  m.groupChats = Scaled(20, scale);
  m.groupMembers = 4;
  m.longTexts = m.messageCount / 80;  // 1.25%: each 1.5 to 2 pages long
  m.nullTexts = m.messageCount / 1000;
  m.phrasesPerText = 1;
  m.deleteFraction = 0.1;
  m.incrementalVacuum = true;  // as a real iOS 7 sms.db
  m.computeSurvival = false;   // ground truth of deleted bytes is not needed here
  if (heavy) {
    m.phrasesPerText = 4;
    m.deletedChats = 20;  // counted in the 10%
  }

  ContactOptions& c = options.contacts;
  c.personCount = Scaled(5000, scale);
  c.deleteFraction = 0.1;
  c.computeSurvival = false;

  CallOptions& calls = options.calls;
  calls.callCount = 140;
  calls.keepNewest = 100;
  calls.computeSurvival = false;

  try {
    std::filesystem::create_directories(argv[1]);
    BackupTruth truth = BuildBackup(argv[1], options);
    std::printf("%s\n", truth.folder.c_str());
    std::printf("messages: %zu live, %zu deleted, %zu chats\n", truth.messages->Live().size(),
                truth.messages->Deleted().size(), truth.messages->chats.size());
    std::printf("contacts: %zu live, %zu deleted\n", truth.contacts->Live().size(),
                truth.contacts->Deleted().size());
    std::printf("calls: %zu live, %zu deleted\n", truth.calls->Live().size(),
                truth.calls->Deleted().size());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vantrel-benchgen: %s\n", e.what());
    return 1;
  }
  return 0;
}
