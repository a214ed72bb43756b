// Telephone numbers in raw page bytes: a recogniser for the tail of a number
// as the address book stores it, and the carver that turns a recognised
// number into a deleted ABMultiValue row by reading the record header in
// front of it. Used on the pages that no longer belong to ABMultiValue.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include "sources/contacts/ContactRecord.h"
#include "sqlite/ByteView.h"
#include "sqlite/Schema.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// The shortest and longest number the recogniser accepts, in bytes.
inline constexpr size_t kMinPhoneNumberLength = 7;
inline constexpr size_t kMaxPhoneNumberLength = 20;

// Given a position e whose byte is a digit (the candidate last character of a
// number), returns the length n (7..20) of the number ending there, or 0.
// The number is a run of digits and "#*+,-; " whose last three bytes are
// digits and whose first byte is a digit or "+"; past its first seven bytes it
// holds digits and at most two dashes only ("#*+," until a second dash is seen,
// never a blank). A run of 21 bytes or more is no number. Only bytes of the
// block are read.
size_t RecognisePhoneNumber(ByteView block, size_t e);

// Scans one block from its end towards its start for numbers that are the
// value (position 5) of an ABMultiValue record of property 3, and appends each
// such record, decoded with the table's columns, to rows. Records of six
// columns (iOS 6) and seven columns (iOS 7, the guid last) are both read when
// the table declares seven. A second pass finds the records whose number the
// recogniser refuses (written with blanks or brackets) by the shape of the
// record alone: the value's serial type, the four integer types in front of
// it, the property 3 and a value of phone characters where the header says.
void CarvePhoneNumberRecords(ByteView block, const std::vector<ColumnDef>& columns, RowList& rows);

// Finds the telephone numbers of ABMultiValuePropertyValueIndex entries
// (property, value, UID) in one block: whole entries anywhere, and on an index
// leaf page also the freed ones, whose first four bytes a freeblock header
// took (DeletedBytes.h). Appends rows shaped like a multi-value row in which only the property
// (3) and the value (position 5) are known: the entry does not name the owner.
void CarvePhoneNumberIndexEntries(ByteView block, RowList& rows);

// Runs CarvePhoneNumberRecords and CarvePhoneNumberIndexEntries over every
// page of the main file except page 1 and the leaf pages of ABMultiValue, then,
// with a log, over the file's own image of each ABMultiValue leaf whose
// current image is in the log, over every older frame of the log and over the
// current image of each page that is no live ABMultiValue leaf
// (WalkLogFramesOutsideLeaves: place LogFrame, its frame number).
// Does nothing when the table is not in the catalogue. found, when given,
// gets one entry per row: the page, and the offset of the number's own bytes
// on it (these carvers find a record by its number, not by its cell start).
// A row whose number is in unplaced (numbers the caller drops, whatever their
// place) is not looked for: its entry is the page's start.
void TelephoneNumberCarver(const SqliteFile& db, RowList& rows,
                           std::vector<FoundAt>* found = nullptr,
                           const std::unordered_set<std::string>* unplaced = nullptr);

}  // namespace vantrel
