#include "carve/RowReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "carve/FreePages.h"
#include "carve/PageWalk.h"
#include "platform/Text.h"
#include "sqlite/ColumnRules.h"
#include "sqlite/WalIndex.h"

namespace vantrel {

namespace {

// The shape of the live cell nearest the first freeblock: deleted records there were most
// likely written with the same varint lengths and first serial type.
struct Template {
  size_t l1 = 0;  // payload-length varint
  size_t l2 = 0;  // rowid varint
  size_t l3 = 0;  // record-header-size varint
  size_t l4 = 0;  // first serial type varint
  uint64_t firstType = 0;
};

Template ReadTemplate(ByteView page, uint16_t offset) {
  Template t;
  ByteView cell = page.Sub(offset);
  uint64_t value = 0;
  int length = 0;
  DecodeVarint(cell, value, length);
  t.l1 = length;
  DecodeVarint(cell.Sub(t.l1), value, length);
  t.l2 = length;
  DecodeVarint(cell.Sub(t.l1 + t.l2), value, length);
  t.l3 = length;
  DecodeVarint(cell.Sub(t.l1 + t.l2 + t.l3), t.firstType, length);
  t.l4 = length;
  return t;
}

}  // namespace

uint16_t NearestLiveCell(const std::vector<uint16_t>& sorted, uint16_t firstFreeblock) {
  auto above = std::upper_bound(sorted.begin(), sorted.end(), firstFreeblock);
  if (above == sorted.end()) return sorted.back();
  if (above == sorted.begin()) return *above;
  const uint16_t upper = *above;
  const uint16_t lower = *(above - 1);
  return upper - firstFreeblock <= firstFreeblock - lower ? upper : lower;
}

namespace {

// One deleted record found on the page: where its cell ends and its values.
struct Carved {
  size_t end = 0;
  RowValues row;
  bool full = false;     // holds a value for every column of the table
  bool intact = false;   // its own varints agree with its values
  bool partial = false;  // runs past its region; only its head was read
};

class PageCarver {
 public:
  PageCarver(const SqliteFile& db, const LeafPage& page, const std::vector<ColumnDef>& columns)
      : db_(db), page_(page.tree.bytes), columns_(columns) {
    pageNo_ = static_cast<uint32_t>(page.pageNo);
    usable_ = page.tree.usableSize;
    for (const ColumnDef& c : columns) affinity_.push_back(AffinityOf(c.type));
    aliasFirst_ = !columns.empty() && IsRowidAlias(columns[0]);
    live_.insert(page.liveOffsets.begin(), page.liveOffsets.end());
  }

  void SetTemplate(const Template& t) { template_ = t; }
  void AddBoundary(size_t offset) { boundaries_.insert(offset); }
  // An offset where a cell may have begun whose first bytes something else took (the pointer
  // array growing over the gap): its record is tried with them reconstructed, and kept only
  // when it has every column and ends where something known begins.
  void AddHeadLost(size_t offset) { headLost_.insert(offset); }

  // Reads every record of the free region [start, end). A freeblock's first four bytes (and
  // those of any freed cell merged into it) were overwritten by freeblock headers, so at a
  // known cell start the record is also tried with its varints reconstructed; Choose picks
  // among the layouts a record start allows.
  void CarveRegion(size_t start, size_t end, bool startsAtCell, Place place, RowList& carved,
                   FoundList* found) {
    end = std::min(end, usable_);
    regionEnd_ = end;
    reachesBoundary_.clear();
    size_t s = start;
    bool atBoundary = startsAtCell;
    while (s + 3 <= end) {
      const bool boundary = atBoundary || boundaries_.count(s) != 0;
      std::vector<Carved> candidates;
      const size_t staleSize = boundary ? 0 : StaleFreeblockSize(s);
      const bool headLost = !boundary && staleSize == 0 && headLost_.count(s) != 0;
      CandidatesAt(s, boundary || staleSize != 0 || headLost, candidates);
      if (headLost) {
        std::erase_if(candidates, [&](const Carved& c) {
          return !c.intact && (!c.full || c.partial ||
                               !(IsBoundary(c.end, end) || StaleFreeblockSize(c.end) != 0 ||
                                 StartsWholeRecord(c.end)));
        });
      }
      if (staleSize != 0) {
        // Where only the bytes say a cell began, a reconstructed record must have every
        // column and end within the block the old header measured.
        // It must also end where something known begins: the block's end, a boundary, or
        // the next freed cell's own old header.
        std::erase_if(candidates, [&](const Carved& c) {
          if (c.intact) return false;
          if (!c.full || c.partial || c.end > s + staleSize) return true;
          return c.end != s + staleSize && !IsBoundary(c.end, end) &&
                 StaleFreeblockSize(c.end) == 0 && !StartsWholeRecord(c.end);
        });
      }
      const Carved* chosen = Choose(candidates);
      if (chosen != nullptr) {
        carved.push_back(chosen->row);
        if (found) found->push_back(FoundOnPage(db_, pageNo_, s, place));
        if (!chosen->partial) {
          s = chosen->end;
          atBoundary = true;
          continue;
        }
        // A cut record may have been misread; whatever follows is still looked at.
      }
      atBoundary = false;
      ++s;
    }
  }

