#include "recovery/MessageCarver.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>

#include "platform/Text.h"
#include "recovery/PageWalk.h"
#include "sqlite/BTree.h"

namespace vantrel {
namespace {

constexpr size_t kGuidLength = 36;
constexpr uint64_t kGuidSerialType = 85;  // a text of 36 bytes: 36 * 2 + 13
constexpr size_t kMaxVarintLength = 9;
// A message payload beyond this is damage, not a message.
constexpr uint64_t kMaxPayload = 1u << 24;

const boost::regex& GuidPattern() {
  static const boost::regex pattern("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
  return pattern;
}

bool IsUpperHex(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool EqualsNoCase(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (x != b[i]) return false;
  }
  return true;
}

// The bytes of a varint ending at `last` (its byte below 0x80) begin after the
// previous byte below 0x80: every earlier byte of a varint has its top bit set.
// npos when the varint would run past the block start or its nine bytes.
constexpr size_t kNone = SIZE_MAX;

size_t VarintStartEndingAt(ByteView block, size_t last) {
  size_t start = last;
  while (start > 0 && block[start - 1] >= 0x80) {
    if (last - start + 1 >= kMaxVarintLength) return kNone;
    --start;
  }
  if (start == 0 && block[0] >= 0x80) return kNone;
  return start;
}

// Where a message record's header lies, relative to the block.
struct FoundHeader {
  size_t typesStart = 0;              // first serial type after the GUID's (column 2)
  int64_t headerStart = 0;            // the header-size varint; may lie before the block
  uint64_t headerSize = 0;            // H, counting its own varint
  std::vector<uint64_t> serialTypes;  // all of them, rowid and GUID included
};

// The header size of a record whose serial types (from the rowid's) take
// `typesBytes` bytes, with the length of the header-size varint itself.
void HeaderSizeFor(uint64_t typesBytes, uint64_t& headerSize, int& varintLength) {
  if (typesBytes + 1 < 0x80) {
    headerSize = typesBytes + 1;
    varintLength = 1;
  } else {
    headerSize = typesBytes + 2;
    varintLength = 2;
  }
}

// True when the header-size varint right before zeroPos survives and agrees
// with a body starting at bodyStart.
bool HeaderSizeSurvives(ByteView block, size_t zeroPos, size_t bodyStart) {
  uint64_t headerSize = 0;
  int length = 0;
  HeaderSizeFor(bodyStart - zeroPos, headerSize, length);
  if (zeroPos < static_cast<size_t>(length)) return false;
  uint64_t value = 0;
  int got = 0;
  DecodeVarint(block.Sub(zeroPos - length, length), value, got);
  return got == length && value == headerSize;
}

// Walks the serial types backwards from the body start i. Accepts the full
// column count of the catalogue, else a shorter record whose header size
// survives; see MessageCarver.h.
bool FindHeader(ByteView block, size_t i, size_t columnCount, FoundHeader& out) {
  if (columnCount < 3 || i == 0) return false;
  const size_t maxVarints = columnCount - 2;
  size_t end = i;  // one past the last byte of the next varint to pass
  size_t shorterStart = kNone;
  size_t fullStart = kNone;
  for (size_t n = 1; n <= maxVarints; ++n) {
    if (end == 0) break;
    size_t last = end - 1;
    if (block[last] >= 0x80) break;
    size_t start = VarintStartEndingAt(block, last);
    if (start == kNone) break;
    end = start;
    if (start == 0 || block[start - 1] != kGuidSerialType) continue;
    if (n == maxVarints) {
      fullStart = start;
    } else if (n + 2 >= kMinCarvedMessageColumns && shorterStart == kNone && start >= 2 &&
               block[start - 2] == 0 && HeaderSizeSurvives(block, start - 2, i)) {
      shorterStart = start;
    }
  }
  const size_t typesStart = fullStart != kNone ? fullStart : shorterStart;
  if (typesStart == kNone) return false;

  out.typesStart = typesStart;
  out.serialTypes.assign({0, kGuidSerialType});
  ByteView types = block.Sub(typesStart, i - typesStart);
  size_t p = 0;
  while (p < types.size()) {
    uint64_t value = 0;
    int length = 0;
    DecodeVarint(types.Sub(p), value, length);
    if (length == 0) return false;
    // Serial types 10 and 11 are reserved: no record holds them.
    if (value == 10 || value == 11) return false;
    out.serialTypes.push_back(value);
    p += static_cast<size_t>(length);
  }
  // The rowid's serial type sits two bytes before the column-2 types (it may
  // lie just before the block, or be overwritten by a freeblock header).
  int varintLength = 0;
  HeaderSizeFor(i - typesStart + 2, out.headerSize, varintLength);
  out.headerStart = static_cast<int64_t>(typesStart) - 2 - varintLength;
  return true;
}

bool IsTextColumn(const ColumnDef& column) {
  return EqualsNoCase(column.type, "text");
}

// Follows a freed overflow chain from firstPage, appending up to `want`
// payload bytes to out. Bounded by the bytes wanted and by a visited set.
void ReadOverflowChain(const SqliteFile& db, uint32_t firstPage, uint64_t want,
                       std::vector<uint8_t>& out) {
  const uint32_t usable = db.usableSize ? db.usableSize : db.pageSize;
  if (usable <= 4) return;
  const uint32_t limit = PageLimit(db);
  std::unordered_set<uint32_t> visited;
  std::vector<uint8_t> page;
  uint32_t pageNo = firstPage;
  while (want > 0 && pageNo >= 2 && pageNo <= limit && visited.insert(pageNo).second) {
    if (ReadPageNumber(db, pageNo, page) != 0 || page.size() < usable) return;
    ByteView view(page.data(), usable);
    uint64_t take = std::min<uint64_t>(want, usable - 4);
    out.insert(out.end(), page.data() + 4, page.data() + 4 + take);
    want -= take;
    pageNo = view.U32(0);
  }
}

// Decodes the values of a found record into row. The body is read from block,
// up to the end of the cell's local part; when the payload overflows and the
// overflow page number survives, from the local part joined with the chain.
void ReadRecordValues(const SqliteFile& db, const std::vector<ColumnDef>& columns, ByteView block,
                      size_t bodyStart, const FoundHeader& header, RowValues& row) {
  const size_t valueCount = std::min(header.serialTypes.size(), columns.size());
  uint64_t bodySize = 0;
  for (size_t k = 0; k < valueCount; ++k) bodySize += SerialTypeSize(header.serialTypes[k]);
  const uint64_t payload = header.headerSize + bodySize;
  const uint32_t usable = db.usableSize ? db.usableSize : db.pageSize;
  const uint64_t local = usable ? LocalPayloadSize(payload, usable) : payload;

  // Bytes of the body that lie on this page.
  ByteView body = block.Sub(bodyStart, bodySize);
  std::vector<uint8_t> joined;
  if (local < payload) {
    const int64_t localEnd = header.headerStart + static_cast<int64_t>(local);
    if (localEnd <= static_cast<int64_t>(bodyStart)) {
      body = ByteView();
    } else {
      const size_t localBody = static_cast<size_t>(localEnd) - bodyStart;
      body = block.Sub(bodyStart, localBody);
      if (body.size() == localBody && block.Contains(static_cast<size_t>(localEnd), 4)) {
        const uint32_t firstOverflow = block.U32(static_cast<size_t>(localEnd));
        joined.assign(body.data(), body.data() + body.size());
        ReadOverflowChain(db, firstOverflow, bodySize - localBody, joined);
        // A chain through pages reused since gives garbage: keep it only when
        // every text it completes is well-formed UTF-8.
        bool sound = joined.size() > localBody;
        uint64_t p = 0;
        for (size_t k = 0; k < valueCount && sound; ++k) {
          const uint64_t size = SerialTypeSize(header.serialTypes[k]);
          if (p + size > localBody && p < joined.size() && IsTextColumn(columns[k])) {
            const size_t have = static_cast<size_t>(std::min<uint64_t>(size, joined.size() - p));
            std::string_view text(reinterpret_cast<const char*>(joined.data() + p), have);
            if (!IsValidUtf8(text) || text.find('\0') != std::string_view::npos) sound = false;
          }
          p += size;
        }
        if (sound) body = ByteView(joined.data(), joined.size());
      }
    }
  }

  uint64_t p = 0;
  for (size_t k = 0; k < valueCount; ++k) {
    const uint64_t type = header.serialTypes[k];
    const uint64_t size = SerialTypeSize(type);
    std::string value;
    if (p + size > body.size()) {
      // The value runs past what survives: a text is kept as far as it goes,
      // anything else ends the record.
      if (IsTextColumn(columns[k]) && p < body.size()) {
        RenderValue(type, body.Sub(static_cast<size_t>(p)), columns[k], true, 0, value);
        row.push_back(std::move(value));
      }
      return;
    }
    RenderValue(type, body.Sub(static_cast<size_t>(p), static_cast<size_t>(size)), columns[k], true,
                0, value);
    row.push_back(std::move(value));
    p += size;
  }
}

}  // namespace

void CarveMessagesByGuid(const std::vector<ColumnDef>& columns, const SqliteFile& db,
                         ByteView block, RowList& carved) {
  const size_t n = block.size();
  if (n < kGuidLength || columns.size() < 3) return;
  const boost::regex& pattern = GuidPattern();
  // The header before a GUID holds at least the header size, the rowid's and
  // the GUID's serial types and one more; a GUID closer to the block start
  // cannot be a record body.
  for (size_t i = 3; i + kGuidLength <= n; ++i) {
    if (block[i + 8] != '-' || block[i + 13] != '-') continue;
    bool hex = true;
    for (size_t j = 0; j < 8 && hex; ++j) hex = IsUpperHex(block[i + j]);
    if (!hex) continue;
    const char* text = reinterpret_cast<const char*>(block.data() + i);
    if (!boost::regex_match(text, text + kGuidLength, pattern)) continue;
    FoundHeader header;
    if (!FindHeader(block, i, columns.size(), header)) continue;
    RowValues row;
    ReadRecordValues(db, columns, block, i, header, row);
    if (row.size() < 2) continue;
    carved.push_back(std::move(row));
    i += kGuidLength - 1;
  }
}

void CarveMessagePage(const SqliteFile& db, const LeafPage& page,
                      const std::vector<ColumnDef>& columns, RowList& carved) {
  const uint32_t usable = db.usableSize ? db.usableSize : db.pageSize;
  const ByteView bytes = page.bytes.Sub(0, usable);
  if (bytes.empty()) return;

  // The unallocated gap: a cell freed at the start of the content area is
  // given back to the gap, not to the freeblock chain.
  size_t lowest = bytes.size();
  for (uint16_t offset : page.liveOffsets)
    if (offset >= 8 && offset < lowest) lowest = offset;
  CarveMessagesByGuid(columns, db, bytes.Sub(0, lowest), carved);

  // The freeblock chain, each block on its own.
  std::unordered_set<uint32_t> visited;
  uint32_t offset = page.firstFreeblock;
  while (offset >= 8 && offset + 4 <= bytes.size() && visited.insert(offset).second) {
    const uint16_t next = bytes.U16(offset);
    const uint16_t size = bytes.U16(offset + 2);
    CarveMessagesByGuid(columns, db, bytes.Sub(offset, size), carved);
    offset = next;
  }
}

void ScanFileForMessages(const SqliteFile& db, const std::vector<ColumnDef>& columns,
                         RowList& carved) {
  WalkPagesOutsideTable(db, nullptr, [&](ByteView block, uint32_t) {
    CarveMessagesByGuid(columns, db, block, carved);
  });

  // Older page images in the log hold messages deleted since they were written.
  if (!db.walFile.IsOpen() || db.pageSize == 0) return;
  uint8_t logHeader[32] = {};
  if (!db.walFile.ReadExact(0, logHeader, sizeof logHeader)) return;
  if (ByteView(logHeader, sizeof logHeader).U32(8) != db.pageSize) return;
  const uint64_t frameSize = 24ull + db.pageSize;
  const uint64_t logSize = db.walFile.Size();
  std::vector<uint8_t> image(db.pageSize);
  for (uint64_t frame = 32; frame + frameSize <= logSize; frame += frameSize) {
    if (!db.walFile.ReadExact(frame + 24, image.data(), image.size())) break;
    CarveMessagesByGuid(columns, db, ByteView(image.data(), image.size()), carved);
  }
}

int LoadMessageTable(const SqliteFile& db, RowList& live, RowList& carved) {
  const TableInfo* table = FindTable(db, "message");
  if (!table) return -2;
  int result = -1;
  const CarveStep carve = CarveMessagePage;
  for (const PageSet& pageSet : table->pageSets) {
    ReadPageSetRows(db, pageSet, live, carved, table->columns, carve);
    result = 0;
  }
  ScanFileForMessages(db, table->columns, carved);
  return result;
}

}  // namespace vantrel
