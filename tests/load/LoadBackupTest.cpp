// The load driver on backups made by the real SQLite engine: which categories
// and counts the tree receives, the progress steps, the one message, and that
// nothing of an earlier load survives a later one.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>
#include <tuple>

#include "backup/BackupFiles.h"
#include "backup/PlistText.h"
#include "fixtures/Fixtures.h"
#include "fixtures/Modern.h"
#include "load/BackupLoader.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using testing::WriteBytes;

// Records what the driver asks of the presentation.
class RecordingObserver : public LoadObserver {
 public:
  struct Child {
    Category category;
    int count = 0;
  };
  struct KindNode {
    RecordKind kind;
    std::vector<Child> children;
    bool expanded = false;
  };

  void BeginProgress() override { events.push_back("begin"); }
  void StepProgress() override {
    events.push_back("step");
    ++steps;
  }
  void EndProgress() override { events.push_back("end"); }
  void ResetViews() override {
    events.push_back("reset");
    categories.clear();
  }
  CategoryHandle AddCategory(RecordKind kind) override {
    events.push_back("category");
    categories.push_back({kind, {}, false});
    return static_cast<CategoryHandle>(categories.size() - 1);
  }
  void AddCount(CategoryHandle parent, Category category, int count) override {
    categories.at(parent).children.push_back({category, count});
  }
  void ExpandCategory(CategoryHandle category) override { categories.at(category).expanded = true; }
  void ShowMessage(const LoadMessage& message) override { messages.push_back(message); }

  std::vector<RecordKind> Kinds() const {
    std::vector<RecordKind> kinds;
    for (const KindNode& c : categories) kinds.push_back(c.kind);
    return kinds;
  }

  std::vector<std::string> events;
  std::vector<KindNode> categories;
  std::vector<LoadMessage> messages;
  int steps = 0;
};

template <typename Map>
int Total(const Map& map) {
  size_t n = 0;
  for (const auto& [key, list] : map) n += list.size();
  return static_cast<int>(n);
}

using Children = std::vector<std::pair<Category, int>>;
Children ChildrenOf(const RecordingObserver::KindNode& c) {
  Children out;
  for (const auto& child : c.children) {
    out.emplace_back(child.category, child.count);
    EXPECT_EQ(KindOf(child.category), c.kind);
  }
  return out;
}

// What the tree must show for the collections the loaders produced.
Children ExpectedMessages(const Collections& c) {
  Children out;
  if (!c.deletedMessages.empty())
    out.emplace_back(Category::DeletedMessages, static_cast<int>(c.deletedMessages.size()));
  if (!c.liveMessages.empty()) out.emplace_back(Category::LiveMessages, Total(c.liveMessages));
  return out;
}
Children ExpectedContacts(const Collections& c) {
  Children out;
  if (c.deletedContacts)
    out.emplace_back(Category::DeletedContacts, static_cast<int>(c.deletedContacts->size()));
  out.emplace_back(Category::LiveContacts, static_cast<int>(c.contacts.size()));
  return out;
}
Children ExpectedCalls(const Collections& c) {
  return {{Category::DeletedCalls, Total(c.deletedCalls)},
          {Category::LiveCalls, Total(c.liveCalls)}};
}

bool Empty(const Collections& c) {
  return c.liveMessages.empty() && c.deletedMessages.empty() && c.contacts.empty() &&
         !c.deletedContacts && c.liveCalls.empty() && c.deletedCalls.empty();
}

fixtures::BackupOptions SmallBackup(uint64_t seed) {
  fixtures::BackupOptions options;
  options.seed = seed;
  options.messages.messageCount = 120;
  options.contacts.personCount = 25;
  options.calls.callCount = 130;
  return options;
}

class LoadBackupTest : public ::testing::Test {
 protected:
  fixtures::TempDir dir_{"vantrel-load"};
};

const std::vector<RecordKind> kAllKinds = {RecordKind::Messages, RecordKind::Contacts,
                                           RecordKind::Calls};

