#include "carve/PageWalk.h"

#include <unordered_set>
#include <vector>

#include "carve/RowReader.h"
#include "sqlite/Page.h"

namespace vantrel {

void WalkPagesOutsideTable(const SqliteFile& db, const TableInfo* table,
                           const std::function<void(ByteView block, uint32_t pageNo)>& visit) {
  const uint32_t pageSize = db.pageSize;
  if (pageSize == 0 || !db.mainFile.IsOpen()) return;
  std::unordered_set<uint32_t> skip;
  if (table) {
    for (const PageSet& set : table->pageSets)
      for (int32_t p : set.leafPages) skip.insert(static_cast<uint32_t>(p));
  }
  const uint64_t fileSize = db.mainFile.Size();
  std::vector<uint8_t> block(pageSize);
  // Page 1 holds the schema and is never scanned.
  uint32_t pageNo = 2;
  for (uint64_t offset = pageSize; offset < fileSize; offset += pageSize, ++pageNo) {
    if (skip.count(pageNo)) continue;
    size_t got = db.mainFile.ReadAt(offset, block.data(), pageSize);
    if (got == 0) break;
    visit(ByteView(block.data(), got), pageNo);
  }
}

void WalkFileImagesOfLoggedLeaves(const SqliteFile& db, const TableInfo& table,
                                  const std::function<void(ByteView, uint32_t)>& visit) {
  if (db.walIndex.empty() || db.pageSize == 0 || !db.mainFile.IsOpen()) return;
  std::vector<uint8_t> image(db.pageSize);
  for (const PageSet& set : table.pageSets) {
    for (int32_t p : set.leafPages) {
      const uint32_t pageNo = static_cast<uint32_t>(p);
      if (pageNo < 2 || !db.walIndex.count(pageNo)) continue;
      const size_t got =
          db.mainFile.ReadAt(uint64_t{pageNo - 1} * db.pageSize, image.data(), image.size());
      if (got == 0) continue;
      visit(ByteView(image.data(), got), pageNo);
    }
  }
}

void WalkLogFrames(const SqliteFile& db,
                   const std::function<void(ByteView, const FoundAt&, FrameKind)>& visit) {
  FoundAt where;
  where.file = db.name + "-wal";
  where.place = Place::LogFrame;
  ForEachLogFrame(db, [&](const WalFrame& frame) {
    where.page = frame.pageNo;
    where.offset = frame.imageOffset;
    where.frame = frame.number;
    visit(frame.image, where, frame.kind);
  });
}

void WalkLogFramesOutsideLeaves(const SqliteFile& db, const TableInfo* table,
                                const std::function<void(ByteView, const FoundAt&, bool)>& visit) {
  std::unordered_set<uint32_t> leaves;
  if (table)
    for (const PageSet& set : table->pageSets)
      for (int32_t p : set.leafPages) leaves.insert(static_cast<uint32_t>(p));
  WalkLogFrames(db, [&](ByteView image, const FoundAt& frame, FrameKind kind) {
    if (!IsCommittedImage(kind)) return;
    const bool current = kind == FrameKind::Current;
    if (current && leaves.count(frame.page)) return;
    visit(image, frame, current);
  });
}

PagePlaces::PagePlaces(const SqliteFile& db)
    : db_(db), free_(FreelistPages(db)), used_(PageLimit(db)) {}

Place PagePlaces::Of(uint32_t pageNo, ByteView block) const {
  if (free_.count(pageNo) || pageNo > used_) return Place::FreePage;
  const BTreePage tree = ParsePage(block);
  if (tree.IsInterior()) return Place::InteriorPage;
  if (tree.Is(PageType::LeafTable) && tree.cellCount == 0) return Place::LeafPage;
  return Place::Unknown;
}

FoundAt PagePlaces::At(uint32_t pageNo, ByteView block, size_t offset) const {
  FoundAt at = FoundOnPage(db_, pageNo, offset, Of(pageNo, block));
  // The walk reads the database file itself, never the log.
  at.file = db_.name;
  at.frame = 0;
  at.offset = uint64_t{pageNo - 1} * db_.pageSize + offset;
  return at;
}

}  // namespace vantrel
