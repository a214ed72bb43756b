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

}  // namespace vantrel
