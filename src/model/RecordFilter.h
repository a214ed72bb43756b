// Finding records by what a person types: a piece of text, a number or a
// name, and an optional date range. Matching ignores case and width for Latin
// letters and digits (Ａ, a and A are one letter; １ is 1), so a search typed
// with a Chinese input method finds ASCII text and the other way round.
//
// A view with many records computes each record's search key once (the
// *SearchKey functions) and then tests keys with MatchesKey, which only
// compares bytes: 200,000 keys take a few tens of milliseconds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sources/Collections.h"

namespace vantrel {

// Text folded for matching: A-Z, full-width Ａ-Ｚ and ａ-ｚ to a-z, Latin-1
// capitals (À..Þ) to their small letters, full-width digits and the other
// full-width ASCII forms (U+FF01..U+FF5E) to ASCII, the ideographic space to
// a blank. Everything else is copied as it is.
std::string FoldForSearch(std::string_view utf8);

// Search keys: the folded fields a record is found by, separated by a byte
// that no typed text holds (so a match never spans two fields). A number
// enters both as written and as its digits alone, so "13812345678" finds
// "+86 138-1234-5678".
std::string MessageSearchKey(const MessageRecord& message, std::string_view address,
                             std::string_view names);
std::string CallSearchKey(const CallRecord& call, std::string_view number, std::string_view names);
std::string ContactSearchKey(const ContactRecord& contact);
std::string DeletedContactSearchKey(const DeletedContact& contact);

// Times on one clock for the range: seconds since 1970-01-01 00:00:00 UTC.
std::optional<int64_t> UnixTimeOf(const MessageRecord& message);
inline int64_t UnixTimeOf(const CallRecord& call) {
  return call.date;
}

// A date typed as YYYY-MM-DD or YYYY-MM-DD HH:MM:SS, in the local time zone,
// as Unix seconds. A date alone means the day's first second, or its last
// when endOfDay (an "until" date includes its whole day). nullopt when the
// text is no such date.
std::optional<int64_t> ParseLocalDate(std::string_view text, bool endOfDay);

class RecordFilter {
 public:
  // Matches everything.
  RecordFilter() = default;
  // text: what must occur in the record ("" for anything); since and until:
  // the first and last Unix second of the range, each optional.
  RecordFilter(std::string_view text, std::optional<int64_t> since, std::optional<int64_t> until);

  // True when the filter lets every record through.
  bool empty() const { return needle_.empty() && !since_ && !until_; }
  bool HasDateRange() const { return since_ || until_; }

  // key: a record's search key. time: its Unix time, nullopt when unknown or
  // when the record has no date (contacts): a record without a date passes
  // a date range only when it has no date by nature (dated = false).
  bool MatchesKey(std::string_view key, std::optional<int64_t> time, bool dated = true) const;

  // Conveniences that build the key on the spot.
  bool Matches(const MessageRecord& message, std::string_view address,
               std::string_view names) const;
  bool Matches(const CallRecord& call, std::string_view number, std::string_view names) const;
  bool Matches(const ContactRecord& contact) const;
  bool Matches(const DeletedContact& contact) const;

 private:
  std::string needle_;  // folded
  std::optional<int64_t> since_;
  std::optional<int64_t> until_;
};

}  // namespace vantrel
