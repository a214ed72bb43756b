#include "recovery/RowReader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "platform/Text.h"
#include "recovery/ColumnRules.h"
#include "recovery/FreePages.h"
#include "recovery/PageWalk.h"
#include "sqlite/WalIndex.h"

namespace vantrel {

namespace {

void AppendInteger(int64_t value, std::string& out) {
  char text[24];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, end);
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

// TextToInt of what RenderValue gives, when it can be had without the text: a
// stored integer outside a REAL column (written in decimal, read back as it
// was), the rowid a live alias NULL stands for, or 0 for any other NULL ("").
// False for text, blobs and reals, which are rendered and read.
bool PlainInteger(uint64_t serialType, ByteView content, const ValueRules& rules, bool carved,
                  uint64_t rowid, int64_t& value) {
  if (serialType == 0) {
    value = !carved && rules.rowidAlias ? static_cast<int64_t>(rowid) : 0;
    return true;
  }
  if (serialType > 9 || serialType == 7 || rules.realAffinity) return false;
  value = serialType == 8 ? 0 : serialType == 9 ? 1 : BigEndianInteger(content);
  return true;
}

}  // namespace

ValueRules ValueRules::Of(const ColumnDef& column) {
  ValueRules rules;
  rules.rowidAlias = IsRowidAlias(column);
  rules.realAffinity = AffinityOf(column.type) == Affinity::Real;
  rules.integerWord = DeclaredWordOf(column) == DeclaredWord::Integer;
  return rules;
}

std::vector<ValueRules> ValueRulesOf(const std::vector<ColumnDef>& columns) {
  std::vector<ValueRules> rules;
  rules.reserve(columns.size());
  for (const ColumnDef& column : columns) rules.push_back(ValueRules::Of(column));
  return rules;
}

namespace {

// A column's rules asked of its declaration only when a value needs them: the
// carvers render few values of a column and pass the declaration itself.
struct DeclaredRules {
  const ColumnDef& column;
  bool rowidAlias() const { return IsRowidAlias(column); }
  bool realAffinity() const { return AffinityOf(column.type) == Affinity::Real; }
  bool integerWord() const { return DeclaredWordOf(column) == DeclaredWord::Integer; }
};
struct KnownRules {
  const ValueRules& rules;
  bool rowidAlias() const { return rules.rowidAlias; }
  bool realAffinity() const { return rules.realAffinity; }
  bool integerWord() const { return rules.integerWord; }
};

// The one place the rendering rules are written (RowReader.h).
template <typename Rules>
void Render(uint64_t serialType, ByteView content, const Rules& rules, bool carved, uint64_t rowid,
            std::string& out) {
  out.clear();
  if (serialType == 0) {
    if (!carved && rules.rowidAlias()) AppendInteger(static_cast<int64_t>(rowid), out);
    return;
  }
  if (serialType >= 1 && serialType <= 9 && serialType != 7) {
    const int64_t value = serialType == 8 ? 0 : serialType == 9 ? 1 : BigEndianInteger(content);
    // SQLite stores whole numbers of a REAL column as integers and turns them
    // back into reals on reading, so they are shown as reals here too.
    if (rules.realAffinity()) {
      AppendReal(static_cast<double>(value), out);
    } else {
      AppendInteger(value, out);
    }
    return;
  }
  if (serialType == 7) {
    if (rules.integerWord() && content.size() < 8) {
      AppendInteger(BigEndianInteger(content), out);
    } else {
      AppendReal(RealFromBytes(content), out);
    }
    return;
  }
  if (serialType >= 12 && (serialType & 1) == 0 && rules.integerWord()) {
    // A blob where a number was declared: its bytes as one number.
    AppendInteger(BigEndianInteger(content), out);
    return;
  }
  // Text, or a blob in a text column: the bytes as UTF-8 up to the first zero.
  AppendNormalisedUtf8(content.AsString(), out);
}

}  // namespace

void RenderValue(uint64_t serialType, ByteView content, const ColumnDef& column, bool carved,
                 uint64_t rowid, std::string& out) {
  Render(serialType, content, DeclaredRules{column}, carved, rowid, out);
}

void RenderValue(uint64_t serialType, ByteView content, const ValueRules& rules, bool carved,
                 uint64_t rowid, std::string& out) {
  Render(serialType, content, KnownRules{rules}, carved, rowid, out);
}

bool RendersEmpty(uint64_t serialType, ByteView content, const ValueRules& rules, bool carved) {
  // The branches of RenderValue, in its order: only a NULL that stands for
  // no rowid and text cut at a first zero byte give nothing; a number (an
  // integer, a real, a blob read as one) always has a digit, and normalising
  // UTF-8 keeps a character, or its replacement, for every leading byte.
  if (serialType == 0) return carved || !rules.rowidAlias;
  if (serialType <= 9) return false;
  if (serialType >= 12 && (serialType & 1) == 0 && rules.integerWord) return false;
  return content.empty() || content[0] == 0;
}

int64_t RenderedInteger(uint64_t serialType, ByteView content, const ValueRules& rules, bool carved,
                        uint64_t rowid) {
  int64_t value = 0;
  if (PlainInteger(serialType, content, rules, carved, rowid, value)) return value;
  std::string text;
  RenderValue(serialType, content, rules, carved, rowid, text);
  return TextToInt(text);
}

void VisitLiveCells(const SqliteFile& db, const LeafPage& page,
                    const std::vector<ColumnDef>& columns, const std::vector<bool>& wanted,
                    RowValues& row, const LiveRowVisitor& visit) {
  CellPayload cell;
  RecordHeader header;
  const std::vector<ValueRules> rules = ValueRulesOf(columns);
  for (uint16_t offset : page.liveOffsets) {
    // A damaged cell is skipped and counted; every other cell of the page is still read.
    if (!AssembleCellPayload(db, page.tree.bytes, offset, cell) ||
        !DecodeRecordHeader(cell, header) || header.serialTypes.size() > columns.size()) {
      CountDamagedCell(db);
      continue;
    }
    if (cell.chainBroken) CountDamagedPage(db);
    row.resize(header.serialTypes.size());
    size_t at = header.bodyOffset;
    for (size_t i = 0; i < header.serialTypes.size(); ++i) {
      const uint64_t size = SerialTypeSize(header.serialTypes[i]);
      // A value is cut where the cell's bytes end, whatever its type claims.
      if (wanted.empty() || (i < wanted.size() && wanted[i])) {
        RenderValue(header.serialTypes[i], cell.bytes.Sub(at, size), rules[i], false, cell.rowid,
                    row[i]);
      } else {
        row[i].clear();
      }
      at = size > cell.bytes.size() ? cell.bytes.size() + 1 : at + static_cast<size_t>(size);
    }
    visit(row, cell.rowid);
  }
}

namespace {

// SerialTypeSize by a table rather than its switch, which compiles to a jump
// per value: the loop below runs over every value of every live row.
constexpr uint8_t kFixedSize[12] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};
constexpr uint64_t ContentSize(uint64_t serialType) {
  return serialType >= 12 ? (serialType - 12) / 2 : kFixedSize[serialType];
}

// ContentSize of the one-byte serial types 0 to 127.
constexpr std::array<uint8_t, 128> kOneByteSize = [] {
  std::array<uint8_t, 128> sizes{};
  for (uint64_t type = 0; type < 128; ++type) sizes[type] = static_cast<uint8_t>(ContentSize(type));
  return sizes;
}();

}  // namespace

