// The table row reader: turns one table of an opened database into its live
// rows and the rows carved from the free space of its leaf pages, every value
// as UTF-8 text. It knows nothing of messages or contacts; the kind-specific
// readers reuse the live pass and swap the carving step for their own.
//
// Values are rendered by the rules of sqlite/Values.h.
//
// A live row holds one value per serial type of its record: fewer than the
// table's columns when the row predates an ALTER TABLE ADD COLUMN. A damaged
// cell (record header of size 0 or 1, header past the payload, more serial
// types than columns, pointer outside the page) is skipped; the rest of the
// page and of the table is still read.
//
// Carving (TemplateCarvePage) reads deleted records from a leaf page's free
// space: the unallocated gap between the cell pointer array and the first
// live cell, and each freeblock of the chain (what deleting leaves there:
// DeletedBytes.h). Leaves that lost every row are carved too, by the table's
// columns alone (ReadTable). A record is accepted either with intact varints that agree
// with each other (payload length = header + values) or, at a known cell start (a
// freeblock, the end of the record before it, a stale cell pointer, four bytes
// that read as an old freeblock header), with those four bytes reconstructed:
// every plausible varint layout is tried, the shape of the live cell nearest
// the first freeblock first. An intact record whose end leads to a boundary
// wins, then a reconstructed one with a value for every column ending right at
// a boundary or an old freeblock header, then one that leads there, then one
// with every column: a whole record a few bytes short of a live cell beats a
// chain of one-value slices, which are never listed in a wider table. Serial
// types must fit their columns by SQLite's affinity (FitsAffinity: a TEXT
// column never holds a number; the rowid alias is NULL), a reconstructed
// record holds no text in an INTEGER column and some value other than empty
// or zero, and text must be UTF-8, so carving does not invent rows. A
// record whose tail newer cells overwrote comes back cut: its values up to the region's end, the
// last text value cut there. An overflowing record's overflow pages are read as found; a page
// that became a freelist trunk goes on with its first leaf, and a text keeps its bytes on both
// sides of the links, one U+FFFD standing for the stretch they took; pages reused otherwise
// give replacement characters after the local part.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "carve/FoundAt.h"
#include "sqlite/BTree.h"
#include "sqlite/ByteView.h"
#include "sqlite/Page.h"
#include "sqlite/Schema.h"
#include "sqlite/SqliteFile.h"
#include "sqlite/Values.h"

namespace vantrel {

// One leaf page as the carving step sees it, after the live pass.
struct LeafPage {
  int32_t pageNo = 0;
  BTreePage tree;                     // the whole page image (pageSize bytes), parsed
  std::vector<uint16_t> liveOffsets;  // cell offsets of the live cells, pointer-array order
};

// Where carved rows were found: a carver given one appends one entry for each
// row it appends to its RowList, in the same order.
using FoundList = std::vector<FoundAt>;

// Where the byte at offset of page pageNo lies, as a record found there is
// shown: the file offset in the database file, or in the log when the page's
// current image is a log frame (then file names the log and frame is set;
// place stays what the page says).
FoundAt FoundOnPage(const SqliteFile& db, uint32_t pageNo, size_t offset, Place place);

// The carving step run on each leaf page after its live pass. The default is
// TemplateCarvePage; kind-specific readers pass their own. found may be null.
using CarveStep =
    std::function<void(const SqliteFile& db, const LeafPage& page,
                       const std::vector<ColumnDef>& columns, RowList& carved, FoundList* found)>;

// Live pass of one leaf page: appends one row per readable cell. Damaged cells
// are skipped and counted (Damage); every other cell of the page is still read.
void ReadLiveCells(const SqliteFile& db, const LeafPage& page,
                   const std::vector<ColumnDef>& columns, RowList& live);

// The streaming form of the live pass, for big tables: each readable cell's
// values are rendered into `row`, which is reused from cell to cell (its
// strings keep their buffers, so a warm pass allocates nothing per value), and
// handed to visit with the cell's rowid. A column whose flag in `wanted` is
// false is left "" (not rendered); an empty `wanted` renders every column.
// Rows hold the same number of values as ReadLiveCells gives them.
using LiveRowVisitor = std::function<void(const RowValues& row, uint64_t rowid)>;
void VisitLiveCells(const SqliteFile& db, const LeafPage& page,
                    const std::vector<ColumnDef>& columns, const std::vector<bool>& wanted,
                    RowValues& row, const LiveRowVisitor& visit);

// One readable live cell as its record stores it, for readers that want a few
// columns of a wide table as numbers: a value is decoded when it is asked
// for, an integer never goes through text, and what Text gives is exactly
// the value VisitLiveCells would have rendered. Valid only inside the visit.
class LiveCell {
 public:
  // Values in the record: fewer than the table's columns for a row older
  // than an ALTER TABLE ADD COLUMN.
  size_t size() const { return count_; }
  bool Has(size_t i) const { return i < count_; }
  uint64_t rowid() const { return payload_.rowid; }

  uint64_t SerialType(size_t i) const { return types_[i]; }
  // The value's content bytes, cut where the cell's bytes end.
  ByteView Content(size_t i) const;
  // Whether the cell holds every content byte of the value.
  bool Whole(size_t i) const { return Content(i).size() == SerialTypeSize(SerialType(i)); }

  // RenderValue's text, rendered once per cell and kept until the next.
  const std::string& Text(size_t i) const;
  // The same text put in out: rendered straight there unless it already was.
  void TextInto(size_t i, std::string& out) const;
  // Whether that text is empty.
  bool Empty(size_t i) const;
  // TextToInt of that text (RenderedInteger).
  int64_t Integer(size_t i) const;

