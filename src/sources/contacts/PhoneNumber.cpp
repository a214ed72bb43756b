#include "sources/contacts/PhoneNumber.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <unordered_set>

#include "carve/PageWalk.h"
#include "sources/contacts/ContactCarvers.h"
#include "sources/contacts/ContactLoader.h"
#include "sqlite/BTree.h"
#include "sqlite/ColumnRules.h"
#include "sqlite/Page.h"

namespace vantrel {

namespace {

bool IsDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}

constexpr bool IsNumberCharacter(uint8_t c) {
  return (c >= '0' && c <= '9') || c == ' ' || c == '#' || c == '*' || c == '+' || c == ',' ||
         c == '-' || c == ';';
}

// The recogniser tests up to 21 bytes for each digit it ends at: a table.
constexpr std::array<bool, 256> kNumberBytes = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = IsNumberCharacter(static_cast<uint8_t>(c));
  return table;
}();

bool IsNumberByte(uint8_t c) {
  return kNumberBytes[c];
}

// Content size of the small serial types a multi-value's integer columns use.
uint64_t IntegerTypeSize(uint8_t type) {
  return SerialTypeSize(type);
}

constexpr uint8_t kPhoneProperty = 3;
// From the value's serial type to the value: the guid's type (iOS 7) and the
// body of positions 1 to 4, which takes up to 3 + 1 + 2 + 2 bytes for
// record ids below 2^23 and labels below 2^15.
constexpr size_t kMaxTypeDistance = 10;
constexpr size_t kMultiValueColumnsIos6 = 6;
constexpr size_t kMultiValueColumnsIos7 = 7;

}  // namespace

