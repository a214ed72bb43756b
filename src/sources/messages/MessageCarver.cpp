#include "sources/messages/MessageCarver.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <boost/regex.hpp>
#include <cstring>
#include <string>
#include <unordered_set>

#include "carve/PageWalk.h"
#include "platform/Text.h"
#include "sources/apple/AttributedBody.h"
#include "sqlite/BTree.h"
#include "sqlite/ColumnNames.h"
#include "sqlite/ColumnRules.h"
#include "sqlite/Page.h"

namespace vantrel {
namespace {

constexpr uint64_t kGuidSerialType = 85;  // a text of 36 bytes: 36 * 2 + 13
// A message payload beyond this is damage, not a message.
constexpr uint64_t kMaxPayload = 1u << 24;

// The device's GUID pattern, confirmed by the regular-expression engine once
// the hand check has found a likely candidate: the engine runs on the few
// records the scan keeps, never in its inner loop.
bool MatchesGuidPattern(std::string_view text) {
  static const boost::regex pattern("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
  return boost::regex_match(text.begin(), text.end(), pattern);
}

// The bytes of a varint ending at `last` (its byte below 0x80) begin after the
// previous byte below 0x80: every earlier byte of a varint has its top bit set.
// npos when the varint would run past the block start or its nine bytes.
constexpr size_t kNone = SIZE_MAX;

size_t VarintStartEndingAt(ByteView block, size_t last) {
  size_t start = last;
  while (start > 0 && block[start - 1] >= 0x80) {
    if (last - start + 1 >= kMaxVarintLength) return kNone;
    --start;
  }
  if (start == 0 && block[0] >= 0x80) return kNone;
  return start;
}

// Where a message record's header lies, relative to the block.
struct FoundHeader {
  size_t typesStart = 0;              // first serial type after the GUID's (column 2)
  int64_t headerStart = 0;            // the header-size varint; may lie before the block
  uint64_t headerSize = 0;            // H, counting its own varint
  std::vector<uint64_t> serialTypes;  // all of them, rowid and GUID included
};

// The header size of a record whose serial types (from the rowid's) take
// `typesBytes` bytes, with the length of the header-size varint itself.
void HeaderSizeFor(uint64_t typesBytes, uint64_t& headerSize, int& varintLength) {
  if (typesBytes + 1 < 0x80) {
    headerSize = typesBytes + 1;
    varintLength = 1;
  } else {
    headerSize = typesBytes + 2;
    varintLength = 2;
  }
}

// True when the header-size varint right before zeroPos survives and agrees
// with a body starting at bodyStart.
bool HeaderSizeSurvives(ByteView block, size_t zeroPos, size_t bodyStart) {
  uint64_t headerSize = 0;
  int length = 0;
  HeaderSizeFor(bodyStart - zeroPos, headerSize, length);
  if (zeroPos < static_cast<size_t>(length)) return false;
  uint64_t value = 0;
  int got = 0;
  DecodeVarint(block.Sub(zeroPos - length, length), value, got);
  return got == length && value == headerSize;
}

// The declared words, worked out once per carve rather than once per serial
// type: a scan meets a GUID in every message cell. Header bytes walked from
// the wrong place, such as a GUID in a later column preceded by plain text,
// fail the rule book's fit at once.
using ColumnKinds = std::vector<DeclaredWord>;

ColumnKinds KindsOf(const std::vector<ColumnDef>& columns) {
  ColumnKinds kinds;
  kinds.reserve(columns.size());
  for (const ColumnDef& column : columns) kinds.push_back(DeclaredWordOf(column));
  return kinds;
}

// Decodes the serial types of columns 2.. from typesStart up to the body start
// i, checking each against its column. False when they do not fit.
bool DecodeTypes(ByteView block, size_t typesStart, size_t i, const ColumnKinds& columns,
                 FoundHeader& out) {
  out.typesStart = typesStart;
  out.serialTypes.assign({0, kGuidSerialType});
  ByteView types = block.Sub(typesStart, i - typesStart);
  size_t p = 0;
  while (p < types.size()) {
    // Most serial types are one byte; only longer ones need the full decoder.
    uint64_t value = types.data()[p];
    int length = 1;
    if (value >= 0x80) DecodeVarint(types.Sub(p), value, length);
    if (length == 0) return false;
    const size_t k = out.serialTypes.size();
    if (k >= columns.size() || !FitsDeclaredWord(columns[k], value)) return false;
    out.serialTypes.push_back(value);
    p += static_cast<size_t>(length);
  }
  // The rowid's serial type sits two bytes before the column-2 types (it may
  // lie just before the block, or be overwritten by a freeblock header).
  int varintLength = 0;
  HeaderSizeFor(i - typesStart + 2, out.headerSize, varintLength);
  out.headerStart = static_cast<int64_t>(typesStart) - 2 - varintLength;
  return true;
}

// Walks the serial types backwards from the body start i. Accepts the full
// column count of the catalogue, else a shorter record whose header size
// survives; see MessageCarver.h.
bool FindHeader(ByteView block, size_t i, const ColumnKinds& columns, FoundHeader& out) {
  const size_t columnCount = columns.size();
  if (columnCount < 3 || i == 0) return false;
  const size_t maxVarints = columnCount - 2;
  size_t end = i;  // one past the last byte of the next varint to pass
  thread_local std::vector<size_t> shorter;
  shorter.clear();
  size_t full = kNone;
  for (size_t n = 1; n <= maxVarints; ++n) {
    if (end == 0) break;
    size_t last = end - 1;
    if (block[last] >= 0x80) break;
    size_t start = VarintStartEndingAt(block, last);
    if (start == kNone) break;
    end = start;
    if (start == 0 || block[start - 1] != kGuidSerialType) continue;
    if (n == maxVarints) {
      // The rowid's NULL type sits before the GUID's. A freeblock header
      // overwrites it only in a cell whose three leading varints take one
      // byte each; such a cell starts at the block start (freeblocks are
      // carved as blocks of their own), its NULL type at byte 3.
      if (start >= 2 && (block[start - 2] == 0 || start - 2 == 3)) full = start;
    } else if (n + 2 >= kMinCarvedMessageColumns && start >= 2 && block[start - 2] == 0 &&
               HeaderSizeSurvives(block, start - 2, i)) {
      shorter.push_back(start);
    }
  }
  if (full != kNone && DecodeTypes(block, full, i, columns, out)) return true;
  for (size_t start : shorter)
    if (DecodeTypes(block, start, i, columns, out)) return true;
  return false;
}

// A stretch of a joined payload known to hold foreign bytes: the freelist's
// links, written over a freed overflow page that became a trunk.
using Damage = FreedOverflowChains::Overwritten;

bool TextHitsDamage(uint64_t at, uint64_t size, const std::vector<Damage>& damage) {
  for (const Damage& d : damage)
    if (d.begin < at + size && d.end > at) return true;
  return false;
}

// A text (at offset `at` of the joined payload) part of which is known to be
// overwritten: the sound pieces around each overwritten stretch, with one
// U+FFFD standing for each stretch lost. A piece after a stretch starts at
// its first whole character.
std::string TextAroundDamage(uint64_t type, ByteView content, uint64_t at,
                             const std::vector<Damage>& damage, const ColumnDef& column) {
  std::vector<std::pair<size_t, size_t>> lost;  // within content
  for (const Damage& d : damage) {
    if (d.begin >= at + content.size() || d.end <= at) continue;
    lost.emplace_back(d.begin > at ? d.begin - static_cast<size_t>(at) : 0,
                      std::min<size_t>(content.size(), d.end - static_cast<size_t>(at)));
  }
  std::sort(lost.begin(), lost.end());
  std::string out;
  std::string piece;
  size_t from = 0;
  for (size_t k = 0; k <= lost.size(); ++k) {
    const size_t to = k < lost.size() ? std::max(from, lost[k].first) : content.size();
    ByteView part = content.Sub(from, to - from);
    if (from > 0) part = part.Sub(LeadingContinuationBytes(part.AsString()));
    const size_t sound = SoundUtf8Prefix(part.AsString());
    RenderValue(type, part.Sub(0, sound), column, true, 0, piece);
    out += piece;
    // A piece ending in the first bytes of a character the stretch cut is
    // sound; any other fault means bytes overwritten beyond the stretch.
    const bool cutByStretch =
        k < lost.size() && WithoutCutCharacter(part.Sub(sound).AsString()) == 0;
    if (sound < part.size() && !cutByStretch) return out;
    if (k < lost.size()) {
      out += "\xEF\xBF\xBD";
      from = std::max(from, lost[k].second);
    }
  }
  return out;
}

// Decodes the values of a found record into row. The body is read from block,
// up to the end of the cell's local part; when the payload overflows and the
// overflow page number survives, from the local part joined with the chain.
//
// Deleted bytes get overwritten: by a newer cell taking part of a freeblock,
// by the freelist's links. A text that stops being UTF-8 (or holds a zero
// byte) is cut there. When the overwritten stretch is known (freelist links)
// the values after it are still read; otherwise nothing after the cut can be
// trusted and the record ends.
void ReadRecordValues(const SqliteFile& db, FreedOverflowChains& chains,
                      const std::vector<ColumnDef>& columns, const ColumnKinds& kinds,
                      ByteView block, size_t bodyStart, const FoundHeader& header, RowValues& row,
                      const RenderedColumns* rendered) {
  const size_t valueCount = std::min(header.serialTypes.size(), columns.size());
  uint64_t bodySize = 0;
  for (size_t k = 0; k < valueCount; ++k) bodySize += SerialTypeSize(header.serialTypes[k]);
  const uint64_t payload = header.headerSize + bodySize;
  if (payload > kMaxPayload) return;
  // Sized once: grown a value at a time, a row of forty columns is made
  // seven times over.
  row.reserve(row.size() + valueCount);
  const uint32_t usable = UsableSize(db);
  const uint64_t local = usable ? LocalPayloadSize(payload, usable) : payload;

  ByteView body = block.Sub(bodyStart, bodySize);
  std::vector<uint8_t> joined;
  std::vector<Damage> damage;
  if (local < payload) {
    // The local part ends with the first overflow page number.
    const int64_t localEnd = header.headerStart + static_cast<int64_t>(local);
    if (localEnd <= static_cast<int64_t>(bodyStart)) return;
    const size_t localBody = static_cast<size_t>(localEnd) - bodyStart;
    body = block.Sub(bodyStart, localBody);
    if (body.size() == localBody && block.Contains(static_cast<size_t>(localEnd), 4)) {
      joined.assign(body.data(), body.data() + body.size());
      chains.Append(usable, block.U32(static_cast<size_t>(localEnd)), bodySize - localBody, joined,
                    damage);
      body = ByteView(joined.data(), joined.size());
    }
  }

  const size_t bodyColumn = ColumnPosition(columns, "attributedBody");
  uint64_t p = 0;
  for (size_t k = 0; k < valueCount; ++k) {
    const uint64_t type = header.serialTypes[k];
    const uint64_t size = SerialTypeSize(type);
    const bool text = kinds[k] == DeclaredWord::Text;
    // A value the caller does not read is left "": its bytes still bound
    // the record exactly as they would rendered.
    const bool render = rendered == nullptr || (k < rendered->size() && (*rendered)[k]);
    std::string value;
    if (p + size > body.size()) {
      // The value runs past what survives: a text is kept as far as it goes,
      // anything else ends the record.
      if (text && p < body.size()) {
        ByteView rest = body.Sub(static_cast<size_t>(p));
        if (render)
          RenderValue(type, rest.Sub(0, SoundUtf8Prefix(rest.AsString())), columns[k], true, 0,
                      value);
        row.push_back(std::move(value));
      }
      return;
    }
    ByteView content = body.Sub(static_cast<size_t>(p), static_cast<size_t>(size));
    if (text && TextHitsDamage(p, size, damage)) {
      row.push_back(render ? TextAroundDamage(type, content, p, damage, columns[k]) : value);
      p += size;
      continue;
    }
    if (text) {
      const size_t sound = SoundUtf8Prefix(content.AsString());
      if (sound < content.size()) {
        // Overwritten by bytes of unknown extent: nothing after is sure.
        if (render) RenderValue(type, content.Sub(0, sound), columns[k], true, 0, value);
        row.push_back(std::move(value));
        return;
      }
    }
    if (!render) {
      row.emplace_back();
      p += size;
      continue;
    }
    if (k == bodyColumn) {
      // The archived attributed string: as bytes it is of no use to anyone,
      // and from iOS 16 it holds the only copy of the words. A body that does
      // not decode gives "" rather than a slice of the archive.
      row.push_back(TextOfAttributedBody(content).value_or(std::string()));
      p += size;
      continue;
    }
    RenderValue(type, content, columns[k], true, 0, value);
    row.push_back(std::move(value));
    p += size;
  }
}

}  // namespace

bool IsGuidAt(ByteView block, size_t i) {
  const uint8_t* g = block.data() + i;
#if defined(__SSE2__)
  // Every one of the scans meets a GUID in each message cell it reads, so the
  // 36 bytes are classed 16 at a time: bytes 0-15, 16-31 and 20-35 (the last
  // load overlaps, so nothing past the GUID is read).
  const auto classes = [](const uint8_t* p, uint32_t& hex, uint32_t& dash) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // c in [lo, lo + span] as bytes without sign: c - lo wraps above span.
    const auto within = [&v](char lo, char span) {
      const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8(lo));
      return _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(span)), d);
    };
    hex = static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(within('0', 9), within('A', 5))));
    dash = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('-'))));
  };
  uint32_t hex0, dash0, hex1, dash1, hex2, dash2;
  classes(g, hex0, dash0);
  classes(g + 16, hex1, dash1);
  classes(g + 20, hex2, dash2);
  // Bit k: byte k of the GUID.
  const uint64_t hex = hex0 | (uint64_t{hex1} << 16) | (uint64_t{hex2 >> 12} << 32);
  const uint64_t dash = dash0 | (uint64_t{dash1} << 16) | (uint64_t{dash2 >> 12} << 32);
  constexpr uint64_t kDashes =
      (uint64_t{1} << 8) | (uint64_t{1} << 13) | (uint64_t{1} << 18) | (uint64_t{1} << 23);
  constexpr uint64_t kDigits = ((uint64_t{1} << kGuidLength) - 1) & ~kDashes;
  return (hex & kDigits) == kDigits && (dash & kDashes) == kDashes;
