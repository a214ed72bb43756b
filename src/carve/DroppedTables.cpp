#include "carve/DroppedTables.h"

#include <set>
#include <utility>

#include "carve/PageWalk.h"
#include "carve/RowReader.h"
#include "platform/Text.h"
#include "sqlite/BTree.h"
#include "sqlite/Page.h"

namespace vantrel {

namespace {

constexpr std::string_view kTableWord = "table";
constexpr std::string_view kCreateTable = "CREATE TABLE";
constexpr uint64_t kTableWordType = 13 + 2 * kTableWord.size();

// A varint of exactly length bytes at at, or false.
bool VarintOfLength(ByteView block, size_t at, int length, uint64_t& value) {
  int got = 0;
  DecodeVarint(block.Sub(at, 9), value, got);
  return got == length;
}

bool IsTextType(uint64_t type) {
  return type >= 13 && (type & 1) == 1;
}

// Text a schema name or statement can be: UTF-8 without control characters
// other than line breaks and tabs (a statement may span lines).
bool IsStatementText(std::string_view text) {
  for (unsigned char c : text)
    if ((c < 0x20 && c != '\n' && c != '\r' && c != '\t') || c == 0x7F) return false;
  return IsValidUtf8(text);
}

bool Balanced(std::string_view sql) {
  int depth = 0;
  bool opened = false;
  for (char c : sql) {
    if (c == '(') {
      ++depth;
      opened = true;
    } else if (c == ')' && --depth < 0) {
      return false;
    }
  }
  return opened && depth == 0;
}

// The kind of place an offset of a schema page lies in.
Place PlaceOn(ByteView page, uint32_t pageNo, size_t offset) {
  const BTreePage tree = ParsePage(page, pageNo == 1 ? kPage1HeaderOffset : 0);
  if (!tree.Is(PageType::LeafTable)) return Place::Unknown;
  const PageRange gap = tree.GapByHeader();
  if (offset >= gap.begin && offset < gap.end) return Place::Gap;
  Place place = Place::Unknown;
  tree.ForEachFreeblock(kLeafHeaderSize, [&](Freeblock f) {
    if (offset >= f.offset && offset < f.end) place = Place::Freeblock;
  });
  return place;
}

// The schema records of type "table" in one page image: base is where the
// image's first byte lies.
void CarveSchemaRecords(ByteView page, uint32_t pageNo, const FoundAt& base,
                        std::vector<DroppedTable>& out) {
  const std::string_view bytes = page.AsString();
  for (size_t body = bytes.find(kTableWord); body != std::string_view::npos;
       body = bytes.find(kTableWord, body + 1)) {
    // The serial types end right before the body: sql (one to three bytes),
    // rootpage (one), tbl_name and name (one or two each), then the type's 23,
    // which a freeblock header may have taken.
    bool taken = false;
    for (int sqlLength = 1; sqlLength <= 3 && !taken; ++sqlLength) {
      for (int tblLength = 1; tblLength <= 2 && !taken; ++tblLength) {
        for (int nameLength = 1; nameLength <= 2 && !taken; ++nameLength) {
          const size_t back = static_cast<size_t>(sqlLength + 1 + tblLength + nameLength);
          if (body < back + 1) continue;
          const size_t types = body - back;
          uint64_t nameType = 0, tblType = 0, rootType = 0, sqlType = 0;
          if (!VarintOfLength(page, types, nameLength, nameType) ||
              !VarintOfLength(page, types + nameLength, tblLength, tblType) ||
              !VarintOfLength(page, types + nameLength + tblLength, 1, rootType) ||
              !VarintOfLength(page, types + nameLength + tblLength + 1, sqlLength, sqlType))
            continue;
          if (!IsTextType(nameType) || nameType != tblType || rootType < 1 || rootType > 6 ||
              !IsTextType(sqlType))
            continue;
          const size_t nameSize = static_cast<size_t>((nameType - 13) / 2);
          const size_t rootSize = static_cast<size_t>(SerialTypeSize(rootType));
          const size_t sqlSize = static_cast<size_t>((sqlType - 13) / 2);
          const size_t nameAt = body + kTableWord.size();
          const size_t rootAt = nameAt + 2 * nameSize;
          const size_t sqlAt = rootAt + rootSize;
          if (nameSize == 0 || sqlAt + sqlSize > bytes.size()) continue;
          const std::string_view name = bytes.substr(nameAt, nameSize);
          const std::string_view sql = bytes.substr(sqlAt, sqlSize);
          if (bytes.substr(nameAt + nameSize, nameSize) != name || !IsStatementText(name) ||
              sql.substr(0, kCreateTable.size()) != kCreateTable || !IsStatementText(sql) ||
              !Balanced(sql))
            continue;
          DroppedTable dropped;
          dropped.table.name = std::string(name);
          int64_t root = 0;
          for (size_t k = 0; k < rootSize; ++k)
            root = (root << 8) | static_cast<unsigned char>(bytes[rootAt + k]);
          dropped.table.rootPage = static_cast<int32_t>(root);
          dropped.sql = std::string(sql);
          ParseCreateTable(dropped.sql, dropped.table);
          // The type's own serial type, when no freeblock header took it.
          const size_t typeAt = types - 1;
          dropped.found = base;
          dropped.found.offset += typeAt;
          if (base.place != Place::LogFrame) dropped.found.place = PlaceOn(page, pageNo, typeAt);
          out.push_back(std::move(dropped));
          taken = true;
          body = sqlAt + sqlSize - 1;
        }
      }
    }
  }
}

}  // namespace

std::vector<DroppedTable> FindDroppedTables(const SqliteFile& db) {
  std::vector<DroppedTable> found;
  if (db.pageSize == 0) return found;
  std::vector<uint8_t> page1;
  if (ReadPageNumber(db, 1, page1) != PageRead::Whole) return found;
  TableInfo schema;
  schema.pageSets.emplace_back();
  CollectLeafPages(db, ByteView(page1.data(), page1.size()), kPage1HeaderOffset, 1,
                   schema.pageSets[0].leafPages);
  std::set<uint32_t> schemaPages;
  std::vector<uint8_t> buffer;
  for (int32_t p : schema.pageSets[0].leafPages) {
    const uint32_t pageNo = static_cast<uint32_t>(p);
    schemaPages.insert(pageNo);
    if (ReadPageNumber(db, pageNo, buffer) != PageRead::Whole) continue;
    CarveSchemaRecords(ByteView(buffer.data(), buffer.size()), pageNo,
                       FoundOnPage(db, pageNo, 0, Place::Unknown), found);
  }
  // The file's own image of a schema page the log changed, and the log's older frames of one.
  const PagePlaces places(db);
  FoundAt inFile;
  inFile.file = db.name;
  for (int32_t p : schema.pageSets[0].leafPages) {
    const uint32_t pageNo = static_cast<uint32_t>(p);
    if (!db.walIndex.count(pageNo) || !db.mainFile.IsOpen()) continue;
    buffer.assign(db.pageSize, 0);
    if (db.mainFile.ReadAt(uint64_t{pageNo - 1} * db.pageSize, buffer.data(), buffer.size()) == 0)
      continue;
    inFile.page = pageNo;
    inFile.offset = uint64_t{pageNo - 1} * db.pageSize;
    CarveSchemaRecords(ByteView(buffer.data(), buffer.size()), pageNo, inFile, found);
  }
  // And the last image of a schema leaf freed in a committed transaction (its tables all
  // dropped at once): SQLite writes no new image of a page it frees, so that image still holds
  // their records. The current images of the live schema leaves were read above.
  WalkLogFramesOutsideLeaves(db, &schema, [&](ByteView image, const FoundAt& frame, bool current) {
    if (schemaPages.count(frame.page) || (current && ParsePage(image).Is(PageType::LeafTable)))
      CarveSchemaRecords(image, frame.page, frame, found);
  });

  std::vector<DroppedTable> dropped;
  std::set<std::pair<std::string, std::string>> seen;
  for (DroppedTable& table : found) {
    if (db.tableMap.count(table.table.name)) continue;
    if (!seen.insert({table.table.name, table.sql}).second) continue;
    dropped.push_back(std::move(table));
  }
  return dropped;
}

const DroppedTable* FindDroppedTable(const std::vector<DroppedTable>& dropped,
                                     const std::string& name) {
  const std::string bare = name.rfind(kDroppedPrefix, 0) == 0
                               ? name.substr(std::string_view(kDroppedPrefix).size())
                               : name;
  for (const DroppedTable& table : dropped)
    if (table.table.name == bare) return &table;
  return nullptr;
}

}  // namespace vantrel
