// The load driver: turns one chosen path (a device backup folder, or a single
// database file) into the five record collections and one category branch per
// kind, driving the presentation only through LoadObserver.
#pragma once

#include <string>

#include "backup/LoadObserver.h"
#include "recovery/Records.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// The product's display name: the caption of every message box.
inline constexpr char kProductDisplayName[] = "Vantrel For iPhone Backup";

// The hashed names under which an iOS 6/7 backup folder keeps the three databases
// (SHA-1 of "domain-path"), in the order they are loaded.
inline constexpr char kMessagesDatabaseName[] = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
inline constexpr char kContactsDatabaseName[] = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
inline constexpr char kCallsDatabaseName[] = "2b2b0084a1bc3a5ac8c27afdf14afb42c61a19ca";

// Shown when no loader found its table in anything the path offered.
inline constexpr char kUnsupportedVersionMessage[] =
    "此软件只支持iOS6.x 和iOS7.x 版本！如有需要请与开发商联系！";
// Shown by the caller when the chosen path does not exist.
inline constexpr char kFileNotFoundMessage[] = "没有找到文件";
// Shown instead of the unsupported-version message when nothing loaded and the
// backup folder's Manifest.plist says the backup is encrypted.
inline constexpr char kEncryptedBackupMessage[] =
    "此备份已加密，无法读取！请在 iTunes 中取消“加密本地备份”后重新备份，再用本软件打开。";

struct BackupLoader {
  std::string backupFolder;  // the chosen path; set by the caller before each load
  std::string walPath;       // log opened with each database; "" = none (set by LoadBackup)
  SqliteFile database;       // one reader reused for the three databases in turn
  Collections collections;   // what the last load produced

  // Loads backupFolder. A directory is a backup folder: its three databases
  // are opened by their hashed names, without any log. Anything else is one
  // database file offered to all three loaders, with "<file>-wal" beside it
  // when that exists. Every collection is emptied first, so nothing of an
  // earlier load survives. Progress: two steps per kind whose database opens,
  // one per kind whose database does not (six when all three open). At most
  // one message is shown: the encrypted-backup or the unsupported-version one,
  // only when no kind loaded.
  void LoadBackup(LoadObserver& observer);
};

}  // namespace vantrel
