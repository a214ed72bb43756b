// The rule book for columns: which affinity a declared type gives, which
// column is the rowid, and which serial types a column can hold. The reader
// and every carver ask here, so a rule is written once; where a carver keeps
// a narrower rule than SQLite's on purpose, the variant is named below with
// the reason.
#pragma once

#include <cstdint>
#include <string_view>

#include "sqlite/BTree.h"
#include "sqlite/Schema.h"

namespace vantrel {

// SQLite's column affinity, by its rules in this order: a declared type
// containing INT is INTEGER; CHAR, CLOB or TEXT is TEXT; BLOB or no type is
// BLOB; REAL, FLOA or DOUB is REAL; anything else NUMERIC. Case-insensitive.
enum class Affinity : uint8_t { Integer, Text, Blob, Real, Numeric };
Affinity AffinityOf(std::string_view declaredType);

// Whether a value of this serial type can have been stored in a column of
// this affinity: a TEXT column turns numbers into text, so it holds NULL, text
// or blobs; the others can hold anything. Serial types 10 and 11 are reserved
// and never stored.
constexpr bool FitsAffinity(Affinity affinity, uint64_t serialType) {
  if (serialType == 10 || serialType == 11) return false;
  return affinity != Affinity::Text || serialType == 0 || serialType >= 12;
}

// The rowid alias: a column declared exactly INTEGER whose constraint says
// PRIMARY KEY. Its record stores NULL and the rowid stands for it. A table's
// PRIMARY KEY(x) on one column is noted on that column by the schema reader;
// a key of several columns is noted on none, so it makes no alias.
bool IsRowidAlias(const ColumnDef& column);

// Variant kept by the address-book carvers: the constraint merely begins with
// PRIMARY KEY, whatever the declared type. iOS declares every ROWID column of
// those tables "INTEGER PRIMARY KEY AUTOINCREMENT", where both tests agree;
// the carvers' rows were written with this one, so it stays.
bool ConstraintStartsWithPrimaryKey(const ColumnDef& column);

// Variant kept by the carvers that read iOS tables in raw bytes: the declared
// type word taken exactly (case-insensitive), not by affinity. iOS declares
// its columns with the bare words INTEGER and TEXT, and the carvers only
// constrain those: a column of any other declaration (BLOB, no type, or a
// word added by a later iOS) takes anything, which keeps a carver working on
// schemas it was not written for instead of refusing their records.
enum class DeclaredWord : uint8_t { Integer, Text, Other };
DeclaredWord DeclaredWordOf(const ColumnDef& column);

// The fit by declared word that the message and call scanners use: an
// INTEGER column holds NULL, integers or a real (SQLite's type affinity stores
// text that looks like a number as one), a TEXT column NULL, text or blobs;
// serial types 10 and 11 never.
constexpr bool FitsDeclaredWord(DeclaredWord word, uint64_t serialType) {
  if (serialType == 10 || serialType == 11) return false;
  if (word == DeclaredWord::Integer) return serialType <= 9;
  if (word == DeclaredWord::Text) return serialType == 0 || serialType >= 12;
  return true;
}

// NULL, an integer of 1 to 8 bytes or the constants 0 and 1: what an address
// book integer column holds (FitsAddressBookWord for an INTEGER column).
constexpr bool IsIntegerOrNullSerialType(uint64_t serialType) {
  return serialType <= 6 || serialType == 8 || serialType == 9;
}

// The narrower fit the address-book carvers use, which matches what the
// address book itself writes: an INTEGER column holds NULL or an integer
// (never a real), a TEXT column NULL or text (never a blob). Other columns
// take any serial type, the reserved ones included, as they always have.
constexpr bool FitsAddressBookWord(DeclaredWord word, uint64_t serialType) {
  if (word == DeclaredWord::Integer) return IsIntegerOrNullSerialType(serialType);
  if (word == DeclaredWord::Text) return serialType == 0 || IsTextSerialType(serialType);
  return true;
}

}  // namespace vantrel
