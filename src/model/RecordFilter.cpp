#include "model/RecordFilter.h"

#include <cstdio>
#include <ctime>

namespace vantrel {
namespace {

// Between the fields of a key. A unit separator: not typed, not in text.
constexpr char kFieldBreak = '\x1f';

// Seconds from 1970-01-01 to 2001-01-01, both UTC.
constexpr int64_t kAppleEpochOffset = 978307200;

void AppendFolded(std::string_view s, std::string& out) {
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A'))
                                         : static_cast<char>(c));
      continue;
    }
    if (c == 0xC3 && i + 1 < s.size()) {
      // U+00C0..U+00DE (but U+00D7, the multiplication sign) are the
      // capitals of U+00E0..U+00FE: the same two bytes, the second plus 0x20.
      const auto low = static_cast<unsigned char>(s[i + 1]);
      if (low >= 0x80 && low <= 0x9E && low != 0x97) {
        out.push_back(static_cast<char>(c));
        out.push_back(static_cast<char>(low + 0x20));
        ++i;
        continue;
      }
    }
    if ((c == 0xEF || c == 0xE3) && i + 2 < s.size()) {
      const auto b1 = static_cast<unsigned char>(s[i + 1]);
      const auto b2 = static_cast<unsigned char>(s[i + 2]);
      // U+3000 ideographic space: E3 80 80.
      if (c == 0xE3 && b1 == 0x80 && b2 == 0x80) {
        out.push_back(' ');
        i += 2;
        continue;
      }
      // U+FF01..U+FF5E: EF BC 81..BF and EF BD 80..9E, ASCII 0x21..0x7E.
      int code = -1;
      if (c == 0xEF && b1 == 0xBC && b2 >= 0x81 && b2 <= 0xBF) code = 0x21 + (b2 - 0x81);
      if (c == 0xEF && b1 == 0xBD && b2 >= 0x80 && b2 <= 0x9E) code = 0x21 + 63 + (b2 - 0x80);
      if (code >= 0) {
        if (code >= 'A' && code <= 'Z') code += 'a' - 'A';
        out.push_back(static_cast<char>(code));
        i += 2;
        continue;
      }
    }
    out.push_back(static_cast<char>(c));
  }
}

void AppendField(std::string_view s, std::string& key) {
  if (s.empty()) return;
  AppendFolded(s, key);
  key.push_back(kFieldBreak);
}

// The digits of a number that holds other characters too, as their own field.
void AppendDigits(std::string_view number, std::string& key) {
  std::string digits;
  bool other = false;
  for (char c : number) {
    if (c >= '0' && c <= '9')
      digits.push_back(c);
    else
      other = true;
  }
  if (other && !digits.empty()) {
    key += digits;
    key.push_back(kFieldBreak);
  }
}

}  // namespace

std::string FoldForSearch(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  AppendFolded(utf8, out);
  return out;
}

std::string MessageSearchKey(const MessageRecord& message, std::string_view address,
                             std::string_view names) {
  std::string key;
  key.reserve(message.text.size() + address.size() + names.size() + 8);
  AppendField(message.text, key);
  AppendField(address, key);
  AppendDigits(address, key);
  AppendField(names, key);
  AppendField(message.chatName(), key);
  for (const std::string& p : message.participants()) AppendField(p, key);
  return key;
}

std::string CallSearchKey(const CallRecord& call, std::string_view number, std::string_view names) {
  std::string key;
  AppendField(number, key);
  AppendDigits(number, key);
  AppendField(names, key);
  for (const std::string& p : call.participants) AppendField(p, key);
  return key;
}

std::string ContactSearchKey(const ContactRecord& contact) {
  std::string key;
  AppendField(contact.name, key);
  AppendField(contact.phonetic, key);
  AppendField(contact.organization, key);
  for (const std::string& value : contact.values) {
    AppendField(value, key);
    AppendDigits(value, key);
  }
  return key;
}

std::string DeletedContactSearchKey(const DeletedContact& contact) {
  std::string key;
  AppendField(contact.number, key);
  AppendDigits(contact.number, key);
  AppendField(contact.owner, key);
  return key;
}

std::optional<int64_t> UnixTimeOf(const MessageRecord& message) {
  if (!message.date) return std::nullopt;
  return static_cast<int64_t>(*message.date) + kAppleEpochOffset;
}

std::optional<int64_t> ParseLocalDate(std::string_view text, bool endOfDay) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  const std::string s(text);
  int used = 0;
  bool timeGiven = false;
  if (std::sscanf(s.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &year, &month, &day, &hour, &minute,
                  &second, &used) == 6 &&
      static_cast<size_t>(used) == s.size() && s.size() == 19) {
    timeGiven = true;
  } else if (std::sscanf(s.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) == 3 &&
             static_cast<size_t>(used) == s.size() && s.size() == 10) {
    hour = minute = second = 0;
  } else {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59 ||
      hour < 0 || minute < 0 || second < 0)
    return std::nullopt;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;  // the zone's rules say whether summer time was in force
  const std::time_t t = std::mktime(&tm);
  // mktime normalises 2026-02-30 to March 2: such a day is no date.
  if (t == static_cast<std::time_t>(-1) || tm.tm_mday != day || tm.tm_mon != month - 1)
    return std::nullopt;
  if (!timeGiven && endOfDay) {
    std::tm next{};
    next.tm_year = year - 1900;
    next.tm_mon = month - 1;
    next.tm_mday = day + 1;
    next.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&next)) - 1;  // days of 23 or 25 hours too
  }
  return static_cast<int64_t>(t);
}

RecordFilter::RecordFilter(std::string_view text, std::optional<int64_t> since,
                           std::optional<int64_t> until)
    : needle_(FoldForSearch(text)), since_(since), until_(until) {}

bool RecordFilter::MatchesKey(std::string_view key, std::optional<int64_t> time, bool dated) const {
  if (dated && (since_ || until_)) {
    if (!time) return false;
    if (since_ && *time < *since_) return false;
    if (until_ && *time > *until_) return false;
  }
  return needle_.empty() || key.find(needle_) != std::string_view::npos;
}

bool RecordFilter::Matches(const MessageRecord& message, std::string_view address,
                           std::string_view names) const {
  if (needle_.empty()) return MatchesKey({}, UnixTimeOf(message));
  return MatchesKey(MessageSearchKey(message, address, names), UnixTimeOf(message));
}

bool RecordFilter::Matches(const CallRecord& call, std::string_view number,
                           std::string_view names) const {
  if (needle_.empty()) return MatchesKey({}, UnixTimeOf(call));
  return MatchesKey(CallSearchKey(call, number, names), UnixTimeOf(call));
}

bool RecordFilter::Matches(const ContactRecord& contact) const {
  return needle_.empty() || MatchesKey(ContactSearchKey(contact), std::nullopt, false);
}

bool RecordFilter::Matches(const DeletedContact& contact) const {
  return needle_.empty() || MatchesKey(DeletedContactSearchKey(contact), std::nullopt, false);
}

}  // namespace vantrel