 private:
  friend void VisitLiveCellValues(const SqliteFile& db, const LeafPage& page,
                                  const std::vector<ValueRules>& rules, LiveCell& cell,
                                  const std::function<void(const LiveCell& cell)>& visit);
  // Decodes the record header of payload_ (as DecodeRecordHeader does) with
  // where each value starts; false for a damaged header or more serial types
  // than the table has columns.
  bool Start(const std::vector<ValueRules>& rules);

  // Kept from cell to cell, so that their buffers are reused.
  CellPayload payload_;
  const std::vector<ValueRules>* rules_ = nullptr;
  // The record's serial types and where each value starts in payload_.bytes
  // (one past the end once the bytes have ended), count_ of them.
  std::vector<uint64_t> types_;
  std::vector<uint64_t> starts_;
  size_t count_ = 0;
  // Rendered texts; a text is current when its stamp is this cell's.
  mutable RowValues texts_;
  mutable std::vector<uint32_t> stamps_;
  uint32_t stamp_ = 0;
};

// A rendered row seen as a LiveCell is, so that one body of code reads rows
// of either kind.
class RenderedRow {
 public:
  explicit RenderedRow(const RowValues& row) : row_(row) {}
  size_t size() const { return row_.size(); }
  bool Has(size_t i) const { return i < row_.size(); }
  const std::string& Text(size_t i) const { return row_[i]; }
  void TextInto(size_t i, std::string& out) const { out = row_[i]; }
  bool Empty(size_t i) const { return row_[i].empty(); }
  int64_t Integer(size_t i) const { return TextToInt(row_[i]); }

 private:
  const RowValues& row_;
};

// The typed form of the live pass: each readable cell of the page, skipped and
// counted as VisitLiveCells does, handed to visit in `cell`, which is reused
// from cell to cell (and page to page) so that its buffers stay warm. rules
// holds one entry per column of the table (ValueRulesOf).
void VisitLiveCellValues(const SqliteFile& db, const LeafPage& page,
                         const std::vector<ValueRules>& rules, LiveCell& cell,
                         const std::function<void(const LiveCell& cell)>& visit);

// Reads the page set's table leaf pages in order and hands each to visit,
// parsed, with its live cell offsets. Pages that are not table leaves (or not
// read whole) and refused cell pointers are counted as damage; pages that are
// not table leaves are passed over. One page buffer serves the whole walk.
void VisitLeafPages(const SqliteFile& db, const PageSet& pageSet,
                    const std::function<void(const LeafPage& page)>& visit);

// The live cell whose shape deleted records near the first freeblock most
// likely share: the first live offset above it, or the highest; the lower
// neighbour wins when it is strictly nearer. sortedLive must not be empty.
uint16_t NearestLiveCell(const std::vector<uint16_t>& sortedLive, uint16_t firstFreeblock);

// Carving of one leaf page (see above): records from the unallocated gap and
// the freeblock chain, appended to carved in page order. A page without a live
// cell has no template: its records are read by the columns alone (a first
// serial type lost with the cell's first four bytes is tried as NULL and the
// integer types). Page 1 is not carved. Each row's place is Gap or Freeblock,
// LeafPage on a page without a live cell; its offset is where its cell began.
void TemplateCarvePage(const SqliteFile& db, const LeafPage& page,
                       const std::vector<ColumnDef>& columns, RowList& carved,
                       FoundList* found = nullptr);

// Reads the page set's leaf pages in order: for each, its live rows into live,
// then the carving step's rows into carved (and where they lay into found).
void ReadPageSetRows(const SqliteFile& db, const PageSet& pageSet, RowList& live, RowList& carved,
                     const std::vector<ColumnDef>& columns,
                     const CarveStep& carve = TemplateCarvePage, FoundList* found = nullptr);

// How reading a table went.
enum class TableRead : uint8_t {
  Read,     // its pages were read
  NoPages,  // it is in the catalogue, but its root page could not be read
  Absent,   // no table of that name (lists untouched)
};

// The whole table by exact name. After the page sets' leaves, their leaves
// without a cell (PageSet::emptyLeafPages) are handed to the carving step.
TableRead ReadTable(const SqliteFile& db, const std::string& name, RowList& live, RowList& carved,
                    const CarveStep& carve = TemplateCarvePage, FoundList* found = nullptr);

// Splitting and merging pages leaves copies of live rows in free space: drops every carved row
// equal to a live one (and to one carved before it), with its entry in found.
void DropCopiesOfLiveRows(const TableInfo& table, const RowList& live, RowList& carved,
                          FoundList* found);

// The table's rows kept by older images of its pages, which a write-ahead log leaves
// (DeletedBytes.h, 5): the committed frames older than a page's current one (an earlier
// run's included), the current image of a page that is none of the table's leaves now (a
// leaf freed in a committed transaction), and the database file's own image of a page the
// log holds newer. Each such image of one of the
// table's leaves gives its cells whose serial types fit the table and, unless most cells do
// not (the page then held another table), what its free space holds; an image of a page no
// table owns now (freed since), the same when most of its cells are given to this table by
// AssignTable (FreePages.h). A row equal to a live one or to one already in carved is left
// out.
// Rows from a frame are found at Place::LogFrame with the frame's number; rows from the file
// image keep the place the page shows (a whole cell there: Place::Unknown). Frames after the
// last commit are left alone: SQLite never showed their rows, so none of them was deleted.
void CarveOlderImages(const SqliteFile& db, const std::string& name, const RowList& live,
                      RowList& carved, FoundList* found = nullptr);

}  // namespace vantrel
