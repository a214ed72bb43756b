// The page walk the contact and call carvers share: every page of the main
// database file except page 1 (the schema) and the leaf pages of one table,
// handed over one block at a time. It reads the database file itself, not the
// write-ahead log: deleted bytes live in the file's own pages.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_set>

#include "recovery/Records.h"
#include "sqlite/ByteView.h"
#include "sqlite/Schema.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// visit(block, pageNo): block is the page's bytes as read (the last page of
// the file may be short). table may be nullptr: then only page 1 is skipped.
void WalkPagesOutsideTable(const SqliteFile& db, const TableInfo* table,
                           const std::function<void(ByteView block, uint32_t pageNo)>& visit);

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