 private:
  // The size of the freeblock whose header the four bytes at s look like, else 0. Freeblock
  // headers outlive their blocks: a page rebuilt or emptied keeps the old bytes below its cell
  // content area, and a freed cell merged into the block before it keeps the header it got
  // when it was freed first. Either way a cell began there and its first four bytes are lost.
  size_t StaleFreeblockSize(size_t s) const {
    if (s + 4 > usable_) return 0;
    const size_t next = page_.U16(s);
    const size_t size = page_.U16(s + 2);
    if (size < 4 || s + size > usable_) return 0;
    if (next != 0 && (next < s + size || next >= usable_)) return 0;
    return size;
  }

  // A record worth listing has more than one value. A one-value record in a wider table is
  // what a slice of a longer record looks like (a varint read as payload length, one byte as
  // an integer); a whole record of a table that once had one column is too rare to be worth
  // those false rows.
  bool Trusted(const Carved& c) const { return c.row.size() > 1 || columns_.size() == 1; }

  // Of the layouts a record start allows: first an intact one whose end leads, record by
  // record, to a known boundary (the region's end, a live cell, a stale cell pointer); then
  // one with a value for every column that ends right at a boundary; then one with every
  // column that ends at the old freeblock header of the next freed cell (or at a whole
  // record), those whose following records lead to a boundary first; then one with every
  // column that leads to a boundary; then
  // any other that does; then one with every column that does not (a record ending a few
  // bytes before a live cell beats a chain of slices that happens to end there); then an
  // intact one; last a record whose tail newer cells overwrote, whose head is still worth
  // having.
  const Carved* Choose(const std::vector<Carved>& candidates) {
    const Carved* chosen = nullptr;
    auto first = [&](auto&& accept) {
      for (const Carved& c : candidates)
        if (chosen == nullptr && Trusted(c) && accept(c)) chosen = &c;
    };
    first([&](const Carved& c) { return !c.partial && c.intact && ReachesBoundary(c.end, 0); });
    // An end at a known boundary is a fact; an old freeblock header is only a sign (on a
    // 65536-byte page almost any four text bytes pass for one): a record with one header
    // byte too many ends early at such "header" inside the real record's text.
    first([&](const Carved& c) { return !c.partial && c.full && IsBoundary(c.end, regionEnd_); });
    first([&](const Carved& c) {
      return !c.partial && c.full && (StaleFreeblockSize(c.end) != 0 || StartsWholeRecord(c.end)) &&
             ReachesBoundary(c.end, 0);
    });
    first([&](const Carved& c) {
      return !c.partial && c.full && (StaleFreeblockSize(c.end) != 0 || StartsWholeRecord(c.end));
    });
    first([&](const Carved& c) { return !c.partial && c.full && ReachesBoundary(c.end, 0); });
    first([&](const Carved& c) { return !c.partial && ReachesBoundary(c.end, 0); });
    first([](const Carved& c) { return !c.partial && c.full; });
    first([](const Carved& c) { return !c.partial && (c.full || c.intact); });
    first([](const Carved& c) { return c.partial && (c.full || c.intact); });
    return chosen;
  }

