#include "sources/apple/AttributedBody.h"

#include <string_view>
#include <vector>

#include "platform/Text.h"

namespace vantrel {

namespace {

// Header bytes.
constexpr uint8_t kStreamerVersion = 4;
constexpr std::string_view kLittleEndianSignature = "streamtyped";

// Tags: the single-byte values -128..-111 mean these instead of themselves.
constexpr uint8_t kTagInteger2 = 0x81;
constexpr uint8_t kTagInteger4 = 0x82;
constexpr uint8_t kTagNew = 0x84;
constexpr uint8_t kTagNil = 0x85;
constexpr uint8_t kTagEndOfObject = 0x86;
constexpr uint8_t kFirstTag = 0x80;
constexpr uint8_t kLastTag = 0x91;
// A reference carries its table index offset by this value, the first
// single-byte value past the tags.
constexpr int64_t kFirstReference = -110;

// No device writes more than a handful of classes or strings before the text;
// the bounds keep a crafted stream from growing the tables or the chain walk.
constexpr size_t kMaxTableEntries = 4096;
constexpr size_t kMaxClassChain = 32;

constexpr std::string_view kObjectType = "@";
constexpr std::string_view kBytesType = "+";
constexpr std::string_view kAttributedStringClass = "NSAttributedString";
constexpr std::string_view kStringClass = "NSString";

// The table index a reference integer names (negative for none).
int64_t ReferenceIndex(int64_t value) {
  return value - kFirstReference;
}

// A class of the object table: its name and the index of its superclass in
// the same table (-1: none).
struct ClassEntry {
  std::string_view name;
  int64_t superclass = -1;
};

// An entry of the object table: objects and classes share the numbering, and
// only classes are looked up by reference here.
struct ObjectEntry {
  bool isClass = false;
  ClassEntry cls;
};

// The tables a stream builds as it is read. A load decodes one stream per
// message, so each thread keeps one pair and reuses it.
struct StreamTables {
  std::vector<std::string_view> strings;
  std::vector<ObjectEntry> objects;
};

class StreamReader {
 public:
  StreamReader(ByteView bytes, StreamTables& tables)
      : bytes_(bytes), strings_(tables.strings), objects_(tables.objects) {
    strings_.clear();
    objects_.clear();
  }

  AttributedBodyStatus status() const { return status_; }
  bool ok() const { return status_ == AttributedBodyStatus::Decoded; }
  size_t position() const { return pos_; }

  // Keeps the first failure: later steps only see its consequences.
  void Fail(AttributedBodyStatus status) {
    if (ok()) status_ = status;
  }

  bool AtEnd() const { return pos_ >= bytes_.size(); }

  // One byte, or CutShort.
  bool ReadByte(uint8_t& b) {
    if (!ok()) return false;
    if (AtEnd()) {
      Fail(AttributedBodyStatus::CutShort);
      return false;
    }
    b = bytes_[pos_++];
    return true;
  }

  // A little-endian signed value of n bytes (2 or 4).
  bool ReadLittleEndian(size_t n, int64_t& value) {
    if (!ok()) return false;
    if (!bytes_.Contains(pos_, n)) {
      Fail(AttributedBodyStatus::CutShort);
      return false;
    }
    uint32_t u = 0;
    for (size_t i = 0; i < n; ++i) u |= static_cast<uint32_t>(bytes_[pos_ + i]) << (8 * i);
    pos_ += n;
    value = n == 2 ? static_cast<int64_t>(static_cast<int16_t>(u))
                   : static_cast<int64_t>(static_cast<int32_t>(u));
    return true;
  }

  // The integer whose first byte is `first` (already read). Tags other than
  // the two integer prefixes are not integers.
  bool IntegerFrom(uint8_t first, int64_t& value) {
    if (first == kTagInteger2) return ReadLittleEndian(2, value);
    if (first == kTagInteger4) return ReadLittleEndian(4, value);
    if (first >= kFirstTag && first <= kLastTag) {
      Fail(AttributedBodyStatus::Damaged);
      return false;
    }
    value = static_cast<int8_t>(first);
    return true;
  }

  bool ReadInteger(int64_t& value) {
    uint8_t first;
    return ReadByte(first) && IntegerFrom(first, value);
  }

  // A non-negative length whose bytes follow; CutShort when they do not all.
  // A writer that treats the 2-byte form as unsigned puts lengths of 32768 to
  // 65535 there; a length is never negative, so such a value is read unsigned.
  bool ReadCountedBytes(std::string_view& out) {
    const size_t start = pos_;
    int64_t length;
    if (!ReadInteger(length)) return false;
    if (length < 0 && bytes_[start] == kTagInteger2) length += 0x10000;
    if (length < 0) {
      Fail(AttributedBodyStatus::Damaged);
      return false;
    }
    const size_t n = static_cast<size_t>(length);
    if (!bytes_.Contains(pos_, n)) {
      Fail(AttributedBodyStatus::CutShort);
      return false;
    }
    out = bytes_.Sub(pos_, n).AsString();
    pos_ += n;
    return true;
  }

  // A shared string: a new one (added to the string table) or a reference to
  // an earlier one. nil is not expected anywhere this reader looks.
  bool ReadSharedString(std::string_view& out) {
    uint8_t first;
    if (!ReadByte(first)) return false;
    if (first == kTagNew) {
      if (!ReadCountedBytes(out)) return false;
      return Remember(strings_, out);
    }
    int64_t value;
    if (!IntegerFrom(first, value)) return false;
    const int64_t index = ReferenceIndex(value);
    if (index < 0 || index >= static_cast<int64_t>(strings_.size())) {
      Fail(AttributedBodyStatus::Damaged);
      return false;
    }
    out = strings_[static_cast<size_t>(index)];
    return true;
  }

