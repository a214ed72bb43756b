#include "sources/apple/AppleTime.h"

namespace vantrel {

std::optional<int64_t> AppleSecondsFromStored(int64_t stored) {
  if (stored == 0) return std::nullopt;
  // Compared on both sides rather than through a magnitude, which the most
  // negative value does not have.
  if (stored <= kNanosecondTimeThreshold && stored >= -kNanosecondTimeThreshold) return stored;
  int64_t seconds = stored / kNanosecondsPerSecond;  // rounds toward zero
  if (stored % kNanosecondsPerSecond < 0) --seconds;
  return seconds;
}

}  // namespace vantrel
