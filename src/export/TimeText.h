// Texts for the times and durations Vantrel shows and saves. The record list,
// the detail pane and the CSV/TXT files all take their dates from here, so a
// record reads the same wherever it appears. Local time follows TZ (localtime_r).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vantrel {

// Seconds between 1970-01-01 and 2001-01-01 (UTC), the epoch of message times.
inline constexpr int64_t kMessageEpochOffset = 978307200;

// A message time (MessageRecord.date / readDate: signed seconds since
// 2001-01-01 UTC, so dates from 1933 to 2069) as local time,
// "2012-02-29 08:00:00" ("%d-%.2d-%.2d %.2d:%.2d:%.2d"). The year always has
// four digits, so the list's "%.4d" year and the files' plain year are the same
// text. Used by the list, the detail pane and the exports.
std::string MessageDateText(int32_t stored);
// The same for a date that may be unknown: an unknown date is an empty text,
// never a made-up one.
std::string MessageDateText(const std::optional<int32_t>& stored);

// A call time (CallRecord.date: seconds since 1970-01-01 UTC, read as an
// unsigned 32-bit count) as local time, "%d-%.2d-%.2d %.2d:%.2d:%.2d".
std::string CallDateText(int32_t stored);

// A call duration for the CSV and TXT files: "hh:mm:ss" when it reaches an hour,
// else "mm:ss" (3725 -> "01:02:05", 65 -> "01:05"). Read as unsigned seconds.
std::string DurationText(int32_t seconds);

// A call duration for the record list and detail pane: always "hh:mm:ss"
// (65 -> "00:01:05"). Read as unsigned seconds.
std::string ListDurationText(int32_t seconds);

}  // namespace vantrel
