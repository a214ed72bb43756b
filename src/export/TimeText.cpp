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
  const int year = parts.tm_year + 1900;
  const int fields[] = {parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
  bool twoDigits = year >= 1000 && year <= 9999;
  for (int field : fields) twoDigits = twoDigits && field >= 0 && field <= 99;
  if (!twoDigits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d-%.2d-%.2d %.2d:%.2d:%.2d", year, fields[0], fields[1],
                  fields[2], fields[3], fields[4]);
    return buf;
  }
  // The usual case written digit by digit: an export writes one per record.
  std::string text = "0000-00-00 00:00:00";
  for (int k = 3, y = year; k >= 0; --k, y /= 10) text[static_cast<size_t>(k)] = '0' + y % 10;
  static constexpr size_t kAt[] = {5, 8, 11, 14, 17};
  for (size_t k = 0; k < 5; ++k) {
    text[kAt[k]] = static_cast<char>('0' + fields[k] / 10);
    text[kAt[k] + 1] = static_cast<char>('0' + fields[k] % 10);
  }
  return text;
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