#else
  const auto isUpperHex = [](uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
  };
  for (size_t j = 0; j < kGuidLength; ++j) {
    const uint8_t c = g[j];
    if (j == 8 || j == 13 || j == 18 || j == 23) {
      if (c != '-') return false;
    } else if (!isUpperHex(c)) {
      return false;
    }
  }
  return true;
#endif
}

namespace {

// The payload size the record header at q declares: its size and the sizes
// of the values its serial types name. 0 when the header runs past block.
uint64_t PayloadAt(ByteView block, size_t q) {
  uint64_t headerSize = 0;
  int length = 0;
  DecodeVarint(block.Sub(q), headerSize, length);
  if (length == 0 || headerSize > block.size() || !block.Contains(q, headerSize)) return 0;
  uint64_t payload = headerSize;
  for (size_t p = q + static_cast<size_t>(length); p < q + headerSize;) {
    uint64_t type = 0;
    int typeLength = 0;
    DecodeVarint(block.Sub(p, q + headerSize - p), type, typeLength);
    if (typeLength == 0) return 0;
    payload += SerialTypeSize(type);
    p += static_cast<size_t>(typeLength);
  }
  return payload;
}

// Where a cell whose record header starts at headerStart begins. Before the
// header lie the rowid varint and the payload-length varint. The rowid's
// bytes are walked back from its last (every byte of a varint but the last
// has its top bit set, and the payload length's last byte stops the walk);
// the payload length must then read back as the payload the header declares
// (payload; 0 when not known). A rowid above 127 takes two bytes and more:
// counting it as one would leave its bytes and the payload length's in the
// text of the record written over. When the bytes before the header are not
// a cell's (a freeblock header written over them when the later cell was
// freed on its own), the estimate of a one-byte rowid and a two-byte payload
// length stands.
int64_t CellStartBefore(ByteView block, int64_t headerStart, uint64_t payload) {
  const int64_t estimate = headerStart - 3;
  if (payload == 0 || headerStart < 2 || static_cast<uint64_t>(headerStart) > block.size() ||
      block[static_cast<size_t>(headerStart - 1)] >= 0x80)
    return estimate;
  // Walked here rather than by VarintStartEndingAt, which stays inlined in
  // the header search, the scan's hot loop.
  const int64_t last = headerStart - 1;
  int64_t rowidStart = last;
  while (rowidStart > 0 && last - rowidStart + 1 < static_cast<int64_t>(kMaxVarintLength) &&
         block[static_cast<size_t>(rowidStart - 1)] >= 0x80)
    --rowidStart;
  const int length = VarintLength(payload);
  const int64_t cellStart = rowidStart - length;
  if (cellStart < 0) return estimate;
  uint64_t stored = 0;
  int got = 0;
  DecodeVarint(block.Sub(static_cast<size_t>(cellStart), static_cast<size_t>(length)), stored, got);
  return got == length && stored == payload ? cellStart : estimate;
}

// The start of the first GUID at or after from, kNone when there is none. A
// GUID has a dash 8 bytes in: memchr skips to the next dash (most bytes of a
// page hold none), and only there are the other bytes looked at.
size_t NextGuidAt(ByteView block, size_t from) {
  const size_t n = block.size();
  for (size_t i = from; i + kGuidLength <= n; ++i) {
    const ByteView ahead = block.Sub(i + 8, n - kGuidLength - i + 1);
    const void* dash = std::memchr(ahead.data(), '-', ahead.size());
    if (dash == nullptr) return kNone;
    i += static_cast<size_t>(static_cast<const uint8_t*>(dash) - ahead.data());
    if (block[i + 13] == '-' && IsGuidAt(block, i)) return i;
  }
  return kNone;
}

// CarveMessagesByGuid, passing over the records whose GUID skip names (their
// bytes still bound the records around them).
// With `where` (its offset: the file offset of the block's first byte) and
// found given, each row's record header start is appended to found.
//
// passOver, when given, holds (start, end) stretches of the block, in order,
// that are live cells of another tree: no GUID starting inside one is looked
// at.
using Stretches = std::vector<std::pair<size_t, size_t>>;
void CarveBlock(const std::vector<ColumnDef>& columns, const ColumnKinds& kinds,
                FreedOverflowChains& chains, const SqliteFile& db, ByteView block, RowList& carved,
                const GuidFilter* skip, const FoundAt* where = nullptr, FoundList* found = nullptr,
                const Stretches* passOver = nullptr, const RenderedColumns* rendered = nullptr) {
  const size_t n = block.size();
  if (n < kGuidLength || columns.size() < 3) return;
  struct Found {
    size_t body = 0;
    FoundHeader header;
  };
  // Reused from block to block (a scan carves tens of thousands), each entry's
  // serial-type vector keeping its capacity; `count` entries are in use.
  thread_local std::vector<Found> hits;
  size_t count = 0;
  // The header before a GUID holds at least the header size, the rowid's and
  // the GUID's serial types and one more; a GUID closer to the block start
  // cannot be a record body.
  size_t nextPassed = 0;  // the first stretch of passOver not wholly behind i
  for (size_t i = NextGuidAt(block, 3); i != kNone; i = NextGuidAt(block, i + 1)) {
    if (passOver) {
      while (nextPassed < passOver->size() && (*passOver)[nextPassed].second <= i) ++nextPassed;
      if (nextPassed < passOver->size() && (*passOver)[nextPassed].first <= i) {
        i = (*passOver)[nextPassed].second - 1;
        continue;
      }
    }
    if (count == hits.size()) hits.emplace_back();
    Found& f = hits[count];
    if (!FindHeader(block, i, kinds, f.header)) continue;
    f.body = i;
    ++count;
    i += kGuidLength - 1;
  }

  // A cell written later over the tail of a freed one (and freed in its turn)
  // leaves its own record inside the older one: the older record's bytes end
  // where the later cell begins, before its header by its rowid varint and
  // its payload-length varint (CellStartBefore). The later cell shows itself
  // by its GUID when that survives, else by the start of its header: header
  // size, the rowid's NULL, the GUID's type 85.
  for (size_t k = 0; k < count; ++k) {
    const std::string_view guid = block.Sub(hits[k].body, kGuidLength).AsString();
    if (skip && (*skip)(guid)) continue;
    if (!MatchesGuidPattern(guid)) continue;
    size_t limit = n;
    for (size_t j = k + 1; j < count; ++j) {
      const FoundHeader& later = hits[j].header;
      if (later.headerStart <= static_cast<int64_t>(hits[k].body)) continue;
      uint64_t payload = later.headerSize;
      for (uint64_t type : later.serialTypes) payload += SerialTypeSize(type);
      const int64_t cellStart = CellStartBefore(block, later.headerStart, payload);
      if (cellStart > static_cast<int64_t>(hits[k].body)) {
        limit = static_cast<size_t>(cellStart);
        break;
      }
    }
    uint64_t bodySize = 0;
    for (uint64_t type : hits[k].header.serialTypes) bodySize += SerialTypeSize(type);
    const size_t from = hits[k].body + kGuidLength;
    const size_t to = static_cast<size_t>(std::min<uint64_t>(limit, hits[k].body + bodySize));
    for (size_t q = from; q + 2 < to; ++q) {
      if (block[q + 1] == 0 && block[q + 2] == kGuidSerialType && block[q] > columns.size() &&
          block[q] < 0x80) {
        const int64_t cellStart =
            CellStartBefore(block, static_cast<int64_t>(q), PayloadAt(block, q));
        limit = cellStart > 0 ? static_cast<size_t>(cellStart) : 0;
        break;
      }
    }
    RowValues row;
    ReadRecordValues(db, chains, columns, kinds, block.Sub(0, limit), hits[k].body, hits[k].header,
                     row, rendered);
    if (row.size() < 2) continue;
    carved.push_back(std::move(row));
    if (where && found) {
      FoundAt at = *where;
      const int64_t start = hits[k].header.headerStart;
      at.offset = start < 0 && static_cast<uint64_t>(-start) > at.offset
                      ? 0
                      : static_cast<uint64_t>(static_cast<int64_t>(at.offset) + start);
      found->push_back(std::move(at));
    }
  }
}

}  // namespace

