#include "model/Conversations.h"

#include <algorithm>
#include <map>

namespace vantrel {
namespace {

bool IsGroup(const MessageList& messages) {
  for (const MessageRecord& m : messages) {
    if (!m.chatName().empty() || m.participants().size() > 1) return true;
  }
  return false;
}

// The group's facts from its newest message that has them: a group can be
// renamed, and the latest name is the one its members see.
void TakeGroupFacts(const MessageList& messages, Conversation& conversation) {
  for (auto m = messages.rbegin(); m != messages.rend(); ++m) {
    if (conversation.title.empty() && !m->chatName().empty()) conversation.title = m->chatName();
    if (conversation.participants.empty() && !m->participants().empty())
      conversation.participants = m->participants();
  }
}

void NameConversation(const ContactNames& names, Conversation& conversation) {
  if (conversation.group) {
    if (!conversation.title.empty()) return;
    for (const std::string& participant : conversation.participants) {
      if (!conversation.title.empty()) conversation.title += ", ";
      const std::string name = names.NameOf(participant);
      conversation.title += name.empty() ? participant : name;
    }
    if (conversation.title.empty()) conversation.title = conversation.address;
    return;
  }
  conversation.names = names.NameOf(conversation.address);
  conversation.title = conversation.names.empty() ? conversation.address : conversation.names;
}

void SortByTime(std::vector<ConversationMessage>& messages) {
  std::stable_sort(messages.begin(), messages.end(),
                   [](const ConversationMessage& a, const ConversationMessage& b) {
                     const auto& da = a.record->date;
                     const auto& db = b.record->date;
                     if (da.has_value() != db.has_value()) return da.has_value();
                     return da.has_value() && *da < *db;
                   });
}

}  // namespace

std::vector<Conversation> GroupConversations(const Collections& data, const ContactNames& names) {
  std::map<std::string, Conversation> byAddress;
  for (const auto& [address, messages] : data.liveMessages) {
    Conversation& conversation = byAddress[address];
    conversation.address = address;
    conversation.group = IsGroup(messages);
    if (conversation.group) TakeGroupFacts(messages, conversation);
    for (const MessageRecord& m : messages) conversation.messages.push_back({&m, false});
  }
  Conversation unknown;
  unknown.unknown = true;
  for (const MessageRecord& m : data.deletedMessages) {
    Conversation* target = &unknown;
    if (!m.address.empty()) {
      target = &byAddress[m.address];
      target->address = m.address;
    }
    target->messages.push_back({&m, true});
    ++target->deletedCount;
  }
  std::vector<Conversation> result;
  result.reserve(byAddress.size() + 1);
  for (auto& [address, conversation] : byAddress) {
    NameConversation(names, conversation);
    SortByTime(conversation.messages);
    result.push_back(std::move(conversation));
  }
  if (!unknown.messages.empty()) {
    SortByTime(unknown.messages);
    result.push_back(std::move(unknown));
  }
  return result;
}

}  // namespace vantrel