bool LiveCell::Start(const std::vector<ValueRules>& rules) {
  // DecodeRecordHeader's reading and checks, with the values' starts worked
  // out in the same pass over the serial types: a wide table's row has
  // dozens, and this runs for every live row.
  const ByteView bytes = payload_.bytes;
  const size_t start =
      static_cast<size_t>(payload_.lengthOfPayloadVarint) + payload_.lengthOfRowidVarint;
  uint64_t headerSize = 0;
  int l3 = 0;
  DecodeVarint(bytes.Sub(start), headerSize, l3);
  if (l3 == 0 || headerSize < 2 || headerSize < static_cast<uint64_t>(l3) ||
      headerSize > payload_.payloadLength)
    return false;
  const ByteView header = bytes.Sub(start + l3, static_cast<size_t>(headerSize - l3));
  const size_t most = rules.size();
  if (types_.size() < most) {
    types_.resize(most);
    starts_.resize(most);
  }
  // A value is cut where the cell's bytes end, whatever its type claims:
  // every value from there on is empty, so its start is held at one past the
  // end (which also keeps a huge claimed size from wrapping round).
  const uint64_t past = uint64_t{bytes.size()} + 1;
  uint64_t at = start + static_cast<size_t>(headerSize);
  // Locals, not members, in the loop: what the stores below write could
  // otherwise be any member, and every one would be read again each time.
  const uint8_t* in = header.data();
  uint64_t* types = types_.data();
  uint64_t* starts = starts_.data();
  const size_t size = header.size();
  size_t count = 0;
  size_t pos = 0;
  while (pos < size) {
    // Most serial types are one byte (NULL, the small integers, short text):
    // a run of them is taken by table, each byte one type, for as many as
    // the table has columns left.
    const size_t stop = pos + std::min(size - pos, most - count);
    while (pos < stop && in[pos] < 0x80) {
      const uint8_t type = in[pos++];
      types[count] = type;
      starts[count] = at;
      ++count;
      at = std::min(at + kOneByteSize[type], past);
    }
    if (pos == size) break;
    // A longer varint, or a byte beyond the last column.
    uint64_t type = 0;
    int length = 0;
    DecodeVarint(header.Sub(pos), type, length);
    if (length == 0) break;           // the varint runs past the header: dropped
    if (count == most) return false;  // more values than the table has columns
    types[count] = type;
    starts[count] = at;
    ++count;
    at = std::min(at + ContentSize(type), past);
    pos += static_cast<size_t>(length);
  }
  count_ = count;

  rules_ = &rules;
  if (texts_.size() < most) {
    texts_.resize(most);
    stamps_.resize(most, 0);
  }
  // Stamp 0 marks a text never rendered; on wrapping round every text is.
  if (++stamp_ == 0) {
    std::fill(stamps_.begin(), stamps_.end(), 0);
    stamp_ = 1;
  }
  return true;
}

ByteView LiveCell::Content(size_t i) const {
  return payload_.bytes.Sub(static_cast<size_t>(starts_[i]), ContentSize(types_[i]));
}

const std::string& LiveCell::Text(size_t i) const {
  if (stamps_[i] != stamp_) {
    RenderValue(SerialType(i), Content(i), (*rules_)[i], false, rowid(), texts_[i]);
    stamps_[i] = stamp_;
  }
  return texts_[i];
}

void LiveCell::TextInto(size_t i, std::string& out) const {
  if (stamps_[i] == stamp_) {
    out = texts_[i];
  } else {
    RenderValue(SerialType(i), Content(i), (*rules_)[i], false, rowid(), out);
  }
}

bool LiveCell::Empty(size_t i) const {
  if (stamps_[i] == stamp_) return texts_[i].empty();
  return RendersEmpty(SerialType(i), Content(i), (*rules_)[i], false);
}

int64_t LiveCell::Integer(size_t i) const {
  int64_t value = 0;
  if (PlainInteger(SerialType(i), Content(i), (*rules_)[i], false, rowid(), value)) return value;
  return TextToInt(Text(i));
}

void VisitLiveCellValues(const SqliteFile& db, const LeafPage& page,
                         const std::vector<ValueRules>& rules, LiveCell& cell,
                         const std::function<void(const LiveCell& cell)>& visit) {
  for (uint16_t offset : page.liveOffsets) {
    // Skipped and counted as VisitLiveCells does.
    if (!AssembleCellPayload(db, page.tree.bytes, offset, cell.payload_) || !cell.Start(rules)) {
      CountDamagedCell(db);
      continue;
    }
    if (cell.payload_.chainBroken) CountDamagedPage(db);
    visit(cell);
  }
}

void ReadLiveCells(const SqliteFile& db, const LeafPage& page,
                   const std::vector<ColumnDef>& columns, RowList& live) {
  RowValues row;
  VisitLiveCells(db, page, columns, {}, row,
                 [&](const RowValues& values, uint64_t) { live.push_back(values); });
}

namespace {

// The shape of the live cell nearest the first freeblock: deleted records there were most
// likely written with the same varint lengths and first serial type.
struct Template {
  size_t l1 = 0;  // payload-length varint
  size_t l2 = 0;  // rowid varint
  size_t l3 = 0;  // record-header-size varint
  size_t l4 = 0;  // first serial type varint
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
  DecodeVarint(cell.Sub(t.l1 + t.l2), value, length);
  t.l3 = length;
  DecodeVarint(cell.Sub(t.l1 + t.l2 + t.l3), t.firstType, length);
  t.l4 = length;
  return t;
}

}  // namespace

uint16_t NearestLiveCell(const std::vector<uint16_t>& sorted, uint16_t firstFreeblock) {
  auto above = std::upper_bound(sorted.begin(), sorted.end(), firstFreeblock);
  if (above == sorted.end()) return sorted.back();
  if (above == sorted.begin()) return *above;
  const uint16_t upper = *above;
  const uint16_t lower = *(above - 1);
  return upper - firstFreeblock <= firstFreeblock - lower ? upper : lower;
}

namespace {

int VarintLength(uint64_t v) {
  int n = 1;
  while (v >= 0x80 && n < 9) {
    v >>= 7;
    ++n;
  }
  return n;
}

// One deleted record found on the page: where its cell ends and its values.
struct Carved {
  size_t end = 0;
  RowValues row;
  bool full = false;     // holds a value for every column of the table
  bool intact = false;   // its own varints agree with its values
  bool partial = false;  // runs past its region; only its head was read
};

class PageCarver {
 public:
  PageCarver(const SqliteFile& db, const LeafPage& page, const std::vector<ColumnDef>& columns)
      : db_(db), page_(page.tree.bytes), columns_(columns) {
    pageNo_ = static_cast<uint32_t>(page.pageNo);
    usable_ = page.tree.usableSize;
    for (const ColumnDef& c : columns) affinity_.push_back(AffinityOf(c.type));
    aliasFirst_ = !columns.empty() && IsRowidAlias(columns[0]);
    live_.insert(page.liveOffsets.begin(), page.liveOffsets.end());
  }

