#include "platform/Version.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

using namespace vantrel;

// The number a user sees is the one project() sets in CMakeLists.txt, which
// the package is also named after. The commit is only linked into the two
// programs (tests/cli checks it through vantrel-cli); here it is absent.
TEST(Version, NumberIsProjectsAndNoCommitOutsideThePrograms) {
  std::ifstream cmake(std::string(VANTREL_SOURCE_DIR) + "/CMakeLists.txt");
  std::stringstream text;
  text << cmake.rdbuf();
  std::smatch match;
  const std::string source = text.str();
  ASSERT_TRUE(
      std::regex_search(source, match, std::regex(R"(project\(vantrel VERSION ([0-9.]+))")));
  EXPECT_EQ(VersionNumber(), match[1].str());
  EXPECT_STREQ(VersionCommit(), "");
  EXPECT_EQ(VersionLine("vantrel-cli"), std::string("vantrel-cli ") + VersionNumber());
}
