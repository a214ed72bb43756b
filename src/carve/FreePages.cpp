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

namespace {

// Carves page images for records of the schema's tables and the dropped
// ones, and keeps what the listing lets through.
class FreePageCarver {
 public:
  FreePageCarver(const SqliteFile& db, const std::vector<DroppedTable>& dropped)
      : db_(db), dropped_(dropped), listing_(db) {
    for (const SchemaTable& table : db.schemaTables) columnsOf_.emplace(table.name, &table.columns);
    for (const DroppedTable& table : dropped)
      columnsOf_.emplace(kDroppedPrefix + table.table.name, &table.table.columns);
  }

  // Carves the page image of pageNo. fileImage: the database file's own image
  // of a page whose current image is in the log, where only a dropped table's
  // records are taken (the others are a live table's older rows, not what
  // this listing is for).
  void CarvePage(const std::vector<uint8_t>& image, uint32_t pageNo, bool fileImage) {
    LeafPage page;
    page.pageNo = static_cast<int32_t>(pageNo);
    page.tree = ParsePage(ByteView(image.data(), image.size()), 0, UsableSize(db_));
    if (!page.tree.Is(PageType::LeafTable)) return;
    page.tree.CellPointers(page.liveOffsets);
    const std::map<std::string, size_t> votes = TakeCells(page, fileImage);
    CarveFreeSpace(page, FreeSpaceTables(votes, page, fileImage), fileImage);
  }

  std::vector<FreePageRecord> TakeRecords() { return std::move(out_); }

 private:
  // Where the byte at offset of the page lies.
  FoundAt Where(uint32_t pageNo, bool fileImage, size_t offset) const {
    if (!fileImage) return FoundOnPage(db_, pageNo, offset, Place::FreePage);
    FoundAt where;
    where.file = db_.name;
    where.page = pageNo;
    where.offset = uint64_t{pageNo - 1} * db_.pageSize + offset;
    return where;
  }

  static bool Wanted(const std::string& table, bool fileImage) {
    return !fileImage || table.rfind(kDroppedPrefix, 0) == 0;
  }

  // The cells the page held when it was last part of a table: whole records.
  // Returns how many of them each known table's columns fit.
  std::map<std::string, size_t> TakeCells(const LeafPage& page, bool fileImage) {
    const uint32_t pageNo = static_cast<uint32_t>(page.pageNo);
    std::map<std::string, size_t> votes;
    for (uint16_t offset : page.liveOffsets) {
      if (!AssembleCellPayload(db_, page.tree.bytes, offset, cell_) ||
          !DecodeRecordHeader(cell_, header_))
        continue;
      FreePageRecord record;
      record.table = AssignTable(db_, header_.serialTypes, dropped_, pageNo);
      const auto known = columnsOf_.find(record.table);
      record.row.resize(header_.serialTypes.size());
      size_t pos = header_.bodyOffset;
      for (size_t i = 0; i < header_.serialTypes.size(); ++i) {
        const uint64_t size = SerialTypeSize(header_.serialTypes[i]);
        const ColumnDef& column = known != columnsOf_.end() ? (*known->second)[i] : anyColumn_;
        RenderValue(header_.serialTypes[i], cell_.bytes.Sub(pos, size), column, false, cell_.rowid,
                    record.row[i]);
        pos = size > cell_.bytes.size() ? cell_.bytes.size() + 1 : pos + static_cast<size_t>(size);
      }
      record.found = Where(pageNo, fileImage, offset);
      if (known != columnsOf_.end()) ++votes[record.table];
      if (Wanted(record.table, fileImage) &&
          listing_.Add(record.table, known != columnsOf_.end() ? known->second : nullptr,
                       record.row))
        out_.push_back(std::move(record));
    }
    return votes;
  }

