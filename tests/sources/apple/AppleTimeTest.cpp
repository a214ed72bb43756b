// Message times in either unit: the same instant stored in seconds (up to iOS 10) and in
// nanoseconds (iOS 11 and later) reads as the same second, before 2001 and after 2038 too, and
// an unset time reads as no time. The expected seconds come from calendar dates.
#include "sources/apple/AppleTime.h"

#include <gtest/gtest.h>

#include <limits>

#include "fixtures/Fixtures.h"

namespace vantrel {
namespace {

using fixtures::AppleSeconds;

constexpr int64_t kNano = 1'000'000'000;

TEST(AppleTime, TheSameInstantInEitherUnit) {
  const int64_t instants[] = {
      // Nanoseconds within 100 s of the epoch would read as seconds; from 101 s on they do not.
      AppleSeconds(2001, 1, 1, 0, 1, 41),
      AppleSeconds(2013, 9, 18, 12, 30, 5),  // iOS 7
      AppleSeconds(2017, 9, 19, 8, 0, 0),    // iOS 11, when the unit changed
      AppleSeconds(2024, 2, 29, 23, 59, 59),
      AppleSeconds(2038, 1, 19, 3, 14, 8),    // past a signed 32-bit count of Unix seconds
      AppleSeconds(2069, 1, 1),               // past a signed 32-bit count from 2001
      AppleSeconds(2262, 4, 11),              // near the end of 64-bit nanoseconds
      AppleSeconds(2000, 12, 31, 23, 58, 0),  // two minutes before 2001
      AppleSeconds(1970, 1, 1),
      AppleSeconds(1901, 12, 14),
  };
  for (int64_t seconds : instants) {
    SCOPED_TRACE(seconds);
    EXPECT_EQ(AppleSecondsFromStored(seconds), seconds);
    EXPECT_EQ(AppleSecondsFromStored(seconds * kNano), seconds);
    // Any fraction of that second, after 2001 or before it, stays in that second.
    EXPECT_EQ(AppleSecondsFromStored(seconds * kNano + 1), seconds);
    EXPECT_EQ(AppleSecondsFromStored(seconds * kNano + 999'999'999), seconds);
  }
  // Both units side by side, as chat_message_join keeps them after an upgrade.
  const int64_t when = AppleSeconds(2016, 5, 4, 10, 11, 12);
  EXPECT_EQ(AppleSecondsFromStored(when), AppleSecondsFromStored(when * kNano + 345'678'901));
}

TEST(AppleTime, FractionsBeforeTheEpochRoundDown) {
  // A moment a fraction of a second before a whole second belongs to the second before it.
  EXPECT_EQ(AppleSecondsFromStored(-500 * kNano), -500);
  EXPECT_EQ(AppleSecondsFromStored(-(100 * kNano) - 1), -101);
  EXPECT_EQ(AppleSecondsFromStored(-(100 * kNano) - kNano), -101);
  EXPECT_EQ(AppleSecondsFromStored(-(3600 * kNano) - 500'000'000), -3601);
}

TEST(AppleTime, UnsetAndExtremeValues) {
  EXPECT_EQ(AppleSecondsFromStored(0), std::nullopt);
  // Seconds near the epoch on both sides.
  EXPECT_EQ(AppleSecondsFromStored(1), 1);
  EXPECT_EQ(AppleSecondsFromStored(-1), -1);
  // The ends of the stored range read as the nanoseconds they are.
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  EXPECT_EQ(AppleSecondsFromStored(kMax), kMax / kNano);
  EXPECT_EQ(AppleSecondsFromStored(kMin), kMin / kNano - 1);
}

}  // namespace
}  // namespace vantrel
