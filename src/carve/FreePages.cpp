#include "carve/FreePages.h"

#include <algorithm>
#include <map>
#include <set>

#include "carve/RowReader.h"
#include "sqlite/BTree.h"
#include "sqlite/ColumnRules.h"
#include "sqlite/Page.h"

namespace vantrel {

namespace {

bool Fits(const std::vector<ColumnDef>& columns, const std::vector<uint64_t>& types) {
  if (types.empty() || types.size() > columns.size()) return false;
  for (size_t i = 0; i < types.size(); ++i) {
    if (i == 0 && IsRowidAlias(columns[0]) && types[0] != 0) return false;
    if (!FitsAffinity(AffinityOf(columns[i].type), types[i])) return false;
  }
  return true;
}

std::string Shape(const std::vector<uint64_t>& types) {
  std::string shape = "shape:";
  for (uint64_t t : types) {
    shape += t == 0                    ? 'N'
             : t == 7                  ? 'R'
             : t <= 9                  ? 'I'
             : IsTextSerialType(t)     ? 'T'
             : t >= 12 && (t & 1) == 0 ? 'B'
                                       : '?';
  }
  return shape;
}

// The pages outside the live trees: the freelist, and the pages past the
// database's size that the file still holds.
std::vector<uint32_t> PagesOutsideLiveTrees(const SqliteFile& db) {
  const std::unordered_set<uint32_t> free = FreelistPages(db);
  std::set<uint32_t> pages(free.begin(), free.end());
  const uint32_t inFile = PagesInDatabaseFile(db);
  for (uint32_t p = PageLimit(db) + 1; p <= inFile; ++p) pages.insert(p);
  return {pages.begin(), pages.end()};
}

// The values of a row as one key, the rowid alias left out (a carved row does not know it).
std::string RowKey(const std::vector<ColumnDef>* columns, const RowValues& row) {
  const bool alias = columns && !columns->empty() && IsRowidAlias((*columns)[0]);
  std::string key;
  for (size_t i = alias ? 1 : 0; i < row.size(); ++i) {
    key += row[i];
    key += '\x1f';
  }
  return key;
}

// What is listed: no copy of a live row (pages split and merged leave old
// copies of live cells behind), and no record twice.
class Listing {
 public:
  explicit Listing(const SqliteFile& db) : db_(db) {}

  bool Add(const std::string& table, const std::vector<ColumnDef>* columns, const RowValues& row) {
    const std::string key = RowKey(columns, row);
    if (columns && LiveKeys(table, columns).count(key)) return false;
    return seen_.insert(table + '\x1e' + key).second;
  }

 private:
  const std::set<std::string>& LiveKeys(const std::string& table,
                                        const std::vector<ColumnDef>* columns) {
    auto [it, added] = live_.try_emplace(table);
    if (added) {
      RowList live, unused;
      ReadTable(db_, table, live, unused, CarveStep());
      for (const RowValues& row : live) it->second.insert(RowKey(columns, row));
    }
    return it->second;
  }

