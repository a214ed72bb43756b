// End to end, the real vantrel-cli on fixture backups written by the real
// SQLite engine: names beside numbers as the address book holds them, the
// search and date options against SQLite's own LIKE and date comparison, the
// JSON document against its schema and against the records command, and the
// HTML report parsed as XML with backup text that looks like markup.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CliRunner.h"
#include "fixtures/Fixtures.h"

namespace vantrel {
namespace {

namespace fx = fixtures;
using testing::RunCli;
using testing::ShellQuote;

const std::string kChecker = std::string(VANTREL_SOURCE_DIR) + "/tests/cli/report_check.py";
const std::string kSchema = std::string(VANTREL_SOURCE_DIR) + "/docs/vantrel-export.schema.json";

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  pclose(pipe);
  return out;
}

std::string Checker(const std::vector<std::string>& args) {
  std::string command = "python3 " + ShellQuote(kChecker);
  for (const std::string& a : args) command += " " + ShellQuote(a);
  return Shell(command + " 2>&1");
}

std::vector<std::string> Split(const std::string& line, char sep = '\t') {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, sep)) fields.push_back(field);
  if (!line.empty() && line.back() == sep) fields.push_back("");
  return fields;
}

// SQL that reduces a stored number to the bare mobile form the message
// loader files addresses under (blanks, dashes, brackets and +86 gone).
const char kBareNumberSql[] =
    "replace(replace(replace(replace(replace(value,' ',''),'-',''),'(',''),')',''),'+86','')";

class ReportsCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fx::TempDir("vantrel-reports");
    fx::BackupOptions options;
    options.messages.messageCount = 240;
    options.contacts.personCount = 30;
    options.calls.callCount = 80;
    options.calls.keepNewest = 60;
    truth_ = new fx::BackupTruth(fx::BuildBackup(dir_->path(), options));
    fx::Database sms(truth_->messagesPath, {.create = false});
    fx::Database ab(truth_->contactsPath, {.create = false});
    // Two people under one of the message handles, written the ways phones
    // write numbers; a third under a call's number.
    const std::string handle = sms.QueryText("SELECT id FROM handle WHERE id LIKE '+86%' LIMIT 1");
    const std::string bare = handle.substr(3);
    const std::string spaced =
        "+86 " + bare.substr(0, 3) + "-" + bare.substr(3, 4) + "-" + bare.substr(7);
    AddPerson(ab, "测试", "甲", spaced);
    AddPerson(ab, "Tester", "Bob", "(" + bare.substr(0, 3) + ") " + bare.substr(3));
    fx::Database calls(truth_->callsPath, {.create = false});
    AddPerson(ab, "来电", "人", calls.QueryText("SELECT address FROM call LIMIT 1"));
    // A message that looks like markup, in the first one-to-one chat.
    const int64_t chat = sms.QueryInt("SELECT ROWID FROM chat WHERE style = 45 LIMIT 1");
    const int64_t handleId = sms.QueryInt(
        "SELECT handle_id FROM chat_handle_join WHERE chat_id = ? LIMIT 1", {fx::Value::Int(chat)});
    sms.Prepare(
           "INSERT INTO message (guid, text, handle_id, service, date, is_from_me) VALUES "
           "('A1B2C3D4-0000-4000-8000-00000000F00D', ?, ?, 'SMS', 420000000, 0)")
        .Bind(1, kMarkupText)
        .Bind(2, handleId)
        .Run();
    sms.Prepare("INSERT INTO chat_message_join (chat_id, message_id) VALUES (?, ?)")
        .Bind(1, chat)
        .Bind(2, sms.LastInsertRowid())
        .Run();
  }
  static void TearDownTestSuite() {
    delete truth_;
    delete dir_;
  }
  static void AddPerson(fx::Database& ab, const std::string& last, const std::string& first,
                        const std::string& number) {
    ab.Prepare("INSERT INTO ABPerson (First, Last) VALUES (?, ?)")
        .Bind(1, first)
        .Bind(2, last)
        .Run();
    ab.Prepare(
          "INSERT INTO ABMultiValue (record_id, property, identifier, label, value) VALUES "
          "(?, 3, 0, 1, ?)")
        .Bind(1, ab.LastInsertRowid())
        .Bind(2, number)
        .Run();
  }

  // Names SQLite gives for an address: persons with a phone value whose bare
  // form is the address's bare form, in rowid order; organisations for the
  // nameless. A number without a label is not shown with its person, so it
  // names nobody either.
  static std::string SqliteNames(fx::Database& ab, const std::string& address) {
    std::string bare = address;
    if (bare.rfind("+86", 0) == 0) bare = bare.substr(3);
    std::vector<std::string> names;
    for (const fx::Row& row :
         ab.Query(std::string(
                      "SELECT ifnull(p.Last,'')||ifnull(p.Middle,'')||ifnull(p.First,''), "
                      "ifnull(p.Organization,'') FROM ABMultiValue m JOIN ABPerson p ON "
                      "p.ROWID = m.record_id WHERE m.property = 3 AND m.label IS NOT NULL AND ") +
                      kBareNumberSql + " = ? ORDER BY p.ROWID, m.UID",
                  {fx::Value::Text(bare)})) {
      const std::string name = row[0].AsText().empty() ? row[1].AsText() : row[0].AsText();
      if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
        names.push_back(name);
    }
    std::string joined;
    for (const std::string& n : names) joined += (joined.empty() ? "" : " / ") + n;
    return joined;
  }

  static constexpr char kMarkupText[] =
      "<script>alert(\"x\")</script> & <b>bold</b> 'quoted' &amp;";
  static inline fx::TempDir* dir_ = nullptr;
  static inline fx::BackupTruth* truth_ = nullptr;
};