void CarveMessagesByGuid(const std::vector<ColumnDef>& columns, const SqliteFile& db,
                         ByteView block, RowList& carved) {
  FreedOverflowChains chains(db);
  CarveBlock(columns, KindsOf(columns), chains, db, block, carved, nullptr);
}

std::vector<DeclaredWord> MessageColumnKinds(const std::vector<ColumnDef>& columns) {
  return KindsOf(columns);
}

void CarveMessagePage(const SqliteFile& db, const LeafPage& page,
                      const std::vector<ColumnDef>& columns, RowList& carved, FoundList* found) {
  CarveMessagePageOfKinds(db, page, columns, KindsOf(columns), carved, found);
}

void CarveMessagePageOfKinds(const SqliteFile& db, const LeafPage& page,
                             const std::vector<ColumnDef>& columns,
                             const std::vector<DeclaredWord>& kinds, RowList& carved,
                             FoundList* found, const RenderedColumns* rendered) {
  const BTreePage& tree = page.tree;
  const ByteView bytes = tree.bytes.Sub(0, tree.usableSize);
  if (bytes.empty()) return;
  const uint32_t pageNo = static_cast<uint32_t>(page.pageNo);
  const bool emptied = page.liveOffsets.empty();

  // The page's front up to its lowest live cell, which holds the unallocated
  // gap: a cell freed at the start of the content area is given back to the
  // gap, not to the freeblock chain.
  FreedOverflowChains chains(db);
  FoundAt where = FoundOnPage(db, pageNo, 0, emptied ? Place::LeafPage : Place::Gap);
  CarveBlock(columns, kinds, chains, db, bytes.Sub(0, tree.GapBelowCells(page.liveOffsets).end),
             carved, nullptr, &where, found, nullptr, rendered);

  // The freeblock chain, each block on its own.
  tree.ForEachFreeblock(kLeafHeaderSize, [&](Freeblock block) {
    FoundAt at =
        FoundOnPage(db, pageNo, block.offset, emptied ? Place::LeafPage : Place::Freeblock);
    CarveBlock(columns, kinds, chains, db, bytes.Sub(block.offset, block.end - block.offset),
               carved, nullptr, &at, found, nullptr, rendered);
  });
}

