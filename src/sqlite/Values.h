// A stored value as text, as SQLite's own `SELECT *` would show it.
//
//   NULL             live: the rowid in the rowid alias column (IsRowidAlias,
//                    ColumnRules.h: its record stores NULL); else ""
//                    carved: always "" (a carved record's rowid is not known)
//   serial 1-6, 8, 9 the integer in decimal ("0" / "1" for 8 / 9); in a column
//                    of REAL affinity (ColumnRules.h) as a real, "3.0",
//                    since SQLite stores whole reals as integers
//   serial 7         the real as SQLite prints it (15 significant digits)
//   text             the bytes as UTF-8, normalised, up to the first zero byte
//   blob             in an "integer" column: its bytes as one big-endian number;
//                    elsewhere as text, up to the first zero byte
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sqlite/ByteView.h"
#include "sqlite/Schema.h"

namespace vantrel {

// The integer of a text value by the atoi rule: optional blanks, optional
// sign, leading decimal digits; 0 when there are none.
int64_t TextToInt(const std::string& text);

// What rendering a value needs to know of its column, worked out once per
// column: the declared type is words to compare, and a big table has millions
// of values.
struct ValueRules {
  bool rowidAlias = false;    // IsRowidAlias: a live NULL stands for the rowid
  bool realAffinity = false;  // whole numbers are shown as reals
  bool integerWord = false;   // declared INTEGER: a blob or a cut real reads as a number

  static ValueRules Of(const ColumnDef& column);
};
std::vector<ValueRules> ValueRulesOf(const std::vector<ColumnDef>& columns);

// Renders one value of the given serial type whose content bytes are `content`
// (already cut to what is available) into out, by the rules above.
void RenderValue(uint64_t serialType, ByteView content, const ColumnDef& column, bool carved,
                 uint64_t rowid, std::string& out);
void RenderValue(uint64_t serialType, ByteView content, const ValueRules& rules, bool carved,
                 uint64_t rowid, std::string& out);

// Whether RenderValue would give "" for this value, without rendering it.
bool RendersEmpty(uint64_t serialType, ByteView content, const ValueRules& rules, bool carved);

// TextToInt of what RenderValue would give for this value. A plain integer
// (or the rowid a live alias NULL stands for) is taken as it is, with no text
// in between; any other value is rendered and read back, so the two agree
// whatever the value holds.
int64_t RenderedInteger(uint64_t serialType, ByteView content, const ValueRules& rules, bool carved,
                        uint64_t rowid);

// TextToInt of what RenderValue gives, when it can be had without the text: a
// stored integer outside a REAL column (written in decimal, read back as it
// was), the rowid a live alias NULL stands for, or 0 for any other NULL ("").
// False for text, blobs and reals, which are rendered and read.
bool PlainInteger(uint64_t serialType, ByteView content, const ValueRules& rules, bool carved,
                  uint64_t rowid, int64_t& value);

}  // namespace vantrel
