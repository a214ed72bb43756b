#include "sqlite/BTree.h"

#include <algorithm>
#include <unordered_set>

#include "sqlite/SqliteFile.h"

namespace vantrel {

namespace {

bool PageInRange(const SqliteFile& db, uint64_t pageNo) {
  return pageNo >= 1 && pageNo <= PageLimit(db);
}

// The child pages of an interior table page in walk order: the right-most
// child first, then the left child of every cell in pointer-array order.
void InteriorChildren(const BTreePage& page, std::vector<uint32_t>& children) {
  children.push_back(page.rightChild);
  // A cell count larger than the pointer array can hold is damage; read only
  // the pointers that fit on the page.
  const size_t start = page.PointerArrayStart();
  const size_t room = page.bytes.size() > start ? (page.bytes.size() - start) / 2 : 0;
  const size_t count = std::min<size_t>(page.cellCount, room);
  const size_t arrayEnd = start + 2 * count;
  for (size_t i = 0; i < count; ++i) {
    const uint16_t cell = page.CellPointer(i);
    if (cell < arrayEnd || cell + 4u > page.bytes.size()) continue;
    children.push_back(page.bytes.U32(cell));
  }
}

}  // namespace

void CollectLeafPages(const SqliteFile& db, ByteView page, uint32_t headerOffset, int32_t pageNo,
                      std::vector<int32_t>& leafPages, std::vector<int32_t>* emptyLeafPages) {
  // An explicit stack instead of recursion: a deep or cyclic damaged tree can
  // neither overflow the call stack nor loop, since no page is entered twice.
  std::unordered_set<uint32_t> visited;
  visited.insert(static_cast<uint32_t>(pageNo));
  std::vector<uint32_t> stack;
  std::vector<uint32_t> children;
  std::vector<uint8_t> buffer;

  auto visit = [&](ByteView image, uint32_t h, uint32_t number) {
    const BTreePage tree = ParsePage(image, h);
    if (tree.Is(PageType::LeafTable)) {
      if (tree.cellCount != 0) {
        leafPages.push_back(static_cast<int32_t>(number));
      } else if (emptyLeafPages) {
        emptyLeafPages->push_back(static_cast<int32_t>(number));
      }
    } else if (tree.Is(PageType::InteriorTable)) {
      children.clear();
      InteriorChildren(tree, children);
      for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
    }
  };

  // A leaf is read only as far as its header, which says all the walk needs
  // (what the page is, how many cells it holds): its rows are read later by
  // whoever visits it, and reading it whole here would copy every leaf of
  // every table once more. Only from the database file alone, whose size
  // says whether the whole page is there, as a whole read would find.
  const bool fileAlone = db.pageSize >= kInteriorHeaderSize && db.mainFile.IsOpen() &&
                         (db.walIndex.empty() || !db.walFile.IsOpen());
  const uint64_t fileSize = fileAlone ? db.mainFile.Size() : 0;

  visit(page, headerOffset, static_cast<uint32_t>(pageNo));
  while (!stack.empty()) {
    const uint32_t child = stack.back();
    stack.pop_back();
    // Page 1 is the schema root and never anyone's child.
    if (child == 1 || !PageInRange(db, child) || !visited.insert(child).second) {
      CountDamagedPage(db);
      continue;
    }
    if (fileAlone) {
      // Counted against the read budget as ReadPageNumber counts a page; one
      // past it reads as zeros, which add nothing.
      const uint64_t spent = db.pageBytesRead.fetch_add(db.pageSize, std::memory_order_relaxed);
      if (db.pageReadBudget != 0 && spent >= db.pageReadBudget) {
        CountDamagedPage(db);
        continue;
      }
      const uint64_t offset = static_cast<uint64_t>(child - 1) * db.pageSize;
      // Bytes past the file's end stay zero, as in a short read.
      uint8_t head[kInteriorHeaderSize] = {};
      db.mainFile.ReadAt(offset, head, sizeof head);
      if (offset + db.pageSize > fileSize) CountDamagedPage(db);
      if (head[0] != static_cast<uint8_t>(PageType::InteriorTable)) {
        visit(ByteView(head, sizeof head), 0, child);
        continue;
      }
      buffer.resize(db.pageSize);
      ReadPage(db, db.pageSize, buffer.data(), offset);
      visit(ByteView(buffer.data(), buffer.size()), 0, child);
      continue;
    }
    // A page that cannot be read whole arrives zero-padded and adds nothing.
    if (ReadPageNumber(db, child, buffer) != PageRead::Whole) CountDamagedPage(db);
    visit(ByteView(buffer.data(), buffer.size()), 0, child);
  }
}

void ReadCellPointers(ByteView page, std::vector<uint16_t>& offsets, const SqliteFile& db,
                      bool isPage1) {
  ParsePage(page, isPage1 ? kPage1HeaderOffset : 0, UsableSize(db)).CellPointers(offsets);
}

void DecodeVarint(ByteView bytes, uint64_t& value, int& length) {
  value = 0;
  length = 0;
  uint64_t v = 0;
  for (size_t i = 0; i < 9; ++i) {
    if (i >= bytes.size()) return;  // the bytes end inside the varint
    const uint8_t b = bytes[i];
    if (i == 8) {
      value = (v << 8) | b;
      length = 9;
      return;
    }
    v = (v << 7) | (b & 0x7F);
    if ((b & 0x80) == 0) {
      value = v;
      length = static_cast<int>(i + 1);
      return;
    }
  }
}

void SplitSerialTypes(ByteView bytes, size_t byteLength, std::vector<uint64_t>& serialTypes) {
  const ByteView header = bytes.Sub(0, byteLength);
  // At most one type a byte: the room is made once and written through a
  // pointer, then cut to what was read, so the loop neither checks capacity
  // nor regrows. A live row of a wide table has dozens of types.
  const size_t base = serialTypes.size();
  serialTypes.resize(base + header.size());
  uint64_t* out = serialTypes.data() + base;
  const uint8_t* in = header.data();
  size_t count = 0;
  size_t at = 0;
  while (at < header.size()) {
    // Most serial types are one byte; only longer ones need the full decoder.
    uint64_t value = in[at];
    int length = 1;
    if (value >= 0x80) {
      DecodeVarint(header.Sub(at), value, length);
      if (length == 0) break;  // the varint runs past the header: dropped
    }
    out[count++] = value;
    at += static_cast<size_t>(length);
  }
  serialTypes.resize(base + count);
}

size_t DecodeVarints(ByteView bytes, size_t count, std::vector<uint64_t>& serialTypes) {
  size_t at = 0;
  for (size_t i = 0; i < count; ++i) {
    uint64_t value = 0;
    int length = 0;
    DecodeVarint(bytes.Sub(at), value, length);
    if (length == 0) break;
    serialTypes.push_back(value);
    at += length;
  }
  return at;
}

namespace {

// The local part for the largest local part X the cell's kind allows.
inline uint64_t LocalPart(uint64_t payloadLength, uint32_t usableSize, uint64_t maxLocal) {
  const uint64_t minLocal = (usableSize - 12) * 32 / 255 - 23;  // M
  if (payloadLength <= maxLocal) return payloadLength;
  const uint64_t k = minLocal + (payloadLength - minLocal) % (usableSize - 4);
  return k <= maxLocal ? k : minLocal;
}

}  // namespace

uint64_t LocalPayloadSize(uint64_t payloadLength, uint32_t usableSize) {
  // ValidateHeader never lets less through.
  if (usableSize < kMinUsableSize) usableSize = kMinUsableSize;
  return LocalPart(payloadLength, usableSize, usableSize - 35);
}

uint64_t IndexLocalPayloadSize(uint64_t payloadLength, uint32_t usableSize) {
  if (usableSize < kMinUsableSize) usableSize = kMinUsableSize;
  return LocalPart(payloadLength, usableSize, (uint64_t{usableSize} - 12) * 64 / 255 - 23);
}

bool AssembleCellPayload(const SqliteFile& db, ByteView page, uint32_t cellOffset,
                         CellPayload& out) {
  // Reset field by field: a reused CellPayload keeps its buffer's capacity.
  out.assembled.clear();
  out.bytes = ByteView();
  out.payloadLength = 0;
  out.rowid = 0;
  out.lengthOfPayloadVarint = 0;
  out.lengthOfRowidVarint = 0;
  out.overflowed = false;
  out.chainBroken = false;
  if (cellOffset >= page.size()) return false;
  ByteView cell = page.Sub(cellOffset);
  int l1 = 0;
  int l2 = 0;
  DecodeVarint(cell, out.payloadLength, l1);
  if (l1 == 0) return false;
  DecodeVarint(cell.Sub(l1), out.rowid, l2);
  if (l2 == 0) return false;
  out.lengthOfPayloadVarint = l1;
  out.lengthOfRowidVarint = l2;
  const size_t start = static_cast<size_t>(l1) + l2;
  const uint64_t local = LocalPayloadSize(out.payloadLength, UsableSize(db));
  if (local >= out.payloadLength) {
    out.bytes = cell.Sub(0, start + out.payloadLength);
    return true;
  }

  out.overflowed = true;
  ByteView localPart = cell.Sub(0, start + local);
  out.assembled.assign(localPart.data(), localPart.data() + localPart.size());
  AppendOverflowPayload(db, cell.U32(start + local), out.payloadLength - local, out.assembled,
                        &out.chainBroken);
  out.bytes = ByteView(out.assembled.data(), out.assembled.size());
  return true;
}

bool DecodeRecordHeader(const CellPayload& cell, RecordHeader& header) {
  // Reset field by field: a reused RecordHeader keeps its vector's capacity.
  header.headerSize = 0;
  header.headerSizeLength = 0;
  header.serialTypes.clear();
  header.bodyOffset = 0;
  const size_t start = static_cast<size_t>(cell.lengthOfPayloadVarint) + cell.lengthOfRowidVarint;
  int l3 = 0;
  DecodeVarint(cell.bytes.Sub(start), header.headerSize, l3);
  header.headerSizeLength = l3;
  if (l3 == 0 || header.headerSize < 2 || header.headerSize < static_cast<uint64_t>(l3))
    return false;
  if (header.headerSize > cell.payloadLength) return false;
  SplitSerialTypes(cell.bytes.Sub(start + l3), header.headerSize - l3, header.serialTypes);
  header.bodyOffset = start + header.headerSize;
  return true;
}

int64_t BigEndianInteger(ByteView content) {
  if (content.empty()) return 0;
  uint64_t value = (content[0] & 0x80) ? ~uint64_t{0} : 0;
  for (size_t i = 0; i < content.size(); ++i) value = (value << 8) | content[i];
  return static_cast<int64_t>(value);
}

std::optional<CellColumn> ColumnOfCell(const CellPayload& cell, const RecordHeader& header,
                                       size_t column) {
  if (column >= header.serialTypes.size()) return std::nullopt;
  uint64_t at = header.bodyOffset;
  for (size_t c = 0; c < column; ++c) at += SerialTypeSize(header.serialTypes[c]);
  CellColumn value;
  value.serialType = header.serialTypes[column];
  const uint64_t size = SerialTypeSize(value.serialType);
  if (at > cell.bytes.size()) return value;  // the cell ends before it
  value.content = cell.bytes.Sub(static_cast<size_t>(at), static_cast<size_t>(size));
  value.whole = value.content.size() == size;
  return value;
}

}  // namespace vantrel