namespace {

// The end of the table leaf cell at offset on page: its two varints, the
// payload's local part and, when the payload overflows, the overflow page
// number. 0 when its varints run off the page.
size_t LeafCellEnd(ByteView page, size_t offset, uint32_t usableSize) {
  uint64_t payload = 0, rowid = 0;
  int payloadLength = 0, rowidLength = 0;
  DecodeVarint(page.Sub(offset, kMaxVarintLength), payload, payloadLength);
  if (payloadLength == 0) return 0;
  DecodeVarint(page.Sub(offset + static_cast<size_t>(payloadLength), kMaxVarintLength), rowid,
               rowidLength);
  if (rowidLength == 0) return 0;
  const uint64_t local = LocalPayloadSize(payload, usableSize);
  return offset + static_cast<size_t>(payloadLength + rowidLength) + static_cast<size_t>(local) +
         (local < payload ? 4 : 0);
}

// The end of the index leaf cell at offset on page: its payload-length
// varint, the payload's local part and, when the payload overflows, the
// overflow page number. 0 when the varint runs off the page, or when no
// database header gave a usable size the format allows.
size_t IndexCellEnd(ByteView page, size_t offset, uint32_t usableSize) {
  uint64_t payload = 0;
  int length = 0;
  DecodeVarint(page.Sub(offset, kMaxVarintLength), payload, length);
  if (length == 0 || usableSize < kMinUsableSize) return 0;
  const uint64_t local = IndexLocalPayloadSize(payload, usableSize);
  return offset + static_cast<size_t>(length) + static_cast<size_t>(local) +
         (local < payload ? 4 : 0);
}

// A page's live cells by where they start: a bit per byte offset, and the
// end of the cell starting at each offset whose bit is set. Cell pointers
// come in key order, not in the order of their offsets: the bits give that
// order without sorting.
class CellStarts {
 public:
  void Reset(size_t size) {
    bits_.assign((size + 63) / 64, 0);
    if (endAt_.size() < size) endAt_.resize(size);
  }
  void Add(size_t start, size_t end) {
    bits_[start >> 6] |= uint64_t{1} << (start & 63);
    endAt_[start] = static_cast<uint32_t>(end);
  }
  // The end of the cell starting at offset, 0 when none does.
  size_t EndOf(size_t offset) const {
    if ((offset >> 6) >= bits_.size() || !(bits_[offset >> 6] >> (offset & 63) & 1)) return 0;
    return endAt_[offset];
  }
  // The cells in order of their start.
  void InOrder(Stretches& out) const {
    out.clear();
    for (size_t w = 0; w < bits_.size(); ++w) {
      for (uint64_t word = bits_[w]; word != 0; word &= word - 1) {
        const size_t start = w * 64 + static_cast<size_t>(__builtin_ctzll(word));
        out.emplace_back(start, endAt_[start]);
      }
    }
  }

