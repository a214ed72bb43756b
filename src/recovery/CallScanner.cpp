#include "recovery/CallScanner.h"

#include <strings.h>

#include <algorithm>
#include <string>

#include "recovery/RowReader.h"
#include "sqlite/BTree.h"

namespace vantrel {

namespace {

// Positions of the columns the scanner checks, the same in iOS 6 and iOS 7.
constexpr size_t kAddressColumn = 1;
constexpr size_t kDateColumn = 2;
constexpr size_t kReadColumn = 9;
// Values decoded per record: rowid, address, date, duration, flags, id.
constexpr size_t kDecodedValues = 6;
// The date is Unix seconds, which SQLite stores as a 4-byte integer until 2038.
constexpr uint64_t kDateSerialType = 4;
constexpr uint64_t kDateSize = 4;
// The address is text of 1 to 43 bytes: odd serial types 15..99, one byte each.
constexpr uint64_t kMinAddressType = 15;
constexpr uint64_t kMaxAddressType = 99;
// Every record has at least the 13 columns of iOS 6, so its header takes at
// least 13 bytes after the header-size byte; with an address byte and the
// date, no record is shorter than this from its anchor.
constexpr size_t kMinColumns = 13;
constexpr size_t kMinAnchorSpan = kMinColumns + 1 + kDateSize;
// A record is taken only when its values up to `network_code` lie inside the
// stretch and its texts among them are clean: where a later cell was written
// over an old record, control bytes show up there. Only `originalAddress`
// and what follows it may be cut or overwritten.
constexpr size_t kCheckedColumns = 9;
// The column iOS 7 added at the end of the table.
constexpr char kAnsweredColumn[] = "answered";

bool TypeIs(const ColumnDef& column, const char* word) {
  return strcasecmp(column.type.c_str(), word) == 0;
}

// Whether a serial type can hold a value of the column as SQLite stores it:
// an INTEGER column holds integers, reals or NULL, a TEXT column text, blobs or
// NULL; serial types 10 and 11 never appear.
bool PlausibleSerialType(uint64_t type, const ColumnDef& column) {
  if (type == 10 || type == 11) return false;
  if (TypeIs(column, "integer")) return type <= 9;
  if (TypeIs(column, "text")) return type == 0 || type >= 12;
  return true;
}

bool IsCleanText(ByteView text) {
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] < 0x20 || text[i] == 0x7F) return false;
  return true;
}

// Characters of a telephone number, a short code or an e-mail handle (FaceTime).
bool IsAddressByte(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '#' ||
         c == '@' || c == '*' || c == '+' || c == '.' || c == '-' || c == '_';
}

// Reads `count` serial types starting at the anchor: the anchor byte stands for
// the rowid's NULL whatever it holds now (a freeblock header may have
// overwritten it), the others are varints read from the stretch. headerBytes is
// the length of the serial types, anchor byte included.
bool ReadSerialTypes(ByteView stretch, size_t anchor, size_t count, std::vector<uint64_t>& types,
                     size_t& headerBytes) {
  types.assign(1, 0);
  size_t pos = anchor + 1;
  while (types.size() < count) {
    if (pos >= stretch.size()) return false;
    uint64_t value = 0;
    int length = 0;
    DecodeVarint(stretch.Sub(pos, 9), value, length);
    if (length == 0) return false;
    types.push_back(value);
    pos += static_cast<size_t>(length);
  }
  headerBytes = pos - anchor;
  return true;
}

struct Layout {
  std::vector<uint64_t> types;
  size_t headerBytes = 0;
};

// Chooses how many values the record at the anchor holds. The header-size
// byte just before the anchor decides when it is intact (it equals the header
// length of one of the accepted widths); when the freeblock header has
// overwritten it, the widest width whose serial types all suit their columns
// is taken: a 13-value record read as 14 values would take the first byte of
// its address (a printable character) as `answered`, which no integer is.
bool ChooseLayout(ByteView stretch, size_t anchor, const CallRecordShape& shape, Layout& chosen) {
  bool haveFallback = false;
  Layout candidate;
  for (size_t count : shape.valueCounts) {
    if (!ReadSerialTypes(stretch, anchor, count, candidate.types, candidate.headerBytes)) continue;
    const std::vector<uint64_t>& t = candidate.types;
    if (t[kReadColumn] != 8 && t[kReadColumn] != 9) continue;
    bool plausible = true;
    for (size_t i = kDateColumn + 1; i < count && plausible; ++i)
      plausible = PlausibleSerialType(t[i], shape.columns[i]);
    if (!plausible) continue;
    bool headerIntact = anchor >= 1 && stretch[anchor - 1] == candidate.headerBytes + 1;
    if (headerIntact) {
      chosen = std::move(candidate);
      return true;
    }
    if (!haveFallback) {
      chosen = candidate;
      haveFallback = true;
    }
  }
  return haveFallback;
}

}  // namespace

CallRecordShape MakeCallRecordShape(const std::vector<ColumnDef>& columns) {
  CallRecordShape shape;
  shape.columns = columns;
  if (columns.size() < kMinColumns) return shape;  // not a call table: nothing will match
  shape.valueCounts.push_back(columns.size());
  if (columns.size() > kMinColumns && strcasecmp(columns.back().name.c_str(), kAnsweredColumn) == 0)
    shape.valueCounts.push_back(columns.size() - 1);
  return shape;
}

size_t ScanCallRecords(ByteView stretch, size_t firstAnchor, const CallRecordShape& shape,
                       std::vector<CallHit>& hits) {
  const size_t n = stretch.size();
  size_t found = 0;
  Layout layout;
  for (size_t p = firstAnchor; p + kMinAnchorSpan <= n; ++p) {
    if (stretch[p + 2] != kDateSerialType) continue;
    const uint64_t addressType = stretch[p + 1];
    if (addressType < kMinAddressType || addressType > kMaxAddressType || addressType % 2 == 0)
      continue;
    if (!ChooseLayout(stretch, p, shape, layout)) continue;

    // The values up to the network code must lie inside the stretch, the
    // address must look like a number and the other texts must be clean.
    const size_t checked = std::min(kCheckedColumns, layout.types.size());
    size_t end = p + layout.headerBytes;
    bool clean = true;
    for (size_t i = 0; i < checked && clean; ++i) {
      const uint64_t type = layout.types[i];
      const size_t size = SerialTypeSize(type);
      if (end + size > n) {
        clean = false;
        break;
      }
      const ByteView value = stretch.Sub(end, size);
      if (i == kAddressColumn) {
        for (size_t k = 0; k < size && clean; ++k) clean = IsAddressByte(value[k]);
      } else if (type >= 13 && type % 2 == 1 && TypeIs(shape.columns[i], "text")) {
        clean = IsCleanText(value);
      }
      end += size;
    }
    if (!clean) continue;

    CallHit hit;
    hit.anchor = p;
    size_t offset = layout.headerBytes;
    const size_t values = std::min(kDecodedValues, layout.types.size());
    for (size_t i = 0; i < values; ++i) {
      const uint64_t type = layout.types[i];
      const size_t size = SerialTypeSize(type);
      std::string value;
      RenderValue(type, stretch.Sub(p + offset, size), shape.columns[i], true, 0, value);
      hit.row.push_back(std::move(value));
      offset += size;
    }
    hits.push_back(std::move(hit));
    ++found;
    p = end - 1;  // the loop steps on to the first byte after the checked values
  }
  return found;
}

}  // namespace vantrel
