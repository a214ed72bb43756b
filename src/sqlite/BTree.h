// B-tree pages, cells and records: the page-level operations every reader and
// carver shares.
//
// B-tree page header (at byte 100 on page 1, else at byte 0):
//   0  1  page type: 13 leaf table, 5 interior table, 10 leaf index, 2 interior index
//   1  2  offset of the first freeblock, 0 = none
//   3  2  number of cells
//   5  2  start of the cell content area (0 = 65536)
//   7  1  fragmented free bytes
//   8  4  right-most child page (interior pages only)
// The cell pointer array follows the header (8 bytes on leaves, 12 on interior
// pages): 2-byte offsets of the cells from the start of the page.
//
// Leaf table cell: varint payload length P, varint rowid, then the payload, of
// which the first L bytes are stored on the page (L from LocalPayloadSize); when
// L < P the 4 bytes after the local part hold the first overflow page number.
// Overflow page: 4-byte next page number (0 ends the chain), then U - 4 bytes of payload.
// Record: varint header size H (counting itself), one varint serial type per
// column, then the values back to back.
// Freeblock: 2-byte offset of the next freeblock (0 = last), 2-byte size, then
// whatever the freed cell held.
//
//   +--------+-----------------+-----------------+------------------------------+
//   | header | cell pointers   | unallocated gap | cell content area: cells and |
//   | 8 / 12 | 2 bytes a cell  |                 | freeblocks, growing downward |
//   +--------+-----------------+-----------------+------------------------------+
//
// Local payload (usable size U = page size - reserved bytes, payload length P):
//   X = U - 35, M = (U - 12) * 32 / 255 - 23, K = M + (P - M) mod (U - 4);
//   local = P when P <= X, else K when K <= X, else M.
// Only the rule decides where the local part ends: the next cell's offset does
// not, since a freeblock may lie between the two.
//
// Every walk here is bounded: a page is entered once per walk, page numbers
// above the file's last page are not followed, and the b-tree walk keeps its
// own stack instead of recursing, so damaged links end a walk, never hang it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sqlite/ByteView.h"

namespace vantrel {

struct SqliteFile;

// Appends the leaf pages under the b-tree page image `page` (header at
// headerOffset, page number pageNo) in walk order: for an interior page the
// right-most subtree first, then each cell's subtree. Pages already visited
// are not walked again, so a damaged tree cannot loop. Returns 0.
int CollectLeafPages(const SqliteFile& db, ByteView page, uint32_t headerOffset, int32_t pageNo,
                     std::vector<int32_t>& leafPages);

// Appends the cell offsets of a leaf page in pointer-array order, skipping any
// offset that points into the header or the pointer array or past the usable
// part of the page (the other cells are still listed). Returns 0.
int ReadCellPointers(ByteView page, std::vector<uint16_t>& offsets, const SqliteFile& db,
                     bool isPage1);

// Decodes a varint of one to nine bytes (the ninth contributes all 8 bits).
// length = 0 when the bytes end before the varint does. Returns 0.
int DecodeVarint(ByteView bytes, uint64_t& value, int& length);

// Length mode (byteLength 1..255): splits that many header bytes into serial
// types; returns 0. Count mode (byteLength 0): decodes exactly count varints;
// returns the bytes used.
int SplitVarints(ByteView bytes, unsigned byteLength, std::vector<uint64_t>& serialTypes,
                 int count);

// Content size in bytes of a value of this serial type.
uint64_t SerialTypeSize(uint64_t serialType);

// Sorts offsets ascending in place.
void SortOffsets(uint16_t* offsets, size_t count);

// Appends first and every following overflow page number; stops at page 0,
// an unreadable page, a page beyond the file or a page already in the chain.
int CollectOverflowChain(const SqliteFile& db, int32_t firstPage, std::vector<int32_t>& chain);

// Reads the listed pages into dest (pages.size() * pageSize bytes): one page
// whole, or more as one run of payload (first page without its last 4 bytes,
// later ones without their first 4). Consumes the list. Returns 0.
int ReadPageList(const SqliteFile& db, uint8_t* dest, std::vector<int32_t>& pages);

// The number of payload bytes a table leaf cell keeps on its page, for
// payload length P and usable page size U (the file format's rule).
uint64_t LocalPayloadSize(uint64_t payloadLength, uint32_t usableSize);

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
};

// Builds the cell at offset cellOffset of leaf page `page`: reads its payload
// length and rowid, and when the payload overflows, joins the local part and
// the overflow chain (bounded, cycle-safe) into out.assembled. A chain that
// ends early leaves the payload short; reads past it see zeros (ByteView).
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

// Decodes the record header of a cell assembled by AssembleCellPayload.
// False when the header is damaged (H of 0 or 1, or H smaller than its own varint).
bool DecodeRecordHeader(const CellPayload& cell, RecordHeader& header);

}  // namespace vantrel