TEST_F(ReportsCli, MessagesAndCallsCarryTheNamesSqliteGivesTheirNumbers) {
  fx::Database ab(truth_->contactsPath, {.create = false, .readOnly = true});
  size_t named = 0, twoNames = 0, mobiles = 0;
  for (const char* kind : {"messages", "calls"}) {
    const auto run = RunCli({"records", truth_->folder, kind});
    ASSERT_EQ(run.status, 0) << run.err;
    const size_t nameField = std::string(kind) == "messages" ? 9 : 7;
    for (const std::string& line : run.Lines()) {
      const std::vector<std::string> f = Split(line);
      // Messages carry the later versions' five fields after the name.
      ASSERT_EQ(f.size(), nameField + (std::string(kind) == "messages" ? 6 : 1)) << line;
      const std::string& address = f[0];
      // Mobile numbers: SQL's bare form is exact for them.
      const std::string bare = address.rfind("+86", 0) == 0 ? address.substr(3) : address;
      if (bare.size() != 11 || bare[0] != '1' ||
          bare.find_first_not_of("0123456789") != std::string::npos)
        continue;
      ++mobiles;
      EXPECT_EQ(f[nameField], SqliteNames(ab, address)) << kind << " " << address;
      named += !f[nameField].empty();
      twoNames += f[nameField].find("测试甲 / TesterBob") != std::string::npos;
    }
  }
  EXPECT_GT(mobiles, 50u);
  EXPECT_GT(named, 0u);
  EXPECT_GT(twoNames, 0u);
  // A database file named alone has no address book: the field is there, empty.
  const auto alone = RunCli({"records", truth_->messagesPath, "messages"});
  ASSERT_EQ(alone.status, 0);
  for (const std::string& line : alone.Lines()) EXPECT_EQ(Split(line).back(), "") << line;
}

TEST_F(ReportsCli, GrepAndDatesKeepWhatSqliteKeeps) {
  fx::Database sms(truth_->messagesPath, {.create = false, .readOnly = true});
  // Asia/Shanghai keeps UTC+8 all year: the day's bounds in SQL are fixed.
  const std::string zone = "TZ=Asia/Shanghai ";
  const std::string since = "2013-01-01", until = "2013-12-31";
  const std::string range =
      "date + 978307200 BETWEEN CAST(strftime('%s','2013-01-01 00:00:00') AS INTEGER) - 28800 "
      "AND CAST(strftime('%s','2013-12-31 23:59:59') AS INTEGER) - 28800";
  for (const std::string word : {"明天", "ok", "吃饭"}) {
    const int64_t want =
        sms.QueryInt("SELECT count(*) FROM message WHERE text LIKE '%' || ? || '%' AND " + range,
                     {fx::Value::Text(word)});
    const int64_t wantAllDates = sms.QueryInt(
        "SELECT count(*) FROM message WHERE text LIKE '%' || ? || '%'", {fx::Value::Text(word)});
    const auto ranged = RunCli(
        {"records", truth_->folder, "messages", "--grep", word, "--since", since, "--until", until},
        zone);
    ASSERT_EQ(ranged.status, 0) << ranged.err;
    EXPECT_EQ(static_cast<int64_t>(ranged.Lines().size()), want) << word;
    const auto all = RunCli({"records", truth_->folder, "messages", "--grep", word}, zone);
    EXPECT_EQ(static_cast<int64_t>(all.Lines().size()), wantAllDates) << word;
    EXPECT_GT(wantAllDates, want) << word;
    EXPECT_GT(want, 0) << word;
  }
  // Full-width letters find the ASCII ones.
  EXPECT_EQ(RunCli({"records", truth_->folder, "messages", "--grep", "ＯＫ"}).out,
            RunCli({"records", truth_->folder, "messages", "--grep", "ok"}).out);
  // A name finds its person's messages; so does the number written another way.
  const auto byName = RunCli({"records", truth_->folder, "messages", "--grep", "TesterBob"});
  ASSERT_FALSE(byName.Lines().empty());
  for (const std::string& line : byName.Lines())
    EXPECT_NE(line.find("TesterBob"), std::string::npos);
  const std::string address = Split(byName.Lines()[0])[0];
  // The number finds them too (and the group chats it takes part in).
  const auto byNumber = RunCli({"records", truth_->folder, "messages", "--grep", address});
  const std::vector<std::string> numberLines = byNumber.Lines();
  const std::set<std::string> found(numberLines.begin(), numberLines.end());
  for (const std::string& line : byName.Lines()) EXPECT_EQ(found.count(line), 1u) << line;
  for (const std::string& line : numberLines) EXPECT_NE(line.find(address), std::string::npos);
  // Calls in range, against SQLite.
  const int64_t calls = fx::Database(truth_->callsPath, {.create = false, .readOnly = true})
                            .QueryInt(
                                "SELECT count(*) FROM call WHERE date BETWEEN "
                                "CAST(strftime('%s','2013-01-01 00:00:00') AS INTEGER) - "
                                "28800 AND CAST(strftime('%s','2013-12-31 23:59:59') AS "
                                "INTEGER) - 28800");
  const auto callRun =
      RunCli({"records", truth_->folder, "calls", "--since", since, "--until", until}, zone);
  EXPECT_EQ(static_cast<int64_t>(callRun.Lines().size()), calls);
  // Dates that do not read are a usage error, said in one line.
  const auto bad = RunCli({"records", truth_->folder, "messages", "--since", "2013-02-30"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("YYYY-MM-DD"), std::string::npos);
  EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1);
}

