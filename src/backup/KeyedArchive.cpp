// Resolving a keyed archive's references into one tree.
#include "backup/KeyedArchive.h"

#include <vector>

namespace vantrel {
namespace {

// Archived records are small (an MBFile has a dozen fields); this bound keeps
// a crafted archive of shared references from building an enormous tree.
constexpr size_t kMaxArchiveNodes = 100000;

// A UID as the binary form writes it, or as {CF$UID: n} the XML form writes it.
bool AsUid(const PlistValue& v, int64_t& index) {
  if (v.kind == PlistValue::Kind::Uid) {
    index = v.integer;
    return true;
  }
  if (v.kind == PlistValue::Kind::Dict && v.keys.size() == 1 && v.keys[0] == "CF$UID" &&
      v.items.size() == 1 && v.items[0].kind == PlistValue::Kind::Int) {
    index = v.items[0].integer;
    return true;
  }
  return false;
}

class Resolver {
 public:
  Resolver(const PlistValue& objects, ArchiveDocument& doc)
      : objects_(objects), doc_(doc), inProgress_(objects.items.size(), false) {}

  bool pastBounds = false;

  // Decodes value (an entry of an object, or a reference to one) into out.
  void Value(const PlistValue& value, PlistValue& out, int depth) {
    if (++nodes_ > kMaxArchiveNodes || depth > kMaxPlistDepth) {
      pastBounds = true;
      return;
    }
    int64_t index = 0;
    if (AsUid(value, index)) {
      Reference(index, out, depth);
      return;
    }
    if (value.kind == PlistValue::Kind::Array) {
      out.kind = PlistValue::Kind::Array;
      for (const PlistValue& item : value.items) {
        if (pastBounds) break;
        out.items.emplace_back();
        Value(item, out.items.back(), depth + 1);
      }
      return;
    }
    if (value.kind == PlistValue::Kind::Dict) {
      Object(value, out, depth);
      return;
    }
    out = value;
  }

 private:
  void Reference(int64_t index, PlistValue& out, int depth) {
    if (index < 0 || static_cast<uint64_t>(index) >= objects_.items.size()) {
      ++doc_.badReferences;
      return;  // None
    }
    const size_t i = static_cast<size_t>(index);
    const PlistValue& target = objects_.items[i];
    // $objects[0] is "$null", the archive's nil.
    if (i == 0 && target.kind == PlistValue::Kind::String && target.bytes == "$null") return;
    if (inProgress_[i]) {
      ++doc_.cyclesCut;
      out.kind = PlistValue::Kind::Uid;
      out.integer = index;
      return;
    }
    inProgress_[i] = true;
    Value(target, out, depth + 1);
    inProgress_[i] = false;
  }

  std::string ClassName(const PlistValue& object) {
    const PlistValue* cls = object.Find("$class");
    int64_t index = 0;
    if (!cls || !AsUid(*cls, index) || index < 0 ||
        static_cast<uint64_t>(index) >= objects_.items.size())
      return {};
    return objects_.items[static_cast<size_t>(index)].StringAt("$classname");
  }

