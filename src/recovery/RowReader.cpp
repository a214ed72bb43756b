#include "recovery/RowReader.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "platform/Text.h"

namespace vantrel {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

bool ContainsNoCase(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) return false;
  for (size_t i = 0; i + word.size() <= text.size(); ++i)
    if (EqualsNoCase(text.substr(i, word.size()), word)) return true;
  return false;
}

bool IsIntegerColumn(const ColumnDef& column) {
  return EqualsNoCase(column.type, "integer");
}

// An INTEGER PRIMARY KEY column holds the rowid itself; its record stores NULL.
bool IsRowidAlias(const ColumnDef& column) {
  return IsIntegerColumn(column) && ContainsNoCase(column.constraint, "primary key");
}

bool IsTextColumn(const ColumnDef& column) {
  return EqualsNoCase(column.type, "text");
}

// The content bytes as one big-endian two's-complement integer.
int64_t BigEndianInteger(ByteView content) {
  if (content.empty()) return 0;
  uint64_t value = (content[0] & 0x80) ? ~uint64_t{0} : 0;
  for (size_t i = 0; i < content.size(); ++i) value = (value << 8) | content[i];
  return static_cast<int64_t>(value);
}

void AppendInteger(int64_t value, std::string& out) {
  char text[32];
  std::snprintf(text, sizeof text, "%" PRId64, value);
  out += text;
}

// A floating-point value as SQLite prints it: 15 significant digits, and a
// whole number keeps a ".0" so that it still reads as a real.
void AppendReal(double value, std::string& out) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", value);
  out += text;
  if (std::strpbrk(text, ".eEni") == nullptr) out += ".0";
}

double RealFromBytes(ByteView content) {
  uint64_t bits = 0;
  for (size_t i = 0; i < 8; ++i) bits = (bits << 8) | content[i];
  double value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// A column whose declared type gives it REAL affinity ("REAL", "FLOAT", "DOUBLE"; no "INT",
// no text word). SQLite stores whole numbers of such a column as integers and turns them
// back into reals on reading, so they are shown as reals here too.
bool HasRealAffinity(const ColumnDef& column) {
  const std::string& t = column.type;
  if (ContainsNoCase(t, "int") || ContainsNoCase(t, "char") || ContainsNoCase(t, "clob") ||
      ContainsNoCase(t, "text"))
    return false;
  return ContainsNoCase(t, "real") || ContainsNoCase(t, "floa") || ContainsNoCase(t, "doub");
}

}  // namespace

void RenderValue(uint64_t serialType, ByteView content, const ColumnDef& column, bool carved,
                 uint64_t rowid, std::string& out) {
  out.clear();
  if (serialType == 0) {
    if (!carved && IsRowidAlias(column)) AppendInteger(static_cast<int64_t>(rowid), out);
    return;
  }
  if (serialType >= 1 && serialType <= 9 && serialType != 7) {
    const int64_t value = serialType == 8 ? 0 : serialType == 9 ? 1 : BigEndianInteger(content);
    if (HasRealAffinity(column)) {
      AppendReal(static_cast<double>(value), out);
    } else {
      AppendInteger(value, out);
    }
    return;
  }
  if (serialType == 7) {
    if (IsIntegerColumn(column) && content.size() < 8) {
      AppendInteger(BigEndianInteger(content), out);
    } else {
      AppendReal(RealFromBytes(content), out);
    }
    return;
  }
  if (serialType >= 12 && (serialType & 1) == 0 && IsIntegerColumn(column)) {
    // A blob where a number was declared: its bytes as one number.
    AppendInteger(BigEndianInteger(content), out);
    return;
  }
  // Text, or a blob in a text column: the bytes as UTF-8 up to the first zero.
  AppendNormalisedUtf8(content.AsString(), out);
}