 private:
  std::vector<uint64_t> bits_;
  std::vector<uint32_t> endAt_;
};

// The live cells of an index leaf in use, which hold index entries, never a
// message record, in order. False when a cell pointer or a cell's extent
// does not fit the page: then the page is carved as it stands.
bool IndexLeafCells(const BTreePage& tree, ByteView page, uint32_t usableSize, Stretches& cells) {
  thread_local CellStarts starts;
  const size_t size = page.size();
  const size_t pointersEnd = tree.PointerArrayEnd();
  if (pointersEnd > size) return false;
  starts.Reset(size);
  for (size_t k = 0; k < tree.cellCount; ++k) {
    const size_t offset = tree.CellPointer(k);
    const size_t end =
        offset >= pointersEnd && offset < size ? IndexCellEnd(page, offset, usableSize) : 0;
    if (end <= offset || end > size) return false;
    starts.Add(offset, end);
  }
  starts.InOrder(cells);
  return true;
}

// Carves one page image met by the file scan. A table leaf page (a free page
// keeps the image it had as a leaf) is split at its cell and freeblock
// boundaries, so a record never runs on into the cell written over its tail;
// any other page is carved whole. where is the page's first byte; its place
// is FreePage for a page outside every live tree, else Unknown, and then
// the page's own structure names the place of each stretch.
//
// With liveLeaf, page is a live leaf of a table in its current image: its
// live cells are rows read already (the message table's) or rows of another
// table, and are passed over, byte for byte. So are the live cells of an
// index leaf in use (inUse: neither free nor past the database's size).
void CarveScannedPage(const std::vector<ColumnDef>& columns, const ColumnKinds& kinds,
                      FreedOverflowChains& chains, const SqliteFile& db, ByteView page,
                      RowList& carved, const GuidFilter* skip, const FoundAt& where,
                      FoundList& found, const RenderedColumns* rendered, bool liveLeaf = false,
                      bool inUse = false) {
  // A page with no GUID where CarveBlock looks for one holds no record to
  // find (most pages of indexes on numbers, and of other tables, hold none):
  // it is passed over before its cells are taken apart.
  if (NextGuidAt(page, 3) == kNone) return;
  const BTreePage tree = ParsePage(page);
  const size_t size = page.size();
  const size_t pointersEnd = tree.PointerArrayEnd();
  if (inUse && tree.Is(PageType::LeafIndex)) {
    thread_local Stretches indexCells;
    if (IndexLeafCells(tree, page, db.usableSize, indexCells)) {
      CarveBlock(columns, kinds, chains, db, page, carved, skip, &where, &found, &indexCells,
                 rendered);
      return;
    }
  }
  bool sane = tree.Is(PageType::LeafTable) && pointersEnd <= size;
  thread_local std::vector<size_t> bounds;  // reused from page to page
  thread_local std::vector<size_t> freeStarts;
  thread_local CellStarts liveCells;  // when liveLeaf
  bounds.assign({0, size});
  freeStarts.clear();
  if (liveLeaf) liveCells.Reset(size);
  size_t lowestCell = size;
  for (size_t k = 0; sane && k < tree.cellCount; ++k) {
    const size_t offset = tree.CellPointer(k);
    if (offset < pointersEnd || offset >= size) sane = false;
    bounds.push_back(offset);
    lowestCell = std::min(lowestCell, offset);
    if (liveLeaf && sane) {
      const size_t end = LeafCellEnd(page, offset, db.usableSize);
      if (end > offset && end <= size) liveCells.Add(offset, end);
    }
  }
  if (sane) {
    sane = tree.ForEachFreeblock(pointersEnd, [&](Freeblock block) {
      bounds.push_back(block.offset);
      bounds.push_back(block.end);
      freeStarts.push_back(block.offset);
    }) == ChainEnd::Complete;
  }
  FoundAt at = where;
  if (!sane) {
    if (at.place == Place::Unknown && tree.IsInterior()) at.place = Place::InteriorPage;
    CarveBlock(columns, kinds, chains, db, page, carved, skip, &at, &found, nullptr, rendered);
    return;
  }
  std::sort(bounds.begin(), bounds.end());
  bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
  for (size_t k = 0; k + 1 < bounds.size(); ++k) {
    size_t from = bounds[k];
    if (const size_t cellEnd = liveLeaf ? liveCells.EndOf(from) : 0; cellEnd != 0) {
      // A live cell: only what lies past its end, before the next bound, is
      // carved (fragment bytes, or anything a damaged page leaves there).
      from = std::min(cellEnd, bounds[k + 1]);
      if (bounds[k + 1] - from < kGuidLength) continue;
    }
    at.offset = where.offset + from;
    if (where.place == Place::Unknown) {
      const bool inFreeblock =
          std::find(freeStarts.begin(), freeStarts.end(), bounds[k]) != freeStarts.end();
      at.place = tree.cellCount == 0      ? Place::LeafPage
                 : inFreeblock            ? Place::Freeblock
                 : bounds[k] < lowestCell ? Place::Gap
                                          : Place::Unknown;
    }
    CarveBlock(columns, kinds, chains, db, page.Sub(from, bounds[k + 1] - from), carved, skip, &at,
               &found, nullptr, rendered);
  }
}

}  // namespace

