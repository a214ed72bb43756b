#include "carve/PageWalk.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "carve/RowReader.h"
#include "sqlite/Page.h"
#include "sqlite/WalIndex.h"

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

namespace {
// How many restarts back a frame's salt may lie and still be taken for a frame
// of an earlier run of the same log.
constexpr uint32_t kMostLogRuns = 1u << 16;
}  // namespace

void WalkLogFrames(const SqliteFile& db,
                   const std::function<void(ByteView, const FoundAt&, bool)>& visit) {
  if (!db.walFile.IsOpen() || db.pageSize == 0) return;
  uint8_t logHeader[kWalHeaderSize] = {};
  if (!db.walFile.ReadExact(0, logHeader, sizeof logHeader)) return;
  if (ByteView(logHeader, sizeof logHeader).U32(kWalPageSizeOffset) != db.pageSize) return;
  std::unordered_set<uint64_t> current;
  uint64_t lastCommitted = 0;  // the newest current image is the last commit's frame
  for (const auto& [page, offset] : db.walIndex) {
    current.insert(offset);
    lastCommitted = std::max(lastCommitted, offset);
  }
  const ByteView header(logHeader, sizeof logHeader);
  const uint64_t frameSize = uint64_t{kWalFrameHeaderSize} + db.pageSize;
  const uint64_t logSize = db.walFile.Size();
  std::vector<uint8_t> image(db.pageSize);
  uint8_t frameHeader[kWalFrameHeaderSize] = {};
  FoundAt where;
  where.file = db.name + "-wal";
  where.place = Place::LogFrame;
  uint32_t number = 0;
  for (uint64_t frame = kWalHeaderSize; frame + frameSize <= logSize; frame += frameSize) {
    ++number;
    if (!db.walFile.ReadExact(frame, frameHeader, sizeof frameHeader)) break;
    const ByteView frameView(frameHeader, sizeof frameHeader);
    where.page = frameView.U32(0);
    if (where.page == 0) continue;  // no frame of a page: zeros or damage
    where.offset = frame + kWalFrameHeaderSize;
    where.frame = number;
    // Each restart of the log adds one to salt-1 and draws a new salt-2: a frame of an
    // earlier run has a smaller salt-1. Frames of this run after its last commit, and
    // frames SQLite wrote for a transaction without salts (zeros), are no committed image.
    const uint32_t runsBefore = header.U32(16) - frameView.U32(8);
    const bool earlierRun = runsBefore > 0 && runsBefore < kMostLogRuns && frameView.U32(12) != 0;
    if (!earlierRun &&
        (runsBefore != 0 || frameView.U32(12) != header.U32(20) || where.offset > lastCommitted))
      continue;
    if (!db.walFile.ReadExact(where.offset, image.data(), image.size())) break;
    visit(ByteView(image.data(), image.size()), where, current.count(where.offset) > 0);
  }
}

void WalkOlderLogFrames(const SqliteFile& db,
                        const std::function<void(ByteView, const FoundAt&)>& visit) {
  WalkLogFrames(db, [&](ByteView image, const FoundAt& frame, bool current) {
    if (!current) visit(image, frame);
  });
}

void WalkLogFramesOutsideLeaves(const SqliteFile& db, const TableInfo* table,
                                const std::function<void(ByteView, const FoundAt&, bool)>& visit) {
  std::unordered_set<uint32_t> leaves;
  if (table)
    for (const PageSet& set : table->pageSets)
      for (int32_t p : set.leafPages) leaves.insert(static_cast<uint32_t>(p));
  WalkLogFrames(db, [&](ByteView image, const FoundAt& frame, bool current) {
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