  void SetTemplate(const Template& t) { template_ = t; }
  void AddBoundary(size_t offset) { boundaries_.insert(offset); }
  // An offset where a cell may have begun whose first bytes something else took (the pointer
  // array growing over the gap): its record is tried with them reconstructed, and kept only
  // when it has every column and ends where something known begins.
  void AddHeadLost(size_t offset) { headLost_.insert(offset); }

  // Reads every record of the free region [start, end). A freeblock's first four bytes (and
  // those of any freed cell merged into it) were overwritten by freeblock headers, so at a
  // known cell start the record is also tried with its varints reconstructed; Choose picks
  // among the layouts a record start allows.
  void CarveRegion(size_t start, size_t end, bool startsAtCell, Place place, RowList& carved,
                   FoundList* found) {
    end = std::min(end, usable_);
    regionEnd_ = end;
    reachesBoundary_.clear();
    size_t s = start;
    bool atBoundary = startsAtCell;
    while (s + 3 <= end) {
      const bool boundary = atBoundary || boundaries_.count(s) != 0;
      std::vector<Carved> candidates;
      const size_t staleSize = boundary ? 0 : StaleFreeblockSize(s);
      const bool headLost = !boundary && staleSize == 0 && headLost_.count(s) != 0;
      CandidatesAt(s, boundary || staleSize != 0 || headLost, candidates);
      if (headLost) {
        std::erase_if(candidates, [&](const Carved& c) {
          return !c.intact && (!c.full || c.partial ||
                               !(IsBoundary(c.end, end) || StaleFreeblockSize(c.end) != 0 ||
                                 StartsWholeRecord(c.end)));
        });
      }
      if (staleSize != 0) {
        // Where only the bytes say a cell began, a reconstructed record must have every
        // column and end within the block the old header measured.
        // It must also end where something known begins: the block's end, a boundary, or
        // the next freed cell's own old header.
        std::erase_if(candidates, [&](const Carved& c) {
          if (c.intact) return false;
          if (!c.full || c.partial || c.end > s + staleSize) return true;
          return c.end != s + staleSize && !IsBoundary(c.end, end) &&
                 StaleFreeblockSize(c.end) == 0 && !StartsWholeRecord(c.end);
        });
      }
      const Carved* chosen = Choose(candidates);
      if (chosen != nullptr) {
        carved.push_back(chosen->row);
        if (found) found->push_back(FoundOnPage(db_, pageNo_, s, place));
        if (!chosen->partial) {
          s = chosen->end;
          atBoundary = true;
          continue;
        }
        // A cut record may have been misread; whatever follows is still looked at.
      }
      atBoundary = false;
      ++s;
    }
  }

 private:
  // The size of the freeblock whose header the four bytes at s look like, else 0. Freeblock
  // headers outlive their blocks: a page rebuilt or emptied keeps the old bytes below its cell
  // content area, and a freed cell merged into the block before it keeps the header it got
  // when it was freed first. Either way a cell began there and its first four bytes are lost.
  size_t StaleFreeblockSize(size_t s) const {
    if (s + 4 > usable_) return 0;
    const size_t next = page_.U16(s);
    const size_t size = page_.U16(s + 2);
    if (size < 4 || s + size > usable_) return 0;
    if (next != 0 && (next < s + size || next >= usable_)) return 0;
    return size;
  }

  // A record worth listing has more than one value. A one-value record in a wider table is
  // what a slice of a longer record looks like (a varint read as payload length, one byte as
  // an integer); a whole record of a table that once had one column is too rare to be worth
  // those false rows.
  bool Trusted(const Carved& c) const { return c.row.size() > 1 || columns_.size() == 1; }

  // Of the layouts a record start allows: first an intact one whose end leads, record by
  // record, to a known boundary (the region's end, a live cell, a stale cell pointer); then
  // one with a value for every column that ends right at a boundary; then one with every
  // column that ends at the old freeblock header of the next freed cell (or at a whole
  // record), those whose following records lead to a boundary first; then one with every
  // column that leads to a boundary; then
  // any other that does; then one with every column that does not (a record ending a few
  // bytes before a live cell beats a chain of slices that happens to end there); then an
  // intact one; last a record whose tail newer cells overwrote, whose head is still worth
  // having.
  const Carved* Choose(const std::vector<Carved>& candidates) {
    const Carved* chosen = nullptr;
    auto first = [&](auto&& accept) {
      for (const Carved& c : candidates)
        if (chosen == nullptr && Trusted(c) && accept(c)) chosen = &c;
    };
    first([&](const Carved& c) { return !c.partial && c.intact && ReachesBoundary(c.end, 0); });
    // An end at a known boundary is a fact; an old freeblock header is only a sign (on a
    // 65536-byte page almost any four text bytes pass for one): a record with one header
    // byte too many ends early at such "header" inside the real record's text.
    first([&](const Carved& c) { return !c.partial && c.full && IsBoundary(c.end, regionEnd_); });
    first([&](const Carved& c) {
      return !c.partial && c.full && (StaleFreeblockSize(c.end) != 0 || StartsWholeRecord(c.end)) &&
             ReachesBoundary(c.end, 0);
    });
    first([&](const Carved& c) {
      return !c.partial && c.full && (StaleFreeblockSize(c.end) != 0 || StartsWholeRecord(c.end));
    });
    first([&](const Carved& c) { return !c.partial && c.full && ReachesBoundary(c.end, 0); });
    first([&](const Carved& c) { return !c.partial && ReachesBoundary(c.end, 0); });
    first([](const Carved& c) { return !c.partial && c.full; });
    first([](const Carved& c) { return !c.partial && (c.full || c.intact); });
    first([](const Carved& c) { return c.partial && (c.full || c.intact); });
    return chosen;
  }

  // Whether a record with all its varints and a type for every column starts at offset: a
  // freed cell merged into a freeblock after one that kept its bytes. On a 65536-byte page
  // almost any four bytes pass for an old freeblock header; this is the stronger sign.
  bool StartsWholeRecord(size_t offset) const {
    uint64_t payloadLength = 0, rowid = 0, headerLength = 0;
    int l1 = 0, l2 = 0, l3 = 0;
    if (offset >= regionEnd_ || columns_.size() < 2) return false;
    DecodeVarint(page_.Sub(offset, regionEnd_ - offset), payloadLength, l1);
    if (l1 == 0) return false;
    DecodeVarint(page_.Sub(offset + l1, regionEnd_ - offset - l1), rowid, l2);
    if (l2 == 0) return false;
    const size_t hs = offset + l1 + l2;
    DecodeVarint(page_.Sub(hs, regionEnd_ > hs ? regionEnd_ - hs : 0), headerLength, l3);
    if (l3 == 0 || headerLength < 2 || headerLength > 9 * columns_.size() + 9) return false;
    std::vector<uint64_t>& types = wholeTypes_;
    types.clear();
    uint64_t body = 0;
    // Its header is enough: newer bytes may have taken its tail.
    return TypesUpTo(hs + l3, hs + headerLength, 0, types, body) &&
           types.size() == columns_.size() && payloadLength == headerLength + body;
  }

  void CandidatesAt(size_t s, bool damagedAllowed, std::vector<Carved>& out) const {
    Carved intact;
    if (ParseIntact(s, regionEnd_, intact)) {
      intact.intact = true;
      intact.full = intact.row.size() == columns_.size();
      out.push_back(std::move(intact));
    }
    if (damagedAllowed) DamagedCandidates(s, regionEnd_, out);
  }

