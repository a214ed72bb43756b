// A call of the call history, live or deleted.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "carve/FoundAt.h"

namespace vantrel {

// What kind of call a call store (iOS 8+) says a call was. The iOS 6/7
// database does not tell: Unknown.
enum class CallType : uint8_t { Unknown, Phone, FaceTimeAudio, FaceTimeVideo, Other };

struct CallRecord {
  int32_t date = 0;      // seconds since 1970-01-01 00:00:00 UTC
  int32_t duration = 0;  // seconds
  int32_t flags = 0;     // bit 0 set = outgoing
  // Facts of the call store (iOS 8+); Unknown / -1 / empty elsewhere.
  CallType type = CallType::Unknown;
  int8_t answered = -1;  // 1 answered, 0 not (an incoming 0 is a missed call), -1 unknown
  std::vector<std::string> participants;  // the other handles of a group call
  std::optional<FoundAt> found;           // deleted records: where the bytes were
};

// Number -> its calls in the order found.
using CallMap = std::map<std::string, std::vector<CallRecord>>;

}  // namespace vantrel
