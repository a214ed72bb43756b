#include "sources/calls/CallScanner.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <string>

#include "carve/RowReader.h"
#include "sqlite/BTree.h"

namespace vantrel {

namespace {

// Positions of the columns the scanner checks, the same in iOS 6 and iOS 7.
constexpr size_t kAddressColumn = 1;
constexpr size_t kDateColumn = 2;
constexpr size_t kFlagsColumn = 4;
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
// The values up to `network_code` are checked: they should lie inside the
// stretch, and their texts be clean. Where a later cell was written over an
// old record, control bytes show up in them.
constexpr size_t kCheckedColumns = 9;
// Bytes of a cell before its rowid serial type: payload length and rowid
// varints and the header-size byte, as call cells have them (a payload below
// 16384 bytes and a rowid below 2^21).
constexpr size_t kMaxCellPrefix = 2 + 3 + 1;
// The column iOS 7 added at the end of the table.
constexpr char kAnsweredColumn[] = "answered";

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
      plausible = FitsDeclaredWord(shape.words[i], t[i]);
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

// A record read at an anchor: its layout and where each checked value lies.
struct Candidate {
  Layout layout;
  size_t checked = 0;  // values checked: up to `network_code`
  // Stretch offset of each checked value, then the end of the last one.
  std::array<size_t, kCheckedColumns + 1> at{};
  size_t firstBad = 0;    // first checked value that is not intact (checked when all are)
  bool cutByEnd = false;  // that value runs past the stretch end (else: unclean text)
};

// Reads the record whose rowid serial type would be at p. False when the
// bytes there are no call record: no plausible header, or an address and date
// that do not lie inside the stretch or an address that is no number. Later
// values may be damaged; firstBad says where the damage starts.
bool ReadCandidate(ByteView stretch, size_t p, const CallRecordShape& shape, Candidate& c) {
  const size_t n = stretch.size();
  if (p + kMinAnchorSpan > n || stretch[p + 2] != kDateSerialType) return false;
  const uint64_t addressType = stretch[p + 1];
  if (addressType < kMinAddressType || addressType > kMaxAddressType || addressType % 2 == 0)
    return false;
  if (!ChooseLayout(stretch, p, shape, c.layout)) return false;
  c.checked = std::min(kCheckedColumns, c.layout.types.size());
  c.firstBad = c.checked;
  c.cutByEnd = false;
  size_t end = p + c.layout.headerBytes;
  for (size_t i = 0; i < c.checked; ++i) {
    c.at[i] = end;
    end += SerialTypeSize(c.layout.types[i]);
    c.at[i + 1] = end;
  }
  for (size_t i = 0; i < c.checked && c.firstBad == c.checked; ++i) {
    const uint64_t type = c.layout.types[i];
    if (c.at[i + 1] > n) {
      c.firstBad = i;
      c.cutByEnd = true;
    } else if (i == kAddressColumn) {
      const ByteView value = stretch.Sub(c.at[i], c.at[i + 1] - c.at[i]);
      for (size_t k = 0; k < value.size(); ++k)
        if (!IsAddressByte(value[k])) return false;
    } else if (IsTextSerialType(type) && shape.words[i] == DeclaredWord::Text) {
      if (!IsCleanText(stretch.Sub(c.at[i], c.at[i + 1] - c.at[i]))) c.firstBad = i;
    }
  }
  return c.firstBad > kDateColumn;
}

// Where the cell of the record anchored at q begins: before the anchor lie
// the header-size byte, the rowid varint and the payload-length varint, each
// varint ending in a byte below 0x80 after up to eight bytes of 0x80 or more.
// Where the bytes do not tell, the earlier start is taken.
size_t CellStartBefore(ByteView stretch, size_t q) {
  size_t k = q >= 1 ? q - 1 : 0;  // header-size byte
  for (int varint = 0; varint < 2 && k > 0; ++varint) {
    --k;  // the varint's last byte
    for (int more = 0; more < 8 && k > 0 && stretch[k - 1] >= 0x80; ++more) --k;
  }
  return k;
}

}  // namespace

CallRecordShape MakeCallRecordShape(const std::vector<ColumnDef>& columns) {
  CallRecordShape shape;
  shape.columns = columns;
  for (const ColumnDef& column : columns) shape.words.push_back(DeclaredWordOf(column));
  if (columns.size() < kMinColumns) return shape;  // not a call table: nothing will match
  shape.valueCounts.push_back(columns.size());
  if (columns.size() > kMinColumns && strcasecmp(columns.back().name.c_str(), kAnsweredColumn) == 0)
    shape.valueCounts.push_back(columns.size() - 1);
  return shape;
}

size_t ScanCallRecords(ByteView stretch, size_t firstAnchor, const CallRecordShape& shape,
                       std::vector<CallHit>& hits, const std::vector<size_t>& cellStarts) {
  const size_t n = stretch.size();
  size_t found = 0;
  Candidate c, later;
  for (size_t p = firstAnchor; p + kMinAnchorSpan <= n; ++p) {
    if (!ReadCandidate(stretch, p, shape, c)) continue;

    if (c.firstBad <= kFlagsColumn) continue;

    // Values before keepEnd are the record's own. A later call record written
    // over this one shows as a record whose cell starts inside it: then the
    // values before that cell are kept if the duration and flags are among
    // them. Other damage is taken only where the stretch ends (a live cell,
    // or the page end, follows).
    const size_t flagsEnd = c.at[kFlagsColumn + 1];
    const size_t damageEnd = c.at[c.firstBad < c.checked ? c.firstBad + 1 : c.checked];
    size_t keepEnd = c.at[c.checked];
    size_t next = keepEnd;
    bool overwritten = false;
    bool keep = true;
    const size_t lastAnchor = std::min(n, damageEnd + kMaxCellPrefix);
    for (size_t q = c.at[kDateColumn + 1]; q < lastAnchor && !overwritten; ++q) {
      if (!ReadCandidate(stretch, q, shape, later) || later.firstBad <= kFlagsColumn) continue;
      const size_t cellStart = CellStartBefore(stretch, q);
      if (cellStart >= damageEnd) break;
      overwritten = true;
      keep = cellStart >= flagsEnd;
      keepEnd = std::min(keepEnd, cellStart);
      next = q;
    }
    if (!overwritten && c.firstBad < c.checked) {
      keep = c.cutByEnd;
      keepEnd = next = n;
      // A live cell that begins after the flags and no later than the damaged value took the
      // record's tail: the values before it are the record's own.
      auto cell = std::lower_bound(cellStarts.begin(), cellStarts.end(), flagsEnd);
      if (!c.cutByEnd && cell != cellStarts.end() && *cell < damageEnd) {
        keep = true;
        keepEnd = next = *cell;
      }
    }
    if (!keep) continue;

    CallHit hit;
    hit.anchor = p;
    hit.cut = keepEnd < c.at[c.checked];
    const size_t values = std::min(kDecodedValues, c.layout.types.size());
    for (size_t i = 0; i < values && c.at[i + 1] <= keepEnd; ++i) {
      std::string value;
      RenderValue(c.layout.types[i], stretch.Sub(c.at[i], c.at[i + 1] - c.at[i]), shape.columns[i],
                  true, 0, value);
      hit.row.push_back(std::move(value));
    }
    hits.push_back(std::move(hit));
    ++found;
    p = next - 1;  // the loop steps on to the first byte after the record, or to the later one
  }
  return found;
}

}  // namespace vantrel
