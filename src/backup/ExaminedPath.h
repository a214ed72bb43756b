// What a path chosen to be read is, found out once: nothing at all, one file
// (a database, or something that is none), a backup folder with what its
// Info.plist and Manifest.plist say, an encrypted backup, or a folder that
// holds backups instead of being one. The load, the command line and the
// window all go by this one examination rather than each asking the file
// system again.
#pragma once

#include <string>
#include <vector>

#include "backup/BackupPlists.h"
#include "backup/Discovery.h"

namespace vantrel {

enum class PathKind {
  Missing,          // nothing exists at the path
  File,             // anything but a folder: offered as one database file
  Backup,           // a folder read as one backup (marked, or holding hashed names alone)
  EncryptedBackup,  // a backup whose Manifest.plist says IsEncrypted
  FolderOfBackups,  // a folder that is no backup itself but holds backups
};

struct ExaminedPath {
  std::string path;
  PathKind kind = PathKind::Missing;
  // Backup and EncryptedBackup: the two lists as read, once (status NotAPlist
  // when one is missing or unreadable). Empty facts for every other kind.
  InfoPlistFacts info;
  ManifestPlistFacts manifest;
  // FolderOfBackups: the backups it holds, as ListBackups gives them.
  std::vector<BackupRow> heldBackups;

  bool IsBackup() const { return kind == PathKind::Backup || kind == PathKind::EncryptedBackup; }
};

// Examines path: one look at whether it exists and is a folder; for a folder,
// whether it bears a mark of a backup (IsBackupFolder); then its Info.plist
// and Manifest.plist or, when it bears none, the backups inside it. A folder
// with neither marks nor backups is a Backup still (an iOS 6/7 copy of hashed
// names alone).
ExaminedPath ExaminePath(const std::string& path);

// Whether folder is itself a backup: it holds Info.plist, Manifest.plist,
// Manifest.db or Manifest.mbdb.
bool IsBackupFolder(const std::string& folder);

// The backups a folder holds when it is not one itself (the sync software's
// Backup folder): the subfolders that are backups, sorted. Empty otherwise.
std::vector<std::string> BackupsHeldIn(const std::string& folder);

}  // namespace vantrel
