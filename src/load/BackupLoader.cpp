// The load driver: opens each kind's database in turn, runs its loader and
// reports categories and counts through LoadObserver.
#include "load/BackupLoader.h"

#include <climits>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

#include "backup/BackupFiles.h"
#include "backup/BackupPlists.h"
#include "backup/Discovery.h"
#include "backup/EncryptedBackup.h"
#include "platform/ReadOnlyFile.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

// Which files a path offers: a folder's databases found through its file
// index, each with the log its manifest stores, or one file for every kind
// with its "-wal" log when one lies beside it.
struct PathSource {
  std::string path;
  bool isFolder = false;
  std::string walPath;  // the single file's log; "" = none
  BackupFiles files;
  const BackupKeys* keys = nullptr;  // an unlocked encrypted backup's keys, else null

  PathSource(const ExaminedPath& chosen, const BackupKeys* unlocked)
      : path(chosen.path), isFolder(chosen.IsBackup()) {
    if (isFolder) {
      if (unlocked && unlocked->unlocked()) keys = unlocked;
      files.Open(chosen, keys);
    } else {
      walPath = path + "-wal";
      if (!PathExists(walPath)) walPath.clear();
    }
  }
  KindDatabase FileOf(const Source& kind) const {
    if (!isFolder) {
      KindDatabase single;
      single.path = path;
      single.walPath = walPath;
      return single;
    }
    return LocateKindDatabase(files, kind);
  }
};

// One kind's database through the load. Each kind fills only its own
// collections, so kinds may load at the same time.
struct KindLoad {
  std::unique_ptr<SqliteFile> database = std::make_unique<SqliteFile>();
  std::thread thread;  // the load on a thread of its own, when it has one
  bool found = false;  // the path offered a file for the kind
  bool opened = false;
  bool done = false;
  LoaderStatus status = LoaderStatus::TableAbsent;
  // An encrypted backup's deciphered database and log, and what failed.
  MemoryFile plainDatabase, plainLog;
  std::vector<DecryptionProblem> decryptionProblems;

  KindLoad() = default;
  KindLoad(const KindLoad&) = delete;
  KindLoad& operator=(const KindLoad&) = delete;
  // Joined on every way out, so an exception from another kind's load never
  // leaves the thread running.
  ~KindLoad() { Join(); }
  void Join() {
    if (thread.joinable()) thread.join();
  }

  KindDatabase file;

  bool Open(const Source& kind, const PathSource& source) {
    file = source.FileOf(kind);
    found = !file.path.empty();
    // An encrypted backup's database is read from its deciphered copy in
    // memory; file keeps naming the stored one, which the reports hash.
    KindDatabase readFrom = file;
    if (found && source.keys) Decipher(*source.keys, readFrom);
    opened =
        found && OpenDatabase(readFrom.walPath, *database, readFrom.path) != OpenStatus::NotOpened;
    // Carved records name the file as the phone does ("HomeDomain-Library/SMS/sms.db").
    if (opened && !file.domain.empty()) database->name = file.domain + "-" + file.relativePath;
    return opened;
  }
  void Decipher(const BackupKeys& keys, KindDatabase& file) {
    DecipheredDatabase plain = DecipherKindDatabase(keys, file);
    file = plain.file;
    plainDatabase = std::move(plain.database);
    plainLog = std::move(plain.log);
    decryptionProblems = std::move(plain.problems);
  }
  void Load(const Source& kind, Collections& into) {
    if (opened) status = kind.load(*database, into);
    done = true;
  }
};

uint64_t SizeOf(const std::string& path) {
  std::error_code ec;
  const uintmax_t size = path.empty() ? 0 : std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<uint64_t>(size);
}

SourceDatabase DatabaseRead(const Source& kind, const KindLoad& load) {
  SourceDatabase source;
  source.kind = kind.kind;
  source.path = load.file.path;
  source.domain = load.file.domain;
  source.relativePath = load.file.relativePath;
  source.size = SizeOf(load.file.path);
  source.walPath = load.file.walPath;
  source.walSize = SizeOf(load.file.walPath);
  source.loaded = load.status != LoaderStatus::TableAbsent;
  return source;
}

