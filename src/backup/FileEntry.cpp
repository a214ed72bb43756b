// Backup file IDs, with OpenSSL's SHA-1.
#include "backup/FileEntry.h"

#include <openssl/evp.h>

namespace vantrel {

std::string BackupFileId(std::string_view domain, std::string_view relativePath) {
  std::string name;
  name.reserve(domain.size() + 1 + relativePath.size());
  name.append(domain).append("-").append(relativePath);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(name.data(), name.size(), digest, &length, EVP_sha1(), nullptr) != 1) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0x0F];
  }
  return hex;
}

FileKind KindOfMode(uint16_t mode) {
  switch (mode & 0xF000) {
    case 0x8000:
      return FileKind::File;
    case 0x4000:
      return FileKind::Directory;
    case 0xA000:
      return FileKind::SymbolicLink;
    default:
      return FileKind::Unknown;
  }
}

}  // namespace vantrel
