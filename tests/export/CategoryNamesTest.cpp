// The names the tree, `summary` and `--category` show for kinds and
// categories: the texts users know, and that a pair of names leads back to
// the one category it names and to nothing else.
#include "export/CategoryNames.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace vantrel {
namespace {

TEST(CategoryNames, TheTreesTexts) {
  EXPECT_STREQ(KindName(RecordKind::Messages), "短信");
  EXPECT_STREQ(KindName(RecordKind::Contacts), "通讯录");
  EXPECT_STREQ(KindName(RecordKind::Calls), "通话记录");
  EXPECT_STREQ(CategoryName(Category::DeletedMessages), "删除数据");
  EXPECT_STREQ(CategoryName(Category::LiveMessages), "现存数据");
  EXPECT_STREQ(CategoryName(Category::DeletedContacts), "删除联系人");
  EXPECT_STREQ(CategoryName(Category::LiveContacts), "现有联系人");
  EXPECT_STREQ(CategoryName(Category::DeletedCalls), "删除数据");
  EXPECT_STREQ(CategoryName(Category::LiveCalls), "现存数据");
  // The recovered messages of no known party: named here, not by the grouping.
  Conversation unknown;
  unknown.unknown = true;
  EXPECT_EQ(ConversationTitle(unknown), "未知会话");
}

TEST(CategoryNames, EveryCategoryIsNamedByItsKindAndItsOwnName) {
  std::set<std::string> pairs;
  for (Category category : kAllCategories) {
    const std::string kind = KindName(KindOf(category));
    const std::string name = CategoryName(category);
    EXPECT_EQ(CategoryNamed(kind, name), category) << kind << "/" << name;
    pairs.insert(kind + "/" + name);
  }
  EXPECT_EQ(pairs.size(), std::size(kAllCategories));  // no two categories share a pair
}

TEST(CategoryNames, PairsThatNameNoCategory) {
  EXPECT_EQ(CategoryNamed("短信", "现有联系人"), std::nullopt);
  EXPECT_EQ(CategoryNamed("通讯录", "删除数据"), std::nullopt);
  EXPECT_EQ(CategoryNamed("短信", "别的"), std::nullopt);
  EXPECT_EQ(CategoryNamed("其他", "现存数据"), std::nullopt);
  EXPECT_EQ(CategoryNamed("", ""), std::nullopt);
  EXPECT_EQ(CategoryNamed("删除数据", "短信"), std::nullopt);  // the wrong way round
}

TEST(CategoryNames, DeletedMessagesAddressIsPlus86AndThreeMiddleDots) {
  EXPECT_EQ(std::string(kDeletedMessagesAddress), "+86\xC2\xB7\xC2\xB7\xC2\xB7");
}

}  // namespace
}  // namespace vantrel