TEST_F(LoadBackupTest, FullBackupGivesThreeCategoriesInSixSteps) {
  for (int ios : {6, 7}) {
    SCOPED_TRACE("iOS " + std::to_string(ios));
    fixtures::BackupOptions options = SmallBackup(10 + ios);
    options.iosVersion = ios;
    const fixtures::BackupTruth truth =
        BuildBackup(dir_.File("ios" + std::to_string(ios)), options);
    RecordingObserver observer;
    const LoadResult loaded = LoadBackup(truth.folder, observer);
    EXPECT_EQ(loaded.status, LoadStatus::Loaded);

    EXPECT_EQ(observer.steps, 6);
    EXPECT_EQ(observer.events.front(), "begin");
    EXPECT_EQ(observer.events[1], "reset");
    EXPECT_EQ(observer.events.back(), "end");
    EXPECT_TRUE(observer.messages.empty());
    ASSERT_EQ(observer.Kinds(), kAllKinds);
    for (const auto& c : observer.categories) EXPECT_TRUE(c.expanded);

    const Collections& got = loaded.collections;
    EXPECT_EQ(ChildrenOf(observer.categories[0]), ExpectedMessages(got));
    EXPECT_EQ(ChildrenOf(observer.categories[1]), ExpectedContacts(got));
    EXPECT_EQ(ChildrenOf(observer.categories[2]), ExpectedCalls(got));

    // What the user sees against what the fixture put in.
    EXPECT_EQ(Total(got.liveMessages), static_cast<int>(truth.messages->Live().size()));
    EXPECT_FALSE(got.deletedMessages.empty());
    EXPECT_EQ(Total(got.liveCalls), static_cast<int>(truth.calls->Live().size()));
    EXPECT_GT(Total(got.deletedCalls), 0);
    const int liveContacts = static_cast<int>(truth.contacts->Live().size());
    EXPECT_EQ(ExpectedContacts(got).back().second, liveContacts);
  }
}

TEST_F(LoadBackupTest, MissingCallDatabaseGivesTwoCategoriesAndNothingStale) {
  const fixtures::BackupTruth full = BuildBackup(dir_.File("full"), SmallBackup(3));
  fixtures::BackupOptions options = SmallBackup(4);
  options.includeCalls = false;
  const fixtures::BackupTruth partial = BuildBackup(dir_.File("partial"), options);

  RecordingObserver first;
  ASSERT_FALSE(LoadBackup(full.folder, first).collections.liveCalls.empty());

  RecordingObserver observer;
  const LoadResult loaded = LoadBackup(partial.folder, observer);
  EXPECT_EQ(observer.steps, 5);  // the call database takes only its final step
  EXPECT_TRUE(observer.messages.empty());
  EXPECT_EQ(observer.Kinds(),
            (std::vector<RecordKind>{RecordKind::Messages, RecordKind::Contacts}));
  // The calls of the first backup are not kept under the second one.
  EXPECT_TRUE(loaded.collections.liveCalls.empty());
  EXPECT_TRUE(loaded.collections.deletedCalls.empty());
  EXPECT_EQ(Total(loaded.collections.liveMessages),
            static_cast<int>(partial.messages->Live().size()));
}

// iOS 10 and later keep each file under the first two hex digits of its name; an upgraded
// phone keeps its iOS 7 call database beside the call store, whose calls are the current ones.
TEST_F(LoadBackupTest, NestedNamesAndTheCallStoreBeforeTheLegacyFile) {
  const std::string folder = dir_.File("ios17") + "/";
  for (const char* sub : {"3d", "5a", "2b"}) fs::create_directories(folder + sub);
  fixtures::ModernMessageOptions sms;
  sms.iosVersion = 16;
  const auto messages =
      fixtures::BuildModernMessagesDb(folder + "3d/" + kMessagesDatabaseName, sms);
  const auto calls = fixtures::BuildModernCallsDb(folder + "5a/" + kCallStoreDatabaseName, 17);
  fixtures::CallOptions old;
  old.callCount = 20;
  fixtures::BuildCallsDb(folder + "2b/" + kCallsDatabaseName, old);

  EXPECT_EQ(KindFileInFolder(folder, SourceOf(RecordKind::Calls)),
            folder + "5a/" + kCallStoreDatabaseName);
  EXPECT_EQ(KindFileInFolder(folder, SourceOf(RecordKind::Contacts)),
            folder + kContactsDatabaseName);  // absent: the flat name, as before
  // Without a manifest no log is taken for a database.
  BackupFiles files;
  files.Open(folder);
  EXPECT_EQ(LocateKindDatabase(files, SourceOf(RecordKind::Messages)).walPath, "");
  EXPECT_EQ(BackupFilePath(folder, kContactsDatabaseName), "");

  RecordingObserver observer;
  const LoadResult loaded = LoadBackup(folder, observer);
  ASSERT_EQ(loaded.status, LoadStatus::Loaded);
  EXPECT_EQ(observer.Kinds(), (std::vector<RecordKind>{RecordKind::Messages, RecordKind::Calls}));
  size_t liveMessages = 0, liveCalls = 0;
  for (const auto& m : messages.messages) liveMessages += !m.deleted;
  for (const auto& c : calls.calls) liveCalls += !c.deleted;
  EXPECT_EQ(Total(loaded.collections.liveMessages), static_cast<int>(liveMessages));
  EXPECT_EQ(Total(loaded.collections.liveCalls), static_cast<int>(liveCalls));
  for (const auto& [number, list] : loaded.collections.liveCalls)
    for (const CallRecord& call : list) EXPECT_NE(call.type, CallType::Unknown) << number;

  // A flat file wins over a nested copy of the same name.
  fs::copy_file(folder + "5a/" + kCallStoreDatabaseName, folder + kCallStoreDatabaseName);
  EXPECT_EQ(BackupFilePath(folder, kCallStoreDatabaseName), folder + kCallStoreDatabaseName);
}

