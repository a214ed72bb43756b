// What a user reads about a message, on small sms.db files written by SQLite
// itself: the record lines, the CSV and the TXT files. A fact the database
// does not hold (a date or direction lost with a carved record's tail) is
// shown empty, never made up; the direction is who wrote the message; short
// service numbers keep their digits; of several surviving copies of a
// deleted message the most complete is listed; a text cut by a later cell
// ends where that cell begins.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliRunner.h"
#include "fixtures/Fixtures.h"

namespace fx = vantrel::fixtures;

namespace {

using vantrel::testing::CliRun;

CliRun Cli(const std::vector<std::string>& args) {
  return vantrel::testing::RunCli(args);
}

std::vector<std::string> Split(const std::string& text, const std::string& sep) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t at; (at = text.find(sep, from)) != std::string::npos; from = at + sep.size())
    parts.push_back(text.substr(from, at - from));
  parts.push_back(text.substr(from));
  return parts;
}

// The fields of one `records` line.
struct RecordLine {
  std::string address, date, readDate, direction, service, account, text;
};

std::vector<RecordLine> Records(const std::string& path, bool deleted) {
  std::vector<std::string> args = {"records", path, "messages"};
  if (deleted) args.push_back("--deleted");
  const CliRun run = Cli(args);
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<RecordLine> lines;
  for (const std::string& line : Split(run.out, "\n")) {
    if (line.empty()) continue;
    const std::vector<std::string> f = Split(line, "\t");
    if (f.size() < 7) {
      ADD_FAILURE() << "short line: " << line;
      continue;
    }
    lines.push_back({f[0], f[1], f[2], f[3], f[4], f[5], f[6]});
  }
  return lines;
}

// The line whose text begins with the start of `text` (a cut copy included).
const RecordLine* LineOf(const std::vector<RecordLine>& lines, const std::string& text) {
  for (const RecordLine& line : lines)
    if (line.text.compare(0, 12, text, 0, 12) == 0) return &line;
  return nullptr;
}

// The text of a CSV file (UTF-16LE behind FF FE) as UTF-8.
std::string CsvText(const std::string& path) {
  const std::string bytes = fx::ReadFileBytes(path);
  std::string out;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    uint32_t c = static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
      const uint32_t low = static_cast<uint8_t>(bytes[i + 2]) | static_cast<uint8_t>(bytes[i + 3])
                                                                    << 8;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Guid(int n) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-7E57-4C3D-8E9F-%012X", 0x7E570000 + n, n * 104729);
  return text;
}

// A small sms.db of iOS 7, one message page, rows written with their rowids.
class SmallSms {
 public:
  SmallSms(const std::string& path, bool wal = false) : db_(path, Options()) {
    if (wal) db_.Exec("PRAGMA journal_mode=WAL");
    db_.Exec(fx::ReadSchemaFile("ios7_sms.sql"));
  }
  int64_t Handle(const std::string& id) {
    db_.Query("INSERT INTO handle (id, country, service) VALUES (?, 'cn', 'SMS')",
              {fx::Value::Text(id)});
    return db_.LastInsertRowid();
  }
  // A message: date 0 stores no date; isFromMe says who wrote it, isSent
  // whether it went out.
  void Message(int64_t rowid, const std::string& text, int64_t handle, int64_t date, int isFromMe,
               int isSent) {
    db_.Query(
        "INSERT INTO message (ROWID, guid, text, handle_id, service, account, date, date_read, "
        "is_from_me, is_sent, is_delivered, is_finished) VALUES (?, ?, ?, ?, 'SMS', 'e:', ?, 0, ?, "
        "?, 1, 1)",
        {fx::Value::Int(rowid), fx::Value::Text(Guid(static_cast<int>(rowid))),
         fx::Value::Text(text), fx::Value::Int(handle), fx::Value::Int(date),
         fx::Value::Int(isFromMe), fx::Value::Int(isSent)});
  }
  void Delete(int64_t rowid) {
    db_.Query("DELETE FROM message WHERE ROWID = ?", {fx::Value::Int(rowid)});
  }
  fx::Database& db() { return db_; }

 private:
  static fx::OpenOptions Options() {
    fx::OpenOptions options;
    options.pageSize = 4096;
    return options;
  }
  fx::Database db_;
};

// A long text of three-byte characters, different for each seed.
std::string ChineseText(int seed, size_t characters) {
  static const char* const kWords[] = {"明天", "上午", "开会", "记得",
                                       "带上", "材料", "谢谢", "收到"};
  std::string text;
  for (size_t k = 0; text.size() < characters * 3; ++k) text += kWords[(k * 5 + seed) % 8];
  return text;
}

