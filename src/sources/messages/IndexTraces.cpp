#include "sources/messages/IndexTraces.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "carve/RowReader.h"
#include "sources/messages/MessageCarver.h"
#include "sqlite/BTree.h"
#include "sqlite/Page.h"

namespace vantrel {
namespace {

constexpr uint64_t kGuidSerialType = 85;  // a text of 36 bytes
// Payload-length varint, header size, the two serial types: the bytes before
// the GUID in an index cell, and what a freeblock header takes of it.
constexpr size_t kBytesBeforeGuid = 4;
constexpr size_t kIndexHeaderSize = 3;
// Schema rows: type, name, tbl_name, rootpage, sql.
constexpr size_t kSchemaType = 0, kSchemaName = 1, kSchemaTable = 2, kSchemaRoot = 3,
                 kSchemaSql = 4;

// The device's GUID at i, when the block holds 36 bytes there.
bool IsWholeGuidAt(ByteView block, size_t i) {
  return block.Contains(i, kGuidLength) && IsGuidAt(block, i);
}

// Integer serial types a rowid is stored in: 1-6 (1, 2, 3, 4, 6, 8 bytes),
// 8 and 9 (0 and 1 in no bytes).
bool IsIntegerSerialType(uint64_t type) {
  return (type >= 1 && type <= 6) || type == 8 || type == 9;
}

// The rowid stored in `length` bytes with no serial type left to say which:
// the lengths integer types have; 0 (unknown) for any other. No bytes is the
// rowid 1, since rowids of the table start at 1.
int64_t RowidOfLength(ByteView bytes, size_t length) {
  if (length == 0) return 1;
  if (length > 8 || length == 5 || length == 7) return 0;
  const int64_t rowid = BigEndianInteger(bytes.Sub(0, length));
  return rowid > 0 ? rowid : 0;
}

int64_t RowidOfType(ByteView bytes, uint64_t type) {
  if (type == 8) return 0;
  if (type == 9) return 1;
  const int64_t rowid = BigEndianInteger(bytes.Sub(0, SerialTypeSize(type)));
  return rowid > 0 ? rowid : 0;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Whether CREATE INDEX text indexes guid first: the first name inside the
// parentheses after ON.
bool IndexesGuidFirst(const std::string& sql) {
  const std::string text = Lower(sql);
  const size_t on = text.find(" on ");
  if (on == std::string::npos) return false;
  const size_t open = text.find('(', on);
  if (open == std::string::npos) return false;
  size_t begin = open + 1;
  while (begin < text.size() && (std::isspace(static_cast<unsigned char>(text[begin])) ||
                                 text[begin] == '"' || text[begin] == '`' || text[begin] == '['))
    ++begin;
  size_t end = begin;
  while (end < text.size() &&
         (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_'))
    ++end;
  return text.compare(begin, end - begin, "guid") == 0;
}

// The automatic index SQLite names sqlite_autoindex_message_N for the Nth
// UNIQUE (or non-integer PRIMARY KEY) constraint of the table, counted in
// column order; 0 when guid has none.
int AutoIndexNumberOfGuid(const TableInfo& table) {
  int number = 0;
  for (const ColumnDef& column : table.columns) {
    const std::string constraint = Lower(column.constraint);
    const bool unique =
        constraint.find("unique") != std::string::npos ||
        (constraint.find("primary key") != std::string::npos && Lower(column.type) != "integer");
    if (!unique) continue;
    ++number;
    if (Lower(column.name) == "guid") return number;
  }
  return 0;
}

std::string TextOf(const CellPayload& cell, const RecordHeader& header, size_t column) {
  const std::optional<CellColumn> value = ColumnOfCell(cell, header, column);
  if (!value || !IsTextSerialType(value->serialType)) return {};
  return std::string(value->content.AsString());
}

// Collects traces and keeps each GUID once.
class TraceList {
 public:
  TraceList(const SqliteFile& db, const GuidSet& known) : db_(db), known_(known) {}

  // Asked of the bytes in the page before any string is made: nearly every
  // entry of a live index names a known message.
  void Add(std::string_view guid, int64_t rowid, uint32_t pageNo, size_t offset, Place place) {
    if (known_.Contains(guid)) return;
    AddUnknown(guid, rowid, pageNo, offset, place);
  }
  // Most GUIDs met here belong to messages recovered in other ways, which
  // the caller drops: each is kept as its key and where it lies, and made a
  // MessageTrace only by Take().
  void AddUnknown(std::string_view guid, int64_t rowid, uint32_t pageNo, size_t offset,
                  Place place) {
    auto [it, added] = at_.try_emplace(std::string(guid), pending_.size());
    if (!added) {
      Pending& kept = pending_[it->second];
      if (kept.rowid == 0 && rowid != 0) kept = {kept.guid, rowid, pageNo, offset, place};
      return;
    }
    pending_.push_back({&it->first, rowid, pageNo, offset, place});
  }

  // Every GUID-shaped text in [begin, end) of the page read as an index
  // entry. With its header intact the rowid's serial type says how long the
  // rowid is; without (a freed cell's first bytes are the freeblock header),
  // the next entry's start or the region's end does, unless intactOnly.
  void ScanRegion(ByteView page, size_t begin, size_t end, uint32_t pageNo, Place place,
                  bool intactOnly) {
    end = std::min(end, page.size());
    if (begin >= end) return;
    std::vector<size_t> hits;
    for (size_t i = begin; i + kGuidLength <= end; ++i) {
      // To the next dash 8 bytes on: most bytes of a page hold none.
      const void* dash = std::memchr(page.data() + i + 8, '-', end - kGuidLength - i + 1);
      if (dash == nullptr) break;
      i = static_cast<size_t>(static_cast<const uint8_t*>(dash) - page.data()) - 8;
      if (!IsWholeGuidAt(page, i)) continue;
      hits.push_back(i);
      i += kGuidLength - 1;
    }
    for (size_t k = 0; k < hits.size(); ++k) {
      const size_t i = hits[k];
      const size_t after = i + kGuidLength;
      // Where the next entry's cell starts: a newer cell written over this
      // one's tail took its rowid's bytes, if it starts before the rowid ends.
      const size_t nextCell = k + 1 < hits.size() ? hits[k + 1] - kBytesBeforeGuid : end;
      int64_t rowid = 0;
      if (i >= 3 && page[i - 3] == kIndexHeaderSize && page[i - 2] == kGuidSerialType &&
          IsIntegerSerialType(page[i - 1])) {
        if (after + SerialTypeSize(page[i - 1]) <= nextCell)
          rowid = RowidOfType(page.Sub(after), page[i - 1]);
      } else if (intactOnly) {
        continue;
      } else if (page[i - 1] == '/' || page[i - 1] == ':') {
        // A GUID inside a longer key ("p:0/GUID", "bp:GUID": the index of
        // the messages reactions point at, on a freed page): not this index.
        continue;
      } else if (nextCell >= after) {
        rowid = RowidOfLength(page.Sub(after), nextCell - after);
      }
      Add(page.Sub(i, kGuidLength).AsString(), rowid, pageNo, i, place);
    }
  }

  // One page of the index b-tree: its live entries, then its free space.
  // Interior pages' children are appended to children.
  void ReadIndexPage(ByteView page, uint32_t pageNo, std::vector<uint32_t>& children) {
    const BTreePage tree = ParsePage(page, 0, UsableSize(db_));
    const bool interior = tree.Is(PageType::InteriorIndex);
    if (!interior && !tree.Is(PageType::LeafIndex)) {
      CountDamagedPage(db_);
      return;
    }
    std::vector<uint16_t> offsets;
    tree.CellPointers(offsets);
    entries_.clear();
    for (uint16_t offset : offsets) {
      size_t at = offset;
      if (interior) {
        children.push_back(page.U32(at));
        at += 4;
      }
      ReadLiveEntry(page, at);
    }
    // The page's entries asked about together, so that the set's memory is
    // fetched for all of them at once rather than one wait after another.
    guids_.clear();
    for (const LiveEntry& entry : entries_) guids_.push_back(entry.guid);
    known_.ContainsEach(guids_, isKnown_);
    for (size_t k = 0; k < entries_.size(); ++k) {
      const LiveEntry& entry = entries_[k];
      if (!isKnown_[k]) AddUnknown(entry.guid, entry.rowid, pageNo, entry.offset, Place::IndexOnly);
    }
    if (interior && tree.rightChild != 0) children.push_back(tree.rightChild);
    if (interior) return;  // an interior page's free space holds child links, no entries
    if (offsets.empty()) {
      ScanRegion(page, tree.PointerArrayEnd(), tree.usableSize, pageNo, Place::LeafPage, false);
      return;
    }
    const PageRange gap = tree.GapBelowCells(offsets);
    ScanRegion(page, gap.begin, gap.end, pageNo, Place::Gap, false);
    tree.ForEachFreeblock(tree.PointerArrayEnd(), [&](const Freeblock& block) {
      ScanRegion(page, block.offset, block.end, pageNo, Place::Freeblock, false);
    });
  }

  // A live entry (whose row is gone when no live message has its GUID),
  // appended to entries_.
  void ReadLiveEntry(ByteView page, size_t at) {
    uint64_t payload = 0, headerSize = 0, textType = 0, rowidType = 0;
    int length = 0;
    DecodeVarint(page.Sub(at), payload, length);
    if (length == 0) return;
    at += static_cast<size_t>(length);
    const size_t record = at;
    DecodeVarint(page.Sub(at), headerSize, length);
    if (length == 0 || headerSize < 3) return;
    at += static_cast<size_t>(length);
    DecodeVarint(page.Sub(at), textType, length);
    if (length == 0 || !IsTextSerialType(textType)) return;
    at += static_cast<size_t>(length);
    DecodeVarint(page.Sub(at), rowidType, length);
    if (length == 0 || !IsIntegerSerialType(rowidType)) return;
    const size_t text = record + static_cast<size_t>(headerSize);
    const size_t textLength = static_cast<size_t>(SerialTypeSize(textType));
    if (!page.Contains(text, textLength)) return;
    const int64_t rowid = RowidOfType(page.Sub(text + textLength), rowidType);
    entries_.push_back({page.Sub(text, textLength).AsString(), rowid, text});
  }

  MessageTraceList Take() {
    MessageTraceList traces;
    traces.reserve(pending_.size());
    for (const Pending& p : pending_)
      traces.push_back({*p.guid, p.rowid, FoundOnPage(db_, p.pageNo, p.offset, p.place)});
    return traces;
  }

 private:
  const SqliteFile& db_;
  const GuidSet& known_;
  struct LiveEntry {
    std::string_view guid;
    int64_t rowid = 0;
    size_t offset = 0;
  };
  std::vector<LiveEntry> entries_;  // the page's live entries, while it is read
  std::vector<std::string_view> guids_;
  std::vector<bool> isKnown_;
  struct Pending {
    const std::string* guid = nullptr;  // at_'s key, which stays where it is
    int64_t rowid = 0;
    uint32_t pageNo = 0;
    size_t offset = 0;
    Place place = Place::Unknown;
  };
  std::vector<Pending> pending_;
  std::unordered_map<std::string, size_t> at_;
};

}  // namespace

uint32_t MessageGuidIndexRoot(const SqliteFile& db) {
  const TableInfo* message = FindTable(db, "message");
  if (message == nullptr || db.pageSize == 0) return 0;
  const std::string autoName =
      "sqlite_autoindex_message_" + std::to_string(AutoIndexNumberOfGuid(*message));
  std::vector<uint8_t> buffer;
  if (ReadPageNumber(db, 1, buffer) != PageRead::Whole) return 0;
  std::vector<int32_t> leaves;
  CollectLeafPages(db, ByteView(buffer.data(), buffer.size()), kPage1HeaderOffset, 1, leaves);
  for (int32_t pageNo : leaves) {
    if (ReadPageNumber(db, static_cast<uint32_t>(pageNo), buffer) != PageRead::Whole) continue;
    const ByteView page(buffer.data(), buffer.size());
    std::vector<uint16_t> offsets;
    ParsePage(page, pageNo == 1 ? kPage1HeaderOffset : 0, UsableSize(db)).CellPointers(offsets);
    for (uint16_t offset : offsets) {
      CellPayload cell;
      RecordHeader header;
      if (!AssembleCellPayload(db, page, offset, cell) || !DecodeRecordHeader(cell, header))
        continue;
      if (TextOf(cell, header, kSchemaType) != "index" ||
          TextOf(cell, header, kSchemaTable) != "message")
        continue;
      const std::string sql = TextOf(cell, header, kSchemaSql);
      const bool guidFirst =
          sql.empty() ? TextOf(cell, header, kSchemaName) == autoName : IndexesGuidFirst(sql);
      if (!guidFirst) continue;
      const std::optional<CellColumn> root = ColumnOfCell(cell, header, kSchemaRoot);
      if (!root) continue;
      const int64_t rootPage = BigEndianInteger(root->content);
      if (rootPage > 0 && rootPage <= PageLimit(db)) return static_cast<uint32_t>(rootPage);
    }
  }
  return 0;
}

MessageTraceList FindMessageTraces(const SqliteFile& db, const GuidSet& known) {
  TraceList traces(db, known);
  const uint32_t root = MessageGuidIndexRoot(db);
  std::vector<uint8_t> buffer;
  std::unordered_set<uint32_t> indexPages;
  if (root != 0) {
    // Root first, then each interior page's children in order; every page
    // once, none past the last, so a damaged tree cannot loop.
    std::vector<uint32_t> stack{root};
    std::vector<uint32_t> children;
    while (!stack.empty()) {
      const uint32_t pageNo = stack.back();
      stack.pop_back();
      if (pageNo <= 1 || pageNo > PageLimit(db) || !indexPages.insert(pageNo).second) {
        CountDamagedPage(db);
        continue;
      }
      if (ReadPageNumber(db, pageNo, buffer) != PageRead::Whole) CountDamagedPage(db);
      children.clear();
      traces.ReadIndexPage(ByteView(buffer.data(), buffer.size()), pageNo, children);
      stack.insert(stack.end(), children.rbegin(), children.rend());
    }
  }

  // Free pages, in page order: a freed index leaf keeps its image (its cells
  // whole, its freeblocks without their first bytes); any other free page is
  // read for entries whose header survived.
  std::vector<uint32_t> freePages;
  for (uint32_t pageNo : FreelistPages(db))
    if (!indexPages.count(pageNo)) freePages.push_back(pageNo);
  const uint32_t used = std::max(db.pageCount, db.walPageCount);
  for (uint32_t pageNo = used + 1; pageNo <= PagesInDatabaseFile(db); ++pageNo)
    if (!indexPages.count(pageNo)) freePages.push_back(pageNo);
  std::sort(freePages.begin(), freePages.end());
  for (uint32_t pageNo : freePages) {
    ReadPageNumber(db, pageNo, buffer);
    const ByteView page(buffer.data(), buffer.size());
    const bool indexLeaf = page[0] == static_cast<uint8_t>(PageType::LeafIndex);
    traces.ScanRegion(page, 0, UsableSize(db), pageNo, Place::FreePage, !indexLeaf);
  }
  return traces.Take();
}

}  // namespace vantrel