  // Whether the records that can start at offset lead to a known boundary. Remembered per
  // offset; the depth bound keeps a long run of tiny records from exhausting the stack.
  bool ReachesBoundary(size_t offset, int depth) {
    if (IsBoundary(offset, regionEnd_) || HeadCutByRegionEnd(offset)) return true;
    if (offset + 3 > regionEnd_) return false;
    // A thousand records in a row that each fit the table are records, wherever the chain
    // ends; a 65536-byte page holds thousands of small ones. (Saying no here would also be
    // remembered for every record before it.)
    if (depth > 1000) return true;
    auto known = reachesBoundary_.find(offset);
    if (known != reachesBoundary_.end()) return known->second;
    reachesBoundary_[offset] = false;  // a record cannot end where it starts
    std::vector<Carved> next;
    CandidatesAt(offset, true, next);
    bool reaches = false;
    for (const Carved& c : next) {
      if (!c.partial && c.end > offset && Trusted(c) && ReachesBoundary(c.end, depth + 1)) {
        reaches = true;
        break;
      }
    }
    reachesBoundary_[offset] = reaches;
    return reaches;
  }

  // Whether a freed cell begins at offset whose header the region's end cuts: a newer cell
  // was written over all but its first bytes, which still hold an old freeblock header and
  // serial types that fit the table. A chain of records that leads there has reached
  // something known as surely as one that leads to the newer cell itself.
  bool HeadCutByRegionEnd(size_t offset) const {
    if (offset + 6 > regionEnd_ || regionEnd_ - offset > 5 + 9 * columns_.size() ||
        StaleFreeblockSize(offset) == 0)
      return false;
    // The header size is lost under the old freeblock header when the payload length and
    // rowid took three bytes, and follows it when they took four.
    for (size_t typesAt : {offset + 4, offset + 5}) {
      size_t at = typesAt;
      size_t column = 0;
      while (at < regionEnd_ && column < columns_.size()) {
        uint64_t t = 0;
        int length = 0;
        DecodeVarint(page_.Sub(at, regionEnd_ - at), t, length);
        if (length == 0) break;  // a varint the end cut: the types so far decide
        if (!Compatible(column, t)) {
          column = 0;
          break;
        }
        ++column;
        at += length;
      }
      if (column >= 2) return true;
    }
    return false;
  }

  // A value that says something: zero bytes read as a record give nothing but empty texts,
  // zeros and replacement characters.
  static bool Informative(const RowValues& row) {
    return std::any_of(row.begin(), row.end(), [](const std::string& value) {
      return !value.empty() && value != "0" && value.find("\xEF\xBF\xBD") == std::string::npos;
    });
  }

  bool TextInNumberColumn(const std::vector<uint64_t>& types) const {
    for (size_t i = 0; i < types.size(); ++i)
      if (types[i] >= 12 && affinity_[i] == Affinity::Integer) return true;
    return false;
  }

  // The table's rule book fit, and NULL alone in a rowid alias column.
  bool Compatible(size_t column, uint64_t type) const {
    if (column == 0 && aliasFirst_) return type == 0;
    return FitsAffinity(affinity_[column], type);
  }

  bool IsBoundary(size_t offset, size_t regionEnd) const {
    return offset == regionEnd || live_.count(offset) != 0 || boundaries_.count(offset) != 0 ||
           offset >= usable_;
  }

  // Renders the values of a record whose serial types are known and whose payload starts
  // (record header first) at payloadStart; the local part holds `local` bytes, any rest
  // comes from the overflow chain named by the 4 bytes after it.
  // With `cutAt` set, the record runs past its region (newer cells took its tail): only the
  // bytes before cutAt are its own, a text value is cut there and the row ends with it.
  bool Render(size_t payloadStart, uint64_t payloadLength, uint64_t headerLength,
              const std::vector<uint64_t>& types, RowValues& row, size_t cutAt = 0) const {
    const uint64_t local = LocalPayloadSize(payloadLength, static_cast<uint32_t>(usable_));
    ByteView payload =
        page_.Sub(payloadStart, cutAt ? std::min<uint64_t>(local, cutAt - payloadStart) : local);
    std::vector<uint8_t> assembled;
    std::vector<Stretch> lost;
    if (local < payloadLength && !cutAt) {
      assembled.assign(payload.data(), payload.data() + payload.size());
      ReadFreedOverflow(page_.U32(payloadStart + local), payloadLength - local, assembled, lost);
      payload = ByteView(assembled.data(), assembled.size());
    }
    size_t at = static_cast<size_t>(headerLength);
    for (size_t i = 0; i < types.size(); ++i) {
      const uint64_t size = SerialTypeSize(types[i]);
      ByteView content = payload.Sub(at, size);
      const bool isText = IsTextSerialType(types[i]);
      const bool cut = content.size() < size;
      if (cut && (!cutAt || !isText)) break;
      // Text that is not UTF-8 means the guess of the record's layout was wrong.
      if (isText && !cut && local >= payloadLength && !IsValidUtf8(content.AsString()))
        return false;
      std::string value;
      if (isText && !lost.empty()) {
        TextAroundLost(types[i], content, at, lost, columns_[i], value);
      } else {
        RenderValue(types[i], content, columns_[i], true, 0, value);
      }
      row.push_back(std::move(value));
      if (cut) break;
      at += static_cast<size_t>(size);
    }
    return !row.empty();
  }

  // A stretch of a joined payload that foreign bytes overwrote: [begin, end).
  struct Stretch {
    size_t begin = 0;
    size_t end = 0;
  };

  // Follows a freed overflow chain, appending up to `want` payload bytes to out. Freeing a
  // chain hands its pages to the freelist in chain order; a page freed while no trunk had room
  // became a trunk: its next-page field and first content bytes now hold the freelist's links,
  // and the rest of the chain is its leaves, in order. Such a page goes on with its first
  // leaf, and its overwritten bytes are noted in lost.
  void ReadFreedOverflow(uint32_t firstPage, uint64_t want, std::vector<uint8_t>& out,
                         std::vector<Stretch>& lost) const {
    if (usable_ <= kTrunkFirstLeaf) return;
    if (!trunksRead_) {
      trunks_ = FreelistTrunkPages(db_);
      trunksRead_ = true;
    }
    OverflowChain chain(db_, firstPage);
    std::vector<uint8_t> page;
    // Page 1 holds the schema and is never freed.
    while (want > 0 && chain.Upcoming() != 1 && chain.Next(page)) {
      const ByteView view(page.data(), page.size());
      const size_t take = static_cast<size_t>(std::min<uint64_t>(want, usable_ - 4));
      const ByteView data = view.Sub(4, take);
      const size_t at = out.size();
      out.insert(out.end(), data.data(), data.data() + data.size());
      want -= take;
      if (trunks_.count(chain.Current())) {
        const uint32_t leaves = std::min<uint32_t>(
            view.U32(kTrunkLeafCount), static_cast<uint32_t>((usable_ - kTrunkFirstLeaf) / 4));
        lost.push_back({at, at + std::min<size_t>(take, 4 + 4 * static_cast<size_t>(leaves))});
        chain.Redirect(leaves > 0 ? view.U32(kTrunkFirstLeaf) : 0);
      }
    }
  }