// The facts a user needs to see shown as they are: a failed send written by
// the owner, a received message with no stored date, a short service number,
// and a deleted message whose tail (date, direction) a later message took.
class MessageTruth : public ::testing::Test {
 protected:
  void SetUp() override {
    SmallSms sms(path_);
    const int64_t friendHandle = sms.Handle("+8613800138000");
    const int64_t police = sms.Handle("110");
    sms.Message(1, "failed to send: no signal", friendHandle, 420000000, 1, 0);
    sms.Message(2, "received with no date stored", friendHandle, 0, 0, 0);
    sms.Message(3, "from a three-digit service number", police, 420000200, 0, 0);
    sms.Message(4, lostTail_, friendHandle, 420000300, 1, 1);
    sms.Message(5, "a later message below the deleted one", friendHandle, 420000400, 0, 0);
    sms.Delete(4);
    // Written into the tail of the freed cell: its date and flags are gone,
    // its text cut.
    sms.Message(6, "overwrites the tail", friendHandle, 420000500, 0, 0);
  }

  fx::TempDir dir_;
  std::string path_ = dir_.File("sms.db");
  std::string lostTail_ = "deleted and its tail overwritten: " + std::string(200, 'x');
};

TEST_F(MessageTruth, RecordLinesShowDirectionByAuthorAndUnknownFieldsEmpty) {
  const std::vector<RecordLine> live = Records(path_, false);
  const RecordLine* failed = LineOf(live, "failed to send: no signal");
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed->direction, "1");  // written by the owner, though it never went out
  EXPECT_EQ(failed->date, std::to_string(420000000));

  const RecordLine* undated = LineOf(live, "received with no date stored");
  ASSERT_NE(undated, nullptr);
  EXPECT_EQ(undated->date, "");
  EXPECT_EQ(undated->direction, "0");

  const RecordLine* service = LineOf(live, "from a three-digit service number");
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(service->address, "110");

  const std::vector<RecordLine> deleted = Records(path_, true);
  const RecordLine* cut = LineOf(deleted, lostTail_);
  ASSERT_NE(cut, nullptr);
  // The text is cut: what follows it in the record did not survive.
  ASSERT_LT(cut->text.size(), lostTail_.size());
  EXPECT_EQ(lostTail_.compare(0, cut->text.size(), cut->text), 0) << cut->text;
  EXPECT_EQ(cut->date, "");
  EXPECT_EQ(cut->direction, "");
}

TEST_F(MessageTruth, ExportedFilesShowUnknownFieldsEmpty) {
  // The same database as a device backup's sms.db.
  fx::BackupOptions options;
  options.includeContacts = false;
  options.includeCalls = false;
  options.messages.messageCount = 10;
  const fx::BackupTruth backup = fx::BuildBackup(dir_.File("backup"), options);
  std::filesystem::copy_file(path_, backup.messagesPath,
                             std::filesystem::copy_options::overwrite_existing);

  const std::string csv = dir_.File("csv");
  ASSERT_EQ(Cli({"export", backup.folder, csv, "--format", "csv", "--quiet"}).status, 0);
  const std::string live = CsvText(csv + "/SMS.CSV");
  const std::string gone = CsvText(csv + "/SMS_Del.CSV");
  EXPECT_NE(live.find(",failed to send: no signal,send,"), std::string::npos) << live;
  EXPECT_NE(live.find("13800138000,,received with no date stored,recv,"), std::string::npos)
      << live;
  EXPECT_NE(live.find("\n110,"), std::string::npos) << live;
  // No line of the deleted list claims 2001-01-01 or a direction for the cut message.
  EXPECT_EQ(gone.find("2001-01-01"), std::string::npos) << gone;
  const size_t cutAt = gone.find("deleted and its tail overwritten: ");
  ASSERT_NE(cutAt, std::string::npos) << gone;
  const size_t lineStart = gone.rfind('\n', cutAt) + 1;
  const std::string line = gone.substr(lineStart, gone.find("\r\n", cutAt) - lineStart);
  EXPECT_EQ(line.find(",,"), line.find(',')) << line;  // no date
  EXPECT_EQ(line.substr(line.size() - 9), "x,,unread") << line;

  const std::string txt = dir_.File("txt");
  ASSERT_EQ(Cli({"export", backup.folder, txt, "--format", "txt", "--encoding", "UTF-8", "--quiet"})
                .status,
            0);
  const std::string liveTxt = fx::ReadFileBytes(txt + "/SMS.txt");
  const std::string goneTxt = fx::ReadFileBytes(txt + "/SMS_Del.txt");
  EXPECT_NE(liveTxt.find("类型:发送\r\n号码:13800138000;\r\n时间:2014-04-24 02:40:00\r\n短信内容:"
                         "failed to send"),
            std::string::npos)
      << liveTxt;
  EXPECT_NE(
      liveTxt.find("类型:接收\r\n号码:13800138000;\r\n时间:\r\n短信内容:received with no date"),
      std::string::npos)
      << liveTxt;
  EXPECT_NE(liveTxt.find("号码:110;"), std::string::npos);
  EXPECT_NE(
      goneTxt.find("类型:\r\n号码:+86\u00B7\u00B7\u00B7;\r\n时间:\r\n短信内容:deleted and its "
                   "tail overwritten: "),
      std::string::npos)
      << goneTxt;
  EXPECT_EQ(goneTxt.find("2001-01-01"), std::string::npos);
}

