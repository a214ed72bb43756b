// Finding records as a person types: case and width do not matter for Latin
// letters and digits, numbers are found however they are written, names find
// their numbers' records, and a date range keeps exactly the records inside.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "fixtures/Fixtures.h"
#include "model/RecordFilter.h"
#include "sources/Loaders.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

namespace fx = fixtures;

MessageRecord Message(std::string text, std::optional<int32_t> date = std::nullopt) {
  MessageRecord m;
  m.text = std::move(text);
  m.date = date;
  return m;
}

TEST(RecordFilter, CaseAndWidthOfLatinLettersAndDigitsDoNotMatter) {
  const MessageRecord m = Message("Meet at ＢＬＯＣＫ ｃ, code ２０２６ — Café");
  for (const char* typed : {"block c", "BLOCK C", "ｂｌｏｃｋ　ｃ", "Ｂlock", "2026", "２０２6",
                            "CAFÉ", "café", "code"})
    EXPECT_TRUE(RecordFilter(typed, {}, {}).Matches(m, "13800138000", "")) << typed;
  for (const char* typed : {"block d", "2027", "cafe", "meet  at"})
    EXPECT_FALSE(RecordFilter(typed, {}, {}).Matches(m, "13800138000", "")) << typed;
  // Chinese text is matched as it is.
  const MessageRecord zh = Message("【银行】验证码 1234，请勿泄露");
  EXPECT_TRUE(RecordFilter("验证码", {}, {}).Matches(zh, "955", ""));
  EXPECT_TRUE(RecordFilter("验证码 １２３４", {}, {}).Matches(zh, "955", ""));
  EXPECT_FALSE(RecordFilter("验证", {}, {}).Matches(Message("验 证"), "955", ""));
  EXPECT_EQ(FoldForSearch("ＡＢＣ ｘｙｚ　０９！～"), "abc xyz 09!~");
}

TEST(RecordFilter, NumbersAndNamesFindTheirRecords) {
  const MessageRecord m = Message("hello");
  EXPECT_TRUE(RecordFilter("13812345678", {}, {}).Matches(m, "+86 138-1234-5678", ""));
  EXPECT_TRUE(RecordFilter("138-1234", {}, {}).Matches(m, "+86 138-1234-5678", ""));
  EXPECT_TRUE(RecordFilter("张伟", {}, {}).Matches(m, "13812345678", "张伟 / 王芳"));
  EXPECT_TRUE(RecordFilter("王芳", {}, {}).Matches(m, "13812345678", "张伟 / 王芳"));
  // A match never spans two fields: the text's end and the address's start.
  EXPECT_FALSE(RecordFilter("hello138", {}, {}).Matches(m, "13812345678", ""));
  CallRecord call;
  call.participants = {"zhao@example.com"};
  EXPECT_TRUE(RecordFilter("ZHAO@", {}, {}).Matches(call, "13812345678", ""));
  EXPECT_TRUE(RecordFilter("5678", {}, {}).Matches(call, "13812345678", ""));
  ContactRecord contact;
  contact.name = "张伟";
  contact.organization = "Acme";
  contact.values = {"+86 138-1234-5678", "Zhang@Example.com"};
  EXPECT_TRUE(RecordFilter("acme", {}, {}).Matches(contact));
  EXPECT_TRUE(RecordFilter("13812345678", {}, {}).Matches(contact));
  EXPECT_TRUE(RecordFilter("zhang@", {}, {}).Matches(contact));
  EXPECT_FALSE(RecordFilter("王芳", {}, {}).Matches(contact));
  EXPECT_TRUE(RecordFilter("老张", {}, {}).Matches(DeletedContact{"13812345678", "老张", {}}));
  EXPECT_TRUE(RecordFilter().empty());
  EXPECT_TRUE(RecordFilter().Matches(m, "", ""));
}