  // The length of bytes without a multi-byte character the end cut short.
  static size_t WholeCharacters(ByteView bytes) {
    size_t start = bytes.size();
    while (start > 0 && bytes.size() - start < 3 && (bytes[start - 1] & 0xC0) == 0x80) --start;
    if (start == 0) return bytes.size();
    const uint8_t lead = bytes[start - 1];
    const size_t length = (lead >> 5) == 0x6    ? 2
                          : (lead >> 4) == 0xE  ? 3
                          : (lead >> 3) == 0x1E ? 4
                                                : 1;
    return length > bytes.size() - (start - 1) ? start - 1 : bytes.size();
  }

  // A text at offset `at` of the joined payload: the pieces around each overwritten stretch,
  // each up to its first zero byte, one U+FFFD standing for each stretch lost (as the message
  // carver marks it). A piece after a stretch starts at its first whole character.
  static void TextAroundLost(uint64_t type, ByteView content, size_t at,
                             const std::vector<Stretch>& lost, const ColumnDef& column,
                             std::string& out) {
    out.clear();
    std::string piece;
    size_t from = 0;
    for (const Stretch& stretch : lost) {
      if (stretch.end <= at + from || stretch.begin >= at + content.size()) continue;
      const size_t to = stretch.begin > at + from ? stretch.begin - at : from;
      ByteView part = content.Sub(from, to - from);
      if (from > 0)
        while (!part.empty() && (part[0] & 0xC0) == 0x80) part = part.Sub(1);
      part = part.Sub(0, WholeCharacters(part));
      RenderValue(type, part, column, true, 0, piece);
      out += piece;
      // A piece that stops at a zero byte before the stretch was overwritten further.
      if (piece.size() < part.size() && std::memchr(part.data(), 0, part.size()) != nullptr) return;
      out += "\xEF\xBF\xBD";
      from = std::min(content.size(), stretch.end - at);
    }
    ByteView rest = content.Sub(from);
    if (from > 0)
      while (!rest.empty() && (rest[0] & 0xC0) == 0x80) rest = rest.Sub(1);
    RenderValue(type, rest, column, true, 0, piece);
    out += piece;
  }

  // The serial types from `at` up to headerEnd; false unless they end exactly there and
  // every one fits its column.
  bool TypesUpTo(size_t at, size_t headerEnd, size_t firstColumn, std::vector<uint64_t>& types,
                 uint64_t& bodySize) const {
    while (at < headerEnd) {
      if (types.size() >= columns_.size()) return false;
      uint64_t t = 0;
      int length = 0;
      DecodeVarint(page_.Sub(at, headerEnd - at), t, length);
      if (length == 0 || !Compatible(firstColumn + types.size(), t)) return false;
      types.push_back(t);
      bodySize += SerialTypeSize(t);
      at += length;
    }
    return at == headerEnd && !types.empty();
  }

  // A cell whose varints survive: payload length, rowid, header size and serial types must
  // all agree with each other and with the table.
  bool ParseIntact(size_t s, size_t end, Carved& out) const {
    uint64_t payloadLength = 0, rowid = 0, headerLength = 0;
    int l1 = 0, l2 = 0, l3 = 0;
    DecodeVarint(page_.Sub(s, end - s), payloadLength, l1);
    if (l1 == 0) return false;
    DecodeVarint(page_.Sub(s + l1, end - s - l1), rowid, l2);
    if (l2 == 0) return false;
    const size_t hs = s + l1 + l2;
    DecodeVarint(page_.Sub(hs, end > hs ? end - hs : 0), headerLength, l3);
    if (l3 == 0 || headerLength < 2 || headerLength > 9 * columns_.size() + 9) return false;
    std::vector<uint64_t>& types = intactTypes_;
    types.clear();
    uint64_t body = 0;
    if (!TypesUpTo(hs + l3, hs + headerLength, 0, types, body)) return false;
    if (payloadLength != headerLength + body) return false;
    return Finish(s, hs, end, payloadLength, headerLength, types, out);
  }

  bool Finish(size_t s, size_t hs, size_t end, uint64_t payloadLength, uint64_t headerLength,
              const std::vector<uint64_t>& types, Carved& out) const {
    const uint64_t local = LocalPayloadSize(payloadLength, static_cast<uint32_t>(usable_));
    const uint64_t cellEnd = hs + local + (local < payloadLength ? 4 : 0);
    out.row.clear();
    // A record of nothing but NULLs and empty values is what a run of zero bytes looks
    // like; it tells nothing even when real.
    if (std::all_of(types.begin(), types.end(),
                    [](uint64_t t) { return t == 0 || t == 12 || t == 13; }))
      return false;
    if (cellEnd > end) {
      // Its tail was taken by newer cells: keep what is left when the header is whole.
      if (hs + headerLength >= end) return false;
      if (!Render(hs, payloadLength, headerLength, types, out.row, end)) return false;
      out.end = end;
      out.partial = true;
      return true;
    }
    if (!Render(hs, payloadLength, headerLength, types, out.row)) return false;
    out.end = static_cast<size_t>(cellEnd);
    (void)s;
    return true;
  }

  // A cell whose first four bytes were overwritten: its payload-length and rowid varints
  // (k bytes together) and perhaps its header size and first serial type are gone. Every
  // plausible layout that gives a record fitting the table is appended to out, the template's
  // layout first, and for each layout the full column count before fewer columns (rows
  // written before an ALTER TABLE ADD COLUMN).
  void DamagedCandidates(size_t s, size_t end, std::vector<Carved>& out) const {
    // (k, l3): the template's first, then the 12 others. A fixed array: this runs at every
    // offset a chain of records is followed from.
    std::array<std::pair<size_t, size_t>, 13> layouts;
    size_t layoutCount = 0;
    if (template_.l1 && template_.l2 && template_.l3)
      layouts[layoutCount++] = {template_.l1 + template_.l2, template_.l3};
    for (size_t k = 2; k <= 7; ++k)
      for (size_t l3 = 1; l3 <= 2; ++l3)
        if (layoutCount == 0 || layouts[0] != std::make_pair(k, l3))
          layouts[layoutCount++] = {k, l3};

    for (size_t layout = 0; layout < layoutCount; ++layout) {
      const auto [k, l3] = layouts[layout];
      const size_t hs = s + k;
      const size_t ts = hs + l3;
      if (ts >= end) continue;
      const bool headerKnown = hs >= s + 4;
      uint64_t storedHeader = 0;
      if (headerKnown) {
        int length = 0;
        DecodeVarint(page_.Sub(hs, end - hs), storedHeader, length);
        if (static_cast<size_t>(length) != l3) continue;
      }
      // The first serial type is lost when it sits inside the overwritten four bytes.
      // Without a live cell to copy it from, the integer types are tried, the smallest first.
      static constexpr uint64_t kIntegerTypes[] = {0, 1, 2, 3, 4, 8, 9};
      uint64_t single = kNoGuess;
      const uint64_t* firstTypes = &single;
      size_t firstCount = 1;
      size_t typesAt = ts;
      if (ts < s + 4) {
        if (aliasFirst_) {
          single = 0;
        } else if (template_.l1) {
          single = template_.firstType;
        } else {
          firstTypes = kIntegerTypes;
          firstCount = std::size(kIntegerTypes);
        }
        typesAt = ts + 1;
      }
      for (size_t f = 0; f < firstCount; ++f)
        LayoutCandidates(s, hs, typesAt, end, k, l3, headerKnown, storedHeader, firstTypes[f], out);
    }
  }

