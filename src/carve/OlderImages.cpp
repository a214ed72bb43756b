#include "carve/OlderImages.h"

#include "carve/FreePages.h"
#include "carve/RowReader.h"

#include <unordered_set>
#include <vector>

#include "carve/PageWalk.h"
#include "sqlite/BTree.h"
#include "sqlite/ColumnRules.h"
#include "sqlite/Page.h"

namespace vantrel {

namespace {

bool FitsColumns(const std::vector<ColumnDef>& columns, const std::vector<uint64_t>& types) {
  if (types.empty() || types.size() > columns.size()) return false;
  for (size_t i = 0; i < types.size(); ++i) {
    if (i == 0 && IsRowidAlias(columns[0]) && types[0] != 0) return false;
    if (!FitsAffinity(AffinityOf(columns[i].type), types[i])) return false;
  }
  return true;
}

// Whether every cell of the page holds a record of the table, one of them
// with a value for every column.
bool CellsAreTheTables(const SqliteFile& db, const LeafPage& page,
                       const std::vector<ColumnDef>& columns) {
  bool whole = false;
  CellPayload cell;
  RecordHeader header;
  for (uint16_t offset : page.liveOffsets) {
    if (!AssembleCellPayload(db, page.tree.bytes, offset, cell) ||
        !DecodeRecordHeader(cell, header) || !FitsColumns(columns, header.serialTypes))
      return false;
    whole = whole || header.serialTypes.size() == columns.size();
  }
  return whole;
}

}  // namespace

void ReadOlderImagesOfTable(const SqliteFile& db, const std::string& name, RowList& rows,
                            FoundList& found) {
  const TableInfo* table = FindTable(db, name);
  if (!table || db.walIndex.empty() || db.pageSize == 0) return;
  const std::vector<ColumnDef>& columns = table->columns;
  std::unordered_set<uint32_t> leaves;
  for (const PageSet& set : table->pageSets) {
    for (int32_t p : set.leafPages) leaves.insert(static_cast<uint32_t>(p));
    for (int32_t p : set.emptyLeafPages) leaves.insert(static_cast<uint32_t>(p));
  }
  std::vector<uint8_t> image;
  RowValues row;
  RowList carved;
  FoundList carvedAt;
  // base: where the image's first byte lies; each row's offset in the page is added to it.
  const auto read = [&](ByteView block, uint32_t pageNo, const FoundAt& base) {
    if (pageNo < 2) return;
    image.assign(block.data(), block.data() + block.size());
    image.resize(db.pageSize, 0);
    LeafPage page;
    page.pageNo = static_cast<int32_t>(pageNo);
    page.tree = ParsePage(ByteView(image.data(), image.size()), 0, UsableSize(db));
    if (!page.tree.Is(PageType::LeafTable)) return;
    page.tree.CellPointers(page.liveOffsets);
    if (page.liveOffsets.empty() ? !leaves.count(pageNo) : !CellsAreTheTables(db, page, columns))
      return;
    for (uint16_t offset : page.liveOffsets) {
      LeafPage one = page;
      one.liveOffsets.assign(1, offset);
      VisitLiveCells(db, one, columns, {}, row, [&](const RowValues& values, uint64_t) {
        rows.push_back(values);
        found.push_back(base);
        found.back().offset += offset;
      });
    }
    carved.clear();
    carvedAt.clear();
    TemplateCarvePage(db, page, columns, carved, &carvedAt);
    // The carving names where the page's current image lies: only the offset
    // in the page is kept.
    const uint64_t current = FoundOnPage(db, pageNo, 0, Place::Unknown).offset;
    for (size_t k = 0; k < carved.size() && k < carvedAt.size(); ++k) {
      rows.push_back(std::move(carved[k]));
      found.push_back(base);
      found.back().offset += carvedAt[k].offset - current;
      if (base.place != Place::LogFrame) found.back().place = carvedAt[k].place;
    }
  };
  FoundAt inFile;
  inFile.file = db.name;
  WalkFileImagesOfLoggedLeaves(db, *table, [&](ByteView block, uint32_t pageNo) {
    inFile.page = pageNo;
    inFile.offset = uint64_t{pageNo - 1} * db.pageSize;
    read(block, pageNo, inFile);
  });
  // The log's older frames, and the current image of a page that is no live leaf of the table:
  // a leaf freed in a committed transaction keeps its rows only there. The current image of a
  // leaf without a cell is the table reader's to carve.
  std::unordered_set<uint32_t> empty;
  for (const PageSet& set : table->pageSets)
    for (int32_t p : set.emptyLeafPages) empty.insert(static_cast<uint32_t>(p));
  WalkLogFramesOutsideLeaves(db, table, [&](ByteView block, const FoundAt& frame, bool current) {
    if (current && empty.count(frame.page)) return;
    read(block, frame.page, frame);
  });
}

namespace {

// The leaves of a table, with those that lost every row.
std::unordered_set<uint32_t> LeafPagesOf(const TableInfo& table) {
  std::unordered_set<uint32_t> pages;
  for (const PageSet& set : table.pageSets) {
    for (int32_t p : set.leafPages) pages.insert(static_cast<uint32_t>(p));
    for (int32_t p : set.emptyLeafPages) pages.insert(static_cast<uint32_t>(p));
  }
  return pages;
}

// The leaves of the tables other than name, and of the schema. The schema's
// own leaves hold table records too, whose types may fit this table's
// columns: page 1, whatever it was in an older image, and the schema's other
// leaves now.
std::unordered_set<uint32_t> LeavesOfOtherTables(const SqliteFile& db, const std::string& name) {
  std::unordered_set<uint32_t> otherPages;
  for (const auto& [other, info] : db.tableMap) {
    if (other == name) continue;
    for (const PageSet& set : info.pageSets) {
      for (int32_t p : set.leafPages) otherPages.insert(static_cast<uint32_t>(p));
      for (int32_t p : set.emptyLeafPages) otherPages.insert(static_cast<uint32_t>(p));
    }
  }
  otherPages.insert(1);
  std::vector<uint8_t> page1;
  if (ReadPageNumber(db, 1, page1) == PageRead::Whole) {
    std::vector<int32_t> schemaLeaves;
    CollectLeafPages(db, ByteView(page1.data(), page1.size()), kPage1HeaderOffset, 1, schemaLeaves);
    for (int32_t p : schemaLeaves) otherPages.insert(static_cast<uint32_t>(p));
  }
  return otherPages;
}

// Whether a record's serial types fit the columns: no more values than
// columns, NULL in the rowid alias, each other value by its column's affinity.
bool TypesFitColumns(const std::vector<ColumnDef>& columns, const std::vector<uint64_t>& types) {
  bool fits = !types.empty() && types.size() <= columns.size();
  for (size_t i = 0; fits && i < types.size(); ++i)
    fits = (i == 0 && IsRowidAlias(columns[0]))
               ? types[0] == 0
               : FitsAffinity(AffinityOf(columns[i].type), types[i]);
  return fits;
}

// A cell's record as a row, each value rendered by its column.
RowValues RowOfCell(const CellPayload& cell, const RecordHeader& header,
                    const std::vector<ColumnDef>& columns) {
  const std::vector<uint64_t>& types = header.serialTypes;
  RowValues row(types.size());
  size_t at = header.bodyOffset;
  for (size_t i = 0; i < types.size(); ++i) {
    const uint64_t size = SerialTypeSize(types[i]);
    RenderValue(types[i], cell.bytes.Sub(at, size), columns[i], false, cell.rowid, row[i]);
    at = size > cell.bytes.size() ? cell.bytes.size() + 1 : at + static_cast<size_t>(size);
  }
  return row;
}

// Carves the older images of one table's pages: each image's cells as whole
// rows, then its free space by the carving step. Appends the rows to carved
// and where each lay to places.
class OlderImageCarver {
 public:
  OlderImageCarver(const SqliteFile& db, const std::string& name, const TableInfo& table,
                   RowList& carved, FoundList& places)
      : db_(db),
        name_(name),
        columns_(table.columns),
        ownPages_(LeafPagesOf(table)),
        otherPages_(LeavesOfOtherTables(db, name)),
        carved_(carved),
        places_(places) {}

