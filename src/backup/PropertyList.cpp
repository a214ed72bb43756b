// Property lists in either form, through libplist, into PlistValue trees.
#include "backup/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <unordered_map>

#include "backup/XmlDocument.h"
#include "platform/ReadOnlyFile.h"
#include "sqlite/ByteView.h"

namespace vantrel {
namespace {

// libplist's trees and the strings it hands out, freed by their own functions.
struct PlistFree {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;
struct CFree {
  void operator()(char* p) const { std::free(p); }
};
using CString = std::unique_ptr<char, CFree>;

// Copies libplist's node into our tree, depth-first, within the bounds.
class Converter {
 public:
  bool pastBounds = false;

  void Convert(plist_t node, PlistValue& out, int depth) {
    if (++nodes_ > kMaxPlistNodes) {
      pastBounds = true;
      return;
    }
    switch (plist_get_node_type(node)) {
      case PLIST_BOOLEAN: {
        uint8_t v = 0;
        plist_get_bool_val(node, &v);
        out.kind = PlistValue::Kind::Bool;
        out.integer = v ? 1 : 0;
        break;
      }
      case PLIST_UINT: {
        // libplist keeps integers as 64 unsigned bits; the binary form's
        // 8-byte integers are signed, so the bits are read back as signed.
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        out.kind = PlistValue::Kind::Int;
        out.integer = static_cast<int64_t>(v);
        break;
      }
      case PLIST_REAL: {
        out.kind = PlistValue::Kind::Real;
        plist_get_real_val(node, &out.real);
        break;
      }
      case PLIST_STRING: {
        // The scan has refused strings with zero characters; the pointer
        // form is used anyway, since it never asserts.
        uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        out.kind = PlistValue::Kind::String;
        if (s) out.bytes.assign(s, static_cast<size_t>(length));
        break;
      }
      case PLIST_DATE: {
        // libplist counts dates from 2001-01-01, as the binary form does.
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        out.kind = PlistValue::Kind::Date;
        out.real = static_cast<double>(sec) + kPlistEpochOffset + usec / 1e6;
        break;
      }
      case PLIST_DATA: {
        uint64_t length = 0;
        const char* d = plist_get_data_ptr(node, &length);
        out.kind = PlistValue::Kind::Data;
        if (d) out.bytes.assign(d, static_cast<size_t>(length));
        break;
      }
      case PLIST_UID: {
        uint64_t v = 0;
        plist_get_uid_val(node, &v);
        out.kind = PlistValue::Kind::Uid;
        out.integer = static_cast<int64_t>(v);
        break;
      }
      case PLIST_ARRAY: {
        out.kind = PlistValue::Kind::Array;
        if (depth >= kMaxPlistDepth) {
          pastBounds = true;
          break;
        }
        const uint32_t n = plist_array_get_size(node);
        out.items.reserve(std::min<uint32_t>(n, 4096));
        for (uint32_t i = 0; i < n && !Full(); ++i) {
          out.items.emplace_back();
          Convert(plist_array_get_item(node, i), out.items.back(), depth + 1);
        }
        break;
      }
      case PLIST_DICT: {
        out.kind = PlistValue::Kind::Dict;
        if (depth >= kMaxPlistDepth) {
          pastBounds = true;
          break;
        }
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        if (!it) break;
        while (!Full()) {
          char* key = nullptr;
          plist_t value = nullptr;
          plist_dict_next_item(node, it, &key, &value);
          CString ownedKey(key);
          if (!value) break;
          out.keys.emplace_back(key ? key : "");
          out.items.emplace_back();
          Convert(value, out.items.back(), depth + 1);
        }
        std::free(it);
        break;
      }
      default:
        break;
    }
  }

 private:
  bool Full() {
    if (nodes_ < kMaxPlistNodes) return false;
    pastBounds = true;
    return true;
  }
  size_t nodes_ = 0;
};

// libplist (2.2, as Debian 12 ships it) trusts its input more than we can:
// it copies an object once per reference, so a few hundred bytes of shared
// references expand into billions of nodes; it recurses once per nesting
// level; and its string getters abort the process on a string holding a zero
// character. So before libplist sees a binary list, this scan walks the
// trailer and the offset table (format in EncryptedBackup's history and
// Apple's CFBinaryPList.c description):
//
//   trailer (last 32 bytes)  6: offset-entry size, 7: reference size,
//                            8: object count, 16: top object, 24: offset-table offset
//   marker byte              high nibble type, low nibble count (15: an int follows)
//                            0x5n ASCII, 0x6n UTF-16BE, 0xAn array, 0xCn set, 0xDn dict
//
// and refuses lists whose expanded tree would pass kMaxPlistNodes, nest
// deeper than kMaxLibplistDepth, hold a reference cycle, or hold a string
// with a zero character.
constexpr int kMaxLibplistDepth = 256;

class BinaryScan {
 public:
  explicit BinaryScan(std::string_view b)
      : b_(reinterpret_cast<const uint8_t*>(b.data()), b.size()) {}

