#include "carve/RowReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "carve/FreePages.h"
#include "carve/PageWalk.h"
#include "platform/Text.h"
#include "sqlite/ColumnRules.h"
#include "sqlite/LogFrames.h"

namespace vantrel {

FoundAt FoundOnPage(const SqliteFile& db, uint32_t pageNo, size_t offset, Place place) {
  FoundAt at;
  at.file = db.name;
  at.page = pageNo;
  at.place = place;
  const auto frame = db.walIndex.find(pageNo);
  if (frame != db.walIndex.end() && db.pageSize != 0) {
    // The page was read from its newest committed log frame: the bytes are there.
    at.file += "-wal";
    at.offset = frame->second + offset;
    at.frame = LogFrameNumber(frame->second, db.pageSize);
    return at;
  }
  at.offset = uint64_t{pageNo - (pageNo > 0 ? 1u : 0u)} * db.pageSize + offset;
  return at;
}

void ReadPageSetRows(const SqliteFile& db, const PageSet& pageSet, RowList& live, RowList& carved,
                     const std::vector<ColumnDef>& columns, const CarveStep& carve,
                     FoundList* found) {
  VisitLeafPages(db, pageSet, [&](const LeafPage& page) {
    ReadLiveCells(db, page, columns, live);
    if (carve) carve(db, page, columns, carved, found);
  });
}

// Splitting and merging pages (a b-tree rebalanced after a run of deletes) moves live cells and
// leaves their old bytes behind in free space: a carved row equal to a live one, value for
// value (the rowid alias aside, which a carved row does not know), is such a copy, not a
// deleted row. A deleted row moved that way before it was deleted leaves two copies, on two
// pages: it is listed once, where it was first found.
void DropCopiesOfLiveRows(const TableInfo& table, const RowList& live, RowList& carved,
                          FoundList* found) {
  if (carved.empty()) return;
  const bool alias = !table.columns.empty() && IsRowidAlias(table.columns[0]);
  auto key = [&](const RowValues& row) {
    std::string joined;
    for (size_t i = alias ? 1 : 0; i < row.size(); ++i) {
      joined += row[i];
      joined += '\x1f';
    }
    return joined;
  };
  std::unordered_set<std::string> liveKeys;
  for (const RowValues& row : live) liveKeys.insert(key(row));
  std::unordered_set<std::string> listed;
  size_t kept = 0;
  const bool withFound = found && found->size() == carved.size();
  for (size_t k = 0; k < carved.size(); ++k) {
    std::string joined = key(carved[k]);
    if (liveKeys.count(joined) || !listed.insert(std::move(joined)).second) continue;
    if (kept != k) {
      carved[kept] = std::move(carved[k]);
      if (withFound) (*found)[kept] = std::move((*found)[k]);
    }
    ++kept;
  }
  carved.resize(kept);
  if (withFound) found->resize(kept);
}

TableRead ReadTable(const SqliteFile& db, const std::string& name, RowList& live, RowList& carved,
                    const CarveStep& carve, FoundList* found) {
  const TableInfo* table = FindTable(db, name);
  if (table == nullptr) return TableRead::Absent;
  for (const PageSet& set : table->pageSets) {
    const std::vector<ColumnDef> columns = table->columns;
    ReadPageSetRows(db, set, live, carved, columns, carve, found);
    // Leaves that lost every row are not in the leaf list; only carving has anything to read.
    if (carve) {
      PageSet empty;
      empty.leafPages = set.emptyLeafPages;
      VisitLeafPages(db, empty,
                     [&](const LeafPage& page) { carve(db, page, columns, carved, found); });
    }
  }
  DropCopiesOfLiveRows(*table, live, carved, found);
  return table->pageSets.empty() ? TableRead::NoPages : TableRead::Read;
}

}  // namespace vantrel
