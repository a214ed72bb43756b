#include "platform/Version.h"

// Written into the build folder by cmake/VersionHeader.cmake on every build, so
// the commit is never that of an older build; only this file recompiles.
#include "VantrelVersion.h"

namespace vantrel {

const char* VersionNumber() {
  return VANTREL_VERSION;
}

const char* VersionCommit() {
  return VANTREL_COMMIT;
}

std::string VersionLine(const std::string& program) {
  std::string line = program + " " + VersionNumber();
  if (*VersionCommit() != '\0') line += std::string(" (commit ") + VersionCommit() + ")";
  return line;
}

}  // namespace vantrel
