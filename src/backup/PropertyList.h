// Property lists of a backup (Info.plist, Manifest.plist, Status.plist, the
// archived records of Manifest.db) read into a small value tree of our own, in
// either form:
//
//   binary  "bplist00", then objects, an offset table and a 32-byte trailer
//           (offset-entry size, reference size, object count, top object,
//           offset-table position); parsed by libplist.
//   XML     <plist><dict><key>..</key><string>..</string>...</dict></plist>;
//           decoded to UTF-8 by XmlDocument's decoder (byte-order marks,
//           declared encodings, UTF-16 either way round), then parsed by
//           libplist alone. Only when libplist refuses the text (a damaged or
//           hand-edited file) does the tolerant XmlDocument parse it, its walk
//           reading the top dictionary's scalar values instead, so an odd
//           Info.plist still yields its name, version and date.
//
// The tree holds no libplist type. Damaged input never crashes: it gives a
// status, and the tree is bounded in depth (kMaxPlistDepth) and size
// (kMaxPlistNodes) whatever the bytes hold.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

inline constexpr int kMaxPlistDepth = 64;          // containers inside containers
inline constexpr size_t kMaxPlistNodes = 1000000;  // values in one tree

struct PlistValue {
  enum class Kind { None, Dict, Array, String, Int, Real, Bool, Date, Data, Uid };

  Kind kind = Kind::None;
  int64_t integer = 0;            // Int; Bool as 0 / 1; Uid (an index into an archive's $objects)
  double real = 0;                // Real; Date as seconds since 1970-01-01 00:00:00 UTC
  std::string bytes;              // String (UTF-8) or Data (raw bytes)
  std::vector<std::string> keys;  // Dict: keys, in file order, parallel to items
  std::vector<PlistValue> items;  // Dict values or Array elements

  bool IsDict() const { return kind == Kind::Dict; }
  bool IsArray() const { return kind == Kind::Array; }

  // The value under key in a dictionary; nullptr when absent or not a dictionary.
  const PlistValue* Find(std::string_view key) const;
  // Follows dictionary keys one after the other ({"Lockdown", "ProductVersion"}).
  const PlistValue* Find(std::initializer_list<std::string_view> path) const;

  // Typed reads of a dictionary entry; fallback when absent or of another kind.
  std::string StringAt(std::string_view key, std::string fallback = {}) const;
  int64_t IntAt(std::string_view key, int64_t fallback = 0) const;
  bool BoolAt(std::string_view key, bool fallback = false) const;
  // Data bytes; also a String's bytes, since some writers store keys as text.
  std::string DataAt(std::string_view key) const;
  // A Date as ISO 8601 UTC text ("2014-07-17T19:15:04Z"); "" when absent.
  std::string DateTextAt(std::string_view key) const;

  static PlistValue String(std::string text);
  static PlistValue Int(int64_t v);
};

enum class PlistForm { Unknown, Xml, Binary };

enum class PlistStatus {
  Ok,
  Empty,       // no bytes
  NotAPlist,   // neither "bplist00" nor XML with a <plist> or <dict>
  Damaged,     // binary form libplist could not read
  TooComplex,  // a binary list whose tree would pass the bounds (shared references expanded,
               // nesting, cycles) or that holds a string with a zero character: not read
  Tolerated,   // XML libplist refused: the top dictionary's scalars were read tolerantly
  Truncated,   // the tree reached kMaxPlistDepth or kMaxPlistNodes; deeper values left out
};

// Whether a list of this status gave values to read.
inline bool PlistReadable(PlistStatus status) {
  return status == PlistStatus::Ok || status == PlistStatus::Tolerated ||
         status == PlistStatus::Truncated;
}

struct PlistDocument {
  PlistStatus status = PlistStatus::Empty;
  PlistForm form = PlistForm::Unknown;
  PlistValue root;  // Kind::None unless something was read
  bool Readable() const { return PlistReadable(status); }
};

// Reads a property list given as bytes, in either form.
PlistDocument LoadPropertyList(std::string_view bytes);
// The largest property list file read; a backup's are a few kilobytes.
inline constexpr uint64_t kMaxPlistFileBytes = 64ull << 20;
// Reads a property list file; NotAPlist for a missing file or a larger one.
PlistDocument LoadPropertyListFile(const std::string& path);

// Seconds since 1970 as ISO 8601 UTC text, and the reverse (false when the
// text is not of the form YYYY-MM-DDTHH:MM:SS with an optional Z).
std::string IsoDateText(double unixSeconds);
bool ParseIsoDate(std::string_view text, double& unixSeconds);

// Seconds between 1970-01-01 and 2001-01-01, the epoch of property-list dates.
inline constexpr int64_t kPlistEpochOffset = 978307200;

}  // namespace vantrel