  static constexpr uint64_t kNoGuess = ~uint64_t{0};

  // The records of one layout (k bytes of payload-length and rowid varints, an l3-byte header
  // size) with the first serial type `first` when it was overwritten (else kNoGuess), the full
  // column count first.
  void LayoutCandidates(size_t s, size_t hs, size_t typesAt, size_t end, size_t k, size_t l3,
                        bool headerKnown, uint64_t storedHeader, uint64_t first,
                        std::vector<Carved>& out) const {
    const size_t guessed = first != kNoGuess ? 1 : 0;
    if (guessed) {
      if (first >= 0x80 || columns_.empty() || !Compatible(0, first)) return;
    }
    const size_t fewest = columns_.size() > 4 ? columns_.size() - 4 : 1;
    // Without a stored header size, n types are decoded from typesAt for each column count n
    // tried: the same bytes give the same types, so they are decoded once, as far as they fit
    // the columns, and each count takes its prefix. decodedEnds[j] is where the (j + 1)-th
    // decoded type ends, decodedBodies[j] the body size of the types up to it.
    std::vector<uint64_t>& decoded = layoutTypes_;
    decoded.clear();
    decodedEnds_.clear();
    decodedBodies_.clear();
    const uint64_t guessedBody = guessed ? SerialTypeSize(first) : 0;
    if (guessed) decoded.push_back(first);
    if (!headerKnown) {
      size_t at = typesAt;
      uint64_t body = guessedBody;
      while (decoded.size() < columns_.size()) {
        uint64_t t = 0;
        int length = 0;
        DecodeVarint(page_.Sub(at, end > at ? end - at : 0), t, length);
        if (length == 0 || !Compatible(decoded.size(), t)) break;
        decoded.push_back(t);
        body += SerialTypeSize(t);
        at += length;
        decodedEnds_.push_back(at);
        decodedBodies_.push_back(body);
      }
    }
    std::vector<uint64_t>& types = candidateTypes_;
    for (size_t n = columns_.size(); n >= fewest; --n) {
      types.assign(decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(guessed));
      uint64_t body = guessedBody;
      size_t headerEnd = 0;
      if (headerKnown) {
        headerEnd = hs + static_cast<size_t>(std::min<uint64_t>(storedHeader, end));
        if (storedHeader < l3 + 1 || headerEnd > end) break;
        if (!TypesUpTo(typesAt, headerEnd, types.size(), types, body)) break;
      } else {
        // Exactly n types; the header ends where they do.
        if (decoded.size() < n) {
          if (n == fewest) break;
          continue;
        }
        types.assign(decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(n));
        if (n > guessed) {
          headerEnd = decodedEnds_[n - guessed - 1];
          body = decodedBodies_[n - guessed - 1];
        } else {
          headerEnd = typesAt;
        }
      }
      const uint64_t headerLength = headerEnd - hs;
      if (VarintLength(headerLength) != static_cast<int>(l3)) {
        if (headerKnown || n == fewest) break;
        continue;
      }
      const uint64_t payloadLength = headerLength + body;
      const int l1 = VarintLength(payloadLength);
      if (static_cast<size_t>(l1) >= k || k - l1 > 9) {
        if (headerKnown || n == fewest) break;
        continue;
      }
      // A reconstructed record is a guess: it must not put text where numbers were declared,
      // which SQLite only does for text that is no number, and no device writes.
      if (TextInNumberColumn(types)) {
        if (headerKnown || n == fewest) break;
        continue;
      }
      Carved candidate;
      if (Finish(s, hs, end, payloadLength, headerLength, types, candidate) &&
          Informative(candidate.row)) {
        candidate.full = types.size() == columns_.size();
        out.push_back(std::move(candidate));
      }
      if (headerKnown || n == fewest) break;
    }
  }

  const SqliteFile& db_;
  ByteView page_;
  uint32_t pageNo_ = 0;
  const std::vector<ColumnDef>& columns_;
  std::vector<Affinity> affinity_;
  size_t usable_ = 0;
  bool aliasFirst_ = false;
  Template template_;
  std::unordered_set<size_t> live_;
  std::unordered_set<size_t> boundaries_;
  size_t regionEnd_ = 0;
  std::unordered_map<size_t, bool> reachesBoundary_;
  std::unordered_set<size_t> headLost_;
  // Scratch for the serial types of the records tried at each offset, kept to spare an
  // allocation per offset.
  mutable std::vector<uint64_t> intactTypes_, wholeTypes_, layoutTypes_, candidateTypes_;
  mutable std::vector<size_t> decodedEnds_;
  mutable std::vector<uint64_t> decodedBodies_;
  // The freelist's trunk pages, read when a record first follows its overflow chain.
  mutable bool trunksRead_ = false;
  mutable std::unordered_set<uint32_t> trunks_;
};

}  // namespace

FoundAt FoundOnPage(const SqliteFile& db, uint32_t pageNo, size_t offset, Place place) {
  FoundAt at;
  at.file = db.name;
  at.page = pageNo;
  at.place = place;
  const auto frame = db.walIndex.find(pageNo);
  if (frame != db.walIndex.end() && db.pageSize != 0) {
    // The page was read from its newest committed log frame: the bytes are there.
    at.file += "-wal";
    at.offset = frame->second + offset;
    at.frame = static_cast<uint32_t>(
        (frame->second - kWalHeaderSize) / (uint64_t{kWalFrameHeaderSize} + db.pageSize) + 1);
    return at;
  }
  at.offset = uint64_t{pageNo - (pageNo > 0 ? 1u : 0u)} * db.pageSize + offset;
  return at;
}

