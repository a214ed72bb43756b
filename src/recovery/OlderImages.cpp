#include "recovery/OlderImages.h"

#include <unordered_set>
#include <vector>

#include "recovery/ColumnRules.h"
#include "recovery/PageWalk.h"
#include "sqlite/BTree.h"
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

}  // namespace vantrel