void ReadLiveCells(const SqliteFile& db, const LeafPage& page,
                   const std::vector<ColumnDef>& columns, RowList& live) {
  for (uint16_t offset : page.liveOffsets) {
    CellPayload cell;
    RecordHeader header;
    // A damaged cell is skipped; every other cell of the page is still read.
    if (!AssembleCellPayload(db, page.bytes, offset, cell)) continue;
    if (!DecodeRecordHeader(cell, header)) continue;
    if (header.serialTypes.size() > columns.size()) continue;
    RowValues row;
    row.reserve(header.serialTypes.size());
    size_t at = header.bodyOffset;
    for (size_t i = 0; i < header.serialTypes.size(); ++i) {
      const uint64_t size = SerialTypeSize(header.serialTypes[i]);
      // A value is cut where the cell's bytes end, whatever its type claims.
      ByteView content = cell.bytes.Sub(at, size);
      std::string value;
      RenderValue(header.serialTypes[i], content, columns[i], false, cell.rowid, value);
      row.push_back(std::move(value));
      at = size > cell.bytes.size() ? cell.bytes.size() + 1 : at + static_cast<size_t>(size);
    }
    live.push_back(std::move(row));
  }
}

namespace {

// The varint lengths and first serial type of the live cell the carver takes
// as the shape of the deleted records on its page.
struct Template {
  size_t l1 = 0;  // payload-length varint
  size_t l2 = 0;  // rowid varint
  size_t l3 = 0;  // record-header-size varint
  size_t l4 = 0;  // first serial type varint
  uint64_t headerSize = 0;
  uint64_t firstType = 0;
};

Template ReadTemplate(ByteView page, uint16_t offset) {
  Template t;
  ByteView cell = page.Sub(offset);
  uint64_t value = 0;
  int length = 0;
  DecodeVarint(cell, value, length);
  t.l1 = length;
  DecodeVarint(cell.Sub(t.l1), value, length);
  t.l2 = length;
  DecodeVarint(cell.Sub(t.l1 + t.l2), t.headerSize, length);
  t.l3 = length;
  DecodeVarint(cell.Sub(t.l1 + t.l2 + t.l3), t.firstType, length);
  t.l4 = length;
  return t;
}

// The live cell nearest the first freeblock: deleted records there were most
// likely written with the same shape.
uint16_t ChooseTemplate(const std::vector<uint16_t>& sorted, uint16_t firstFreeblock) {
  auto above = std::upper_bound(sorted.begin(), sorted.end(), firstFreeblock);
  if (above == sorted.end()) return sorted.back();
  if (above == sorted.begin()) return *above;
  const uint16_t upper = *above;
  const uint16_t lower = *(above - 1);
  return upper - firstFreeblock <= firstFreeblock - lower ? upper : lower;
}

// Carves the records of one free region laid out as the template describes.
// `inclusiveEnd`: the unallocated gap stops at a record whose end test reaches
// the region's length; a freeblock only when it passes it.
void CarveRegion(ByteView region, const Template& t, const std::vector<ColumnDef>& columns,
                 bool inclusiveEnd, uint64_t& lastHeader, RowList& carved) {
  const size_t r = region.size();
  const size_t p = t.l1 + t.l2;
  const size_t q = p + t.l3;
  size_t o = 0;
  while (o < r) {
    std::vector<uint64_t> types{t.firstType};
    const int used = columns.empty() ? 0
                                     : SplitVarints(region.Sub(o + q + t.l4), 0, types,
                                                    static_cast<int>(columns.size()) - 1);
    const size_t hc = static_cast<size_t>(used) + t.l4 + t.l3;
    lastHeader = hc;
    size_t b = o + p + hc;
    const size_t endTest = b + q + hc;
    if (inclusiveEnd ? endTest >= r : endTest > r) return;
    RowValues row;
    for (size_t i = 0; i < types.size() && i < columns.size() && b < r; ++i) {
      uint64_t size = SerialTypeSize(types[i]);
      if (size > r - b) {
        if (!IsTextColumn(columns[i])) {
          b = r + 1;
          break;
        }
        size = r - b;  // a text value is cut where its region ends
      }
      std::string value;
      RenderValue(types[i], region.Sub(b, size), columns[i], true, 0, value);
      row.push_back(std::move(value));
      b += static_cast<size_t>(size);
    }
    carved.push_back(std::move(row));
    if (b >= r || b <= o) return;
    o = b;
  }
}

}  // namespace