  // The tables whose columns read the page's gap and freeblocks: the one
  // most of its cells fit; for a page without cells every table in turn.
  std::vector<std::string> FreeSpaceTables(const std::map<std::string, size_t>& votes,
                                           const LeafPage& page, bool fileImage) const {
    const int32_t pageNo = page.pageNo;
    std::vector<std::string> tables;
    if (!votes.empty()) {
      tables.push_back(
          std::max_element(votes.begin(), votes.end(), [](const auto& a, const auto& b) {
            return a.second < b.second;
          })->first);
    } else if (page.liveOffsets.empty()) {
      for (const DroppedTable& table : dropped_)
        if (table.table.rootPage == pageNo) tables.push_back(kDroppedPrefix + table.table.name);
      if (!fileImage)
        for (const SchemaTable& table : db_.schemaTables) tables.push_back(table.name);
      for (const DroppedTable& table : dropped_)
        if (table.table.rootPage != pageNo) tables.push_back(kDroppedPrefix + table.table.name);
    }
    return tables;
  }

  // The page's gap and freeblocks by the first of tables whose columns read
  // records there.
  void CarveFreeSpace(const LeafPage& page, const std::vector<std::string>& tables,
                      bool fileImage) {
    const uint32_t pageNo = static_cast<uint32_t>(page.pageNo);
    const uint64_t current = FoundOnPage(db_, pageNo, 0, Place::FreePage).offset;
    for (const std::string& name : tables) {
      if (!Wanted(name, fileImage)) continue;
      RowList carved;
      FoundList found;
      TemplateCarvePage(db_, page, *columnsOf_[name], carved, &found);
      for (size_t k = 0; k < carved.size() && k < found.size(); ++k) {
        if (listing_.Add(name, columnsOf_[name], carved[k]))
          out_.push_back(
              {name, std::move(carved[k]), Where(pageNo, fileImage, found[k].offset - current)});
      }
      if (!carved.empty()) break;  // the first table whose columns read records
    }
  }

  const SqliteFile& db_;
  const std::vector<DroppedTable>& dropped_;
  std::map<std::string, const std::vector<ColumnDef>*> columnsOf_;
  const ColumnDef anyColumn_;  // no declared type: every value as stored
  CellPayload cell_;
  RecordHeader header_;
  Listing listing_;
  std::vector<FreePageRecord> out_;
};

// A trunk's links took its front (the b-tree header and cell pointers of the
// leaf it was); the cells at its end are still there. It is read as a leaf
// that lost every row, its links taken for zeros.
void ReadTrunkAsEmptyLeaf(std::vector<uint8_t>& image) {
  const ByteView view(image.data(), image.size());
  const size_t links = kTrunkFirstLeaf + 4 * static_cast<size_t>(view.U32(kTrunkLeafCount));
  std::fill(image.begin(), image.begin() + std::min(links, image.size()), 0);
  image[0] = static_cast<uint8_t>(PageType::LeafTable);
}

// The freelist's pages and those past the database's size, in page order.
void CarvePagesOutsideLiveTrees(const SqliteFile& db, FreePageCarver& carver) {
  std::vector<uint8_t> image;
  const std::unordered_set<uint32_t> trunks = FreelistTrunkPages(db);
  for (uint32_t pageNo : PagesOutsideLiveTrees(db)) {
    if (pageNo < 2) continue;
    if (ReadPageNumber(db, pageNo, image) == PageRead::NoPage) continue;
    if (trunks.count(pageNo)) ReadTrunkAsEmptyLeaf(image);
    carver.CarvePage(image, pageNo, false);
  }
}

// A dropped table's pages the log handed out again keep its records in the
// database file's own image of them.
void CarveFileImagesOfLoggedPages(const SqliteFile& db, FreePageCarver& carver) {
  std::vector<uint8_t> image;
  const uint32_t inFile = PagesInDatabaseFile(db);
  for (const auto& [pageNo, offset] : db.walIndex) {
    if (pageNo < 2 || pageNo > inFile) continue;
    image.assign(db.pageSize, 0);
    if (db.mainFile.ReadAt(uint64_t{pageNo - 1} * db.pageSize, image.data(), image.size()) == 0)
      continue;
    carver.CarvePage(image, pageNo, true);
  }
}

}  // namespace

std::vector<FreePageRecord> CarveFreePages(const SqliteFile& db,
                                           const std::vector<DroppedTable>& dropped) {
  if (db.pageSize == 0) return {};
  FreePageCarver carver(db, dropped);
  CarvePagesOutsideLiveTrees(db, carver);
  if (!dropped.empty() && db.mainFile.IsOpen()) CarveFileImagesOfLoggedPages(db, carver);
  return carver.TakeRecords();
}

}  // namespace vantrel