bool ScanAddsNothingTo(const LeafPage& page, uint32_t usableSize) {
  const BTreePage& tree = page.tree;
  const ByteView bytes = tree.bytes;
  const size_t size = bytes.size();
  const size_t pointersEnd = tree.PointerArrayEnd();
  // Every pointer read as a live cell, no reserved bytes at the page's end:
  // the scan sees the page as the leaf read did.
  if (!tree.Is(PageType::LeafTable) || size != usableSize || pointersEnd > size ||
      page.liveOffsets.empty() || page.liveOffsets.size() != tree.cellCount)
    return false;
  thread_local Stretches taken;  // live cells and freeblocks
  taken.clear();
  size_t lowestCell = size;
  for (uint16_t offset : page.liveOffsets) {
    const size_t end = offset >= pointersEnd ? LeafCellEnd(bytes, offset, usableSize) : 0;
    if (end <= offset || end > size) return false;
    taken.emplace_back(offset, end);
    lowestCell = std::min<size_t>(lowestCell, offset);
  }
  bool belowCells = false;
  if (tree.ForEachFreeblock(pointersEnd,
                            [&](Freeblock block) {
                              belowCells = belowCells || block.offset < lowestCell;
                              taken.emplace_back(block.offset, block.end);
                            }) != ChainEnd::Complete ||
      belowCells)
    return false;
  std::sort(taken.begin(), taken.end());
  // Above the gap: cells and freeblocks side by side, nothing overlapping,
  // and between them only stretches too short to hold a GUID.
  size_t reach = lowestCell;
  for (const auto& [start, end] : taken) {
    if (start < reach || start - reach >= kGuidLength) return false;
    reach = end;
  }
  return size - reach < kGuidLength;
}

