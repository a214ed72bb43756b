#include "platform/Version.h"

#include "VantrelVersion.h"

namespace vantrel {

// The programs link a BuildCommit() written at every build from the checkout
// (the vantrel_build_commit object); whatever else links this library, the
// test executables among them, gets this empty one, so a new commit relinks
// two programs rather than the whole suite.
const char* BuildCommit();
[[gnu::weak]] const char* BuildCommit() {
  return "";
}

const char* VersionNumber() {
  return VANTREL_VERSION;
}

const char* VersionCommit() {
  return BuildCommit();
}

std::string VersionLine(const std::string& program) {
  std::string line = program + " " + VersionNumber();
  if (*VersionCommit() != '\0') line += std::string(" (commit ") + VersionCommit() + ")";
  return line;
}

}  // namespace vantrel