  // An archived object: a Foundation class decoded to a plain value, or a
  // dictionary of fields.
  void Object(const PlistValue& object, PlistValue& out, int depth) {
    const std::string cls = ClassName(object);
    const PlistValue* objects = object.Find("NS.objects");
    const PlistValue* keys = object.Find("NS.keys");
    if (keys && objects && keys->IsArray() && objects->IsArray()) {
      out.kind = PlistValue::Kind::Dict;
      for (size_t i = 0; i < keys->items.size() && i < objects->items.size() && !pastBounds; ++i) {
        PlistValue key;
        Value(keys->items[i], key, depth + 1);
        out.keys.push_back(key.kind == PlistValue::Kind::String ? key.bytes : std::string());
        out.items.emplace_back();
        Value(objects->items[i], out.items.back(), depth + 1);
      }
      return;
    }
    if (objects && objects->IsArray() && !cls.empty()) {
      Value(*objects, out, depth);
      return;
    }
    if (const PlistValue* data = object.Find("NS.data"); data && !cls.empty()) {
      Value(*data, out, depth);
      return;
    }
    if (const PlistValue* text = object.Find("NS.string"); text && !cls.empty()) {
      Value(*text, out, depth);
      return;
    }
    if (const PlistValue* time = object.Find("NS.time");
        time && (cls == "NSDate" || object.keys.size() <= 2)) {
      out.kind = PlistValue::Kind::Date;
      out.real =
          (time->kind == PlistValue::Kind::Real ? time->real : static_cast<double>(time->integer)) +
          kPlistEpochOffset;
      return;
    }
    out.kind = PlistValue::Kind::Dict;
    for (size_t i = 0; i < object.keys.size() && i < object.items.size() && !pastBounds; ++i) {
      out.keys.push_back(object.keys[i]);
      if (object.keys[i] == "$class") {
        out.items.push_back(PlistValue::String(cls));
        continue;
      }
      out.items.emplace_back();
      Value(object.items[i], out.items.back(), depth + 1);
    }
  }

  const PlistValue& objects_;
  ArchiveDocument& doc_;
  std::vector<bool> inProgress_;
  size_t nodes_ = 0;
};

}  // namespace

ArchiveDocument DecodeKeyedArchive(const PlistValue& archive) {
  ArchiveDocument doc;
  const PlistValue* objects = archive.Find("$objects");
  if (!objects || !objects->IsArray()) {
    doc.status = ArchiveStatus::NotAnArchive;
    return doc;
  }
  const PlistValue* top = archive.Find("$top");
  if (!top || !top->IsDict() || top->items.empty()) {
    doc.status = ArchiveStatus::NoTop;
    return doc;
  }
  const PlistValue* root = top->Find("root");
  if (!root) root = &top->items.front();
  int64_t index = 0;
  if (!AsUid(*root, index) || index <= 0 || static_cast<uint64_t>(index) >= objects->items.size()) {
    doc.status = ArchiveStatus::NoTop;
    return doc;
  }
  Resolver resolver(*objects, doc);
  resolver.Value(*root, doc.root, 0);
  doc.status =
      resolver.pastBounds || doc.badReferences > 0 ? ArchiveStatus::Truncated : ArchiveStatus::Ok;
  return doc;
}

ArchiveDocument DecodeKeyedArchive(std::string_view bytes) {
  const PlistDocument plist = LoadPropertyList(bytes);
  if (!plist.Readable()) return {};
  return DecodeKeyedArchive(plist.root);
}

MbFile DecodeMbFile(std::string_view bytes) {
  MbFile file;
  const ArchiveDocument archive = DecodeKeyedArchive(bytes);
  const PlistValue& r = archive.root;
  if (!r.IsDict()) return file;
  file.decoded = true;
  file.relativePath = r.StringAt("RelativePath");
  file.target = r.StringAt("Target");
  file.size = static_cast<uint64_t>(r.IntAt("Size"));
  file.mode = static_cast<uint16_t>(r.IntAt("Mode"));
  file.inode = static_cast<uint64_t>(r.IntAt("InodeNumber"));
  file.userId = static_cast<uint32_t>(r.IntAt("UserID"));
  file.groupId = static_cast<uint32_t>(r.IntAt("GroupID"));
  file.lastModified = r.IntAt("LastModified");
  file.lastStatusChange = r.IntAt("LastStatusChange");
  file.birth = r.IntAt("Birth");
  file.protectionClass = static_cast<uint8_t>(r.IntAt("ProtectionClass"));
  file.flags = static_cast<uint32_t>(r.IntAt("Flags"));
  if (const PlistValue* key = r.Find("EncryptionKey");
      key && (key->kind == PlistValue::Kind::Data || key->kind == PlistValue::Kind::String)) {
    file.hasEncryptionKey = true;
    file.encryptionKey = key->bytes;
  }
  return file;
}

}  // namespace vantrel
