// Manifest.mbdb, the file list of iOS 5-9 backups. All integers big-endian.
//
//   offset size  field
//        0    4  "mbdb"
//        4    2  version 5.0: bytes 05 00
//        6    -  records, back to back, to the end of the file
//
// A record:
//
//   size  field
//   2+n   domain            a string: 16-bit length n, then n bytes (UTF-8);
//   2+n   path              a length of 0xFFFF means "no value" (no bytes follow)
//   2+n   link target
//   2+n   data hash         SHA-1 of the content, when the backup recorded one
//   2+n   encryption key    the wrapped per-file key of an encrypted backup
//     2   mode              POSIX st_mode (type bits: 0x8000 file, 0x4000 dir, 0xA000 link)
//     8   inode number
//     4   user ID
//     4   group ID
//     4   last modified     Unix seconds
//     4   last accessed     Unix seconds
//     4   status changed    Unix seconds
//     8   size              bytes
//     1   protection class
//     1   property count p
//   p x (2+n, 2+n)          property name and value strings
//
// The file of a record lies flat in the backup folder under
// BackupFileId(domain, path). A record cut short by the end of the file ends
// the list: the records before it are kept and the status says so.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "backup/FileEntry.h"

namespace vantrel {

enum class MbdbStatus {
  Ok,
  Unreadable,  // the file could not be read
  NotMbdb,     // no "mbdb" magic
  Truncated,   // the last record ran past the end of the file (records before it are kept)
};

struct MbdbManifest {
  MbdbStatus status = MbdbStatus::Unreadable;
  int versionMajor = 0, versionMinor = 0;  // 5, 0 in every known file
  std::vector<FileEntry> entries;          // in file order
  size_t bytesRead = 0;                    // offset after the last whole record
};

MbdbManifest ParseManifestMbdb(std::string_view bytes);
MbdbManifest ReadManifestMbdb(const std::string& path);

}  // namespace vantrel