  // False when libplist must not be given these bytes (it would refuse most
  // of the others by itself).
  bool Safe() {
    if (b_.size() < 8 + 32) return true;  // libplist refuses it
    const size_t t = b_.size() - 32;
    offsetSize_ = b_[t + 6];
    refSize_ = b_[t + 7];
    count_ = Int(t + 8, 8);
    const uint64_t top = Int(t + 16, 8);
    table_ = Int(t + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return true;
    if (count_ == 0 || top >= count_ || count_ > b_.size()) return true;
    if (table_ > b_.size() || count_ * offsetSize_ > b_.size() - table_) return true;
    // Expanded size and depth of every object reachable from the top, with an
    // explicit stack: size(o) = 1 + the sizes of its children.
    // Only objects reachable from the top are looked at, each once; their
    // number is bounded like the tree's, so a huge claimed object count costs
    // nothing.
    struct Facts {
      uint64_t size = 0;
      uint32_t depth = 0;
      bool done = false;  // false while on the stack: meeting it again is a cycle
    };
    std::unordered_map<uint64_t, Facts> seen;
    struct Frame {
      uint64_t object;
      std::vector<uint64_t> children;
      size_t next = 0;
    };
    std::vector<Frame> stack;
    auto push = [&](uint64_t o) -> bool {
      const auto it = seen.find(o);
      if (it != seen.end()) return it->second.done;
      if (seen.size() >= kMaxPlistNodes) return false;
      seen.emplace(o, Facts{});
      Frame f{o, {}, 0};
      if (!Inspect(o, f.children)) return false;
      stack.push_back(std::move(f));
      return stack.size() <= kMaxLibplistDepth;
    };
    if (!push(top)) return false;
    while (!stack.empty()) {
      Frame& f = stack.back();
      if (f.next < f.children.size()) {
        const uint64_t child = f.children[f.next++];
        if (child >= count_) continue;  // libplist refuses it
        if (!push(child)) return false;
        continue;
      }
      Facts facts;
      facts.size = 1;
      for (uint64_t c : f.children) {
        if (c >= count_) continue;
        const Facts& child = seen[c];
        facts.size += child.size;
        facts.depth = std::max(facts.depth, child.depth);
        if (facts.size > kMaxPlistNodes) return false;
      }
      ++facts.depth;
      if (facts.depth > kMaxLibplistDepth) return false;
      facts.done = true;
      seen[f.object] = facts;
      stack.pop_back();
    }
    return true;
  }

 private:
  uint64_t Int(size_t pos, size_t n) const {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | b_[pos + i];
    return v;
  }
  // The object's children (containers), and false for a string with a zero character.
  bool Inspect(uint64_t object, std::vector<uint64_t>& children) const {
    const uint64_t pos = Int(static_cast<size_t>(table_ + object * offsetSize_), offsetSize_);
    if (pos >= b_.size()) return true;
    const uint8_t marker = b_[pos];
    const uint8_t type = marker >> 4;
    if (type != 0x5 && type != 0x6 && type != 0xA && type != 0xC && type != 0xD) return true;
    uint64_t n = marker & 0x0F;
    uint64_t data = pos + 1;
    if (n == 0x0F) {
      const uint8_t intMarker = b_[pos + 1];
      if ((intMarker >> 4) != 0x1 || (intMarker & 0x0F) > 3) return true;
      const size_t width = size_t{1} << (intMarker & 0x0F);
      n = Int(pos + 2, width);
      data = pos + 2 + width;
    }
    if (n > b_.size()) return true;  // libplist refuses it
    if (type == 0x5 || type == 0x6) {
      const uint64_t unit = type == 0x5 ? 1 : 2;
      for (uint64_t i = 0; i < n && data + (i + 1) * unit <= b_.size(); ++i)
        if (Int(static_cast<size_t>(data + i * unit), unit) == 0) return false;
      return true;
    }
    const uint64_t refs = type == 0xD ? 2 * n : n;
    if (refs > kMaxPlistNodes) return false;  // each reference is at least one value
    if (data + refs * refSize_ > b_.size()) return true;
    for (uint64_t i = 0; i < refs; ++i)
      children.push_back(Int(static_cast<size_t>(data + i * refSize_), refSize_));
    return true;
  }

  ByteView b_;
  unsigned offsetSize_ = 0, refSize_ = 0;
  uint64_t count_ = 0, table_ = 0;
};

// Nesting depth of an XML text's elements, counted from its tags; stops
// counting once past limit.
int XmlNesting(std::string_view text, int limit) {
  int depth = 0, deepest = 0;
  for (size_t i = text.find('<'); i != std::string_view::npos; i = text.find('<', i + 1)) {
    if (i + 1 >= text.size()) break;
    const char next = text[i + 1];
    if (next == '?' || next == '!') continue;
    if (next == '/') {
      depth = std::max(0, depth - 1);
      continue;
    }
    const size_t end = text.find('>', i);
    if (end == std::string_view::npos) break;
    if (text[end - 1] == '/') continue;
    deepest = std::max(deepest, ++depth);
    if (deepest > limit) break;
  }
  return deepest;
}

// A character reference to U+0000 (&#0;, &#x00; ...), which libplist would
// decode into a key or string its getters then abort on.
bool HasZeroReference(std::string_view text) {
  for (size_t i = text.find("&#"); i != std::string_view::npos; i = text.find("&#", i + 2)) {
    size_t j = i + 2;
    if (j < text.size() && (text[j] == 'x' || text[j] == 'X')) ++j;
    const size_t digits = j;
    while (j < text.size() && text[j] == '0') ++j;
    if (j > digits && j < text.size() && text[j] == ';') return true;
  }
  return false;
}

PlistDocument FromLibplist(std::string_view bytes, PlistForm form) {
  PlistDocument doc;
  doc.form = form;
  if (bytes.size() > UINT32_MAX) {
    doc.status = PlistStatus::Damaged;
    return doc;
  }
  if (form == PlistForm::Binary && !BinaryScan(bytes).Safe()) {
    doc.status = PlistStatus::TooComplex;
    return doc;
  }
  if (form == PlistForm::Xml &&
      (XmlNesting(bytes, kMaxLibplistDepth) > kMaxLibplistDepth || HasZeroReference(bytes))) {
    doc.status = PlistStatus::Damaged;  // read tolerantly instead
    return doc;
  }
  plist_t raw = nullptr;
  if (form == PlistForm::Binary)
    plist_from_bin(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
  else
    plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
  PlistPtr tree(raw);
  if (!tree) {
    doc.status = PlistStatus::Damaged;
    return doc;
  }
  Converter converter;
  converter.Convert(tree.get(), doc.root, 0);
  doc.status = converter.pastBounds ? PlistStatus::Truncated : PlistStatus::Ok;
  return doc;
}

// The tolerant reading: the first <dict>'s keys with the scalar element that
// follows each (string, date, integer, real, true, false, data). Nested
// containers are left out; this is the reading discovery has always made.
bool TolerantTopDict(XmlDocument& xml, PlistValue& out) {
  xml.ResetPosition();
  if (!xml.LocateChild("dict") || !xml.DescendToChild()) return false;
  out.kind = PlistValue::Kind::Dict;
  size_t count = 0;
  while (xml.LocateChild("key") && ++count < kMaxPlistNodes) {
    const std::string key = xml.ChildText();
    if (!xml.LocateChild()) break;
    const std::string type = xml.ChildName();
    PlistValue value;
    const std::string text = xml.ChildText();
    if (type == "string") {
      value = PlistValue::String(text);
    } else if (type == "integer") {
      value = PlistValue::Int(std::strtoll(text.c_str(), nullptr, 10));
    } else if (type == "real") {
      value.kind = PlistValue::Kind::Real;
      value.real = std::strtod(text.c_str(), nullptr);
    } else if (type == "true" || type == "false") {
      value.kind = PlistValue::Kind::Bool;
      value.integer = type == "true";
    } else if (type == "date") {
      double seconds = 0;
      if (!ParseIsoDate(text, seconds)) continue;
      value.kind = PlistValue::Kind::Date;
      value.real = seconds;
    } else if (type == "dict") {
      value.kind = PlistValue::Kind::Dict;
    } else if (type == "array") {
      value.kind = PlistValue::Kind::Array;
    } else {
      // A key followed by another key, or an unknown element: the next
      // <key> search starts after it, so nothing is lost but this value.
      continue;
    }
    out.keys.push_back(key);
    out.items.push_back(std::move(value));
  }
  return true;
}

PlistDocument FromXml(std::string_view bytes) {
  // libplist reads UTF-8 only: the text is decoded as the tolerant reader
  // decodes every form, but parsed once, by libplist; the tolerant reader
  // parses it only when libplist refuses it.
  std::string text = XmlDocument::DecodeText(bytes);
  // A property list's root is <plist>, found as the tolerant reader finds a root.
  if (XmlDocument::FirstElementName(text) != "plist") {
    PlistDocument doc;
    doc.status = PlistStatus::NotAPlist;
    return doc;
  }
  PlistDocument doc = FromLibplist(text, PlistForm::Xml);
  if (doc.status != PlistStatus::Damaged) return doc;
  XmlDocument xml;
  xml.LoadText(std::move(text));
  doc = {};
  doc.form = PlistForm::Xml;
  doc.status = TolerantTopDict(xml, doc.root) ? PlistStatus::Tolerated : PlistStatus::NotAPlist;
  return doc;
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

const PlistValue* PlistValue::Find(std::string_view key) const {
  if (kind != Kind::Dict) return nullptr;
  for (size_t i = 0; i < keys.size() && i < items.size(); ++i)
    if (keys[i] == key) return &items[i];
  return nullptr;
}

const PlistValue* PlistValue::Find(std::initializer_list<std::string_view> path) const {
  const PlistValue* v = this;
  for (std::string_view key : path) {
    v = v->Find(key);
    if (!v) return nullptr;
  }
  return v;
}

std::string PlistValue::StringAt(std::string_view key, std::string fallback) const {
  const PlistValue* v = Find(key);
  return v && v->kind == Kind::String ? v->bytes : fallback;
}

int64_t PlistValue::IntAt(std::string_view key, int64_t fallback) const {
  const PlistValue* v = Find(key);
  if (!v) return fallback;
  if (v->kind == Kind::Int || v->kind == Kind::Bool) return v->integer;
  if (v->kind == Kind::Real && std::isfinite(v->real) && std::fabs(v->real) < 9e18)
    return static_cast<int64_t>(v->real);
  return fallback;
}

bool PlistValue::BoolAt(std::string_view key, bool fallback) const {
  const PlistValue* v = Find(key);
  if (!v) return fallback;
  if (v->kind == Kind::Bool || v->kind == Kind::Int) return v->integer != 0;
  return fallback;
}

std::string PlistValue::DataAt(std::string_view key) const {
  const PlistValue* v = Find(key);
  return v && (v->kind == Kind::Data || v->kind == Kind::String) ? v->bytes : std::string();
}

std::string PlistValue::DateTextAt(std::string_view key) const {
  const PlistValue* v = Find(key);
  if (!v) return {};
  if (v->kind == Kind::Date) return IsoDateText(v->real);
  return {};
}

PlistValue PlistValue::String(std::string text) {
  PlistValue v;
  v.kind = Kind::String;
  v.bytes = std::move(text);
  return v;
}

PlistValue PlistValue::Int(int64_t n) {
  PlistValue v;
  v.kind = Kind::Int;
  v.integer = n;
  return v;
}

PlistDocument LoadPropertyList(std::string_view bytes) {
  PlistDocument doc;
  if (bytes.empty()) return doc;
  if (bytes.substr(0, 6) == "bplist") {
    if (bytes.substr(0, 8) != "bplist00") {
      doc.status = PlistStatus::NotAPlist;
      doc.form = PlistForm::Binary;
      return doc;
    }
    return FromLibplist(bytes, PlistForm::Binary);
  }
  return FromXml(bytes);
}

PlistDocument LoadPropertyListFile(const std::string& path) {
  PlistDocument doc;
  doc.status = PlistStatus::NotAPlist;
  ReadOnlyFile file;
  if (!file.Open(path) || file.Size() > kMaxPlistFileBytes) return doc;
  // Read through the one opening that measured it.
  std::string bytes(static_cast<size_t>(file.Size()), '\0');
  if (file.ReadAt(0, bytes.data(), bytes.size()) != bytes.size()) return doc;
  return LoadPropertyList(bytes);
}

std::string IsoDateText(double unixSeconds) {
  if (!std::isfinite(unixSeconds) || std::fabs(unixSeconds) > 1e13) return {};
  const int64_t t = static_cast<int64_t>(std::floor(unixSeconds));
  int64_t days = t / 86400, rest = t % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Civil date from days since 1970 (Howard Hinnant's algorithm).
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02dZ", static_cast<long long>(y), m,
                d, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return text;
}

bool ParseIsoDate(std::string_view text, double& unixSeconds) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  const std::string copy(text.substr(0, 32));
  if (std::sscanf(copy.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6) return false;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 ||
      s > 60)
    return false;
  unixSeconds = static_cast<double>(
      DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 +
      mi * 60 + s);
  return true;
}

}  // namespace vantrel
