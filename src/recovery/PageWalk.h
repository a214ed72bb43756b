// The page walk the contact and call carvers share: every page of the main
// database file except page 1 (the schema) and the leaf pages of one table,
// handed over one block at a time. It reads the database file itself, not the
// write-ahead log: deleted bytes live in the file's own pages.
#pragma once

#include <cstdint>
#include <functional>

#include "sqlite/ByteView.h"
#include "sqlite/Schema.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// visit(block, pageNo): block is the page's bytes as read (the last page of
// the file may be short). table may be nullptr: then only page 1 is skipped.
void WalkPagesOutsideTable(const SqliteFile& db, const TableInfo* table,
                           const std::function<void(ByteView block, uint32_t pageNo)>& visit);

}  // namespace vantrel