  // Whether a record with all its varints and a type for every column starts at offset: a
  // freed cell merged into a freeblock after one that kept its bytes. On a 65536-byte page
  // almost any four bytes pass for an old freeblock header; this is the stronger sign.
  bool StartsWholeRecord(size_t offset) const {
    uint64_t payloadLength = 0, rowid = 0, headerLength = 0;
    int l1 = 0, l2 = 0, l3 = 0;
    if (offset >= regionEnd_ || columns_.size() < 2) return false;
    DecodeVarint(page_.Sub(offset, regionEnd_ - offset), payloadLength, l1);
    if (l1 == 0) return false;
    DecodeVarint(page_.Sub(offset + l1, regionEnd_ - offset - l1), rowid, l2);
    if (l2 == 0) return false;
    const size_t hs = offset + l1 + l2;
    DecodeVarint(page_.Sub(hs, regionEnd_ > hs ? regionEnd_ - hs : 0), headerLength, l3);
    if (l3 == 0 || headerLength < 2 || headerLength > 9 * columns_.size() + 9) return false;
    std::vector<uint64_t>& types = wholeTypes_;
    types.clear();
    uint64_t body = 0;
    // Its header is enough: newer bytes may have taken its tail.
    return TypesUpTo(hs + l3, hs + headerLength, 0, types, body) &&
           types.size() == columns_.size() && payloadLength == headerLength + body;
  }

  void CandidatesAt(size_t s, bool damagedAllowed, std::vector<Carved>& out) const {
    Carved intact;
    if (ParseIntact(s, regionEnd_, intact)) {
      intact.intact = true;
      intact.full = intact.row.size() == columns_.size();
      out.push_back(std::move(intact));
    }
    if (damagedAllowed) DamagedCandidates(s, regionEnd_, out);
  }

  // Whether the records that can start at offset lead to a known boundary. Remembered per
  // offset; the depth bound keeps a long run of tiny records from exhausting the stack.
  bool ReachesBoundary(size_t offset, int depth) {
    if (IsBoundary(offset, regionEnd_) || HeadCutByRegionEnd(offset)) return true;
    if (offset + 3 > regionEnd_) return false;
    // A thousand records in a row that each fit the table are records, wherever the chain
    // ends; a 65536-byte page holds thousands of small ones. (Saying no here would also be
    // remembered for every record before it.)
    if (depth > 1000) return true;
    auto known = reachesBoundary_.find(offset);
    if (known != reachesBoundary_.end()) return known->second;
    reachesBoundary_[offset] = false;  // a record cannot end where it starts
    std::vector<Carved> next;
    CandidatesAt(offset, true, next);
    bool reaches = false;
    for (const Carved& c : next) {
      if (!c.partial && c.end > offset && Trusted(c) && ReachesBoundary(c.end, depth + 1)) {
        reaches = true;
        break;
      }
    }
    reachesBoundary_[offset] = reaches;
    return reaches;
  }

  // Whether a freed cell begins at offset whose header the region's end cuts: a newer cell
  // was written over all but its first bytes, which still hold an old freeblock header and
  // serial types that fit the table. A chain of records that leads there has reached
  // something known as surely as one that leads to the newer cell itself.
  bool HeadCutByRegionEnd(size_t offset) const {
    if (offset + 6 > regionEnd_ || regionEnd_ - offset > 5 + 9 * columns_.size() ||
        StaleFreeblockSize(offset) == 0)
      return false;
    // The header size is lost under the old freeblock header when the payload length and
    // rowid took three bytes, and follows it when they took four.
    for (size_t typesAt : {offset + 4, offset + 5}) {
      size_t at = typesAt;
      size_t column = 0;
      while (at < regionEnd_ && column < columns_.size()) {
        uint64_t t = 0;
        int length = 0;
        DecodeVarint(page_.Sub(at, regionEnd_ - at), t, length);
        if (length == 0) break;  // a varint the end cut: the types so far decide
        if (!Compatible(column, t)) {
          column = 0;
          break;
        }
        ++column;
        at += length;
      }
      if (column >= 2) return true;
    }
    return false;
  }

  // A value that says something: zero bytes read as a record give nothing but empty texts,
  // zeros and replacement characters.
  static bool Informative(const RowValues& row) {
    return std::any_of(row.begin(), row.end(), [](const std::string& value) {
      return !value.empty() && value != "0" && value.find("\xEF\xBF\xBD") == std::string::npos;
    });
  }

  bool TextInNumberColumn(const std::vector<uint64_t>& types) const {
    for (size_t i = 0; i < types.size(); ++i)
      if (types[i] >= 12 && affinity_[i] == Affinity::Integer) return true;
    return false;
  }

  // The table's rule book fit, and NULL alone in a rowid alias column.
  bool Compatible(size_t column, uint64_t type) const {
    if (column == 0 && aliasFirst_) return type == 0;
    return FitsAffinity(affinity_[column], type);
  }