  // The start of a new object: its tag, and its number in the object table.
  bool BeginNewObject() {
    uint8_t first;
    if (!ReadByte(first)) return false;
    if (first != kTagNew) {
      // nil or a reference: the first object of each level is always new.
      Fail(AttributedBodyStatus::Damaged);
      return false;
    }
    return Remember(objects_, ObjectEntry{});
  }

  // A class chain, new classes added to the object table; index is the
  // table index of the object's own class (-1 for nil). Each new class takes
  // its number before its superclass is read, and links to it afterwards.
  bool ReadClass(int64_t& index) {
    int64_t previous = -1;  // the new class whose superclass is read next
    for (size_t depth = 0;; ++depth) {
      if (depth == kMaxClassChain) {
        Fail(AttributedBodyStatus::Damaged);
        return false;
      }
      uint8_t first;
      if (!ReadByte(first)) return false;
      int64_t found = -1;  // the class that ends the chain here (-1: nil)
      if (first == kTagNew) {
        ClassEntry entry;
        int64_t version;
        if (!ReadSharedString(entry.name) || !ReadInteger(version)) return false;
        if (!Remember(objects_, ObjectEntry{true, entry})) return false;
        const int64_t added = static_cast<int64_t>(objects_.size()) - 1;
        if (previous >= 0) objects_[static_cast<size_t>(previous)].cls.superclass = added;
        previous = added;
        if (depth == 0) index = added;
        continue;
      }
      if (first != kTagNil) {
        int64_t value;
        if (!IntegerFrom(first, value)) return false;
        found = ReferenceIndex(value);
        if (found < 0 || found >= static_cast<int64_t>(objects_.size()) ||
            !objects_[static_cast<size_t>(found)].isClass) {
          Fail(AttributedBodyStatus::Damaged);
          return false;
        }
      }
      if (previous >= 0) objects_[static_cast<size_t>(previous)].cls.superclass = found;
      if (depth == 0) index = found;
      return true;
    }
  }

  // Whether the class at index is, or descends from, the named class. A
  // crafted stream can link classes in a circle (a new class whose superclass
  // refers back to it), so the walk is bounded by a step count.
  bool ClassIsA(int64_t index, std::string_view name) const {
    for (size_t steps = 0; index >= 0 && steps < kMaxClassChain; ++steps) {
      const ObjectEntry& entry = objects_[static_cast<size_t>(index)];
      if (entry.cls.name == name) return true;
      index = entry.cls.superclass;
    }
    return false;
  }

 private:
  template <class T>
  bool Remember(std::vector<T>& table, const T& entry) {
    if (table.size() >= kMaxTableEntries) {
      Fail(AttributedBodyStatus::Damaged);
      return false;
    }
    table.push_back(entry);
    return true;
  }

  ByteView bytes_;
  size_t pos_ = 0;
  AttributedBodyStatus status_ = AttributedBodyStatus::Decoded;
  std::vector<std::string_view>& strings_;
  std::vector<ObjectEntry>& objects_;
};

bool ReadHeader(StreamReader& in) {
  uint8_t version;
  std::string_view signature;
  int64_t systemVersion;
  if (!in.ReadByte(version)) return false;
  if (version != kStreamerVersion) {
    in.Fail(AttributedBodyStatus::NotTypedStream);
    return false;
  }
  // The signature is a plain counted string, not a shared one.
  if (!in.ReadCountedBytes(signature)) return false;
  if (signature != kLittleEndianSignature) {
    in.Fail(AttributedBodyStatus::NotTypedStream);
    return false;
  }
  return in.ReadInteger(systemVersion);
}

// The type encoding that must come next.
bool ExpectType(StreamReader& in, std::string_view type) {
  std::string_view found;
  if (!in.ReadSharedString(found)) return false;
  if (found != type) {
    in.Fail(AttributedBodyStatus::NotAttributedString);
    return false;
  }
  return true;
}

// A new object whose class is, or descends from, the named class.
bool ExpectObjectOf(StreamReader& in, std::string_view className) {
  int64_t cls = -1;
  if (!ExpectType(in, kObjectType) || !in.BeginNewObject() || !in.ReadClass(cls)) return false;
  if (!in.ClassIsA(cls, className)) {
    in.Fail(AttributedBodyStatus::NotAttributedString);
    return false;
  }
  return true;
}

}  // namespace

AttributedBodyText DecodeAttributedBody(ByteView bytes) {
  AttributedBodyText result;
  if (bytes.empty()) {
    result.status = AttributedBodyStatus::NotTypedStream;
    return result;
  }
  thread_local StreamTables tables;
  StreamReader in(bytes, tables);
  std::string_view text;
  if (ReadHeader(in) && ExpectObjectOf(in, kAttributedStringClass) &&
      ExpectObjectOf(in, kStringClass) && ExpectType(in, kBytesType) && in.ReadCountedBytes(text)) {
    // A carved body may end right after the text; when it goes on, the string
    // object must end there, or the length was not the real one.
    uint8_t next;
    if (!in.AtEnd() && in.ReadByte(next) && next != kTagEndOfObject)
      in.Fail(AttributedBodyStatus::Damaged);
    if (in.ok() && !IsValidUtf8(text)) in.Fail(AttributedBodyStatus::Damaged);
  }
  result.status = in.status();
  if (in.ok()) result.text.assign(text);
  return result;
}

std::optional<std::string> TextOfAttributedBody(ByteView bytes) {
  AttributedBodyText decoded = DecodeAttributedBody(bytes);
  if (decoded.status != AttributedBodyStatus::Decoded) return std::nullopt;
  return std::move(decoded.text);
}

}  // namespace vantrel