void ScanPagesForMessages(const SqliteFile& db, const std::vector<ColumnDef>& columns,
                          uint32_t firstPage, uint32_t endPage, const GuidFilter& skip,
                          const CarvedRowSink& sink, const std::vector<bool>* liveLeaves,
                          const std::vector<uint8_t>* carvedAlready,
                          const RenderedColumns* rendered) {
  const uint32_t pageSize = db.pageSize;
  if (pageSize == 0 || !db.mainFile.IsOpen()) return;
  const ColumnKinds kinds = KindsOf(columns);
  FreedOverflowChains chains(db);
  const GuidFilter* filter = skip ? &skip : nullptr;
  const uint64_t fileSize = db.mainFile.Size();
  // Pages on the freelist, and pages past the size the header (or the log's
  // last commit) gives, belong to no live tree.
  const std::unordered_set<uint32_t> freePages = FreelistPages(db);
  const uint32_t usedPages = PageLimit(db);
  // Pages are read a run at a time (one system call for many pages) and
  // carved one by one.
  constexpr uint32_t kRun = 32;
  std::vector<uint8_t> run(static_cast<size_t>(pageSize) * kRun);
  RowList carved;
  FoundList found;
  FoundAt where;
  where.file = db.name;
  const auto passedOver = [&](uint32_t page) {
    return carvedAlready && page < carvedAlready->size() && (*carvedAlready)[page] != 0;
  };
  // Page 1 holds the schema and is never scanned; the pages carved already
  // are not read at all.
  for (uint32_t first = std::max<uint32_t>(firstPage, 2); first < endPage;) {
    if (passedOver(first)) {
      ++first;
      continue;
    }
    const uint64_t offset = static_cast<uint64_t>(first - 1) * pageSize;
    if (offset >= fileSize) return;
    uint32_t count = 1;
    while (count < kRun && first + count < endPage && !passedOver(first + count)) ++count;
    const size_t got =
        db.mainFile.ReadAt(offset, run.data(), static_cast<size_t>(count) * pageSize);
    for (uint32_t k = 0; k < count; ++k) {
      const size_t at = static_cast<size_t>(k) * pageSize;
      if (at >= got) return;  // the file ends here
      const ByteView page(run.data() + at, std::min<size_t>(pageSize, got - at));
      where.page = first + k;
      where.offset = offset + at;
      where.place =
          freePages.count(where.page) || where.page > usedPages ? Place::FreePage : Place::Unknown;
      // The file's image is the page's current one unless the log has the page.
      const bool current =
          where.place == Place::Unknown && (db.walIndex.empty() || !db.walIndex.count(where.page));
      const bool liveLeaf =
          current && liveLeaves && where.page < liveLeaves->size() && (*liveLeaves)[where.page];
      CarveScannedPage(columns, kinds, chains, db, page, carved, filter, where, found, rendered,
                       liveLeaf, current);
      if (!carved.empty() && sink) sink(carved, found);
      carved.clear();
      found.clear();
    }
    first += count;
  }
}

