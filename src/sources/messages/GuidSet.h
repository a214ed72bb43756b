// A set of GUID texts, looked up by the bytes of a record without making a
// string. A GUID in its usual form (36 characters, upper-case hex digits and
// dashes at 8, 13, 18 and 23) is kept as its 128 bits in an open-addressed
// table: one allocation for the whole set, a probe or two per look-up. Any
// other text is kept as it is.
//
// The message loader keeps the GUIDs of live messages in one (a carved
// record of a live message is not a deleted one) and those it has filed as
// deleted in another. The look-ups sit in its innermost loops, so they are
// defined here, where the compiler can inline them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantrel {

class GuidSet {
  struct Slot {
    uint64_t hi = 0;
    uint64_t lo = 0;
  };

 public:
  // GUIDs gathered to make a set from later, in one go: each kept as its
  // bits (or, outside the usual form, its text), nothing looked up. Threads
  // reading rows each gather theirs, and one set is made of all the lists,
  // sized once, each key placed once.
  class Gathered {
   public:
    void Add(std::string_view guid) {
      if (!AddIfUsual(guid)) others_.emplace_back(guid);
    }
    // Add for a text that may need rendering first: adds guid only when it is
    // in the usual form (which no rendering changes); false, adding nothing,
    // when not.
    bool AddIfUsual(std::string_view guid) {
      uint64_t hi = 0, lo = 0;
      if (!Pack(guid, hi, lo)) return false;
      if (hi == 0 && lo == 0)
        hasZero_ = true;
      else
        keys_.push_back({hi, lo});
      return true;
    }
    void Reserve(size_t guids) { keys_.reserve(guids); }
    // GUIDs in the usual form gathered, repeats counted.
    size_t PackedCount() const { return keys_.size(); }

   private:
    friend class GuidSet;
    std::vector<Slot> keys_;
    bool hasZero_ = false;
    std::vector<std::string> others_;
  };

  // Adds guid; false when it was there already.
  bool Insert(std::string_view guid) {
    uint64_t hi = 0, lo = 0;
    if (!Pack(guid, hi, lo)) return others_.emplace(guid).second;
    if (hi == 0 && lo == 0) {
      const bool added = !hasZero_;
      hasZero_ = true;
      return added;
    }
    if ((used_ + 1) * 2 > slots_.size()) Grow();
    return Place(hi, lo);
  }
  // Adds every GUID gathered in list.
  void InsertAll(const Gathered& list);
  // Room for this many GUIDs in the usual form, in all: a set grown by
  // doubling places every key again at each step.
  void Reserve(size_t guids);
  // GUIDs in the usual form held.
  size_t PackedCount() const { return used_; }

  // A GUID's text taken apart once, for asking several sets about it.
  struct Key {
    std::string_view text;
    uint64_t hi = 0;
    uint64_t lo = 0;
    bool packed = false;  // the usual form: hi and lo hold its bits
  };
  static Key KeyOf(std::string_view guid) {
    Key key;
    key.text = guid;
    key.packed = Pack(guid, key.hi, key.lo);
    return key;
  }

