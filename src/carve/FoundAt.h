// Rows as the reader and the carvers hand them on (every value as UTF-8 text),
// and where a deleted row's bytes were found, for people who must show their evidence.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Boxed.h"

namespace vantrel {

// One table row as text values, one per decoded column in column order.
// Numbers travel as decimal text; a row may hold fewer values than the table
// has columns, never more.
using RowValues = std::vector<std::string>;
using RowList = std::vector<RowValues>;

// The kind of place a deleted record's bytes were found in.
enum class Place : uint8_t {
  Unknown,
  Freeblock,     // a freed cell on a table leaf page
  Gap,           // the unallocated space between the cell pointers and the cells
  LeafPage,      // a table leaf page with no live cell left
  InteriorPage,  // a b-tree interior page
  FreePage,      // a freelist trunk or leaf, a dropped table's page, a page past the end
  LogFrame,      // an old or uncommitted frame of the write-ahead log
  IndexOnly,     // only the record's key survives, in an index
};

// Where a deleted record was found, for people who must show their evidence:
// the database file (its name inside the backup, or its path), the page, the
// byte offset in that file (in the log file for a log frame) and the place.
struct FoundAt {
  std::string file;
  uint32_t page = 0;
  uint64_t offset = 0;
  Place place = Place::Unknown;
  uint32_t frame = 0;  // log frame number (1-based) when place is LogFrame

  bool operator==(const FoundAt&) const = default;
};

// Where a record was found, or nullptr, whichever way it holds it.
inline const FoundAt* FoundOrNull(const FoundAt& found) {
  return &found;
}
inline const FoundAt* FoundOrNull(const std::optional<FoundAt>& found) {
  return found ? &*found : nullptr;
}
inline const FoundAt* FoundOrNull(const Boxed<FoundAt>& found) {
  return found ? &*found : nullptr;
}

}  // namespace vantrel
