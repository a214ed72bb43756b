// Message times as the devices store them. `message.date` and its siblings
// count from 2001-01-01 00:00:00 UTC: in seconds up to iOS 10, in nanoseconds
// from iOS 11. The upgrade converted `message` but not every table
// (`chat_message_join.message_date` kept most rows in seconds), so the unit is
// decided for each value, not for each file.
#pragma once

#include <cstdint>
#include <optional>

namespace vantrel {

// Above this magnitude a stored time is nanoseconds. As seconds it would lie
// more than 3,000 years from 2001; as nanoseconds it is 100 seconds from 2001,
// so no real message time is on the wrong side in either unit.
inline constexpr int64_t kNanosecondTimeThreshold = 100'000'000'000;  // 10^11

inline constexpr int64_t kNanosecondsPerSecond = 1'000'000'000;

// Seconds since 2001-01-01 00:00:00 UTC (negative before it) from a stored
// time in either unit. Nanoseconds are divided rounding toward minus infinity,
// so an instant just before a whole second stays in the second before it, also
// before 2001. 0 means the device never set the time: nullopt.
std::optional<int64_t> AppleSecondsFromStored(int64_t stored);

}  // namespace vantrel
