// Reading the "message" table: its live rows, and deleted message records
// carved out of free space by their GUID. Every message record starts its body
// with the 36-character GUID (the rowid column stores no bytes), so a GUID with
// a well-formed record header right before it marks a record wherever it lies:
// in a freeblock or the unallocated gap of a message page, on a free page, in
// an older page image of the write-ahead log.
//
// Record shape the carver relies on (body offset i = where the GUID starts):
//
//   [header size H][0: rowid][85: 36-byte text][serial types of columns 2..n-1] | GUID text ...
//    ^ header start                                                           ^ i
//
// The serial types are walked backwards from i; the record is accepted when
// the walk meets the GUID's serial type 85 after exactly n - 2 varints (n from
// the catalogue, so iOS 6 and iOS 7 tables both carve), or after fewer when the
// record's own header-size varint survives and agrees (rows written before
// columns were added). A freed cell's first four bytes (DeletedBytes.h) may
// have taken the header size with them; the exact count does not need it.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "carve/RowReader.h"
#include "sources/messages/MessageRecord.h"
#include "sqlite/ByteView.h"
#include "sqlite/ColumnRules.h"
#include "sqlite/Schema.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

constexpr size_t kGuidLength = 36;

// Whether the 36 bytes at i form a GUID as the device writes it: upper-case
// hex digits in groups of 8-4-4-4-12 joined by dashes. Checked by hand, for
// the scans' inner loops; the caller makes sure the 36 bytes are there.
bool IsGuidAt(ByteView block, size_t i);

// Fewest values a shorter record (one with its header size intact) must hold
// to be taken for a message: through date_read (position 16). Records of other
// GUID-keyed tables (attachment: 9 or 12 columns) stay out.
inline constexpr size_t kMinCarvedMessageColumns = 17;

// Reads "message": live rows of every page set into live; deleted records from
// each leaf page's gap and freeblocks, then from the whole file (and log), into
// carved, in that order, duplicates included. Absent: nothing done; NoPages:
// its root could not be read, the file is still scanned.
// found, when given, gets where each carved row lay (FoundOnPage, RowReader.h).
TableRead LoadMessageTable(const SqliteFile& db, RowList& live, RowList& carved,
                           FoundList* found = nullptr);

// Appends every message record whose GUID lies inside block. Reads only inside
// block, except that a record whose local part ends with an overflow page
// number has its freed overflow chain followed (bounded, cycle-safe); the
// chain is dropped when the text it gives is not valid UTF-8. block must be a
// view on a page image (or a part of one) of db, so the local payload size can
// be worked out from db.usableSize. The attributedBody column's value is the
// text its archive holds ("" when it does not decode), not the archive bytes.
void CarveMessagesByGuid(const std::vector<ColumnDef>& columns, const SqliteFile& db,
                         ByteView block, RowList& carved);

// The carving step for one leaf page of the message table: the unallocated gap
// below the lowest live cell, then each freeblock of the chain (each carved as
// its own block, so a record cut by a later cell ends at the freeblock's end).
void CarveMessagePage(const SqliteFile& db, const LeafPage& page,
                      const std::vector<ColumnDef>& columns, RowList& carved,
                      FoundList* found = nullptr);
// The same, with the columns' declared words worked out once beforehand
// (MessageColumnKinds) by a caller that carves every leaf of the table.
std::vector<DeclaredWord> MessageColumnKinds(const std::vector<ColumnDef>& columns);
// rendered, when given, marks by position the columns whose values the
// caller reads: the others are left "" (a row still holds a value for each
// column its record reaches, and ends where it would end rendered whole).
using RenderedColumns = std::vector<bool>;
void CarveMessagePageOfKinds(const SqliteFile& db, const LeafPage& page,
                             const std::vector<ColumnDef>& columns,
                             const std::vector<DeclaredWord>& kinds, RowList& carved,
                             FoundList* found = nullptr, const RenderedColumns* rendered = nullptr);

// Carves every page of the database file after page 1, as stored in the file
// itself, then every frame's page image in the write-ahead log when one is
// open. Pages of the message table are passed over again: callers keep the
// first record of each GUID.
void ScanFileForMessages(const SqliteFile& db, const std::vector<ColumnDef>& columns,
                         RowList& carved, FoundList* found = nullptr);

// The file scan of ScanFileForMessages in pieces, for a caller that shares it
// out or streams it: the pages [firstPage, endPage) of the database file (page
// 1 is never scanned), or every frame of the write-ahead log. Each page's rows
// go to sink, which may consume them. A record whose GUID skip names (skip may
// be empty) is passed over before its values are read; its bytes still bound
// the records around it. ScanFileForMessages is pages 2 to the file's end,
// then the log, in that order. The sink gets where each row lay beside it: a
// page on the freelist or past the database's size is a FreePage, another
// page names the stretch (Freeblock, Gap, LeafPage, InteriorPage); every log
// frame is a LogFrame with its frame number and its offset in the log.
using GuidFilter = std::function<bool(std::string_view guid)>;
using CarvedRowSink = std::function<void(RowList& rows, FoundList& found)>;
//
// liveLeaves, when given, marks by page number the tables' leaves whose image
// in the file is their current one: the scan passes over their live cells
// (the message table's rows the leaf read has given already, other tables'
// live rows) and carves only the rest of those pages (freeblocks, the gap,
// fragments). Likewise the live cells of every index leaf in use, which hold
// index entries, never a record of the table.
//
// carvedAlready, when given, marks by page number (non-zero) the pages the
// scan is not to read: live leaves whose free space CarveMessagePageOfKinds
// carved already and of which the scan would find nothing more
// (ScanAddsNothingTo).
//
// rendered: as for CarveMessagePageOfKinds.
void ScanPagesForMessages(const SqliteFile& db, const std::vector<ColumnDef>& columns,
                          uint32_t firstPage, uint32_t endPage, const GuidFilter& skip,
                          const CarvedRowSink& sink, const std::vector<bool>* liveLeaves = nullptr,
                          const std::vector<uint8_t>* carvedAlready = nullptr,
                          const RenderedColumns* rendered = nullptr);

// Whether the file scan of this live leaf, read from the database file,
// would carve nothing CarveMessagePageOfKinds did not: it cuts the page into
// the same gap and freeblocks (the chain whole, no freeblock below the lowest
// cell, nothing overlapping), passes over the live cells, and what is left
// between them is too short to hold a GUID. The scan finds a subset of the
// same records there, since it also passes over GUIDs already known.
bool ScanAddsNothingTo(const LeafPage& page, uint32_t usableSize);

// The marks ScanPagesForMessages takes: the leaves of every table of the
// catalogue whose current image is the file's, not a log frame's.
std::vector<bool> LiveLeavesInFile(const SqliteFile& db);
void ScanLogForMessages(const SqliteFile& db, const std::vector<ColumnDef>& columns,
                        const GuidFilter& skip, const CarvedRowSink& sink,
                        const RenderedColumns* rendered = nullptr);

}  // namespace vantrel
