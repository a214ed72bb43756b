// Date and duration texts; see TimeText.h.
#include "export/TimeText.h"

#include <cstdio>
#include <ctime>

namespace vantrel {

namespace {

// Local calendar time of seconds since 1970-01-01 UTC, as "Y-MM-DD hh:mm:ss".
// A count localtime cannot break down gives an empty text.
std::string LocalDateText(int64_t unixSeconds) {
  const time_t t = static_cast<time_t>(unixSeconds);
  struct tm parts {};
  if (localtime_r(&t, &parts) == nullptr) return {};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d-%.2d-%.2d %.2d:%.2d:%.2d", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return buf;
}

}  // namespace

std::string MessageDateText(int32_t stored) {
  return LocalDateText(static_cast<int64_t>(stored) + kMessageEpochOffset);
}

std::string MessageDateText(const std::optional<int32_t>& stored) {
  return stored ? MessageDateText(*stored) : std::string();
}

std::string CallDateText(int32_t stored) {
  return LocalDateText(static_cast<int64_t>(static_cast<uint32_t>(stored)));
}

std::string DurationText(int32_t seconds) {
  const uint32_t s = static_cast<uint32_t>(seconds);
  const uint32_t hours = s / 3600;
  char buf[32];
  if (hours != 0)
    std::snprintf(buf, sizeof buf, "%.2u:%.2u:%.2u", hours, s % 3600 / 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%.2u:%.2u", s % 3600 / 60, s % 60);
  return buf;
}

std::string ListDurationText(int32_t seconds) {
  const uint32_t s = static_cast<uint32_t>(seconds);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2u:%.2u:%.2u", s / 3600, s % 3600 / 60, s % 60);
  return buf;
}

}  // namespace vantrel
