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
    default:
      return IsDeleted(category) ? "删除数据" : "现存数据";
  }
}

std::optional<Category> CategoryNamed(const std::string& kindName,
                                      const std::string& categoryName) {
  for (Category category : kAllCategories) {
    if (kindName == KindName(KindOf(category)) && categoryName == CategoryName(category))
      return category;
  }
  return std::nullopt;
}

}  // namespace vantrel
