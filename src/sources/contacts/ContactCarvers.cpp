#include "sources/contacts/ContactCarvers.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <unordered_set>

#include "carve/PageWalk.h"
#include "platform/Text.h"
#include "sqlite/BTree.h"
#include "sqlite/ColumnRules.h"
#include "sqlite/Page.h"

namespace vantrel {

namespace {

// Serial types each column could hold, by the address book's own fit
// (ColumnRules.h): integers in integer columns, text (or NULL) in text
// columns; other columns take anything.
bool TypesFitColumns(const std::vector<uint64_t>& types, const std::vector<ColumnDef>& columns) {
  const size_t count = std::min(types.size(), columns.size());
  for (size_t k = 0; k < count; ++k)
    if (!FitsAddressBookWord(DeclaredWordOf(columns[k]), types[k])) return false;
  return true;
}

bool IsTextColumn(const ColumnDef& column) {
  return DeclaredWordOf(column) == DeclaredWord::Text;
}

// One varint at the start of bytes; length 0 when it does not end inside them.
struct Varint {
  uint64_t value = 0;
  int length = 0;
};

Varint ReadVarint(ByteView bytes) {
  Varint v;
  DecodeVarint(bytes, v.value, v.length);
  return v;
}

// Carves the log's committed frames (WalkLogFrames) as the pages they hold:
// every older image, which keeps rows deleted since, and the current image of
// every page but the table's own live leaves, which the table's readers read.
// A page the table no longer uses (one freed in a committed transaction, say)
// keeps in its current image the rows it held, which the database file's image
// of it may not (WalkPagesOutsideTable reads the file alone). carve adds one
// place per row, worked out as if the image lay at its page in the database;
// each row it added here lies in the log, so its place becomes the frame's, at
// the same distance into the image.
void CarveLogFrames(const SqliteFile& db, const TableInfo& table, RowList& rows, FoundList* found,
                    const std::function<void(ByteView, uint32_t)>& carve) {
  WalkLogFramesOutsideLeaves(db, &table, [&](ByteView block, const FoundAt& frame, bool) {
    const size_t before = rows.size();
    carve(block, frame.page);
    if (!found) return;
    for (size_t k = before; k < rows.size(); ++k) {
      FoundAt& at = (*found)[found->size() - (rows.size() - k)];
      const uint64_t inPage = at.offset - uint64_t{frame.page - 1} * db.pageSize;
      at = frame;
      at.offset += inPage;
    }
  });
}

}  // namespace

void DecodeCarvedValues(ByteView block, size_t body, const std::vector<uint64_t>& serialTypes,
                        const std::vector<ColumnDef>& columns, bool primaryKeyRowid, uint64_t rowid,
                        RowValues& row) {
  size_t pos = body;
  const size_t count = std::min(serialTypes.size(), columns.size());
  row.reserve(row.size() + count);
  for (size_t k = 0; k < count; ++k) {
    const uint64_t type = serialTypes[k];
    const ColumnDef& column = columns[k];
    if (type == 0) {
      row.push_back(primaryKeyRowid && ConstraintStartsWithPrimaryKey(column)
                        ? std::to_string(rowid)
                        : std::string());
      continue;
    }
    if (type == 8 || type == 9) {
      row.push_back(type == 8 ? "0" : "1");
      continue;
    }
    const uint64_t size = SerialTypeSize(type);
    if (size >= kCarveValueBuffer) return;
    if (pos >= block.size() || size > block.size() - pos) {
      // Only text survives being cut: a partial number is no number.
      if (IsTextColumn(column) && pos < block.size()) {
        std::string value;
        RenderValue(type, block.Sub(pos), column, true, 0, value);
        row.push_back(std::move(value));
      }
      return;
    }
    RenderValue(type, block.Sub(pos, size), column, true, 0, row.emplace_back());
    pos += size;
  }
}

// ---------------------------------------------------------------------------------------------
// Person carver

namespace {

// Offsets of the header bytes around the anchor, which is the serial type of
// CreationDate (column 18). The header starts with its size byte at anchor-19,
// followed by one serial-type byte per column from anchor-18 (the ROWID NULL).
constexpr size_t kHeaderSizeBack = 19;
constexpr size_t kRowidTypeBack = 18;
// Column 10, Kind: serial type 8 (the integer 0) for a person, 9 (the integer 1) for a
// company card.
constexpr size_t kKindTypeBack = 8;
constexpr uint64_t kMinPersonPayload = 50;
constexpr size_t kPersonFirstColumns = 20;  // the anchor needs columns 0 to 19

// Finds where the cell holding the header at headerStart begins: the payload
// length and rowid varints lie right before it. Tries every length of the two
// varints and keeps the one whose payload length matches the header's serial
// types exactly, which a stray byte before the cell cannot fake.
bool FindPersonCellStart(ByteView block, size_t headerStart, uint64_t headerSize, uint64_t bodySize,
                         size_t& cellStart, Varint& payload, Varint& rowid) {
  for (int rowidLength = 1; rowidLength <= 4; ++rowidLength) {
    for (int payloadLength = 1; payloadLength <= 3; ++payloadLength) {
      const size_t back = static_cast<size_t>(rowidLength + payloadLength);
      if (headerStart < back) continue;
      const size_t start = headerStart - back;
      Varint p = ReadVarint(block.Sub(start, 9));
      if (p.length != payloadLength) continue;
      Varint r = ReadVarint(block.Sub(start + p.length, 9));
      if (r.length != rowidLength) continue;
      if (p.value != headerSize + bodySize) continue;
      cellStart = start;
      payload = p;
      rowid = r;
      return true;
    }
  }
  return false;
}

// The names, phonetic names and organisation of a carved person (values 1 to
// 7) hold no control characters and no replaced bytes: a record whose bytes
// were partly overwritten would name the numbers of its row id wrongly.
bool HasCleanNames(const RowValues& row) {
  static const std::string kReplacement = "\xEF\xBF\xBD";
  for (size_t k = 1; k < row.size() && k <= 7; ++k) {
    if (row[k].find(kReplacement) != std::string::npos) return false;
    for (unsigned char c : row[k])
      if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

// On a table leaf page (a live one, or one that went to the freelist whole)
// the offsets where live cells and freeblocks begin, ascending; empty for any
// other block.
std::vector<size_t> CellAndFreeblockStarts(ByteView block) {
  std::vector<size_t> starts;
  const BTreePage tree = ParsePage(block);
  if (block.size() < kLeafHeaderSize || !tree.Is(PageType::LeafTable)) return starts;
  for (size_t k = 0; k < tree.cellCount; ++k) {
    const size_t at = tree.CellPointer(k);
    if (at >= kLeafHeaderSize && at < block.size()) starts.push_back(at);
  }
  tree.ForEachFreeblock(kLeafHeaderSize, [&](Freeblock f) { starts.push_back(f.offset); });
  std::sort(starts.begin(), starts.end());
  return starts;
}

// The record header of an ABPerson record whose CreationDate serial type
// stands at i: the anchor bytes, then the serial types of a whole record of
// the table's column count (or the count before iOS 7).
struct PersonHeader {
  size_t headerStart = 0;  // the header-size byte
  uint64_t headerSize = 0;
  uint64_t bodySize = 0;
  std::vector<uint64_t> types;
};

// The serial types around CreationDate's at i that every person record
// shows: CreationDate and ModificationDate 4-byte integers, FirstSort and
// LastSort of one type, Kind 0 (a person) or 1 (a company).
bool IsPersonAnchor(ByteView block, size_t i) {
  if (i < kHeaderSizeBack + 5 || i + 1 >= block.size()) return false;
  return block[i] == 4 && block[i + 1] == 4 && block[i - 1] == block[i - 2] && block[i - 1] != 0 &&
         (block[i - kKindTypeBack] == 8 || block[i - kKindTypeBack] == 9);
}

// The first i from `from` on where IsPersonAnchor holds, or SIZE_MAX. Both
// date types are 4, a byte most text and index pages rarely hold: memchr
// skips to the next one instead of testing every byte.
size_t NextPersonAnchor(ByteView block, size_t from) {
  for (size_t i = FindByte(block, std::max<size_t>(from, kHeaderSizeBack + 5), 4); i != SIZE_MAX;
       i = FindByte(block, i + 1, 4))
    if (IsPersonAnchor(block, i)) return i;
  return SIZE_MAX;
}

bool ReadPersonHeader(ByteView block, size_t i, size_t columnCount, PersonHeader& header) {
  if (!IsPersonAnchor(block, i) || block[i - kRowidTypeBack] != 0) return false;
  header.headerStart = i - kHeaderSizeBack;
  header.headerSize = block[header.headerStart];
  if (header.headerSize < 2 || header.headerSize >= 0x80) return false;
  header.types.clear();
  SplitSerialTypes(block.Sub(i - kRowidTypeBack), header.headerSize - 1, header.types);
  const size_t count = header.types.size();
  if (count != columnCount && !(columnCount > kPersonColumnsAddedInIos7 &&
                                count == columnCount - kPersonColumnsAddedInIos7))
    return false;
  header.bodySize = 0;
  for (uint64_t t : header.types) header.bodySize += SerialTypeSize(t);
  return true;
}

}  // namespace

void CarvePersonRecords(ByteView block, const std::vector<ColumnDef>& columns, RowList& rows,
                        std::vector<size_t>* headers) {
  const size_t n = block.size();
  const size_t columnCount = columns.size();
  if (columnCount < kPersonFirstColumns) return;
  PersonHeader header;
  const std::vector<size_t> starts = CellAndFreeblockStarts(block);
  // The anchor needs 24 bytes in front of it (header, rowid, payload length)
  // and the ModificationDate type after it.
  for (size_t i = NextPersonAnchor(block, 0); i != SIZE_MAX; i = NextPersonAnchor(block, i + 1)) {
    if (!ReadPersonHeader(block, i, columnCount, header)) continue;
    const size_t headerStart = header.headerStart;
    const uint64_t headerSize = header.headerSize;
    const uint64_t bodySize = header.bodySize;
    const std::vector<uint64_t>& types = header.types;
    size_t cellStart = 0;
    Varint payload, rowid;
    if (!FindPersonCellStart(block, headerStart, headerSize, bodySize, cellStart, payload, rowid))
      continue;
    if (rowid.value == 0 || payload.value < kMinPersonPayload) continue;
    const size_t payloadStart = cellStart + payload.length + rowid.length;
    if (payload.value > n - payloadStart) continue;  // the record must lie inside the block
    RowValues row;
    DecodeCarvedValues(block, payloadStart + headerSize, types, columns, true, rowid.value, row);
    if (!HasCleanNames(row)) continue;
    // Another cell or a freeblock beginning inside the record took its bytes
    // from there on.
    const size_t recordEnd = payloadStart + payload.value;
    auto inside = std::upper_bound(starts.begin(), starts.end(), cellStart);
    if (inside != starts.end() && *inside < recordEnd) continue;
    rows.push_back(std::move(row));
    if (headers) headers->push_back(headerStart);
    i = payloadStart + payload.value - 1;  // the loop steps to the byte after the record
  }
}

namespace {

// One person record on an ABPerson leaf page.
struct PagePerson {
  size_t headerStart = 0;
  uint64_t rowid = 0;  // 0: not known
  bool live = false;
  bool anchor = false;  // its rowid is read, not inferred
  bool known = false;   // a live record the caller already has: not returned
  RowValues row;
};

// The person records of one ABPerson leaf page, live and freed. A freed
// record keeps its rowid only when a freeblock header did not take it; the
// others get theirs from the live records around them: cells are written from
// the end of the page towards its start in rowid order (appended rows, and
// pages the b-tree rebuilt alike), so k freed records lying between live
// records of rowids a and a + k + 1 are a + 1 ... a + k, in that order.
// where, when given, gets each appended record's header start and the place
// it has on the page (Unknown for a cell of the page).
using PlacesOnPage = std::vector<std::pair<size_t, Place>>;
void CarvePersonsOnLeafPage(const SqliteFile& db, ByteView page,
                            const std::vector<ColumnDef>& columns, RowList& rows,
                            PlacesOnPage* where,
                            const std::unordered_set<uint64_t>* known = nullptr) {
  // Records are found at their anchors alone: a page without one (most
  // leaves of other tables) holds none, and its cells need not be read.
  const size_t firstAnchor = NextPersonAnchor(page, 0);
  if (firstAnchor == SIZE_MAX) return;
  std::vector<uint16_t> offsets;
  // A page image whose header a freelist trunk's links took has no cells to
  // go by: its records are found by their own bytes alone.
  const BTreePage tree = ParsePage(page, 0, UsableSize(db));
  if (page.size() >= kLeafHeaderSize && tree.Is(PageType::LeafTable)) tree.CellPointers(offsets);
  std::map<size_t, uint64_t> liveByHeader;  // header start -> rowid
  for (uint16_t offset : offsets) {
    CellPayload cell;
    if (!AssembleCellPayload(db, page, offset, cell) || cell.overflowed) continue;
    liveByHeader[offset + cell.lengthOfPayloadVarint + cell.lengthOfRowidVarint] = cell.rowid;
  }
  const std::vector<size_t> starts = CellAndFreeblockStarts(page);
  const size_t columnCount = columns.size();
  std::vector<PagePerson> found;
  PersonHeader header;
  for (size_t i = firstAnchor; i != SIZE_MAX; i = NextPersonAnchor(page, i + 1)) {
    PagePerson person;
    person.headerStart = i - kHeaderSizeBack;
    auto live = liveByHeader.find(person.headerStart);
    person.live = live != liveByHeader.end();
    size_t cellStart = 0;
    Varint payload, rowid;
    if (ReadPersonHeader(page, i, columnCount, header)) {
      if (person.live) {
        person.rowid = live->second;
      } else if (FindPersonCellStart(page, header.headerStart, header.headerSize, header.bodySize,
                                     cellStart, payload, rowid)) {
        person.rowid = rowid.value;
      }
      person.anchor = person.rowid != 0;
    } else if (!person.live) {
      // A freeblock header took the cell's first four bytes: its payload
      // length, rowid, header size and the rowid column's NULL. The other
      // serial types follow, one per column.
      header.headerStart = person.headerStart;
      header.types.assign(1, 0);
      const size_t used =
          DecodeVarints(page.Sub(i - kRowidTypeBack + 1), columnCount - 1, header.types);
      header.headerSize = static_cast<uint64_t>(used) + 2;
      header.bodySize = 0;
      for (uint64_t t : header.types) header.bodySize += SerialTypeSize(t);
      if (!TypesFitColumns(header.types, columns)) continue;
    } else {
      continue;
    }
    const size_t end = header.headerStart + header.headerSize + header.bodySize;
    if (end > page.size()) continue;
    if (!person.live) {
      // A live cell or a freeblock beginning inside a freed record took its
      // bytes from there on.
      auto inside = std::upper_bound(starts.begin(), starts.end(), header.headerStart);
      if (inside != starts.end() && *inside < end) continue;
    }
    // A live record the caller has is still needed to infer its neighbours'
    // rowids, but not decoded or returned.
    person.known = person.live && known && known->count(person.rowid);
    if (!person.known)
      DecodeCarvedValues(page, header.headerStart + header.headerSize, header.types, columns, false,
                         0, person.row);
    if (!person.live && !HasCleanNames(person.row)) continue;
    found.push_back(std::move(person));
    i = end - 1;
  }
  // From the end of the page towards its start: rowids ascend. A page whose
  // known rowids (live cells, and records whose varints survived) do not has
  // had a freed record's space reused by a newer row, which may itself have
  // gone since: no rowid is inferred there.
  std::sort(found.begin(), found.end(),
            [](const PagePerson& a, const PagePerson& b) { return a.headerStart > b.headerStart; });
  uint64_t previous = 0;
  bool ordered = true;
  for (const PagePerson& person : found) {
    if (!person.anchor) continue;
    ordered = ordered && person.rowid > previous;
    previous = person.rowid;
  }
  size_t lastKnown = ordered ? SIZE_MAX : found.size();
  for (size_t k = 0; ordered && k < found.size(); ++k) {
    if (!found[k].anchor) continue;
    if (lastKnown != SIZE_MAX) {
      const uint64_t below = found[lastKnown].rowid, above = found[k].rowid;
      const size_t freed = k - lastKnown - 1;
      bool fits = freed > 0 && above > below && above - below - 1 == freed;
      for (size_t j = 1; j <= freed && fits; ++j) {
        const uint64_t known = found[lastKnown + j].rowid;
        fits = known == 0 || known == below + j;
      }
      for (size_t j = 1; j <= freed && fits; ++j) found[lastKnown + j].rowid = below + j;
    }
    lastKnown = k;
  }
  // A freed record below the cell content area lies in the unallocated gap
  // (it was freed at the area's start, DeletedBytes.h); any other, in a
  // freeblock.
  const PageRange gap = tree.GapByHeader();
  for (PagePerson& person : found) {
    // A freed record whose rowid is not known still names a deleted person;
    // its value 0 stays empty.
    if ((person.live && person.rowid == 0) || person.row.empty() || person.known) continue;
    person.row.at(0) = person.rowid == 0 ? std::string() : std::to_string(person.rowid);
    rows.push_back(std::move(person.row));
    if (!where) continue;
    const Place place = person.live                    ? Place::Unknown
                        : person.headerStart < gap.end ? Place::Gap
                                                       : Place::Freeblock;
    where->emplace_back(person.headerStart, place);
  }
}

}  // namespace

void PersonCarver(const SqliteFile& db, RowList& rows, FoundList* found) {
  const TableInfo* table = FindTable(db, "ABPerson");
  if (!table || table->columns.size() < kPersonFirstColumns) return;
  const PagePlaces places(db);
  std::vector<size_t> headers;
  PlacesOnPage onPage;
  const auto carve = [&](ByteView block, uint32_t pageNo) {
    headers.clear();
    onPage.clear();
    // A page that was a leaf of ABPerson (one the table gave back to the
    // freelist, or emptied) keeps its old image: its freed records are read
    // as on the table's own leaves, their rowids from the cells around them.
    if (block.size() >= kLeafHeaderSize && ParsePage(block).Is(PageType::LeafTable)) {
      CarvePersonsOnLeafPage(db, block, table->columns, rows, &onPage);
      for (const auto& [at, place] : onPage) headers.push_back(at);
    } else {
      CarvePersonRecords(block, table->columns, rows, &headers);
    }
    if (!found) return;
    for (size_t at : headers) found->push_back(places.At(pageNo, block, at));
  };
  WalkPagesOutsideTable(db, table, carve);
  WalkFileImagesOfLoggedLeaves(db, *table, carve);
  // The log's older images of any page, the table's own leaves included, and the
  // current images of pages that are not its live leaves.
  CarveLogFrames(db, *table, rows, found, carve);
}

void PersonCarverOnTablePages(const SqliteFile& db, RowList& rows, FoundList* found,
                              const std::unordered_set<uint64_t>* liveRowids) {
  const TableInfo* table = FindTable(db, "ABPerson");
  if (!table || table->columns.size() < kPersonFirstColumns) return;
  std::vector<uint8_t> page;
  PlacesOnPage places;
  for (const PageSet& pageSet : table->pageSets) {
    for (int32_t pageNo : pageSet.leafPages) {
      if (pageNo < 2 || ReadPageNumber(db, static_cast<uint32_t>(pageNo), page) != PageRead::Whole)
        continue;
      places.clear();
      CarvePersonsOnLeafPage(db, ByteView(page.data(), page.size()), table->columns, rows, &places,
                             liveRowids);
      if (!found) continue;
      for (const auto& [at, place] : places)
        found->push_back(FoundOnPage(db, static_cast<uint32_t>(pageNo), at, place));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Template carving of ABMultiValue leaf pages

size_t FindByte(ByteView block, size_t from, uint8_t value) {
  if (from >= block.size()) return SIZE_MAX;
  const void* at = std::memchr(block.data() + from, value, block.size() - from);
  return at == nullptr ? SIZE_MAX
                       : static_cast<size_t>(static_cast<const uint8_t*>(at) - block.data());
}

bool IsMultiValueProperty(int64_t code) {
  return code == 3 || code == 4 || code == 5 || code == 12 || code == 13 || code == 22 ||
         code == 23 || code == 46;
}

bool IsCleanCarvedText(ByteView bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] < 0x20 || bytes[i] == 0x7F) return false;
  }
  return IsValidUtf8(bytes.AsString());
}

bool IsPlausibleMultiValue(const RowValues& row) {
  constexpr int64_t kMaxRowid = int64_t{1} << 31;
  if (row.size() < 6 || row[5].empty()) return false;
  const int64_t person = TextToInt(row[1]);
  if (person < 1 || person >= kMaxRowid) return false;
  if (row[2].empty() || !IsMultiValueProperty(TextToInt(row[2]))) return false;
  const int64_t identifier = TextToInt(row[3]);
  if (identifier < 0 || identifier > 0xFFFF) return false;
  const int64_t label = TextToInt(row[4]);
  return row[4].empty() || (label >= 1 && label < kMaxRowid);
}

// ---------------------------------------------------------------------------------------------
// E-mail addresses outside the ABMultiValue leaves

namespace {

constexpr uint64_t kEmailProperty = 4;
// The shortest address, "a@b.c", and the longest whose text serial type is
// one varint byte (13 + 2 * 57 = 127): the shape is read one byte per type.
constexpr size_t kMinEmailLength = 5;
constexpr size_t kMaxEmailLength = 57;
constexpr size_t kMultiValueColumnsWithoutGuid = 6;

bool LooksLikeEmail(ByteView value) {
  if (value.size() < kMinEmailLength || !IsCleanCarvedText(value)) return false;
  const std::string_view text = value.AsString();
  const size_t at = text.find('@');
  return at != std::string_view::npos && at > 0 && at + 1 < text.size() &&
         text.find('@', at + 1) == std::string_view::npos &&
         text.find(' ') == std::string_view::npos;
}

bool IsSmallIntegerType(uint8_t type) {
  return type <= 6 || type == 8 || type == 9;
}

}  // namespace

void CarveEmailRecords(ByteView block, const std::vector<ColumnDef>& columns, RowList& rows,
                       std::vector<size_t>* headers) {
  const size_t columnCount = columns.size();
  if (columnCount < kMultiValueColumnsWithoutGuid) return;
  std::vector<uint64_t> types;
  // s is the value's serial type; the types of record_id, property,
  // identifier and label are the four bytes before it, the UID's NULL and the
  // header size the two before those.
  for (size_t s = 6; s < block.size(); ++s) {
    // The property's type (1) three bytes before s is the rarest of the tests.
    const size_t one = FindByte(block, s - 3, 1);
    if (one == SIZE_MAX) break;
    s = one + 3;
    if (s >= block.size()) break;
    const uint8_t t = block[s];
    if (t < 13 || t % 2 == 0 || t > 13 + 2 * kMaxEmailLength) continue;
    if (block[s - 3] != 1 || !IsSmallIntegerType(block[s - 4]) ||
        !IsSmallIntegerType(block[s - 2]) || !IsSmallIntegerType(block[s - 1]))
      continue;
    const size_t length = (t - 13) / 2;
    const uint64_t before = SerialTypeSize(block[s - 4]) + 1 + SerialTypeSize(block[s - 2]) +
                            SerialTypeSize(block[s - 1]);
    // Six columns: the body follows the value's type; seven: the guid's type
    // (NULL or text) comes first.
    for (size_t typesAfter : {size_t{0}, size_t{1}}) {
      if (typesAfter == 1) {
        if (columnCount <= kMultiValueColumnsWithoutGuid || s + 1 >= block.size()) continue;
        const uint8_t guid = block[s + 1];
        if (guid != 0 && (guid < 13 || guid % 2 == 0)) continue;
      }
      const size_t body = s + 1 + typesAfter;
      const size_t valueStart = body + before;
      if (!block.Contains(valueStart, length)) continue;
      if (block[valueStart - 1 - SerialTypeSize(block[s - 2]) - SerialTypeSize(block[s - 1])] !=
          kEmailProperty)
        continue;
      if (!LooksLikeEmail(block.Sub(valueStart, length))) continue;
      types.assign(1, 0);  // the UID column: NULL, it aliases the rowid
      for (size_t k = s - 4; k < body; ++k) types.push_back(block[k]);
      RowValues row;
      DecodeCarvedValues(block, body, types, columns, false, 0, row);
      if (!IsPlausibleMultiValue(row)) continue;
      rows.push_back(std::move(row));
      if (headers) headers->push_back(s - 6);
      s = valueStart + length - 1;
      break;
    }
  }
}

void EmailCarver(const SqliteFile& db, RowList& rows, FoundList* found) {
  const TableInfo* table = FindTable(db, "ABMultiValue");
  if (!table) return;
  const PagePlaces places(db);
  std::vector<size_t> headers;
  const auto carve = [&](ByteView block, uint32_t pageNo) {
    headers.clear();
    CarveEmailRecords(block, table->columns, rows, &headers);
    if (!found) return;
    for (size_t at : headers) found->push_back(places.At(pageNo, block, at));
  };
  WalkPagesOutsideTable(db, table, carve);
  WalkFileImagesOfLoggedLeaves(db, *table, carve);
  // The log's older images of any page, the table's own leaves included, and the
  // current images of pages that are not its live leaves.
  CarveLogFrames(db, *table, rows, found, carve);
}

namespace {

constexpr size_t kMaxStalePointers = 100;
constexpr size_t kCellPointerArray = 8;  // leaf page header size

// The shape of the template cell: lengths of its leading varints and its first
// serial type, which every carved record on the page is taken to share.
struct CellTemplate {
  size_t payloadVarint = 0;    // length of the payload-length varint
  size_t rowidVarint = 0;      // length of the rowid varint
  size_t headerVarint = 0;     // length of the header-size varint
  uint64_t headerSize = 0;     // the record header's size, its own varint included
  uint64_t firstType = 0;      // the first serial type
  size_t firstTypeLength = 0;  // length of the first serial type's varint
  size_t typeCount = 0;        // serial types in the template's header
};

class MultiValueRegionCarver {
 public:
  MultiValueRegionCarver(const CellTemplate& shape, const std::vector<ColumnDef>& columns,
                         RowList& carved, FoundList* found)
      : shape_(shape),
        columns_(columns),
        carved_(carved),
        found_(found),
        headerLength_(shape.headerSize) {}

  uint64_t HeaderLength() const { return headerLength_; }

  bool TypesFitColumns(const std::vector<uint64_t>& types) const {
    return vantrel::TypesFitColumns(types, columns_);
  }

  // Carves the records of one region. gapRegion: the unallocated gap, whose
  // last record must leave room after its body start; freeblocks may end flush.
  // where: the region's first byte, for the found list.
  void Carve(ByteView region, bool gapRegion, const FoundAt& where) {
    const size_t regionLength = region.size();
    // Offsets in a record shaped like the template: the record header after
    // the two cell varints, the types after the first one.
    const size_t prefix = shape_.payloadVarint + shape_.rowidVarint;
    const size_t headerAt = prefix + shape_.headerVarint;
    const size_t typesAt = headerAt + shape_.firstTypeLength;
    const size_t typesWanted = shape_.typeCount > 0 ? shape_.typeCount - 1 : 0;
    size_t o = 0;
    std::vector<uint64_t> types;
    // Each record moves o forward by at least its header, so this ends.
    while (o < regionLength) {
      // The freed cell's own UID NULL where the template's types begin: the
      // cell's rowid took one byte more than the template's.
      if (region[o + typesAt] == 0) ++o;
      types.clear();
      types.push_back(shape_.firstType);
      size_t used = DecodeVarints(region.Sub(o + typesAt), typesWanted, types);
      // The other way round: the template's rowid (or payload length) took
      // more bytes than the freed cell's, so its types begin one byte earlier.
      size_t back = 0;
      if (!TypesFitColumns(types) && (shape_.rowidVarint > 1 || shape_.payloadVarint > 1)) {
        std::vector<uint64_t> earlier{shape_.firstType};
        const size_t earlierUsed = DecodeVarints(region.Sub(o + typesAt - 1), typesWanted, earlier);
        if (TypesFitColumns(earlier)) {
          types.swap(earlier);
          used = earlierUsed;
          back = 1;
        }
      }
      const size_t recordHeader = used + shape_.firstTypeLength + shape_.headerVarint;
      headerLength_ = recordHeader;
      size_t b = o + prefix + recordHeader - back;
      const size_t endTest = b + headerAt + recordHeader;
      if (gapRegion ? endTest >= regionLength : endTest > regionLength) return;
      RowValues row;
      const size_t count = std::min(types.size(), columns_.size());
      row.reserve(count);
      for (size_t k = 0; k < count && b < regionLength; ++k) {
        const uint64_t type = types[k];
        const ColumnDef& column = columns_[k];
        std::string value;
        const uint64_t size = SerialTypeSize(type);
        if (type == 0 || type == 8 || type == 9) {
          RenderValue(type, ByteView(), column, true, 0, value);
          row.push_back(std::move(value));
          continue;
        }
        if (size >= kCarveValueBuffer || b + size > regionLength) {
          // The region ends inside the value: a newer cell took the space
          // after it, so what is left is the start of a number, not a
          // number. The record ends without it.
          b = regionLength;
          break;
        }
        const ByteView content = region.Sub(b, size);
        if (IsTextColumn(column) && !IsCleanCarvedText(content)) {
          // A number, an address or a guid holds neither control characters
          // nor broken UTF-8: a freeblock header or a newer cell overwrote
          // part of this one. The record ends without it.
          b = regionLength;
          break;
        }
        RenderValue(type, content, column, true, 0, value);
        row.push_back(std::move(value));
        b += size;
      }
      // Bytes that do not decode as serial types these columns can hold are
      // no multi-value: nothing of them is kept.
      if (TypesFitColumns(types) && IsPlausibleMultiValue(row)) {
        carved_.push_back(std::move(row));
        if (found_) {
          found_->push_back(where);
          found_->back().offset += o;
        }
      }
      if (b >= regionLength || b <= o) return;
      o = b;
    }
  }

 private:
  const CellTemplate& shape_;
  const std::vector<ColumnDef>& columns_;
  RowList& carved_;
  FoundList* found_;
  uint64_t headerLength_;  // the header length of the last record carved
};

}  // namespace

void CarveMultiValuePage(const SqliteFile& db, const LeafPage& page,
                         const std::vector<ColumnDef>& columns, RowList& carved, FoundList* found) {
  // The whole image, reserved bytes included: this carver has always read
  // its freeblocks up to the page's end.
  const BTreePage tree = ParsePage(page.tree.bytes);
  const ByteView bytes = tree.bytes;
  const size_t pageSize = bytes.size();
  if (columns.empty() || pageSize <= kCellPointerArray) return;
  if (page.liveOffsets.empty()) {
    // A page that lost every row has no cell to copy a shape from: the row
    // reader's carving by the table's columns reads it, and only rows that
    // can be multi-values are kept.
    RowList rows;
    FoundList where;
    TemplateCarvePage(db, page, columns, rows, &where);
    for (size_t k = 0; k < rows.size(); ++k) {
      if (!IsPlausibleMultiValue(rows[k])) continue;
      carved.push_back(std::move(rows[k]));
      if (found) found->push_back(std::move(where[k]));
    }
    return;
  }

  // Stale cell pointers: the array as it stood before cells were dropped.
  std::vector<uint16_t> pointers;
  for (size_t k = 0; k < kMaxStalePointers; ++k) {
    if (kCellPointerArray + 2 * k + 2 > pageSize) break;
    const uint16_t v = tree.CellPointer(k);
    if (v == 0 || v >= pageSize || v <= 16) break;
    pointers.push_back(v);
  }
  std::vector<uint16_t> live = page.liveOffsets;
  std::sort(live.begin(), live.end());
  const uint16_t lowestLive = live.front();
  const uint16_t firstFreeblock = tree.firstFreeblock;
  const uint16_t templateOffset = NearestLiveCell(live, firstFreeblock);
  if (templateOffset >= pageSize) return;

  const bool haveGap =
      !pointers.empty() && *std::min_element(pointers.begin(), pointers.end()) < lowestLive;
  const uint16_t gapStart = haveGap ? *std::min_element(pointers.begin(), pointers.end()) : 0;
  const bool haveFreeblocks = firstFreeblock != 0 && firstFreeblock < pageSize;
  if (!haveGap && !haveFreeblocks) return;

  CellTemplate shape;
  const ByteView cell = bytes.Sub(templateOffset);
  Varint v = ReadVarint(cell.Sub(0, 9));
  shape.payloadVarint = static_cast<size_t>(v.length);
  v = ReadVarint(cell.Sub(shape.payloadVarint, 9));
  shape.rowidVarint = static_cast<size_t>(v.length);
  v = ReadVarint(cell.Sub(shape.payloadVarint + shape.rowidVarint, 9));
  shape.headerVarint = static_cast<size_t>(v.length);
  shape.headerSize = v.value;
  const size_t typesStart = shape.payloadVarint + shape.rowidVarint + shape.headerVarint;
  v = ReadVarint(cell.Sub(typesStart, 9));
  shape.firstType = v.value;
  shape.firstTypeLength = static_cast<size_t>(v.length);
  if (shape.headerVarint == 0 || shape.firstTypeLength == 0 ||
      shape.headerSize <= shape.headerVarint)
    return;
  // The template's own column count (six on iOS 6, seven on iOS 7), never
  // more than the table declares.
  std::vector<uint64_t> templateTypes;
  const uint64_t typeBytes = (shape.headerSize - shape.headerVarint) % 256;
  if (typeBytes > 0) {
    SplitSerialTypes(cell.Sub(typesStart), typeBytes, templateTypes);
  }
  shape.typeCount = std::min(templateTypes.size(), columns.size());
  if (shape.typeCount == 0) shape.typeCount = columns.size();

  MultiValueRegionCarver carver(shape, columns, carved, found);
  const size_t prefix = shape.payloadVarint + shape.rowidVarint;
  const uint32_t pageNo = static_cast<uint32_t>(page.pageNo);
  if (haveGap) {
    const size_t length = lowestLive - gapStart;
    if (length > prefix + carver.HeaderLength())
      carver.Carve(bytes.Sub(gapStart, length), true,
                   FoundOnPage(db, pageNo, gapStart, Place::Gap));
  }
  tree.ForEachFreeblock(kCellPointerArray, [&](Freeblock f) {
    const size_t length = f.end - f.offset;
    if (length > prefix + carver.HeaderLength())
      carver.Carve(bytes.Sub(f.offset, length), false,
                   FoundOnPage(db, pageNo, f.offset, Place::Freeblock));
  });
}

}  // namespace vantrel
