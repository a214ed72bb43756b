#include "sources/messages/EditHistory.h"

#include <cmath>

#include "backup/PropertyList.h"
#include "sources/apple/AppleTime.h"
#include "sources/apple/AttributedBody.h"

namespace vantrel {
namespace {

constexpr double kUnixTo2001 = 978307200.0;

// A version's time: an integer as the message table stores times (seconds
// or nanoseconds since 2001), a real number of seconds since 2001, or a date.
std::optional<int32_t> VersionTime(const PlistValue* value) {
  if (value == nullptr) return std::nullopt;
  std::optional<int64_t> seconds;
  switch (value->kind) {
    case PlistValue::Kind::Int:
      seconds = AppleSecondsFromStored(value->integer);
      break;
    case PlistValue::Kind::Real:
      if (std::isfinite(value->real))
        seconds = AppleSecondsFromStored(static_cast<int64_t>(value->real));
      break;
    case PlistValue::Kind::Date:
      if (std::isfinite(value->real)) seconds = static_cast<int64_t>(value->real - kUnixTo2001);
      break;
    default:
      break;
  }
  if (!seconds || *seconds == 0 || *seconds < INT32_MIN || *seconds > INT32_MAX)
    return std::nullopt;
  return static_cast<int32_t>(*seconds);
}

void ReadRecord(MessageRecord& record) {
  if (!record.extras || record.extras->summaryInfo.empty()) return;
  MessageExtras& extras = *record.extras;
  for (EarlierText& version : EditHistoryTexts(extras.summaryInfo))
    if (version.text != record.text) extras.earlierTexts.push_back(std::move(version));
  extras.summaryInfo = std::string();
}

}  // namespace

std::vector<EarlierText> EditHistoryTexts(std::string_view summaryInfo) {
  std::vector<EarlierText> texts;
  const PlistDocument doc = LoadPropertyList(summaryInfo);
  if (!doc.Readable()) return texts;
  const PlistValue* parts = doc.root.Find("ec");
  if (parts == nullptr || !parts->IsDict()) return texts;
  for (const PlistValue& versions : parts->items) {
    if (!versions.IsArray()) continue;
    for (const PlistValue& version : versions.items) {
      if (!version.IsDict()) continue;
      const std::string body = version.DataAt("t");
      std::optional<std::string> text;
      if (!body.empty())
        text = TextOfAttributedBody(
            ByteView(reinterpret_cast<const uint8_t*>(body.data()), body.size()));
      if (!text) continue;
      texts.push_back({std::move(*text), VersionTime(version.Find("d"))});
    }
  }
  return texts;
}

void ReadEditHistories(MessageMap& live, MessageList& deleted) {
  for (auto& [address, records] : live)
    for (MessageRecord& record : records) ReadRecord(record);
  for (MessageRecord& record : deleted) ReadRecord(record);
}

}  // namespace vantrel