std::vector<bool> LiveLeavesInFile(const SqliteFile& db) {
  std::vector<bool> marks;
  for (const auto& [name, table] : db.tableMap) {
    for (const PageSet& set : table.pageSets) {
      for (int32_t page : set.leafPages) {
        if (page <= 1 || db.walIndex.count(static_cast<uint32_t>(page))) continue;
        if (static_cast<size_t>(page) >= marks.size()) marks.resize(static_cast<size_t>(page) + 1);
        marks[static_cast<size_t>(page)] = true;
      }
    }
  }
  return marks;
}

void ScanLogForMessages(const SqliteFile& db, const std::vector<ColumnDef>& columns,
                        const GuidFilter& skip, const CarvedRowSink& sink,
                        const RenderedColumns* rendered) {
  // Older page images in the log hold messages deleted since they were written.
  if (!db.walFile.IsOpen() || db.pageSize == 0) return;
  const ColumnKinds kinds = KindsOf(columns);
  FreedOverflowChains chains(db);
  const GuidFilter* filter = skip ? &skip : nullptr;
  RowList carved;
  FoundList found;
  // Every frame, whatever its kind: a message is looked for by its own bytes,
  // and a frame no commit made may still hold one.
  WalkLogFrames(db, [&](ByteView image, const FoundAt& where, FrameKind) {
    CarveScannedPage(columns, kinds, chains, db, image, carved, filter, where, found, rendered);
    if (!carved.empty() && sink) sink(carved, found);
    carved.clear();
    found.clear();
  });
}

void ScanFileForMessages(const SqliteFile& db, const std::vector<ColumnDef>& columns,
                         RowList& carved, FoundList* found) {
  const CarvedRowSink keep = [&](RowList& rows, FoundList& where) {
    for (RowValues& row : rows) carved.push_back(std::move(row));
    if (found) found->insert(found->end(), where.begin(), where.end());
  };
  ScanPagesForMessages(db, columns, 2, UINT32_MAX, {}, keep);
  ScanLogForMessages(db, columns, {}, keep);
}

TableRead LoadMessageTable(const SqliteFile& db, RowList& live, RowList& carved, FoundList* found) {
  const TableInfo* table = FindTable(db, "message");
  if (!table) return TableRead::Absent;
  const CarveStep carve = CarveMessagePage;
  for (const PageSet& pageSet : table->pageSets) {
    ReadPageSetRows(db, pageSet, live, carved, table->columns, carve, found);
    PageSet emptied;
    emptied.leafPages = pageSet.emptyLeafPages;
    ReadPageSetRows(db, emptied, live, carved, table->columns, carve, found);
  }
  ScanFileForMessages(db, table->columns, carved, found);
  return table->pageSets.empty() ? TableRead::NoPages : TableRead::Read;
}

}  // namespace vantrel