  // One older image of pageNo, whose first byte lies at where. The image may
  // be of the page when another table had it (a page freed and reused): its
  // cells are this table's rows only when their serial types fit its
  // columns, and its free space is read by them when most cells do.
  void Carve(std::vector<uint8_t>& image, uint32_t pageNo, const FoundAt& where) {
    LeafPage page;
    page.pageNo = static_cast<int32_t>(pageNo);
    page.tree =
        ParsePage(ByteView(image.data(), image.size()), pageNo == 1 ? 100 : 0, UsableSize(db_));
    const bool own = ownPages_.count(pageNo) != 0;
    if ((!own && otherPages_.count(pageNo)) || !page.tree.Is(PageType::LeafTable)) return;
    page.tree.CellPointers(page.liveOffsets);
    RowList rows;
    FoundList foundHere;
    const size_t cellCount = TakeFittingCells(page, own, where, rows, foundHere);
    if (cellCount != 0 ? rows.size() * 2 <= cellCount : !own) return;  // another table's image
    CarveFreeSpace(page, where, rows, foundHere);
    rows.resize(foundHere.size());
    for (size_t k = 0; k < rows.size(); ++k) {
      carved_.push_back(std::move(rows[k]));
      places_.push_back(foundHere[k]);
    }
  }

 private:
  // The page's cells that are this table's rows, into rows and foundHere.
  // Returns how many cells could be read at all.
  size_t TakeFittingCells(const LeafPage& page, bool own, const FoundAt& where, RowList& rows,
                          FoundList& foundHere) {
    CellPayload cell;
    RecordHeader header;
    size_t cellCount = 0;
    for (uint16_t offset : page.liveOffsets) {
      if (!AssembleCellPayload(db_, page.tree.bytes, offset, cell) ||
          !DecodeRecordHeader(cell, header))
        continue;
      ++cellCount;
      // On a page no table owns now, a record is taken for this table's only when this is the
      // table its types are given to among all of the schema.
      if (!TypesFitColumns(columns_, header.serialTypes) ||
          (!own && AssignTable(db_, header.serialTypes) != name_))
        continue;
      rows.push_back(RowOfCell(cell, header, columns_));
      FoundAt found = where;
      found.offset += offset;
      if (found.frame == 0) found.place = Place::Unknown;
      foundHere.push_back(found);
    }
    return cellCount;
  }

