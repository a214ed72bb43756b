// The one examination of a chosen path.
#include "backup/ExaminedPath.h"

#include <filesystem>
#include <system_error>

#include "platform/ReadOnlyFile.h"

namespace vantrel {
namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

ExaminedPath ExaminePath(const std::string& path) {
  ExaminedPath examined;
  examined.path = path;
  // Whether it exists and whether it is a folder, from one look.
  std::error_code ec;
  const std::filesystem::file_status status =
      path.empty() ? std::filesystem::file_status() : std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) return examined;
  if (!std::filesystem::is_directory(status)) {
    examined.kind = PathKind::File;
    return examined;
  }
  if (!IsBackupFolder(path)) {
    examined.heldBackups = ListBackups(path);
    if (!examined.heldBackups.empty()) {
      examined.kind = PathKind::FolderOfBackups;
      return examined;
    }
  }
  examined.info = ReadInfoPlist(path);
  examined.manifest = ReadManifestPlist(path);
  examined.kind = examined.manifest.isEncrypted ? PathKind::EncryptedBackup : PathKind::Backup;
  return examined;
}

bool IsBackupFolder(const std::string& folder) {
  const std::string base = WithSlash(folder);
  for (const char* name : {"Info.plist", "Manifest.plist", "Manifest.db", "Manifest.mbdb"})
    if (IsRegularFile(base + name)) return true;
  return false;
}

std::vector<std::string> BackupsHeldIn(const std::string& folder) {
  std::vector<std::string> held;
  if (!IsDirectory(folder) || IsBackupFolder(folder)) return held;
  for (const BackupRow& row : ListBackups(folder)) held.push_back(row.folder);
  return held;
}

}  // namespace vantrel
