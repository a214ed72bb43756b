// The call-record scanner: finds records of the `call` table in raw bytes
// (a page's unallocated front, its freeblocks, pages outside the table) and
// decodes their first six values, so that deleted calls can be shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sources/calls/CallRecord.h"
#include "sqlite/ByteView.h"
#include "sqlite/ColumnRules.h"
#include "sqlite/Schema.h"

namespace vantrel {

// A `call` record as the devices write it (iOS 6: 13 columns, iOS 7: 14, the
// last being `answered`):
//
//   header-size byte, then one serial type per column, nearly always one byte each:
//     0  ROWID     0 (NULL: an INTEGER PRIMARY KEY is stored as the rowid)
//     1  address   odd text type, 15..99 (1 to 43 bytes)
//     2  date      4 (Unix seconds as a 4-byte integer)
//     3  duration, 4 flags, 5 id   small integers
//     9  read      8 or 9 (the constants 0 and 1)
//    13  answered  (iOS 7 only) a small integer or NULL
//   then the values back to back, the address first.
//
// A device upgraded from iOS 6 keeps rows of 13 values in the 14-column table,
// so both widths are accepted. The scanner anchors on the rowid's serial-type
// byte: the four bytes a freed cell loses (DeletedBytes.h) usually take the
// payload length, the rowid, the header-size byte and sometimes the rowid's
// serial type with them; everything from the address's serial type on
// survives.
struct CallRecordShape {
  std::vector<ColumnDef> columns;   // the table's columns, from the catalogue
  std::vector<DeclaredWord> words;  // their declared words, for the rule book's fit
  std::vector<size_t> valueCounts;  // accepted values per record, widest first
};

// The shape of the catalogue's `call` table: its column count, and that count
// without `answered` when the table ends with it (rows written before iOS 7).
CallRecordShape MakeCallRecordShape(const std::vector<ColumnDef>& columns);

// One record found by the scanner.
struct CallHit {
  RowValues row;      // "", address, date, duration, flags, id (fewer when cut by the stretch end)
  size_t anchor = 0;  // offset in the stretch of the rowid's serial-type byte
  bool cut = false;   // the record ran into a live cell: its values end before the cut one
};

// Scans the stretch for call records whose anchor lies at firstAnchor or later
// and appends each record it accepts. Nothing outside the stretch is read.
// A record is checked up to its `network_code`: the address must be a number,
// the texts clean. A damaged record is still taken when its address, date,
// duration and flags are intact and the damage is explained: the stretch ends
// (a live cell or the page end follows), or a later call cell was written
// over its tail (that later record is found too). It then keeps the values
// that precede the damage. cellStarts (sorted stretch offsets, may be empty) are where live
// cells of the page begin: damage that starts at one of them is explained too (an interior
// page whose only cell was written over a record's tail), and the record keeps the values
// before that cell. Returns the number appended.
size_t ScanCallRecords(ByteView stretch, size_t firstAnchor, const CallRecordShape& shape,
                       std::vector<CallHit>& hits, const std::vector<size_t>& cellStarts = {});

}  // namespace vantrel
