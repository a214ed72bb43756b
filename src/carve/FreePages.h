// The pages no live table owns (freelist trunks and leaves, which is where a
// dropped table's pages and a table's emptied leaves go, and pages past the
// database's size) carved for records of any table of the schema. A freelist
// leaf keeps the image it had as a table leaf: its cells are whole records
// with their varints, and its freeblocks and gap hold older deleted ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "carve/DroppedTables.h"
#include "carve/FoundAt.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// One record found on a page outside the live tables.
struct FreePageRecord {
  // The table whose columns the record's serial types fit (the rule book,
  // ColumnRules.h: the count, each type's affinity, NULL in a rowid alias):
  // a live table by its name, a dropped one whose schema record was found
  // (DroppedTables.h) as "dropped:NAME"; or, when no table fits, the
  // record's shape: "shape:" and one letter per value, N null, I integer,
  // R real, T text, B blob.
  std::string table;
  RowValues row;  // the values; a whole cell's rowid alias shows its rowid
  FoundAt found;  // place FreePage
};

// The table, of those of the schema, whose columns the serial types fit, or
// the shape when none does. A table whose column count equals the number of
// values wins over one with more columns (a row from before ALTER TABLE ADD
// COLUMN); among equals, the first in schema order, the live tables before
// the dropped ones, except that a dropped table whose old root page is
// pageNo comes first (where its root lay is a hint, not proof: the freelist
// hands pages out again).
std::string AssignTable(const SqliteFile& db, const std::vector<uint64_t>& serialTypes,
                        const std::vector<DroppedTable>& dropped = {}, uint32_t pageNo = 0);

// Carves every page outside the live tables, in page order: on each page that
// was a table leaf, its cells (whole records), then its gap and freeblocks by
// the columns of the table most of its cells fit. A freelist trunk, whose
// links took the front of the leaf it was, is carved as a leaf without cells
// (by every table's columns in turn, the dropped ones' too, the first that
// reads records kept); other pages whose image is no table leaf are passed
// over. A record equal to a live row of its table (an old copy that
// rebalancing left) and a record already listed are left out. dropped: the
// tables FindDroppedTables found, whose columns read their records; with a
// log, the database file's own image of each page whose current image is in
// the log is carved too for their records alone (a dropped table's pages
// that the log handed out again), place Unknown, the offset in the file.
std::vector<FreePageRecord> CarveFreePages(const SqliteFile& db,
                                           const std::vector<DroppedTable>& dropped = {});

}  // namespace vantrel
