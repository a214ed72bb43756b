// The load driver: opens each kind's database in turn, runs its loader and
// reports categories and counts through LoadObserver.
#include "backup/BackupLoader.h"

#include <climits>
#include <memory>
#include <stdexcept>
#include <thread>

#include "backup/EncryptedBackup.h"
#include "platform/ReadOnlyFile.h"
#include "recovery/CallStore.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

LoaderStatus LoadMessages(const SqliteFile& db, Collections& into) {
  return MessageLoader(db, into.liveMessages, into.deletedMessages);
}

LoaderStatus LoadContacts(const SqliteFile& db, Collections& into) {
  return ContactLoader(db, into.contacts, into.deletedContacts);
}

// A calls database is either the call store of iOS 8+ or the iOS 6/7 table.
LoaderStatus LoadCalls(const SqliteFile& db, Collections& into) {
  const LoaderStatus store = CallStoreLoader(db, into.liveCalls, into.deletedCalls);
  if (store != LoaderStatus::TableAbsent) return store;
  return CallLoader(db, into.liveCalls, into.deletedCalls);
}

// Which files a path offers: a folder's databases under their backup names,
// without a log, or one file for every kind with its "-wal" log when one lies
// beside it.
struct PathSource {
  std::string path;
  bool isFolder = false;
  std::string walPath;  // "" = none

  explicit PathSource(const std::string& chosen) : path(chosen), isFolder(IsDirectory(chosen)) {
    if (isFolder) {
      if (path.empty() || path.back() != '/') path += '/';
    } else {
      walPath = path + "-wal";
      if (!PathExists(walPath)) walPath.clear();
    }
  }
  std::string FileOf(const KindSource& kind) const {
    return isFolder ? KindFileInFolder(path, kind) : path;
  }
};

// One kind's database through the load. Each kind fills only its own
// collections, so kinds may load at the same time.
struct KindLoad {
  std::unique_ptr<SqliteFile> database = std::make_unique<SqliteFile>();
  std::thread thread;  // the load on a thread of its own, when it has one
  bool opened = false;
  bool done = false;
  LoaderStatus status = LoaderStatus::TableAbsent;

  KindLoad() = default;
  KindLoad(const KindLoad&) = delete;
  KindLoad& operator=(const KindLoad&) = delete;
  // Joined on every way out, so an exception from another kind's load never
  // leaves the thread running.
  ~KindLoad() { Join(); }
  void Join() {
    if (thread.joinable()) thread.join();
  }

  bool Open(const KindSource& kind, const PathSource& source) {
    opened = OpenDatabase(source.walPath, *database, source.FileOf(kind)) != OpenStatus::NotOpened;
    return opened;
  }
  void Load(const KindSource& kind, Collections& into) {
    if (opened) status = kind.load(*database, into);
    done = true;
  }
};

int Clamp(size_t n) {
  return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

// The kind's branch of the tree, when its loader found its table.
void Report(const KindSource& kind, const Collections& data, LoadObserver& observer) {
  const auto node = observer.AddCategory(kind.kind);
  for (const CategoryNode& child : kind.nodes) {
    if (child.alwaysShown || HasRecords(data, child.category))
      observer.AddCount(node, child.category, Clamp(RecordCount(data, child.category)));
  }
  observer.ExpandCategory(node);
}

}  // namespace

std::string BackupFilePath(const std::string& folder, const std::string& name) {
  // The one place a backup name becomes a path: an index of the backup's
  // files (Manifest.db) takes over here.
  std::string flat = folder + name;
  if (PathExists(flat)) return flat;
  if (name.size() > 2) {
    std::string nested = folder + name.substr(0, 2) + "/" + name;
    if (PathExists(nested)) return nested;
  }
  return {};
}

std::string KindFileInFolder(const std::string& folder, const KindSource& kind) {
  for (const char* name : kind.backupNames) {
    std::string found = BackupFilePath(folder, name);
    if (!found.empty()) return found;
  }
  return kind.backupNames.empty() ? folder : folder + kind.backupNames.front();
}

const std::vector<KindSource>& KindSources() {
  // The address book is read on a second thread while the messages load: its
  // reader and its collections are its own. A phone upgraded from iOS 7
  // keeps its old call_history.db beside the call store, frozen at the
  // upgrade: its calls are stale, so the store is read when it is there.
  static const std::vector<KindSource> kinds = {
      {.kind = RecordKind::Messages,
       .backupNames = {kMessagesDatabaseName},
       .load = LoadMessages,
       .nodes = {{{Category::DeletedMessages, false}, {Category::LiveMessages, false}}},
       .ownThread = false},
      {.kind = RecordKind::Contacts,
       .backupNames = {kContactsDatabaseName},
       .load = LoadContacts,
       .nodes = {{{Category::DeletedContacts, false}, {Category::LiveContacts, true}}},
       .ownThread = true},
      {.kind = RecordKind::Calls,
       .backupNames = {kCallStoreDatabaseName, kCallsDatabaseName},
       .load = LoadCalls,
       .nodes = {{{Category::DeletedCalls, true}, {Category::LiveCalls, true}}},
       .ownThread = false},
  };
  return kinds;
}

const KindSource& KindSourceOf(RecordKind kind) {
  for (const KindSource& source : KindSources())
    if (source.kind == kind) return source;
  throw std::logic_error("no source for a record kind");
}

LoadResult LoadBackup(const std::string& path, LoadObserver& observer) {
  LoadResult result;
  if (!PathExists(path)) return result;
  const PathSource source(path);
  const std::vector<KindSource>& kinds = KindSources();
  Collections& data = result.collections;

  observer.BeginProgress();
  observer.ResetViews();
  std::vector<KindLoad> loads(kinds.size());
  if (std::thread::hardware_concurrency() > 1) {
    for (size_t k = 0; k < kinds.size(); ++k) {
      if (!kinds[k].ownThread) continue;
      loads[k].thread = std::thread([&kind = kinds[k], &load = loads[k], &source, &data] {
        load.Open(kind, source);
        load.Load(kind, data);
      });
    }
  }

  bool loaded = false;
  for (size_t k = 0; k < kinds.size(); ++k) {
    const KindSource& kind = kinds[k];
    KindLoad& load = loads[k];
    if (kind.ownThread) {
      load.Join();
      if (!load.done) {
        load.Open(kind, source);
        load.Load(kind, data);
      }
      if (load.opened) observer.StepProgress();
    } else {
      if (load.Open(kind, source)) observer.StepProgress();
      load.Load(kind, data);
    }
    if (load.opened) result.databaseDamage[static_cast<size_t>(kind.kind)] = Damage(*load.database);
    if (load.opened && load.status != LoaderStatus::TableAbsent) {
      loaded = true;
      Report(kind, data, observer);
    }
    observer.StepProgress();
  }
  observer.EndProgress();

  if (loaded) {
    result.status = LoadStatus::Loaded;
  } else if (source.isFolder && IsEncryptedBackup(path)) {
    result.status = LoadStatus::Encrypted;
    observer.ShowMessage(kEncryptedBackupMessage);
  } else {
    result.status = LoadStatus::NothingSupported;
    observer.ShowMessage(kUnsupportedVersionMessage);
  }
  return result;
}

}  // namespace vantrel
