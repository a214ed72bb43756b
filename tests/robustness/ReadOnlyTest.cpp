// Nothing is ever written to a backup. A load and every export leave each file
// of the backup byte for byte as it was, with its times, and the backup files
// are only ever opened for reading: checked on the open descriptors while the
// load runs, on files made read-only (and immutable when running as root,
// since root ignores permission bits), and on the sources themselves.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>

#include "DamageSupport.h"
#include "backup/Discovery.h"
#include "backup/EncryptedBackup.h"
#include "export/Exporter.h"

namespace vantrel::robust {
namespace {

// Everything that would show a write: the bytes, the mode, the modification
// and change times (nanoseconds) of each file and folder below root, root included.
struct Entry {
  std::string bytes;
  mode_t mode = 0;
  timespec mtime{}, ctime{};
  bool operator==(const Entry& o) const {
    return bytes == o.bytes && mode == o.mode && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
           ctime.tv_nsec == o.ctime.tv_nsec;
  }
};
using Snapshot = std::map<std::string, Entry>;

Entry Describe(const fs::path& p) {
  Entry e;
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return e;
  e.mode = st.st_mode;
  e.mtime = st.st_mtim;
  e.ctime = st.st_ctim;
  if (S_ISREG(st.st_mode)) e.bytes = fx::ReadFileBytes(p.string());
  return e;
}

Snapshot Take(const std::string& root) {
  Snapshot s;
  s["."] = Describe(root);
  for (const auto& item : fs::recursive_directory_iterator(root))
    s[fs::relative(item.path(), root).string()] = Describe(item.path());
  return s;
}

void ExpectSame(const Snapshot& before, const Snapshot& after) {
  for (const auto& [name, entry] : before) {
    auto it = after.find(name);
    if (it == after.end()) {
      ADD_FAILURE() << name << " disappeared";
      continue;
    }
    EXPECT_EQ(entry.bytes.size(), it->second.bytes.size()) << name;
    EXPECT_TRUE(entry == it->second) << name << " changed";
  }
  for (const auto& [name, entry] : after)
    EXPECT_TRUE(before.count(name)) << name << " appeared in the backup";
}

// Read-only files in a read-only folder; when running as root, also immutable
// (chattr +i), since root may write whatever the mode says. Undone on destruction.
class Locked {
 public:
  explicit Locked(const std::string& root) : root_(root) {
    for (const auto& item : fs::recursive_directory_iterator(root)) {
      if (item.is_regular_file()) files_.push_back(item.path().string());
    }
    for (const std::string& f : files_)
      fs::permissions(f, fs::perms::owner_read | fs::perms::group_read);
    fs::permissions(root, fs::perms::owner_read | fs::perms::owner_exec);
    if (::geteuid() == 0) {
      immutable_ = true;
      for (const std::string& f : files_) immutable_ = immutable_ && SetImmutable(f, true);
      if (!immutable_) {
        for (const std::string& f : files_) SetImmutable(f, false);
        std::printf("running as root without chattr +i here: checked by bytes and times only\n");
      }
    }
  }
  ~Locked() {
    if (immutable_)
      for (const std::string& f : files_) SetImmutable(f, false);
    fs::permissions(root_, fs::perms::owner_all);
    for (const std::string& f : files_)
      fs::permissions(f, fs::perms::owner_read | fs::perms::owner_write);
  }
  bool immutable() const { return immutable_; }

  // True when even root can no longer open the file for writing.
  static bool RefusesWriting(const std::string& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND);
    if (fd >= 0) ::close(fd);
    return fd < 0;
  }

 private:
  static bool SetImmutable(const std::string& file, bool on) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
  }

  std::string root_;
  std::vector<std::string> files_;
  bool immutable_ = false;
};

// At every progress step, while a database of the backup is open, each open
// descriptor on a file below the backup folder must be read-only.
class DescriptorCheck : public QuietObserver {
 public:
  explicit DescriptorCheck(std::string root) : root_(fs::canonical(root).string()) {}
  void StepProgress() override {
    QuietObserver::StepProgress();
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      const fs::path target = fs::read_symlink(fd.path(), ec);
      if (ec || target.string().rfind(root_ + "/", 0) != 0) continue;
      const std::string info =
          fx::ReadFileBytes("/proc/self/fdinfo/" + fd.path().filename().string());
      std::smatch m;
      ASSERT_TRUE(std::regex_search(info, m, std::regex("flags:\\s*([0-7]+)")));
      const int flags = std::stoi(m[1], nullptr, 8);
      EXPECT_EQ(flags & O_ACCMODE, O_RDONLY) << target << " open with flags " << m[1];
      ++checked;
    }
  }
  int checked = 0;

 private:
  std::string root_;
};