namespace {

// Bit k set when byte k of the eight at bytes is an ASCII digit. For each
// byte, 0x2F < byte < 0x3A is worked out on its low seven bits apart from its
// high bit, so no borrow or carry reaches a neighbour; the eight flags are
// then gathered into one byte.
uint64_t DigitFlags(const uint8_t* bytes) {
  uint64_t x = 0;
  std::memcpy(&x, bytes, sizeof x);
  constexpr uint64_t kOnes = ~uint64_t{0} / 255;
  constexpr uint64_t kLow7 = kOnes * 127;
  constexpr uint64_t kHigh = kOnes * 128;
  const uint64_t low = x & kLow7;
  const uint64_t flags = (kOnes * (127 + 0x3A) - low) & ~x & (low + kOnes * (127 - 0x2F)) & kHigh;
  return ((flags >> 7) * 0x0102040810204080ull) >> 56;
}

// The ends of three digits in a row in block: bit i (of word i / 64) set when
// bytes i - 2, i - 1 and i are digits, the only places the recogniser can
// accept.
void DigitRunEnds(ByteView block, std::vector<uint64_t>& ends) {
  const size_t n = block.size();
  ends.assign((n + 63) / 64, 0);
  size_t i = 0;
  for (; i + 8 <= n; i += 8) ends[i / 64] |= DigitFlags(block.data() + i) << (i % 64);
  for (; i < n; ++i) ends[i / 64] |= uint64_t{IsDigit(block[i])} << (i % 64);
  uint64_t before = 0;  // the digits of the word before
  for (uint64_t& word : ends) {
    const uint64_t digits = word;
    word = digits & ((digits << 1) | (before >> 63)) & ((digits << 2) | (before >> 62));
    before = digits;
  }
}

// The highest set bit below position limit, or SIZE_MAX.
size_t HighestBelow(const std::vector<uint64_t>& bits, size_t limit) {
  if (limit == 0) return SIZE_MAX;
  size_t word = (limit - 1) / 64;
  const size_t bit = (limit - 1) % 64;
  uint64_t mask = bits[word] & (bit == 63 ? ~uint64_t{0} : (uint64_t{1} << (bit + 1)) - 1);
  while (mask == 0) {
    if (word == 0) return SIZE_MAX;
    mask = bits[--word];
  }
  return word * 64 + 63 - static_cast<size_t>(__builtin_clzll(mask));
}

// RecognisePhoneNumber once the bytes ending at e are known to be digits (the
// last three) and number bytes: run is how many, at most 21.
size_t RecogniseRun(ByteView block, size_t e, size_t run) {
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

}  // namespace

size_t RecognisePhoneNumber(ByteView block, size_t e) {
  if (e < 2 || e >= block.size()) return 0;
  if (!IsDigit(block[e]) || !IsDigit(block[e - 1]) || !IsDigit(block[e - 2])) return 0;
  size_t run = 3;
  while (run < kMaxPhoneNumberLength + 1 && run <= e && IsNumberByte(block[e - run])) ++run;
  return RecogniseRun(block, e, run);
}

namespace {

// Characters of a stored telephone number in any format the address book keeps.
bool IsPhoneText(uint8_t c) {
  return IsDigit(c) || c == ' ' || c == '+' || c == '-' || c == '(' || c == ')' || c == '#' ||
         c == '*' || c == ',' || c == ';' || c == '.' || c == '/';
}

// A value found by its record's shape rather than by the recogniser: phone
// characters only, starting like a number and ending in a digit.
constexpr size_t kMinShapedNumber = 3;
constexpr size_t kMaxShapedNumber = 40;
constexpr int kMinShapedDigits = 5;

bool LooksLikeStoredNumber(ByteView block, size_t start, size_t n) {
  if (n < kMinShapedNumber || n > kMaxShapedNumber || !block.Contains(start, n)) return false;
  const uint8_t first = block[start];
  if (!IsDigit(first) && first != '+' && first != '(') return false;
  if (!IsDigit(block[start + n - 1])) return false;
  int digits = 0;
  for (size_t k = 0; k < n; ++k) {
    const uint8_t c = block[start + k];
    if (!IsPhoneText(c)) return false;
    digits += IsDigit(c);
  }
  return digits >= kMinShapedDigits;
}

// Checks that the bytes around a value of n bytes at valueStart, whose serial
// type stands at s, form an ABMultiValue record of a telephone number, and
// appends it decoded. The serial types of positions 1 to 4 stand right before
// s (record_id, property as a one-byte integer, identifier, label); the body
// starts right after the value's type (six columns) or after one more type,
// the guid's (seven columns), and holds those four integers, the property
// being 3, then the value.
bool TakeMultiValueRecord(ByteView block, size_t s, size_t n, size_t valueStart,
                          const std::vector<ColumnDef>& columns, std::vector<uint64_t>& types,
                          RowList& rows) {
  if (s < 4 || valueStart <= s || !block.Contains(valueStart, n)) return false;
  const uint8_t recordIdType = block[s - 4];
  const uint8_t identifierType = block[s - 2];
  const uint8_t labelType = block[s - 1];
  if (block[s - 3] != 1 || !IsIntegerOrNullSerialType(recordIdType) ||
      !IsIntegerOrNullSerialType(identifierType) || !IsIntegerOrNullSerialType(labelType))
    return false;
  const uint64_t identifierSize = IntegerTypeSize(identifierType);
  const uint64_t labelSize = IntegerTypeSize(labelType);
  const uint64_t before = IntegerTypeSize(recordIdType) + 1 + identifierSize + labelSize;
  if (valueStart - s <= before) return false;
  if (block[valueStart - 1 - identifierSize - labelSize] != kPhoneProperty) return false;
  const size_t distance = valueStart - s;  // serial type byte to value start
  size_t recordColumns = 0;
  if (distance == before + 1) {
    recordColumns = kMultiValueColumnsIos6;
  } else if (columns.size() >= kMultiValueColumnsIos7) {
    recordColumns = kMultiValueColumnsIos7;
  } else {
    return false;
  }
  types.clear();
  types.push_back(0);  // the UID column: NULL, it aliases the rowid
  const size_t body = s - 4 + DecodeVarints(block.Sub(s - 4), recordColumns - 1, types);
  if (body + before != valueStart) return false;  // the trailing type did not end the header
  RowValues row;
  DecodeCarvedValues(block, body, types, columns, false, 0, row);
  rows.push_back(std::move(row));
  return true;
}

// The ABMultiValuePropertyValueIndex entry: record (property, value, UID),
// header 4, 1, value type, UID type; body 3, the number, the UID.
constexpr uint8_t kIndexHeaderSize = 4;

bool IsRowidType(uint8_t type) {
  return type >= 1 && type <= 4;
}

void AppendIndexRow(ByteView block, size_t valueStart, size_t n, std::unordered_set<size_t>& taken,
                    RowList& rows) {
  if (!taken.insert(valueStart).second) return;
  // The entry knows the number and the multi-value's UID, not its owner.
  RowValues& row = rows.emplace_back(6);
  row[2] = std::to_string(kPhoneProperty);
  row[5].assign(reinterpret_cast<const char*>(block.Sub(valueStart, n).data()), n);
}

// A cell of the index that kept its header: payload length, header size 4,
// the property's type 1, a text type, the UID's type, a known property.
bool IsIntactIndexCell(ByteView block, size_t at, size_t regionEnd) {
  if (at + 6 > regionEnd) return false;
  const uint8_t t = block[at + 3];
  return block[at + 1] == kIndexHeaderSize && block[at + 2] == 1 && t >= 13 && t % 2 == 1 &&
         IsRowidType(block[at + 4]) && IsMultiValueProperty(block[at + 5]);
}

// A cell of the index whose first four bytes a freeblock header took: the
// UID's type, a known property, then the first character of its value.
bool IsFreedIndexCell(ByteView block, size_t at, size_t regionEnd) {
  if (at + 7 > regionEnd) return false;
  const uint8_t first = block[at + 6];
  return IsRowidType(block[at + 4]) && IsMultiValueProperty(block[at + 5]) && first >= 0x20 &&
         first != 0x7F;
}

// The first byte of a positive UID of uidSize bytes. One byte holds 1 to
// 127. A longer UID's first byte is below 0x80; one that reads as a digit
// would mean a UID from 12288 to 15103, far likelier the number's own digit
// with the cell overwritten after it.
bool IsPlausibleUidStart(uint8_t first, uint64_t uidSize) {
  if (uidSize == 1) return first >= 1 && first < 0x80;
  return first < 0x80 && !IsDigit(first);
}

// Freed cells of an index leaf page lose their first four bytes (payload
// length, header size, the property's and the value's types) to a freeblock
// header: what is left is the UID type, the property 3, the number and the
// UID. Such cells stay in the freeblocks and, once the content area shrank
// past them, in the unallocated gap. The number's length follows from where
// the next cell or the region begins; the UID may itself read as a phone
// character, so the longest number after which one of those follows is taken.
void CarveFreedIndexCells(ByteView block, size_t regionStart, size_t regionEnd,
                          std::unordered_set<size_t>& taken, RowList& rows) {
  regionEnd = std::min(regionEnd, block.size());
  const ByteView region = block.Sub(0, regionEnd);
  for (size_t p = regionStart; p + 3 < regionEnd; ++p) {
    // The property 3 after the UID's type is the rarer byte: step from one to the next.
    const size_t property = FindByte(region, p + 1, kPhoneProperty);
    if (property == SIZE_MAX) break;
    p = property - 1;
    if (p + 3 >= regionEnd) break;
    if (!IsRowidType(block[p]) || block[p + 1] != kPhoneProperty) continue;
    const size_t valueStart = p + 2;
    const uint64_t uidSize = IntegerTypeSize(block[p]);
    size_t run = 0;
    while (valueStart + run < regionEnd && run <= kMaxShapedNumber &&
           IsPhoneText(block[valueStart + run]))
      ++run;
    // Where the cell ends tells the number's length. In order of trust: the
    // region ends, or a cell that kept its header begins, right after the
    // UID; a kept header begins after a fragment of one to three bytes; a
    // freed cell's remains begin right after the UID, or after a fragment.
    // A cell whose end a newer cell took is not read: its number may be cut.
    size_t length = 0;
    for (int pass = 0; pass < 4 && length == 0; ++pass) {
      for (size_t len = run; len + 4 >= run && len >= kMinShapedNumber; --len) {
        const size_t valueEnd = valueStart + len;
        const size_t after = valueEnd + uidSize;
        bool ends = false;
        if (after <= regionEnd && IsPlausibleUidStart(block[valueEnd], uidSize)) {
          if (pass == 0) ends = after == regionEnd || IsIntactIndexCell(block, after, regionEnd);
          for (size_t gap = 1; gap <= 3 && pass == 1 && !ends; ++gap)
            ends = IsIntactIndexCell(block, after + gap, regionEnd);
          if (pass == 2) ends = IsFreedIndexCell(block, after, regionEnd);
          for (size_t gap = 1; gap <= 3 && pass == 3 && !ends; ++gap)
            ends = IsFreedIndexCell(block, after + gap, regionEnd);
        }
        if (ends) {
          length = len;
          break;
        }
      }
    }
    if (length == 0 || !LooksLikeStoredNumber(block, valueStart, length)) continue;
    AppendIndexRow(block, valueStart, length, taken, rows);
    p = valueStart + length - 1;
  }
}

// (length, distance) pairs: a value's length and how far in front of it its
// serial type stands.
using TypeTries = std::vector<std::pair<size_t, size_t>>;

// The serial types that may stand in front of a value ending at e, within a
// run of run number bytes: text (or blob) of n bytes, a few bytes in front
// of the value (the integers of positions 1 to 4 lie between). The byte
// before the value is the label's (or identifier's) last byte and may itself
// look like a digit, so the value may start after the run does. The longest
// value comes first, and for each length the nearest type. Each byte in
// front of the run is the type of one length at most (2n + 12 or 2n + 13):
// the pairs are gathered from the bytes, not from every length and distance.
void GatherTypeTries(ByteView block, size_t e, size_t run, TypeTries& tries) {
  tries.clear();
  if (e > kMinPhoneNumberLength) {
    const size_t highest = e - kMinPhoneNumberLength - 1;
    const size_t lowest = e >= run + kMaxTypeDistance ? e - run - kMaxTypeDistance : 0;
    for (size_t at = lowest; at <= highest; ++at) {
      const uint8_t t = block[at];
      if (t < 2 * kMinPhoneNumberLength + 12) continue;
      const size_t n = (t - 12) / 2;
      if (n > run || at + n >= e || e - n - at > kMaxTypeDistance) continue;
      tries.emplace_back(n, e - n - at);
    }
  }
  std::sort(tries.begin(), tries.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : a.second < b.second;
  });
}

// Appends the record of the first of tries that reads as one, for a value
// ending at e; s is then where its value's serial type stands. False when
// none does.
bool TakeFirstTry(ByteView block, size_t e, size_t run, const TypeTries& tries,
                  const std::vector<ColumnDef>& columns, std::vector<uint64_t>& types,
                  std::unordered_set<size_t>& taken, RowList& rows, size_t& s) {
  for (const auto& [n, g] : tries) {
    const uint8_t first = block[e - n + 1];
    if (n < run && !IsDigit(first) && first != '+') continue;
    s = e - n - g;
    if (TakeMultiValueRecord(block, s, n, e - n + 1, columns, types, rows)) {
      taken.insert(e - n + 1);
      return true;
    }
  }
  return false;
}

// The records whose number the recogniser accepts: from the end of the block
// towards its start, each place three digits end at.
void CarveRecognisedNumbers(ByteView block, const std::vector<ColumnDef>& columns,
                            std::vector<uint64_t>& types, std::unordered_set<size_t>& taken,
                            RowList& rows) {
  std::vector<uint64_t> ends;
  DigitRunEnds(block, ends);
  size_t runStart = 1, runEnd = 0;  // [runStart, runEnd]: number bytes, none yet
  TypeTries tries;
  for (size_t e = HighestBelow(ends, block.size()); e != SIZE_MAX; e = HighestBelow(ends, e)) {
    // The run of number bytes e lies in, found once for all the ends in it
    // (RecognisePhoneNumber would count back from each).
    if (e > runEnd || e < runStart) {
      runStart = runEnd = e;
      while (runStart > 0 && IsNumberByte(block[runStart - 1])) --runStart;
    }
    const size_t run =
        RecogniseRun(block, e, std::min(kMaxPhoneNumberLength + 1, e - runStart + 1));
    if (run == 0) continue;
    GatherTypeTries(block, e, run, tries);
    size_t s = 0;
    if (!TakeFirstTry(block, e, run, tries, columns, types, taken, rows, s)) continue;
    // The record's cell starts a few bytes before its header; go on below it.
    if (s < 8) break;
    e = s - 7;
  }
}

// Records whose number the recogniser refuses (blanks, brackets), found by
// the shape of the record alone: the value's serial type with the four
// integer types in front of it and a number where the header says.
void CarveShapedNumbers(ByteView block, const std::vector<ColumnDef>& columns,
                        std::vector<uint64_t>& types, std::unordered_set<size_t>& taken,
                        RowList& rows) {
  const size_t columnCount = columns.size();
  for (size_t s = 4; s < block.size(); ++s) {
    // The property's type (1) three bytes before s is the rarest of the tests.
    const size_t one = FindByte(block, s - 3, 1);
    if (one == SIZE_MAX) break;
    s = one + 3;
    if (s >= block.size()) break;
    const uint8_t t = block[s];
    if (t % 2 == 0 || t < 2 * kMinShapedNumber + 13 || t > 2 * kMaxShapedNumber + 13) continue;
    if (block[s - 3] != 1) continue;
    const size_t n = (t - 13) / 2;
    const uint64_t before = IntegerTypeSize(block[s - 4]) + 1 + IntegerTypeSize(block[s - 2]) +
                            IntegerTypeSize(block[s - 1]);
    for (size_t extra : {size_t{1}, size_t{2}}) {
      if (extra == 2) {
        const uint8_t guidType = block[s + 1];
        if (columnCount < kMultiValueColumnsIos7 ||
            (guidType != 0 && (guidType < 13 || guidType % 2 == 0)))
          continue;
      }
      const size_t valueStart = s + extra + before;
      if (taken.count(valueStart) || !LooksLikeStoredNumber(block, valueStart, n)) continue;
      if (TakeMultiValueRecord(block, s, n, valueStart, columns, types, rows)) {
        taken.insert(valueStart);
        break;
      }
    }
  }
}

}  // namespace

