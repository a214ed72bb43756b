// vantrel-cli on encrypted backups: the password from a file, the
// environment or nowhere; every command prints what it prints for the
// unencrypted twin; a missing or wrong password is exit status 5.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "CliRunner.h"
#include "fixtures/Fixtures.h"

namespace vantrel {
namespace {

namespace fx = vantrel::fixtures;
namespace fs = std::filesystem;
using testing::RunCli;

constexpr char kPassword[] = "iPhone 密码 1234";

struct Backups {
  fx::TempDir dir{"vantrel-cli-encrypted"};
  fx::BackupTruth plain, locked;
  std::string passwordFile, wrongFile;
  explicit Backups(bool manifestDb) {
    fx::BackupOptions o;
    o.seed = manifestDb ? 41 : 42;
    o.messages.messageCount = 60;
    o.contacts.personCount = 10;
    o.calls.callCount = 30;
    if (manifestDb) {
      o.layout = fx::ManifestLayout::ManifestDb;
      o.productVersion = "15.1";
      o.modernDatabases = true;
    }
    plain = fx::BuildBackup(dir.File("plain"), o);
    o.password = kPassword;
    locked = fx::BuildBackup(dir.File("locked"), o);
    passwordFile = dir.File("pw.txt");
    std::ofstream(passwordFile) << kPassword << "\n";
    wrongFile = dir.File("wrong.txt");
    std::ofstream(wrongFile) << "iPhone 密码 123\n";
  }
};

TEST(EncryptedCli, EveryCommandPrintsWhatTheTwinPrints) {
  for (bool manifestDb : {true, false}) {
    SCOPED_TRACE(manifestDb ? "Manifest.db era" : "Manifest.mbdb era");
    Backups b(manifestDb);
    const std::vector<std::vector<std::string>> commands = {{"summary"},
                                                            {"records", "messages"},
                                                            {"records", "messages", "--deleted"},
                                                            {"records", "contacts"},
                                                            {"records", "calls"},
                                                            {"records", "calls", "--deleted"}};
    for (const auto& command : commands) {
      auto args = [&](const std::string& folder) {
        std::vector<std::string> a = {command[0], folder};
        a.insert(a.end(), command.begin() + 1, command.end());
        return a;
      };
      const testing::CliRun plain = RunCli(args(b.plain.folder));
      ASSERT_EQ(plain.status, 0) << plain.err;
      auto withFile = args(b.locked.folder);
      withFile.push_back("--password-file");
      withFile.push_back(b.passwordFile);
      const testing::CliRun fromFile = RunCli(withFile);
      EXPECT_EQ(fromFile.status, 0) << fromFile.err;
      EXPECT_EQ(fromFile.out, plain.out) << command[0];
      const testing::CliRun fromEnv = RunCli(
          args(b.locked.folder), "VANTREL_BACKUP_PASSWORD=" + testing::ShellQuote(kPassword) + " ");
      EXPECT_EQ(fromEnv.status, 0) << fromEnv.err;
      EXPECT_EQ(fromEnv.out, plain.out) << command[0];
    }
    // Export writes the same files.
    const testing::CliRun e1 = RunCli({"export", b.plain.folder, b.dir.File("x1")});
    const testing::CliRun e2 =
        RunCli({"export", b.locked.folder, b.dir.File("x2"), "--password-file", b.passwordFile});
    ASSERT_EQ(e1.status, 0);
    ASSERT_EQ(e2.status, 0) << e2.err;
    int files = 0;
    for (const auto& f : fs::directory_iterator(b.dir.File("x1"))) {
      ++files;
      EXPECT_EQ(fx::ReadFileBytes(f.path().string()),
                fx::ReadFileBytes(b.dir.File("x2") + "/" + f.path().filename().string()))
          << f.path().filename();
    }
    EXPECT_GE(files, 3);
  }
}

TEST(EncryptedCli, MissingOrWrongPasswordIsExitFiveAndSaysSo) {
  Backups b(true);
  // No password anywhere and no terminal on standard input.
  const testing::CliRun none =
      RunCli({"summary", b.locked.folder}, "unset VANTREL_BACKUP_PASSWORD; </dev/null ");
  EXPECT_EQ(none.status, 5);
  EXPECT_NE(none.err.find("--password-file"), std::string::npos) << none.err;
  EXPECT_TRUE(none.out.empty());
  const testing::CliRun wrong =
      RunCli({"summary", b.locked.folder, "--password-file", b.wrongFile});
  EXPECT_EQ(wrong.status, 5);
  EXPECT_NE(wrong.err.find("备份密码不正确"), std::string::npos) << wrong.err;
  const testing::CliRun wrongEnv =
      RunCli({"records", b.locked.folder, "messages"}, "VANTREL_BACKUP_PASSWORD=x ");
  EXPECT_EQ(wrongEnv.status, 5);
  const testing::CliRun unreadable =
      RunCli({"summary", b.locked.folder, "--password-file", b.dir.File("no-such-file")});
  EXPECT_EQ(unreadable.status, 5);
  // The file wins over the environment.
  const testing::CliRun both =
      RunCli({"summary", b.locked.folder, "--password-file", b.passwordFile},
             "VANTREL_BACKUP_PASSWORD=x ");
  EXPECT_EQ(both.status, 0) << both.err;
  // An unencrypted backup ignores a password.
  EXPECT_EQ(RunCli({"summary", b.plain.folder, "--password-file", b.wrongFile}).status, 0);
  // backups marks the encrypted one only.
  const testing::CliRun list = RunCli({"backups", b.dir.File("locked")});
  ASSERT_EQ(list.Lines().size(), 1u);
  EXPECT_EQ(list.Lines()[0].substr(list.Lines()[0].rfind('\t')), "\tencrypted");
  const testing::CliRun plainList = RunCli({"backups", b.dir.File("plain")});
  ASSERT_EQ(plainList.Lines().size(), 1u);
  const std::string plainRow = plainList.Lines()[0];
  EXPECT_EQ(std::count(plainRow.begin(), plainRow.end(), '\t'), 3) << plainRow;
  EXPECT_NE(RunCli({"--help"}).out.find("5 an encrypted backup"), std::string::npos);
}

// A database whose ciphertext was cut: the rest loads (exit 0) and stderr names the file.
TEST(EncryptedCli, AnUndecipherableDatabaseIsNamedOnStderr) {
  Backups b(false);
  const std::string sms = fx::ReadFileBytes(b.locked.messagesPath);
  std::ofstream(b.locked.messagesPath, std::ios::binary | std::ios::trunc)
      << sms.substr(0, sms.size() - 7);
  const testing::CliRun r = RunCli({"summary", b.locked.folder, "--password-file", b.passwordFile});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("无法解密 Library/SMS/sms.db"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("短信"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("通话记录"), std::string::npos) << r.out;
  const testing::CliRun records =
      RunCli({"records", b.locked.folder, "messages", "--password-file", b.passwordFile});
  EXPECT_EQ(records.status, 3);
  EXPECT_NE(records.err.find("无法解密 Library/SMS/sms.db"), std::string::npos) << records.err;
}

// Attachments of an encrypted backup come out deciphered, the same bytes as
// the unencrypted twin's; never as the ciphertext the backup stores.
TEST(EncryptedCli, AttachmentsAreExportedDeciphered) {
  fx::TempDir dir("vantrel-cli-encrypted-attachments");
  fx::BackupOptions o;
  o.seed = 43;
  o.layout = fx::ManifestLayout::ManifestDb;
  o.productVersion = "16.2";
  o.modernDatabases = true;
  o.modernExtras = true;
  const fx::BackupTruth plain = fx::BuildBackup(dir.File("plain"), o);
  o.password = kPassword;
  const fx::BackupTruth locked = fx::BuildBackup(dir.File("locked"), o);
  const std::string passwordFile = dir.File("pw.txt");
  std::ofstream(passwordFile) << kPassword << "\n";

  const testing::CliRun e1 =
      RunCli({"export", plain.folder, dir.File("x1"), "--attachments", "--quiet"});
  const testing::CliRun e2 = RunCli({"export", locked.folder, dir.File("x2"), "--attachments",
                                     "--password-file", passwordFile, "--quiet"});
  ASSERT_EQ(e1.status, 0) << e1.err;
  ASSERT_EQ(e2.status, 0) << e2.err;
  EXPECT_EQ(e2.err, e1.err);  // the same missing file said, nothing else
  int files = 0;
  for (const auto& f : fs::directory_iterator(dir.File("x1") + "/attachments")) {
    ++files;
    const std::string twin = dir.File("x2") + "/attachments/" + f.path().filename().string();
    ASSERT_TRUE(fs::exists(twin)) << twin;
    EXPECT_EQ(fx::ReadFileBytes(twin), fx::ReadFileBytes(f.path().string())) << twin;
  }
  EXPECT_GE(files, 2);
}

}  // namespace
}  // namespace vantrel