fx::BackupOptions SmallBackup() {
  fx::BackupOptions o;
  o.seed = 41;
  o.messages.messageCount = 60;
  o.messages.computeSurvival = false;
  o.contacts.personCount = 12;
  o.contacts.computeSurvival = false;
  o.calls.callCount = 40;
  o.calls.keepNewest = 25;
  o.calls.computeSurvival = false;
  return o;
}

void ExportEverything(const Collections& data, const std::string& out) {
  fs::create_directories(out);
  for (ExportFormat format : {ExportFormat::Csv, ExportFormat::Txt}) {
    const std::string folder = out + (format == ExportFormat::Csv ? "/csv" : "/txt");
    fs::create_directories(folder);
    ExportResult all = ExportAllCategories(data, format, folder, ExportOptions{"GBK"});
    EXPECT_TRUE(all.ok) << all.reason;
    EXPECT_GE(all.writtenFiles.size(), 3u);
    ExportResult one = ExportCurrentCategory(data, Category::DeletedMessages, format,
                                             folder + "/one", ExportOptions{"UTF-8"});
    EXPECT_TRUE(one.ok) << one.reason;
  }
}

TEST(ReadOnly, LoadingAndExportingABackupChangesNoFileOfIt) {
  fx::TempDir dir("vantrel-readonly");
  const fx::BackupTruth backup = fx::BuildBackup(dir.File("backups"), SmallBackup());
  // What an unlocked backup gives, to compare the locked load with.
  const LoadOutcome reference = LoadPath(backup.folder);
  ASSERT_EQ(reference.data.liveMessages.empty(), false);

  Locked locked(backup.folder);
  if (locked.immutable()) {
    EXPECT_TRUE(Locked::RefusesWriting(backup.messagesPath));
  }
  const Snapshot before = Take(backup.folder);
  ASSERT_GE(before.size(), 7u);  // the folder, three databases, Info, Manifest.mbdb, Manifest.plist

  DescriptorCheck observer(backup.folder);
  const LoadResult loader = LoadBackup(backup.folder, observer);
  EXPECT_EQ(observer.categories, 3);
  EXPECT_TRUE(observer.messages.empty());
  EXPECT_GE(observer.checked, 3) << "the databases were open while the steps were reported";
  // The locked backup reads exactly as the unlocked one did.
  EXPECT_EQ(LiveKeys(loader.collections, Kind::Messages), LiveKeys(reference.data, Kind::Messages));
  EXPECT_EQ(LiveKeys(loader.collections, Kind::Contacts), LiveKeys(reference.data, Kind::Contacts));
  EXPECT_EQ(LiveKeys(loader.collections, Kind::Calls), LiveKeys(reference.data, Kind::Calls));
  EXPECT_EQ(loader.collections.deletedMessages.size(), reference.data.deletedMessages.size());

  ExportEverything(loader.collections, dir.File("out"));
  // Discovery reads Info.plist and Manifest.plist too.
  BackupRow row;
  EXPECT_TRUE(ExamineBackupFolder(backup.folder, row));
  EXPECT_FALSE(IsEncryptedBackup(backup.folder));
  ExpectSame(before, Take(backup.folder));
}

TEST(ReadOnly, OneDatabaseWithItsLogIsReadWithoutTouchingEither) {
  fx::TempDir dir("vantrel-readonly-wal");
  const std::string folder = dir.File("single");
  fs::create_directories(folder);
  fx::MessageOptions m;
  m.journal = fx::JournalMode::Wal;
  m.messageCount = 80;
  m.computeSurvival = false;
  const std::string path = folder + "/sms.db";
  fx::BuildMessagesDb(path, m);
  ASSERT_TRUE(fs::exists(path + "-wal"));
  fs::remove(path + "-shm");  // as a copied backup holds it: no shared-memory file

  Locked locked(folder);
  const Snapshot before = Take(folder);
  DescriptorCheck observer(folder);
  const LoadResult loader = LoadBackup(path, observer);
  EXPECT_EQ(observer.categories, 1);
  EXPECT_GE(observer.checked, 6) << "database and log, open at each step";
  EXPECT_EQ(LiveKeys(loader.collections, Kind::Messages), SqliteKeys(path, Kind::Messages));
  ExportEverything(loader.collections, dir.File("out"));
  ExpectSame(before, Take(folder));  // no -shm, no -journal, the log as it was
}

