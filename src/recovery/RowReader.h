// The table row reader: turns one table of an opened database into its live
// rows and the rows carved from the free space of its leaf pages, every value
// as UTF-8 text. It knows nothing of messages or contacts; the kind-specific
// readers reuse the live pass and swap the carving step for their own.
//
// Value rendering (the column's declared type decides, not the serial type):
//   NULL             live: the rowid when the column's constraint starts with
//                    "primary key" (an INTEGER PRIMARY KEY aliases the rowid); else ""
//                    carved: always ""
//   serial 8 / 9     "0" / "1"
//   integer column   (declared type "integer", any case) the big-endian
//                    two's-complement value as decimal text
//   other column     the bytes as UTF-8 text, normalised, up to the first zero byte
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recovery/Records.h"
#include "sqlite/BTree.h"
#include "sqlite/ByteView.h"
#include "sqlite/Schema.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// Renders one value of the given serial type whose content bytes are `content`
// (already cut to what is available) into out, by the rules above.
void RenderValue(uint64_t serialType, ByteView content, const ColumnDef& column, bool carved,
                 uint64_t rowid, std::string& out);

// One leaf page as the carving step sees it, after the live pass.
struct LeafPage {
  int32_t pageNo = 0;
  ByteView bytes;                    // the whole page image (pageSize bytes)
  std::vector<uint16_t> liveOffsets; // cell offsets of the live cells, pointer-array order
  uint16_t firstFreeblock = 0;       // F0
};

// The carving step run on each leaf page after its live pass. The default is
// TemplateCarvePage; kind-specific readers pass their own.
using CarveStep = std::function<void(const SqliteFile& db, const LeafPage& page,
                                     const std::vector<ColumnDef>& columns, RowList& carved)>;

// Live pass of one leaf page: appends one row per readable cell. Damaged cells
// are skipped; every other cell of the page is still read.
void ReadLiveCells(const SqliteFile& db, const LeafPage& page,
                   const std::vector<ColumnDef>& columns, RowList& live);

// Template carving of one leaf page: stale cell pointers, the unallocated gap
// below the lowest live cell, and the freeblock chain, each read as records
// shaped like the live cell nearest the first freeblock.
void TemplateCarvePage(const SqliteFile& db, const LeafPage& page,
                       const std::vector<ColumnDef>& columns, RowList& carved);

// Reads the page set's leaf pages in order: for each, its live rows into live,
// then the carving step's rows into carved. Returns 0.
int ReadPageSetRows(const SqliteFile& db, const PageSet& pageSet, RowList& live, RowList& carved,
                    const std::vector<ColumnDef>& columns, const CarveStep& carve = TemplateCarvePage);

// The whole table by exact name: -2 when it is absent (lists untouched), else 0.
int ReadTable(const SqliteFile& db, const std::string& name, RowList& live, RowList& carved,
              const CarveStep& carve = TemplateCarvePage);

// The integer of a text value by the atoi rule: optional blanks, optional
// sign, leading decimal digits; 0 when there are none.
int64_t TextToInt(const std::string& text);

}  // namespace vantrel