  bool IsBoundary(size_t offset, size_t regionEnd) const {
    return offset == regionEnd || live_.count(offset) != 0 || boundaries_.count(offset) != 0 ||
           offset >= usable_;
  }

  // Renders the values of a record whose serial types are known and whose payload starts
  // (record header first) at payloadStart; the local part holds `local` bytes, any rest
  // comes from the overflow chain named by the 4 bytes after it.
  // With `cutAt` set, the record runs past its region (newer cells took its tail): only the
  // bytes before cutAt are its own, a text value is cut there and the row ends with it.
  bool Render(size_t payloadStart, uint64_t payloadLength, uint64_t headerLength,
              const std::vector<uint64_t>& types, RowValues& row, size_t cutAt = 0) const {
    const uint64_t local = LocalPayloadSize(payloadLength, static_cast<uint32_t>(usable_));
    ByteView payload =
        page_.Sub(payloadStart, cutAt ? std::min<uint64_t>(local, cutAt - payloadStart) : local);
    std::vector<uint8_t> assembled;
    std::vector<Stretch> lost;
    if (local < payloadLength && !cutAt) {
      assembled.assign(payload.data(), payload.data() + payload.size());
      freedChains_.Append(static_cast<uint32_t>(usable_), page_.U32(payloadStart + local),
                          payloadLength - local, assembled, lost);
      payload = ByteView(assembled.data(), assembled.size());
    }
    size_t at = static_cast<size_t>(headerLength);
    for (size_t i = 0; i < types.size(); ++i) {
      const uint64_t size = SerialTypeSize(types[i]);
      ByteView content = payload.Sub(at, size);
      const bool isText = IsTextSerialType(types[i]);
      const bool cut = content.size() < size;
      if (cut && (!cutAt || !isText)) break;
      // Text that is not UTF-8 means the guess of the record's layout was wrong.
      if (isText && !cut && local >= payloadLength && !IsValidUtf8(content.AsString()))
        return false;
      std::string value;
      if (isText && !lost.empty()) {
        TextAroundLost(types[i], content, at, lost, columns_[i], value);
      } else {
        RenderValue(types[i], content, columns_[i], true, 0, value);
      }
      row.push_back(std::move(value));
      if (cut) break;
      at += static_cast<size_t>(size);
    }
    return !row.empty();
  }

  // A stretch of a joined payload that the freelist's links overwrote: [begin, end).
  using Stretch = FreedOverflowChains::Overwritten;

  // A text at offset `at` of the joined payload: the pieces around each overwritten stretch,
  // each up to its first zero byte, one U+FFFD standing for each stretch lost (as the message
  // carver marks it). A piece after a stretch starts at its first whole character.
  static void TextAroundLost(uint64_t type, ByteView content, size_t at,
                             const std::vector<Stretch>& lost, const ColumnDef& column,
                             std::string& out) {
    out.clear();
    std::string piece;
    size_t from = 0;
    for (const Stretch& stretch : lost) {
      if (stretch.end <= at + from || stretch.begin >= at + content.size()) continue;
      const size_t to = stretch.begin > at + from ? stretch.begin - at : from;
      ByteView part = content.Sub(from, to - from);
      if (from > 0) part = part.Sub(LeadingContinuationBytes(part.AsString()));
      part = part.Sub(0, WithoutCutCharacter(part.AsString()));
      RenderValue(type, part, column, true, 0, piece);
      out += piece;
      // A piece that stops at a zero byte before the stretch was overwritten further.
      if (piece.size() < part.size() && std::memchr(part.data(), 0, part.size()) != nullptr) return;
      out += "\xEF\xBF\xBD";
      from = std::min(content.size(), stretch.end - at);
    }
    ByteView rest = content.Sub(from);
    if (from > 0) rest = rest.Sub(LeadingContinuationBytes(rest.AsString()));
    RenderValue(type, rest, column, true, 0, piece);
    out += piece;
  }

  // The serial types from `at` up to headerEnd; false unless they end exactly there and
  // every one fits its column.
  bool TypesUpTo(size_t at, size_t headerEnd, size_t firstColumn, std::vector<uint64_t>& types,
                 uint64_t& bodySize) const {
    while (at < headerEnd) {
      if (types.size() >= columns_.size()) return false;
      uint64_t t = 0;
      int length = 0;
      DecodeVarint(page_.Sub(at, headerEnd - at), t, length);
      if (length == 0 || !Compatible(firstColumn + types.size(), t)) return false;
      types.push_back(t);
      bodySize += SerialTypeSize(t);
      at += length;
    }
    return at == headerEnd && !types.empty();
  }

