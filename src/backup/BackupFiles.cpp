// The backup file index over Manifest.db, Manifest.mbdb and bare hashed names.
#include "backup/BackupFiles.h"

#include "backup/EncryptedBackup.h"
#include "platform/ReadOnlyFile.h"

namespace vantrel {

BackupFilesStatus BackupFiles::Open(const std::string& folder, const BackupKeys* keys) {
  if (!IsDirectory(folder)) {
    *this = BackupFiles();
    folder_ = folder;
    return status_ = BackupFilesStatus::NoFolder;
  }
  return OpenFolder(folder, keys, [&folder] { return IsEncryptedBackup(folder); });
}

BackupFilesStatus BackupFiles::Open(const ExaminedPath& backup, const BackupKeys* keys) {
  if (backup.kind == PathKind::Missing || backup.kind == PathKind::File) {
    *this = BackupFiles();
    folder_ = backup.path;
    return status_ = BackupFilesStatus::NoFolder;
  }
  return OpenFolder(backup.path, keys, [&backup] { return backup.manifest.isEncrypted; });
}

template <typename SaysEncrypted>
BackupFilesStatus BackupFiles::OpenFolder(const std::string& folder, const BackupKeys* keys,
                                          SaysEncrypted encrypted) {
  *this = BackupFiles();
  folder_ = folder;
  status_ = BackupFilesStatus::Ok;
  const std::string db = folder + "/Manifest.db";
  const std::string mbdb = folder + "/Manifest.mbdb";
  if (IsRegularFile(db)) {
    layout_ = BackupLayout::ManifestDb;
    if (keys && keys->unlocked() && !keys->manifestDbKey.empty()) {
      // An encrypted iOS 10.2+ backup: the list is read from the deciphered
      // copy in memory, which goes when this function returns.
      DecryptedFile plain = DecryptFileToMemory(keys->manifestDbKey, db, "Manifest.db");
      manifestDecryption_ = plain.status;
      if (plain.status != DecryptStatus::Ok)
        return status_ = BackupFilesStatus::ManifestUndeciphered;
      ManifestDbList list = ReadManifestDb(plain.file.path());
      manifestDbStatus_ = list.status;
      damagedRecords_ = list.damagedRows + list.undecodedRecords;
      entries_ = std::move(list.entries);
      if (list.status == ManifestDbStatus::NotSqlite || list.status == ManifestDbStatus::Unreadable)
        status_ = BackupFilesStatus::ManifestUndeciphered;
      else if (list.status != ManifestDbStatus::Ok || damagedRecords_ > 0)
        status_ = BackupFilesStatus::ManifestDamaged;
      IndexEntries();
      return status_;
    }
    ManifestDbList list = ReadManifestDb(db);
    manifestDbStatus_ = list.status;
    damagedRecords_ = list.damagedRows + list.undecodedRecords;
    entries_ = std::move(list.entries);
    // An enciphered Manifest.db looks like random bytes; Manifest.plist says
    // whether the backup is encrypted, so damage is not mistaken for it.
    if (list.status == ManifestDbStatus::NotSqlite && encrypted())
      status_ = BackupFilesStatus::ManifestEncrypted;
    else if (list.status != ManifestDbStatus::Ok || damagedRecords_ > 0)
      status_ = BackupFilesStatus::ManifestDamaged;
  } else if (IsRegularFile(mbdb)) {
    layout_ = BackupLayout::ManifestMbdb;
    MbdbManifest m = ReadManifestMbdb(mbdb);
    mbdbStatus_ = m.status;
    entries_ = std::move(m.entries);
    if (m.status != MbdbStatus::Ok) status_ = BackupFilesStatus::ManifestDamaged;
  } else {
    layout_ = BackupLayout::FlatNames;
  }
  IndexEntries();
  return status_;
}

void BackupFiles::IndexEntries() {
  for (size_t i = 0; i < entries_.size(); ++i) {
    // Manifest.db names each row by its fileID; should a damaged row lack it,
    // the ID is recomputed so the row can still be found.
    if (entries_[i].fileId.size() != 40)
      entries_[i].fileId = BackupFileId(entries_[i].domain, entries_[i].relativePath);
    byId_.emplace(entries_[i].fileId, i);
  }
}

std::string BackupFiles::PathOfId(const std::string& fileId) const {
  if (layout_ == BackupLayout::ManifestDb && fileId.size() >= 2)
    return folder_ + "/" + fileId.substr(0, 2) + "/" + fileId;
  return folder_ + "/" + fileId;
}

std::optional<FileEntry> BackupFiles::Find(std::string_view domain,
                                           std::string_view relativePath) const {
  const std::string id = BackupFileId(domain, relativePath);
  if (layout_ == BackupLayout::FlatNames) {
    const std::string path = PathOfId(id);
    if (!IsRegularFile(path)) return std::nullopt;
    FileEntry e;
    e.domain = domain;
    e.relativePath = relativePath;
    e.fileId = id;
    e.kind = FileKind::File;
    ReadOnlyFile file;
    if (file.Open(path)) e.size = file.Size();
    return e;
  }
  const auto it = byId_.find(id);
  if (it == byId_.end()) return std::nullopt;
  return entries_[it->second];
}

std::optional<std::string> BackupFiles::PathOf(std::string_view domain,
                                               std::string_view relativePath) const {
  const std::optional<FileEntry> e = Find(domain, relativePath);
  if (!e || e->kind == FileKind::Directory) return std::nullopt;
  const std::string path = PathOfId(e->fileId);
  if (!IsRegularFile(path)) return std::nullopt;
  return path;
}

bool BackupFiles::HasWal(std::string_view domain, std::string_view relativePath) const {
  return Find(domain, std::string(relativePath) + "-wal").has_value();
}

}  // namespace vantrel