TEST_F(LoadBackupTest, SingleFileIsReadWithItsLogAndAFolderAfterItWithout) {
  fixtures::MessageOptions options;
  options.journal = fixtures::JournalMode::Wal;
  options.messageCount = 150;
  const std::string file = dir_.File("sms.db");
  const fixtures::MessagesTruth truth = fixtures::BuildMessagesDb(file, options);
  ASSERT_TRUE(fs::exists(file + "-wal"));

  RecordingObserver observer;
  const LoadResult loaded = LoadBackup(file, observer);
  EXPECT_EQ(observer.steps, 6);  // the one file is opened for every kind
  EXPECT_TRUE(observer.messages.empty());
  ASSERT_EQ(observer.Kinds(), std::vector<RecordKind>{RecordKind::Messages});
  EXPECT_EQ(ChildrenOf(observer.categories[0]), ExpectedMessages(loaded.collections));
  // Rows committed only to the log are there; rows of its unfinished transaction are not.
  EXPECT_EQ(Total(loaded.collections.liveMessages), static_cast<int>(truth.Live().size()));

  // The same file without its log beside it: no log is used, and the rows
  // the log alone holds are not there.
  const std::string bare = dir_.File("bare.db");
  fs::copy_file(file, bare);
  RecordingObserver bareObserver;
  const LoadResult bareLoaded = LoadBackup(bare, bareObserver);
  EXPECT_EQ(bareLoaded.status, LoadStatus::Loaded);
  EXPECT_LT(Total(bareLoaded.collections.liveMessages), static_cast<int>(truth.Live().size()));

  const fixtures::BackupTruth backup = BuildBackup(dir_.File("backup"), SmallBackup(5));
  RecordingObserver folderObserver;
  EXPECT_EQ(LoadBackup(backup.folder, folderObserver).status, LoadStatus::Loaded);
  EXPECT_EQ(folderObserver.categories.size(), 3u);
}

TEST_F(LoadBackupTest, UnsupportedDatabaseShowsTheMessageOnce) {
  const std::string file = dir_.File("other.db");
  {
    fixtures::Database db(file);
    db.Exec(
        "CREATE TABLE notes(id INTEGER PRIMARY KEY, body TEXT); INSERT INTO notes VALUES(1,'x');");
  }
  const std::string junk = dir_.File("junk.bin");
  std::string bytes(8192, '\0');
  std::mt19937 random(11);
  for (char& b : bytes) b = static_cast<char>(random());
  WriteBytes(junk, bytes);
  const std::string emptyFolder = dir_.File("empty");
  fs::create_directories(emptyFolder);

  for (const auto& [path, steps] :
       std::vector<std::pair<std::string, int>>{{file, 6}, {junk, 6}, {emptyFolder, 3}}) {
    SCOPED_TRACE(path);
    RecordingObserver observer;
    EXPECT_EQ(LoadBackup(path, observer).status, LoadStatus::NothingSupported);
    EXPECT_TRUE(observer.categories.empty());
    EXPECT_EQ(observer.steps, steps);
    // Nothing names an iOS version here: the message says what was looked for.
    EXPECT_EQ(observer.messages, std::vector<LoadMessage>{{LoadProblem::NothingReadable}});
    EXPECT_EQ(observer.events.back(), "end");  // the message comes after the progress closes
  }

  // A path that does not exist: nothing is loaded, shown or stepped.
  RecordingObserver missing;
  EXPECT_EQ(LoadBackup(dir_.File("missing"), missing).status, LoadStatus::NotFound);
  EXPECT_TRUE(missing.events.empty());
  EXPECT_TRUE(missing.messages.empty());
}

