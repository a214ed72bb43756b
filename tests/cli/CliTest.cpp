#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "cli/Cli.h"
#include "cli/CliRunner.h"
#include "fixtures/Fixtures.h"
#include "platform/Version.h"

namespace fx = vantrel::fixtures;

namespace {

using vantrel::testing::CliRun;

CliRun Cli(const std::vector<std::string>& args) {
  return vantrel::testing::RunCli(args);
}

std::vector<std::string> Split(const std::string& line, char sep = '\t') {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : line) {
    if (c == sep) {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(cur);
  return parts;
}

}  // namespace

TEST(CliReader, TablesAndRowsAgreeWithSqlite) {
  fx::TempDir dir;
  fx::MessageOptions options;
  options.pageSize = 1024;
  options.messageCount = 120;
  auto truth = fx::BuildMessagesDb(dir.File("sms.db"), options);
  fx::Database sqlite(truth.path, {.create = false, .readOnly = true});

  CliRun tables = Cli({"tables", truth.path});
  ASSERT_EQ(tables.status, 0) << tables.err;
  auto expectedTables =
      sqlite.Query("SELECT name FROM sqlite_master WHERE type='table' ORDER BY rowid");
  auto lines = tables.Lines();
  ASSERT_EQ(lines.size(), expectedTables.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    auto fields = Split(lines[i]);
    const std::string name = expectedTables[i][0].AsText();
    EXPECT_EQ(fields[0], name);
    int64_t columns =
        sqlite.QueryInt("SELECT count(*) FROM pragma_table_info(?)", {fx::Value::Text(name)});
    EXPECT_EQ(std::stoll(fields[1]), columns) << name;
    EXPECT_EQ(fields.size(), static_cast<size_t>(3 + columns)) << name;
    int64_t leaves =
        sqlite.QueryInt("SELECT count(*) FROM dbstat WHERE name=? AND pagetype='leaf' AND ncell>0",
                        {fx::Value::Text(name)});
    EXPECT_EQ(std::stoll(fields[2]), leaves) << name;
  }

  // handle: ROWID INTEGER PRIMARY KEY then four text columns.
  CliRun rows = Cli({"rows", truth.path, "handle"});
  ASSERT_EQ(rows.status, 0) << rows.err;
  std::vector<std::string> expected;
  for (const auto& row :
       sqlite.Query("SELECT rowid, id, country, service, uncanonicalized_id FROM handle")) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i)
      line += (i ? "\t" : "") + vantrel::EscapeField(row[i].AsText());
    expected.push_back(line);
  }
  EXPECT_EQ(rows.Lines(), expected);

  // Message texts with tabs and line breaks stay on one line each.
  CliRun messages = Cli({"rows", truth.path, "message"});
  ASSERT_EQ(messages.status, 0);
  EXPECT_EQ(messages.Lines().size(),
            static_cast<size_t>(sqlite.QueryInt("SELECT count(*) FROM message")));
}

