#include "platform/Version.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>

using namespace vantrel;

namespace {

// The first line a shell command prints, or nullopt when it fails.
std::optional<std::string> FirstLine(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  char buffer[256] = {};
  const bool read = std::fgets(buffer, sizeof buffer, pipe) != nullptr;
  const int status = pclose(pipe);
  if (!read || status != 0) return std::nullopt;
  std::string line = buffer;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

}  // namespace

// The number a user sees is the one project() sets in CMakeLists.txt (the
// package is named after it), and the commit is the checkout's current one,
// not that of an earlier build: the header is remade at every build.
TEST(Version, NumberAndCommitAreThoseOfTheSourceTree) {
  std::ifstream cmake(std::string(VANTREL_SOURCE_DIR) + "/CMakeLists.txt");
  std::stringstream text;
  text << cmake.rdbuf();
  std::smatch match;
  const std::string source = text.str();
  ASSERT_TRUE(
      std::regex_search(source, match, std::regex(R"(project\(vantrel VERSION ([0-9.]+))")));
  EXPECT_EQ(VersionNumber(), match[1].str());

  const auto head = FirstLine("git -C '" + std::string(VANTREL_SOURCE_DIR) +
                              "' rev-parse --short=7 HEAD 2>/dev/null");
  if (!head) {
    EXPECT_STREQ(VersionCommit(), "");
    EXPECT_EQ(VersionLine("vantrel-cli"), std::string("vantrel-cli ") + VersionNumber());
    return;
  }
  const std::string commit = VersionCommit();
  EXPECT_TRUE(commit == *head || commit == *head + "-modified") << commit << " vs " << *head;
  EXPECT_EQ(VersionLine("vantrel-cli"),
            std::string("vantrel-cli ") + VersionNumber() + " (commit " + commit + ")");
}
