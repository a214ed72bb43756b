// Manifest.db, the file list of iOS 10+ backups: an SQLite database written
// by the computer, read here with Vantrel's own page reader.
//
//   CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT,
//                       flags INTEGER, file BLOB);
//   CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB);
//
// fileID is BackupFileId(domain, relativePath); flags 1 = file, 2 = directory,
// 4 = symbolic link; file is an archived MBFile record (KeyedArchive.h). The
// file's bytes live at <backup>/<first two digits of fileID>/<fileID>.
//
// From iOS 10.2 an encrypted backup enciphers Manifest.db itself (its key is
// in Manifest.plist, ManifestKey), so the file does not start with SQLite's
// header: that is reported as NotSqlite, never read as an empty list.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "backup/FileEntry.h"

namespace vantrel {

enum class ManifestDbStatus {
  Ok,
  Unreadable,    // missing or cannot be opened
  NotSqlite,     // no "SQLite format 3" header (an encrypted Manifest.db, or damage)
  NoFilesTable,  // an SQLite file without a Files table
};

struct ManifestDbList {
  ManifestDbStatus status = ManifestDbStatus::Unreadable;
  std::vector<FileEntry> entries;  // live rows of Files, in the reader's page order
  size_t damagedRows = 0;          // cells whose record could not be read
  size_t undecodedRecords = 0;     // rows whose `file` blob was no readable MBFile archive
};

// Reads path (and path + "-wal" when one lies beside it).
ManifestDbList ReadManifestDb(const std::string& path);

}  // namespace vantrel