TEST(CliReader, FailuresHaveDistinctStatusesAndOneLineMessages) {
  fx::TempDir dir;
  auto truth = fx::BuildCallsDb(dir.File("calls.db"));

  CliRun missing = Cli({"tables", dir.File("nothing.db")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("nothing.db"), std::string::npos);
  EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1);

  CliRun noTable = Cli({"rows", truth.path, "message"});
  EXPECT_EQ(noTable.status, 2);
  EXPECT_NE(noTable.err.find("message"), std::string::npos);

  CliRun notMessages = Cli({"records", truth.path, "messages"});
  EXPECT_EQ(notMessages.status, 3);
  EXPECT_TRUE(notMessages.out.empty());

  EXPECT_EQ(Cli({"rows", truth.path}).status, 1);
  EXPECT_EQ(Cli({"frobnicate"}).status, 1);
  EXPECT_EQ(Cli({}).status, 1);
  EXPECT_EQ(Cli({"tables", truth.path, "--no-such-option"}).status, 1);
  EXPECT_EQ(Cli({"records", truth.path, "photos"}).status, 1);
  EXPECT_EQ(Cli({"export", truth.path, dir.File("out"), "--format", "pdf"}).status, 1);

  CliRun help = Cli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("summary BACKUP"), std::string::npos);
  CliRun version = Cli({"summary", "--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind(std::string("vantrel-cli ") + vantrel::VersionNumber(), 0), 0u)
      << version.out;
  EXPECT_EQ(Cli({"-V"}).out, version.out);
  EXPECT_EQ(Cli({"-h"}).out, help.out);
}

// A dropped table: its CREATE statement as SQLite had it, its records under dropped:NAME among
// the free-page records, and read by its own name with --deleted, values as SQLite returned them.
TEST(CliReader, DroppedTablesAndTheirRecords) {
  fx::TempDir dir;
  const std::string path = dir.File("dropped.db");
  std::string sql;
  std::set<std::string> before;  // stamp, memo, size of each row
  {
    fx::OpenOptions options;
    options.pageSize = 1024;
    fx::Database db(path, options);
    db.Exec(
        "CREATE TABLE keep (id INTEGER PRIMARY KEY, word TEXT);"
        "CREATE TABLE memo (id INTEGER PRIMARY KEY, stamp INTEGER, memo TEXT, size REAL);");
    db.Exec("BEGIN");
    for (int id = 1; id <= 120; ++id) {
      db.Query("INSERT INTO memo (stamp, memo, size) VALUES (?, ?, ?)",
               {fx::Value::Int(1400000000 + id),
                fx::Value::Text("memo\tnumber " + std::to_string(id)), fx::Value::Real(id / 4.0)});
      db.Query("INSERT INTO keep (word) VALUES (?)", {fx::Value::Text("w" + std::to_string(id))});
    }
    db.Exec("COMMIT");
    sql = db.QueryText("SELECT sql FROM sqlite_master WHERE name = 'memo'");
    for (const auto& row : db.Query("SELECT stamp, memo, CAST(size AS TEXT) FROM memo"))
      before.insert(row[0].AsText() + "\t" + vantrel::EscapeField(row[1].AsText()) + "\t" +
                    row[2].AsText());
    db.Exec("DROP TABLE memo");
  }

  CliRun tables = Cli({"tables", path, "--dropped"});
  ASSERT_EQ(tables.status, 0) << tables.err;
  ASSERT_EQ(tables.Lines().size(), 1u) << tables.out;
  const auto fields = Split(tables.Lines()[0]);
  ASSERT_EQ(fields.size(), 9u);
  EXPECT_EQ(fields[0], "memo");
  EXPECT_EQ(fields[2], "4");
  EXPECT_EQ(fields[8], vantrel::EscapeField(sql));

  size_t freeLines = 0;
  for (const std::string& line : Cli({"rows", path, "--free"}).Lines())
    freeLines += line.rfind("dropped:memo\t", 0) == 0;
  CliRun rows = Cli({"rows", path, "memo", "--deleted"});
  ASSERT_EQ(rows.status, 0) << rows.err;
  EXPECT_EQ(rows.Lines().size(), freeLines);
  EXPECT_GT(freeLines, before.size() / 2);
  for (const std::string& line : rows.Lines()) {
    const auto values = Split(line);
    ASSERT_EQ(values.size(), 4u + 5u) << line;
    EXPECT_TRUE(before.count(values[1] + "\t" + values[2] + "\t" + values[3])) << line;
  }
  EXPECT_EQ(Cli({"rows", path, "nothing", "--deleted"}).status, 2);
}

// --version names the commit of the checkout it was built from (remade at every
// build, so never an older one), or none when the source is not a git checkout.
TEST(CliVersion, NamesTheCheckoutsCommit) {
  const std::string line = Cli({"--version"}).out;
  std::string head;
  if (FILE* git = popen(
          ("git -C '" + std::string(VANTREL_SOURCE_DIR) + "' rev-parse --short=7 HEAD 2>/dev/null")
              .c_str(),
          "r")) {
    char buffer[64] = {};
    if (std::fgets(buffer, sizeof buffer, git)) head = buffer;
    if (pclose(git) != 0) head.clear();
  }
  while (!head.empty() && head.back() == '\n') head.pop_back();
  const std::string number = std::string("vantrel-cli ") + vantrel::VersionNumber();
  if (head.empty()) {
    EXPECT_EQ(line, number + "\n");
  } else {
    EXPECT_TRUE(line == number + " (commit " + head + ")\n" ||
                line == number + " (commit " + head + "-modified)\n")
        << line << " at commit " << head;
  }
}

TEST(CliBackup, SummaryRecordsAndBackupsDescribeTheSameBackup) {
  fx::TempDir dir;
  fx::BackupOptions options;
  options.messages.messageCount = 150;
  auto backup = fx::BuildBackup(dir.path(), options);

  CliRun summary = Cli({"summary", backup.folder});
  ASSERT_EQ(summary.status, 0) << summary.err;
  std::map<std::string, int> counts;
  std::vector<std::string> order;
  for (const auto& line : summary.Lines()) {
    auto f = Split(line);
    ASSERT_EQ(f.size(), 2u) << line;
    counts[f[0]] = std::stoi(f[1]);
    order.push_back(f[0]);
  }
  // Categories in load order, deleted child before live child; the count of
  // index-only traces comes after them, last.
  ASSERT_GE(order.size(), 5u);
  EXPECT_EQ(order.back(), "短信/仅存索引");
  order.pop_back();
  EXPECT_EQ(order.front().rfind("短信/", 0), 0u);
  EXPECT_EQ(order.back(), "通话记录/现存数据");
  EXPECT_EQ(counts["短信/现存数据"], static_cast<int>(backup.messages->Live().size()));
  EXPECT_EQ(counts["通话记录/现存数据"], static_cast<int>(backup.calls->Live().size()));
  EXPECT_EQ(counts["通讯录/现有联系人"], static_cast<int>(backup.contacts->Live().size()));

  // The counts are the records the record command prints.
  auto lineCount = [&](std::vector<std::string> args) {
    CliRun r = Cli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return static_cast<int>(r.Lines().size());
  };
  EXPECT_EQ(lineCount({"records", backup.folder, "messages"}), counts["短信/现存数据"]);
  EXPECT_EQ(lineCount({"records", backup.folder, "messages", "--deleted"}),
            counts["短信/删除数据"]);
  EXPECT_EQ(lineCount({"records", backup.folder, "calls", "--deleted"}),
            counts["通话记录/删除数据"]);
  EXPECT_EQ(lineCount({"records", backup.folder, "contacts"}), counts["通讯录/现有联系人"]);
  EXPECT_EQ(lineCount({"records", backup.folder, "traces"}), counts["短信/仅存索引"]);
  if (counts.count("通讯录/删除联系人"))
    EXPECT_EQ(lineCount({"records", backup.folder, "contacts", "--deleted"}),
              counts["通讯录/删除联系人"]);

  CliRun list = Cli({"backups", dir.path()});
  ASSERT_EQ(list.status, 0) << list.err;
  ASSERT_EQ(list.Lines().size(), 1u);
  auto row = Split(list.Lines()[0]);
  ASSERT_EQ(row.size(), 4u);
  EXPECT_EQ(row[0], backup.folder);
  EXPECT_EQ(row[1], options.deviceName);
  EXPECT_EQ(row[2], options.lastBackupDate);
  EXPECT_EQ(row[3], options.productVersion);

  CliRun missing = Cli({"summary", dir.File("gone")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("没有找到文件"), std::string::npos);

  std::ofstream(dir.File("junk.db")) << "this is not a database";
  CliRun junk = Cli({"summary", dir.File("junk.db")});
  EXPECT_EQ(junk.status, 3);
  EXPECT_NE(junk.err.find("没有找到可读取的"), std::string::npos);
  EXPECT_TRUE(junk.out.empty());
}

TEST(CliBackup, ExportWritesEveryCategoryOrOneAndReportsFailures) {
  fx::TempDir dir;
  auto backup = fx::BuildBackup(dir.path());
  const std::string out = dir.File("out");

  CliRun all = Cli({"export", backup.folder, out, "--quiet"});
  ASSERT_EQ(all.status, 0) << all.err;
  for (const char* name : {"SMS.CSV", "Contacts.CSV", "Call_history.CSV"})
    EXPECT_TRUE(std::filesystem::is_regular_file(out + "/" + name)) << name;
  EXPECT_EQ(all.Lines().size(),
            static_cast<size_t>(std::distance(std::filesystem::directory_iterator(out), {})));
  // CSV files are UTF-16LE with a byte-order mark.
  EXPECT_EQ(fx::ReadFileBytes(out + "/SMS.CSV").substr(0, 2), "\xFF\xFE");

  CliRun one = Cli({"export", backup.folder, dir.File("one"), "--format", "txt", "--category",
                    "短信/现存数据", "--encoding", "GBK"});
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.Lines(), std::vector<std::string>{dir.File("one") + "/SMS.txt"});

  CliRun unknown = Cli({"export", backup.folder, out, "--category", "短信/别的"});
  EXPECT_EQ(unknown.status, 2);

  // A file that cannot be created: a folder already stands where SMS.CSV goes.
  const std::string blocked = dir.File("blocked");
  std::filesystem::create_directories(blocked + "/SMS.CSV");
  CliRun fail = Cli({"export", backup.folder, blocked});
  EXPECT_EQ(fail.status, 4);
  EXPECT_NE(fail.err.find("SMS.CSV"), std::string::npos);
  EXPECT_EQ(fail.err.find("完成"), std::string::npos);

  // An output folder that cannot be created.
  std::ofstream(dir.File("junk.txt")) << "x";
  CliRun noDir = Cli({"export", backup.folder, dir.File("junk.txt") + "/sub"});
  EXPECT_EQ(noDir.status, 4);
}
