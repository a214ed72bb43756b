#include "carve/RowReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "carve/FreePages.h"
#include "carve/PageWalk.h"
#include "platform/Text.h"
#include "sqlite/ColumnRules.h"
#include "sqlite/WalIndex.h"

namespace vantrel {

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

}  // namespace vantrel
