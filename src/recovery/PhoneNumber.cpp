#include "recovery/PhoneNumber.h"

#include "recovery/ContactCarvers.h"
#include "recovery/PageWalk.h"
#include "sqlite/BTree.h"

namespace vantrel {

namespace {

bool IsDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}

bool IsNumberByte(uint8_t c) {
  return IsDigit(c) || c == ' ' || c == '#' || c == '*' || c == '+' || c == ',' || c == '-' ||
         c == ';';
}

// Content size of the small serial types a multi-value's integer columns use.
uint64_t IntegerTypeSize(uint8_t type) {
  return SerialTypeSize(type);
}

// A serial type an integer column of a record can hold: NULL, 1- to 8-byte
// integers, the constants 0 and 1.
bool IsIntegerType(uint8_t type) {
  return type <= 6 || type == 8 || type == 9;
}

constexpr uint8_t kPhoneProperty = 3;
// From the value's serial type to the value: the guid's type (iOS 7) and the
// body of positions 1 to 4, which takes up to 3 + 1 + 2 + 2 bytes for
// record ids below 2^23 and labels below 2^15.
constexpr size_t kMaxTypeDistance = 10;
constexpr size_t kMultiValueColumnsIos6 = 6;
constexpr size_t kMultiValueColumnsIos7 = 7;

}  // namespace

size_t RecognisePhoneNumber(ByteView block, size_t e) {
  if (e < 2 || e >= block.size()) return 0;
  if (!IsDigit(block[e]) || !IsDigit(block[e - 1]) || !IsDigit(block[e - 2])) return 0;
  size_t run = 3;
  while (run < kMaxPhoneNumberLength + 1 && run <= e && IsNumberByte(block[e - run])) ++run;
  // A number starts with a digit or "+": leading blanks, dashes and the like
  // belong to whatever stood before it.
  while (run >= 3) {
    const uint8_t first = block[e - run + 1];
    if (IsDigit(first) || first == '+') break;
    --run;
  }
  if (run > kMaxPhoneNumberLength || run < kMinPhoneNumberLength) return 0;
  if (run <= 8) {
    for (size_t k = 3; k < run; ++k)
      if (!IsDigit(block[e - k])) return 0;
    return run;
  }
  // Past its first seven bytes a number holds digits and at most two dashes;
  // "#*+," only before the second dash; no blanks or semicolons.
  int dashes = 0;
  for (size_t k = 3; k <= run - 8; ++k) {
    const uint8_t c = block[e - k];
    if (IsDigit(c)) continue;
    if (c == '-') {
      if (++dashes > 2) return 0;
      continue;
    }
    if (c == '#' || c == '*' || c == '+' || c == ',') {
      if (dashes > 1) return 0;
      continue;
    }
    return 0;
  }
  return run;
}

void CarvePhoneNumberRecords(ByteView block, const std::vector<ColumnDef>& columns, RowList& rows) {
  const size_t columnCount = columns.size();
  if (columnCount < kMultiValueColumnsIos6) return;
  std::vector<uint64_t> types;
  size_t e = block.size();
  while (e > 0) {
    --e;
    if (block[e] < '0') continue;
    const size_t run = RecognisePhoneNumber(block, e);
    if (run == 0) continue;
    // The value's serial type: text (or blob) of n bytes, a few bytes in front
    // of the value (the integers of positions 1 to 4 lie between). The byte
    // before the value is the label's (or identifier's) last byte and may
    // itself look like a digit, so the value may start after the run does.
    size_t n = run;
    size_t s = 0;
    bool found = false;
    for (; n >= kMinPhoneNumberLength && !found; --n) {
      const uint8_t first = block[e - n + 1];
      if (n < run && !IsDigit(first) && first != '+') continue;
      for (size_t g = 1; g <= kMaxTypeDistance && g + n <= e; ++g) {
        const uint8_t t = block[e - n - g];
        if (t == 2 * n + 13 || t == 2 * n + 12) {
          s = e - n - g;
          found = true;
          break;
        }
      }
      if (found) break;
    }
    if (!found || s < 4) continue;
    const size_t valueStart = e - n + 1;
    // Serial types of positions 1 to 4 right before it: record_id, property
    // (a one-byte integer), identifier, label.
    const uint8_t recordIdType = block[s - 4];
    const uint8_t identifierType = block[s - 2];
    const uint8_t labelType = block[s - 1];
    if (block[s - 3] != 1 || !IsIntegerType(recordIdType) || !IsIntegerType(identifierType) ||
        !IsIntegerType(labelType))
      continue;
    const uint64_t identifierSize = IntegerTypeSize(identifierType);
    const uint64_t labelSize = IntegerTypeSize(labelType);
    const uint64_t before = IntegerTypeSize(recordIdType) + 1 + identifierSize + labelSize;
    if (e - n < identifierSize + labelSize) continue;
    if (block[e - n - identifierSize - labelSize] != kPhoneProperty) continue;
    // The body starts right after the header: either right after the value's
    // serial type (six columns), or after one more type, the guid's (seven).
    const size_t distance = valueStart - s;  // serial type byte to value start
    size_t recordColumns = 0;
    if (distance == before + 1) {
      recordColumns = kMultiValueColumnsIos6;
    } else if (columnCount >= kMultiValueColumnsIos7) {
      recordColumns = kMultiValueColumnsIos7;
    } else {
      continue;
    }
    types.clear();
    types.push_back(0);  // the UID column: NULL, it aliases the rowid
    const int used = SplitVarints(block.Sub(s - 4), 0, types, static_cast<int>(recordColumns - 1));
    const size_t body = s - 4 + static_cast<size_t>(used);
    if (body + before != valueStart) continue;  // the trailing type did not end the header
    RowValues row;
    DecodeCarvedValues(block, body, types, columns, false, 0, row);
    rows.push_back(std::move(row));
    // The record's cell starts a few bytes before its header; go on below it.
    if (s < 8) break;
    e = s - 7;
  }
}

int TelephoneNumberCarver(const SqliteFile& db, RowList& rows) {
  const TableInfo* table = FindTable(db, "ABMultiValue");
  if (!table) return 1;
  WalkPagesOutsideTable(db, table, [&](ByteView block, uint32_t) {
    CarvePhoneNumberRecords(block, table->columns, rows);
  });
  return 1;
}

}  // namespace vantrel
