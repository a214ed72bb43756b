#include "sqlite/BTree.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "sqlite/SqliteFile.h"

namespace vantrel {

namespace {

constexpr uint8_t kInteriorTable = 5;
constexpr uint8_t kLeafTable = 13;

bool PageInRange(const SqliteFile& db, uint64_t pageNo) {
  return pageNo >= 1 && pageNo <= PageLimit(db);
}

uint32_t UsableSize(const SqliteFile& db, ByteView page) {
  if (db.usableSize != 0) return db.usableSize;
  return static_cast<uint32_t>(page.size());
}

// The child pages of an interior table page in walk order: the right-most
// child first, then the left child of every cell in pointer-array order.
void InteriorChildren(ByteView page, uint32_t h, std::vector<uint32_t>& children) {
  children.push_back(page.U32(h + 8));
  const uint32_t cells = page.U16(h + 3);
  // A cell count larger than the pointer array can hold is damage; read only
  // the pointers that fit on the page.
  const size_t room = page.size() > h + 12 ? (page.size() - h - 12) / 2 : 0;
  const size_t count = std::min<size_t>(cells, room);
  const size_t arrayEnd = h + 12 + 2 * count;
  for (size_t i = 0; i < count; ++i) {
    const uint16_t cell = page.U16(h + 12 + 2 * i);
    if (cell < arrayEnd || cell + 4u > page.size()) continue;
    children.push_back(page.U32(cell));
  }
}

}  // namespace

int CollectLeafPages(const SqliteFile& db, ByteView page, uint32_t headerOffset, int32_t pageNo,
                     std::vector<int32_t>& leafPages) {
  // An explicit stack instead of recursion: a deep or cyclic damaged tree can
  // neither overflow the call stack nor loop, since no page is entered twice.
  std::unordered_set<uint32_t> visited;
  visited.insert(static_cast<uint32_t>(pageNo));
  std::vector<uint32_t> stack;
  std::vector<uint32_t> children;
  std::vector<uint8_t> buffer;

  auto visit = [&](ByteView image, uint32_t h, uint32_t number) {
    const uint8_t type = image[h];
    if (type == kLeafTable) {
      if (image.U16(h + 3) != 0) leafPages.push_back(static_cast<int32_t>(number));
    } else if (type == kInteriorTable) {
      children.clear();
      InteriorChildren(image, h, children);
      for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
    }
  };

  visit(page, headerOffset, static_cast<uint32_t>(pageNo));
  while (!stack.empty()) {
    const uint32_t child = stack.back();
    stack.pop_back();
    // Page 1 is the schema root and never anyone's child.
    if (child == 1 || !PageInRange(db, child) || !visited.insert(child).second) continue;
    // A page that cannot be read whole arrives zero-padded and adds nothing.
    ReadPageNumber(db, child, buffer);
    visit(ByteView(buffer.data(), buffer.size()), 0, child);
  }
  return 0;
}

int ReadCellPointers(ByteView page, std::vector<uint16_t>& offsets, const SqliteFile& db,
                     bool isPage1) {
  const uint32_t h = isPage1 ? 100 : 0;
  const uint32_t cells = page.U16(h + 3);
  const uint32_t usable = std::min<uint32_t>(UsableSize(db, page), page.size());
  const size_t arrayEnd = static_cast<size_t>(h) + 8 + 2 * static_cast<size_t>(cells);
  for (uint32_t i = 0; i < cells; ++i) {
    const size_t at = h + 8 + 2 * static_cast<size_t>(i);
    if (at + 2 > page.size()) break;
    const uint16_t offset = page.U16(at);
    // A pointer into the header, into the pointer array or past the usable
    // part of the page cannot start a cell: skip it, keep the others.
    if (offset < arrayEnd || offset >= usable) continue;
    offsets.push_back(offset);
  }
  return 0;
}

int DecodeVarint(ByteView bytes, uint64_t& value, int& length) {
  value = 0;
  length = 0;
  uint64_t v = 0;
  for (size_t i = 0; i < 9; ++i) {
    if (i >= bytes.size()) return 0;  // the bytes end inside the varint
    const uint8_t b = bytes[i];
    if (i == 8) {
      v = (v << 8) | b;
      value = v;
      length = 9;
      return 0;
    }
    v = (v << 7) | (b & 0x7F);
    if ((b & 0x80) == 0) {
      value = v;
      length = static_cast<int>(i + 1);
      return 0;
    }
  }
  return 0;
}

int SplitVarints(ByteView bytes, unsigned byteLength, std::vector<uint64_t>& serialTypes,
                 int count) {
  if (byteLength != 0) {
    ByteView header = bytes.Sub(0, byteLength);
    size_t at = 0;
    while (at < header.size()) {
      uint64_t value = 0;
      int length = 0;
      DecodeVarint(header.Sub(at), value, length);
      if (length == 0) break;  // the varint runs past the header: dropped
      serialTypes.push_back(value);
      at += length;
    }
    return 0;
  }
  size_t at = 0;
  for (int i = 0; i < count; ++i) {
    uint64_t value = 0;
    int length = 0;
    DecodeVarint(bytes.Sub(at), value, length);
    if (length == 0) break;
    serialTypes.push_back(value);
    at += length;
  }
  return static_cast<int>(at);
}

uint64_t SerialTypeSize(uint64_t serialType) {
  switch (serialType) {
    case 0:
    case 8:
    case 9:
    case 10:
    case 11:
      return 0;
    case 1:
    case 2:
    case 3:
    case 4:
      return serialType;
    case 5:
      return 6;
    case 6:
    case 7:
      return 8;
    default:
      return (serialType - 12) / 2;  // blob (even) or text (odd), from 12 up
  }
}

void SortOffsets(uint16_t* offsets, size_t count) {
  if (offsets != nullptr) std::sort(offsets, offsets + count);
}

int CollectOverflowChain(const SqliteFile& db, int32_t firstPage, std::vector<int32_t>& chain) {
  std::unordered_set<uint32_t> seen;
  std::vector<uint8_t> page;
  uint32_t next = static_cast<uint32_t>(firstPage);
  while (next != 0 && PageInRange(db, next) && seen.insert(next).second) {
    chain.push_back(static_cast<int32_t>(next));
    if (ReadPageNumber(db, next, page) != 0) break;
    next = ByteView(page.data(), page.size()).U32(0);
  }
  return 0;
}

int ReadPageList(const SqliteFile& db, uint8_t* dest, std::vector<int32_t>& pages) {
  const size_t pageSize = db.pageSize;
  if (dest == nullptr || pageSize == 0) {
    pages.clear();
    return 0;
  }
  std::memset(dest, 0, pages.size() * pageSize);
  std::vector<uint8_t> page;
  if (pages.size() == 1) {
    ReadPageNumber(db, static_cast<uint32_t>(pages[0]), page);
    std::memcpy(dest, page.data(), pageSize);
  } else {
    size_t at = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
      ReadPageNumber(db, static_cast<uint32_t>(pages[i]), page);
      if (i == 0) {
        std::memcpy(dest, page.data(), pageSize - 4);
        at = pageSize - 4;
      } else {
        std::memcpy(dest + at, page.data() + 4, pageSize - 4);
        at += pageSize - 4;
      }
    }
  }
  pages.clear();
  return 0;
}

