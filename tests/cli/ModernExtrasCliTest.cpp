// The real vantrel-cli on an iOS 16 backup with reactions, replies, edits, Recently Deleted
// rows and attachments: the summary's reaction line, the trailing fields of `records`, and
// `export --attachments` writing every file the backup holds under a unique name, with its
// bytes, and saying which it does not hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/CliRunner.h"
#include "fixtures/Fixtures.h"
#include "fixtures/Modern.h"

namespace fx = vantrel::fixtures;

namespace {

using vantrel::testing::CliRun;
using vantrel::testing::RunCli;

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> parts(1);
  for (char c : line) {
    if (c == '\t')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

class ModernExtrasCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fx::TempDir();
    truth_ = new fx::BackupTruth(fx::BuildBackup(dir_->path(), fx::SampleIos16BackupOptions()));
  }
  static void TearDownTestSuite() {
    delete truth_;
    delete dir_;
  }
  static fx::TempDir* dir_;
  static fx::BackupTruth* truth_;
};
fx::TempDir* ModernExtrasCli::dir_ = nullptr;
fx::BackupTruth* ModernExtrasCli::truth_ = nullptr;

TEST_F(ModernExtrasCli, SummaryCountsReactionsApartAndRecordsCarryTheirFields) {
  fx::Database sql(truth_->messagesPath, {.create = false, .readOnly = true});
  // Reactions left standing: those added less those taken back (each removal here has its
  // reaction).
  const int64_t reactions =
      sql.QueryInt(
          "SELECT count(*) FROM message WHERE associated_message_type BETWEEN 2000 AND "
          "2005") -
      sql.QueryInt(
          "SELECT count(*) FROM message WHERE associated_message_type BETWEEN 3000 AND "
          "3005");
  const CliRun summary = RunCli({"summary", truth_->folder, "--quiet"});
  ASSERT_EQ(summary.status, 0) << summary.err;
  const std::vector<std::string> lines = summary.Lines();
  ASSERT_GE(lines.size(), 8u);
  // The reactions' line, then the index-only traces' line, after the nodes.
  EXPECT_EQ(lines[lines.size() - 2], "短信/回应\t" + std::to_string(reactions));
  EXPECT_EQ(lines.back().rfind("短信/仅存索引\t", 0), 0u);
  // The existing lines stay first, in their order.
  EXPECT_EQ(lines[0].rfind("短信/删除数据\t", 0), 0u);
  EXPECT_EQ(lines[1].rfind("短信/现存数据\t", 0), 0u);
  const int64_t live = sql.QueryInt(
      "SELECT count(*) FROM message WHERE associated_message_type NOT BETWEEN 2000 AND 3005 AND "
      "ROWID NOT IN (SELECT message_id FROM chat_recoverable_message_join)");
  EXPECT_EQ(lines[1], "短信/现存数据\t" + std::to_string(live));

  // records: every line has the same fields; the reactions field of the messages reacted to.
  const CliRun records = RunCli({"records", truth_->folder, "messages", "--quiet"});
  ASSERT_EQ(records.status, 0) << records.err;
  size_t reacted = 0, withFiles = 0, edited = 0;
  for (const std::string& line : records.Lines()) {
    const std::vector<std::string> f = Split(line);
    // Nine fields, the contact name, then reactions, reply, edit, unsend, attachments.
    ASSERT_EQ(f.size(), 15u) << line;
    reacted += !f[10].empty();
    edited += !f[12].empty();
    withFiles += !f[14].empty();
  }
  EXPECT_EQ(static_cast<int64_t>(reacted),
            sql.QueryInt("SELECT count(DISTINCT substr(associated_message_guid, -36)) FROM message "
                         "WHERE associated_message_type BETWEEN 2000 AND 2005"));
  EXPECT_EQ(static_cast<int64_t>(edited),
            sql.QueryInt("SELECT count(*) FROM message WHERE date_edited != 0"));
  EXPECT_EQ(static_cast<int64_t>(withFiles),
            sql.QueryInt("SELECT count(DISTINCT message_id) FROM message_attachment_join"));

  // records --deleted: the kind of deletion, and for the recently deleted its time and chat.
  const CliRun deleted = RunCli({"records", truth_->folder, "messages", "--deleted", "--quiet"});
  ASSERT_EQ(deleted.status, 0) << deleted.err;
  std::map<std::string, std::vector<std::string>> recent;  // text -> fields
  size_t carved = 0;
  for (const std::string& line : deleted.Lines()) {
    const std::vector<std::string> f = Split(line);
    // ... then the kind of deletion, its time and chat, where it was found (five) and
    // whether it is an earlier version.
    ASSERT_EQ(f.size(), 24u) << line;
    if (f[15] == "recently-deleted")
      recent[f[6]] = f;
    else
      carved += f[15] == "carved";
  }
  EXPECT_EQ(carved + recent.size(), deleted.Lines().size());
  const std::vector<fx::Row> rows = sql.Query(
      "SELECT r.delete_date / 1000000000, c.chat_identifier, m.date / 1000000000, m.guid FROM "
      "chat_recoverable_message_join r JOIN chat c ON c.ROWID = r.chat_id JOIN message m ON "
      "m.ROWID = r.message_id");
  ASSERT_EQ(recent.size(), rows.size());
  for (const fx::Row& row : rows) {
    std::string text;
    for (const fx::ModernMessage& m : truth_->modernMessages->messages)
      if (m.guid == row[3].bytes) text = m.text;
    ASSERT_EQ(recent.count(text), 1u) << text;
    EXPECT_EQ(recent[text][1], std::to_string(row[2].integer));
    EXPECT_EQ(recent[text][16], std::to_string(row[0].integer));
    EXPECT_EQ(recent[text][17], row[1].bytes);
  }
}

TEST_F(ModernExtrasCli, ExportCopiesEveryAttachmentTheBackupHolds) {
  const std::string out = dir_->File("export");
  const CliRun run = RunCli({"export", truth_->folder, out, "--attachments", "--quiet"});
  ASSERT_EQ(run.status, 0) << run.err;
  // Every file the backup holds, under its transfer name made unique, with its bytes.
  std::map<std::string, size_t> expected;  // bytes -> copies
  size_t missing = 0;
  for (const fx::ModernAttachment& a : truth_->modernMessages->attachments) {
    if (a.inBackup)
      ++expected[a.bytes];
    else
      ++missing;
  }
  std::map<std::string, size_t> written;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(out + "/attachments")) {
    ++written[fx::ReadFileBytes(entry.path().string())];
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(written, expected);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"IMG_0001 (2).jpeg", "IMG_0001.jpeg", "清单.txt"}));
  // The one the backup lacks is said, with a count.
  ASSERT_EQ(missing, 1u);
  EXPECT_NE(run.err.find("attachment not in the backup: ~/Library/SMS/Attachments/"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("1 attachment(s) not in the backup, 3 copied"), std::string::npos);

  // Without the flag no attachment folder appears.
  const std::string plain = dir_->File("plain");
  ASSERT_EQ(RunCli({"export", truth_->folder, plain, "--quiet"}).status, 0);
  EXPECT_FALSE(std::filesystem::exists(plain + "/attachments"));
}

}  // namespace