int Clamp(size_t n) {
  return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

// The kind's branch of the tree, when its loader found its table.
void Report(const Source& kind, const Collections& data, LoadObserver& observer) {
  const auto node = observer.AddCategory(kind.kind);
  for (const CategoryNode& child : kind.nodes) {
    if (child.alwaysShown || HasRecords(data, child.category))
      observer.AddCount(node, child.category, Clamp(RecordCount(data, child.category)));
  }
  observer.ExpandCategory(node);
}

}  // namespace

std::string BackupFilePath(const std::string& folder, const std::string& name) {
  std::string flat = folder + name;
  if (PathExists(flat)) return flat;
  if (name.size() > 2) {
    std::string nested = folder + name.substr(0, 2) + "/" + name;
    if (PathExists(nested)) return nested;
  }
  return {};
}

namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

KindDatabase LocateKindDatabase(const BackupFiles& files, const Source& kind) {
  const std::string folder = WithSlash(files.folder());
  // The manifest's word first: it names the file by domain and path whatever
  // the layout. A manifest that is damaged or lacks the entry leaves the
  // hashed names, flat or nested, as the folder holds them.
  for (const BackupFileRef& file : kind.backupFiles) {
    KindDatabase found;
    found.domain = file.domain;
    found.relativePath = file.relativePath;
    found.name = file.relativePath;
    if (const std::optional<FileEntry> entry = files.Find(file.domain, file.relativePath)) {
      found.hasKey = entry->hasEncryptionKey;
      found.storedKey = entry->encryptionKey;
    }
    if (std::optional<std::string> path = files.PathOf(file.domain, file.relativePath)) {
      found.path = *path;
    } else {
      found.path = BackupFilePath(folder, BackupFileId(file.domain, file.relativePath));
      if (found.path.empty()) continue;
    }
    // A backup copies the log as a file of its own when the phone had one
    // open: its rows are part of the database as the phone last saw it.
    const std::string log = std::string(file.relativePath) + "-wal";
    if (files.HasWal(file.domain, file.relativePath)) {
      found.walName = log;
      if (const std::optional<FileEntry> entry = files.Find(file.domain, log)) {
        found.walHasKey = entry->hasEncryptionKey;
        found.walStoredKey = entry->encryptionKey;
      }
      if (std::optional<std::string> path = files.PathOf(file.domain, log))
        found.walPath = *path;
      else
        found.walPath = BackupFilePath(folder, BackupFileId(file.domain, log));
    }
    return found;
  }
  return {};
}

DecipheredDatabase DecipherKindDatabase(const BackupKeys& keys, const KindDatabase& file) {
  // A database that cannot be deciphered is not opened at all (its bytes
  // are noise); a log that cannot be is left out.
  DecipheredDatabase out;
  out.file = file;
  DecryptedFile main = DecryptBackupFile(keys, file.path, file.storedKey, file.hasKey);
  if (main.status != DecryptStatus::Ok) {
    out.problems.push_back({main.status, file.name});
    out.file.path.clear();
    out.file.walPath.clear();
    return out;
  }
  out.database = std::move(main.file);
  out.file.path = out.database.path();
  if (file.walPath.empty()) return out;
  DecryptedFile log = DecryptBackupFile(keys, file.walPath, file.walStoredKey, file.walHasKey);
  if (log.status != DecryptStatus::Ok) {
    out.problems.push_back({log.status, file.walName});
    out.file.walPath.clear();
    return out;
  }
  out.log = std::move(log.file);
  out.file.walPath = out.log.path();
  return out;
}

std::string KindFileInFolder(const std::string& folder, const Source& kind) {
  BackupFiles files;
  files.Open(folder);
  const KindDatabase found = LocateKindDatabase(files, kind);
  if (!found.path.empty()) return found.path;
  if (kind.backupFiles.empty()) return WithSlash(folder);
  const BackupFileRef& first = kind.backupFiles.front();
  return WithSlash(folder) + BackupFileId(first.domain, first.relativePath);
}

