// Exports that cannot be written: over an existing read-only file, and onto a
// disk that fills up part-way (a file-size limit makes every write past it
// fail, as a full disk does). The failure names the file, nothing is reported
// as done or as written, existing files keep their bytes, and vantrel-cli ends
// with status 4. (A folder that cannot be written and /dev/full are covered by
// the export and CLI tests.)
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "DamageSupport.h"
#ifdef VANTREL_CLI_PATH
#include "cli/CliRunner.h"
#endif
#include "export/Exporter.h"

namespace vantrel::robust {
namespace {

const char kKept[] = "an earlier export the user wants to keep\n";

// Makes file impossible to write for this process: read-only mode for an
// ordinary user, the immutable attribute for root (which ignores the mode).
// Empty reason when done, else why not.
class Unwritable {
 public:
  explicit Unwritable(std::string file) : file_(std::move(file)) {
    if (::geteuid() != 0) {
      fs::permissions(file_, fs::perms::owner_read | fs::perms::group_read);
    } else if (!SetImmutable(true)) {
      reason_ = "running as root where chattr +i is not possible";
      return;
    }
    const int fd = ::open(file_.c_str(), O_WRONLY);
    if (fd >= 0) {
      ::close(fd);
      reason_ = "the file can still be opened for writing";
    }
  }
  ~Unwritable() {
    if (::geteuid() == 0) SetImmutable(false);
    fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write);
  }
  const std::string& reason() const { return reason_; }

 private:
  bool SetImmutable(bool on) {
    const int fd = ::open(file_.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
  }
  std::string file_;
  std::string reason_;
};

// A file-size limit for this process while it lives: a write past it fails
// with EFBIG instead of raising SIGXFSZ, like a disk that is full there.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit saved_{};
  sighandler_t oldHandler_ = SIG_DFL;
};

class RecordingDialogs : public ExportDialogs {
 public:
  std::optional<std::string> AskSaveFile(const std::string&, const FileFilters&) override {
    return saveAnswer;
  }
  std::optional<std::string> AskFolder(const std::string&) override { return folderAnswer; }
  void ShowDone() override { ++done; }
  void ShowError(const std::string& text) override { errors.push_back(text); }
  std::string saveAnswer, folderAnswer;
  int done = 0;
  std::vector<std::string> errors;
};

class ExportFailure : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fx::TempDir("vantrel-export-failure");
    fx::BackupOptions o;
    o.seed = 51;
    o.messages.messageCount = 80;
    o.messages.computeSurvival = false;
    o.contacts.personCount = 12;
    o.contacts.computeSurvival = false;
    o.calls.computeSurvival = false;
    backup_ = new fx::BackupTruth(fx::BuildBackup(dir_->File("backups"), o));
    data_ = new Collections(LoadPath(backup_->folder).data);
  }
  static void TearDownTestSuite() {
    delete data_;
    delete backup_;
    delete dir_;
  }
  static fx::TempDir* dir_;
  static fx::BackupTruth* backup_;
  static Collections* data_;
};

fx::TempDir* ExportFailure::dir_ = nullptr;
fx::BackupTruth* ExportFailure::backup_ = nullptr;
Collections* ExportFailure::data_ = nullptr;

TEST_F(ExportFailure, AnExistingReadOnlyFileIsNamedAndKept) {
  ASSERT_FALSE(data_->liveMessages.empty());
  for (ExportFormat format : {ExportFormat::Csv, ExportFormat::Txt}) {
    const std::string out = dir_->File(format == ExportFormat::Csv ? "ro-csv" : "ro-txt");
    fs::create_directories(out);
    const std::string blocked = out + (format == ExportFormat::Csv ? "/SMS.CSV" : "/SMS.txt");
    WriteBytes(blocked, kKept);
    Unwritable lock(blocked);
    if (!lock.reason().empty()) GTEST_SKIP() << lock.reason();

    // Save all: the file before it is written, the read-only one fails, nothing after it.
    RecordingDialogs dialogs;
    dialogs.folderAnswer = out;
    const ExportResult all = RunSaveAll(dialogs, *data_, format, ExportOptions{"UTF-8"});
    EXPECT_FALSE(all.ok);
    EXPECT_EQ(all.failedFile, blocked);
    EXPECT_TRUE(all.reason == std::strerror(EACCES) || all.reason == std::strerror(EPERM))
        << all.reason;
    EXPECT_EQ(std::count(all.writtenFiles.begin(), all.writtenFiles.end(), blocked), 0);
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_NE(dialogs.errors[0].find(blocked), std::string::npos);
    EXPECT_EQ(dialogs.done, 0);
    EXPECT_FALSE(
        fs::exists(out + (format == ExportFormat::Csv ? "/Contacts.CSV" : "/Contacts.txt")));
    EXPECT_EQ(fx::ReadFileBytes(blocked), kKept);

    // Save current onto the same file.
    dialogs.saveAnswer = blocked;
    const ExportResult one =
        RunSaveCurrent(dialogs, *data_, Category::LiveMessages, format, ExportOptions{"GBK"});
    EXPECT_FALSE(one.ok);
    EXPECT_EQ(one.failedFile, blocked);
    EXPECT_TRUE(one.writtenFiles.empty());
    EXPECT_EQ(dialogs.errors.size(), 2u);
    EXPECT_EQ(dialogs.done, 0);
    EXPECT_EQ(fx::ReadFileBytes(blocked), kKept);
  }
}