TEST_F(LoadBackupTest, ReloadAfterAFailedOpenShowsNothingStale) {
  const fixtures::BackupOptions options = SmallBackup(6);
  const fixtures::BackupTruth full = BuildBackup(dir_.File("full"), options);
  RecordingObserver first;
  ASSERT_FALSE(Empty(LoadBackup(full.folder, first).collections));

  // The databases have gone (a backup deleted meanwhile): nothing remains.
  fs::remove(full.messagesPath);
  fs::remove(full.contactsPath);
  fs::remove(full.callsPath);
  RecordingObserver observer;
  EXPECT_TRUE(Empty(LoadBackup(full.folder, observer).collections));
  EXPECT_TRUE(observer.categories.empty());
  EXPECT_EQ(observer.steps, 3);
  // Info.plist names the version: the message names it and says the databases are missing.
  const std::vector<LoadMessage> missingDatabases = {
      {LoadProblem::DatabasesMissing, options.productVersion}};
  EXPECT_EQ(observer.messages, missingDatabases);
  EXPECT_EQ(NothingLoaded(full.folder), observer.messages.front());
}

TEST_F(LoadBackupTest, EncryptedBackupSaysSo) {
  fixtures::BackupOptions options = SmallBackup(7);
  options.encrypted = true;
  const fixtures::BackupTruth truth = BuildBackup(dir_.File("enc"), options);

  // Enciphered databases look like noise to the reader.
  std::mt19937 random(13);
  for (const std::string& path : {truth.messagesPath, truth.contactsPath, truth.callsPath}) {
    std::string noise(fs::file_size(path), '\0');
    for (char& b : noise) b = static_cast<char>(random());
    WriteBytes(path, noise);
  }
  RecordingObserver observer;
  EXPECT_EQ(LoadBackup(truth.folder, observer).status, LoadStatus::Encrypted);
  EXPECT_TRUE(observer.categories.empty());
  EXPECT_EQ(observer.messages, std::vector<LoadMessage>{{LoadProblem::Encrypted}});

  // Without the mark, a backup that yields nothing is merely unsupported.
  options.encrypted = false;
  options.includeMessages = options.includeContacts = options.includeCalls = false;
  const fixtures::BackupTruth plain = BuildBackup(dir_.File("plain"), options);
  RecordingObserver plainObserver;
  EXPECT_EQ(LoadBackup(plain.folder, plainObserver).status, LoadStatus::NothingSupported);
  const std::vector<LoadMessage> missingDatabases = {
      {LoadProblem::DatabasesMissing, options.productVersion}};
  EXPECT_EQ(plainObserver.messages, missingDatabases);
}

// An iOS 16 backup in the Manifest.db layout, with binary property lists: each kind is found
// through the manifest by domain and path, and its live rows are those SQLite wrote.
TEST_F(LoadBackupTest, ManifestDbBackupLoadsThroughItsIndex) {
  const fixtures::BackupOptions options = fixtures::SampleIos16BackupOptions();
  const fixtures::BackupTruth truth = BuildBackup(dir_.File("ios16"), options);
  BackupFiles files;
  ASSERT_EQ(files.Open(truth.folder), BackupFilesStatus::Ok);
  ASSERT_EQ(files.layout(), BackupLayout::ManifestDb);
  EXPECT_EQ(LocateKindDatabase(files, SourceOf(RecordKind::Messages)).path, truth.messagesPath);
  EXPECT_EQ(LocateKindDatabase(files, SourceOf(RecordKind::Calls)).path, truth.callsPath);
  EXPECT_EQ(LocateKindDatabase(files, SourceOf(RecordKind::Contacts)).path, truth.contactsPath);

  RecordingObserver observer;
  const LoadResult loaded = LoadBackup(truth.folder, observer);
  ASSERT_EQ(loaded.status, LoadStatus::Loaded);
  EXPECT_EQ(observer.Kinds(), kAllKinds);
  EXPECT_EQ(observer.steps, 6);

  // Every live message, by its date in seconds and the text the user sees (from attributedBody
  // where `text` is empty), under the chat's name when it has one.
  std::multiset<std::tuple<int64_t, std::string, std::string>> expected, got;
  // Recently deleted messages are listed with the deleted ones.
  for (const fixtures::ModernMessage& m : truth.modernMessages->messages)
    if (!m.deleted && !m.recentlyDeleted)
      expected.emplace(m.seconds, m.text, truth.modernMessages->ChatOf(m).displayName);
  for (const auto& [address, list] : loaded.collections.liveMessages)
    for (const MessageRecord& m : list) got.emplace(m.date.value_or(0), m.text, m.chatName());
  EXPECT_EQ(got, expected);

  size_t liveCalls = 0;
  for (const fixtures::ModernCall& c : truth.modernCalls->calls) liveCalls += !c.deleted;
  EXPECT_EQ(Total(loaded.collections.liveCalls), static_cast<int>(liveCalls));
  EXPECT_EQ(loaded.collections.contacts.size(), truth.modernContacts->persons.size());
}

