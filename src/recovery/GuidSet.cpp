#include "recovery/GuidSet.h"

#include <utility>

namespace vantrel {

void GuidSet::InsertAll(const GuidSet& other) {
  while ((used_ + other.used_) * 2 > slots_.size()) Grow();
  for (const Slot& slot : other.slots_)
    if (slot.hi != 0 || slot.lo != 0) Place(slot.hi, slot.lo);
  hasZero_ = hasZero_ || other.hasZero_;
  others_.insert(other.others_.begin(), other.others_.end());
}

void GuidSet::Grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? 1024 : old.size() * 2, Slot{});
  used_ = 0;
  for (const Slot& slot : old)
    if (slot.hi != 0 || slot.lo != 0) Place(slot.hi, slot.lo);
}

}  // namespace vantrel
