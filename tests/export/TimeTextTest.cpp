// Date and duration texts, checked against Python's zoneinfo in a fixed zone.
#include "export/TimeText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>

#include "ExportTestSupport.h"

namespace vantrel {
namespace {

using testing::RunPython;

class TimeTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TZ");
    if (old) savedTz_ = old;
    hadTz_ = old != nullptr;
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
  }
  void TearDown() override {
    if (hadTz_)
      setenv("TZ", savedTz_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::string savedTz_;
  bool hadTz_ = false;
};

struct Case {
  long long stored;
  std::string text;
};

// Python turns each UTC instant into the stored count (seconds since the
// given epoch) and into Shanghai wall-clock text.
std::vector<Case> PythonCases(const std::string& epoch, const std::string& instants) {
  const std::string out = RunPython(
      "from datetime import datetime, timezone\n"
      "from zoneinfo import ZoneInfo\n"
      "z = ZoneInfo('Asia/Shanghai')\n"
      "epoch = datetime(" +
      epoch +
      ", tzinfo=timezone.utc)\n"
      "for t in [" +
      instants +
      "]:\n"
      "    u = datetime(*t, tzinfo=timezone.utc)\n"
      "    print(int((u - epoch).total_seconds()), "
      "u.astimezone(z).strftime('%Y-%m-%d_%H:%M:%S'))\n");
  std::vector<Case> cases;
  std::istringstream in(out);
  Case c;
  while (in >> c.stored >> c.text) {
    c.text[10] = ' ';
    cases.push_back(c);
  }
  return cases;
}

TEST_F(TimeTextTest, MessageDatesCountFrom2001InLocalTimeAcrossLeapDayAndSummerTime) {
  const std::vector<Case> cases =
      PythonCases("2001, 1, 1",
                  "(2001, 1, 1, 0, 0, 0), (2012, 2, 28, 15, 59, 59), (2012, 2, 28, 16, 0, 0),"
                  "(2012, 2, 29, 15, 59, 59), (2012, 2, 29, 16, 0, 0), (2013, 2, 28, 16, 0, 0),"
                  "(1990, 1, 15, 2, 0, 0), (1990, 7, 15, 2, 0, 0), (1990, 4, 14, 17, 59, 59),"
                  "(1990, 4, 14, 18, 0, 0), (1990, 9, 15, 16, 59, 59), (1990, 9, 15, 17, 0, 0),"
                  "(2000, 12, 31, 23, 59, 59), (2038, 1, 19, 3, 14, 8), (2069, 1, 1, 0, 0, 0)");
  ASSERT_EQ(cases.size(), 15u);
  for (const Case& c : cases) {
    ASSERT_GE(c.stored, INT32_MIN);
    ASSERT_LE(c.stored, INT32_MAX);
    EXPECT_EQ(MessageDateText(static_cast<int32_t>(c.stored)), c.text) << c.stored;
  }

  // Known offsets, stated here: Shanghai is UTC+8, and UTC+9 during China's
  // summer time of 1990 (15 April to 16 September).
  EXPECT_EQ(MessageDateText(0), "2001-01-01 08:00:00");
  // 2012-02-29 00:00:00 UTC: 11 years from 2001 with two leap days (4017 days)
  // plus January and February's first 28 days (59) = 4076 days.
  EXPECT_EQ(MessageDateText(4076 * 86400), "2012-02-29 08:00:00");
  // 1990-07-15 02:00:00 UTC: 3822 days and 22 hours before 2001-01-01.
  EXPECT_EQ(MessageDateText(-(3822 * 86400 + 22 * 3600)), "1990-07-15 11:00:00");
  // 1990-01-15 02:00:00 UTC, outside summer time.
  EXPECT_EQ(MessageDateText(-(4003 * 86400 + 22 * 3600)), "1990-01-15 10:00:00");
}

TEST_F(TimeTextTest, CallDatesCountFrom1970AsUnsigned) {
  const std::vector<Case> cases =
      PythonCases("1970, 1, 1",
                  "(1970, 1, 1, 0, 0, 0), (2012, 2, 29, 12, 0, 0), (1990, 7, 15, 2, 0, 0),"
                  "(2038, 1, 19, 3, 14, 8), (2106, 2, 7, 6, 28, 15)");
  ASSERT_EQ(cases.size(), 5u);
  for (const Case& c : cases)
    EXPECT_EQ(CallDateText(static_cast<int32_t>(static_cast<uint32_t>(c.stored))), c.text)
        << c.stored;
  EXPECT_EQ(CallDateText(0), "1970-01-01 08:00:00");
  // The count is never negative: -1 is the last second of the unsigned range.
  EXPECT_EQ(CallDateText(-1), "2106-02-07 14:28:15");
}

TEST(DurationTextTest, FilesDropTheHourUnderAnHourTheListNever) {
  EXPECT_EQ(DurationText(3725), "01:02:05");
  EXPECT_EQ(ListDurationText(3725), "01:02:05");
  EXPECT_EQ(DurationText(65), "01:05");
  EXPECT_EQ(ListDurationText(65), "00:01:05");
  EXPECT_EQ(DurationText(0), "00:00");
  EXPECT_EQ(ListDurationText(0), "00:00:00");
  EXPECT_EQ(DurationText(3599), "59:59");
  EXPECT_EQ(DurationText(3600), "01:00:00");
  EXPECT_EQ(DurationText(360000), "100:00:00");
  // A damaged negative duration reads as unsigned: 4294967295 s.
  EXPECT_EQ(DurationText(-1), "1193046:28:15");
  EXPECT_EQ(ListDurationText(-1), "1193046:28:15");
}

}  // namespace
}  // namespace vantrel