  // The rows the carving step reads in the page's gap and freeblocks,
  // appended to rows and foundHere.
  void CarveFreeSpace(const LeafPage& page, const FoundAt& where, RowList& rows,
                      FoundList& foundHere) {
    FoundList freeFound;
    const size_t cells = rows.size();
    TemplateCarvePage(db_, page, columns_, rows, &freeFound);
    // The carving step names the page's current image; the bytes are in this one.
    const uint64_t current =
        FoundOnPage(db_, static_cast<uint32_t>(page.pageNo), 0, Place::Unknown).offset;
    for (size_t k = 0; k + cells < rows.size() && k < freeFound.size(); ++k) {
      FoundAt at = where;
      at.offset += freeFound[k].offset - current;
      if (at.frame == 0) at.place = freeFound[k].place;
      foundHere.push_back(at);
    }
  }

  const SqliteFile& db_;
  const std::string& name_;
  const std::vector<ColumnDef>& columns_;
  const std::unordered_set<uint32_t> ownPages_;
  const std::unordered_set<uint32_t> otherPages_;  // leaves of the other tables and of the schema
  RowList& carved_;
  FoundList& places_;
};

// The database file's images of pages whose current image is in the log.
void CarveFileImagesOfLoggedPages(const SqliteFile& db, OlderImageCarver& carver) {
  std::vector<uint8_t> image(db.pageSize);
  for (const auto& [pageNo, offset] : db.walIndex) {
    const uint64_t at = uint64_t{pageNo - 1} * db.pageSize;
    if (pageNo == 0 || !db.mainFile.ReadExact(at, image.data(), image.size())) continue;
    FoundAt where;
    where.file = db.name;
    where.page = pageNo;
    where.offset = at;
    carver.Carve(image, pageNo, where);
  }
}

// The log's older images, and the current images of pages that are none of
// the table's leaves now (a leaf it freed keeps its rows only there).
void CarveLogImages(const SqliteFile& db, const TableInfo& table, OlderImageCarver& carver) {
  std::vector<uint8_t> image;
  WalkLogFramesOutsideLeaves(db, &table, [&](ByteView block, const FoundAt& where, bool) {
    image.assign(block.data(), block.data() + block.size());
    carver.Carve(image, where.page, where);
  });
}

// Gives the rows carved from before on their places in found, and leaves
// out copies of live rows and of rows already listed (the same row in
// several images). When found does not hold a place for each earlier row,
// the places go to a list of the call's own.
void PlaceRowsAndDropCopies(const TableInfo& table, const RowList& live, size_t before,
                            const FoundList& places, RowList& carved, FoundList* found) {
  FoundList all;
  FoundList* keep = found;
  if (found == nullptr || found->size() != before) {
    all.assign(before, FoundAt{});
    keep = &all;
  }
  keep->insert(keep->end(), places.begin(), places.end());
  DropCopiesOfLiveRows(table, live, carved, keep);
}

}  // namespace

void CarveOlderImages(const SqliteFile& db, const std::string& name, const RowList& live,
                      RowList& carved, FoundList* found) {
  const TableInfo* table = FindTable(db, name);
  if (table == nullptr || !db.walFile.IsOpen() || db.walIndex.empty() || db.pageSize == 0) return;
  const size_t before = carved.size();
  FoundList places;
  OlderImageCarver carver(db, name, *table, carved, places);
  CarveFileImagesOfLoggedPages(db, carver);
  CarveLogImages(db, *table, carver);
  if (carved.size() == before) return;
  PlaceRowsAndDropCopies(*table, live, before, places, carved, found);
}

}  // namespace vantrel
