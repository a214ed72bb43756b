// The call history of a backup: the live rows of table `call` and the calls
// carved from free space (each page's unallocated front and freeblocks, and
// every page outside the table), grouped by number into the two CallMaps.
// CallLoader (Loaders.h) runs both stages.
#pragma once

#include <cstdint>
#include <vector>

#include "carve/RowReader.h"
#include "sources/calls/CallRecord.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// Where a carved call was found.
enum class CallPlace : uint8_t {
  UnallocatedFront,  // a `call` leaf page, between its cell pointers and its first cell
  Freeblock,         // a `call` leaf page, inside a freeblock
  OtherPage,         // a page outside the table's leaves: free pages, interior pages, other tables
  OlderImage,        // the database file's own image of a leaf whose current image is in the log
  LogFrame,          // a frame of the write-ahead log that is no page's current image
};

struct CarvedCall {
  RowValues row;  // "", address, date, duration, flags, id (possibly fewer)
  CallPlace place = CallPlace::OtherPage;
  uint32_t pageNo = 0;
  uint32_t offset = 0;  // offset in the page of the record's rowid serial-type byte
  bool cut = false;     // its tail was taken (a live cell, the end of its stretch): row is shorter
  FoundAt found;        // the same place for people: file, page, file offset, kind of place
};

// Stage 1: reads the live rows of `call` (through the log when there is one)
// and carves deleted ones, in this order: per leaf page its live rows, then
// its unallocated front and its freeblocks; then the pages outside the table
// (database file only); on those that are b-tree pages (the table's interior
// pages, other tables) a record running into a live cell is kept, cut there.
// With a log, then the file's own older image of each leaf whose current
// image is in the log, every older frame of the log and the current image of
// each page that is no live leaf of the table (WalkLogFramesOutsideLeaves: a
// leaf freed in a committed transaction), each scanned whole as a page outside
// the table: their cells are calls as they stood then, deleted since or not.
// Absent: `call` is not in the catalogue (lists
// untouched); NoPages: its root could not be read (the outside pages are
// still carved).
TableRead GatherCallRows(const SqliteFile& db, RowList& live, std::vector<CarvedCall>& carved);

// Stage 2: files the rows by number (position 1) into the maps, carved rows
// first. A row without a number is dropped. A carved call is listed once
// (of copies with equal number, date, duration and flags, the first with the
// most values: a whole copy in the log beats a cut one in the file), and not
// at all when a live call has the same four values: interior pages and older
// images of the table keep old copies of live cells.
void GroupCalls(const RowList& live, const std::vector<CarvedCall>& carved, CallMap& liveMap,
                CallMap& deletedMap);

}  // namespace vantrel
