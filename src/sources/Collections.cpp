#include "sources/Collections.h"

namespace vantrel {
namespace {

template <typename Map>
size_t TotalRecords(const Map& map) {
  size_t total = 0;
  for (const auto& [key, records] : map) total += records.size();
  return total;
}

}  // namespace

size_t RecordCount(const Collections& data, Category category) {
  switch (category) {
    case Category::LiveMessages:
      return TotalRecords(data.liveMessages);
    case Category::DeletedMessages:
      return data.deletedMessages.size();
    case Category::LiveContacts:
      return data.contacts.size();
    case Category::DeletedContacts:
      return data.deletedContacts ? data.deletedContacts->size() : 0;
    case Category::LiveCalls:
      return TotalRecords(data.liveCalls);
    case Category::DeletedCalls:
      return TotalRecords(data.deletedCalls);
    case Category::MessageTraces:
      return data.messageTraces.size();
  }
  return 0;
}

bool HasRecords(const Collections& data, Category category) {
  if (category == Category::DeletedContacts) return data.deletedContacts.has_value();
  return RecordCount(data, category) != 0;
}

}  // namespace vantrel
