// The load driver: turns one chosen path (a device backup folder, or a single
// database file) into the record collections and one category branch per
// kind, driving the presentation only through LoadObserver. What it reads is
// a table of kinds (Sources): which file each kind needs, which loader
// reads it and which categories it fills, so a new database layout is a new
// row rather than new code.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "backup/ExaminedPath.h"
#include "load/LoadObserver.h"
#include "platform/ReadOnlyFile.h"
#include "sources/Collections.h"
#include "sources/Source.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// The hashed names under which an iOS 6/7 backup folder keeps the three databases
// (SHA-1 of "domain-path").
inline constexpr char kMessagesDatabaseName[] = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
inline constexpr char kContactsDatabaseName[] = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
inline constexpr char kCallsDatabaseName[] = "2b2b0084a1bc3a5ac8c27afdf14afb42c61a19ca";
// The Core Data call store of iOS 8 and later:
// SHA-1 of "HomeDomain-Library/CallHistoryDB/CallHistory.storedata".
inline constexpr char kCallStoreDatabaseName[] = "5a4935c78a5255723f707230a451d79c540d2741";

// Where a backup folder (path ending in '/') keeps the file of a backup
// name: flat beside Info.plist (iOS 9 and older), else in the subfolder of
// the name's first two hex digits (iOS 10 and later). "" when neither exists.
std::string BackupFilePath(const std::string& folder, const std::string& name);

class BackupFiles;
struct BackupKeys;

// Where a kind's database lies in a backup folder, and its log.
struct KindDatabase {
  std::string path;     // "" when the backup holds none of the kind's files
  std::string walPath;  // the "-wal" the manifest lists as its own entry, when on disk; else ""
  // The file as the phone names it ("HomeDomain", "Library/SMS/sms.db"); empty
  // for a database file chosen on its own.
  std::string domain;
  std::string relativePath;
  // What an encrypted backup needs to decipher them: the phone's path of
  // each file (for messages) and its stored wrapped key, as the manifest
  // gives them (no key when the manifest does not list the file).
  std::string name, walName;
  bool hasKey = false, walHasKey = false;
  std::string storedKey, walStoredKey;
};

// A database file a load read, for reports that must show their evidence.
struct SourceDatabase {
  RecordKind kind = RecordKind::Messages;
  std::string path;          // on disk: inside the backup folder, or the chosen file
  std::string domain;        // "" for a file chosen on its own
  std::string relativePath;  // "Library/SMS/sms.db"; "" for a file chosen on its own
  uint64_t size = 0;         // bytes
  std::string walPath;       // the log read with it; "" when none
  uint64_t walSize = 0;
  bool loaded = false;  // its loader found the kind's table
};

// The database of a kind in an indexed backup folder: the first of its files
// the index finds by domain and path; failing that (no manifest, or one that
// does not list it), the first found under its hashed name by BackupFilePath.
// The log is taken only when the index has it as an entry of its own (the
// manifest lists it, or for a folder without one, its hashed name exists).
KindDatabase LocateKindDatabase(const BackupFiles& files, const Source& kind);

// A kind's database of an encrypted backup deciphered into memory: file with
// its paths replaced by those of the memory copies (path "" when the
// database could not be deciphered; walPath "" when its log could not), and
// each file that failed. The copies live as long as this does.
struct DecipheredDatabase {
  KindDatabase file;
  MemoryFile database, log;
  std::vector<DecryptionProblem> problems;
};
DecipheredDatabase DecipherKindDatabase(const BackupKeys& keys, const KindDatabase& file);

// The same for a folder path, with the index read here; when the folder holds
// none of the kind's files, the flat path of the first one's hashed name.
std::string KindFileInFolder(const std::string& folder, const Source& kind);

enum class LoadStatus {
  Loaded,            // at least one kind's key table was found
  NothingSupported,  // nothing the path offered is a supported database (message shown)
  FolderOfBackups,   // the folder holds backups instead of being one: nothing done, see backups
  Encrypted,         // nothing loaded and the backup folder says it is encrypted (message shown)
  NotFound,          // the path does not exist: nothing was done, the observer left alone
};

struct LoadResult {
  LoadStatus status = LoadStatus::NotFound;
  Collections collections;
  // What the reader had to skip, per database, indexed by RecordKind: damaged
  // cells and pages (zero for a database that did not open).
  std::array<DamageCounts, kRecordKindCount> databaseDamage{};
  // FolderOfBackups: the backups the folder holds (Discovery's ListBackups).
  std::vector<std::string> heldBackups;
  // Every database file that opened, in the order of the kinds.
  std::vector<SourceDatabase> sources;
  // An encrypted backup: each file that could not be deciphered (Manifest.db,
  // a database or its log), in the order met.
  std::vector<DecryptionProblem> decryptionProblems;
};

// The message for a load that found nothing, from what the folder's
// Info.plist says (its iOS version) when it has one.
LoadMessage NothingLoaded(const ExaminedPath& path);
// The same for a path not examined, its Info.plist read here when it is a folder.
LoadMessage NothingLoaded(const std::string& path);

// Loads path. A directory is a backup folder: its file index (BackupFiles)
// finds each kind's database by domain and path, with its "-wal" when the
// manifest stores one. Anything else is one database file offered to every
// kind's loader, with "<file>-wal" beside it when that exists. Progress: two
// steps per kind whose database opens, one per kind whose database does not
// (six when all three open). At most one message is shown: the
// encrypted-backup one or NothingLoaded, only when no kind loaded. A
// path that does not exist returns NotFound at once; a folder that holds
// backups without being one returns FolderOfBackups at once, the observer
// left alone.
//
// An encrypted backup is read with keys (UnlockBackup, EncryptedBackup.h):
// its Manifest.db and databases are deciphered into memory, never to disk.
// Files that could not be deciphered are listed in decryptionProblems and
// said in the one message (also when other kinds loaded). Without unlocked
// keys an encrypted backup loads nothing and says LoadProblem::Encrypted.
//
// The path is examined once, at the start (ExaminePath); a caller that has
// examined it already passes the examination instead.
LoadResult LoadBackup(const std::string& path, LoadObserver& observer,
                      const BackupKeys* keys = nullptr);
LoadResult LoadBackup(const ExaminedPath& path, LoadObserver& observer,
                      const BackupKeys* keys = nullptr);

}  // namespace vantrel