  // A cell whose varints survive: payload length, rowid, header size and serial types must
  // all agree with each other and with the table.
  bool ParseIntact(size_t s, size_t end, Carved& out) const {
    uint64_t payloadLength = 0, rowid = 0, headerLength = 0;
    int l1 = 0, l2 = 0, l3 = 0;
    DecodeVarint(page_.Sub(s, end - s), payloadLength, l1);
    if (l1 == 0) return false;
    DecodeVarint(page_.Sub(s + l1, end - s - l1), rowid, l2);
    if (l2 == 0) return false;
    const size_t hs = s + l1 + l2;
    DecodeVarint(page_.Sub(hs, end > hs ? end - hs : 0), headerLength, l3);
    if (l3 == 0 || headerLength < 2 || headerLength > 9 * columns_.size() + 9) return false;
    std::vector<uint64_t>& types = intactTypes_;
    types.clear();
    uint64_t body = 0;
    if (!TypesUpTo(hs + l3, hs + headerLength, 0, types, body)) return false;
    if (payloadLength != headerLength + body) return false;
    return Finish(s, hs, end, payloadLength, headerLength, types, out);
  }

  bool Finish(size_t s, size_t hs, size_t end, uint64_t payloadLength, uint64_t headerLength,
              const std::vector<uint64_t>& types, Carved& out) const {
    const uint64_t local = LocalPayloadSize(payloadLength, static_cast<uint32_t>(usable_));
    const uint64_t cellEnd = hs + local + (local < payloadLength ? 4 : 0);
    out.row.clear();
    // A record of nothing but NULLs and empty values is what a run of zero bytes looks
    // like; it tells nothing even when real.
    if (std::all_of(types.begin(), types.end(),
                    [](uint64_t t) { return t == 0 || t == 12 || t == 13; }))
      return false;
    if (cellEnd > end) {
      // Its tail was taken by newer cells: keep what is left when the header is whole.
      if (hs + headerLength >= end) return false;
      if (!Render(hs, payloadLength, headerLength, types, out.row, end)) return false;
      out.end = end;
      out.partial = true;
      return true;
    }
    if (!Render(hs, payloadLength, headerLength, types, out.row)) return false;
    out.end = static_cast<size_t>(cellEnd);
    (void)s;
    return true;
  }

  // A cell whose first four bytes were overwritten: its payload-length and rowid varints
  // (k bytes together) and perhaps its header size and first serial type are gone. Every
  // plausible layout that gives a record fitting the table is appended to out, the template's
  // layout first, and for each layout the full column count before fewer columns (rows
  // written before an ALTER TABLE ADD COLUMN).
  void DamagedCandidates(size_t s, size_t end, std::vector<Carved>& out) const {
    // (k, l3): the template's first, then the 12 others. A fixed array: this runs at every
    // offset a chain of records is followed from.
    std::array<std::pair<size_t, size_t>, 13> layouts;
    size_t layoutCount = 0;
    if (template_.l1 && template_.l2 && template_.l3)
      layouts[layoutCount++] = {template_.l1 + template_.l2, template_.l3};
    for (size_t k = 2; k <= 7; ++k)
      for (size_t l3 = 1; l3 <= 2; ++l3)
        if (layoutCount == 0 || layouts[0] != std::make_pair(k, l3))
          layouts[layoutCount++] = {k, l3};

    for (size_t layout = 0; layout < layoutCount; ++layout) {
      const auto [k, l3] = layouts[layout];
      const size_t hs = s + k;
      const size_t ts = hs + l3;
      if (ts >= end) continue;
      const bool headerKnown = hs >= s + 4;
      uint64_t storedHeader = 0;
      if (headerKnown) {
        int length = 0;
        DecodeVarint(page_.Sub(hs, end - hs), storedHeader, length);
        if (static_cast<size_t>(length) != l3) continue;
      }
      // The first serial type is lost when it sits inside the overwritten four bytes.
      // Without a live cell to copy it from, the integer types are tried, the smallest first.
      static constexpr uint64_t kIntegerTypes[] = {0, 1, 2, 3, 4, 8, 9};
      uint64_t single = kNoGuess;
      const uint64_t* firstTypes = &single;
      size_t firstCount = 1;
      size_t typesAt = ts;
      if (ts < s + 4) {
        if (aliasFirst_) {
          single = 0;
        } else if (template_.l1) {
          single = template_.firstType;
        } else {
          firstTypes = kIntegerTypes;
          firstCount = std::size(kIntegerTypes);
        }
        typesAt = ts + 1;
      }
      for (size_t f = 0; f < firstCount; ++f)
        LayoutCandidates(s, hs, typesAt, end, k, l3, headerKnown, storedHeader, firstTypes[f], out);
    }
  }