void CarvePhoneNumberRecords(ByteView block, const std::vector<ColumnDef>& columns, RowList& rows) {
  if (columns.size() < kMultiValueColumnsIos6) return;
  std::vector<uint64_t> types;
  std::unordered_set<size_t> taken;  // value starts of the records already appended
  CarveRecognisedNumbers(block, columns, types, taken, rows);
  CarveShapedNumbers(block, columns, types, taken, rows);
}

void CarvePhoneNumberIndexEntries(ByteView block, RowList& rows) {
  std::unordered_set<size_t> taken;
  // Whole entries, wherever they lie: header 4, 1, value type, UID type, then
  // the property 3, the number and the UID; the payload length in front
  // matches.
  for (size_t h = 1; h + 5 < block.size(); ++h) {
    h = FindByte(block, h, kIndexHeaderSize);
    if (h == SIZE_MAX || h + 5 >= block.size()) break;
    if (block[h] != kIndexHeaderSize || block[h + 1] != 1 || block[h + 4] != kPhoneProperty)
      continue;
    const uint8_t t = block[h + 2];
    const uint8_t uidType = block[h + 3];
    if (t % 2 == 0 || t < 13 || !IsRowidType(uidType)) continue;
    const size_t n = (t - 13) / 2;
    const uint64_t uidSize = IntegerTypeSize(uidType);
    if (block[h - 1] != kIndexHeaderSize + 1 + n + uidSize) continue;
    if (!block.Contains(h + 5, n + uidSize) || !LooksLikeStoredNumber(block, h + 5, n)) continue;
    AppendIndexRow(block, h + 5, n, taken, rows);
  }
  // Entries freed on an index leaf page: in its freeblocks and in the gap
  // between the cell pointer array and the cell content area.
  const BTreePage tree = ParsePage(block);
  if (block.size() < kLeafHeaderSize || !tree.Is(PageType::LeafIndex)) return;
  const PageRange gap = tree.GapByHeader();
  if (gap.begin < gap.end) CarveFreedIndexCells(block, gap.begin, gap.end, taken, rows);
  tree.ForEachFreeblock(kLeafHeaderSize, [&](Freeblock f) {
    CarveFreedIndexCells(block, f.offset, f.end, taken, rows);
  });
}