// A backup whose manifest lists sms.db's -wal as a file of its own (Manifest.mbdb and
// Manifest.db alike): the log is read with the database, so rows committed only to it are
// there; once gone from disk, they are not.
TEST_F(LoadBackupTest, BackupReadsTheLogItsManifestLists) {
  for (const fixtures::ManifestLayout layout :
       {fixtures::ManifestLayout::Mbdb, fixtures::ManifestLayout::ManifestDb}) {
    const bool mbdb = layout == fixtures::ManifestLayout::Mbdb;
    SCOPED_TRACE(mbdb ? "Manifest.mbdb" : "Manifest.db");
    fixtures::BackupOptions options = SmallBackup(21);
    options.layout = layout;
    options.messages.journal = fixtures::JournalMode::Wal;
    options.messages.messageCount = 150;
    options.walEntry = true;
    const fixtures::BackupTruth truth = BuildBackup(dir_.File(mbdb ? "mbdb" : "db"), options);
    ASSERT_FALSE(truth.walPath.empty());
    ASSERT_FALSE(fs::exists(truth.messagesPath + "-wal"));  // stored under its own hashed name

    BackupFiles files;
    ASSERT_EQ(files.Open(truth.folder), BackupFilesStatus::Ok);
    ASSERT_EQ(files.layout(), mbdb ? BackupLayout::ManifestMbdb : BackupLayout::ManifestDb);
    const KindDatabase sms = LocateKindDatabase(files, SourceOf(RecordKind::Messages));
    EXPECT_EQ(sms.path, truth.messagesPath);
    EXPECT_EQ(sms.walPath, truth.walPath);
    EXPECT_EQ(LocateKindDatabase(files, SourceOf(RecordKind::Contacts)).walPath, "");

    RecordingObserver observer;
    const LoadResult loaded = LoadBackup(truth.folder, observer);
    ASSERT_EQ(loaded.status, LoadStatus::Loaded);
    EXPECT_EQ(Total(loaded.collections.liveMessages),
              static_cast<int>(truth.messages->Live().size()));

    fs::remove(truth.walPath);
    RecordingObserver without;
    const LoadResult bare = LoadBackup(truth.folder, without);
    EXPECT_LT(Total(bare.collections.liveMessages),
              static_cast<int>(truth.messages->Live().size()));
  }
}

// The sync software's Backup folder itself: nothing is loaded or shown, and the backups it
// holds, old and new layouts alike, come back for the caller to offer.
TEST_F(LoadBackupTest, FolderOfBackupsIsNotLoaded) {
  const std::string root = dir_.File("Backup");
  const fixtures::BackupTruth old = BuildBackup(root, SmallBackup(31));
  const fixtures::BackupTruth modern = BuildBackup(root, fixtures::SampleIos16BackupOptions());
  fs::create_directories(root + "/not-a-backup");

  RecordingObserver observer;
  const LoadResult loaded = LoadBackup(root, observer);
  EXPECT_EQ(loaded.status, LoadStatus::FolderOfBackups);
  EXPECT_TRUE(observer.events.empty());
  EXPECT_TRUE(observer.messages.empty());
  std::vector<std::string> expected = {old.folder, modern.folder};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(loaded.heldBackups, expected);
  EXPECT_EQ(BackupsHeldIn(old.folder),
            std::vector<std::string>{});  // a backup is not a folder of them
}

// Info.plist names the version: iOS 5 and older are said to be too old; a later version whose
// databases are missing is said to lack them. Both carry the version.
TEST_F(LoadBackupTest, NothingLoadedNamesTheVersion) {
  for (const auto& [version, tooOld] : std::vector<std::pair<std::string, bool>>{
           {"5.1.1", true}, {"4.3.5", true}, {"14.3", false}, {"17.0.1", false}}) {
    SCOPED_TRACE(version);
    fixtures::BackupOptions options = SmallBackup(41);
    options.productVersion = version;
    options.includeMessages = options.includeContacts = options.includeCalls = false;
    options.binaryPlists = version == "14.3";
    const fixtures::BackupTruth truth = BuildBackup(dir_.File("v" + version), options);
    RecordingObserver observer;
    EXPECT_EQ(LoadBackup(truth.folder, observer).status, LoadStatus::NothingSupported);
    const LoadProblem problem = tooOld ? LoadProblem::TooOldVersion : LoadProblem::DatabasesMissing;
    const std::vector<LoadMessage> expected = {{problem, version}};
    EXPECT_EQ(observer.messages, expected);
  }
}

}  // namespace
}  // namespace vantrel
