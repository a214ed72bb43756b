// Carvers for deleted address-book rows: the person carver, which finds
// ABPerson records by the shape of their header in pages outside the table,
// and the carving step used on the leaf pages of ABMultiValue, which reads
// freed cells shaped like a live cell of the same page (what freeing leaves
// of a cell: DeletedBytes.h). Both decode values with the same rules
// (DecodeCarvedValues).
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "carve/RowReader.h"
#include "sources/contacts/ContactRecord.h"
#include "sqlite/ByteView.h"
#include "sqlite/Schema.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// A carved value is decoded through a buffer of this many bytes: a value of
// 1024 bytes or more ends the record.
inline constexpr size_t kCarveValueBuffer = 1024;

// Decodes the values of a record found in raw bytes, walking serial types and
// columns together from the first, the body starting at `body` in block.
// NULL gives "" (or, with primaryKeyRowid, the rowid in decimal for a column
// whose constraint begins with "primary key": ConstraintStartsWithPrimaryKey); serial types 8 and 9
// give "0" and "1"; an "integer" column gives the signed big-endian value, any other column the
// bytes as UTF-8 text. A text value that runs past the block is cut at the block's end and ends the
// record; any other value that does not fit in the block or the decoding buffer ends the record
// without it.
void DecodeCarvedValues(ByteView block, size_t body, const std::vector<uint64_t>& serialTypes,
                        const std::vector<ColumnDef>& columns, bool primaryKeyRowid, uint64_t rowid,
                        RowValues& row);

// The ABPerson column counts of iOS 7 and of iOS 6 (guid and PhonemeData were
// added in iOS 7): the person carver accepts a record of the table's count or
// of the count without those two columns.
inline constexpr size_t kPersonColumnsAddedInIos7 = 2;

// Finds ABPerson records in one block by their header: a NULL row id, Kind 0
// (a person) or 1 (a company card), FirstSort and LastSort of equal serial
// type, and CreationDate and ModificationDate as 4-byte integers. The cell's payload length, row id
// and header size must be whole in front of the header; value 0 of each row is the row id. On a
// table leaf page a record inside which a live cell or a freeblock begins is left out (its bytes
// are no longer its own), as is one whose names hold control characters or broken text. Appends one
// row per record; headers, when given, gets where each record's header begins in block.
void CarvePersonRecords(ByteView block, const std::vector<ColumnDef>& columns, RowList& rows,
                        std::vector<size_t>* headers = nullptr);

// Carves every page of the main file except page 1 and the leaf pages of
// ABPerson for person records: a page that is a table leaf (an old leaf of
// the table on the freelist, or emptied) as the table's own leaves are
// (freed records too, rowids from the cells around them), any other page by
// CarvePersonRecords. Then the file's own older image of each ABPerson leaf
// whose current image is in the log, and the page image of every committed
// log frame. Does nothing when the table is not in the catalogue. found,
// when given, gets where each record's header lay (the place the page is:
// PagePlaces; LogFrame with its frame in the log).
void PersonCarver(const SqliteFile& db, RowList& rows, FoundList* found = nullptr);

// Finds the person records on the leaf pages of ABPerson itself, to name the
// numbers of deleted persons. A freed record keeps its rowid when no
// freeblock header took it; otherwise, on a page whose live rowids ascend
// from the page's end towards its start (cells are written that way), the k
// freed records between live records of rowids a and a + k + 1 are a + 1 to
// a + k in that order. Freed records overlapped by a live cell or a freeblock,
// or with damaged names, are left out; live records come along with their own
// names. A freed record whose rowid neither survived nor follows from its
// neighbours comes with value 0 empty. found, when given, gets where each record's header lay: Gap
// or Freeblock for a freed record, Unknown for a live one. A live record
// whose rowid is in liveRowids (ones the caller read from the table itself)
// is left out; it still counts for its neighbours' rowids.
void PersonCarverOnTablePages(const SqliteFile& db, RowList& rows, FoundList* found = nullptr,
                              const std::unordered_set<uint64_t>* liveRowids = nullptr);

// Finds ABMultiValue records of e-mail addresses (property 4) in one block by
// their shape: the value's text serial type with the four integer types of
// record_id, property (a one-byte integer), identifier and label in front of
// it, the body holding those integers, the property 4, then a value that reads
// as an address (clean text, one "@" with something on both sides, no blank).
// Records of six columns (iOS 6) and seven (the guid last) are both read; the
// header's first bytes, which a freeblock header may have taken, are not
// needed. headers, when given, gets where each record's header begins (its
// size byte, whether or not a freeblock header took it since).
void CarveEmailRecords(ByteView block, const std::vector<ColumnDef>& columns, RowList& rows,
                       std::vector<size_t>* headers = nullptr);

// Runs CarveEmailRecords over every page of the main file except page 1 and
// the leaf pages of ABMultiValue (whose freed cells the template carving
// reads), over the file's own older image of each such leaf whose current
// image is in the log, and over every committed log frame. found, when
// given, gets one entry per row.
void EmailCarver(const SqliteFile& db, RowList& rows, FoundList* found = nullptr);

// The first offset from `from` on whose byte is value, or SIZE_MAX. The
// carvers' scans test many bytes around one rare byte of a record's header;
// they step from one such byte to the next with this (memchr) instead of
// testing every offset.
size_t FindByte(ByteView block, size_t from, uint8_t value);

// The property codes a multi-value can carry: phone 3, e-mail 4, address 5,
// dates 12, instant messaging 13, URL 22, related name 23, social profile 46.
bool IsMultiValueProperty(int64_t code);

// Text as the address book stores it: well-formed UTF-8 without control
// characters. Carved text that is not is damaged.
bool IsCleanCarvedText(ByteView bytes);

// A carved ABMultiValue row that can be real: a value, an owner rowid, a
// known property, a small identifier and a label rowid (or none).
bool IsPlausibleMultiValue(const RowValues& row);

// The carving step for ABMultiValue leaf pages: template carving of the
// unallocated gap and the freeblock chain, with one change for this table.
// A record's serial types are read right after its leading 0 (the NULL of the
// UID column, which aliases the rowid); when the byte where the template says
// they begin is that 0 (the freed cell has a two-byte rowid where the
// template has one), the record is read one byte further on, and when the
// template's rowid is the longer one and its types do not fit the columns,
// one byte earlier. A value the region ends inside, text that is not clean,
// and rows that are not plausible multi-values are not kept.
// A page without a live cell is read by the row reader's carving by columns
// (TemplateCarvePage), keeping the plausible multi-values. found, when given,
// gets where each kept row's cell began.
void CarveMultiValuePage(const SqliteFile& db, const LeafPage& page,
                         const std::vector<ColumnDef>& columns, RowList& carved,
                         FoundList* found = nullptr);

}  // namespace vantrel
