// The edit history of iOS 16 messages: message_summary_info is a binary
// property list, read here because property lists are read in this layer.
// Its "ec" dictionary maps each part of a message to the versions that part
// had, oldest first, each {"d": time, "t": archived attributed string}.
#pragma once

#include <string_view>
#include <vector>

#include "sources/Collections.h"

namespace vantrel {

// The texts a summary keeps, oldest first, with their times; empty when the
// bytes are no property list or hold no history.
std::vector<EarlierText> EditHistoryTexts(std::string_view summaryInfo);

// Turns every message's raw summary into its earlier texts (those that differ
// from the text it shows now) and lets the raw bytes go.
void ReadEditHistories(MessageMap& live, MessageList& deleted);

}  // namespace vantrel