void TemplateCarvePage(const SqliteFile& db, const LeafPage& page,
                       const std::vector<ColumnDef>& columns, RowList& carved, FoundList* found) {
  const BTreePage& tree = page.tree;
  if (tree.bytes.empty() || columns.empty() || page.pageNo == 1) return;
  PageCarver carver(db, page, columns);

  // A page whose every row was deleted has no cell to copy a shape from: its records are read
  // by the table's columns alone.
  if (!page.liveOffsets.empty()) {
    std::vector<uint16_t> sorted = page.liveOffsets;
    std::sort(sorted.begin(), sorted.end());
    carver.SetTemplate(ReadTemplate(tree.bytes, NearestLiveCell(sorted, tree.firstFreeblock)));
  }

  // Stale cell pointers past the live pointer array still name where deleted cells began.
  // An emptied page keeps its whole old pointer array.
  const size_t arrayEnd = tree.PointerArrayEnd();
  const size_t mostStale = page.liveOffsets.empty() ? tree.usableSize / 2 : 100;
  size_t stale = 0;
  // A freelist trunk's links took the front of the array of the leaf it was (FreePages reads
  // them as zeros); the entries after them still name where that leaf's cells began.
  if (page.liveOffsets.empty()) {
    while (stale < mostStale && tree.CellPointer(tree.cellCount + stale) == 0) ++stale;
    // The zeros may run on past any array into the empty middle of the page, up to the first
    // cell: its bytes then read as an "entry" that points back before itself, and skipping
    // that far would lose the cell. Only an entry pointing past the array names a cell.
    const size_t endOfRun = arrayEnd + 2 * (stale + 1);
    const uint16_t next = stale < mostStale ? tree.CellPointer(tree.cellCount + stale) : 0;
    if (stale == mostStale || next >= tree.usableSize || next < endOfRun) stale = 0;
  }
  for (; stale < mostStale; ++stale) {
    const uint16_t entry = tree.CellPointer(tree.cellCount + stale);
    if (entry == 0 || entry >= tree.usableSize || entry < arrayEnd) break;
    carver.AddBoundary(entry);
  }

  // The unallocated gap between the pointer array and the first live cell: cells freed at
  // the top of the content area were merged into it. On an emptied page the stale pointers
  // at its start are no record: read as one, they would swallow the start of the first real
  // one. (Past a live array, a short gap's bytes may be a record that only looks like them.)
  const PageRange gap = tree.GapBelowCells(page.liveOffsets);
  const size_t gapBegin =
      page.liveOffsets.empty() ? std::max<size_t>(gap.begin, arrayEnd + 2 * stale) : gap.begin;
  // A page that lost every row is shown as such, whichever stretch of it a record lay in.
  const bool emptied = page.liveOffsets.empty();
  // The pointer array grows over the gap without regard for what lies there: just past its
  // stale entries a deleted cell may have begun whose first bytes new entries took.
  if (!emptied)
    for (size_t at = arrayEnd + 2 * stale; at < arrayEnd + 2 * stale + 12 && at < gap.end; ++at)
      carver.AddHeadLost(at);
  if (gap.end > gapBegin)
    carver.CarveRegion(gapBegin, gap.end, false, emptied ? Place::LeafPage : Place::Gap, carved,
                       found);

  tree.ForEachFreeblock(arrayEnd, [&](Freeblock block) {
    carver.CarveRegion(block.offset, block.end, true, emptied ? Place::LeafPage : Place::Freeblock,
                       carved, found);
  });
}

namespace {

// Leaves next to each other in the file, in tree order, read with one call
// (a table written in rowid order gets most of its leaves that way). Only
// from the database file alone: with a log, each page is read from where its
// current image lives.
constexpr size_t kMostLeavesInOneRead = 16;

size_t LeavesInARow(const SqliteFile& db, const std::vector<int32_t>& leaves, size_t k) {
  const bool fileAlone =
      db.pageSize != 0 && db.mainFile.IsOpen() && (db.walIndex.empty() || !db.walFile.IsOpen());
  size_t count = 1;
  if (!fileAlone) return count;
  while (count < kMostLeavesInOneRead && k + count < leaves.size() &&
         static_cast<int64_t>(leaves[k + count]) == static_cast<int64_t>(leaves[k]) + count)
    ++count;
  return count;
}

}  // namespace

void VisitLeafPages(const SqliteFile& db, const PageSet& pageSet,
                    const std::function<void(const LeafPage& page)>& visit) {
  std::vector<uint8_t> buffer;
  LeafPage page;
  const std::vector<int32_t>& leaves = pageSet.leafPages;
  for (size_t k = 0; k < leaves.size();) {
    if (leaves[k] < 1) {
      ++k;
      continue;
    }
    const size_t count = LeavesInARow(db, leaves, k);
    // Each page as ReadPageNumber gives it: whole, short with the bytes past
    // the file's end zeroed, or zeros past the read budget.
    std::array<PageRead, kMostLeavesInOneRead> reads;
    reads.fill(PageRead::Whole);
    if (count == 1) {
      reads[0] = ReadPageNumber(db, static_cast<uint32_t>(leaves[k]), buffer);
    } else {
      const size_t pageSize = db.pageSize;
      buffer.resize(count * pageSize);
      // Each page is counted against the read budget as ReadPageNumber
      // counts it; those past it are zeros.
      size_t allowed = 0;
      while (allowed < count) {
        const uint64_t spent = db.pageBytesRead.fetch_add(pageSize, std::memory_order_relaxed);
        if (db.pageReadBudget != 0 && spent >= db.pageReadBudget) break;
        ++allowed;
      }
      for (size_t j = allowed; j < count; ++j) {
        if (j > allowed) db.pageBytesRead.fetch_add(pageSize, std::memory_order_relaxed);
        reads[j] = PageRead::OverBudget;
      }
      const size_t wanted = allowed * pageSize;
      const size_t got = db.mainFile.ReadAt(static_cast<uint64_t>(leaves[k] - 1) * pageSize,
                                            buffer.data(), wanted);
      std::memset(buffer.data() + got, 0, buffer.size() - got);
      for (size_t j = got / pageSize; j < allowed; ++j) reads[j] = PageRead::Short;
    }
    for (size_t j = 0; j < count; ++j) {
      const int32_t pageNo = leaves[k + j];
      page.pageNo = pageNo;
      page.tree = ParsePage(ByteView(buffer.data() + j * db.pageSize, buffer.size() / count),
                            pageNo == 1 ? kPage1HeaderOffset : 0, UsableSize(db));
      page.liveOffsets.clear();
      const bool leaf = page.tree.Is(PageType::LeafTable);
      if (reads[j] != PageRead::Whole || !leaf) CountDamagedPage(db);
      if (!leaf) continue;  // not a table leaf (a zero page, or damage)
      const size_t refused = page.tree.CellPointers(page.liveOffsets);
      for (size_t c = 0; c < refused; ++c) CountDamagedCell(db);
      visit(page);
    }
    k += count;
  }
}

void ReadPageSetRows(const SqliteFile& db, const PageSet& pageSet, RowList& live, RowList& carved,
                     const std::vector<ColumnDef>& columns, const CarveStep& carve,
                     FoundList* found) {
  VisitLeafPages(db, pageSet, [&](const LeafPage& page) {
    ReadLiveCells(db, page, columns, live);
    if (carve) carve(db, page, columns, carved, found);
  });
}

namespace {

// Splitting and merging pages (a b-tree rebalanced after a run of deletes) moves live cells and
// leaves their old bytes behind in free space: a carved row equal to a live one, value for
// value (the rowid alias aside, which a carved row does not know), is such a copy, not a
// deleted row. A deleted row moved that way before it was deleted leaves two copies, on two
// pages: it is listed once, where it was first found.
void DropCopiesOfLiveRows(const TableInfo& table, const RowList& live, RowList& carved,
                          FoundList* found) {
  if (carved.empty()) return;
  const bool alias = !table.columns.empty() && IsRowidAlias(table.columns[0]);
  auto key = [&](const RowValues& row) {
    std::string joined;
    for (size_t i = alias ? 1 : 0; i < row.size(); ++i) {
      joined += row[i];
      joined += '\x1f';
    }
    return joined;
  };
  std::unordered_set<std::string> liveKeys;
  for (const RowValues& row : live) liveKeys.insert(key(row));
  std::unordered_set<std::string> listed;
  size_t kept = 0;
  const bool withFound = found && found->size() == carved.size();
  for (size_t k = 0; k < carved.size(); ++k) {
    std::string joined = key(carved[k]);
    if (liveKeys.count(joined) || !listed.insert(std::move(joined)).second) continue;
    if (kept != k) {
      carved[kept] = std::move(carved[k]);
      if (withFound) (*found)[kept] = std::move((*found)[k]);
    }
    ++kept;
  }
  carved.resize(kept);
  if (withFound) found->resize(kept);
}

}  // namespace