TEST_F(ExportFailure, ADiskFillingUpPartWayIsReportedOnTheFileItHit) {
  const std::string out = dir_->File("full");
  fs::create_directories(out);
  RecordingDialogs dialogs;
  dialogs.folderAnswer = out;
  ExportResult r;
  {
    // Room for a few kilobytes: the first files fit, a bigger one does not.
    FileSizeLimit limit(6 * 1024);
    r = RunSaveAll(dialogs, *data_, ExportFormat::Csv, ExportOptions{});
  }
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.failedFile.empty());
  EXPECT_EQ(r.reason, std::strerror(EFBIG));
  EXPECT_EQ(std::count(r.writtenFiles.begin(), r.writtenFiles.end(), r.failedFile), 0);
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_NE(dialogs.errors[0].find(r.failedFile), std::string::npos);
  EXPECT_NE(dialogs.errors[0].find(std::strerror(EFBIG)), std::string::npos);
  EXPECT_EQ(dialogs.done, 0);
  // Every file reported as written is whole: it matches the same export with room.
  const std::string roomy = dir_->File("roomy");
  fs::create_directories(roomy);
  const ExportResult full = ExportAllCategories(*data_, ExportFormat::Csv, roomy, ExportOptions{});
  ASSERT_TRUE(full.ok);
  for (const std::string& written : r.writtenFiles)
    EXPECT_EQ(fx::ReadFileBytes(written),
              fx::ReadFileBytes(roomy + "/" + fs::path(written).filename().string()))
        << written;
}

TEST_F(ExportFailure, ADiskFillingUpInALongListIsReportedWhicheverThreadHitIt) {
  // A long list is written by a thread of its own while the next rows are
  // made: the failure there must be the export's, on that file.
  Collections many;
  MessageList& list = many.liveMessages["13800000001"];
  for (int i = 0; i < 60000; ++i) {
    MessageRecord m;
    m.text = "第" + std::to_string(i) + "条消息, with some words to fill the line";
    m.date = 400000000 + i * 61;
    list.push_back(std::move(m));
  }
  const std::string out = dir_->File("full-long");
  fs::create_directories(out);
  ExportResult r;
  {
    // The first runs fit; the list is about 8 MB.
    FileSizeLimit limit(3 * 1024 * 1024);
    r = ExportAllCategories(many, ExportFormat::Csv, out, ExportOptions{});
  }
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(fs::path(r.failedFile).filename(), "SMS.CSV");
  EXPECT_EQ(r.reason, std::strerror(EFBIG));
  EXPECT_EQ(std::count(r.writtenFiles.begin(), r.writtenFiles.end(), r.failedFile), 0);
}

#ifdef VANTREL_CLI_PATH
using vantrel::testing::CliRun;

CliRun Cli(const std::vector<std::string>& args, const std::string& prefix = "") {
  return vantrel::testing::RunCli(args, prefix);
}

TEST_F(ExportFailure, TheCommandLineToolEndsWithStatusFour) {
  // Over a read-only file.
  const std::string out = dir_->File("cli-ro");
  fs::create_directories(out);
  const std::string blocked = out + "/SMS.CSV";
  WriteBytes(blocked, kKept);
  {
    Unwritable lock(blocked);
    if (lock.reason().empty()) {
      const CliRun r = Cli({"export", backup_->folder, out, "--quiet"});
      EXPECT_EQ(r.status, 4) << r.err;
      EXPECT_NE(r.err.find(blocked), std::string::npos) << r.err;
      EXPECT_EQ(r.out.find(blocked), std::string::npos);  // not listed as written
      EXPECT_EQ(r.err.find("完成"), std::string::npos);
      EXPECT_EQ(fx::ReadFileBytes(blocked), kKept);
    } else {
      std::printf("read-only file case skipped: %s\n", lock.reason().c_str());
    }
  }
  // Onto a disk that fills up: the shell sets a 4 KB file-size limit and ignores SIGXFSZ.
  const std::string full = dir_->File("cli-full");
  const CliRun r = Cli({"export", backup_->folder, full, "--quiet"}, "trap '' XFSZ; ulimit -f 4; ");
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_NE(r.err.find(std::strerror(EFBIG)), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(full + "/"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("完成"), std::string::npos);
  // The files listed as written are whole; the one that failed is not among them.
  for (const char* name : {"SMS_Del.CSV", "SMS.CSV", "Contacts_Del.CSV", "Contacts.CSV"}) {
    const std::string file = full + "/" + name;
    if (r.out.find(file) == std::string::npos) continue;
    EXPECT_EQ(r.err.find(file), std::string::npos) << file;
  }
}
#endif

}  // namespace
}  // namespace vantrel::robust
