// B-tree walks, cells and records: the cell-level operations every reader and
// carver shares. The page itself (header, cell pointers, freeblocks, overflow
// chains) is taken apart by Page.h.
//
// Leaf table cell: varint payload length P (L1 bytes long), varint rowid (L2
// bytes), then the payload, of
// which the first L bytes are stored on the page (L from LocalPayloadSize); when
// L < P the 4 bytes after the local part hold the first overflow page number.
// Overflow page: 4-byte next page number (0 ends the chain), then U - 4 bytes of payload.
// Record: varint header size H (counting itself, L3 bytes long), one varint
// serial type per column, then the values back to back.
//
// Local payload (usable size U = page size - reserved bytes, payload length P):
//   X = U - 35 in a table leaf cell, (U - 12) * 64 / 255 - 23 in an index cell;
//   M = (U - 12) * 32 / 255 - 23, K = M + (P - M) mod (U - 4);
//   local = P when P <= X, else K when K <= X, else M.
// Index cell (leaf; an interior one starts with its 4-byte left child page):
// varint payload length P, then the payload, its local part and overflow page
// number as in a table leaf cell.
// Only the rule decides where the local part ends: the next cell's offset does
// not, since a freeblock may lie between the two.
//
// Every walk here is bounded: a page is entered once per walk, page numbers
// above the file's last page are not followed, and the b-tree walk keeps its
// own stack instead of recursing, so damaged links end a walk, never hang it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sqlite/ByteView.h"
#include "sqlite/Page.h"

namespace vantrel {

struct SqliteFile;

// Appends the leaf pages under the b-tree page image `page` (header at
// headerOffset, page number pageNo) in walk order: for an interior page the
// right-most subtree first, then each cell's subtree. Pages already visited
// are not walked again, so a damaged tree cannot loop; a child page that is
// out of range, visited again or unreadable is counted as damage. Leaves
// without a cell go to emptyLeafPages instead, when it is given.
void CollectLeafPages(const SqliteFile& db, ByteView page, uint32_t headerOffset, int32_t pageNo,
                      std::vector<int32_t>& leafPages,
                      std::vector<int32_t>* emptyLeafPages = nullptr);

// The validated cell offsets of a leaf page (BTreePage::CellPointers) of db.
void ReadCellPointers(ByteView page, std::vector<uint16_t>& offsets, const SqliteFile& db,
                      bool isPage1);

// Decodes a varint of one to nine bytes (the ninth contributes all 8 bits).
// length = 0 when the bytes end before the varint does.
void DecodeVarint(ByteView bytes, uint64_t& value, int& length);

// The most bytes a varint takes.
inline constexpr size_t kMaxVarintLength = 9;

// The number of bytes of the varint that holds value: seven bits a byte, all
// eight in the ninth.
constexpr int VarintLength(uint64_t value) {
  int length = 1;
  while (value >= 0x80 && length < static_cast<int>(kMaxVarintLength)) {
    value >>= 7;
    ++length;
  }
  return length;
}

// Splits the first byteLength bytes into serial types; a varint that runs past
// them is dropped.
void SplitSerialTypes(ByteView bytes, size_t byteLength, std::vector<uint64_t>& serialTypes);

// Decodes up to count varints from the start of bytes (fewer when the bytes
// end first) and returns the bytes they took.
size_t DecodeVarints(ByteView bytes, size_t count, std::vector<uint64_t>& serialTypes);

// Content size in bytes of a value of this serial type.
// Defined here so that the per-column loops of the reader and the carvers
// inline it.
inline uint64_t SerialTypeSize(uint64_t serialType) {
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

// Serial types 13, 15, ...: text of (type - 13) / 2 bytes.
constexpr bool IsTextSerialType(uint64_t serialType) {
  return serialType >= 13 && (serialType & 1) == 1;
}

// The number of payload bytes a table leaf cell keeps on its page, for
// payload length P and usable page size U (the file format's rule).
uint64_t LocalPayloadSize(uint64_t payloadLength, uint32_t usableSize);
// The same for a cell of an index b-tree, whose cells overflow sooner.
uint64_t IndexLocalPayloadSize(uint64_t payloadLength, uint32_t usableSize);

// The bytes of one table leaf cell from its start (the payload-length varint),
// with any overflow pages joined after the local part. `bytes` views either the
// page itself or `assembled`.
struct CellPayload {
  std::vector<uint8_t> assembled;
  ByteView bytes;
  uint64_t payloadLength = 0;
  uint64_t rowid = 0;
  int lengthOfPayloadVarint = 0;  // L1
  int lengthOfRowidVarint = 0;    // L2
  bool overflowed = false;
  bool chainBroken = false;  // the overflow chain broke before the payload was whole
};

// Builds the cell at offset cellOffset of leaf page `page`: reads its payload
// length and rowid, and when the payload overflows, joins the local part and
// the overflow chain (OverflowChain) into out.assembled. A chain that ends
// early leaves the payload short; reads past it see zeros (ByteView).
// False when the offset lies outside the page or its varints run off it.
// out.bytes may point into out.assembled: move a CellPayload, never copy it.
bool AssembleCellPayload(const SqliteFile& db, ByteView page, uint32_t cellOffset,
                         CellPayload& out);

// A decoded record header: serial types and where the body starts, both
// relative to the start of the cell (payload-length varint).
struct RecordHeader {
  uint64_t headerSize = 0;   // H
  int headerSizeLength = 0;  // L3
  std::vector<uint64_t> serialTypes;
  size_t bodyOffset = 0;  // L1 + L2 + H
};

// The content bytes as one big-endian two's-complement integer (the integer
// serial types store 1, 2, 3, 4, 6 or 8 such bytes); 0 for no bytes.
int64_t BigEndianInteger(ByteView content);

// Decodes the record header of a cell assembled by AssembleCellPayload.
// False when the header is damaged (H of 0 or 1, or H smaller than its own varint).
bool DecodeRecordHeader(const CellPayload& cell, RecordHeader& header);

// One column's value in a cell assembled by AssembleCellPayload, read from the
// raw bytes (a blob whole, zero bytes and all): its serial type and content,
// cut to what the cell holds; whole says whether every byte is there.
struct CellColumn {
  uint64_t serialType = 0;
  ByteView content;
  bool whole = false;
};

// The value of column `column` (0 = the record's first); nullopt when the
// record header has fewer columns.
std::optional<CellColumn> ColumnOfCell(const CellPayload& cell, const RecordHeader& header,
                                       size_t column);

}  // namespace vantrel
