#include "export/CategoryNames.h"

namespace vantrel {

const char* KindName(RecordKind kind) {
  switch (kind) {
    case RecordKind::Messages:
      return "短信";
    case RecordKind::Contacts:
      return "通讯录";
    case RecordKind::Calls:
      break;
  }
  return "通话记录";
}

const char* CategoryName(Category category) {
  switch (category) {
    case Category::LiveContacts:
      return "现有联系人";
    case Category::DeletedContacts:
      return "删除联系人";
    case Category::MessageTraces:
      return "仅存索引";
    default:
      return IsDeleted(category) ? "删除数据" : "现存数据";
  }
}

std::string ConversationTitle(const Conversation& conversation) {
  return conversation.unknown ? "未知会话" : conversation.title;
}

std::optional<Category> CategoryNamed(const std::string& kindName,
                                      const std::string& categoryName) {
  for (Category category : kAllCategories) {
    if (kindName == KindName(KindOf(category)) && categoryName == CategoryName(category))
      return category;
  }
  return std::nullopt;
}

std::vector<std::string> DamageLines(const std::array<DamageCounts, kRecordKindCount>& damage) {
  std::vector<std::string> lines;
  for (size_t k = 0; k < damage.size(); ++k) {
    const DamageCounts& counts = damage[k];
    if (counts.cells == 0 && counts.pages == 0) continue;
    std::string line = std::string(KindName(static_cast<RecordKind>(k))) + "数据库有损坏：跳过了 ";
    if (counts.cells != 0) line += std::to_string(counts.cells) + " 个记录单元";
    if (counts.cells != 0 && counts.pages != 0) line += "、";
    if (counts.pages != 0) line += std::to_string(counts.pages) + " 个页面";
    lines.push_back(line);
  }
  return lines;
}

const char* ReactionWord(ReactionKind kind) {
  switch (kind) {
    case ReactionKind::Loved:
      return "loved";
    case ReactionKind::Liked:
      return "liked";
    case ReactionKind::Disliked:
      return "disliked";
    case ReactionKind::Laughed:
      return "laughed";
    case ReactionKind::Emphasised:
      return "emphasised";
    case ReactionKind::Questioned:
      break;
  }
  return "questioned";
}

const char* PlaceWord(Place place) {
  switch (place) {
    case Place::Freeblock:
      return "freeblock";
    case Place::Gap:
      return "gap";
    case Place::LeafPage:
      return "leaf-page";
    case Place::InteriorPage:
      return "interior-page";
    case Place::FreePage:
      return "free-page";
    case Place::LogFrame:
      return "log-frame";
    case Place::IndexOnly:
      return "index-only";
    case Place::Unknown:
      break;
  }
  return "unknown";
}

const char* CallTypeWord(CallType type) {
  switch (type) {
    case CallType::Phone:
      return "phone";
    case CallType::FaceTimeAudio:
      return "facetime-audio";
    case CallType::FaceTimeVideo:
      return "facetime-video";
    case CallType::Other:
      return "other";
    case CallType::Unknown:
      break;
  }
  return "unknown";
}

}  // namespace vantrel
