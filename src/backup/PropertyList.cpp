// Property lists in either form, through libplist, into PlistValue trees.
#include "backup/PropertyList.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "backup/XmlDocument.h"
#include "platform/ReadOnlyFile.h"

namespace vantrel {
namespace {

constexpr uint64_t kMaxPlistFileBytes = 64ull << 20;

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
  bool truncated = false;

  void Convert(plist_t node, PlistValue& out, int depth) {
    if (++nodes_ > kMaxPlistNodes) {
      truncated = true;
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
      case PLIST_STRING:
      case PLIST_KEY: {
        char* s = nullptr;
        plist_get_string_val(node, &s);
        CString owned(s);
        out.kind = PlistValue::Kind::String;
        if (s) out.bytes = s;
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
        char* d = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &d, &length);
        CString owned(d);
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
          truncated = true;
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
          truncated = true;
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
    truncated = true;
    return true;
  }
  size_t nodes_ = 0;
};

PlistDocument FromLibplist(std::string_view bytes, PlistForm form) {
  PlistDocument doc;
  doc.form = form;
  if (bytes.size() > UINT32_MAX) {
    doc.status = PlistStatus::Damaged;
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
  doc.status = converter.truncated ? PlistStatus::Truncated : PlistStatus::Ok;
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
  XmlDocument xml;
  xml.LoadBytes(bytes);
  // LocateChild selects the root element first; a property list's root is <plist>.
  xml.ResetPosition();
  xml.LocateChild();
  if (xml.MainName() != "plist") {
    PlistDocument doc;
    doc.status = PlistStatus::NotAPlist;
    return doc;
  }
  // libplist reads UTF-8 only; XmlDocument has already decoded every form.
  PlistDocument doc = FromLibplist(xml.text(), PlistForm::Xml);
  if (doc.status != PlistStatus::Damaged) return doc;
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
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return doc;
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