uint64_t LocalPayloadSize(uint64_t payloadLength, uint32_t usableSize) {
  if (usableSize < 480) usableSize = 480;     // the validator never lets less through
  const uint64_t maxLocal = usableSize - 35;  // X
  const uint64_t minLocal = (usableSize - 12) * 32 / 255 - 23;  // M
  if (payloadLength <= maxLocal) return payloadLength;
  const uint64_t k = minLocal + (payloadLength - minLocal) % (usableSize - 4);
  return k <= maxLocal ? k : minLocal;
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
  const uint32_t usable = UsableSize(db, page);
  const uint64_t local = LocalPayloadSize(out.payloadLength, usable);
  if (local >= out.payloadLength) {
    out.bytes = cell.Sub(0, start + out.payloadLength);
    return true;
  }

  out.overflowed = true;
  ByteView localPart = cell.Sub(0, start + local);
  out.assembled.assign(localPart.data(), localPart.data() + localPart.size());
  uint64_t remaining = out.payloadLength - local;
  uint32_t next = cell.U32(start + local);
  const size_t perPage = usable > 4 ? usable - 4 : 0;
  // The chain is followed only while it still owes payload, never into a page
  // twice and never past the file's last page, so a damaged chain ends.
  std::unordered_set<uint32_t> seen;
  std::vector<uint8_t> overflow;
  while (remaining > 0 && next != 0 && PageInRange(db, next) && seen.insert(next).second) {
    if (ReadPageNumber(db, next, overflow) != 0) break;
    ByteView view(overflow.data(), overflow.size());
    const size_t take = static_cast<size_t>(std::min<uint64_t>(remaining, perPage));
    ByteView data = view.Sub(4, take);
    out.assembled.insert(out.assembled.end(), data.data(), data.data() + data.size());
    remaining -= take;
    next = view.U32(0);
  }
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
  ByteView types = cell.bytes.Sub(start + l3, header.headerSize - l3);
  size_t at = 0;
  while (at < types.size()) {
    uint64_t value = 0;
    int length = 0;
    DecodeVarint(types.Sub(at), value, length);
    if (length == 0) break;
    header.serialTypes.push_back(value);
    at += length;
  }
  header.bodyOffset = start + header.headerSize;
  return true;
}

}  // namespace vantrel
