// One b-tree page as SQLite lays it out, parsed once: its type and header
// fields, its cell pointers, the walks over its freeblock chain and its
// unallocated gap, and the one reader of overflow chains. The reader and every
// carver take a page apart through these, so the format is read in one place.
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
//   +--------+-----------------+-----------------+------------------------------+
//   | header | cell pointers   | unallocated gap | cell content area: cells and |
//   | 8 / 12 | 2 bytes a cell  |                 | freeblocks, growing downward |
//   +--------+-----------------+-----------------+------------------------------+
//
// Freeblock: 2-byte offset of the next freeblock (0 = last), 2-byte size, then
// whatever the freed cell held. Overflow page: 4-byte next page number (0 ends
// the chain), then U - 4 bytes of payload (U: the usable size).
//
// Every walk here is bounded: a freeblock or an overflow page is entered once
// per walk and never outside its page or file, so damaged links end a walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "sqlite/ByteView.h"

namespace vantrel {

struct SqliteFile;

enum class PageType : uint8_t {
  InteriorIndex = 2,
  InteriorTable = 5,
  LeafIndex = 10,
  LeafTable = 13,
};

// Header bytes of a leaf page; interior pages add the right-most child.
inline constexpr size_t kLeafHeaderSize = 8;
inline constexpr size_t kInteriorHeaderSize = 12;
// Where the b-tree page header of page 1 starts: after the database header.
inline constexpr uint32_t kPage1HeaderOffset = 100;

// The bytes of a page that hold page data: the page size less the reserved
// bytes the header names. The page size itself while no header was accepted.
uint32_t UsableSize(const SqliteFile& db);

// A freeblock as the walk hands it over: where it starts and where it ends,
// its size cut at the usable end of the page.
struct Freeblock {
  size_t offset = 0;
  size_t end = 0;
};

// A stretch of a page, [begin, end).
struct PageRange {
  size_t begin = 0;
  size_t end = 0;
};

// How a freeblock walk ended: at a zero link, or at a link that leaves the
// allowed part of the page or comes back to a block already visited.
enum class ChainEnd : uint8_t { Complete, Broken };

struct BTreePage {
  ByteView bytes;             // the whole page image (a short last page of the file stays short)
  uint32_t headerOffset = 0;  // 100 on page 1
  uint32_t usableSize = 0;    // never more than bytes.size()
  uint8_t typeByte = 0;
  uint16_t firstFreeblock = 0;
  uint16_t cellCount = 0;
  uint32_t contentStart = 0;  // the header's 0 read as 65536
  uint8_t fragmentedBytes = 0;
  uint32_t rightChild = 0;  // interior pages only, else 0

  bool Is(PageType type) const { return typeByte == static_cast<uint8_t>(type); }
  bool IsInterior() const { return Is(PageType::InteriorTable) || Is(PageType::InteriorIndex); }
  size_t HeaderSize() const { return IsInterior() ? kInteriorHeaderSize : kLeafHeaderSize; }
  size_t PointerArrayStart() const { return headerOffset + HeaderSize(); }
  // One past the last cell pointer the cell count names.
  size_t PointerArrayEnd() const {
    return PointerArrayStart() + 2 * static_cast<size_t>(cellCount);
  }
  // Pointer k as stored, unchecked: past the array it reads the stale
  // pointers deleted cells left behind (zeros beyond the page).
  uint16_t CellPointer(size_t k) const { return bytes.U16(PointerArrayStart() + 2 * k); }

  // Appends the cell offsets in pointer-array order, skipping any offset that
  // points into the header or the pointer array or past the usable part of the
  // page (the other cells are still listed), and stopping where the array
  // leaves the page. Returns how many of the cell count were not listed.
  size_t CellPointers(std::vector<uint16_t>& offsets) const;

  // Calls visit(Freeblock) for each block of the freeblock chain from the
  // header's first freeblock. A block is visited when it starts at `lowest` or
  // later and its 4-byte header lies inside the usable part; each block once.
  template <typename Visit>
  ChainEnd ForEachFreeblock(size_t lowest, Visit&& visit) const;