// Where the same deleted message survives twice, the whole copy is listed:
// the page now holds it cut by a later message (found first, in the page's
// free space), an older page image in the log still holds it whole.
TEST(MessageCopies, TheWholeCopyInTheLogWinsOverACutOneOnThePage) {
  fx::TempDir dir;
  const std::string path = dir.File("sms.db");
  const std::string text = "kept whole in the log: " + std::string(240, 'w');
  {
    SmallSms sms(path, true);
    const int64_t handle = sms.Handle("+8613800138000");
    sms.Message(1, "first live message", handle, 430000000, 0, 0);
    sms.Message(2, text, handle, 430000100, 1, 1);
    sms.Message(3, "a later message below it", handle, 430000200, 0, 0);
    sms.db().Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    sms.Delete(2);  // a log frame: the record whole
    sms.Message(4, "written over its tail", handle, 430000300, 0, 0);  // a frame: the record cut
    sms.db().Exec("PRAGMA wal_checkpoint(PASSIVE)");                   // the file: the record cut
  }
  ASSERT_TRUE(fx::InspectWal(path + "-wal").frameCount > 0);

  const std::vector<RecordLine> deleted = Records(path, true);
  int copies = 0;
  for (const RecordLine& line : deleted) copies += line.text.compare(0, 20, text, 0, 20) == 0;
  EXPECT_EQ(copies, 1);
  const RecordLine* line = LineOf(deleted, text);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->text, text);
  EXPECT_EQ(line->date, std::to_string(430000100));
  EXPECT_EQ(line->direction, "1");
  EXPECT_EQ(line->service, "SMS");
}

// A deleted message whose tail a later cell took, the later cell deleted in
// its turn: the older text ends where the later cell begins. That cell's
// rowid takes three bytes; its start is worked out here from the file (its
// GUID, its header size before the rowid's NULL), so the expected text is
// what the file holds up to it, cut back to a whole character.
TEST(MessageCopies, ACutTextEndsWhereTheCellWrittenOverItBegins) {
  for (int shift = 0; shift < 3; ++shift) {
    SCOPED_TRACE(shift);
    fx::TempDir dir;
    const std::string path = dir.File("sms.db");
    const std::string older = ChineseText(shift, 200);
    {
      SmallSms sms(path);
      const int64_t handle = sms.Handle("+8613800138000");
      sms.Message(1, "first live message", handle, 440000000, 0, 0);
      sms.Message(2, older, handle, 440000100, 1, 1);
      sms.Message(3, "a later message below it", handle, 440000200, 0, 0);
      sms.Delete(2);
      sms.Message(20000, "over the tail " + std::string(120 + shift, 'o'), handle, 440000300, 0, 0);
      sms.Delete(20000);
    }
    const std::string bytes = fx::ReadFileBytes(path);
    const size_t olderGuid = bytes.find(Guid(2));
    const size_t laterGuid = bytes.find(Guid(20000));
    ASSERT_NE(olderGuid, std::string::npos);
    ASSERT_NE(laterGuid, std::string::npos);
    // The header: its size H, the rowid's NULL, the GUID's type 85, ... up to the GUID.
    size_t headerSize = 0;
    for (size_t h = 3; h < 128 && headerSize == 0; ++h)
      if (static_cast<uint8_t>(bytes[laterGuid - h]) == h && bytes[laterGuid - h + 1] == 0 &&
          static_cast<uint8_t>(bytes[laterGuid - h + 2]) == 85)
        headerSize = h;
    ASSERT_NE(headerSize, 0u);
    // Before the header: the rowid 20000 (three bytes) and a two-byte payload length.
    const size_t laterCell = laterGuid - headerSize - 3 - 2;
    const size_t textStart = olderGuid + 36;
    ASSERT_LT(textStart, laterCell);
    size_t keep = laterCell - textStart;
    ASSERT_LT(keep, older.size());
    ASSERT_EQ(bytes.compare(textStart, keep, older, 0, keep), 0);
    keep -= keep % 3;  // whole characters only

    const std::vector<RecordLine> deleted = Records(path, true);
    const RecordLine* line = LineOf(deleted, older);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text, older.substr(0, keep));
    EXPECT_EQ(line->date, "");
  }
}

}  // namespace