namespace {

LoadMessage NothingLoadedFor(const InfoPlistFacts& info) {
  if (info.productVersion.empty()) return {LoadProblem::NothingReadable};
  const int major = info.IosMajor();
  if (major > 0 && major <= 5) return {LoadProblem::TooOldVersion, info.productVersion};
  return {LoadProblem::DatabasesMissing, info.productVersion};
}

}  // namespace

LoadMessage NothingLoaded(const ExaminedPath& path) {
  return NothingLoadedFor(path.info);
}

LoadMessage NothingLoaded(const std::string& path) {
  return NothingLoadedFor(IsDirectory(path) ? ReadInfoPlist(path) : InfoPlistFacts());
}

namespace {

// What went wrong with Manifest.db of an unlocked backup, for the message.
std::optional<DecryptionProblem> ManifestProblem(const BackupFiles& files) {
  if (files.status() != BackupFilesStatus::ManifestUndeciphered) return std::nullopt;
  // Deciphered without a fault, yet unreadable: the key or the file is bad.
  if (files.manifestDecryption() == DecryptStatus::Ok)
    return DecryptionProblem{DecryptStatus::NotADatabase, "Manifest.db"};
  return DecryptionProblem{files.manifestDecryption(), "Manifest.db"};
}

}  // namespace

LoadResult LoadBackup(const std::string& path, LoadObserver& observer, const BackupKeys* keys) {
  return LoadBackup(ExaminePath(path), observer, keys);
}

LoadResult LoadBackup(const ExaminedPath& path, LoadObserver& observer, const BackupKeys* keys) {
  LoadResult result;
  switch (path.kind) {
    case PathKind::Missing:
      return result;
    case PathKind::FolderOfBackups:
      result.status = LoadStatus::FolderOfBackups;
      for (const BackupRow& row : path.heldBackups) result.heldBackups.push_back(row.folder);
      return result;
    case PathKind::File:
    case PathKind::Backup:
    case PathKind::EncryptedBackup:
      break;
  }
  const PathSource source(path, keys);
  if (source.keys) {
    if (std::optional<DecryptionProblem> problem = ManifestProblem(source.files))
      result.decryptionProblems.push_back(std::move(*problem));
  }
  const std::vector<Source>& kinds = Sources();
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

  bool loaded = false, found = false;
  for (size_t k = 0; k < kinds.size(); ++k) {
    const Source& kind = kinds[k];
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
    found |= load.found;
    for (DecryptionProblem& problem : load.decryptionProblems)
      result.decryptionProblems.push_back(std::move(problem));
    if (load.opened) {
      result.databaseDamage[static_cast<size_t>(kind.kind)] = Damage(*load.database);
      result.sources.push_back(DatabaseRead(kind, load));
    }
    if (load.opened && load.status != LoaderStatus::TableAbsent) {
      loaded = true;
      Report(kind, data, observer);
    }
    observer.StepProgress();
  }
  if (source.isFolder) {
    for (const Source& kind : kinds)
      if (kind.findFilesInBackup) kind.findFilesInBackup(source.files, data);
  }
  observer.EndProgress();

  if (loaded) {
    result.status = LoadStatus::Loaded;
    // Some kinds loaded, but a database that could not be deciphered is
    // missing from what is shown: the user is told which.
    if (!result.decryptionProblems.empty())
      observer.ShowMessage({LoadProblem::Undeciphered, {}, result.decryptionProblems});
  } else if (!result.decryptionProblems.empty()) {
    result.status = LoadStatus::NothingSupported;
    observer.ShowMessage({LoadProblem::Undeciphered, {}, result.decryptionProblems});
  } else if (path.kind == PathKind::EncryptedBackup && !source.keys) {
    result.status = LoadStatus::Encrypted;
    observer.ShowMessage({LoadProblem::Encrypted});
  } else {
    result.status = LoadStatus::NothingSupported;
    // A backup whose databases are there but unreadable is not said to lack them.
    observer.ShowMessage(found ? LoadMessage{LoadProblem::NothingReadable} : NothingLoaded(path));
  }
  return result;
}

}  // namespace vantrel