  // The unallocated gap as the cells show it: from the end of the pointer
  // array to the lowest of liveOffsets (the usable end when there are none).
  // begin may lie past end on a damaged page.
  PageRange GapBelowCells(const std::vector<uint16_t>& liveOffsets) const;
  // The unallocated gap as the header states it: from the end of the pointer
  // array to the start of the cell content area.
  PageRange GapByHeader() const { return {PointerArrayEnd(), contentStart}; }
};

// Parses the page header at headerOffset of the page image `bytes`.
// usableSize is cut to the image's size.
BTreePage ParsePage(ByteView bytes, uint32_t headerOffset = 0, size_t usableSize = SIZE_MAX);

template <typename Visit>
ChainEnd BTreePage::ForEachFreeblock(size_t lowest, Visit&& visit) const {
  if (firstFreeblock == 0) return ChainEnd::Complete;
  std::vector<bool> visited(usableSize, false);
  size_t f = firstFreeblock;
  while (f != 0) {
    if (f < lowest || f + 4 > usableSize || visited[f]) return ChainEnd::Broken;
    visited[f] = true;
    const size_t next = bytes.U16(f);
    const size_t end = f + bytes.U16(f + 2);
    visit(Freeblock{f, end < usableSize ? end : usableSize});
    f = next;
  }
  return ChainEnd::Complete;
}

// Freelist trunk page: 4-byte next trunk page (0 = last), 4-byte count of
// leaf pages, then the leaf page numbers, 4 bytes each.
inline constexpr size_t kTrunkLeafCount = 4;
inline constexpr size_t kTrunkFirstLeaf = 8;

// The trunk pages of the database's freelist, from the first one the database
// header names. Bounded by the page limit and a visited set.
std::unordered_set<uint32_t> FreelistTrunkPages(const SqliteFile& db);

// Every page of the freelist, trunks and the leaf pages they list, from the
// first trunk the database header names. Bounded like FreelistTrunkPages;
// leaf numbers outside the page limit are left out.
std::unordered_set<uint32_t> FreelistPages(const SqliteFile& db);

// Reads an overflow chain page by page. The chain ends at page number 0, and
// is broken at a page past the file's last page, at a page already in this
// chain, or at one that cannot be read whole (the file's read budget spent
// included): so no damaged chain can loop or run on.
class OverflowChain {
 public:
  OverflowChain(const SqliteFile& db, uint32_t firstPage) : db_(db), next_(firstPage) {}

  // The page number the chain goes on with; 0 once it has ended.
  uint32_t Upcoming() const { return next_; }
  // The page Next read last.
  uint32_t Current() const { return current_; }
  // Reads the next page of the chain whole into page; false when the chain
  // ended or broke.
  bool Next(std::vector<uint8_t>& page);
  // Goes on with another page than the one the current page names (a freed
  // chain whose page became a freelist trunk).
  void Redirect(uint32_t next) { next_ = next; }
  bool Broken() const { return broken_; }

 private:
  const SqliteFile& db_;
  uint32_t next_ = 0;
  uint32_t current_ = 0;
  bool broken_ = false;
  std::unordered_set<uint32_t> visited_;
};

// Appends up to `want` bytes of payload from the overflow chain that starts at
// firstPage to out, U - 4 bytes a page. Returns the bytes still owed when the
// chain ended or broke first (0 when all arrived); broken tells which.
uint64_t AppendOverflowPayload(const SqliteFile& db, uint32_t firstPage, uint64_t want,
                               std::vector<uint8_t>& out, bool* broken = nullptr);

// The overflow chains of deleted cells, which went to the freelist with them.
// Freeing a chain hands its pages to the freelist in chain order. A page freed
// while the freelist has no trunk with room becomes the new trunk: its
// next-page field and the first bytes of its content are overwritten with the
// freelist's own links (next trunk, leaf count, leaf page numbers), and the
// pages freed after it, the rest of the chain, are listed as its leaves in
// order. Such a page goes on with its first leaf.
class FreedOverflowChains {
 public:
  explicit FreedOverflowChains(const SqliteFile& db) : db_(db) {}

  // A stretch [begin, end) of a joined payload that the freelist's links
  // overwrote.
  struct Overwritten {
    size_t begin = 0;
    size_t end = 0;
  };

  // Appends up to `want` payload bytes of the freed chain from firstPage to
  // out, usable - 4 a page (usable: the usable size of the page the cell lies
  // on), noting each stretch a trunk's links took in overwritten. Bounded by
  // the bytes wanted and by OverflowChain; page 1, never freed, ends it.
  void Append(uint32_t usable, uint32_t firstPage, uint64_t want, std::vector<uint8_t>& out,
              std::vector<Overwritten>& overwritten);

 private:
  const SqliteFile& db_;
  // The freelist's trunk pages, read when a chain is first followed and kept:
  // a carve meets hundreds of long texts, and the trunks do not change while
  // it runs.
  bool trunksRead_ = false;
  std::unordered_set<uint32_t> trunks_;
};

}  // namespace vantrel