void TemplateCarvePage(const SqliteFile& db, const LeafPage& page,
                       const std::vector<ColumnDef>& columns, RowList& carved) {
  const ByteView bytes = page.bytes;
  const size_t u = bytes.size();
  if (page.liveOffsets.empty() || u == 0 || page.pageNo == 1) return;

  // Stale cell pointers: entries past the live pointer array still name where
  // deleted cells began; the lowest of them starts the unallocated gap.
  bool haveGap = false;
  uint16_t g0 = 0;
  for (size_t i = 0; i < 100; ++i) {
    const uint16_t entry = bytes.U16(8 + 2 * i);
    if (entry == 0 || entry >= u || entry <= 16) break;
    if (!haveGap || entry < g0) g0 = entry;
    haveGap = true;
  }

  std::vector<uint16_t> sorted = page.liveOffsets;
  std::sort(sorted.begin(), sorted.end());
  const uint16_t a0 = sorted.front();
  const uint16_t f0 = page.firstFreeblock;
  const uint16_t templateOffset = ChooseTemplate(sorted, f0);
  if (templateOffset >= u) return;
  const bool gapBelowCells = haveGap && g0 < a0;
  if (!((f0 != 0 && f0 < u) || gapBelowCells)) return;

  const Template t = ReadTemplate(bytes, templateOffset);
  const size_t p = t.l1 + t.l2;
  uint64_t d = t.headerSize;

  if (gapBelowCells) {
    const size_t r = a0 - g0;
    if (r > p + d) CarveRegion(bytes.Sub(g0, r), t, columns, true, d, carved);
  }

  // The freeblock chain, each block visited once whatever its links say.
  std::unordered_set<uint16_t> seen;
  uint16_t f = f0;
  while (f != 0 && f >= 8 && f < u && seen.insert(f).second) {
    const uint16_t next = bytes.U16(f);
    const size_t r = std::min<size_t>(bytes.U16(f + 2), u - f);
    if (r > p + d) CarveRegion(bytes.Sub(f, r), t, columns, false, d, carved);
    f = next;
  }
}

int ReadPageSetRows(const SqliteFile& db, const PageSet& pageSet, RowList& live, RowList& carved,
                    const std::vector<ColumnDef>& columns, const CarveStep& carve) {
  std::vector<uint8_t> buffer;
  for (int32_t pageNo : pageSet.leafPages) {
    if (pageNo < 1) continue;
    ReadPageNumber(db, static_cast<uint32_t>(pageNo), buffer);
    LeafPage page;
    page.pageNo = pageNo;
    page.bytes = ByteView(buffer.data(), buffer.size());
    const uint32_t h = pageNo == 1 ? 100 : 0;
    if (page.bytes[h] != 13) continue;  // not a table leaf (a zero page, or damage)
    page.firstFreeblock = page.bytes.U16(h + 1);
    ReadCellPointers(page.bytes, page.liveOffsets, db, pageNo == 1);
    ReadLiveCells(db, page, columns, live);
    if (carve) carve(db, page, columns, carved);
  }
  return 0;
}

int ReadTable(const SqliteFile& db, const std::string& name, RowList& live, RowList& carved,
              const CarveStep& carve) {
  const TableInfo* table = FindTable(db, name);
  if (table == nullptr) return -2;
  for (const PageSet& set : table->pageSets) {
    const std::vector<ColumnDef> columns = table->columns;
    ReadPageSetRows(db, set, live, carved, columns, carve);
  }
  return 0;
}

int64_t TextToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) break;  // too long: keep what fits
    value = value * 10 + digit;
  }
  return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
}

}  // namespace vantrel
