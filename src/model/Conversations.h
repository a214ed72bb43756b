// Messages as conversations: every one-to-one conversation (by address) and
// group chat (by its chat identity) with its live and recovered messages
// together in time order, recovered ones flagged. A recovered message whose
// conversation is not known goes to one conversation of its own. The HTML
// report and the window's conversation view read these.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "model/ContactNames.h"
#include "sources/Collections.h"

namespace vantrel {

struct ConversationMessage {
  const MessageRecord* record = nullptr;  // points into the Collections grouped
  bool deleted = false;                   // recovered from free space
};

struct Conversation {
  // The address the messages are filed under (the other party's number or
  // e-mail address, or a group chat's identifier); empty for the unknown one.
  std::string address;
  // What a person calls it: the group's name; else the contact names of the
  // party (of each participant of a group, joined by ", "); else the address;
  // empty for the unknown one, which the views and reports name themselves.
  std::string title;
  // The contact names of a one-to-one conversation's party ("" when none).
  std::string names;
  std::vector<std::string> participants;  // a group chat's handles, sorted
  bool group = false;
  bool unknown = false;  // the recovered messages whose party is unknown
  // Oldest first; messages without a date keep their place relative to each
  // other and come after the dated ones.
  std::vector<ConversationMessage> messages;
  size_t deletedCount = 0;
};

// Groups every message of data. Conversations come in the order of their
// addresses (the live collection's order; one known only from recovered
// messages in its place among them); the unknown one, if any, last.
// The result points into data: data must outlive it and stay unchanged.
std::vector<Conversation> GroupConversations(const Collections& data, const ContactNames& names);

}  // namespace vantrel
