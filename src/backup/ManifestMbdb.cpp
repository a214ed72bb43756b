// Reading Manifest.mbdb records through a bounds-checked cursor.
#include "backup/ManifestMbdb.h"

#include <cstdint>

#include "platform/ReadOnlyFile.h"
#include "sqlite/ByteView.h"

namespace vantrel {
namespace {

constexpr uint16_t kNoString = 0xFFFF;
constexpr uint64_t kMaxMbdbBytes = 1ull << 30;

// Reads forward; any read that would pass the end sets failed and reads nothing.
class Cursor {
 public:
  explicit Cursor(ByteView bytes) : b_(bytes) {}
  bool failed = false;
  size_t pos = 0;

  uint64_t Int(size_t size) {
    if (!b_.Contains(pos, size)) {
      failed = true;
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < size; ++i) v = (v << 8) | b_[pos + i];
    pos += size;
    return v;
  }
  // A 16-bit-length string; 0xFFFF reads as "" with present = false.
  std::string String(bool* present = nullptr) {
    const uint64_t length = Int(2);
    if (present) *present = !failed && length != kNoString;
    if (failed || length == kNoString) return {};
    if (!b_.Contains(pos, length)) {
      failed = true;
      return {};
    }
    std::string s(b_.Sub(pos, length).AsString());
    pos += length;
    return s;
  }

 private:
  ByteView b_;
};

}  // namespace

MbdbManifest ParseManifestMbdb(std::string_view bytes) {
  MbdbManifest m;
  const ByteView view(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if (bytes.size() < 6 || bytes.substr(0, 4) != "mbdb") {
    m.status = MbdbStatus::NotMbdb;
    return m;
  }
  m.versionMajor = view[4];
  m.versionMinor = view[5];
  m.status = MbdbStatus::Ok;
  m.bytesRead = 6;
  Cursor c(view);
  c.pos = 6;
  // Each record takes at least 10 + 40 + 2 bytes, so the loop is bounded by the size.
  while (c.pos < bytes.size()) {
    FileEntry e;
    e.domain = c.String();
    e.relativePath = c.String();
    e.linkTarget = c.String();
    e.dataHash = c.String();
    e.encryptionKey = c.String(&e.hasEncryptionKey);
    e.mode = static_cast<uint16_t>(c.Int(2));
    e.inode = c.Int(8);
    e.userId = static_cast<uint32_t>(c.Int(4));
    e.groupId = static_cast<uint32_t>(c.Int(4));
    e.modified = static_cast<int64_t>(c.Int(4));
    e.accessed = static_cast<int64_t>(c.Int(4));
    e.statusChanged = static_cast<int64_t>(c.Int(4));
    e.size = c.Int(8);
    e.protectionClass = static_cast<uint8_t>(c.Int(1));
    const uint64_t properties = c.Int(1);
    for (uint64_t i = 0; i < properties && !c.failed; ++i) {
      std::string name = c.String();
      std::string value = c.String();
      if (!c.failed) e.properties.emplace_back(std::move(name), std::move(value));
    }
    if (c.failed) {
      m.status = MbdbStatus::Truncated;
      break;
    }
    e.kind = KindOfMode(e.mode);
    e.fileId = BackupFileId(e.domain, e.relativePath);
    m.entries.push_back(std::move(e));
    m.bytesRead = c.pos;
  }
  return m;
}

MbdbManifest ReadManifestMbdb(const std::string& path) {
  MbdbManifest m;
  ReadOnlyFile file;
  std::string bytes;
  if (!file.Open(path) || file.Size() > kMaxMbdbBytes || !ReadWholeFile(path, bytes)) return m;
  return ParseManifestMbdb(bytes);
}

}  // namespace vantrel
