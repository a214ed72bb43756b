// One index of a backup folder's files over every layout the desktop sync
// software has used:
//
//   Manifest.db    iOS 10 on     files under <folder>/<id[0..1]>/<id>
//   Manifest.mbdb  iOS 5 to 9    files flat under <folder>/<id>
//   neither        iOS 6/7 copy  files flat under <folder>/<id>, found by name only
//
// where id = BackupFileId(domain, relativePath). The load driver asks it for a
// database's path by domain and path, whether a "-wal" entry sits beside it,
// and the file's metadata (size, mode, times, protection class, wrapped key).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "backup/EncryptedBackup.h"
#include "backup/ExaminedPath.h"
#include "backup/FileEntry.h"
#include "backup/ManifestDb.h"
#include "backup/ManifestMbdb.h"

namespace vantrel {

enum class BackupLayout { None, ManifestDb, ManifestMbdb, FlatNames };

enum class BackupFilesStatus {
  Ok,
  NoFolder,           // the folder does not exist
  ManifestEncrypted,  // Manifest.db is enciphered (an encrypted iOS 10.2+ backup): no file list
  ManifestDamaged,    // Manifest.db or Manifest.mbdb could not be read whole (see the counts)
  // Manifest.db of an unlocked backup could not be deciphered (see
  // manifestDecryption()), or deciphered to something that is no database.
  ManifestUndeciphered,
};

class BackupFiles {
 public:
  // Detects the layout and reads the manifest. The index answers whatever it
  // could read even when the status is not Ok. With the keys of an unlocked
  // backup, an enciphered Manifest.db is deciphered into memory and read there.
  BackupFilesStatus Open(const std::string& folder, const BackupKeys* keys = nullptr);
  // The same for a path already examined: its folder is not looked at again,
  // and whether it is encrypted comes from its Manifest.plist as read then.
  BackupFilesStatus Open(const ExaminedPath& backup, const BackupKeys* keys = nullptr);

  BackupLayout layout() const { return layout_; }
  BackupFilesStatus status() const { return status_; }
  const std::string& folder() const { return folder_; }
  // Every entry of the manifest, in its order (empty for FlatNames: that
  // layout has no list, only names).
  const std::vector<FileEntry>& entries() const { return entries_; }
  // Details of the manifest read.
  MbdbStatus mbdbStatus() const { return mbdbStatus_; }
  ManifestDbStatus manifestDbStatus() const { return manifestDbStatus_; }
  size_t damagedRecords() const { return damagedRecords_; }
  // How deciphering Manifest.db went (Ok when it was not enciphered).
  DecryptStatus manifestDecryption() const { return manifestDecryption_; }

  // The entry of (domain, relativePath). For FlatNames, an entry made from the
  // file on disk (size and kind only) when the hashed name exists.
  std::optional<FileEntry> Find(std::string_view domain, std::string_view relativePath) const;
  // Where the backup keeps the bytes of (domain, relativePath) when the file is
  // there on disk; nullopt otherwise.
  std::optional<std::string> PathOf(std::string_view domain, std::string_view relativePath) const;
  // The on-disk path of a file ID in this layout (whether or not it exists).
  std::string PathOfId(const std::string& fileId) const;
  // Whether the manifest lists relativePath + "-wal" in the same domain (for
  // FlatNames: whether that hashed name exists).
  bool HasWal(std::string_view domain, std::string_view relativePath) const;

 private:
  // Open past the folder check; encrypted says what Manifest.plist says,
  // asked only when Manifest.db is no database.
  template <typename SaysEncrypted>
  BackupFilesStatus OpenFolder(const std::string& folder, const BackupKeys* keys,
                               SaysEncrypted encrypted);
  void IndexEntries();

  std::string folder_;
  BackupLayout layout_ = BackupLayout::None;
  BackupFilesStatus status_ = BackupFilesStatus::NoFolder;
  MbdbStatus mbdbStatus_ = MbdbStatus::Unreadable;
  ManifestDbStatus manifestDbStatus_ = ManifestDbStatus::Unreadable;
  size_t damagedRecords_ = 0;
  DecryptStatus manifestDecryption_ = DecryptStatus::Ok;
  std::vector<FileEntry> entries_;
  std::unordered_map<std::string, size_t> byId_;  // file ID -> index in entries_
};

}  // namespace vantrel