  static constexpr uint64_t kNoGuess = ~uint64_t{0};

  // The records of one layout (k bytes of payload-length and rowid varints, an l3-byte header
  // size) with the first serial type `first` when it was overwritten (else kNoGuess), the full
  // column count first.
  void LayoutCandidates(size_t s, size_t hs, size_t typesAt, size_t end, size_t k, size_t l3,
                        bool headerKnown, uint64_t storedHeader, uint64_t first,
                        std::vector<Carved>& out) const {
    const size_t guessed = first != kNoGuess ? 1 : 0;
    if (guessed) {
      if (first >= 0x80 || columns_.empty() || !Compatible(0, first)) return;
    }
    const size_t fewest = columns_.size() > 4 ? columns_.size() - 4 : 1;
    // Without a stored header size, n types are decoded from typesAt for each column count n
    // tried: the same bytes give the same types, so they are decoded once, as far as they fit
    // the columns, and each count takes its prefix. decodedEnds[j] is where the (j + 1)-th
    // decoded type ends, decodedBodies[j] the body size of the types up to it.
    std::vector<uint64_t>& decoded = layoutTypes_;
    decoded.clear();
    decodedEnds_.clear();
    decodedBodies_.clear();
    const uint64_t guessedBody = guessed ? SerialTypeSize(first) : 0;
    if (guessed) decoded.push_back(first);
    if (!headerKnown) {
      size_t at = typesAt;
      uint64_t body = guessedBody;
      while (decoded.size() < columns_.size()) {
        uint64_t t = 0;
        int length = 0;
        DecodeVarint(page_.Sub(at, end > at ? end - at : 0), t, length);
        if (length == 0 || !Compatible(decoded.size(), t)) break;
        decoded.push_back(t);
        body += SerialTypeSize(t);
        at += length;
        decodedEnds_.push_back(at);
        decodedBodies_.push_back(body);
      }
    }
    std::vector<uint64_t>& types = candidateTypes_;
    for (size_t n = columns_.size(); n >= fewest; --n) {
      types.assign(decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(guessed));
      uint64_t body = guessedBody;
      size_t headerEnd = 0;
      if (headerKnown) {
        headerEnd = hs + static_cast<size_t>(std::min<uint64_t>(storedHeader, end));
        if (storedHeader < l3 + 1 || headerEnd > end) break;
        if (!TypesUpTo(typesAt, headerEnd, types.size(), types, body)) break;
      } else {
        // Exactly n types; the header ends where they do.
        if (decoded.size() < n) {
          if (n == fewest) break;
          continue;
        }
        types.assign(decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(n));
        if (n > guessed) {
          headerEnd = decodedEnds_[n - guessed - 1];
          body = decodedBodies_[n - guessed - 1];
        } else {
          headerEnd = typesAt;
        }
      }
      const uint64_t headerLength = headerEnd - hs;
      if (VarintLength(headerLength) != static_cast<int>(l3)) {
        if (headerKnown || n == fewest) break;
        continue;
      }
      const uint64_t payloadLength = headerLength + body;
      const int l1 = VarintLength(payloadLength);
      if (static_cast<size_t>(l1) >= k || k - l1 > 9) {
        if (headerKnown || n == fewest) break;
        continue;
      }
      // A reconstructed record is a guess: it must not put text where numbers were declared,
      // which SQLite only does for text that is no number, and no device writes.
      if (TextInNumberColumn(types)) {
        if (headerKnown || n == fewest) break;
        continue;
      }
      Carved candidate;
      if (Finish(s, hs, end, payloadLength, headerLength, types, candidate) &&
          Informative(candidate.row)) {
        candidate.full = types.size() == columns_.size();
        out.push_back(std::move(candidate));
      }
      if (headerKnown || n == fewest) break;
    }
  }