// An encrypted backup: its databases are deciphered into anonymous memory
// files (memfd) while the load runs, and nothing lands in the backup folder,
// which stays byte for byte and time for time as it was, even when locked.
class MemoryFileCheck : public QuietObserver {
 public:
  void StepProgress() override {
    QuietObserver::StepProgress();
    int now = 0;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      const std::string target = fs::read_symlink(fd.path(), ec).string();
      if (!ec && target.rfind("/memfd:", 0) == 0) ++now;
    }
    most = std::max(most, now);
  }
  int most = 0;
};

TEST(ReadOnly, AnEncryptedBackupIsDecipheredInMemoryOnly) {
  fx::TempDir dir("vantrel-readonly-encrypted");
  fx::BackupOptions o = SmallBackup();
  o.layout = fx::ManifestLayout::ManifestDb;
  o.password = "只读 password";
  const fx::BackupTruth backup = fx::BuildBackup(dir.File("backups"), o);
  Locked locked(backup.folder);
  const Snapshot before = Take(backup.folder);
  const BackupKeys keys = UnlockBackup(backup.folder, o.password);
  ASSERT_TRUE(keys.unlocked());
  MemoryFileCheck observer;
  const LoadResult loader = LoadBackup(backup.folder, observer, &keys);
  EXPECT_EQ(loader.status, LoadStatus::Loaded);
  EXPECT_TRUE(loader.decryptionProblems.empty());
  EXPECT_GE(observer.most, 1) << "the deciphered databases were in memory files";
  EXPECT_FALSE(loader.collections.liveMessages.empty());
  ExportEverything(loader.collections, dir.File("out"));
  ExpectSame(before, Take(backup.folder));
}

// The sources open files for writing only where exports are written. Anything
// that could create, change or remove a file is listed here with its reason.
TEST(ReadOnly, SourcesWriteFilesOnlyInTheExporter) {
  const std::regex writing(
      R"(O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|O_APPEND|ofstream|fstream|fopen|WriteOnly|ReadWrite|)"
      R"(\.save\(|\bcreat\(|\brename\(|unlink|copy_file|::write\(|fwrite|mkdir|create_director|)"
      R"(QSettings|truncate|utime|chmod|permissions\(|filesystem::remove|fs::remove|\bmmap\()");
  // File -> what it may do and why.
  const std::map<std::string, std::string> allowed = {
      {"src/ui/Application.cpp", "saves the --screenshot image where the user asked"},
      {"src/cli/BackupCommands.cpp", "creates the export output folder"},
      {"src/sources/messages/Attachments.cpp",
       "writes an attachment's plain bytes where the user asked (export, save, open)"},
      {"src/ui/Settings.cpp", "keeps the window's settings in the user's configuration folder"},
      {"src/ui/Settings.h", "holds the QSettings store Settings.cpp writes"},
  };
  const fs::path root = VANTREL_SOURCE_DIR;
  int files = 0;
  for (const auto& item : fs::recursive_directory_iterator(root / "src")) {
    if (!item.is_regular_file()) continue;
    const std::string rel = fs::relative(item.path(), root).string();
    if (rel.rfind("src/export/", 0) == 0) continue;  // the exporter writes its files
    ++files;
    const std::string text = fx::ReadFileBytes(item.path().string());
    size_t lineNo = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      ++lineNo;
      const size_t comment = line.find("//");
      const std::string code = comment == std::string::npos ? line : line.substr(0, comment);
      if (!std::regex_search(code, writing)) continue;
      EXPECT_TRUE(allowed.count(rel)) << rel << ":" << lineNo << ": " << line;
    }
    // Every open of a file outside the exporter asks for reading only.
    const std::regex open(R"(::open\(([^;]*))");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), open);
         it != std::sregex_iterator(); ++it)
      EXPECT_NE((*it)[1].str().find("O_RDONLY"), std::string::npos) << rel << ": " << (*it)[0];
  }
  EXPECT_GT(files, 30);
}

}  // namespace
}  // namespace vantrel::robust
