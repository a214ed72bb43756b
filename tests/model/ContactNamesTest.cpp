// Names beside numbers: the ways people write one number must meet, different
// numbers that merely end alike must not, and an address book written by the
// real SQLite engine must name each of its numbers as SQLite's rows say.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "fixtures/Fixtures.h"
#include "model/ContactNames.h"
#include "sources/Loaders.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

TEST(SameAddress, OneMobileNumberWrittenEveryWayMeets) {
  const std::vector<std::string> forms = {
      "13812345678",       "138 1234 5678",  "138-1234-5678",
      "+86 138-1234-5678", "+8613812345678", "008613812345678",
      "(138) 1234-5678",   "8613812345678",  "＋８６ １３８１２３４５６７８",
  };
  for (const std::string& a : forms) {
    for (const std::string& b : forms) EXPECT_TRUE(SameAddress(a, b)) << a << " vs " << b;
  }
}

TEST(SameAddress, LandlinesAndTrunkZeros) {
  EXPECT_TRUE(SameAddress("010-8888 6666", "+86 10 8888 6666"));
  EXPECT_TRUE(SameAddress("(010) 88886666", "00861088886666"));
  EXPECT_TRUE(SameAddress("+44 20 7946 0958", "020 7946 0958"));
  EXPECT_TRUE(SameAddress("+1 (415) 555-0134", "415-555-0134"));
  // A different area code is a different number.
  EXPECT_FALSE(SameAddress("010-8888 6666", "021-8888 6666"));
  // Without its area code a landline cannot be told from others that end alike.
  EXPECT_FALSE(SameAddress("8888 6666", "+86 10 8888 6666"));
}

TEST(SameAddress, NumbersThatOnlyEndAlikeStayApart) {
  EXPECT_FALSE(SameAddress("13812345678", "13912345678"));
  EXPECT_FALSE(SameAddress("13812345678", "2345678"));
  // Four digits in front are no country code; nor is an unknown prefix
  // without "+": 4413812345678 is not our mobile.
  EXPECT_FALSE(SameAddress("+1234 13812345678", "13812345678"));
  EXPECT_FALSE(SameAddress("4413812345678", "13812345678"));
  // Service numbers match only digit for digit.
  EXPECT_TRUE(SameAddress("10086", "10086"));
  EXPECT_FALSE(SameAddress("10086", "110086"));
  EXPECT_FALSE(SameAddress("110", "0110"));
  EXPECT_FALSE(SameAddress("", ""));
}

TEST(SameAddress, EmailIgnoresCaseOnly) {
  EXPECT_TRUE(SameAddress("Zhang.Wei@Example.COM", "zhang.wei@example.com"));
  EXPECT_TRUE(SameAddress(" li@example.com", "LI@EXAMPLE.COM"));
  EXPECT_FALSE(SameAddress("li@example.com", "li@example.cn"));
  EXPECT_FALSE(SameAddress("li@example.com", "13812345678"));
}

TEST(ContactNames, TwoContactsOfOneNumberAreBothShown) {
  ContactNames names;
  names.Add("+86 138-1234-5678", "张伟");
  names.Add("138 1234 5678", "王芳");
  names.Add("13812345678", "张伟");  // the same person twice: once
  names.Add("13912345678", "李娜");
  names.Add("", "无号");
  names.Add("13700000000", "");
  EXPECT_EQ(names.NameOf("13812345678"), "张伟 / 王芳");
  EXPECT_EQ(names.NamesOf("+8613812345678"), (std::vector<std::string>{"张伟", "王芳"}));
  EXPECT_EQ(names.NameOf("13912345678"), "李娜");
  EXPECT_EQ(names.NameOf("13700000000"), "");
  EXPECT_EQ(names.NameOf("10086"), "");
  EXPECT_EQ(names.NameOf(""), "");
}

TEST(ContactNames, CollectionsGiveLiveNamesThenRecoveredOwners) {
  Collections data;
  ContactRecord zhang;
  zhang.name = "张伟";
  zhang.propertyCodes = {3, 4, 5};
  zhang.labels = {"Mobile", "Home", "Home"};
  zhang.values = {"138 1234 5678", "Zhang@Example.com", "13912345678"};  // 5: an address
  data.contacts[1] = zhang;
  ContactRecord firm;
  firm.organization = "中国移动";
  firm.propertyCodes = {3};
  firm.labels = {"Work"};
  firm.values = {"10086"};
  data.contacts[2] = firm;
  data.deletedContacts = DeletedContactList{
      {"+86 138 1234 5678", "老张", {}}, {"13600000000", "", {}}, {"13500000000", "刘洋", {}}};
  const ContactNames names(data);
  EXPECT_EQ(names.NameOf("+8613812345678"), "张伟 / 老张");
  EXPECT_EQ(names.NameOf("zhang@example.com"), "张伟");
  EXPECT_EQ(names.NameOf("13912345678"), "");  // a postal address value is no number
  EXPECT_EQ(names.NameOf("10086"), "中国移动");
  EXPECT_EQ(names.NameOf("13500000000"), "刘洋");
  EXPECT_EQ(names.NameOf("13600000000"), "");
}

// The fixture writes mobile numbers as "138 1234 5678", "13812345678",
// "+86 138-1234-5678" and "+8613812345678". A message address is the bare
// mobile number: SQL's own replace() gives it, and SQLite's rows say whose it
// is; the names must come out in rowid order.
TEST(ContactNames, AddressBookFixtureNamesEveryMobileAsSqliteSays) {
  fixtures::TempDir dir;
  fixtures::ContactOptions options;
  options.personCount = 60;
  options.seed = 11;
  const fixtures::ContactsTruth truth = fixtures::BuildContactsDb(dir.File("ab.sqlitedb"), options);
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, truth.path), OpenStatus::Opened);
  Collections data;
  ASSERT_EQ(ContactLoader(file, data.contacts, data.deletedContacts), LoaderStatus::Loaded);
  data.deletedContacts.reset();  // live names only: SQLite knows no deleted ones
  const ContactNames names(data);

  fixtures::Database sql(truth.path, {.create = false, .readOnly = true});
  std::map<std::string, std::vector<std::string>> expected;  // bare mobile -> names
  for (const auto& row :
       sql.Query("SELECT replace(replace(replace(m.value,' ',''),'-',''),'+86',''), "
                 "ifnull(p.Last,'') || ifnull(p.Middle,'') || ifnull(p.First,''), "
                 "ifnull(p.Organization,'') FROM ABMultiValue m JOIN ABPerson p ON p.ROWID = "
                 "m.record_id WHERE m.property = 3 ORDER BY p.ROWID, m.UID")) {
    const std::string bare = row[0].AsText();
    if (bare.size() != 11 || bare[0] != '1') continue;  // landlines: another test
    std::string name = row[1].AsText().empty() ? row[2].AsText() : row[1].AsText();
    if (name.empty()) continue;
    auto& list = expected[bare];
    if (std::find(list.begin(), list.end(), name) == list.end()) list.push_back(name);
  }
  ASSERT_GT(expected.size(), 20u);
  for (const auto& [bare, want] : expected) {
    EXPECT_EQ(names.NamesOf(bare), want) << bare;
    EXPECT_EQ(names.NamesOf("+86" + bare), want) << bare;
  }
}

}  // namespace
}  // namespace vantrel