  const SqliteFile& db_;
  ByteView page_;
  uint32_t pageNo_ = 0;
  const std::vector<ColumnDef>& columns_;
  std::vector<Affinity> affinity_;
  size_t usable_ = 0;
  bool aliasFirst_ = false;
  Template template_;
  std::unordered_set<size_t> live_;
  std::unordered_set<size_t> boundaries_;
  size_t regionEnd_ = 0;
  std::unordered_map<size_t, bool> reachesBoundary_;
  std::unordered_set<size_t> headLost_;
  // Scratch for the serial types of the records tried at each offset, kept to spare an
  // allocation per offset.
  mutable std::vector<uint64_t> intactTypes_, wholeTypes_, layoutTypes_, candidateTypes_;
  mutable std::vector<size_t> decodedEnds_;
  mutable std::vector<uint64_t> decodedBodies_;
  // A record's overflow chain went to the freelist with it.
  mutable FreedOverflowChains freedChains_{db_};
};

}  // namespace

void TemplateCarvePage(const SqliteFile& db, const LeafPage& page,
                       const std::vector<ColumnDef>& columns, RowList& carved, FoundList* found) {
  const BTreePage& tree = page.tree;
  if (tree.bytes.empty() || columns.empty() || page.pageNo == 1) return;
  PageCarver carver(db, page, columns);

  // A page whose every row was deleted has no cell to copy a shape from: its records are read
  // by the table's columns alone.
  if (!page.liveOffsets.empty()) {
    std::vector<uint16_t> sorted = page.liveOffsets;
    std::sort(sorted.begin(), sorted.end());
    carver.SetTemplate(ReadTemplate(tree.bytes, NearestLiveCell(sorted, tree.firstFreeblock)));
  }

  // Stale cell pointers past the live pointer array still name where deleted cells began.
  // An emptied page keeps its whole old pointer array.
  const size_t arrayEnd = tree.PointerArrayEnd();
  const size_t mostStale = page.liveOffsets.empty() ? tree.usableSize / 2 : 100;
  size_t stale = 0;
  // A freelist trunk's links took the front of the array of the leaf it was (FreePages reads
  // them as zeros); the entries after them still name where that leaf's cells began.
  if (page.liveOffsets.empty()) {
    while (stale < mostStale && tree.CellPointer(tree.cellCount + stale) == 0) ++stale;
    // The zeros may run on past any array into the empty middle of the page, up to the first
    // cell: its bytes then read as an "entry" that points back before itself, and skipping
    // that far would lose the cell. Only an entry pointing past the array names a cell.
    const size_t endOfRun = arrayEnd + 2 * (stale + 1);
    const uint16_t next = stale < mostStale ? tree.CellPointer(tree.cellCount + stale) : 0;
    if (stale == mostStale || next >= tree.usableSize || next < endOfRun) stale = 0;
  }
  for (; stale < mostStale; ++stale) {
    const uint16_t entry = tree.CellPointer(tree.cellCount + stale);
    if (entry == 0 || entry >= tree.usableSize || entry < arrayEnd) break;
    carver.AddBoundary(entry);
  }

  // The unallocated gap between the pointer array and the first live cell: cells freed at
  // the top of the content area were merged into it. On an emptied page the stale pointers
  // at its start are no record: read as one, they would swallow the start of the first real
  // one. (Past a live array, a short gap's bytes may be a record that only looks like them.)
  const PageRange gap = tree.GapBelowCells(page.liveOffsets);
  const size_t gapBegin =
      page.liveOffsets.empty() ? std::max<size_t>(gap.begin, arrayEnd + 2 * stale) : gap.begin;
  // A page that lost every row is shown as such, whichever stretch of it a record lay in.
  const bool emptied = page.liveOffsets.empty();
  // The pointer array grows over the gap without regard for what lies there: just past its
  // stale entries a deleted cell may have begun whose first bytes new entries took.
  if (!emptied)
    for (size_t at = arrayEnd + 2 * stale; at < arrayEnd + 2 * stale + 12 && at < gap.end; ++at)
      carver.AddHeadLost(at);
  if (gap.end > gapBegin)
    carver.CarveRegion(gapBegin, gap.end, false, emptied ? Place::LeafPage : Place::Gap, carved,
                       found);

  tree.ForEachFreeblock(arrayEnd, [&](Freeblock block) {
    carver.CarveRegion(block.offset, block.end, true, emptied ? Place::LeafPage : Place::Freeblock,
                       carved, found);
  });
}

}  // namespace vantrel