void TelephoneNumberCarver(const SqliteFile& db, RowList& rows, std::vector<FoundAt>* found,
                           const std::unordered_set<std::string>* unplaced) {
  const TableInfo* table = FindTable(db, "ABMultiValue");
  if (!table) return;
  const PagePlaces places(db);
  // base: where the block's first byte lies; each number's offset in the block is added.
  // withIndex: also the index entries, whose freed cells lose their length; on the older images
  // of the log, whose records of the same numbers are there whole, they only add cut copies.
  const auto carve = [&](ByteView block, const FoundAt& base, bool withIndex) {
    const size_t before = rows.size();
    CarvePhoneNumberRecords(block, table->columns, rows);
    if (withIndex) CarvePhoneNumberIndexEntries(block, rows);
    if (!found) return;
    for (size_t k = before; k < rows.size(); ++k) {
      const std::string& number =
          rows[k].size() > multi_value_column::kValue ? rows[k][multi_value_column::kValue] : "";
      found->push_back(base);
      // The number's first copy in the block; a number the caller will drop is not looked for.
      if (number.empty() || (unplaced && unplaced->count(number))) continue;
      const void* first = memmem(block.data(), block.size(), number.data(), number.size());
      if (first != nullptr)
        found->back().offset += static_cast<const uint8_t*>(first) - block.data();
    }
  };
  WalkPagesOutsideTable(db, table, [&](ByteView block, uint32_t pageNo) {
    carve(block, places.At(pageNo, block, 0), true);
  });
  // With a log: the file's own image of each logged leaf of the table, and the log's older
  // frames of any page, and the current image of a page that is no live leaf of the table (a
  // leaf freed in a committed transaction), keep numbers deleted since; a number still live
  // is dropped later.
  WalkFileImagesOfLoggedLeaves(db, *table, [&](ByteView block, uint32_t pageNo) {
    carve(block, places.At(pageNo, block, 0), false);
  });
  WalkLogFramesOutsideLeaves(
      db, table, [&](ByteView block, const FoundAt& frame, bool) { carve(block, frame, false); });
}

}  // namespace vantrel
