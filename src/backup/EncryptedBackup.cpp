// Reading IsEncrypted from a backup's Manifest.plist, XML or binary.
#include "backup/EncryptedBackup.h"

#include <cstdint>

#include "backup/XmlDocument.h"
#include "platform/ReadOnlyFile.h"

namespace vantrel {
namespace {

constexpr char kKey[] = "IsEncrypted";

// A binary property list ("bplist00") ends with a 32-byte trailer:
//
//   offset size  field
//        6    1  size of each offset-table entry (1..8 bytes)
//        7    1  size of each object reference (1..8 bytes)
//        8    8  number of objects
//       16    8  index of the top object
//       24    8  file offset of the offset table
//
// Object i starts at the file offset held in entry i of the offset table. Its
// first byte is a marker: high nibble the type, low nibble a small count
// (15 = the count follows as an integer object, marker 0x1n with 2^n bytes).
// 0x08 is false, 0x09 true, 0x5n an ASCII string, 0x6n a UTF-16BE string,
// 0xDn a dictionary: n key references, then n value references.
class BinaryPlist {
 public:
  explicit BinaryPlist(std::string_view bytes) : b_(bytes) {}

  bool TopLevelBool(std::string_view key, bool& value) const {
    if (b_.size() < 8 + 32 || b_.substr(0, 8) != "bplist00") return false;
    const size_t t = b_.size() - 32;
    offsetSize_ = Byte(t + 6);
    refSize_ = Byte(t + 7);
    objectCount_ = Int(t + 8, 8);
    const uint64_t top = Int(t + 16, 8);
    tableOffset_ = Int(t + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
    if (objectCount_ == 0 || top >= objectCount_) return false;
    uint64_t pos;
    if (!ObjectOffset(top, pos)) return false;
    const uint8_t marker = Byte(pos);
    if ((marker >> 4) != 0xD) return false;
    uint64_t count = 0, refs = 0;
    if (!Count(pos, count, refs)) return false;
    if (count > b_.size() || refs + 2 * count * refSize_ > b_.size()) return false;
    for (uint64_t i = 0; i < count; ++i) {
      uint64_t keyPos, valuePos;
      if (!ObjectOffset(Int(refs + i * refSize_, refSize_), keyPos)) continue;
      if (!ObjectOffset(Int(refs + (count + i) * refSize_, refSize_), valuePos)) continue;
      if (!StringEquals(keyPos, key)) continue;
      const uint8_t v = Byte(valuePos);
      if (v != 0x08 && v != 0x09) return false;
      value = v == 0x09;
      return true;
    }
    return false;
  }

 private:
  // Reads outside the buffer give zeros.
  uint8_t Byte(uint64_t pos) const { return pos < b_.size() ? static_cast<uint8_t>(b_[pos]) : 0; }
  uint64_t Int(uint64_t pos, unsigned size) const {
    uint64_t v = 0;
    for (unsigned i = 0; i < size; ++i) v = (v << 8) | Byte(pos + i);
    return v;
  }
  bool ObjectOffset(uint64_t index, uint64_t& pos) const {
    if (index >= objectCount_) return false;
    const uint64_t entry = tableOffset_ + index * offsetSize_;
    if (entry + offsetSize_ > b_.size() || entry < tableOffset_) return false;
    pos = Int(entry, offsetSize_);
    return pos < b_.size();
  }
  // The count in a marker's low nibble, or in the integer object after it;
  // dataPos is where the object's contents begin.
  bool Count(uint64_t pos, uint64_t& count, uint64_t& dataPos) const {
    count = Byte(pos) & 0x0F;
    dataPos = pos + 1;
    if (count != 0x0F) return true;
    const uint8_t intMarker = Byte(pos + 1);
    if ((intMarker >> 4) != 0x1 || (intMarker & 0x0F) > 3) return false;
    const unsigned size = 1u << (intMarker & 0x0F);
    count = Int(pos + 2, size);
    dataPos = pos + 2 + size;
    return true;
  }
  bool StringEquals(uint64_t pos, std::string_view key) const {
    const uint8_t type = Byte(pos) >> 4;
    uint64_t count = 0, data = 0;
    if ((type != 0x5 && type != 0x6) || !Count(pos, count, data) || count != key.size())
      return false;
    for (size_t i = 0; i < key.size(); ++i) {
      const uint64_t c = type == 0x5 ? Byte(data + i) : Int(data + 2 * i, 2);
      if (c != static_cast<uint8_t>(key[i])) return false;
    }
    return true;
  }

  std::string_view b_;
  mutable unsigned offsetSize_ = 0, refSize_ = 0;
  mutable uint64_t objectCount_ = 0, tableOffset_ = 0;
};

bool XmlSaysEncrypted(std::string_view plist) {
  XmlDocument doc;
  doc.LoadBytes(plist);
  if (!doc.LocateChild("dict") || !doc.DescendToChild()) return false;
  while (doc.LocateChild("key")) {
    if (doc.ChildText() != kKey) continue;
    // The value is the element right after the key: <true/> or <false/>.
    return doc.LocateChild() && doc.ChildName() == "true";
  }
  return false;
}

}  // namespace

bool PlistSaysEncrypted(std::string_view plist) {
  if (plist.substr(0, 6) == "bplist") {
    bool value = false;
    return BinaryPlist(plist).TopLevelBool(kKey, value) && value;
  }
  return XmlSaysEncrypted(plist);
}

bool IsEncryptedBackup(const std::string& folder) {
  std::string bytes;
  // Manifest.plist is small; anything huge is not one.
  const std::string path = folder + "/Manifest.plist";
  ReadOnlyFile file;
  if (!file.Open(path) || file.Size() > (64u << 20)) return false;
  if (!ReadWholeFile(path, bytes)) return false;
  return PlistSaysEncrypted(bytes);
}

}  // namespace vantrel
