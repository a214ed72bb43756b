// Columns by name. The tables of later iOS versions add, move and drop
// columns, so the loaders take every position from the catalogue's column
// list of the file at hand rather than from a fixed layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "sqlite/Schema.h"

namespace vantrel {

// A position no column of the table has.
inline constexpr size_t kNoColumn = SIZE_MAX;

// The position of the column of that name (ASCII case ignored, as SQLite
// does), or kNoColumn.
size_t ColumnPosition(const std::vector<ColumnDef>& columns, std::string_view name);

}  // namespace vantrel
