// Finding device backups for the selection dialog: the default backup folder,
// the backups in it (device name, last backup date and iOS version from each
// backup's Info.plist), and the backups remembered across dialog openings.
// No widgets here: the dialog shows what these functions return.
#pragma once

#include <string>
#include <vector>

namespace vantrel {

// One row of the backup list.
struct BackupRow {
  std::string folder;          // full path of the device backup folder
  std::string deviceName;      // "Device Name", or the folder's own name when none is known
  std::string lastBackupDate;  // "Last Backup Date" exactly as stored (ISO 8601), or ""
  std::string productVersion;  // "Product Version" (e.g. "6.1.3"), or ""
};

// Examines one candidate folder. A backup is a folder holding Info.plist or,
// failing that, Manifest.mbdb or Manifest.db; false (row untouched) otherwise.
// Info.plist is opened and read once, and parsed once: the XML form by the
// tolerant XmlDocument alone, the binary form by libplist. With only
// Manifest.mbdb, or an Info.plist that cannot be read or has no "Device Name",
// the row carries the folder's own name and empty date and version. Keys count
// in document order: "Last Backup Date" and "Product Version" are taken only
// after "Device Name" (as in the sorted dictionary of a real Info.plist), and
// reading stops at "Product Version".
bool ExamineBackupFolder(const std::string& folder, BackupRow& row);

// The first existing folder of DefaultBackupCandidates(), or "" when none exists.
std::string FindDefaultBackupFolder();

// The backups among the directories directly inside root, sorted by entry name
// (byte order) so the list is the same on every file system. Plain files are
// not examined. Empty when root cannot be read.
std::vector<BackupRow> ListBackups(const std::string& root);

// What the selection dialog shows when it opens.
struct BackupListing {
  std::string defaultFolder;    // "" when no candidate exists (the link then has no target)
  int defaultCount = 0;         // backups listed from the default folder (the message line's)
  std::vector<BackupRow> rows;  // default folder's backups, then the remembered ones
  int selectedRow = -1;         // row to select and focus (RememberedBackups::lastRow), -1 none
};

// The backup folders listed the last time, one per list row, and the row the
// user last confirmed. One instance lives as long as the application, so a
// backup added from another folder is listed again the next time the dialog
// opens. The table grows as needed: there is no limit on the number of rows.
class RememberedBackups {
 public:
  // Lists the default folder's backups (they take the first rows, replacing
  // what was remembered at those rows), then the remembered folders after
  // them that are still backups. Folders that no longer examine as backups
  // are dropped. The remembered table becomes exactly the listed rows.
  BackupListing OpenListing();

  // Examines folder (chosen through "其他备份文件夹") and, when it is a backup,
  // appends it as row rowCount, remembers it there and increments rowCount.
  // False (nothing changed) when it is not a backup.
  bool AddBackupRow(const std::string& folder, int& rowCount, BackupRow& row);

  // Remembers folders (the backups of a folder chosen in place of one) so the
  // next listing shows them after the default folder's backups.
  void RememberFolders(const std::vector<std::string>& folders);

  // Folder of list row i, "" when there is none (the path field then stays).
  std::string FolderAt(int row) const;

  // OK was pressed with row as the list's selection mark (-1 for none, e.g. a
  // single file picked through the browse button).
  void Confirm(int row) { lastRow_ = row; }
  int lastRow() const { return lastRow_; }
  const std::vector<std::string>& folders() const { return folders_; }

 private:
  std::vector<std::string> folders_;
  int lastRow_ = -1;
};

}  // namespace vantrel