  const SqliteFile& db_;
  std::map<std::string, std::set<std::string>> live_;
  std::set<std::string> seen_;
};

}  // namespace

std::string AssignTable(const SqliteFile& db, const std::vector<uint64_t>& serialTypes,
                        const std::vector<DroppedTable>& dropped, uint32_t pageNo) {
  // The candidates in the order ties are broken in: a dropped table rooted
  // on this page, the live tables, the other dropped ones.
  std::vector<std::pair<std::string, const SchemaTable*>> candidates;
  for (const DroppedTable& table : dropped)
    if (pageNo != 0 && table.table.rootPage == static_cast<int32_t>(pageNo))
      candidates.emplace_back(kDroppedPrefix + table.table.name, &table.table);
  for (const SchemaTable& table : db.schemaTables) candidates.emplace_back(table.name, &table);
  for (const DroppedTable& table : dropped)
    if (pageNo == 0 || table.table.rootPage != static_cast<int32_t>(pageNo))
      candidates.emplace_back(kDroppedPrefix + table.table.name, &table.table);
  const std::string* fewer = nullptr;
  for (const auto& [name, table] : candidates) {
    if (!Fits(table->columns, serialTypes)) continue;
    if (table->columns.size() == serialTypes.size()) return name;
    if (fewer == nullptr) fewer = &name;
  }
  return fewer ? *fewer : Shape(serialTypes);
}

std::vector<FreePageRecord> CarveFreePages(const SqliteFile& db,
                                           const std::vector<DroppedTable>& dropped) {
  std::vector<FreePageRecord> out;
  if (db.pageSize == 0) return out;
  std::map<std::string, const std::vector<ColumnDef>*> columnsOf;
  for (const SchemaTable& table : db.schemaTables) columnsOf.emplace(table.name, &table.columns);
  for (const DroppedTable& table : dropped)
    columnsOf.emplace(kDroppedPrefix + table.table.name, &table.table.columns);
  const ColumnDef anyColumn;  // no declared type: every value as stored
  std::vector<uint8_t> buffer;
  CellPayload cell;
  RecordHeader header;
  Listing listing(db);
  // Carves the page image in buffer. fileImage: the database file's own image of
  // a page whose current image is in the log, where only a dropped table's records
  // are taken (the others are a live table's older rows, not what this listing is for).
  const auto carvePage = [&](uint32_t pageNo, bool fileImage) {
    // Where the byte at offset of the page lies.
    const auto at = [&](size_t offset) {
      if (!fileImage) return FoundOnPage(db, pageNo, offset, Place::FreePage);
      FoundAt where;
      where.file = db.name;
      where.page = pageNo;
      where.offset = uint64_t{pageNo - 1} * db.pageSize + offset;
      return where;
    };
    const auto wanted = [&](const std::string& table) {
      return !fileImage || table.rfind(kDroppedPrefix, 0) == 0;
    };
    LeafPage page;
    page.pageNo = static_cast<int32_t>(pageNo);
    page.tree = ParsePage(ByteView(buffer.data(), buffer.size()), 0, UsableSize(db));
    if (!page.tree.Is(PageType::LeafTable)) return;
    page.tree.CellPointers(page.liveOffsets);

    // The cells the page held when it was last part of a table: whole records.
    std::map<std::string, size_t> votes;
    for (uint16_t offset : page.liveOffsets) {
      if (!AssembleCellPayload(db, page.tree.bytes, offset, cell) ||
          !DecodeRecordHeader(cell, header))
        continue;
      FreePageRecord record;
      record.table = AssignTable(db, header.serialTypes, dropped, pageNo);
      const auto known = columnsOf.find(record.table);
      record.row.resize(header.serialTypes.size());
      size_t pos = header.bodyOffset;
      for (size_t i = 0; i < header.serialTypes.size(); ++i) {
        const uint64_t size = SerialTypeSize(header.serialTypes[i]);
        const ColumnDef& column = known != columnsOf.end() ? (*known->second)[i] : anyColumn;
        RenderValue(header.serialTypes[i], cell.bytes.Sub(pos, size), column, false, cell.rowid,
                    record.row[i]);
        pos = size > cell.bytes.size() ? cell.bytes.size() + 1 : pos + static_cast<size_t>(size);
      }
      record.found = at(offset);
      if (known != columnsOf.end()) ++votes[record.table];
      if (wanted(record.table) &&
          listing.Add(record.table, known != columnsOf.end() ? known->second : nullptr, record.row))
        out.push_back(std::move(record));
    }

    // Its gap and freeblocks, by the columns of the table most of its cells
    // fit; a page without cells is tried against every table in turn.
    std::vector<std::string> tables;
    if (!votes.empty()) {
      tables.push_back(
          std::max_element(votes.begin(), votes.end(), [](const auto& a, const auto& b) {
            return a.second < b.second;
          })->first);
    } else if (page.liveOffsets.empty()) {
      for (const DroppedTable& table : dropped)
        if (table.table.rootPage == static_cast<int32_t>(pageNo))
          tables.push_back(kDroppedPrefix + table.table.name);
      if (!fileImage)
        for (const SchemaTable& table : db.schemaTables) tables.push_back(table.name);
      for (const DroppedTable& table : dropped)
        if (table.table.rootPage != static_cast<int32_t>(pageNo))
          tables.push_back(kDroppedPrefix + table.table.name);
    }
    const uint64_t current = FoundOnPage(db, pageNo, 0, Place::FreePage).offset;
    for (const std::string& name : tables) {
      if (!wanted(name)) continue;
      RowList carved;
      FoundList found;
      TemplateCarvePage(db, page, *columnsOf[name], carved, &found);
      for (size_t k = 0; k < carved.size() && k < found.size(); ++k) {
        if (listing.Add(name, columnsOf[name], carved[k]))
          out.push_back({name, std::move(carved[k]), at(found[k].offset - current)});
      }
      if (!carved.empty()) break;  // the first table whose columns read records
    }
  };

  const std::unordered_set<uint32_t> trunks = FreelistTrunkPages(db);
  for (uint32_t pageNo : PagesOutsideLiveTrees(db)) {
    if (pageNo < 2) continue;
    if (ReadPageNumber(db, pageNo, buffer) == PageRead::NoPage) continue;
    if (trunks.count(pageNo)) {
      // A trunk's links took its front (the b-tree header and cell pointers
      // of the leaf it was); the cells at its end are still there. It is read
      // as a leaf that lost every row, its links taken for zeros.
      const ByteView view(buffer.data(), buffer.size());
      const size_t links = kTrunkFirstLeaf + 4 * static_cast<size_t>(view.U32(kTrunkLeafCount));
      std::fill(buffer.begin(), buffer.begin() + std::min(links, buffer.size()), 0);
      buffer[0] = static_cast<uint8_t>(PageType::LeafTable);
    }
    carvePage(pageNo, false);
  }
  // A dropped table's pages the log handed out again keep its records in the
  // database file's own image of them.
  if (!dropped.empty() && db.mainFile.IsOpen()) {
    const uint32_t inFile = PagesInDatabaseFile(db);
    for (const auto& [pageNo, offset] : db.walIndex) {
      if (pageNo < 2 || pageNo > inFile) continue;
      buffer.assign(db.pageSize, 0);
      if (db.mainFile.ReadAt(uint64_t{pageNo - 1} * db.pageSize, buffer.data(), buffer.size()) == 0)
        continue;
      carvePage(pageNo, true);
    }
  }
  return out;
}

}  // namespace vantrel