// Dates typed in local time: the test runs in a zone with summer time so a
// day of 23 hours is covered; the expected seconds come from the C library's
// own conversion of the same civil times.
TEST(RecordFilter, LocalDatesAndRangeEnds) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  auto local = [](int y, int mo, int d, int h, int mi, int s) {
    std::tm tm{};
    tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d;
    tm.tm_hour = h, tm.tm_min = mi, tm.tm_sec = s, tm.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tm));
  };
  EXPECT_EQ(ParseLocalDate("2024-03-31", false), local(2024, 3, 31, 0, 0, 0));
  EXPECT_EQ(ParseLocalDate("2024-03-31", true), local(2024, 3, 31, 23, 59, 59));
  EXPECT_EQ(*ParseLocalDate("2024-03-31", true) - *ParseLocalDate("2024-03-31", false),
            23 * 3600 - 1);  // the day the clocks go forward
  EXPECT_EQ(ParseLocalDate("2024-07-01 12:30:05", true), local(2024, 7, 1, 12, 30, 5));
  for (const char* bad : {"2024-02-30", "2024-13-01", "2024-7-1", "2024-07-01 25:00:00",
                          "2024-07-01T12:00:00", "yesterday", "", "2024-07-01 12:00"})
    EXPECT_EQ(ParseLocalDate(bad, false), std::nullopt) << bad;

  const int64_t since = *ParseLocalDate("2024-07-01", false);
  const int64_t until = *ParseLocalDate("2024-07-01", true);
  const RecordFilter day("", since, until);
  auto at = [](int64_t unix) { return Message("x", static_cast<int32_t>(unix - 978307200)); };
  EXPECT_TRUE(day.Matches(at(since), "", ""));
  EXPECT_TRUE(day.Matches(at(until), "", ""));
  EXPECT_FALSE(day.Matches(at(since - 1), "", ""));
  EXPECT_FALSE(day.Matches(at(until + 1), "", ""));
  // A message whose date did not survive is not known to lie in the range;
  // a contact has no date and is never kept out by one.
  EXPECT_FALSE(day.Matches(Message("x"), "", ""));
  EXPECT_TRUE(day.Matches(ContactRecord{}));
  EXPECT_TRUE(RecordFilter("", since, {}).Matches(at(until + 1), "", ""));
  EXPECT_FALSE(RecordFilter("", {}, until).Matches(at(until + 1), "", ""));
  CallRecord call;
  call.date = static_cast<int32_t>(since);
  EXPECT_TRUE(day.Matches(call, "", ""));
  call.date = static_cast<int32_t>(since - 1);
  EXPECT_FALSE(day.Matches(call, "", ""));

  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

// The filter over messages the reader loaded from a database the real SQLite
// engine wrote gives the rows SQLite's own LIKE and date comparison give (the
// fixture's words are ASCII, where LIKE ignores case the same way).
TEST(RecordFilter, AgreesWithSqliteOnAFixture) {
  fx::TempDir dir;
  fx::MessageOptions options;
  options.messageCount = 400;
  options.deleteFraction = 0;
  const fx::MessagesTruth truth = fx::BuildMessagesDb(dir.File("sms.db"), options);
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, truth.path), OpenStatus::Opened);
  MessageMap live;
  MessageList deleted;
  ASSERT_EQ(MessageLoader(file, live, deleted), LoaderStatus::Loaded);
  fx::Database sql(truth.path, {.create = false, .readOnly = true});
  const int64_t middle = sql.QueryInt("SELECT date FROM message ORDER BY date LIMIT 1 OFFSET 200");
  for (const std::string word : {"the", "OK", "明天", "TOMORROW", "🎉"}) {
    const int64_t want =
        sql.QueryInt("SELECT count(*) FROM message WHERE text LIKE '%' || ? || '%' AND date >= ?",
                     {fx::Value::Text(word), fx::Value::Int(middle)});
    const RecordFilter filter(word, middle + fx::kAppleEpochOffset, std::nullopt);
    int64_t got = 0;
    for (const auto& [address, messages] : live)
      for (const MessageRecord& m : messages)
        got += filter.MatchesKey(FoldForSearch(m.text), UnixTimeOf(m));
    EXPECT_GT(want, 0) << word;
    EXPECT_EQ(got, want) << word;
  }
}

}  // namespace
}  // namespace vantrel
