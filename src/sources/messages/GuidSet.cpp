#include "sources/messages/GuidSet.h"

#include <utility>

namespace vantrel {

void GuidSet::InsertAll(const Gathered& list) {
  Reserve(used_ + list.keys_.size());
  PlaceAll(list.keys_);
  hasZero_ = hasZero_ || list.hasZero_;
  others_.insert(list.others_.begin(), list.others_.end());
}

void GuidSet::ContainsEach(const std::vector<std::string_view>& guids,
                           std::vector<bool>& known) const {
  known.assign(guids.size(), false);
  thread_local std::vector<Key> keys;
  keys.clear();
  for (std::string_view guid : guids) keys.push_back(KeyOf(guid));
  constexpr size_t kAhead = 8;
  const size_t mask = slots_.empty() ? 0 : slots_.size() - 1;
  const auto fetch = [&](size_t k) {
    if (k < keys.size() && keys[k].packed && !slots_.empty())
      __builtin_prefetch(&slots_[Hash(keys[k].hi, keys[k].lo) & mask]);
  };
  for (size_t k = 0; k < kAhead; ++k) fetch(k);
  for (size_t k = 0; k < keys.size(); ++k) {
    fetch(k + kAhead);
    known[k] = Contains(keys[k]);
  }
}

void GuidSet::Reserve(size_t guids) {
  size_t slots = slots_.empty() ? 1024 : slots_.size();
  while ((guids + 1) * 2 > slots) slots *= 2;
  if (slots > slots_.size()) Rehash(slots);
}

void GuidSet::Grow() {
  Rehash(slots_.empty() ? 1024 : slots_.size() * 2);
}

void GuidSet::Rehash(size_t slots) {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(slots, Slot{});
  used_ = 0;
  PlaceAll(old);
}

void GuidSet::PlaceAll(const std::vector<Slot>& keys) {
  // Each key's slot is fetched a few keys ahead of placing it: in a table
  // larger than the cache the waits for memory then overlap.
  constexpr size_t kAhead = 8;
  std::array<Slot, kAhead> waiting{};
  size_t waitingCount = 0, oldest = 0;
  const size_t mask = slots_.size() - 1;
  for (const Slot& slot : keys) {
    if (slot.hi == 0 && slot.lo == 0) continue;
    __builtin_prefetch(&slots_[Hash(slot.hi, slot.lo) & mask], 1);
    if (waitingCount == kAhead) {
      Place(waiting[oldest].hi, waiting[oldest].lo);
      waiting[oldest] = slot;
      oldest = (oldest + 1) % kAhead;
    } else {
      waiting[waitingCount++] = slot;
    }
  }
  for (size_t k = 0; k < waitingCount; ++k) {
    const Slot& slot = waiting[(oldest + k) % kAhead];
    Place(slot.hi, slot.lo);
  }
}

}  // namespace vantrel