  bool Contains(std::string_view guid) const { return Contains(KeyOf(guid)); }
  // Contains for each of guids, into known (resized to match). The slots are
  // fetched a few keys ahead of their probes, so that a batch of look-ups in
  // a table larger than the cache overlaps its waits for memory.
  void ContainsEach(const std::vector<std::string_view>& guids, std::vector<bool>& known) const;
  bool Contains(const Key& key) const {
    if (!key.packed) return !others_.empty() && others_.count(std::string(key.text)) != 0;
    if (key.hi == 0 && key.lo == 0) return hasZero_;
    if (slots_.empty()) return false;
    const size_t mask = slots_.size() - 1;
    for (size_t i = Hash(key.hi, key.lo) & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.hi == key.hi && slot.lo == key.lo) return true;
      if (slot.hi == 0 && slot.lo == 0) return false;
    }
  }

 private:
  // The value of each upper-case hex digit, -1 for any other byte.
  static constexpr std::array<int8_t, 256> kNibbles = [] {
    std::array<int8_t, 256> t{};
    for (int c = 0; c < 256; ++c)
      t[static_cast<size_t>(c)] = static_cast<int8_t>(c >= '0' && c <= '9'   ? c - '0'
                                                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                             : -1);
    return t;
  }();
  // Eight hex digits at p into the low bits of half; false at any other byte.
  static bool PackDigits(const char* p, size_t count, uint64_t& half) {
    int bad = 0;
    for (size_t k = 0; k < count; ++k) {
      const int v = kNibbles[static_cast<unsigned char>(p[k])];
      bad |= v;
      half = (half << 4) | static_cast<uint64_t>(v & 0xF);
    }
    return bad >= 0;
  }
  static bool Pack(std::string_view guid, uint64_t& hi, uint64_t& lo) {
    if (guid.size() != 36 || guid[8] != '-' || guid[13] != '-' || guid[18] != '-' ||
        guid[23] != '-')
      return false;
    // 8-4-4-4-12 digits: the first 16 make hi, the last 16 lo.
    const char* g = guid.data();
#if defined(__SSE2__)
    // Every look-up of the scans packs a GUID: the 32 digits are checked and
    // turned into nibbles sixteen at a time.
    alignas(16) char digits[32];
    std::memcpy(digits, g, 8);
    std::memcpy(digits + 8, g + 9, 4);
    std::memcpy(digits + 12, g + 14, 4);
    std::memcpy(digits + 16, g + 19, 4);
    std::memcpy(digits + 20, g + 24, 12);
    alignas(16) uint8_t bytes[16];
    for (int half = 0; half < 2; ++half) {
      const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(digits + 16 * half));
      // c - lo as a byte without sign is at most span exactly for c in [lo, lo + span].
      const __m128i fromZero = _mm_sub_epi8(v, _mm_set1_epi8('0'));
      const __m128i fromA = _mm_sub_epi8(v, _mm_set1_epi8('A'));
      const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(fromZero, _mm_set1_epi8(9)), fromZero);
      const __m128i isLetter = _mm_cmpeq_epi8(_mm_min_epu8(fromA, _mm_set1_epi8(5)), fromA);
      if (_mm_movemask_epi8(_mm_or_si128(isDigit, isLetter)) != 0xFFFF) return false;
      const __m128i nibbles =
          _mm_or_si128(_mm_and_si128(isDigit, fromZero),
                       _mm_andnot_si128(isDigit, _mm_add_epi8(fromA, _mm_set1_epi8(10))));
      // Each pair of digits, first one high: the byte it spells.
      const __m128i high = _mm_slli_epi16(_mm_and_si128(nibbles, _mm_set1_epi16(0x00FF)), 4);
      const __m128i low = _mm_srli_epi16(nibbles, 8);
      const __m128i pairs = _mm_or_si128(high, low);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes + 8 * half),
                       _mm_packus_epi16(pairs, pairs));
    }
    uint64_t first = 0, second = 0;
    std::memcpy(&first, bytes, 8);
    std::memcpy(&second, bytes + 8, 8);
    // The first digit is the most significant: the bytes read big-endian.
    hi = __builtin_bswap64(first);
    lo = __builtin_bswap64(second);
    return true;
#else
    hi = 0;
    lo = 0;
    return PackDigits(g, 8, hi) && PackDigits(g + 9, 4, hi) && PackDigits(g + 14, 4, hi) &&
           PackDigits(g + 19, 4, lo) && PackDigits(g + 24, 12, lo);
#endif
  }
  size_t Hash(uint64_t hi, uint64_t lo) const {
    uint64_t h = (hi ^ (lo * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull;
    return static_cast<size_t>(h ^ (h >> 31));
  }
  bool Place(uint64_t hi, uint64_t lo) {
    const size_t mask = slots_.size() - 1;
    for (size_t i = Hash(hi, lo) & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (slot.hi == hi && slot.lo == lo) return false;
      if (slot.hi == 0 && slot.lo == 0) {
        slot = {hi, lo};
        ++used_;
        return true;
      }
    }
  }
  void Grow();
  void Rehash(size_t slots);  // slots: a power of two above twice the keys held
  // Places every non-empty slot of keys (the table must have room for them).
  void PlaceAll(const std::vector<Slot>& keys);

  std::vector<Slot> slots_;  // a power of two in size, at most half full
  size_t used_ = 0;
  bool hasZero_ = false;  // the all-zero GUID, whose bits mark an empty slot
  std::unordered_set<std::string> others_;
};

}  // namespace vantrel