TableRead ReadTable(const SqliteFile& db, const std::string& name, RowList& live, RowList& carved,
                    const CarveStep& carve, FoundList* found) {
  const TableInfo* table = FindTable(db, name);
  if (table == nullptr) return TableRead::Absent;
  for (const PageSet& set : table->pageSets) {
    const std::vector<ColumnDef> columns = table->columns;
    ReadPageSetRows(db, set, live, carved, columns, carve, found);
    // Leaves that lost every row are not in the leaf list; only carving has anything to read.
    if (carve) {
      PageSet empty;
      empty.leafPages = set.emptyLeafPages;
      VisitLeafPages(db, empty,
                     [&](const LeafPage& page) { carve(db, page, columns, carved, found); });
    }
  }
  DropCopiesOfLiveRows(*table, live, carved, found);
  return table->pageSets.empty() ? TableRead::NoPages : TableRead::Read;
}

void CarveOlderImages(const SqliteFile& db, const std::string& name, const RowList& live,
                      RowList& carved, FoundList* found) {
  const TableInfo* table = FindTable(db, name);
  if (table == nullptr || !db.walFile.IsOpen() || db.walIndex.empty() || db.pageSize == 0) return;
  std::unordered_set<uint32_t> ownPages;
  for (const PageSet& set : table->pageSets) {
    for (int32_t p : set.leafPages) ownPages.insert(static_cast<uint32_t>(p));
    for (int32_t p : set.emptyLeafPages) ownPages.insert(static_cast<uint32_t>(p));
  }
  std::unordered_set<uint32_t> otherPages;  // leaves of the other tables and of the schema
  for (const auto& [other, info] : db.tableMap) {
    if (other == name) continue;
    for (const PageSet& set : info.pageSets) {
      for (int32_t p : set.leafPages) otherPages.insert(static_cast<uint32_t>(p));
      for (int32_t p : set.emptyLeafPages) otherPages.insert(static_cast<uint32_t>(p));
    }
  }
  // The schema's own leaves hold table records too, whose types may fit this table's columns:
  // page 1, whatever it was in an older image, and the schema's other leaves now.
  otherPages.insert(1);
  std::vector<uint8_t> page1;
  if (ReadPageNumber(db, 1, page1) == PageRead::Whole) {
    std::vector<int32_t> schemaLeaves;
    CollectLeafPages(db, ByteView(page1.data(), page1.size()), kPage1HeaderOffset, 1, schemaLeaves);
    for (int32_t p : schemaLeaves) otherPages.insert(static_cast<uint32_t>(p));
  }
  const size_t before = carved.size();
  FoundList places;
  // One older image: its cells as whole rows, then its free space by the carving step.
  auto carveImage = [&](std::vector<uint8_t>& image, uint32_t pageNo, const FoundAt& where) {
    LeafPage page;
    page.pageNo = static_cast<int32_t>(pageNo);
    page.tree =
        ParsePage(ByteView(image.data(), image.size()), pageNo == 1 ? 100 : 0, UsableSize(db));
    const bool own = ownPages.count(pageNo) != 0;
    if ((!own && otherPages.count(pageNo)) || !page.tree.Is(PageType::LeafTable)) return;
    page.tree.CellPointers(page.liveOffsets);
    // The image may be of the page when another table had it (a page freed and reused): its
    // cells are this table's rows only when their serial types fit its columns, and its free
    // space is read by them when most cells do.
    const std::vector<ColumnDef>& columns = table->columns;
    RowList rows;
    FoundList foundHere;
    CellPayload cell;
    RecordHeader header;
    size_t cellCount = 0;
    for (uint16_t offset : page.liveOffsets) {
      if (!AssembleCellPayload(db, page.tree.bytes, offset, cell) ||
          !DecodeRecordHeader(cell, header))
        continue;
      ++cellCount;
      const std::vector<uint64_t>& types = header.serialTypes;
      bool fits = !types.empty() && types.size() <= columns.size();
      for (size_t i = 0; fits && i < types.size(); ++i)
        fits = (i == 0 && IsRowidAlias(columns[0]))
                   ? types[0] == 0
                   : FitsAffinity(AffinityOf(columns[i].type), types[i]);
      // On a page no table owns now, a record is taken for this table's only when this is the
      // table its types are given to among all of the schema.
      if (!fits || (!own && AssignTable(db, types) != name)) continue;
      RowValues row(types.size());
      size_t at = header.bodyOffset;
      for (size_t i = 0; i < types.size(); ++i) {
        const uint64_t size = SerialTypeSize(types[i]);
        RenderValue(types[i], cell.bytes.Sub(at, size), columns[i], false, cell.rowid, row[i]);
        at = size > cell.bytes.size() ? cell.bytes.size() + 1 : at + static_cast<size_t>(size);
      }
      rows.push_back(std::move(row));
      FoundAt found = where;
      found.offset += offset;
      if (found.frame == 0) found.place = Place::Unknown;
      foundHere.push_back(found);
    }
    if (cellCount != 0 ? rows.size() * 2 <= cellCount : !own) return;  // another table's image
    FoundList freeFound;
    const size_t cells = rows.size();
    TemplateCarvePage(db, page, table->columns, rows, &freeFound);
    // The carving step names the page's current image; the bytes are in this one.
    const uint64_t current = FoundOnPage(db, pageNo, 0, Place::Unknown).offset;
    for (size_t k = 0; k + cells < rows.size() && k < freeFound.size(); ++k) {
      FoundAt at = where;
      at.offset += freeFound[k].offset - current;
      if (at.frame == 0) at.place = freeFound[k].place;
      foundHere.push_back(at);
    }
    rows.resize(foundHere.size());
    for (size_t k = 0; k < rows.size(); ++k) {
      carved.push_back(std::move(rows[k]));
      places.push_back(foundHere[k]);
    }
  };

  std::vector<uint8_t> image(db.pageSize);
  // The database file's images of pages whose current image is in the log.
  for (const auto& [pageNo, offset] : db.walIndex) {
    const uint64_t at = uint64_t{pageNo - 1} * db.pageSize;
    if (pageNo == 0 || !db.mainFile.ReadExact(at, image.data(), image.size())) continue;
    FoundAt where;
    where.file = db.name;
    where.page = pageNo;
    where.offset = at;
    carveImage(image, pageNo, where);
  }
  // The log's older images, and the current images of pages that are none of the table's
  // leaves now (a leaf it freed keeps its rows only there).
  WalkLogFramesOutsideLeaves(db, table, [&](ByteView block, const FoundAt& where, bool) {
    image.assign(block.data(), block.data() + block.size());
    carveImage(image, where.page, where);
  });
  if (carved.size() == before) return;
  // Left out: copies of live rows and of rows already listed (the same row in several images).
  FoundList all;
  FoundList* keep = found;
  if (found == nullptr || found->size() != before) {
    all.assign(before, FoundAt{});
    keep = &all;
  }
  keep->insert(keep->end(), places.begin(), places.end());
  DropCopiesOfLiveRows(*table, live, carved, keep);
}

int64_t TextToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t value = 0;
  // Below this no digit can overflow, so the exact test (a division) is
  // made only for the last digits of a very long number.
  constexpr uint64_t kSafe = UINT64_MAX / 10 - 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value >= kSafe && value > (UINT64_MAX - digit) / 10) break;  // too long: keep what fits
    value = value * 10 + digit;
  }
  return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
}

}  // namespace vantrel
