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
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace vantrel {

class GuidSet {
 public:
  // Sets that will be merged get different seeds: one table's slot order is
  // then no order at all for the other's hash, and merging does not cluster.
  explicit GuidSet(uint64_t seed = 0) : seed_(seed * 0x9E3779B97F4A7C15ull) {}

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
  // Insert for a caller that needs no answer, a few calls late: the key's slot
  // is fetched into the cache now and the key placed after later calls, so
  // the wait for memory overlaps other work. Flush() places what is pending;
  // nothing else sees a pending key.
  void InsertSoon(std::string_view guid) {
    uint64_t hi = 0, lo = 0;
    if (!Pack(guid, hi, lo) || (hi == 0 && lo == 0)) {
      Insert(guid);
      return;
    }
    if (pendingCount_ == kPending) PlaceOldestPending();
    if ((used_ + pendingCount_ + 1) * 2 > slots_.size()) Grow();
    __builtin_prefetch(&slots_[Hash(hi, lo) & (slots_.size() - 1)], 1);
    pending_[(pendingNext_ + pendingCount_) % kPending] = {hi, lo};
    ++pendingCount_;
  }
  void Flush() {
    while (pendingCount_ > 0) PlaceOldestPending();
  }
  // Adds every GUID of other (its pending ones excepted: flush it first).
  void InsertAll(const GuidSet& other);

  bool Contains(std::string_view guid) const {
    uint64_t hi = 0, lo = 0;
    if (!Pack(guid, hi, lo)) return others_.count(std::string(guid)) != 0;
    if (hi == 0 && lo == 0) return hasZero_;
    if (slots_.empty()) return false;
    const size_t mask = slots_.size() - 1;
    for (size_t i = Hash(hi, lo) & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.hi == hi && slot.lo == lo) return true;
      if (slot.hi == 0 && slot.lo == 0) return false;
    }
  }

 private:
  struct Slot {
    uint64_t hi = 0;
    uint64_t lo = 0;
  };

  static int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }
  static bool Pack(std::string_view guid, uint64_t& hi, uint64_t& lo) {
    if (guid.size() != 36) return false;
    int nibbles = 0;
    for (size_t i = 0; i < 36; ++i) {
      if (i == 8 || i == 13 || i == 18 || i == 23) {
        if (guid[i] != '-') return false;
        continue;
      }
      const int v = Nibble(guid[i]);
      if (v < 0) return false;
      uint64_t& half = nibbles < 16 ? hi : lo;
      half = (half << 4) | static_cast<uint64_t>(v);
      ++nibbles;
    }
    return true;
  }
  size_t Hash(uint64_t hi, uint64_t lo) const {
    uint64_t h = (hi ^ seed_ ^ (lo * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull;
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
  void PlaceOldestPending() {
    const Slot key = pending_[pendingNext_];
    pendingNext_ = (pendingNext_ + 1) % kPending;
    --pendingCount_;
    if ((used_ + 1) * 2 > slots_.size()) Grow();
    Place(key.hi, key.lo);
  }
  void Grow();

  static constexpr size_t kPending = 8;
  uint64_t seed_ = 0;
  std::array<Slot, kPending> pending_{};  // keys of InsertSoon not yet placed, oldest first
  size_t pendingNext_ = 0;
  size_t pendingCount_ = 0;
  std::vector<Slot> slots_;  // a power of two in size, at most half full
  size_t used_ = 0;
  bool hasZero_ = false;  // the all-zero GUID, whose bits mark an empty slot
  std::unordered_set<std::string> others_;
};

}  // namespace vantrel