TEST_F(ReportsCli, JsonValidatesAndRereadsAsTheRecords) {
  fx::TempDir out("vantrel-json");
  const auto run = RunCli({"export", truth_->folder, out.path(), "--format", "json", "--quiet"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string json = out.File("Vantrel.json");
  EXPECT_EQ(run.out, json + "\n");
  EXPECT_EQ(Checker({"validate", kSchema, json}), "valid\n");
  for (const char* kind : {"messages", "calls", "contacts"}) {
    for (const char* deleted : {"0", "1"}) {
      std::vector<std::string> args = {"records", truth_->folder, kind};
      if (deleted[0] == '1') args.push_back("--deleted");
      const auto records = RunCli(args);
      ASSERT_EQ(records.status, 0) << records.err;
      EXPECT_FALSE(records.out.empty()) << kind << deleted;
      EXPECT_EQ(Checker({"records", json, kind, deleted}), records.out) << kind << deleted;
    }
  }
  // Each listed file's SHA-256 is the one sha256sum computes.
  size_t files = 0;
  for (const std::string& line : Split(Checker({"sources", json}), '\n')) {
    if (line.empty()) continue;
    const std::vector<std::string> f = Split(line);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[1] + "  " + f[0] + "\n", Shell("sha256sum " + ShellQuote(f[0])));
    ++files;
  }
  EXPECT_EQ(files, 3u);
}

TEST_F(ReportsCli, HtmlReportIsWellFormedAndShowsMarkupAsText) {
  fx::TempDir out("vantrel-html");
  const auto run = RunCli({"export", truth_->folder, out.path(), "--format", "html", "--quiet"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string html = out.File("Report.html");
  const std::string summary = Checker({"html", html});
  ASSERT_EQ(summary.rfind("{", 0), 0u) << summary;  // parsed as XML
  // No script element and no event attribute: the message's markup is text.
  EXPECT_EQ(summary.find("\"script\""), std::string::npos) << summary;
  EXPECT_EQ(summary.find("\"b\""), std::string::npos);
  EXPECT_EQ(summary.find("event-attribute"), std::string::npos);
  const std::string asJson = "\"<script>alert(\\\"x\\\")</script> & <b>bold</b> 'quoted' &amp;\"";
  EXPECT_NE(summary.find(asJson), std::string::npos) << summary;
  // The report's SHA-256 values are the files' own.
  for (const std::string& path : {truth_->messagesPath, truth_->contactsPath, truth_->callsPath}) {
    const std::string sum = Shell("sha256sum " + ShellQuote(path)).substr(0, 64);
    EXPECT_NE(summary.find("\"" + sum + "\""), std::string::npos) << path;
  }
  // Nothing is fetched from elsewhere.
  const std::string text = fx::ReadFileBytes(html);
  EXPECT_EQ(text.find("src="), std::string::npos);
  EXPECT_EQ(text.find("http://"), text.find("http://www.w3.org/1999/xhtml"));
  EXPECT_EQ(text.find("https://"), std::string::npos);
  // Every message is in a thread: the live ones the records command lists and
  // the recovered ones, marked.
  const size_t live = RunCli({"records", truth_->folder, "messages"}).Lines().size();
  const size_t recovered =
      RunCli({"records", truth_->folder, "messages", "--deleted"}).Lines().size();
  ASSERT_GT(recovered, 0u);
  EXPECT_NE(summary.find("\"recovered\": " + std::to_string(recovered)), std::string::npos);
  size_t divs = 0;
  for (size_t at = text.find("<div class=\"text\">"); at != std::string::npos;
       at = text.find("<div class=\"text\">", at + 1))
    ++divs;
  EXPECT_EQ(divs, live + recovered);
  // --category belongs to CSV and TXT.
  EXPECT_EQ(RunCli({"export", truth_->folder, out.path(), "--format", "html", "--category",
                    "短信/删除数据"})
                .status,
            1);
}

}  // namespace
}  // namespace vantrel
