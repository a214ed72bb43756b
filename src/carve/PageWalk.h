// The page walks the carvers share: every page of the main database file
// except page 1 (the schema) and the leaf pages of one table, handed over one
// block at a time (the database file itself, not the log); the file's own
// image of a page whose current image is in the log; and the write-ahead
// log's frames (the walk of LogFrames.h), each with where it lies.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_set>

#include "carve/FoundAt.h"
#include "sqlite/ByteView.h"
#include "sqlite/LogFrames.h"
#include "sqlite/Schema.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// visit(block, pageNo): block is the page's bytes as read (the last page of
// the file may be short). table may be nullptr: then only page 1 is skipped.
void WalkPagesOutsideTable(const SqliteFile& db, const TableInfo* table,
                           const std::function<void(ByteView block, uint32_t pageNo)>& visit);

// The database file's own image of each leaf page of table whose current
// image is in the log: the image from before the logged changes, which keeps
// rows deleted since (WalkPagesOutsideTable passes these pages over).
void WalkFileImagesOfLoggedLeaves(
    const SqliteFile& db, const TableInfo& table,
    const std::function<void(ByteView block, uint32_t pageNo)>& visit);

// Every whole frame of the write-ahead log, in log order, with what it is
// (LogFrames.h) and where it lies: file "<db>-wal", the frame's page, the
// image's offset in the log, place LogFrame, frame number from 1. Each caller
// keeps the kinds it reads. Nothing when the log's page size is not the
// database's.
void WalkLogFrames(
    const SqliteFile& db,
    const std::function<void(ByteView image, const FoundAt& frame, FrameKind kind)>& visit);

// The log frames a table's carving reads beyond what the table's reader
// reads: every older committed image (IsCommittedImage, not Current), which
// keeps its page as it was then, rows deleted since included
// (DeletedBytes.h); and the current image of each page that is not one of
// table's leaves now. A leaf the table gave back to the freelist in a
// committed transaction keeps its rows only there: SQLite writes no new image
// of a page it frees (unless it becomes a freelist trunk), and the database
// file's image is older still. The live leaves' current images are the pages
// the reader reads, so they are passed over. Frames after this run's last
// commit are passed over too: they belong to a transaction that never
// committed (or rolled back after its pages spilled), whose rows SQLite never
// showed, and whatever committed rows they hold the committed images hold
// too. table may be nullptr: then every committed image is handed over.
// current tells the frame that holds its page's current image.
void WalkLogFramesOutsideLeaves(
    const SqliteFile& db, const TableInfo* table,
    const std::function<void(ByteView image, const FoundAt& frame, bool current)>& visit);

// What a page outside a table's leaves is, for showing where a record found on
// it lay: FreePage for a page of the freelist or past the database's size,
// InteriorPage for a b-tree interior page, LeafPage for a table leaf without a
// cell, else Unknown (a page of another table or of an index).
class PagePlaces {
 public:
  explicit PagePlaces(const SqliteFile& db);
  Place Of(uint32_t pageNo, ByteView block) const;
  // Where the byte at offset of the page lies (FoundOnPage with Of's place).
  FoundAt At(uint32_t pageNo, ByteView block, size_t offset) const;

 private:
  const SqliteFile& db_;
  std::unordered_set<uint32_t> free_;
  uint32_t used_ = 0;
};

}  // namespace vantrel
