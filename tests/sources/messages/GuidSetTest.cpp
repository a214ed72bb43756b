// The GUID set of the message loader: what it holds after each way in
// (Insert, sets made of gathered lists), across its own growth, for GUIDs
// in the usual form and for any other text, the all-zero GUID included.
#include "sources/messages/GuidSet.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "fixtures/BuildSupport.h"

namespace vantrel {
namespace {

// Random GUIDs in the usual form, as the fixtures write them.
std::vector<std::string> RandomGuids(size_t n, uint32_t seed) {
  fixtures::detail::Rng random(seed);
  std::vector<std::string> guids;
  for (size_t i = 0; i < n; ++i) guids.push_back(random.Guid());
  return guids;
}

TEST(GuidSet, InsertReportsNewGuidsAndContainsFindsThem) {
  GuidSet set;
  const std::string a = "0A1B2C3D-4E5F-6789-ABCD-EF0123456789";
  const std::string b = "0A1B2C3D-4E5F-6789-ABCD-EF0123456788";  // differs in the last digit
  EXPECT_FALSE(set.Contains(a));                                 // an empty set holds nothing
  EXPECT_TRUE(set.Insert(a));
  EXPECT_FALSE(set.Insert(a));
  EXPECT_TRUE(set.Contains(a));
  EXPECT_FALSE(set.Contains(b));
  EXPECT_TRUE(set.Insert(b));
  EXPECT_TRUE(set.Contains(b));
}

TEST(GuidSet, TextOutsideTheUsualFormIsKeptAsItIs) {
  GuidSet set;
  const std::string lower = "0a1b2c3d-4e5f-6789-abcd-ef0123456789";
  const std::string upper = "0A1B2C3D-4E5F-6789-ABCD-EF0123456789";
  const std::string misplacedDash = "0A1B2C3D4-E5F-6789-ABCD-EF0123456789";
  for (const std::string& text : {lower, misplacedDash, std::string("p:+8613800138000"),
                                  std::string(), upper.substr(0, 35)}) {
    EXPECT_TRUE(set.Insert(text)) << text;
    EXPECT_FALSE(set.Insert(text)) << text;
    EXPECT_TRUE(set.Contains(text)) << text;
  }
  // Case matters: the lower-case text does not stand for the upper-case GUID.
  EXPECT_FALSE(set.Contains(upper));
}

TEST(GuidSet, EveryDigitCountsAndABadDigitAnywhereMakesText) {
  // Each of the 32 digits goes into the packed bits: a GUID one digit away
  // from a member is not a member, and one with a non-digit in that place is
  // text of its own.
  const std::string base = "0A1B2C3D-4E5F-6789-ABCD-EF0123456789";
  GuidSet set;
  set.Insert(base);
  for (size_t at = 0; at < base.size(); ++at) {
    if (base[at] == '-') continue;
    SCOPED_TRACE(at);
    std::string near = base;
    near[at] = base[at] == 'F' ? '0' : base[at] == '9' ? 'A' : static_cast<char>(base[at] + 1);
    EXPECT_FALSE(set.Contains(near));
    std::string bad = base;
    bad[at] = 'G';
    EXPECT_FALSE(set.Contains(bad));
    GuidSet other;
    EXPECT_TRUE(other.Insert(bad));
    EXPECT_TRUE(other.Contains(bad));
    EXPECT_FALSE(other.Contains(base));
  }
  EXPECT_TRUE(set.Contains(base));
}

TEST(GuidSet, EveryHexValueInEveryPlaceIsAGuidOfItsOwn) {
  // 32 places times 16 values: as many different GUIDs as there are
  // different texts, so no two may share their packed bits. Bytes just
  // outside the digit ranges ('/', ':', '@', 'G'), lower case and bytes
  // above 0x7F make text of its own, never a GUID one digit away.
  const std::string base = "0A1B2C3D-4E5F-6789-ABCD-EF0123456789";
  const std::string hex = "0123456789ABCDEF";
  GuidSet set;
  std::vector<std::string> inserted;
  for (size_t at = 0; at < base.size(); ++at) {
    if (base[at] == '-') continue;
    for (char digit : hex) {
      std::string guid = base;
      guid[at] = digit;
      const bool isBase = guid == base;
      EXPECT_EQ(set.Insert(guid), !isBase || inserted.empty()) << guid;
      if (!isBase || inserted.empty()) inserted.push_back(guid);
    }
  }
  EXPECT_EQ(inserted.size(), 32u * 15u + 1u);
  for (const std::string& guid : inserted) EXPECT_TRUE(set.Contains(guid)) << guid;
  for (size_t at = 0; at < base.size(); ++at) {
    if (base[at] == '-') continue;
    for (const char bad : {'/', ':', '@', 'G', 'a', 'f', '\x80', '\xFF', '\0', ' '}) {
      std::string text = base;
      text[at] = bad;
      EXPECT_FALSE(set.Contains(text)) << at << " " << int(static_cast<unsigned char>(bad));
      GuidSet alone;
      EXPECT_TRUE(alone.Insert(text));
      EXPECT_TRUE(alone.Contains(text));
      EXPECT_FALSE(alone.Contains(base));
    }
  }
}

TEST(GuidSet, TheAllZeroGuidIsAGuidLikeAnyOther) {
  const std::string zero = "00000000-0000-0000-0000-000000000000";
  GuidSet set;
  EXPECT_FALSE(set.Contains(zero));
  set.Insert("00000000-0000-0000-0000-000000000001");
  EXPECT_FALSE(set.Contains(zero));  // its bits mark an empty slot: never found by accident
  EXPECT_TRUE(set.Insert(zero));
  EXPECT_FALSE(set.Insert(zero));
  EXPECT_TRUE(set.Contains(zero));
  GuidSet::Gathered gathered;
  gathered.Add(zero);
  GuidSet made;
  made.InsertAll(gathered);
  EXPECT_TRUE(made.Contains(zero));
  EXPECT_FALSE(made.Contains("00000000-0000-0000-0000-000000000001"));
}

TEST(GuidSet, ManyInsertsSurviveGrowth) {
  const std::vector<std::string> guids = RandomGuids(20000, 1);
  const std::vector<std::string> absent = RandomGuids(2000, 2);
  GuidSet set;
  for (const std::string& g : guids) EXPECT_TRUE(set.Insert(g));
  for (const std::string& g : guids) ASSERT_TRUE(set.Contains(g)) << g;
  for (const std::string& g : absent) EXPECT_FALSE(set.Contains(g)) << g;
}

TEST(GuidSet, ASetMadeOfGatheredListsHoldsTheirUnion) {
  // Two readers' lists, overlapping and repeating, with text outside the
  // usual form, made into a set that already holds some.
  const std::vector<std::string> first = RandomGuids(30000, 5);
  const std::vector<std::string> second = RandomGuids(30000, 6);
  GuidSet::Gathered a, b;
  for (const std::string& g : first) a.Add(g);
  for (const std::string& g : second) b.Add(g);
  b.Add(first[0]);
  b.Add(second[17]);
  a.Add("00000000-0000-0000-0000-000000000000");
  b.Add("other text");
  b.Add("other text");
  GuidSet set;
  const std::string before = RandomGuids(1, 8).front();
  set.Insert(before);
  set.Insert(first[1]);
  set.Reserve(a.PackedCount() + b.PackedCount());
  set.InsertAll(a);
  set.InsertAll(b);
  for (const std::string& g : first) ASSERT_TRUE(set.Contains(g)) << g;
  for (const std::string& g : second) ASSERT_TRUE(set.Contains(g)) << g;
  EXPECT_TRUE(set.Contains(before));
  EXPECT_TRUE(set.Contains("00000000-0000-0000-0000-000000000000"));
  EXPECT_TRUE(set.Contains("other text"));
  // Each placed once: a repeat neither counts nor inserts again.
  EXPECT_EQ(set.PackedCount(), first.size() + second.size() + 1);
  EXPECT_FALSE(set.Insert(first[0]));
  EXPECT_FALSE(set.Insert(second.back()));
  for (const std::string& g : RandomGuids(1000, 7)) EXPECT_FALSE(set.Contains(g)) << g;
  // A text that may still need rendering is taken only in the usual form.
  GuidSet::Gathered raw;
  const std::string lower = "0a1b2c3d-0000-0000-0000-00000000000f";
  EXPECT_TRUE(raw.AddIfUsual(second[3]));
  EXPECT_TRUE(raw.AddIfUsual("00000000-0000-0000-0000-000000000000"));
  EXPECT_FALSE(raw.AddIfUsual(lower));
  EXPECT_FALSE(raw.AddIfUsual(second[4].substr(0, 35)));
  EXPECT_EQ(raw.PackedCount(), 1u);
  GuidSet fromRaw;
  fromRaw.InsertAll(raw);
  EXPECT_TRUE(fromRaw.Contains(second[3]));
  EXPECT_TRUE(fromRaw.Contains("00000000-0000-0000-0000-000000000000"));
  EXPECT_FALSE(fromRaw.Contains(lower));
  EXPECT_FALSE(fromRaw.Contains(second[4]));
  // Without a Reserve first, the set makes room itself.
  GuidSet unsized;
  unsized.InsertAll(a);
  unsized.InsertAll(b);
  EXPECT_EQ(unsized.PackedCount(), first.size() + second.size());
  for (const std::string& g : second) ASSERT_TRUE(unsized.Contains(g)) << g;
}

TEST(GuidSet, ManyAskedAtOnceAnswerAsOneByOne) {
  // Members and strangers mixed, with text outside the usual form, the
  // all-zero GUID and an empty batch; and an empty set asked the same.
  const std::vector<std::string> members = RandomGuids(3000, 8);
  const std::vector<std::string> strangers = RandomGuids(3000, 9);
  const std::string zero = "00000000-0000-0000-0000-000000000000";
  GuidSet set;
  for (const std::string& g : members) set.Insert(g);
  set.Insert("p:+8613800138000");
  std::vector<std::string_view> asked;
  for (size_t k = 0; k < members.size(); ++k) {
    asked.push_back(members[k]);
    asked.push_back(strangers[k]);
  }
  for (const char* text : {"p:+8613800138000", "p:+8613800138001", ""}) asked.push_back(text);
  asked.push_back(zero);
  std::vector<bool> known;
  const GuidSet empty;
  for (const GuidSet* s :
       {static_cast<const GuidSet*>(&set), static_cast<const GuidSet*>(nullptr)}) {
    const GuidSet& asking = s ? *s : empty;
    asking.ContainsEach(asked, known);
    ASSERT_EQ(known.size(), asked.size());
    size_t found = 0;
    for (size_t k = 0; k < asked.size(); ++k) {
      EXPECT_EQ(known[k], asking.Contains(asked[k])) << asked[k];
      found += known[k];
    }
    EXPECT_EQ(found, s ? members.size() + 1 : 0u);
  }
  set.ContainsEach({}, known);
  EXPECT_TRUE(known.empty());
}

}  // namespace
}  // namespace vantrel
