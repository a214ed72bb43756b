// One file of a backup as its manifest describes it, whichever layout the
// backup has (Manifest.mbdb of iOS 5-9, Manifest.db of iOS 10 on), and the
// name the backup gives its bytes on disk.
//
// The backup stores each file under its file ID: the SHA-1 of
// "<domain>-<relativePath>" (for example "HomeDomain-Library/SMS/sms.db") as
// 40 lower-case hex digits. Manifest.mbdb backups keep the files flat in the
// backup folder; Manifest.db backups put each in the subfolder named by the
// ID's first two digits.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel {

enum class FileKind { File, Directory, SymbolicLink, Unknown };

struct FileEntry {
  std::string domain;        // "HomeDomain", "WirelessDomain", "AppDomain-..."
  std::string relativePath;  // "Library/SMS/sms.db"; "" for a domain's root
  std::string fileId;        // 40 hex digits; recomputed for mbdb records
  FileKind kind = FileKind::Unknown;
  std::string linkTarget;  // symbolic links
  std::string dataHash;    // mbdb: SHA-1 of the content (iOS 5-9), or ""
  bool hasEncryptionKey = false;
  std::string encryptionKey;  // the wrapped per-file key, as stored
  uint16_t mode = 0;          // POSIX st_mode: type bits and permissions
  uint64_t inode = 0;
  uint32_t userId = 0, groupId = 0;
  int64_t modified = 0, accessed = 0, statusChanged = 0, birth = 0;  // Unix seconds, 0 = unknown
  uint64_t size = 0;
  uint8_t protectionClass = 0;  // data-protection class 1..11
  uint32_t flags = 0;           // Manifest.db: 1 file, 2 directory, 4 link
  std::vector<std::pair<std::string, std::string>> properties;  // mbdb extended attributes
};

// The file ID of (domain, relativePath): lower-case hex SHA-1 of "domain-relativePath".
std::string BackupFileId(std::string_view domain, std::string_view relativePath);

// The kind a POSIX mode's type bits give (0x8000 file, 0x4000 directory, 0xA000 link).
FileKind KindOfMode(uint16_t mode);

}  // namespace vantrel
