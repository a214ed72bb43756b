// When the process starts itself again for a heap in large pages: only when
// the system gives them, never twice, and never over the user's own choice.
#include "platform/LargePages.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(LargePages, TheTunableIsAddedOnceAndTheUsersChoiceStands) {
  EXPECT_EQ(TunablesForLargePages(nullptr, true), "glibc.malloc.hugetlb=1");
  EXPECT_EQ(TunablesForLargePages("", true), "glibc.malloc.hugetlb=1");
  // Other tunables are kept, in front.
  EXPECT_EQ(TunablesForLargePages("glibc.malloc.check=3", true),
            "glibc.malloc.check=3:glibc.malloc.hugetlb=1");
  // Started again already (or the user's own setting, whichever value): no restart.
  EXPECT_EQ(TunablesForLargePages("glibc.malloc.hugetlb=1", true), std::nullopt);
  EXPECT_EQ(TunablesForLargePages("glibc.malloc.hugetlb=0", true), std::nullopt);
  EXPECT_EQ(TunablesForLargePages("glibc.malloc.check=3:glibc.malloc.hugetlb=0", true),
            std::nullopt);
  // A system without large pages: nothing to gain.
  EXPECT_EQ(TunablesForLargePages(nullptr, false), std::nullopt);
  EXPECT_EQ(TunablesForLargePages("glibc.malloc.check=3", false), std::nullopt);
}

}  // namespace
}  // namespace vantrel
