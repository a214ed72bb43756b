// The texts the category tree, the command-line tool and the exported files
// show for the kinds and categories of records (sources/Collections.h): one place, so
// that the tree, `summary`, `--category` and the files agree.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "model/Conversations.h"
#include "sources/Collections.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// A top-level node of the tree: "短信", "通讯录", "通话记录".
const char* KindName(RecordKind kind);

// A child node: "删除数据"/"现存数据" for messages and calls,
// "删除联系人"/"现有联系人" for contacts, "仅存索引" for the deleted messages
// only the GUID index names.
const char* CategoryName(Category category);

// The category of a child node named categoryName under kindName; nullopt
// when the pair names none ("短信/现有联系人" names none).
std::optional<Category> CategoryNamed(const std::string& kindName, const std::string& categoryName);

// What the tree and the report call a conversation: its title, or "未知会话"
// for the recovered messages whose party is unknown.
std::string ConversationTitle(const Conversation& conversation);

// The address deleted messages are listed under, having lost their chat: "+86"
// and three middle dots (U+00B7, GBK A1 A4).
inline constexpr char kDeletedMessagesAddress[] = "+86\u00B7\u00B7\u00B7";

// What the reader had to skip in each kind's database, one line per database
// with any damage ("短信数据库有损坏：跳过了 3 个记录单元、1 个页面"); none for
// sound files. Indexed by RecordKind.
std::vector<std::string> DamageLines(const std::array<DamageCounts, kRecordKindCount>& damage);

// The word scripts and the JSON export use for a kind of reaction: loved,
// liked, disliked, laughed, emphasised, questioned.
const char* ReactionWord(ReactionKind kind);

// The word scripts and the JSON export use for where a deleted record was
// found: freeblock, gap, leaf-page, interior-page, free-page, log-frame,
// index-only, unknown.
const char* PlaceWord(Place place);

// The word for a call store's kind of call: phone, facetime-audio,
// facetime-video, other, unknown (the iOS 6/7 database does not say).
const char* CallTypeWord(CallType type);

}  // namespace vantrel
